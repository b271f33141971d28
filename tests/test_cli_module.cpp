// What the command reports about the module (about, info, params), the demo, and the
// progress bar's presence on a terminal.
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

TEST(CliModuleReports, AboutPrintsTheModulesText) {
  RunResult r = run_cli({"about"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // "%s, v%d.%d%d\r%s" with the maker, version 1.00 and the closing word; the carriage
  // return is shown as a line break.
  EXPECT_EQ(r.out, "Orvaneworks, v1.00\nImagination!\n");
}

TEST(CliModuleReports, InfoShowsThePiplAndThatSetupAgrees) {
  RunResult r = run_cli({"info", "--plugin", VEILMORA_MODULE_PATH});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* expected :
       {"name  \"Veilmora\"", "catg  \"Orvane\"", "eMNA  \"Veilmora by Dunsmoor\"",
        "8664  \"EntryPointFunc\"", "kind  eFKT", "eVER  525825 (0x00080601): version 1.0.0",
        "eGLO  0x06000440", "eGL2  0x00001400", "ePVR  2.0", "eSVR  13.0",
        "version and flags: match"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << "missing \"" << expected << "\" in\n"
                                                       << r.out;
  }
  EXPECT_EQ(r.out.find("DIFFERS"), std::string::npos);
}

// One version number, the project's (CMake passes it to this test): the command's --version,
// and the module's version word, laid out as the host reads it: build in bits 0-8, stage in
// 9-10, bug fix in 11-14, minor in 15-18, the major's low three bits in 19-21 and its higher
// bits in 26-29; released (stage 3), build 1.
TEST(CliModuleReports, VersionIsTheProjectsEverywhere) {
  const std::string version = VEILMORA_PROJECT_VERSION;
  RunResult r = run_cli({"--version"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "veilmora " + version + "\n");

  int major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &patch), 3) << version;
  const uint32_t word = ((major & 7u) << 19) | (((major >> 3) & 15u) << 26) |
                        ((minor & 15u) << 15) | ((patch & 15u) << 11) | (3u << 9) | 1u;
  r = run_cli({"info", "--plugin", VEILMORA_MODULE_PATH});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string expected =
      "eVER  " + std::to_string(word) + " (0x" + [word] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", word);
        return std::string(hex);
      }() + "): version " + version;
  EXPECT_NE(r.out.find(expected), std::string::npos) << "missing \"" << expected << "\" in\n"
                                                     << r.out;
}

TEST(CliModuleReports, ParamsListsTheElevenDeclaredParameters) {
  RunResult r = run_cli({"params"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // index -> the words its row must hold: name, type, range and default.
  const std::map<int, std::vector<std::string>> expected = {
      {1, {"Radius", "float slider", "0.00 to 300.00 (slider 0.00 to 100.00)", "0.00"}},
      {2, {"Weight", "float slider", "0.00 to 10.00", "2.00"}},
      {3, {"Specular Brightness", "float slider", "1.00 to 1.50", "1.00"}},
      {4, {"Specular Threshold", "integer slider", "0 to 255", "255"}},
      {5, {"Iris", "group start"}},
      {6, {"Shape", "popup", "Circle|Polygon|Layer", "1 (Circle)"}},
      {7, {"Edges", "integer slider", "3 to 16", "8"}},
      {8, {"Phase", "angle", "0.00 deg"}},
      {9, {"Iris Layer", "layer", "none"}},
      {10, {"(no name)", "group end"}},
      {11, {"Outside", "popup", "Mirror|Edge", "1 (Mirror)"}},
  };
  std::map<int, std::string> rows;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, std::regex(R"(([0-9]+)  +(.*))"))) rows[std::stoi(m[1])] = m[2];
  }
  ASSERT_EQ(rows.size(), 11u) << r.out;
  for (const auto& [index, words] : expected) {
    for (const std::string& w : words) {
      EXPECT_NE(rows[index].find(w), std::string::npos)
          << "parameter " << index << " row lacks \"" << w << "\": " << rows[index];
    }
  }
  EXPECT_NE(r.out.find("host's array holds 12"), std::string::npos) << r.out;
}

TEST(CliDemo, WritesTheSceneAndThreeRendersAndSaysWhere) {
  ScratchDir dir;
  const std::string target = dir / "pictures";  // created by the command
  RunResult r = run_cli({"demo", target});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage scene = read_image(target + "/scene.png");
  EXPECT_EQ(scene.width, 640);
  EXPECT_EQ(scene.height, 360);
  EXPECT_EQ(scene.channels, 4);
  // The alpha edge: opaque on the left, transparent at the right border.
  EXPECT_EQ(scene.at(10, 180, 3), 1.0f);
  EXPECT_EQ(scene.at(639, 180, 3), 0.0f);
  for (const char* name : {"circle.png", "hexagon.png", "layer.png"}) {
    EXPECT_NE(r.out.find(target + "/" + name), std::string::npos) << r.out;
    const TestImage render = read_image(target + "/" + name);
    EXPECT_EQ(render.width, 640);
    EXPECT_GT(max_difference(render, scene, 255.0), 50.0) << name << " looks unblurred";
  }
  // Three different irises give three different pictures.
  EXPECT_NE(read_file(target + "/circle.png"), read_file(target + "/hexagon.png"));
  EXPECT_NE(read_file(target + "/circle.png"), read_file(target + "/layer.png"));
  EXPECT_TRUE(fs::exists(target + "/iris-star.png"));
}

TEST(CliProgress, BarOnlyOnATerminalAndNeverWithQuiet) {
  const std::string script = "/usr/bin/script";
  if (!fs::exists(script)) GTEST_SKIP() << "no script(1) to give the command a terminal";
  ScratchDir dir;
  write_image(dir / "in.png", make_image(600, 600, 4, OIIO::TypeDesc::UINT8,
                                         [](int x, int y, int c) { return noise(x, y, c); }));
  auto command = [&](const std::string& extra) {
    return std::string(VEILMORA_CLI_PATH) + " render " + (dir / "in.png") + " " +
           (dir / "out.png") + " --radius 20 " + extra;
  };
  // script(1) runs the command on a pseudo-terminal and copies what it printed.
  RunResult tty = run_program(script, {"-qec", command(""), "/dev/null"});
  ASSERT_EQ(tty.exit_code, 0) << tty.out << tty.err;
  EXPECT_NE(tty.out.find("veilmora ["), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("100%"), std::string::npos) << tty.out;

  RunResult quiet = run_program(script, {"-qec", command("--quiet"), "/dev/null"});
  ASSERT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.out.find("veilmora ["), std::string::npos) << quiet.out;

  // Not a terminal: nothing on stderr.
  RunResult piped = run_cli({"render", dir / "in.png", dir / "out.png", "--radius", "20"});
  ASSERT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
}  // namespace cli_test
