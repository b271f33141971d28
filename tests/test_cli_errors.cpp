// Bad usage and bad input: each case ends with the documented exit code and a message naming
// the problem, and leaves no output file and no temporary file behind; an existing output
// file is left exactly as it was.
#include <sys/stat.h>

#include <cstdint>
#include <sstream>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

const char* const kExisting = "previous output, must survive";

struct BadCase {
  std::string name;
  std::vector<std::string> args;  // {in} and {out} stand for the input and output paths
  int exit_code;
  std::vector<std::string> message_parts;
};

class CliBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    good = dir / "good.png";
    write_image(good, make_image(40, 30, 4, OIIO::TypeDesc::UINT8,
                                 [](int x, int y, int c) { return noise(x, y, c); }));
    fs::create_directories(dir.path / "out");
    output = (dir.path / "out" / "result.png").string();
  }

  // Runs the case twice: once with no output file (none may appear) and once over an existing
  // output (it must keep its bytes). The output folder must hold nothing else afterwards.
  void expect_refused(const BadCase& c) {
    SCOPED_TRACE(c.name);
    for (bool existing : {false, true}) {
      fs::remove(output);
      if (existing) write_file(output, kExisting);
      std::vector<std::string> args;
      for (const std::string& a : c.args) {
        args.push_back(a == "{in}" ? good : a == "{out}" ? output : a);
      }
      RunResult r = run_cli(args);
      EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
      // Every line of stderr is the command's own.
      std::istringstream lines(r.err);
      std::string line;
      int line_count = 0;
      while (std::getline(lines, line)) {
        ++line_count;
        EXPECT_EQ(line.rfind("veilmora: ", 0), 0u) << r.err;
      }
      EXPECT_GE(line_count, 1);
      for (const std::string& part : c.message_parts) {
        EXPECT_NE(r.err.find(part), std::string::npos)
            << "missing \"" << part << "\" in: " << r.err;
      }
      std::vector<std::string> left;
      for (const auto& e : fs::directory_iterator(dir.path / "out")) {
        left.push_back(e.path().filename().string());
      }
      if (existing) {
        EXPECT_EQ(left, std::vector<std::string>{"result.png"});
        EXPECT_EQ(read_file(output), kExisting);
      } else {
        EXPECT_TRUE(left.empty()) << left.front();
      }
    }
  }

  ScratchDir dir;
  std::string good, output;
};

TEST_F(CliBadInput, OutOfRangeValuesNameTheParameterAndItsRange) {
  const std::vector<BadCase> cases = {
      {"radius above",
       {"render", "{in}", "{out}", "--radius", "300.5"},
       2,
       {"\"Radius\"", "0 to 300"}},
      {"radius below",
       {"render", "{in}", "{out}", "--radius", "-1"},
       2,
       {"\"Radius\"", "0 to 300"}},
      {"radius nan", {"render", "{in}", "{out}", "--radius", "nan"}, 2, {"\"Radius\""}},
      {"weight", {"render", "{in}", "{out}", "--weight", "10.01"}, 2, {"\"Weight\"", "0 to 10"}},
      {"brightness",
       {"render", "{in}", "{out}", "--specular-brightness", "0.9"},
       2,
       {"\"Specular Brightness\"", "1 to 1.5"}},
      {"threshold",
       {"render", "{in}", "{out}", "--specular-threshold", "256"},
       2,
       {"\"Specular Threshold\"", "0 to 255"}},
      {"threshold fraction",
       {"render", "{in}", "{out}", "--specular-threshold", "12.5"},
       2,
       {"\"Specular Threshold\"", "whole number"}},
      {"edges low", {"render", "{in}", "{out}", "--edges", "2"}, 2, {"\"Edges\"", "3 to 16"}},
      {"edges high", {"render", "{in}", "{out}", "--edges", "17"}, 2, {"\"Edges\"", "3 to 16"}},
      {"phase overflow",
       {"render", "{in}", "{out}", "--phase", "32768"},
       2,
       {"\"Phase\"", "16.16"}},
      {"phase text", {"render", "{in}", "{out}", "--phase", "north"}, 2, {"\"Phase\""}},
      {"shape",
       {"render", "{in}", "{out}", "--shape", "square"},
       2,
       {"\"Shape\"", "circle, polygon or layer"}},
      {"outside",
       {"render", "{in}", "{out}", "--outside", "wrap"},
       2,
       {"\"Outside\"", "mirror or edge"}},
      {"downsample zero den",
       {"render", "{in}", "{out}", "--downsample", "1/0"},
       2,
       {"--downsample", "DEN > 0"}},
      {"downsample form", {"render", "{in}", "{out}", "--downsample", "0.5"}, 2, {"NUM/DEN"}},
      {"downsample too far",
       {"render", "{in}", "{out}", "--radius", "200", "--downsample", "2/1"},
       2,
       {"effective radius", "300"}},
      {"depth", {"render", "{in}", "{out}", "--depth", "12"}, 2, {"--depth", "8, 16 or float"}},
      {"jobs", {"render", "{in}", "{out}", "--jobs", "0"}, 2, {"--jobs"}},
      {"frames order", {"render", "{in}", "{out}", "--frames", "5-2"}, 2, {"--frames"}},
      {"unknown option", {"render", "{in}", "{out}", "--blur", "3"}, 2, {"--blur"}},
      {"missing output", {"render", "{in}"}, 2, {"OUTPUT"}},
  };
  for (const BadCase& c : cases) expect_refused(c);
}

// good.png is 40 x 30.
TEST_F(CliBadInput, RegionAndHostProblems) {
  const std::vector<BadCase> cases = {
      {"region outside",
       {"render", "{in}", "{out}", "--radius", "3", "--region", "30,20,11,5"},
       2,
       {"--region 30,20,11,5", "inside the 40 x 30 picture"}},
      {"region below",
       {"render", "{in}", "{out}", "--radius", "3", "--region", "0,25,10,6"},
       2,
       {"--region", "inside the 40 x 30 picture"}},
      {"region zero width",
       {"render", "{in}", "{out}", "--region", "0,0,0,5"},
       2,
       {"--region 0,0,0,5", "at least 1 pixel"}},
      {"region zero height",
       {"render", "{in}", "{out}", "--region", "3,3,5,0"},
       2,
       {"--region", "at least 1 pixel"}},
      {"region negative",
       {"render", "{in}", "{out}", "--region", "-1,0,5,5"},
       2,
       {"--region", "must not be negative"}},
      {"region three numbers",
       {"render", "{in}", "{out}", "--region", "1,2,3"},
       2,
       {"--region 1,2,3", "X,Y,W,H"}},
      {"region five numbers",
       {"render", "{in}", "{out}", "--region", "1,2,3,4,5"},
       2,
       {"--region", "X,Y,W,H"}},
      {"region words", {"render", "{in}", "{out}", "--region", "a,b,c,d"}, 2, {"--region", "X,Y,W,H"}},
      {"region fraction",
       {"render", "{in}", "{out}", "--region", "1.5,2,3,4"},
       2,
       {"--region", "X,Y,W,H"}},
      {"region overflow",
       {"render", "{in}", "{out}", "--region", "2147483000,0,1000,1"},
       2,
       {"--region", "beyond any picture"}},
      {"host", {"render", "{in}", "{out}", "--host", "resolve"}, 2, {"--host resolve", "premiere"}},
      {"region under premiere",
       {"render", "{in}", "{out}", "--host", "premiere", "--region", "1,1,5,5"},
       2,
       {"--region", "--host premiere", "whole frames"}},
      {"float under premiere",
       {"render", "{in}", "{out}", "--host", "premiere", "--depth", "float"},
       2,
       {"--host premiere", "8-bit and 16-bit"}},
  };
  for (const BadCase& c : cases) expect_refused(c);
  // A float picture under Premiere Pro is refused once it is read.
  const std::string exr = dir / "float.exr";
  write_image(exr, make_image(8, 6, 4, OIIO::TypeDesc::FLOAT,
                              [](int x, int y, int c) { return noise(x, y, c); }));
  const RunResult r = run_cli({"render", exr, dir / "float-out.exr", "--host", "premiere"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--host premiere"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--depth 8 or 16"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "float-out.exr"));
}

TEST_F(CliBadInput, BadInputFilesNameTheFileAndTheReason) {
  const std::string missing = dir / "missing.png";
  const std::string empty = dir / "empty.png";
  write_file(empty, "");
  const std::string text = dir / "notes.png";
  write_file(text, "these are not pixels\n");
  const std::string truncated = dir / "truncated.png";
  write_image(truncated, make_image(200, 150, 4, OIIO::TypeDesc::UINT8,
                                    [](int x, int y, int c) { return noise(x, y, c); }));
  const std::string whole = read_file(truncated);
  write_file(truncated, whole.substr(0, whole.size() / 2));
  const std::string huge = dir / "huge.png";
  write_file(huge, png_claiming(100000, 100000));
  const std::string folder = dir / "a_folder.png";
  fs::create_directories(folder);

  const std::vector<BadCase> cases = {
      {"missing", {"render", missing, "{out}"}, 2, {missing, "no such file"}},
      {"zero bytes", {"render", empty, "{out}"}, 2, {empty, "empty (0 bytes)"}},
      {"not an image", {"render", text, "{out}"}, 2, {text, "not an image file"}},
      {"truncated", {"render", truncated, "{out}", "--radius", "3"}, 2, {truncated, "cannot read"}},
      {"too large", {"render", huge, "{out}"}, 2, {huge, "100000 x 100000", "memory"}},
      {"folder", {"render", folder, "{out}"}, 2, {folder, "folder"}},
      {"pattern without --frames", {"render", dir / "seq.%04d.png", "{out}"}, 2, {"--frames"}},
  };
  for (const BadCase& c : cases) expect_refused(c);
}

TEST_F(CliBadInput, IrisLayerProblems) {
  const std::string not_image = dir / "iris.png";
  write_file(not_image, "GIF89a but not really");
  const std::vector<BadCase> cases = {
      {"layer without iris",
       {"render", "{in}", "{out}", "--shape", "layer", "--radius", "5"},
       2,
       {"--iris-layer"}},
      {"iris missing",
       {"render", "{in}", "{out}", "--shape", "layer", "--iris-layer", dir / "nope.png"},
       2,
       {"iris layer", "nope.png", "no such file"}},
      {"iris not an image",
       {"render", "{in}", "{out}", "--shape", "layer", "--iris-layer", not_image},
       2,
       {"iris layer", not_image, "not an image file"}},
  };
  for (const BadCase& c : cases) expect_refused(c);
}

TEST_F(CliBadInput, SequencePatternsNeedAFrameField) {
  const std::vector<BadCase> cases = {
      {"input without field",
       {"render", "{in}", dir / "out/f.####.png", "--frames", "1-2"},
       2,
       {"frame field", "INPUT"}},
      {"output without field",
       {"render", dir / "f.%04d.png", "{out}", "--frames", "1-2"},
       2,
       {"frame field", "OUTPUT"}},
      {"two fields",
       {"render", dir / "f.%04d.##.png", "{out}", "--frames", "1-2"},
       2,
       {"more than one frame field"}},
      {"missing frame",
       {"render", dir / "seq.%04d.png", dir / "out/r.%04d.png", "--frames", "1-2"},
       2,
       {"seq.0001.png", "no such file"}},
  };
  for (const BadCase& c : cases) expect_refused(c);
}

TEST_F(CliBadInput, OutputProblems) {
  const std::vector<BadCase> cases = {
      {"folder missing",
       {"render", "{in}", dir / "nowhere/out.png"},
       2,
       {"nowhere", "does not exist"}},
      {"unknown extension", {"render", "{in}", dir / "out/result.xyz"}, 2, {"extension", ".xyz"}},
      {"output is a folder", {"render", "{in}", dir / "out"}, 2, {"folder"}},
  };
  for (const BadCase& c : cases) expect_refused(c);

  // A folder that refuses new files. Permission bits do not stop root, so as root use a
  // kernel file system that refuses creation.
  std::string locked_out;
  if (::geteuid() == 0) {
    locked_out = "/sys/veilmora-test-output.png";
  } else {
    fs::create_directories(dir.path / "locked");
    fs::permissions(dir.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    locked_out = dir / "locked/out.png";
  }
  RunResult r = run_cli({"render", good, locked_out});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(locked_out), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(locked_out));
}

TEST_F(CliBadInput, ModuleFailureReportsTheCodeAndMessageAndKeepsTheOutput) {
  // The host fails the render's first allocation (after the frame's pre-render record): the
  // module answers PF_Err_INTERNAL_STRUCT_DAMAGED with "Memory Error!".
  expect_refused(
      {"render allocation fails",
       {"render", "{in}", "{out}", "--radius", "5", "--inject-failure", "host_new_handle:2"},
       1,
       {"PF_Err 512", "Memory Error!"}});
}

TEST_F(CliBadInput, MissingOrBrokenModule) {
  const std::string not_module = dir / "fake.so";
  write_file(not_module, "not a shared object");
  expect_refused({"missing module",
                  {"render", "{in}", "{out}", "--plugin", dir / "none.so"},
                  2,
                  {"none.so", "no such file"}});
  expect_refused({"broken module",
                  {"render", "{in}", "{out}", "--plugin", not_module},
                  1,
                  {"cannot load the module", "fake.so"}});
}

}  // namespace
}  // namespace cli_test
