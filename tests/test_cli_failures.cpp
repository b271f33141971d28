// Failures in the middle of a sequence, through the built command: a file-size limit or a full
// disk while a frame is written (exit 1, a message naming the file and the reason, no partial
// file, earlier frames kept, an existing output of the failing frame intact), and a SIGKILL
// mid-sequence (no partial frame under an output name; --skip-existing completes the sequence
// to what an uninterrupted render gives).
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

const char* const kExisting = "an earlier output of this frame";

std::string frame_name(const std::string& prefix, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.png", prefix.c_str(), frame);
  return name;
}

// Three frames: a flat one whose PNG is a few hundred bytes, then one of noise whose PNG is
// about 370 KB, then a flat one again.
void write_small_large_small(const ScratchDir& dir) {
  for (int f = 1; f <= 3; ++f) {
    const bool large = f == 2;
    write_image(dir / frame_name("in", f),
                make_image(large ? 480 : 64, large ? 360 : 48, 4, OIIO::TypeDesc::UINT8,
                           [large, f](int x, int y, int c) {
                             return large ? noise(x, y, c, 5) : 0.25f * f + 0.05f * c;
                           }));
  }
}

std::vector<std::string> sequence_args(const ScratchDir& dir, const std::string& out_folder,
                                       int last, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"render",
                                   dir / "in.####.png",
                                   dir / (out_folder + "/out.####.png"),
                                   "--frames",
                                   "1-" + std::to_string(last),
                                   "--radius",
                                   "3",
                                   "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string shell_words(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) line += " '" + w + "'";
  return line;
}

// After a failed frame 2: frame 1 is the full run's, frame 2's earlier output is intact,
// frame 3 was never started, and nothing else (no temporary file) is in the folder.
void expect_stopped_at_frame_2(const RunResult& r, const ScratchDir& dir, const fs::path& out,
                               const std::string& reason) {
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const std::string failing = (out / frame_name("out", 2)).string();
  EXPECT_NE(r.err.find(failing), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  EXPECT_EQ(r.err.rfind("veilmora: ", 0), 0u) << r.err;
  EXPECT_EQ(read_file(out / frame_name("out", 1)),
            read_file(dir.path / "full" / frame_name("out", 1)));
  EXPECT_EQ(read_file(failing), kExisting);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{frame_name("out", 1), frame_name("out", 2)}));
}

class CliWriteFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    write_small_large_small(dir);
    fs::create_directories(dir.path / "full");
    RunResult r = run_cli(sequence_args(dir, "full", 3));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_GT(fs::file_size(dir.path / "full" / frame_name("out", 2)), 300u * 1024);
    ASSERT_LT(fs::file_size(dir.path / "full" / frame_name("out", 1)), 20u * 1024);
  }
  ScratchDir dir;
};

// ulimit -f 100: 100 KiB per file. Frame 1 fits, frame 2 does not.
TEST_F(CliWriteFailure, FileSizeLimit) {
  const fs::path out = dir.path / "limited";
  fs::create_directories(out);
  write_file(out / frame_name("out", 2), kExisting);
  const RunResult r = run_program(
      "/bin/sh", {"-c", "ulimit -f 100 && exec '" + std::string(VEILMORA_CLI_PATH) + "'" +
                            shell_words(sequence_args(dir, "limited", 3, {"--jobs", "1"}))});
  expect_stopped_at_frame_2(r, dir, out, "File too large");
}

// A 256 KiB tmpfs, mounted for the test where the machine allows it, with room for frame 1
// but not frame 2.
TEST_F(CliWriteFailure, FullDisk) {
  const fs::path out = dir.path / "small-disk";
  fs::create_directories(out);
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root; the tests run as a user";
  RunResult mounted = run_program("/bin/mount", {"-t", "tmpfs", "-o", "size=256k,mode=0755",
                                                 "veilmora-test", out.string()});
  if (mounted.exit_code != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (" << mounted.err
                 << "); the file-size limit test covers the same path";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { run_program("/bin/umount", {path}); }
  } unmount{out.string()};
  write_file(out / frame_name("out", 2), kExisting);
  const RunResult r = run_cli(sequence_args(dir, "small-disk", 3, {"--jobs", "1"}));
  expect_stopped_at_frame_2(r, dir, out, "No space left on device");
}

// Waits, polling every 5 ms, at most `seconds`, for `done` to hold.
bool wait_for(double seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

std::vector<std::string> visible_names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CliKilled, NoPartialFrameAndSkipExistingFinishesTheSequence) {
  ScratchDir dir;
  constexpr int kFrames = 12;
  for (int f = 1; f <= kFrames; ++f) {
    write_image(dir / frame_name("in", f),
                make_image(240, 180, 4, OIIO::TypeDesc::UINT16, [f](int x, int y, int c) {
                  return noise(x, y, c, static_cast<uint32_t>(f));
                }));
  }
  auto args = [&](const std::string& folder, std::vector<std::string> extra) {
    std::vector<std::string> a = {"render",   dir / "in.####.png", dir / (folder + "/out.####.png"),
                                  "--frames", "1-" + std::to_string(kFrames),
                                  "--radius", "24", "--quiet", "--jobs", "2"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  fs::create_directories(dir.path / "full");
  fs::create_directories(dir.path / "out");
  ASSERT_EQ(run_cli(args("full", {})).exit_code, 0);

  std::vector<std::string> argv_strings = args("out", {});
  argv_strings.insert(argv_strings.begin(), VEILMORA_CLI_PATH);
  const pid_t pid = ::fork();
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execv(VEILMORA_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  // Killed as soon as the first frame is in place, while the others are being written.
  const bool started = wait_for(120, [&] { return !visible_names(dir.path / "out").empty(); });
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(started) << "no frame appeared within 120 s";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the render ended before it was killed";

  // Every file under an output name is a whole frame, equal to the uninterrupted render's.
  const std::vector<std::string> survived = visible_names(dir.path / "out");
  for (const std::string& name : survived) {
    EXPECT_EQ(read_file(dir.path / "out" / name), read_file(dir.path / "full" / name)) << name;
  }
  std::printf("killed with %zu of %d frames in place\n", survived.size(), kFrames);

  RunResult r = run_cli(args("out", {"--skip-existing"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(visible_names(dir.path / "out"), visible_names(dir.path / "full"));
  for (int f = 1; f <= kFrames; ++f) {
    EXPECT_EQ(read_file(dir.path / "out" / frame_name("out", f)),
              read_file(dir.path / "full" / frame_name("out", f)))
        << "frame " << f;
  }
}

}  // namespace
}  // namespace cli_test
