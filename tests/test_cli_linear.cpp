// --linear through the built command: an sRGB-encoded file rendered with --linear must equal
// the chain a compositor would build by hand: decode the code values to linear light with the
// sRGB formulas, render that float file as it is, encode the result with the inverse formulas
// and quantise. The formulas are written out here, independently of OpenImageIO's.
#include <cmath>

#include "tests/test_cli_support.h"

namespace cli_test {
namespace {

double srgb_to_linear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// A ramp left to right with a dark band and three highlights: small squares of full white on
// black, where a blur in code values and one in light differ most. Alpha falls off toward the
// bottom so a conversion of alpha would show.
TestImage ramp_and_highlights(OIIO::TypeDesc format, double full_scale) {
  return make_image(96, 64, 4, format, [=](int x, int y, int c) {
    if (c == 3) return static_cast<float>(std::round((1.0 - 0.4 * y / 63.0) * full_scale) /
                                          full_scale);
    double v = x / 95.0;
    if (y >= 24 && y < 48) v = 0.02;
    for (int hx : {20, 48, 76}) {
      if (y >= 32 && y < 36 && x >= hx && x < hx + 4) v = 1.0;
    }
    if (c == 1) v *= 0.8;  // not grey, so the channels are told apart
    return static_cast<float>(std::round(v * full_scale) / full_scale);
  });
}

// The same picture as linear float: colour decoded with `decode`, alpha as it is.
TestImage decoded(const TestImage& encoded, double (*decode)(double)) {
  TestImage linear = encoded;
  linear.format = OIIO::TypeDesc::FLOAT;
  for (size_t i = 0; i < linear.samples.size(); ++i) {
    if (i % 4 != 3) linear.samples[i] = static_cast<float>(decode(encoded.samples[i]));
  }
  return linear;
}

// Worst difference, in steps of `full_scale`, between the command's --linear output and the
// hand-built chain's: the float render's colour encoded with `encode` and quantised, its alpha
// quantised as it is.
double worst_against_chain(const TestImage& linear_output, const TestImage& rendered_float,
                           double full_scale, double (*encode)(double)) {
  EXPECT_EQ(linear_output.samples.size(), rendered_float.samples.size());
  double worst = 0;
  for (size_t i = 0; i < std::min(linear_output.samples.size(), rendered_float.samples.size());
       ++i) {
    const double v = rendered_float.samples[i];
    const double expected =
        std::round((i % 4 == 3 ? std::clamp(v, 0.0, 1.0) : encode(v)) * full_scale);
    worst = std::max(worst, std::abs(linear_output.samples[i] * full_scale - expected));
  }
  return worst;
}

const std::vector<std::string> kLook = {"--radius",   "9",    "--weight", "3",
                                        "--shape",    "polygon", "--edges", "6",
                                        "--quiet",    "--jobs", "1"};

std::vector<std::string> render_args(const std::string& in, const std::string& out,
                                     std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"render", in, out};
  args.insert(args.end(), kLook.begin(), kLook.end());
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

void expect_ok(const RunResult& r) { ASSERT_EQ(r.exit_code, 0) << r.err; }

// 8-bit PNG (the file says sRGB) and 16-bit TIFF (no colour metadata: integer files are taken
// as sRGB) through --linear against the decode -> float render -> encode chain.
TEST(CliLinear, SrgbFilesEqualTheDecodeRenderEncodeChain) {
  struct Case {
    const char* name;
    OIIO::TypeDesc format;
    double full_scale;
    double tolerance;  // steps: the colour conversions agree with the formulas to about 1e-6
  };
  for (const Case& c : {Case{"in.png", OIIO::TypeDesc::UINT8, 255, 1},
                        Case{"in.tif", OIIO::TypeDesc::UINT16, 65535, 2}}) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const TestImage scene = ramp_and_highlights(c.format, c.full_scale);
    const std::string in = dir / c.name;
    write_image(in, scene);
    const std::string ext = fs::path(c.name).extension().string();
    const std::string linear_out = dir / ("linear" + ext);
    expect_ok(run_cli(render_args(in, linear_out, {"--linear"})));

    write_image(dir / "decoded.exr", decoded(scene, srgb_to_linear));
    expect_ok(run_cli(render_args(dir / "decoded.exr", dir / "rendered.exr")));

    const TestImage got = read_image(linear_out);
    EXPECT_EQ(got.format, c.format) << "the output keeps the input's depth";
    EXPECT_LE(worst_against_chain(got, read_image(dir / "rendered.exr"), c.full_scale,
                                  linear_to_srgb),
              c.tolerance + 1e-3);
  }
}

// Without --linear the code values are blurred as they are: a float render of the 16-bit file
// equals the render of its code values written as float numbers, and a highlight's halo is
// darker than in linear light.
TEST(CliLinear, WithoutTheOptionCodeValuesAreRenderedAsTheyAre) {
  ScratchDir dir;
  const TestImage scene = ramp_and_highlights(OIIO::TypeDesc::UINT16, 65535);
  write_image(dir / "in.tif", scene);
  expect_ok(run_cli(render_args(dir / "in.tif", dir / "plain.tif")));
  expect_ok(run_cli(render_args(dir / "in.tif", dir / "plain-float.tif", {"--depth", "float"})));
  expect_ok(run_cli(render_args(dir / "in.tif", dir / "linear.tif", {"--linear"})));

  TestImage as_float = scene;
  as_float.format = OIIO::TypeDesc::FLOAT;
  write_image(dir / "codes.exr", as_float);
  expect_ok(run_cli(render_args(dir / "codes.exr", dir / "codes-rendered.exr")));
  EXPECT_LE(max_difference(read_image(dir / "plain-float.tif"), read_image(dir / "codes-rendered.exr"),
                           1),
            1e-6);

  // Beside the middle highlight (x 48..51, y 32..35) on the dark band: light spread from a
  // white square encodes brighter than spread code values.
  const TestImage plain = read_image(dir / "plain.tif");
  const TestImage linear = read_image(dir / "linear.tif");
  for (int x : {44, 55}) {
    EXPECT_GT(linear.at(x, 33, 0), plain.at(x, 33, 0) + 0.05) << "x " << x;
  }
}

// Linear files are left alone: an OpenEXR file renders exactly as without --linear; and
// --colorspace names the space of a file that does not say it (pure gamma 2.2 here).
TEST(CliLinear, LinearFilesUnchangedAndNamedSpacesHonoured) {
  ScratchDir dir;
  const TestImage scene = ramp_and_highlights(OIIO::TypeDesc::UINT16, 65535);
  TestImage linear_scene = decoded(scene, srgb_to_linear);
  write_image(dir / "linear.exr", linear_scene);
  expect_ok(run_cli(render_args(dir / "linear.exr", dir / "with.exr", {"--linear"})));
  expect_ok(run_cli(render_args(dir / "linear.exr", dir / "without.exr")));
  EXPECT_EQ(max_difference(read_image(dir / "with.exr"), read_image(dir / "without.exr"), 1), 0);

  write_image(dir / "gamma.tif", scene);
  expect_ok(
      run_cli(render_args(dir / "gamma.tif", dir / "gamma-out.tif",
                          {"--linear", "--colorspace", "Gamma2.2"})));
  auto gamma_decode = [](double v) { return std::pow(v, 2.2); };
  auto gamma_encode = [](double v) { return std::pow(std::clamp(v, 0.0, 1.0), 1.0 / 2.2); };
  write_image(dir / "gamma-decoded.exr", decoded(scene, +gamma_decode));
  expect_ok(run_cli(render_args(dir / "gamma-decoded.exr", dir / "gamma-rendered.exr")));
  EXPECT_LE(worst_against_chain(read_image(dir / "gamma-out.tif"),
                                read_image(dir / "gamma-rendered.exr"), 65535, +gamma_encode),
            2.0);

  // --depth sets the output's depth; the values are still encoded back to sRGB.
  write_image(dir / "in8.png", ramp_and_highlights(OIIO::TypeDesc::UINT8, 255));
  expect_ok(run_cli(render_args(dir / "in8.png", dir / "deep.png", {"--linear", "--depth", "16"})));
  expect_ok(run_cli(render_args(dir / "in8.png", dir / "shallow.png", {"--linear"})));
  const TestImage deep = read_image(dir / "deep.png");
  EXPECT_EQ(deep.format, OIIO::TypeDesc::UINT16);
  EXPECT_LE(max_difference(deep, read_image(dir / "shallow.png"), 255), 0.51);
}

TEST(CliLinear, UnknownSpacesAndImpossibleCombinationsAreRefused) {
  ScratchDir dir;
  write_image(dir / "in.png", ramp_and_highlights(OIIO::TypeDesc::UINT8, 255));
  RunResult r = run_cli(render_args(dir / "in.png", dir / "out.png",
                                    {"--linear", "--colorspace", "NoSuchSpace"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--colorspace NoSuchSpace"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not known"), std::string::npos) << r.err;

  r = run_cli(render_args(dir / "in.png", dir / "out.png", {"--colorspace", "sRGB"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--linear"), std::string::npos) << r.err;

  // Premiere Pro hands effects no float pictures, and linear light renders in float.
  r = run_cli(render_args(dir / "in.png", dir / "out.png", {"--linear", "--host", "premiere"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--linear renders in float"), std::string::npos) << r.err;
  EXPECT_EQ(dir.names(), std::vector<std::string>{"in.png"});
}

}  // namespace
}  // namespace cli_test
