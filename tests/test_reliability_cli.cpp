// Reliability of the veilmora command over long runs and hostile files, through the built
// binary: its peak resident memory does not grow with the number of frames it renders, and
// files that cannot be read or written end in a clear refusal with nothing written.
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_cli_support.h"

extern char** environ;

namespace cli_test {
namespace {

const char* const kExisting = "previous output, must survive";

// A run of the command with its peak resident set size (from the kernel's accounting of the
// finished child, in KiB).
struct MeasuredRun {
  RunResult result;
  long peak_rss_kib = 0;
};

// Runs the command as run_cli does, but waits with wait4 to learn its peak resident memory.
// A sanitized build keeps freed blocks in a quarantine, which would count as growth; the
// child is told to keep none.
MeasuredRun run_measured(const std::vector<std::string>& args) {
  ScratchDir capture;
  const std::string out_path = capture / "stdout", err_path = capture / "stderr";
  std::vector<std::string> env_strings;
  std::string asan = "ASAN_OPTIONS=quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
      asan = entry + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
    } else {
      env_strings.push_back(entry);
    }
  }
  env_strings.push_back(asan);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null_in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(null_in, 0);
    std::vector<std::string> argv_strings{VEILMORA_CLI_PATH};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    ::execve(VEILMORA_CLI_PATH, argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  MeasuredRun run;
  run.result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.result.out = read_file(out_path);
  run.result.err = read_file(err_path);
  run.peak_rss_kib = usage.ru_maxrss;
  return run;
}

TEST(CliLongRun, PeakMemoryDoesNotGrowWithTheNumberOfFrames) {
  // Every frame takes and gives back its images and the module's working planes (3 MiB and
  // more at this size); a frame that kept any of them would add it to the peak 55 times over.
  ScratchDir dir;
  const int frames = 60;
  for (int f = 1; f <= frames; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "in.%04d.png", f);
    write_image(dir / name, make_image(200, 150, 4, OIIO::TypeDesc::UINT8,
                                       [f](int x, int y, int c) { return noise(x, y, c, f); }));
  }
  fs::create_directories(dir.path / "out");
  auto run_frames = [&](int last) {
    return run_measured({"render", dir / "in.%04d.png", dir / "out/o.%04d.png", "--frames",
                         "1-" + std::to_string(last), "--radius", "6", "--weight", "4", "--jobs",
                         "1", "--quiet"});
  };
  const MeasuredRun few = run_frames(5);
  ASSERT_EQ(few.result.exit_code, 0) << few.result.err;
  const MeasuredRun many = run_frames(frames);
  ASSERT_EQ(many.result.exit_code, 0) << many.result.err;
  ASSERT_TRUE(fs::exists(dir.path / "out/o.0060.png"));
  ASSERT_GT(few.peak_rss_kib, 0);
  // One 8-bit frame is 117 KiB, its working planes over 3 MiB: a leak of either per frame
  // would pass this margin within the 55 extra frames.
  EXPECT_LE(many.peak_rss_kib, few.peak_rss_kib + 4096)
      << "peak RSS " << few.peak_rss_kib << " KiB after 5 frames, " << many.peak_rss_kib
      << " KiB after " << frames;
}

class CliHostileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir / "in.png";
    write_image(input, make_image(40, 30, 4, OIIO::TypeDesc::UINT8,
                                  [](int x, int y, int c) { return noise(x, y, c); }));
    output = dir / "out.png";
    write_file(output, kExisting);
  }

  // The command must refuse with exit code 2 and a message holding `parts`, leave the
  // existing output as it was, and leave no other file in the folder.
  void expect_refused(const std::vector<std::string>& args, const std::vector<std::string>& parts) {
    const std::vector<std::string> before = dir.names();
    const RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_EQ(r.err.rfind("veilmora: ", 0), 0u) << r.err;
    for (const std::string& part : parts) {
      EXPECT_NE(r.err.find(part), std::string::npos) << "missing \"" << part << "\" in " << r.err;
    }
    EXPECT_EQ(read_file(output), kExisting);
    EXPECT_EQ(dir.names(), before);
  }

  ScratchDir dir;
  std::string input, output;
};

TEST_F(CliHostileFiles, OutputPathsThatCannotBeWritten) {
  // A regular file where a folder should be; /proc, which no one (root included) can create
  // files in.
  const std::string plain = dir / "plain.txt";
  write_file(plain, "a file, not a folder");
  expect_refused({"render", input, plain + "/out.png", "--radius", "3", "--quiet"},
                 {plain + "/out.png", "not a folder"});
  EXPECT_EQ(read_file(plain), "a file, not a folder");

  expect_refused({"render", input, "/proc/veilmora-test-out.png", "--radius", "3", "--quiet"},
                 {"/proc/veilmora-test-out.png"});
  EXPECT_FALSE(fs::exists("/proc/veilmora-test-out.png"));
}

TEST_F(CliHostileFiles, BrokenIrisLayerFiles) {
  const std::string empty = dir / "empty.png";
  write_file(empty, "");
  const std::string truncated = dir / "truncated.png";
  write_image(truncated, make_image(120, 90, 4, OIIO::TypeDesc::UINT8,
                                    [](int x, int y, int c) { return noise(x, y, c, 3); }));
  const std::string whole = read_file(truncated);
  write_file(truncated, whole.substr(0, whole.size() / 3));
  const std::string huge = dir / "huge.png";
  write_file(huge, png_claiming(100000, 100000));

  auto iris = [&](const std::string& layer) {
    return std::vector<std::string>{"render",  input,   output,         "--radius", "5",
                                    "--shape", "layer", "--iris-layer", layer,      "--quiet"};
  };
  expect_refused(iris(empty), {"iris layer", empty, "empty"});
  expect_refused(iris(truncated), {"iris layer", truncated});
  expect_refused(iris(huge), {"iris layer", huge, "100000 x 100000", "memory"});
}

}  // namespace
}  // namespace cli_test
