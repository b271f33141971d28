// Rendering a sequence in parts: --chunk K/N picks the K-th of N consecutive parts of
// --frames, --skip-existing leaves finished frames alone, and scripts/slurm-render spreads the
// parts over a Slurm cluster: here a one-node cluster started on this machine for the test.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

std::string frame_name(const std::string& prefix, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.png", prefix.c_str(), frame);
  return name;
}

// Frames `first`..`last` of a small sequence, each picture different.
void write_sequence(const ScratchDir& dir, int first, int last) {
  for (int f = first; f <= last; ++f) {
    write_image(dir / frame_name("in", f),
                make_image(48, 32, 4, OIIO::TypeDesc::UINT8, [f](int x, int y, int c) {
                  return noise(x, y, c, static_cast<uint32_t>(f) + 7);
                }));
  }
}

std::vector<std::string> render_sequence(const ScratchDir& dir, const std::string& out_folder,
                                         const std::string& frames,
                                         std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"render",   dir / "in.####.png", dir / (out_folder + "/out.####.png"),
                                    "--frames", frames,  "--radius", "4", "--quiet", "--jobs", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// The frame numbers of the outputs in `folder`, hidden (temporary) files reported as -1.
std::vector<int> frames_in(const fs::path& folder) {
  std::vector<int> frames;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    int frame = -1;
    if (name[0] != '.') std::sscanf(name.c_str(), "out.%d.png", &frame);
    frames.push_back(frame);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

std::vector<int> range(int first, int last) {
  std::vector<int> frames;
  for (int f = first; f <= last; ++f) frames.push_back(f);
  return frames;
}

// Ten frames in three parts: 4, 3 and 3 frames (the longer parts first), each run renders
// exactly its own, and together they equal one uninterrupted render byte for byte.
TEST(CliChunks, PartsCoverTheRangeOnceAndEqualALocalRender) {
  ScratchDir dir;
  write_sequence(dir, 1, 10);
  fs::create_directories(dir.path / "local");
  fs::create_directories(dir.path / "parts");
  RunResult r = run_cli(render_sequence(dir, "local", "1-10"));
  ASSERT_EQ(r.exit_code, 0) << r.err;

  const std::map<int, std::vector<int>> expected = {{1, range(1, 4)}, {2, range(5, 7)},
                                                    {3, range(8, 10)}};
  std::vector<int> so_far;
  for (int k : {2, 1, 3}) {
    SCOPED_TRACE("chunk " + std::to_string(k));
    fs::path only = dir.path / ("only" + std::to_string(k));
    fs::create_directories(only);
    r = run_cli(render_sequence(dir, only.filename().string(), "1-10",
                                {"--chunk", std::to_string(k) + "/3"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(frames_in(only), expected.at(k));
    r = run_cli(render_sequence(dir, "parts", "1-10", {"--chunk", std::to_string(k) + "/3"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_EQ(frames_in(dir.path / "parts"), range(1, 10));
  for (int f = 1; f <= 10; ++f) {
    EXPECT_EQ(read_file(dir.path / "parts" / frame_name("out", f)),
              read_file(dir.path / "local" / frame_name("out", f)))
        << "frame " << f;
  }

  // More parts than frames: the parts beyond the range hold nothing and succeed.
  fs::create_directories(dir.path / "few");
  for (int k = 1; k <= 5; ++k) {
    r = run_cli(render_sequence(dir, "few", "4-6", {"--chunk", std::to_string(k) + "/5"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(frames_in(dir.path / "few"), range(4, std::min(3 + k, 6))) << "after chunk " << k;
  }
}

TEST(CliChunks, BadChunksAreRefused) {
  ScratchDir dir;
  write_sequence(dir, 1, 2);
  fs::create_directories(dir.path / "out");
  for (const char* bad : {"0/4", "5/4", "1/0", "2", "a/b", "1/4x", "-1/4", "1/100001"}) {
    RunResult r = run_cli(render_sequence(dir, "out", "1-2", {"--chunk", bad}));
    EXPECT_EQ(r.exit_code, 2) << bad;
    EXPECT_NE(r.err.find(std::string("--chunk ") + bad), std::string::npos) << r.err;
  }
  RunResult r = run_cli({"render", dir / frame_name("in", 1), dir / "out/one.png", "--chunk", "1/2"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("needs --frames"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir.path / "out"));
}

// An existing output is a finished frame: its bytes (not even an image here) and its file
// stay, and its input need not exist; the missing frames are rendered as a full run would.
TEST(CliChunks, SkipExistingRendersOnlyTheMissingFrames) {
  ScratchDir dir;
  write_sequence(dir, 1, 6);
  fs::create_directories(dir.path / "full");
  fs::create_directories(dir.path / "out");
  ASSERT_EQ(run_cli(render_sequence(dir, "full", "1-6")).exit_code, 0);
  const std::string kept = dir / ("out/" + frame_name("out", 3));
  write_file(kept, "finished elsewhere");
  struct stat before {};
  ASSERT_EQ(::stat(kept.c_str(), &before), 0);
  fs::remove(dir / frame_name("in", 3));

  RunResult r = run_cli(render_sequence(dir, "out", "1-6", {"--skip-existing"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(kept), "finished elsewhere");
  struct stat after {};
  ASSERT_EQ(::stat(kept.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  for (int f : {1, 2, 4, 5, 6}) {
    EXPECT_EQ(read_file(dir.path / "out" / frame_name("out", f)),
              read_file(dir.path / "full" / frame_name("out", f)))
        << "frame " << f;
  }
  // Without the option the missing input is an error, found before anything is written.
  r = run_cli(render_sequence(dir, "out", "1-6"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(frame_name("in", 3)), std::string::npos) << r.err;
  EXPECT_EQ(read_file(kept), "finished elsewhere");
}

// ---------------------------------------------------------------------------------------
// A one-node Slurm cluster: munged, slurmctld and slurmd on localhost, configured and kept
// entirely in a scratch folder, on ports free at the time, stopped at the end of the test.
// ---------------------------------------------------------------------------------------

bool found_on_path(const std::string& program) {
  return run_program("/bin/sh", {"-c", "command -v " + program}).exit_code == 0;
}

int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  int port = -1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(s);
  return port;
}

// Waits, polling every 200 ms, at most `seconds`, for `done` to hold.
bool wait_for(double seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return done();
}

class SlurmCluster {
 public:
  // Empty when the cluster runs; otherwise why it cannot.
  std::string start() {
    for (const char* program : {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "sinfo"}) {
      if (!found_on_path(program)) {
        return std::string(program) + " is not installed (scripts/setup installs munge and slurm-wlm)";
      }
    }
    if (::geteuid() != 0) return "slurmd must run as root to start jobs; the tests run as a user";
    const fs::path d = dir.path;
    for (const char* sub : {"munge", "state", "spool", "log"}) fs::create_directories(d / sub);
    {
      std::ifstream random("/dev/urandom", std::ios::binary);
      std::string key(1024, '\0');
      random.read(key.data(), static_cast<std::streamsize>(key.size()));
      write_file(d / "munge/munge.key", key);
    }
    fs::permissions(d / "munge/munge.key", fs::perms::owner_read, fs::perm_options::replace);
    fs::permissions(d / "munge", fs::perms::owner_all, fs::perm_options::replace);
    munge_socket = (d / "munge/socket").string();
    RunResult r = run_program("/usr/sbin/munged",
                              {"--force", "--socket=" + munge_socket,
                               "--key-file=" + (d / "munge/munge.key").string(),
                               "--log-file=" + (d / "log/munged.log").string(),
                               "--pid-file=" + (d / "munge/munged.pid").string(),
                               "--seed-file=" + (d / "munge/seed").string()});
    if (r.exit_code != 0) return "munged did not start: " + r.err + log_tail("munged.log");
    pid_files.push_back(d / "munge/munged.pid");

    const int controller_port = free_port(), node_port = free_port();
    conf = (d / "slurm.conf").string();
    const std::string cpus = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
    write_file(conf,
               "ClusterName=veilmoratest\n"
               "SlurmctldHost=localhost(127.0.0.1)\n"
               "SlurmctldPort=" + std::to_string(controller_port) + "\n" +
               "SlurmdPort=" + std::to_string(node_port) + "\n" +
               "SlurmUser=root\nSlurmdUser=root\n"
               "AuthType=auth/munge\nCredType=cred/munge\n"
               "AuthInfo=socket=" + munge_socket + "\n" +
               "StateSaveLocation=" + (d / "state").string() + "\n" +
               "SlurmdSpoolDir=" + (d / "spool").string() + "\n" +
               "SlurmctldPidFile=" + (d / "slurmctld.pid").string() + "\n" +
               "SlurmdPidFile=" + (d / "slurmd.pid").string() + "\n" +
               "SlurmctldLogFile=" + (d / "log/slurmctld.log").string() + "\n" +
               "SlurmdLogFile=" + (d / "log/slurmd.log").string() + "\n" +
               "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
               "JobAcctGatherType=jobacct_gather/none\n"
               "AccountingStorageType=accounting_storage/none\n"
               "SchedulerType=sched/builtin\nSelectType=select/cons_tres\n"
               "SelectTypeParameters=CR_CPU\nMpiDefault=none\nReturnToService=2\n"
               "SlurmdParameters=config_overrides\n"
               "NodeName=veilmoranode NodeHostname=localhost NodeAddr=127.0.0.1 CPUs=" + cpus +
               " RealMemory=1000 State=UNKNOWN\n"
               "PartitionName=render Nodes=veilmoranode Default=YES MaxTime=10 State=UP\n");
    ::setenv("SLURM_CONF", conf.c_str(), 1);

    r = run_program("/usr/sbin/slurmctld", {"-i", "-f", conf});
    if (r.exit_code != 0) return "slurmctld did not start: " + r.err + log_tail("slurmctld.log");
    pid_files.push_back(d / "slurmctld.pid");
    r = run_program("/usr/sbin/slurmd", {"-N", "veilmoranode", "-f", conf});
    if (r.exit_code != 0) return "slurmd did not start: " + r.err + log_tail("slurmd.log");
    pid_files.push_back(d / "slurmd.pid");

    const bool idle = wait_for(60, [] {
      RunResult s = run_program("/usr/bin/sinfo", {"-h", "-o", "%T"});
      return s.exit_code == 0 && s.out.rfind("idle", 0) == 0;
    });
    if (!idle) {
      return "the node did not become idle within 60 s" + log_tail("slurmctld.log") +
             log_tail("slurmd.log");
    }
    return "";
  }

  // Stops the daemons, newest first: SIGTERM, up to 20 s for each to end, then SIGKILL.
  ~SlurmCluster() {
    for (auto it = pid_files.rbegin(); it != pid_files.rend(); ++it) {
      const pid_t pid = static_cast<pid_t>(std::atol(read_file(*it).c_str()));
      if (pid <= 1) continue;
      ::kill(pid, SIGTERM);
      if (!wait_for(20, [pid] { return ::kill(pid, 0) != 0; })) ::kill(pid, SIGKILL);
    }
    ::unsetenv("SLURM_CONF");
  }

  std::string log_tail(const std::string& name) const {
    const std::string log = read_file(dir.path / "log" / name);
    return "\n--- " + name + ":\n" + log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  }

  ScratchDir dir;
  std::string conf, munge_socket;
  std::vector<fs::path> pid_files;
};

const std::string kSlurmRender = std::string(VEILMORA_SOURCE_DIR) + "/scripts/slurm-render";

std::vector<std::string> farm_args(const ScratchDir& dir, const std::vector<std::string>& script,
                                   const std::vector<std::string>& render) {
  std::vector<std::string> args = {"300", kSlurmRender, "--veilmora", VEILMORA_CLI_PATH,
                                   "--log-dir", dir / "logs", "--sbatch", "--time=5"};
  args.insert(args.end(), script.begin(), script.end());
  args.push_back("--");
  args.insert(args.end(), render.begin(), render.end());
  return args;
}

TEST(CliSlurm, ArrayJobEqualsALocalRenderAndAResubmissionRendersOnlyMissingFrames) {
  SlurmCluster cluster;
  const std::string why_not = cluster.start();
  if (!why_not.empty()) GTEST_SKIP() << "no Slurm cluster on this machine: " << why_not;

  ScratchDir dir;
  write_sequence(dir, 1, 12);
  fs::create_directories(dir.path / "local");
  fs::create_directories(dir.path / "farm");
  ASSERT_EQ(run_cli(render_sequence(dir, "local", "1-12")).exit_code, 0);
  std::vector<std::string> render = render_sequence(dir, "farm", "1-12", {"--skip-existing"});
  render.erase(render.begin());  // the script adds "render"

  RunResult r = run_program("/usr/bin/timeout", farm_args(dir, {"--chunks", "4", "--wait"}, render));
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err << cluster.log_tail("slurmctld.log");
  const std::string job = r.out.substr(0, r.out.find('\n'));
  ASSERT_FALSE(job.empty());
  EXPECT_EQ(frames_in(dir.path / "farm"), range(1, 12));
  for (int f = 1; f <= 12; ++f) {
    EXPECT_EQ(read_file(dir.path / "farm" / frame_name("out", f)),
              read_file(dir.path / "local" / frame_name("out", f)))
        << "frame " << f;
  }
  for (int task = 1; task <= 4; ++task) {
    const fs::path log = dir.path / "logs" / ("veilmora-" + job + "_" + std::to_string(task) + ".log");
    EXPECT_NE(read_file(log).find("task " + std::to_string(task) + "/4"), std::string::npos)
        << log;
  }

  // Resubmitted without waiting after two frames were lost: the script returns the job id,
  // and only those two frames are written again; the others keep their files.
  std::map<int, ino_t> inodes;
  for (int f = 1; f <= 12; ++f) {
    struct stat st {};
    ::stat((dir.path / "farm" / frame_name("out", f)).c_str(), &st);
    inodes[f] = st.st_ino;
  }
  // Moved aside rather than deleted: a deleted file's inode number may be handed to the
  // file written in its place, which would make a fresh frame look untouched.
  fs::create_directories(dir.path / "lost");
  for (int f : {5, 11}) {
    fs::rename(dir.path / "farm" / frame_name("out", f), dir.path / "lost" / frame_name("out", f));
  }
  r = run_program("/usr/bin/timeout", farm_args(dir, {"--chunks", "4"}, render));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string second = r.out.substr(0, r.out.find('\n'));
  ASSERT_FALSE(second.empty());
  ASSERT_TRUE(second.find_first_not_of("0123456789") == std::string::npos) << r.out;
  const bool finished = wait_for(240, [&] {
    RunResult q = run_program("/usr/bin/squeue", {"-h", "-j", second});
    // Nothing listed: ended (a job purged from the controller's memory is an error, also ended).
    return q.out.find_first_not_of(" \n") == std::string::npos;
  });
  ASSERT_TRUE(finished) << "job " << second << " still queued after 240 s";
  EXPECT_EQ(frames_in(dir.path / "farm"), range(1, 12));
  for (int f = 1; f <= 12; ++f) {
    const fs::path out = dir.path / "farm" / frame_name("out", f);
    EXPECT_EQ(read_file(out), read_file(dir.path / "local" / frame_name("out", f))) << f;
    struct stat st {};
    ::stat(out.c_str(), &st);
    if (f == 5 || f == 11) {
      EXPECT_NE(st.st_ino, inodes[f]) << "frame " << f << " was rendered again";
    } else {
      EXPECT_EQ(st.st_ino, inodes[f]) << "frame " << f << " was left alone";
    }
  }
}

TEST(CliSlurm, ScriptRefusesWhatTheTasksCannotRun) {
  ScratchDir dir;
  auto script = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {kSlurmRender, "--veilmora", VEILMORA_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return run_program("/bin/bash", all);
  };
  RunResult r = script({"--chunks", "0", "--", "a.####.png", "b.####.png", "--frames", "1-4"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--chunks"), std::string::npos) << r.err;
  r = script({"--chunks", "2", "--", "a.png", "b.png"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--frames"), std::string::npos) << r.err;
  r = script({"--chunks", "2", "--", "a.####.png", "b.####.png", "--frames", "1-4", "--chunk",
              "1/2"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--chunks N instead"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace cli_test
