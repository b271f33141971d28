// Temporary-file-and-rename output, with a signal-safe registry of the temporary files that
// are being written so an interrupted command removes them too.
#include "cli/safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/cli_error.h"

namespace fs = std::filesystem;

namespace {

// Fixed slots rather than a container: the signal handler may only read plain memory and call
// unlink(). A slot is owned by whoever moved its state from 0 (free) to 1 (filling); state 2
// means the name is complete and the handler may remove the file.
constexpr int kTempSlots = 64;
constexpr size_t kTempPathMax = 4096;
struct TempSlot {
  std::atomic<int> state{0};
  char path[kTempPathMax];
};
std::array<TempSlot, kTempSlots> temp_slots;

int register_temp(const std::string& path) {
  if (path.size() >= kTempPathMax) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    int expected = 0;
    if (temp_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(temp_slots[i].path, path.c_str(), path.size() + 1);
      temp_slots[i].state.store(2);
      return i;
    }
  }
  return -1;  // more writers than slots: the file is still removed on ordinary failures
}

void unregister_temp(int slot) {
  if (slot >= 0) temp_slots[slot].state.store(0);
}

extern "C" void remove_temps_and_die(int sig) {
  for (TempSlot& slot : temp_slots) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string folder_of(const std::string& path) {
  fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string errno_text(int err) { return std::strerror(err); }

// mkstemp in the target folder; the name starts with a dot and the target's name so a stray
// file (after a power cut, say) is recognisable, and ends in the target's extension.
std::string make_temp_file(const std::string& path, int& fd_out) {
  fs::path target(path);
  std::string folder = folder_of(path);
  std::string templ = folder + "/." + target.filename().string() + ".veilmora-XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  int fd = ::mkstemp(buffer.data());
  if (fd < 0) {
    int err = errno;
    const std::string message =
        path + ": cannot write to the output folder " + folder + ": " + errno_text(err);
    // A full disk is a failure of the work, not of the path the user gave.
    if (err == ENOSPC || err == EDQUOT) throw write_failure(message);
    throw bad_input(message);
  }
  fd_out = fd;
  return std::string(buffer.data());
}

}  // namespace

void check_output_folder(const std::string& path) {
  std::string folder = folder_of(path);
  std::error_code ec;
  fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) {
    throw bad_input(path + ": the output folder " + folder + " does not exist");
  }
  if (!fs::is_directory(status)) {
    throw bad_input(path + ": " + folder + " is not a folder");
  }
  if (fs::is_directory(fs::status(path, ec))) {
    throw bad_input(path + ": the output path is a folder, not a file");
  }
  int fd = -1;
  std::string probe = make_temp_file(path, fd);
  ::close(fd);
  ::unlink(probe.c_str());
}

void replace_file_atomically(const std::string& path_given,
                             const std::function<void(const std::string& temp_path)>& write) {
  // Renaming over a symbolic link would replace the link; replace the file it points to.
  std::string path = path_given;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    fs::path target = fs::canonical(path, ec);
    if (!ec) path = target.string();
  }
  int fd = -1;
  std::string temp = make_temp_file(path, fd);
  int slot = register_temp(temp);
  // The writer opens the file by name; ours is reopened afterwards so the flush and the mode
  // reach the file as the writer left it even if the writer replaced it.
  ::close(fd);
  fd = -1;
  auto discard = [&] {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    unregister_temp(slot);
  };
  try {
    write(temp);
    fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      throw bad_input(path + ": the finished output vanished: " + errno_text(err));
    }

    // mkstemp made the file 0600; give it the mode a plain create would, or keep the mode of
    // the file being replaced.
    mode_t mode = 0;
    struct stat old_stat;
    if (::stat(path.c_str(), &old_stat) == 0) {
      mode = old_stat.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
      int err = errno;
      throw write_failure(path + ": cannot finish writing the output: " + errno_text(err));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
      int err = errno;
      throw write_failure(path + ": cannot move the finished output into place: " +
                          errno_text(err));
    }
    ::close(fd);
    fd = -1;
    unregister_temp(slot);
  } catch (...) {
    discard();
    throw;
  }
}

void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  replace_file_atomically(path, [&](const std::string& temp_path) {
    int fd = ::open(temp_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      throw write_failure("output " + path + ": cannot write the file: " + errno_text(err));
    }
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // A short write is followed by one that says why (EFBIG, ENOSPC).
        const int err = n < 0 ? errno : ENOSPC;
        ::close(fd);
        throw write_failure("output " + path + ": cannot write the file (" +
                            std::to_string(done) + " of " + std::to_string(bytes.size()) +
                            " bytes written): " + errno_text(err));
      }
      done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
      int err = errno;
      throw write_failure("output " + path + ": cannot write the file: " + errno_text(err));
    }
  });
}

void install_temp_file_cleanup() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temps_and_die);
  // A write past the file-size limit (ulimit -f) would kill the process with SIGXFSZ and
  // leave the temporary file; ignored, the write fails with EFBIG and is reported like a
  // full disk.
  std::signal(SIGXFSZ, SIG_IGN);
}
