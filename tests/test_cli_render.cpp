// The veilmora command renders real files: a radius-0 render gives back the input in every
// format and depth, a blur spreads a point into a disc of the requested radius, sequences
// render the same whatever the number of jobs, and unusual but valid images render.
#include <cmath>
#include <regex>
#include <set>
#include <sstream>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

struct RoundTripCase {
  const char* name;
  const char* extension;
  int channels;
  OIIO::TypeDesc format;
  double tolerance;  // in file steps
};

// The radius-0 render is the host's plain copy, so what changes is only the conversion to
// the host's pixels and back: nothing for 8-bit and float, at most one file step for 16-bit
// (0..65535 is scaled to 0..32768 and back, rounding each way).
const RoundTripCase kRoundTrips[] = {
    {"png8_rgba", ".png", 4, OIIO::TypeDesc::UINT8, 0},
    {"png8_grey", ".png", 1, OIIO::TypeDesc::UINT8, 0},
    {"png16_rgba", ".png", 4, OIIO::TypeDesc::UINT16, 1},
    {"tiff16_rgb", ".tif", 3, OIIO::TypeDesc::UINT16, 1},
    {"tiff8_grey_alpha", ".tif", 2, OIIO::TypeDesc::UINT8, 0},
    {"exr_half_rgba", ".exr", 4, OIIO::TypeDesc::HALF, 0},
    {"exr_float_rgba", ".exr", 4, OIIO::TypeDesc::FLOAT, 0},
    {"exr_float_rgb", ".exr", 3, OIIO::TypeDesc::FLOAT, 0},
};

// Names the case in test listings.
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class CliRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CliRoundTrip, RadiusZeroGivesBackTheInput) {
  const RoundTripCase& c = GetParam();
  ScratchDir dir;
  const std::string in_path = dir / (std::string("in") + c.extension);
  const std::string out_path = dir / (std::string("out") + c.extension);
  const bool is_float = c.format == OIIO::TypeDesc::HALF || c.format == OIIO::TypeDesc::FLOAT;
  // Random values everywhere, alpha included (translucent pixels with bright colour catch any
  // premultiplication), plus the extremes of the range; float files also get values above 1.
  TestImage in = make_image(37, 23, c.channels, c.format, [&](int x, int y, int ch) {
    if (x == 0) return y % 2 == 0 ? 0.0f : 1.0f;
    float v = noise(x, y, ch);
    return is_float ? v * 3.0f - 0.5f * (ch == 0) : v;
  });
  if (is_float && c.channels == 4) in.at(5, 5, 3) = 0.25f;  // alpha stays as stored
  write_image(in_path, in);
  const TestImage reread_in = read_image(in_path);  // what the file holds after quantising

  RunResult r = run_cli({"render", in_path, out_path, "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const TestImage out = read_image(out_path);
  EXPECT_EQ(out.width, in.width);
  EXPECT_EQ(out.height, in.height);
  EXPECT_EQ(out.channels, in.channels);
  EXPECT_EQ(out.format, in.format);
  const double scale = c.format == OIIO::TypeDesc::UINT8    ? 255.0
                       : c.format == OIIO::TypeDesc::UINT16 ? 65535.0
                                                            : 1.0;
  // (The float view of 16-bit samples adds a little rounding of its own.)
  EXPECT_LE(max_difference(out, reread_in, scale), c.tolerance + 0.01);
  // Full scale and zero survive the 16-bit scaling exactly.
  for (int y = 0; y < in.height; ++y) {
    EXPECT_EQ(out.at(0, y, 0), reread_in.at(0, y, 0)) << "row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, CliRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliRoundTripJpeg, DecodedPixelsPassThroughAndReencodeClosely) {
  ScratchDir dir;
  // Smooth content, as photographs are, so re-encoding loses little.
  write_image(dir / "in.jpg", make_image(64, 48, 3, OIIO::TypeDesc::UINT8, [](int x, int y, int c) {
                return 0.2f + 0.6f * (0.5f + 0.5f * std::sin(x * 0.1f + y * 0.07f + c));
              }));
  const TestImage decoded = read_image(dir / "in.jpg");

  // To a lossless format the decoded pixels pass through exactly.
  RunResult r = run_cli({"render", dir / "in.jpg", dir / "out.png", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage png = read_image(dir / "out.png");
  EXPECT_EQ(png.channels, 3);
  EXPECT_EQ(max_difference(png, decoded, 255.0), 0.0);

  // Back to JPEG they are compressed once more: close, not equal.
  r = run_cli({"render", dir / "in.jpg", dir / "out.jpg", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage jpeg = read_image(dir / "out.jpg");
  EXPECT_EQ(jpeg.width, 64);
  EXPECT_EQ(jpeg.height, 48);
  EXPECT_EQ(jpeg.channels, 3);
  EXPECT_LE(max_difference(jpeg, decoded, 255.0), 6.0);
}

TEST(CliRoundTripDepth, AskedDepthIsRenderedAndWritten) {
  ScratchDir dir;
  write_image(dir / "in.png", make_image(16, 8, 4, OIIO::TypeDesc::UINT8, [](int x, int y, int c) {
                return static_cast<float>((x * 16 + y * 3 + c * 50) % 256) / 255.0f;
              }));
  const TestImage in = read_image(dir / "in.png");
  RunResult r = run_cli({"render", dir / "in.png", dir / "out16.png", "--depth", "16", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage out16 = read_image(dir / "out16.png");
  EXPECT_EQ(out16.format, OIIO::TypeDesc::UINT16);
  // v/255 lands within one 16-bit step (of 65535) of its exact value.
  EXPECT_LE(max_difference(out16, in, 65535.0), 1.01);

  r = run_cli({"render", dir / "in.png", dir / "out.exr", "--depth", "float", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage out_float = read_image(dir / "out.exr");
  EXPECT_EQ(out_float.format, OIIO::TypeDesc::FLOAT);
  EXPECT_LE(max_difference(out_float, in, 1.0), 1e-7);
}

// The circle kernel's weight at distance d from the centre for radius R: 1 inside R - 1, 0
// beyond R + 1, a straight ramp between.
double circle_weight(double d, double radius) {
  const double f = d - radius + 1.0;
  return f < 0 ? 1.0 : f > 2 ? 0.0 : 1.0 - 0.5 * f;
}

// One bright point on opaque black, no highlight weighting: the output is the kernel scaled by
// the point's value over the kernel's sum, so inside the radius every pixel holds
// value / sum and outside it nothing.
void expect_disc(const TestImage& out, int cx, int cy, double value, double radius) {
  double kernel_sum = 0;
  const int reach = static_cast<int>(radius) + 2;
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx)
      kernel_sum += circle_weight(std::hypot(dx, dy), radius);
  }
  const double inside = value / kernel_sum;
  const int r = static_cast<int>(radius);
  for (auto [dx, dy] : {std::pair{0, 0}, {r - 2, 0}, {0, -(r - 2)}, {-(r - 5), r - 4}}) {
    EXPECT_NEAR(out.at(cx + dx, cy + dy, 0), inside, inside * 1e-4) << dx << "," << dy;
  }
  // On the rim the ramp gives half the weight.
  EXPECT_NEAR(out.at(cx + r, cy, 0), inside * 0.5, inside * 1e-3);
  for (auto [dx, dy] : {std::pair{r + 2, 0}, {0, r + 3}, {-(r + 2), 0}, {r, r}}) {
    EXPECT_NEAR(out.at(cx + dx, cy + dy, 0), 0.0, 1e-4) << dx << "," << dy;
  }
  EXPECT_NEAR(out.at(cx + r + 8, cy, 3), 1.0, 1e-6);  // alpha of an opaque image stays 1
}

TEST(CliBlur, BrightPointSpreadsIntoDiscOfTheRadius) {
  ScratchDir dir;
  const int size = 65, c = 32;
  write_image(dir / "dot.exr",
              make_image(size, size, 4, OIIO::TypeDesc::FLOAT, [&](int x, int y, int ch) {
                if (ch == 3) return 1.0f;
                return x == c && y == c ? 1000.0f : 0.0f;
              }));
  RunResult r = run_cli(
      {"render", dir / "dot.exr", dir / "out.exr", "--radius", "10", "--weight", "0", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  expect_disc(read_image(dir / "out.exr"), c, c, 1000.0, 10.0);

  // The host's downsample ratio scales the radius: 20 at 1/2 is a radius of 10.
  r = run_cli({"render", dir / "dot.exr", dir / "half.exr", "--radius", "20", "--weight", "0",
               "--downsample", "1/2", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  expect_disc(read_image(dir / "half.exr"), c, c, 1000.0, 10.0);
}

TEST(CliBlur, PolygonIrisHasCornersWherePhaseSaysAndSidesInside) {
  ScratchDir dir;
  const int size = 65, c = 32;
  write_image(dir / "dot.exr",
              make_image(size, size, 4, OIIO::TypeDesc::FLOAT, [&](int x, int y, int ch) {
                if (ch == 3) return 1.0f;
                return x == c && y == c ? 1000.0f : 0.0f;
              }));
  // A diamond (4 edges, phase 0): corners on the axes at distance 10, sides through
  // (5, 5). The point (7, 0) is inside, (6, 6) is outside though within the circle.
  RunResult r = run_cli({"render", dir / "dot.exr", dir / "out.exr", "--radius", "10", "--weight",
                         "0", "--shape", "polygon", "--edges", "4", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage out = read_image(dir / "out.exr");
  EXPECT_GT(out.at(c + 7, c, 0), 1.0);
  EXPECT_GT(out.at(c, c - 7, 0), 1.0);
  EXPECT_NEAR(out.at(c + 6, c + 6, 0), 0.0, 1e-4);

  // Turned by 45 degrees the diamond becomes a square with corners on the diagonals.
  r = run_cli({"render", dir / "dot.exr", dir / "turned.exr", "--radius", "10", "--weight", "0",
               "--shape", "polygon", "--edges", "4", "--phase", "45", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage turned = read_image(dir / "turned.exr");
  EXPECT_GT(turned.at(c + 6, c + 6, 0), 1.0);
  EXPECT_NEAR(turned.at(c + 9, c, 0), 0.0, 1e-4);
}

TEST(CliBlur, IrisLayerShapesTheBlur) {
  ScratchDir dir;
  const int size = 65, c = 32;
  write_image(dir / "dot.exr",
              make_image(size, size, 4, OIIO::TypeDesc::FLOAT, [&](int x, int y, int ch) {
                if (ch == 3) return 1.0f;
                return x == c && y == c ? 1000.0f : 0.0f;
              }));
  // A white bar 21 x 3: its long side spans the iris diameter, so a point becomes a
  // horizontal streak 20 pixels long and about 3 high.
  write_image(dir / "bar.png",
              make_image(21, 3, 4, OIIO::TypeDesc::UINT8, [](int, int, int) { return 1.0f; }));
  RunResult r = run_cli({"render", dir / "dot.exr", dir / "out.exr", "--radius", "10", "--weight",
                         "0", "--shape", "layer", "--iris-layer", dir / "bar.png", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const TestImage out = read_image(dir / "out.exr");
  EXPECT_GT(out.at(c + 8, c, 0), 1.0);
  EXPECT_GT(out.at(c - 8, c, 0), 1.0);
  EXPECT_NEAR(out.at(c, c + 5, 0), 0.0, 1e-4);
  EXPECT_NEAR(out.at(c, c - 5, 0), 0.0, 1e-4);
}

TEST(CliBlur, OutsideRuleDecidesWhatLiesBeyondTheBorder) {
  // A bright first column: Edge repeats it for every pixel beyond the left border, Mirror
  // only for the first one beyond (-1 -> 0, -2 -> 1, ...), so at the border Edge gathers
  // far more light.
  ScratchDir dir;
  write_image(dir / "in.exr", make_image(64, 64, 4, OIIO::TypeDesc::FLOAT, [](int x, int, int c) {
                return c == 3 ? 1.0f : x == 0 ? 100.0f : 0.0f;
              }));
  for (const char* rule : {"mirror", "edge"}) {
    RunResult r = run_cli({"render", dir / "in.exr", dir / (std::string(rule) + ".exr"), "--radius",
                           "8", "--weight", "0", "--outside", rule, "--quiet"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  const float mirror = read_image(dir / "mirror.exr").at(0, 32, 0);
  const float edge = read_image(dir / "edge.exr").at(0, 32, 0);
  EXPECT_GT(mirror, 0.0f);
  EXPECT_GT(edge, 3.0f * mirror);
}

TEST(CliSequence, JobsDoNotChangeTheFrames) {
  ScratchDir dir;
  for (int f = 1; f <= 3; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "in.%04d.png", f);
    write_image(dir / name,
                make_image(300, 200, 4, OIIO::TypeDesc::UINT8, [&](int x, int y, int c) {
                  if (c == 3) return 1.0f;
                  return (x + y * f) % 53 == 0 ? 1.0f : 0.1f * noise(x, y, c, f);
                }));
  }
  fs::create_directories(dir.path / "one");
  fs::create_directories(dir.path / "two");
  const std::vector<std::string> common = {"--frames", "1-3",
                                           "--radius", "6",
                                           "--quiet",  "--specular-brightness",
                                           "1.4",      "--specular-threshold",
                                           "200",      "--timing"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    return args;
  };
  RunResult one =
      run_cli(with({"render", dir / "in.%04d.png", dir / "one/out.####.png", "--jobs", "1"}));
  ASSERT_EQ(one.exit_code, 0) << one.err;
  RunResult two =
      run_cli(with({"render", dir / "in.####.png", dir / "two/out.%04d.png", "--jobs", "2"}));
  ASSERT_EQ(two.exit_code, 0) << two.err;

  std::vector<std::string> expected = {"out.0001.png", "out.0002.png", "out.0003.png"};
  std::vector<std::string> names_one, names_two;
  for (const auto& e : fs::directory_iterator(dir.path / "one"))
    names_one.push_back(e.path().filename());
  for (const auto& e : fs::directory_iterator(dir.path / "two"))
    names_two.push_back(e.path().filename());
  std::sort(names_one.begin(), names_one.end());
  std::sort(names_two.begin(), names_two.end());
  EXPECT_EQ(names_one, expected);
  EXPECT_EQ(names_two, expected);
  for (const std::string& name : expected) {
    const std::string a = read_file(dir.path / "one" / name),
                      b = read_file(dir.path / "two" / name);
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << name << " differs between --jobs 1 and --jobs 2";
  }
  // The blur did something.
  EXPECT_GT(max_difference(read_image(dir.path / "one/out.0002.png"),
                           read_image(dir / "in.0002.png"), 255.0),
            10.0);

  // --timing: one line per frame, in the fixed form.
  const std::regex line(R"(frame ([123]): smart render [0-9]+(\.[0-9]+)? ms)");
  for (const RunResult* run : {&one, &two}) {
    std::istringstream lines(run->out);
    std::string text;
    std::set<std::string> frames;
    while (std::getline(lines, text)) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(text, m, line)) << text;
      frames.insert(m[1]);
    }
    EXPECT_EQ(frames, (std::set<std::string>{"1", "2", "3"}));
  }
}

TEST(CliUnusualImages, ExtremeShapesRenderAndKeepAConstantColour) {
  // An opaque constant colour below the highlight threshold comes out unchanged for any
  // kernel and either outside rule: the weighted mean of one colour is that colour.
  ScratchDir dir;
  const float colour[4] = {100 / 255.0f, 150 / 255.0f, 200 / 255.0f, 1.0f};
  struct Shape {
    int w, h;
  };
  for (Shape s : {Shape{1, 1}, Shape{1, 4000}, Shape{4000, 1}, Shape{3, 2}}) {
    SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
    write_image(dir / "in.png", make_image(s.w, s.h, 4, OIIO::TypeDesc::UINT8,
                                           [&](int, int, int c) { return colour[c]; }));
    for (const char* outside : {"mirror", "edge"}) {
      RunResult r = run_cli({"render", dir / "in.png", dir / "out.png", "--radius", "25",
                             "--outside", outside, "--weight", "5", "--quiet"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      const TestImage out = read_image(dir / "out.png");
      ASSERT_EQ(out.width, s.w);
      ASSERT_EQ(out.height, s.h);
      for (size_t i = 0; i < out.samples.size(); ++i) {
        ASSERT_NEAR(out.samples[i] * 255.0, colour[i % 4] * 255.0, 0.5) << "sample " << i;
      }
    }
  }
}

TEST(CliUnusualImages, SamePathAsInputAndOutputIsReadBeforeReplaced) {
  ScratchDir dir;
  const TestImage source = make_image(80, 60, 4, OIIO::TypeDesc::UINT8, [](int x, int y, int c) {
    return c == 3 ? 1.0f : ((x / 7 + y / 5) % 2 ? 0.9f : 0.1f);
  });
  write_image(dir / "a.png", source);
  write_image(dir / "b.png", source);
  RunResult r =
      run_cli({"render", dir / "a.png", dir / "a_blurred.png", "--radius", "4", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = run_cli({"render", dir / "b.png", dir / "b.png", "--radius", "4", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir / "b.png"), read_file(dir / "a_blurred.png"));

  // An output that is a symbolic link: the file it points to is replaced, the link stays.
  write_image(dir / "c.png", source);
  fs::create_symlink("c.png", dir.path / "link.png");
  r = run_cli({"render", dir / "a.png", dir / "link.png", "--radius", "4", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.png"));
  EXPECT_EQ(read_file(dir / "c.png"), read_file(dir / "a_blurred.png"));
  EXPECT_EQ(dir.names(),
            (std::vector<std::string>{"a.png", "a_blurred.png", "b.png", "c.png", "link.png"}));
}

TEST(CliUnusualImages, NonFinitePixelsStayLocal) {
  // A NaN and an infinite pixel may disturb only pixels within the blur's reach; everything
  // farther away renders as without them, and nothing comes out non-finite.
  ScratchDir dir;
  const int size = 96;
  const double radius = 5;
  auto value = [](int x, int y, int c) { return c == 3 ? 1.0f : 0.2f + 0.5f * noise(x, y, c); };
  TestImage clean = make_image(size, size, 4, OIIO::TypeDesc::FLOAT, value);
  TestImage dirty = clean;
  const int nan_x = 20, nan_y = 30, inf_x = 70, inf_y = 60;
  for (int c = 0; c < 4; ++c) {
    dirty.at(nan_x, nan_y, c) = std::nanf("");
    dirty.at(inf_x, inf_y, c) = INFINITY;
  }
  write_image(dir / "clean.exr", clean);
  write_image(dir / "dirty.exr", dirty);
  for (const char* name : {"clean", "dirty"}) {
    RunResult r = run_cli({"render", dir / (std::string(name) + ".exr"),
                           dir / (std::string(name) + "_out.exr"), "--radius", "5", "--quiet"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    if (std::string(name) == "dirty") {
      EXPECT_NE(
          r.err.find("warning: input " + (dir / "dirty.exr") + ": 8 samples are NaN or infinite"),
          std::string::npos)
          << r.err;
    }
  }
  const TestImage a = read_image(dir / "clean_out.exr"), b = read_image(dir / "dirty_out.exr");
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const bool near_bad = std::hypot(x - nan_x, y - nan_y) <= radius + 1 ||
                            std::hypot(x - inf_x, y - inf_y) <= radius + 1;
      for (int c = 0; c < 4; ++c) {
        ASSERT_TRUE(std::isfinite(b.at(x, y, c))) << x << "," << y;
        if (!near_bad) {
          ASSERT_NEAR(b.at(x, y, c), a.at(x, y, c), 1e-6 * std::abs(a.at(x, y, c)) + 1e-7)
              << x << "," << y << " channel " << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace cli_test
