// The command's two ways of reaching the module beyond the default: `--region` renders a
// rectangle of the picture (the output holds just it, and equals that part of the whole
// render), and `--host premiere` renders through Premiere Pro's classic render command (the
// same pixels as the default smart-render host).
#include <regex>
#include <string>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

struct RegionCase {
  const char* name;
  const char* extension;
  OIIO::TypeDesc format;
  double scale;  // file steps per unit sample
};

// The region's tile grid starts elsewhere than the whole frame's, so a sample may round the
// other way: at most one file step (for 16-bit files, the host's 0..32768 step is about two
// file steps, plus the file's own rounding), and rarely; float to rounding.
void expect_region_of_whole(const TestImage& region, const TestImage& whole, int x0, int y0,
                            double scale, double step) {
  ASSERT_EQ(region.channels, whole.channels);
  int64_t differing = 0, samples = 0;
  double worst = 0;
  for (int y = 0; y < region.height; ++y) {
    for (int x = 0; x < region.width; ++x) {
      for (int c = 0; c < region.channels; ++c) {
        const double want = whole.at(x0 + x, y0 + y, c);
        const double d = std::abs(region.at(x, y, c) - want) * scale;
        ++samples;
        if (scale == 1.0) {
          EXPECT_LE(d, 1e-6 * std::max(1.0, std::abs(want))) << x << "," << y << "," << c;
        } else if (d > 0.01) {
          ++differing;
        }
        worst = std::max(worst, d);
      }
    }
  }
  EXPECT_LE(worst, step + 0.01);
  EXPECT_LE(differing * 100, samples) << differing << " of " << samples << " samples differ";
}

TEST(CliRegion, TheOutputIsTheRegionOfTheWholeRender) {
  const RegionCase cases[] = {{"8-bit png", ".png", OIIO::TypeDesc::UINT8, 255.0},
                              {"16-bit png", ".png", OIIO::TypeDesc::UINT16, 65535.0},
                              {"float exr", ".exr", OIIO::TypeDesc::FLOAT, 1.0}};
  for (const RegionCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string in = dir / (std::string("in") + c.extension);
    write_image(in, make_image(64, 48, 4, c.format, [](int x, int y, int ch) {
                  return ch == 3 ? 0.5f + 0.5f * noise(x, y, ch) : noise(x, y, ch, 7);
                }));
    const std::vector<std::string> look = {"--radius", "9",     "--shape",  "polygon",
                                           "--edges",  "5",     "--phase",  "20",
                                           "--weight", "4",     "--quiet"};
    auto render = [&](const std::string& out, const std::vector<std::string>& extra) {
      std::vector<std::string> args = {"render", in, out};
      args.insert(args.end(), look.begin(), look.end());
      args.insert(args.end(), extra.begin(), extra.end());
      const RunResult r = run_cli(args);
      EXPECT_EQ(r.exit_code, 0) << r.err;
      return read_image(out);
    };
    const TestImage whole = render(dir / (std::string("whole") + c.extension), {});
    const double step = c.format == OIIO::TypeDesc::UINT16 ? 3.0 : 1.0;
    struct Region {
      int x, y, w, h;
    };
    // Inside, along the right and bottom edges, and a single pixel at the top-left corner.
    for (const Region& g : {Region{10, 7, 25, 14}, Region{40, 30, 24, 18}, Region{0, 0, 1, 1}}) {
      const std::string region_text = std::to_string(g.x) + "," + std::to_string(g.y) + "," +
                               std::to_string(g.w) + "," + std::to_string(g.h);
      SCOPED_TRACE("--region " + region_text);
      const TestImage region =
          render(dir / (std::string("region") + c.extension), {"--region", region_text});
      ASSERT_EQ(region.width, g.w);
      ASSERT_EQ(region.height, g.h);
      EXPECT_EQ(region.format, c.format);
      expect_region_of_whole(region, whole, g.x, g.y, c.scale, step);
    }
  }
}

// The classic render command gives the smart render's pixels exactly; --timing names it.
TEST(CliHost, PremiereRendersWhatTheSmartRenderHostRenders) {
  for (const OIIO::TypeDesc format : {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16}) {
    SCOPED_TRACE(format.c_str());
    ScratchDir dir;
    const std::string in = dir / "in.png";
    write_image(in, make_image(45, 33, 4, format, [](int x, int y, int ch) {
                  return ch == 3 ? 0.6f + 0.4f * noise(x, y, ch) : noise(x, y, ch, 3);
                }));
    const std::vector<std::string> look = {"--radius",   "7", "--specular-threshold", "180",
                                           "--specular-brightness", "1.3", "--outside", "edge"};
    std::vector<std::string> smart = {"render", in, dir / "smart.png", "--quiet"};
    smart.insert(smart.end(), look.begin(), look.end());
    std::vector<std::string> classic = {"render", in, dir / "classic.png", "--host", "premiere",
                                        "--timing"};
    classic.insert(classic.end(), look.begin(), look.end());
    const RunResult a = run_cli(smart);
    ASSERT_EQ(a.exit_code, 0) << a.err;
    const RunResult b = run_cli(classic);
    ASSERT_EQ(b.exit_code, 0) << b.err;
    EXPECT_TRUE(std::regex_search(b.out + b.err, std::regex("frame 0: render [0-9.]+ ms")))
        << b.out << b.err;
    const TestImage want = read_image(dir / "smart.png");
    const TestImage got = read_image(dir / "classic.png");
    EXPECT_EQ(got.format, format);
    EXPECT_EQ(max_difference(got, want, 1.0), 0.0);
    // And the blur did happen: the output is not the input.
    EXPECT_GT(max_difference(got, read_image(in), 255.0), 1.0);
  }
}

}  // namespace
}  // namespace cli_test
