// Tests of the tile stage: the whole tile walk against a direct spatial convolution written
// from the per-pixel definition (on both builds of the pixel loops, with and without the
// 16-bit colour table), plus worked-out values for the boost, weighting, cap, normalisation
// and progress rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "render/convolve_tiles.h"
#include "render/render_record.h"
#include "render/tile_kernels.h"
#include "render/weight_math.h"
#include "tests/render_test_support.h"
#include "tests/spectrum_column.h"

namespace {

constexpr int32_t kN = 256;

struct Tap {
  int32_t dx, dy;
  double w;
};

const char* path_name(TilePath path) {
  switch (path) {
    case TilePath::avx512:
      return "avx512";
    case TilePath::avx2:
      return "avx2";
    default:
      return "portable";
  }
}

struct Settings {
  double gain = 1.0;         // K
  int32_t threshold = 255;   // T
  double weight_base = 1.0;  // M
  int32_t outside = kOutsideMirror;
  TilePath path = tile_best_path();
  bool colour_table = true;  // hand the tile stage memory for the 16-bit colour table
  int32_t n = kN;            // tile size
  // How far the input reaches beyond the output: left, top, right, bottom.
  int32_t beyond[4] = {0, 0, 0, 0};
};

// Sets up the record and planes as the driver would and runs the tile stage.
template <typename Pixel>
PF_Err run_tiles(TestImage<Pixel>& in, TestImage<Pixel>& out, const Settings& s,
                 const std::vector<Tap>& taps, int32_t p, ProgressLog& log, int32_t& count,
                 PF_Err pending = PF_Err_NONE, TestPlanes* keep = nullptr) {
  RenderRecord rec{};
  rec.width = in.width;
  rec.height = in.height;
  rec.input_stride = in.stride;
  rec.output_stride = out.stride;
  rec.input_slack = in.stride - in.width;
  rec.output_slack = out.stride - out.width;
  attach_images(rec, in, out);
  rec.specular_brightness = s.gain;
  rec.specular_threshold = s.threshold;
  rec.weight_base = s.weight_base;
  rec.outside_mode = s.outside;
  rec.input_beyond_left = s.beyond[0];
  rec.input_beyond_top = s.beyond[1];
  rec.input_beyond_right = s.beyond[2];
  rec.input_beyond_bottom = s.beyond[3];

  TestPlanes local(s.n);
  TestPlanes& planes = keep != nullptr ? *keep : local;
  double sum = 0.0;
  for (const Tap& t : taps) {
    planes.kernel_at(s.n / 2 + t.dx, s.n / 2 + t.dy) += t.w;
    sum += t.w;
  }
  TileHost host{log.ref(), record_progress, nullptr};
  return convolve_tiles_on(s.path, rec, s.n, p, planes.planes(s.colour_table), sum, count, 1000,
                           host, pending);
}

// ----- The per-pixel definition, written plainly -----------------------------------------

int32_t fold(int32_t v, int32_t n, bool mirror) {
  if (!mirror) return std::clamp(v, 0, n - 1);
  // Reflect about -1/2 and n - 1/2 until inside.
  while (v < 0 || v >= n) v = v < 0 ? -v - 1 : 2 * n - 1 - v;
  return v;
}

struct Values {
  double r, g, b, a;
};

Values source_values(const PF_Pixel8& px, const Settings& s) {
  auto colour = [&](int c) {
    const double v = c >= s.threshold ? c * s.gain : c;
    return s.weight_base != 1.0 ? std::pow(s.weight_base, v) : v;
  };
  return {colour(px.red), colour(px.green), colour(px.blue), double(px.alpha)};
}
Values source_values(const PF_Pixel16& px, const Settings& s) {
  auto colour = [&](int c) {
    const double v = c >= 128 * s.threshold ? c * s.gain / 128.0 : c / 128.0;
    return s.weight_base != 1.0 ? std::pow(s.weight_base, v) : v;
  };
  return {colour(px.red), colour(px.green), colour(px.blue), px.alpha / 128.0};
}
Values source_values(const PF_PixelFloat& px, const Settings& s) {
  const bool transparent = px.alpha <= 3e-5;
  const float threshold = static_cast<float>(s.threshold / 255.0);
  const double cap = 0.12890625 / std::log(s.weight_base);
  auto colour = [&](float c) {
    if (transparent) c = 0.0f;
    double v = c >= threshold ? c * s.gain : c;
    if (v > cap) v = cap;
    return s.weight_base != 1.0 ? std::pow(s.weight_base, 255.0 * v) : v;
  };
  return {colour(px.red), colour(px.green), colour(px.blue), transparent ? 0.0 : px.alpha};
}

double alpha_full_scale(const PF_Pixel8&) { return 255.0; }
double alpha_full_scale(const PF_Pixel16&) { return 256.0; }
double alpha_full_scale(const PF_PixelFloat&) { return 1.0; }

uint8_t to_format(double v, const PF_Pixel8&, bool) {
  v = std::clamp(v, 0.0, 255.0);
  return static_cast<uint8_t>(std::floor(v + 0.5));
}
uint16_t to_format(double v, const PF_Pixel16&, bool) {
  v = std::clamp(v * 128.0, 0.0, 32768.0);
  return static_cast<uint16_t>(std::floor(v + 0.5));
}

template <typename Pixel>
Pixel finish(Values sum, double kernel_sum, const Settings& s) {
  if (sum.a <= 3e-5) return Pixel{};
  const double f = sum.a / alpha_full_scale(Pixel{});
  double c[3] = {sum.r / f, sum.g / f, sum.b / f};
  const bool weighted = s.weight_base != 1.0;
  for (double& v : c) {
    if (weighted) v = std::log(v) / std::log(s.weight_base);
  }
  const double a = sum.a / kernel_sum;
  if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
    for (double& v : c) v = std::max(weighted ? v / 255.0 : v, 0.0);
    return {float(std::clamp(a, 0.0, 1.0)), float(c[0]), float(c[1]), float(c[2])};
  } else {
    return {to_format(a, Pixel{}, weighted), to_format(c[0], Pixel{}, weighted),
            to_format(c[1], Pixel{}, weighted), to_format(c[2], Pixel{}, weighted)};
  }
}

// Output pixel (x, y) = sum over taps of w x source(x - dx, y - dy), the outside rule
// applied to the source position, then normalised, un-weighted and converted.
template <typename Pixel>
Pixel direct_pixel(const TestImage<Pixel>& in, int32_t x, int32_t y, const std::vector<Tap>& taps,
                   const Settings& s) {
  const bool mirror = s.outside == kOutsideMirror;
  Values sum{0, 0, 0, 0};
  double kernel_sum = 0.0;
  for (const Tap& t : taps) {
    const Pixel& px = in.at(fold(x - t.dx, in.width, mirror), fold(y - t.dy, in.height, mirror));
    const Values v = source_values(px, s);
    sum.r += t.w * v.r;
    sum.g += t.w * v.g;
    sum.b += t.w * v.b;
    sum.a += t.w * v.a;
    kernel_sum += t.w;
  }
  return finish<Pixel>(sum, kernel_sum, s);
}

// ----- Comparison --------------------------------------------------------------------------

bool close_channel(uint8_t got, uint8_t want) { return std::abs(got - want) <= 1; }
bool close_channel(uint16_t got, uint16_t want) { return std::abs(got - want) <= 1; }
// One single-precision rounding step: the reference rounded to float may land on the
// neighbouring float of the result.
bool close_channel(float got, float want) {
  return std::fabs(got - want) <= std::nextafter(want, INFINITY) - want;
}

template <typename Pixel>
std::string describe(const Pixel& p) {
  // Appended, not `"(" + ...`: GCC 12 at -O3 warns of an overlap (-Wrestrict) there is not.
  std::string text("(");
  text += std::to_string(+p.alpha) + ", " + std::to_string(+p.red) + ", " +
          std::to_string(+p.green) + ", " + std::to_string(+p.blue);
  text += ')';
  return text;
}

template <typename Pixel>
bool close_pixel(const Pixel& got, const Pixel& want) {
  return close_channel(got.alpha, want.alpha) && close_channel(got.red, want.red) &&
         close_channel(got.green, want.green) && close_channel(got.blue, want.blue);
}

// Output pixel (x, y) is the direct convolution at input pixel (x + left, y + top), where
// left and top are how far the input reaches beyond the output (0 for a whole-image walk).
template <typename Pixel>
void expect_matches_direct(const TestImage<Pixel>& in, const TestImage<Pixel>& out,
                           const std::vector<Tap>& taps, const Settings& s) {
  int failures = 0;
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < out.width; ++x) {
      const Pixel want = direct_pixel(in, x + s.beyond[0], y + s.beyond[1], taps, s);
      const Pixel& got = out.at(x, y);
      if (!close_pixel(got, want) && ++failures <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << describe(got) << ", want "
                      << describe(want);
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// ----- Random inputs -----------------------------------------------------------------------

// Random weights in a (2p + 1) square, about half of them zero, never symmetric.
std::vector<Tap> random_taps(int32_t p, std::mt19937& rng) {
  std::uniform_real_distribution<double> w(0.0, 1.0);
  std::vector<Tap> taps;
  for (int32_t dx = -p; dx <= p; ++dx) {
    for (int32_t dy = -p; dy <= p; ++dy) {
      if (w(rng) < 0.5) taps.push_back({dx, dy, w(rng)});
    }
  }
  taps.push_back({p, -p, 0.9});  // a far corner, so a margin error shows
  return taps;
}

void randomise(TestImage<PF_Pixel8>& img, std::mt19937& rng) {
  std::uniform_int_distribution<int> c(0, 255), kind(0, 3);
  for (auto& px : img.pixels) {
    const int k = kind(rng);
    px = {uint8_t(k == 0   ? 0
                  : k == 1 ? 255
                           : c(rng)),
          uint8_t(c(rng)), uint8_t(c(rng)), uint8_t(c(rng))};
  }
}
void randomise(TestImage<PF_Pixel16>& img, std::mt19937& rng) {
  std::uniform_int_distribution<int> c(0, 32768), kind(0, 3);
  for (auto& px : img.pixels) {
    const int k = kind(rng);
    px = {uint16_t(k == 0   ? 0
                   : k == 1 ? 32768
                            : c(rng)),
          uint16_t(c(rng)), uint16_t(c(rng)), uint16_t(c(rng))};
  }
}
void randomise(TestImage<PF_PixelFloat>& img, std::mt19937& rng) {
  std::uniform_real_distribution<float> c(-0.05f, 1.2f), a(0.0f, 1.0f);
  std::uniform_int_distribution<int> kind(0, 4);
  for (auto& px : img.pixels) {
    const int k = kind(rng);
    // Kind 0 is transparent in name only: its colour must be ignored.
    px = {k == 0 ? 1e-5f : k == 1 ? 1.0f : k == 2 ? 0.0f : a(rng), c(rng), c(rng), c(rng)};
  }
}

template <typename Pixel>
Pixel sentinel() {
  Pixel p{};
  p.alpha = p.red = p.green = p.blue = 7;
  return p;
}

template <typename Pixel>
void expect_padding_untouched(const TestImage<Pixel>& out) {
  const Pixel s = sentinel<Pixel>();
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = out.width; x < out.stride; ++x) {
      const Pixel& px = out.at(x, y);
      ASSERT_TRUE(px.alpha == s.alpha && px.red == s.red && px.green == s.green &&
                  px.blue == s.blue)
          << "padding written at (" << x << ", " << y << ")";
    }
  }
}

// ----- Whole-walk comparison with the direct convolution -----------------------------------

struct Geometry {
  int32_t width, height, p;
};

// Awkward sizes: odd, one row of tiles across several tiles, a single pixel, several tiles in
// both directions (tile step 256 - 2p smaller than the image), and a tall narrow strip, whose
// tile is transformed with the axes the other way round from the others' (few plane rows
// written, many plane columns).
const Geometry kGeometries[] = {{37, 23, 5}, {300, 5, 3}, {1, 1, 4}, {270, 250, 9}, {20, 300, 6}};

// format, geometry, outside, M, K, build of the pixel loops (the portable one runs without
// the 16-bit colour table, the vector one with it)
using DirectCase = std::tuple<int, int, int, bool, bool, TilePath>;

template <typename Pixel>
void check_direct(const DirectCase& c) {
  const auto [format, geometry, outside, weighted, boosted, path] = c;
  if (!tile_path_available(path)) GTEST_SKIP() << "this processor cannot run the vector loops";
  const Geometry g = kGeometries[geometry];
  std::mt19937 rng(1000 + 97 * format + 31 * geometry + 7 * outside + 3 * weighted + boosted);
  TestImage<Pixel> in(g.width, g.height, g.width + 3);
  randomise(in, rng);
  TestImage<Pixel> out(g.width, g.height, g.width + 5, sentinel<Pixel>());
  Settings s;
  s.outside = outside;
  s.weight_base = weighted ? 1.05 : 1.0;
  s.gain = boosted ? 1.3 : 1.0;
  s.threshold = boosted ? 128 : 255;
  s.path = path;
  s.colour_table = path != TilePath::portable;
  const std::vector<Tap> taps = random_taps(g.p, rng);
  ProgressLog log;
  int32_t count = 0;
  ASSERT_EQ(run_tiles(in, out, s, taps, g.p, log, count), PF_Err_NONE);
  expect_matches_direct(in, out, taps, s);
  expect_padding_untouched(out);
}

class DirectConvolution : public ::testing::TestWithParam<DirectCase> {};

TEST_P(DirectConvolution, EveryPixelMatchesWithinOneStep) {
  switch (std::get<0>(GetParam())) {
    case kPixelFormat8:
      check_direct<PF_Pixel8>(GetParam());
      break;
    case kPixelFormat16:
      check_direct<PF_Pixel16>(GetParam());
      break;
    default:
      check_direct<PF_PixelFloat>(GetParam());
      break;
  }
}

std::string direct_case_name(const ::testing::TestParamInfo<DirectCase>& info) {
  const auto [format, geometry, outside, weighted, boosted, path] = info.param;
  const Geometry g = kGeometries[geometry];
  const char* names[] = {"u8", "u16", "f32"};
  return std::string(names[format]) + "_" + std::to_string(g.width) + "x" +
         std::to_string(g.height) + (outside == kOutsideMirror ? "_mirror" : "_edge") +
         (weighted ? "_weighted" : "_plain") + (boosted ? "_boosted" : "") + path_name(path);
}

INSTANTIATE_TEST_SUITE_P(
    FormatsSizesRules, DirectConvolution,
    ::testing::Combine(::testing::Values(kPixelFormat8, kPixelFormat16, kPixelFormatFloat),
                       ::testing::Range(0, 5), ::testing::Values(kOutsideMirror, kOutsideEdge),
                       ::testing::Bool(), ::testing::Bool(),
                       ::testing::Values(TilePath::portable, TilePath::avx2, TilePath::avx512)),
    direct_case_name);

// The weighted write-back stores ln(x) / ln M (over 255 in float) on every path as the
// library's logarithm (the portable loops' own) gives it: the vector loops take a faster
// logarithm and leave values near a rounding boundary (of an integer, or of a float) to the
// full one, so the pixels must come out identical, at the smallest Weight (where 1 / ln M
// magnifies a logarithm's error most), at a middle one and at the largest.
template <typename Pixel>
void expect_paths_round_alike(double weight_base, uint32_t seed) {
  constexpr bool kFloat = std::is_same_v<Pixel, PF_PixelFloat>;
  std::mt19937 rng(seed);
  TestImage<Pixel> in(270, 250, 273);
  randomise(in, rng);
  // Opaque, so that the blurred values stay inside the output range even where 1 / ln M is
  // largest (under partial alpha the quotient leaves it and every pixel saturates). Float
  // colour has no upper limit: there transparent and partly covered pixels stay, and with
  // them output pixels with nothing to normalise by.
  if constexpr (!kFloat) {
    for (Pixel& px : in.pixels) px.alpha = std::is_same_v<Pixel, PF_Pixel8> ? 255 : 32768;
  }
  const std::vector<Tap> taps = random_taps(9, rng);
  Settings s;
  s.weight_base = weight_base;
  s.path = TilePath::portable;
  // Float rows a multiple of four pixels long, so that the write-back's blocks line up with
  // cache lines (and are stored past the caches) wherever the block of memory starts them.
  constexpr int32_t kStride = kFloat ? 272 : 270;
  TestImage<Pixel> reference(270, 250, kStride);
  ProgressLog log;
  int32_t count = 0;
  ASSERT_EQ(run_tiles(in, reference, s, taps, 9, log, count), PF_Err_NONE);
  for (TilePath path : {TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    s.path = path;
    TestImage<Pixel> out(270, 250, kStride);
    ASSERT_EQ(run_tiles(in, out, s, taps, 9, log, count), PF_Err_NONE);
    int64_t differing = 0;
    for (size_t k = 0; k < out.pixels.size(); ++k) {
      differing += std::memcmp(&out.pixels[k], &reference.pixels[k], sizeof(Pixel)) != 0;
    }
    EXPECT_EQ(differing, 0) << "M " << weight_base << path_name(path);
    // The comparison means something only if the pixels are not all at the ends.
    int64_t inside = 0;
    for (const Pixel& px : out.pixels) inside += px.green > 0 && (kFloat || px.green < px.alpha);
    EXPECT_GT(inside, static_cast<int64_t>(out.pixels.size() / 2)) << "M " << weight_base;
  }
}

TEST(TileValues, IntegerFormatsRoundTheWeightingAlikeOnEveryPath) {
  for (double m : {1.0001, 1.05, 1.1}) {
    expect_paths_round_alike<PF_Pixel8>(m, 11);
    expect_paths_round_alike<PF_Pixel16>(m, 12);
  }
}

TEST(TileValues, FloatStoresTheWeightingAlikeOnEveryPath) {
  for (double m : {1.0001, 1.05, 1.1}) expect_paths_round_alike<PF_PixelFloat>(m, 13);
}

// The plan of a write-back on its own: one n x n tile that is the whole picture (margin 0),
// kernel sum 1, alpha unscaled, weighting base M (none at 1).
TilePlan whole_picture_tile(int32_t n, double weight_base) {
  TilePlan plan{};
  plan.n = n;
  plan.width = plan.height = n;
  plan.input_width = plan.input_height = n;
  plan.input_stride = plan.output_stride = n;
  plan.rule.weight_base = weight_base;
  plan.rule.weighted = weight_base != 1.0;
  plan.rule.inverse_log_weight = 1.0 / std::log(weight_base);
  plan.kernel_sum = 1.0;
  plan.alpha_scale = 1.0;
  return plan;
}

// The float write-back on its own, fed plane values chosen to be hard for it: values whose
// single-precision result lies a hair from a rounding boundary (x = exp(b / s) for a point b
// halfway between two floats, s = 1 / (255 ln M) the scale of the logarithm), values at
// the edges of the logarithm's table slots, large and tiny ones, and ones the vector
// logarithm leaves to the library (0, negative, subnormal, infinite, not a number), with
// some lanes empty. Every stored colour must be the single-precision value of
// s x ln(x) taken with the path's full logarithm (alpha is the full scale, so x is the
// plane value itself). The output starts `offset` pixels after a cache line's start, so that
// the blocks of four pixels that fill whole lines (stored past the caches) begin at every
// column of a block; the pixels around the output stay as they were.
void expect_float_write_back_as_full_log(TilePath path, double weight_base, uint32_t seed,
                                         int32_t offset) {
  constexpr int32_t n = 32;
  const TilePlan plan = whole_picture_tile(n, weight_base);
  const double s = plan.rule.inverse_log_weight / 255.0;

  std::mt19937 rng(seed);
  // Outputs up to twice the float cap's (larger ones need plane values beyond the double range).
  std::uniform_real_distribution<double> target(-3.0, std::log10(0.2578125 * 255.0 * s)),
      unit(0.0, 1.0);
  std::uniform_int_distribution<int> kind(0, 9), binade(-20, 40);
  auto value = [&]() -> double {
    switch (kind(rng)) {
      case 0: {  // a slot edge of the table (slots of 1/128 of a binade), either side
        const double edge = std::ldexp(1.0 + std::floor(unit(rng) * 128.0) / 128.0, binade(rng));
        return unit(rng) < 0.5 ? std::nextafter(edge, 0.0) : edge;
      }
      case 1: {  // one of the values the vector logarithm does not take itself
        const double odd[] = {0.0, -1.5, 1e-310, HUGE_VAL, std::nan(""), 1.0, 1e300};
        return odd[static_cast<size_t>(unit(rng) * 7.0) % 7];
      }
      case 2:
        return std::exp(unit(rng) * 60.0 - 20.0);
      default: {  // halfway between two floats, once the logarithm is scaled
        const auto f = static_cast<float>(std::pow(10.0, target(rng)));
        const double halfway = (static_cast<double>(f) + std::nextafter(f, HUGE_VALF)) / 2.0;
        return static_cast<double>(std::exp(static_cast<long double>(halfway) / s));
      }
    }
  };
  TestPlanes planes(n);
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t e = 0; e < n; ++e) {
      planes.rg_rows[r][2 * e] = value();
      planes.rg_rows[r][2 * e + 1] = value();
      planes.ba_rows[r][2 * e] = value();
      planes.ba_rows[r][2 * e + 1] = kind(rng) == 0 ? 0.0 : 1.0;  // empty, or alpha at full scale
    }
  }
  // Room for a cache line's worth of pixels on either side of the n x n output.
  const PF_PixelFloat untouched{-7.0f, -7.0f, -7.0f, -7.0f};
  std::vector<PF_PixelFloat> block(static_cast<size_t>(n) * n + 8, untouched);
  const auto start = reinterpret_cast<uintptr_t>(block.data());
  const size_t to_line = (64 - start % 64) % 64 / sizeof(PF_PixelFloat);
  PF_PixelFloat* const out = block.data() + to_line + offset;
  tile_kernels(path).write_float(out, plan, 0, 0, planes.planes());
  int64_t outside = 0;
  for (const PF_PixelFloat* px = block.data(); px < block.data() + block.size(); ++px) {
    if (px < out || px >= out + n * n) outside += std::memcmp(px, &untouched, sizeof(*px)) != 0;
  }
  EXPECT_EQ(outside, 0) << "offset " << offset;

  void (*full_log)(const double*, double*, int32_t) =
      path == TilePath::avx512 ? log_many_avx512 : log_many_avx2;
  auto expected = [&](double x) {
    double l = 0.0;
    full_log(&x, &l, 1);
    const double v = s * l;
    return v > 0.0 ? static_cast<float>(std::min(v, static_cast<double>(FLT_MAX))) : 0.0f;
  };
  int64_t differing = 0, positive = 0;
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      // Pixel (x, y) is plane element [x + n/2][y + n/2] (mod n): the quadrant swap.
      const double* rg = planes.rg_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
      const double* ba = planes.ba_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
      const PF_PixelFloat& px = out[static_cast<size_t>(y) * n + x];
      const bool empty = ba[1] == 0.0;
      const float want[3] = {empty ? 0.0f : expected(rg[0]), empty ? 0.0f : expected(rg[1]),
                             empty ? 0.0f : expected(ba[0])};
      const float got[3] = {px.red, px.green, px.blue};
      for (int c = 0; c < 3; ++c) {
        differing += std::memcmp(&want[c], &got[c], sizeof(float)) != 0;
        positive += !empty && want[c] > 0.0f;
      }
      EXPECT_EQ(px.alpha, empty ? 0.0f : 1.0f);
    }
  }
  EXPECT_EQ(differing, 0) << "M " << weight_base << " " << path_name(path) << " offset " << offset;
  EXPECT_GT(positive, 3 * n * n / 2);
}

TEST(TileWriteBack, FloatColourIsTheFullLogarithmsOwnSinglePrecisionValue) {
  for (TilePath path : {TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (double m : {1.0001, 1.02, 1.1}) {
      for (int32_t offset = 0; offset < 4; ++offset) {
        expect_float_write_back_as_full_log(path, m, 17 + offset, offset);
      }
    }
  }
}

// The integer write-backs at the ends of their range, unweighted (the stored value is the
// blurred colour itself, as alpha is the full scale): not a number, infinities, negative
// values and zero store 0, values above the full scale store the full scale, the rest
// round half up, on every path, as the rule of the format says (worked out here).
template <typename Pixel>
void expect_integer_ends(TilePath path, double full_alpha, uint16_t full,
                         const std::vector<double>& colours) {
  constexpr int32_t n = 8;
  const TilePlan plan = whole_picture_tile(n, 1.0);
  const double unit = full / full_alpha;  // what a working-scale value is worth in the format
  TestPlanes planes(n);
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t e = 0; e < n; ++e) {
      const size_t k = static_cast<size_t>(r * n + e);
      planes.rg_rows[r][2 * e] = colours[k % colours.size()];
      planes.rg_rows[r][2 * e + 1] = colours[(k + 1) % colours.size()];
      planes.ba_rows[r][2 * e] = colours[(k + 2) % colours.size()];
      planes.ba_rows[r][2 * e + 1] = full_alpha;
    }
  }
  std::vector<Pixel> out(n * n);
  TileKernels kernels = tile_kernels(path);
  if constexpr (sizeof(Pixel) == 4) {
    kernels.write8(out.data(), plan, 0, 0, planes.planes());
  } else {
    kernels.write16(out.data(), plan, 0, 0, planes.planes());
  }
  auto expected = [&](double v) -> int {
    v *= unit;
    if (!(v > 0.0)) return 0;
    if (v > full) return full;
    return static_cast<int>(std::floor(v + 0.5));
  };
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      const double* rg = planes.rg_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
      const double* ba = planes.ba_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
      const Pixel& px = out[static_cast<size_t>(y) * n + x];
      EXPECT_EQ(px.red, expected(rg[0])) << path_name(path) << " " << rg[0];
      EXPECT_EQ(px.green, expected(rg[1])) << path_name(path) << " " << rg[1];
      EXPECT_EQ(px.blue, expected(ba[0])) << path_name(path) << " " << ba[0];
      EXPECT_EQ(px.alpha, full);
    }
  }
}

TEST(TileWriteBack, IntegerChannelsAtTheEndsOfTheirRange) {
  const double inf = HUGE_VAL, nan = std::nan("");
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    expect_integer_ends<PF_Pixel8>(path, 255.0, 255,
                                   {nan, -inf, -1e300, -0.7, -0.5, -0.0, 0.0, 0.2, 0.5, 1.49,
                                    254.49, 254.5, 255.0, 255.4, 300.0, 1e300, inf});
    expect_integer_ends<PF_Pixel16>(
        path, 256.0, 32768,
        {nan, -inf, -1e300, -1.0, 0.0, 0.001, 100.3, 255.996, 255.999, 256.0, 300.0, 1e300, inf});
  }
}

// The weighted integer write-backs on their own, fed quotients x = M^t (alpha at full scale,
// so x is the plane value itself) whose level unit x t lies `delta` of a level above or below
// a rounding boundary, for every level and a little beyond, and the values the logarithm
// hands to the library (0, negative, subnormal, infinite, not a number). Near a boundary
// (1e-4 to 1e-8) the fast logarithms cannot tell on their own and must leave the value to
// the full one; far from one (0.1, 0.3) they decide every value themselves, and then a value
// they cannot take (not a number, negative) must still go to the full one, though everything
// beside it is decided. Every level is worked out here from t alone.
template <typename Pixel>
void expect_weighted_levels(TilePath path, double weight_base, std::vector<double> deltas) {
  constexpr bool k8 = sizeof(Pixel) == 4;
  constexpr double kFullAlpha = k8 ? 255.0 : 256.0;
  constexpr int32_t kFull = k8 ? 255 : 32768;
  constexpr double kUnit = k8 ? 1.0 : 128.0;
  struct Case {
    double x;
    int32_t level;
  };
  std::vector<Case> cases;
  const long double ln_m = std::log(static_cast<long double>(weight_base));
  for (int32_t k = -2; k <= kFull + 1; k += k8 ? 1 : 97) {
    for (double delta : deltas) {
      for (int side : {-1, 1}) {
        const long double t = (k + 0.5L + side * delta) / kUnit;
        const int32_t level = side > 0 ? k + 1 : k;
        cases.push_back({static_cast<double>(std::exp(t * ln_m)), std::clamp(level, 0, kFull)});
      }
    }
  }
  const double inf = HUGE_VAL;
  for (const Case c : {Case{0.0, 0}, Case{-1.0, 0}, Case{std::nan(""), 0}, Case{inf, kFull},
                       Case{1e300, kFull}, Case{DBL_MIN, 0}, Case{5e-324, 0}, Case{1.0, 0}}) {
    cases.push_back(c);
  }
  constexpr int32_t n = 64;
  ASSERT_LE(cases.size(), static_cast<size_t>(3 * n * n));
  TilePlan plan = whole_picture_tile(n, weight_base);
  plan.rule.inverse_log_weight = static_cast<double>(1.0L / ln_m);
  TestPlanes planes(n);
  // Colour value k of the picture (three a pixel) is case k, round and round; the plane
  // place of pixel (x, y) is moved by half a tile each way.
  auto colour_at = [&](int32_t x, int32_t y, int c) -> double& {
    double* rg = planes.rg_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
    double* ba = planes.ba_rows[(x + n / 2) % n] + 2 * ((y + n / 2) % n);
    return c == 0 ? rg[0] : c == 1 ? rg[1] : ba[0];
  };
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      for (int c = 0; c < 3; ++c)
        colour_at(x, y, c) = cases[(3 * (y * n + x) + c) % cases.size()].x;
      planes.ba_rows[(x + n / 2) % n][2 * ((y + n / 2) % n) + 1] = kFullAlpha;
    }
  }
  std::vector<Pixel> out(n * n);
  TileKernels kernels = tile_kernels(path);
  if constexpr (k8) {
    kernels.write8(out.data(), plan, 0, 0, planes.planes());
  } else {
    kernels.write16(out.data(), plan, 0, 0, planes.planes());
  }
  int64_t wrong = 0;
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      const Pixel& px = out[static_cast<size_t>(y) * n + x];
      const int32_t got[3] = {px.red, px.green, px.blue};
      for (int c = 0; c < 3; ++c) {
        const Case& want = cases[(3 * (y * n + x) + c) % cases.size()];
        if (got[c] != want.level && wrong++ < 5) {
          ADD_FAILURE() << path_name(path) << " M " << weight_base << ": x " << want.x << " gave "
                        << got[c] << ", not " << want.level;
        }
      }
      EXPECT_EQ(px.alpha, kFull);
    }
  }
  EXPECT_EQ(wrong, 0) << path_name(path) << " M " << weight_base;
}

TEST(TileWriteBack, WeightedIntegerLevelsNearTheirBoundariesAndAtTheEnds) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (double m : {1.0001, 1.05, 2.0}) {
      for (const std::vector<double>& deltas :
           {std::vector<double>{1e-4, 1e-6, 1e-8}, std::vector<double>{0.1, 0.3}}) {
        expect_weighted_levels<PF_Pixel8>(path, m, deltas);
        expect_weighted_levels<PF_Pixel16>(path, m, deltas);
      }
    }
  }
}

// A point-symmetric kernel has a real spectrum, which the tile stage multiplies by its real
// parts alone: the pixels still match the direct convolution in every format, and the
// kernel plane holds the spectrum's real parts (worked out here by a plain DFT of the taps)
// at the start of each row, in the spectrum order, the form that product takes them in.
TEST(TileValues, PointSymmetricKernelMatchesTheDirectConvolution) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    SCOPED_TRACE(path_name(path));
    std::mt19937 rng(41);
    constexpr int32_t p = 5;
    std::vector<Tap> taps;
    std::uniform_real_distribution<double> w(0.0, 1.0);
    for (int32_t dx = 0; dx <= p; ++dx) {
      for (int32_t dy = -p; dy <= p; ++dy) {
        if ((dx == 0 && dy < 0) || w(rng) < 0.4) continue;
        const double weight = w(rng);
        taps.push_back({dx, dy, weight});
        if (dx != 0 || dy != 0) taps.push_back({-dx, -dy, weight});
      }
    }
    Settings s;
    s.weight_base = 1.03;
    s.gain = 1.2;
    s.threshold = 150;
    s.path = path;
    TestImage<PF_PixelFloat> in_f(70, 45, 72);
    randomise(in_f, rng);
    TestImage<PF_PixelFloat> out_f(70, 45, 70, sentinel<PF_PixelFloat>());
    TestImage<PF_Pixel16> in_16(70, 45, 70);
    randomise(in_16, rng);
    TestImage<PF_Pixel16> out_16(70, 45, 70);
    ProgressLog log;
    int32_t count = 0;
    TestPlanes planes(kN);
    ASSERT_EQ(run_tiles(in_f, out_f, s, taps, p, log, count, PF_Err_NONE, &planes), PF_Err_NONE);
    expect_matches_direct(in_f, out_f, taps, s);
    expect_padding_untouched(out_f);
    // Spectrum element (u, v) of the taps, scaled by 1 / N^2 as the tile stage keeps it: the
    // taps sit at (N/2 + dx, N/2 + dy), so it is (-1)^(u + v) sum w cos(2 pi (u dx + v dy) / N).
    double worst = 0.0;
    for (int32_t u : {0, 1, 7, 100, kN - 1}) {
      for (int32_t v : {0, 3, 64, kN / 2, kN - 5}) {
        double sum = 0.0;
        for (const Tap& t : taps) {
          sum += t.w * std::cos(2.0 * M_PI * (static_cast<double>(u) * t.dx + v * t.dy) / kN);
        }
        const double want = ((u + v) % 2 == 0 ? sum : -sum) / (static_cast<double>(kN) * kN);
        worst = std::max(worst, std::fabs(planes.kernel_rows[u][spectrum_column(v, kN)] - want));
      }
    }
    EXPECT_LT(worst, 1e-15);
    TestPlanes planes16(kN);
    ASSERT_EQ(run_tiles(in_16, out_16, s, taps, p, log, count, PF_Err_NONE, &planes16),
              PF_Err_NONE);
    expect_matches_direct(in_16, out_16, taps, s);
  }
}

// Tiles far smaller than the driver's, down to two pixels: the vector loops take four plane
// rows at a time, and many tiles with short inner squares meet the image's edges everywhere.
TEST(TileSizes, SmallTilesMatchTheDirectConvolutionOnBothBuilds) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (int32_t n : {2, 4, 8, 16}) {
      SCOPED_TRACE("n = " + std::to_string(n) + ", " + path_name(path));
      const int32_t p = n / 4;
      std::mt19937 rng(300 + n);
      Settings s;
      s.weight_base = 1.04;
      s.gain = 1.2;
      s.threshold = 100;
      s.path = path;
      s.n = n;
      const std::vector<Tap> taps = random_taps(p, rng);
      TestImage<PF_PixelFloat> in_f(11, 6, 13);
      randomise(in_f, rng);
      TestImage<PF_PixelFloat> out_f(11, 6, 12, sentinel<PF_PixelFloat>());
      TestImage<PF_Pixel8> in_8(11, 6, 11);
      randomise(in_8, rng);
      TestImage<PF_Pixel8> out_8(11, 6, 11);
      ProgressLog log;
      int32_t count = 0;
      ASSERT_EQ(run_tiles(in_f, out_f, s, taps, p, log, count), PF_Err_NONE);
      expect_matches_direct(in_f, out_f, taps, s);
      expect_padding_untouched(out_f);
      ASSERT_EQ(run_tiles(in_8, out_8, s, taps, p, log, count), PF_Err_NONE);
      expect_matches_direct(in_8, out_8, taps, s);
    }
  }
}

// ----- An output lying inside a larger input ----------------------------------------------

// The input reaches beyond the output by various margins (more than the blur reaches, exactly
// as far, less, none), as when part of a layer is rendered: every output pixel is the direct
// convolution of the whole input at its place, with the outside rule only at the input's
// own edges. Small tiles put several tiles and their edges inside the margins.
template <typename Pixel>
void check_inside_larger_input(int32_t n, TilePath path) {
  struct Margins {
    int32_t left, top, right, bottom;
  };
  const int32_t p = n == kN ? 6 : n / 4;
  const Margins cases[] = {
      {p, p, p, p}, {13, 2, 0, 9}, {0, p, 3 * p, 0}, {1, 0, 0, 1}, {40, 30, 0, 0}};
  for (const int32_t outside : {kOutsideMirror, kOutsideEdge}) {
    for (const Margins& m : cases) {
      SCOPED_TRACE("margins " + std::to_string(m.left) + " " + std::to_string(m.top) + " " +
                   std::to_string(m.right) + " " + std::to_string(m.bottom) +
                   (outside == kOutsideMirror ? ", mirror" : ", edge"));
      std::mt19937 rng(700 + 13 * m.left + 5 * m.bottom + outside + n);
      TestImage<Pixel> in(61, 47, 64);
      randomise(in, rng);
      TestImage<Pixel> out(61 - m.left - m.right, 47 - m.top - m.bottom, 61, sentinel<Pixel>());
      Settings s;
      s.outside = outside;
      s.weight_base = 1.03;
      s.gain = 1.2;
      s.threshold = 150;
      s.path = path;
      s.colour_table = path != TilePath::portable;
      s.n = n;
      s.beyond[0] = m.left;
      s.beyond[1] = m.top;
      s.beyond[2] = m.right;
      s.beyond[3] = m.bottom;
      const std::vector<Tap> taps = random_taps(p, rng);
      ProgressLog log;
      int32_t count = 0;
      ASSERT_EQ(run_tiles(in, out, s, taps, p, log, count), PF_Err_NONE);
      expect_matches_direct(in, out, taps, s);
      expect_padding_untouched(out);
      // The walk covers the output, not the input.
      const int32_t step = n - 2 * p;
      const int32_t tiles =
          ((out.width + p + step - 1) / step) * ((out.height + p + step - 1) / step);
      EXPECT_EQ(count, tiles);
    }
  }
}

TEST(TileRegion, OutputInsideALargerInputMatchesTheDirectConvolutionOfTheInput) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (int32_t n : {kN, 16}) {
      SCOPED_TRACE("n = " + std::to_string(n) + ", " + path_name(path));
      check_inside_larger_input<PF_Pixel8>(n, path);
      check_inside_larger_input<PF_Pixel16>(n, path);
      check_inside_larger_input<PF_PixelFloat>(n, path);
    }
  }
}

// Margins that do not describe an output inside the input are refused before anything is
// written; margins that leave no output are nothing to do.
TEST(TileRegion, MarginsOutsideTheInputAreRefusedUntouched) {
  TestImage<PF_Pixel8> in(30, 20, 30, PF_Pixel8{255, 9, 9, 9});
  TestImage<PF_Pixel8> out(30, 20, 30, sentinel<PF_Pixel8>());
  const std::vector<Tap> taps = {{0, 0, 1.0}};
  auto run = [&](int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Settings s;
    s.beyond[0] = left;
    s.beyond[1] = top;
    s.beyond[2] = right;
    s.beyond[3] = bottom;
    ProgressLog log;
    int32_t count = 0;
    const PF_Err err = run_tiles(in, out, s, taps, 2, log, count);
    EXPECT_EQ(count, 0);
    return err;
  };
  EXPECT_EQ(run(-1, 0, 0, 0), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(run(0, 0, 0, -1), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(run(20, 0, 11, 0), PF_Err_BAD_CALLBACK_PARAM);  // 31 columns of 30
  EXPECT_EQ(run(0, 21, 0, 0), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(run(INT32_MAX, 0, INT32_MAX, 0), PF_Err_BAD_CALLBACK_PARAM);  // would wrap
  for (const PF_Pixel8& px : out.pixels) ASSERT_EQ(px.red, 7);
  EXPECT_EQ(run(10, 0, 20, 0), PF_Err_NONE);  // no column left
  EXPECT_EQ(run(0, 5, 0, 15), PF_Err_NONE);   // no row left
  for (const PF_Pixel8& px : out.pixels) ASSERT_EQ(px.red, 7);
}

// Any outside mode other than Mirror is Edge.
TEST(TileOutside, UnknownModeActsAsEdge) {
  std::mt19937 rng(5);
  TestImage<PF_Pixel8> in(20, 9, 20);
  randomise(in, rng);
  TestImage<PF_Pixel8> out(20, 9, 20);
  Settings s;
  s.outside = 0;
  const std::vector<Tap> taps = random_taps(4, rng);
  ProgressLog log;
  int32_t count = 0;
  ASSERT_EQ(run_tiles(in, out, s, taps, 4, log, count), PF_Err_NONE);
  s.outside = kOutsideEdge;
  expect_matches_direct(in, out, taps, s);
}

// Non-finite float channels enter as 0 and do not spoil the rest of the tile.
// A float picture through the tiles (margin 3) on every path, unweighted and at M = 1.05,
// against the direct convolution of `reference` (the picture as the rules should read it).
void expect_every_path_matches_direct(const TestImage<PF_PixelFloat>& in,
                                      const TestImage<PF_PixelFloat>& reference,
                                      const std::vector<Tap>& taps) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (double m : {1.0, 1.05}) {
      SCOPED_TRACE(std::string(path_name(path)) + " M " + std::to_string(m));
      Settings s;
      s.weight_base = m;
      s.path = path;
      TestImage<PF_PixelFloat> picture = in;
      TestImage<PF_PixelFloat> out(in.width, in.height, in.width);
      ProgressLog log;
      int32_t count = 0;
      ASSERT_EQ(run_tiles(picture, out, s, taps, 3, log, count), PF_Err_NONE);
      expect_matches_direct(reference, out, taps, s);
    }
  }
}

TEST(TileFloat, NonFiniteChannelsEnterAsZero) {
  std::mt19937 rng(11);
  TestImage<PF_PixelFloat> in(40, 30, 40);
  randomise(in, rng);
  in.at(3, 4).red = NAN;
  in.at(20, 10).green = INFINITY;
  in.at(30, 25).blue = -INFINITY;
  in.at(10, 20).alpha = NAN;
  TestImage<PF_PixelFloat> clean = in;
  clean.at(3, 4).red = 0.0f;
  clean.at(20, 10).green = 0.0f;
  clean.at(30, 25).blue = 0.0f;
  clean.at(10, 20).alpha = 0.0f;
  expect_every_path_matches_direct(in, clean, random_taps(3, rng));
}

// The transparency floor of float alpha (3e-5, which no float holds): a pixel whose alpha is
// the float just below it counts as transparent black, one at the float just above counts
// with its colour, on every path (the vector loops test it in single precision).
TEST(TileFloat, AlphaOnEitherSideOfTheFloor) {
  const auto nearest = static_cast<float>(3e-5);
  const float below = nearest > 3e-5 ? std::nextafter(nearest, 0.0f) : nearest;
  const float above = std::nextafter(below, 1.0f);
  ASSERT_LE(static_cast<double>(below), 3e-5);
  ASSERT_GT(static_cast<double>(above), 3e-5);
  std::mt19937 rng(12);
  TestImage<PF_PixelFloat> in(40, 30, 40);
  randomise(in, rng);
  for (int32_t y = 0; y < in.height; ++y) {
    for (int32_t x = (y % 3); x < in.width; x += 3) {
      in.at(x, y).alpha = (x + y) % 2 == 0 ? below : above;
      in.at(x, y).red = 0.9f;  // bright enough to show in the blur if it wrongly counts
    }
  }
  expect_every_path_matches_direct(in, in, random_taps(3, rng));
}

// ----- Worked-out values -------------------------------------------------------------------

// Runs a constant image through a random positive kernel and returns the centre pixel.
template <typename Pixel>
Pixel constant_result(const Pixel& colour, const Settings& s, int32_t w = 9, int32_t h = 7) {
  std::mt19937 rng(3);
  TestImage<Pixel> in(w, h, w, colour);
  TestImage<Pixel> out(w, h, w);
  ProgressLog log;
  int32_t count = 0;
  EXPECT_EQ(run_tiles(in, out, s, random_taps(4, rng), 4, log, count), PF_Err_NONE);
  for (const Pixel& px : out.pixels) {
    EXPECT_TRUE(close_pixel(px, out.pixels[0])) << "constant input gave varying output";
  }
  return out.at(w / 2, h / 2);
}

TEST(TileValues, OpaqueConstantColourIsUnchanged) {
  for (double m : {1.0, 1.02, 1.1}) {
    for (int32_t outside : {kOutsideMirror, kOutsideEdge}) {
      SCOPED_TRACE("M = " + std::to_string(m) + ", outside " + std::to_string(outside));
      Settings s{1.4, 200, m, outside};  // every channel below the threshold
      const PF_Pixel8 c8{255, 10, 120, 199};
      const PF_Pixel8 r8 = constant_result(c8, s);
      EXPECT_EQ(r8.alpha, 255);
      EXPECT_EQ(r8.red, 10);
      EXPECT_EQ(r8.green, 120);
      EXPECT_EQ(r8.blue, 199);
      const PF_Pixel16 c16{32768, 0, 15000, 25599};
      const PF_Pixel16 r16 = constant_result(c16, s);
      EXPECT_EQ(r16.alpha, 32768);
      EXPECT_EQ(r16.red, 0);
      EXPECT_EQ(r16.green, 15000);
      EXPECT_EQ(r16.blue, 25599);
      const PF_PixelFloat cf{1.0f, 0.05f, 0.5f, 0.77f};
      const PF_PixelFloat rf = constant_result(cf, s);
      EXPECT_NEAR(rf.alpha, 1.0, 1e-6);
      EXPECT_NEAR(rf.red, 0.05, 1e-6);
      EXPECT_NEAR(rf.green, 0.5, 1e-6);
      EXPECT_NEAR(rf.blue, 0.77, 1e-6);
    }
  }
}

// ----- Alpha next to bright highlights ---------------------------------------------------

TEST(TileAlpha, ScaleIsThePowerOfTwoNearestTheRatio) {
  // 1.1^384 / 256: log2 = 384 x 0.1375035 - 8 = 44.80, so 2^45.
  EXPECT_EQ(alpha_scale_for(std::pow(1.1, 384.0), 256.0), std::ldexp(1.0, 45));
  EXPECT_EQ(alpha_scale_for(3.0 * 255.0, 255.0), 4.0);   // log2 3 = 1.58
  EXPECT_EQ(alpha_scale_for(1.41 * 255.0, 255.0), 1.0);  // just below sqrt 2
  EXPECT_EQ(alpha_scale_for(1.42 * 255.0, 255.0), 2.0);  // just above
  EXPECT_EQ(alpha_scale_for(255.0, 255.0), 1.0);
  EXPECT_EQ(alpha_scale_for(0.25, 1.0), 1.0);  // never below 1
  EXPECT_EQ(alpha_scale_for(1e300, 1.0), std::ldexp(1.0, 500));
  EXPECT_EQ(alpha_scale_for(NAN, 1.0), 1.0);
}

// A 16-bit picture in the colours' upper half with full-scale highlights, at M = 1.1 and
// K = 1.5: a highlight enters its plane as 1.1^384, about 7.6e15, next to alpha's 256.
// Opaque, alpha must come out 32768 everywhere; with alpha varying, alpha and colour x alpha
// must agree with the direct convolution of each channel within one unit.
void check_alpha_beside_highlights(bool opaque, TilePath path, bool colour_table) {
  std::mt19937 rng(opaque ? 77 : 78);
  TestImage<PF_Pixel16> in(150, 110, 153);
  std::uniform_int_distribution<int> background(16000, 25000), alpha(3000, 32768);
  std::uniform_int_distribution<int> px(0, 149), py(0, 109);
  for (auto& p : in.pixels) {
    p = {uint16_t(opaque ? 32768 : alpha(rng)), uint16_t(background(rng)),
         uint16_t(background(rng)), uint16_t(background(rng))};
  }
  for (int light = 0; light < 40; ++light) {
    PF_Pixel16& p = in.at(px(rng), py(rng));
    p.red = p.green = p.blue = 32768;
  }
  TestImage<PF_Pixel16> out(150, 110, 150);
  std::vector<Tap> taps;  // a disc of radius 6
  for (int32_t dx = -6; dx <= 6; ++dx) {
    for (int32_t dy = -6; dy <= 6; ++dy) {
      if (dx * dx + dy * dy <= 36) taps.push_back({dx, dy, 1.0});
    }
  }
  Settings s{1.5, 200, 1.1, kOutsideMirror};
  s.path = path;
  s.colour_table = colour_table;
  ProgressLog log;
  int32_t count = 0;
  ASSERT_EQ(run_tiles(in, out, s, taps, 6, log, count), PF_Err_NONE);
  int failures = 0;
  for (int32_t y = 0; y < in.height; ++y) {
    for (int32_t x = 0; x < in.width; ++x) {
      const PF_Pixel16& got = out.at(x, y);
      const PF_Pixel16 want = direct_pixel(in, x, y, taps, s);
      bool ok = opaque ? got.alpha == 32768 : std::abs(got.alpha - want.alpha) <= 1;
      const int got_c[3] = {got.red, got.green, got.blue};
      const int want_c[3] = {want.red, want.green, want.blue};
      for (int c = 0; c < 3; ++c) {
        const double premultiplied = got_c[c] * (got.alpha / 32768.0);
        ok = ok && std::fabs(premultiplied - want_c[c] * (want.alpha / 32768.0)) <= 1.0;
      }
      if (!ok && ++failures <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << describe(got) << ", want "
                      << describe(want);
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(TileAlpha, SixteenBitHighlightsLeaveAlphaAndPremultipliedColourExact) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (bool table : {true, false}) {
      for (bool opaque : {true, false}) {
        SCOPED_TRACE(std::string(path_name(path)) + (table ? ", colour table" : ", no table") +
                     (opaque ? ", opaque" : ", alpha varying"));
        check_alpha_beside_highlights(opaque, path, table);
      }
    }
  }
}

// ----- Neighbouring tiles of one alpha ----------------------------------------------------

// Tiles of 32 (margin 3, step 26) over a 120 x 70 picture with a disc iris (a real spectrum)
// or a lopsided one (its right half heavier: a spectrum with imaginary parts), whose tiles at x =
// -3, 23, 49, 75 and 101 read 32, 32, 32, 32 and 24 columns: alpha `first` left of a band of
// varying alpha, `second` right of it. The band at 56 to 66 leaves the first two tiles of one
// alpha, the third reading the band, the last two (the last cut by the picture's edge) of the other
// alpha: two pairs of neighbours of different alphas and a tile alone. The band at 82 to 90 leaves
// the third tile of one alpha and its right neighbour not, so the pair is begun and given up,
// and the last tile, left alone in its row, pairs with the one below it. Opaque, every tile reads
// one alpha (the last of the first row again pairs with the one below; the one before that, whose
// right neighbour is then done, tries the one below it, which the filter convolves, and so goes
// alone). The first two rows of tiles are convolved rows last, the last row through the filter
// (where the last tile, cut short, is convolved rows last and so pairs with none): in both orders
// all must match the direct convolution of every channel.
struct AlphaBand {
  int32_t begin, end;  // [begin, end) varies; none when begin == end (opaque)
};

template <typename Pixel>
void check_constant_alpha_neighbours(TilePath path, double weight_base, AlphaBand band,
                                     bool lopsided, decltype(Pixel{}.alpha) first,
                                     decltype(Pixel{}.alpha) second,
                                     decltype(Pixel{}.alpha) varying) {
  std::mt19937 rng(500 + band.begin);
  TestImage<Pixel> in(120, 70, 123);
  randomise(in, rng);
  const bool opaque = band.begin == band.end;
  std::uniform_int_distribution<int> pick(0, 1);
  for (int32_t y = 0; y < in.height; ++y) {
    for (int32_t x = 0; x < in.width; ++x) {
      in.at(x, y).alpha = opaque || x < band.begin ? first
                          : x >= band.end          ? second
                          : pick(rng)              ? varying
                                                   : first;
    }
  }
  TestImage<Pixel> out(120, 70, 125, sentinel<Pixel>());
  std::vector<Tap> taps;
  for (int32_t dx = -3; dx <= 3; ++dx) {
    for (int32_t dy = -3; dy <= 3; ++dy) {
      const double weight = dx == 0 && dy == 0 ? 2.0 : lopsided && dx > 0 ? 3.0 : 1.0;
      if (dx * dx + dy * dy <= 9) taps.push_back({dx, dy, weight});
    }
  }
  Settings s;
  s.weight_base = weight_base;
  s.gain = 1.3;
  s.threshold = 128;
  s.path = path;
  s.colour_table = path != TilePath::portable;
  s.n = 32;
  ProgressLog log;
  int32_t count = 0;
  ASSERT_EQ(run_tiles(in, out, s, taps, 3, log, count), PF_Err_NONE);
  expect_matches_direct(in, out, taps, s);
  expect_padding_untouched(out);
  EXPECT_EQ(count, 5 * 3);  // every tile reported once
}

TEST(TilePairs, NeighbouringTilesOfOneAlphaMatchTheDirectConvolution) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    for (double weight_base : {1.0, 1.05, 2.5}) {
      for (AlphaBand band : {AlphaBand{56, 67}, AlphaBand{82, 91}, AlphaBand{0, 0}}) {
        for (bool lopsided : {false, true}) {
          SCOPED_TRACE(std::string(path_name(path)) + ", M " + std::to_string(weight_base) +
                       ", band " + std::to_string(band.begin) + " to " + std::to_string(band.end) +
                       (lopsided ? ", lopsided iris" : ", disc"));
          // Float with a base beyond 2, whose pow the library takes on every path (its cap
          // keeps the plane within a transform's precision; the integer formats' 2.5^331
          // would not be).
          check_constant_alpha_neighbours<PF_PixelFloat>(path, weight_base, band, lopsided, 1.0f,
                                                         0.5f, 0.25f);
          if (weight_base > 2.0) continue;
          check_constant_alpha_neighbours<PF_Pixel8>(path, weight_base, band, lopsided, 255, 128,
                                                     40);
          check_constant_alpha_neighbours<PF_Pixel16>(path, weight_base, band, lopsided, 32768,
                                                      20000, 900);
        }
      }
    }
  }
}

TEST(TileValues, ThresholdIsInclusivePerFormat) {
  for (double m : {1.0, 1.02}) {
    Settings s{1.5, 100, m, kOutsideMirror};
    const PF_Pixel8 r8 = constant_result(PF_Pixel8{255, 100, 99, 102}, s);
    EXPECT_EQ(r8.red, 150);
    EXPECT_EQ(r8.green, 99);
    EXPECT_EQ(r8.blue, 153);
    const PF_Pixel16 r16 = constant_result(PF_Pixel16{32768, 12800, 12799, 20000}, s);
    EXPECT_EQ(r16.red, 19200);
    EXPECT_EQ(r16.green, 12799);
    EXPECT_EQ(r16.blue, 30000);
    // T = 0 boosts every non-negative channel.
    s.threshold = 0;
    const PF_Pixel8 z8 = constant_result(PF_Pixel8{255, 0, 2, 50}, s);
    EXPECT_EQ(z8.red, 0);
    EXPECT_EQ(z8.green, 3);
    EXPECT_EQ(z8.blue, 75);
    const PF_Pixel16 z16 = constant_result(PF_Pixel16{32768, 0, 1000, 128}, s);
    EXPECT_EQ(z16.green, 1500);
    EXPECT_EQ(z16.blue, 192);
  }
}

// The float threshold is T / 255 as a float holds it: that value is boosted for every T, the
// float just below it is not.
TEST(TileValues, FloatThresholdBoundaryForEveryT) {
  for (int32_t t = 0; t <= 255; ++t) {
    SCOPED_TRACE("T = " + std::to_string(t));
    const float at = static_cast<float>(t / 255.0);
    const float below = std::nextafter(at, -1.0f);
    Settings s{1.25, t, 1.0, kOutsideEdge};
    TestImage<PF_PixelFloat> in(2, 1, 2, PF_PixelFloat{1.0f, at, below, at});
    TestImage<PF_PixelFloat> out(2, 1, 2);
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(in, out, s, {{0, 0, 1.0}}, 1, log, count), PF_Err_NONE);
    EXPECT_NEAR(out.at(0, 0).red, at * 1.25, 1e-7);
    EXPECT_NEAR(out.at(0, 0).green, t == 0 ? below * 1.25 : below, 1e-7);
  }
}

TEST(TileValues, GainAboveOneOnConstantChannels) {
  for (double m : {1.0, 1.1}) {
    Settings s{1.3, 100, m, kOutsideMirror};
    const PF_Pixel8 r8 = constant_result(PF_Pixel8{255, 150, 200, 101}, s);
    EXPECT_EQ(r8.red, 195);
    EXPECT_EQ(r8.green, 255);  // 260 limited
    EXPECT_EQ(r8.blue, 131);   // 131.3
    const PF_Pixel16 r16 = constant_result(PF_Pixel16{32768, 19200, 30000, 12801}, s);
    EXPECT_EQ(r16.red, 24960);
    EXPECT_EQ(r16.green, 32768);  // 39000 limited
    EXPECT_EQ(r16.blue, 16641);   // 16641.3
  }
}

// Half the kernel on opaque black, half on transparent black: the transparent half still
// brings pow(M, 0) = 1 into the colour sums.
TEST(TileValues, HalfOpaqueHalfTransparentBlack) {
  TestImage<PF_Pixel8> in(2, 1, 2);
  in.at(0, 0) = {255, 0, 0, 0};
  in.at(1, 0) = {0, 0, 0, 0};
  const std::vector<Tap> taps = {{0, 0, 1.0}, {1, 0, 1.0}};  // (1, 0) reads the left pixel
  for (double m : {1.02, 1.0}) {
    TestImage<PF_Pixel8> out(2, 1, 2);
    Settings s{1.0, 255, m, kOutsideEdge};
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(in, out, s, taps, 1, log, count), PF_Err_NONE);
    const PF_Pixel8 px = out.at(1, 0);
    // 127.5 lies on the rounding boundary: either neighbour is within the transform's error.
    EXPECT_GE(px.alpha, 127);
    EXPECT_LE(px.alpha, 128);
    const int colour = m == 1.0 ? 0 : 35;  // floor(ln 2 / ln 1.02 + 0.5)
    EXPECT_EQ(px.red, colour);
    EXPECT_EQ(px.green, colour);
    EXPECT_EQ(px.blue, colour);
    EXPECT_EQ(out.at(0, 0).alpha, 255);  // the left pixel only sees opaque black
  }
}

TEST(TileValues, FloatCapAndUnlimitedColour) {
  // Every path: each loads float colour with its own cap.
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    SCOPED_TRACE(path_name(path));
    auto result = [&](const PF_PixelFloat& colour, Settings s) {
      s.path = path;
      return constant_result(colour, s);
    };
    auto expect_colour = [](const PF_PixelFloat& px, double red, double green, double blue) {
      EXPECT_NEAR(px.red, red, 1e-6);
      EXPECT_NEAR(px.green, green, 1e-6);
      EXPECT_NEAR(px.blue, blue, 1e-6);
    };
    // 0.12890625 / ln 1.1, for colour above it and for colour boosted past it by the gain.
    const double cap = 1.35249194;
    expect_colour(result({1.0f, 2.0f, 0.5f, 2.0f}, Settings{1.0, 255, 1.1, 1}), cap, 0.5, cap);
    expect_colour(result({1.0f, 1.0f, 0.2f, 0.5f}, Settings{1.5, 100, 1.1, 1}), cap, 0.2,
                  0.5 * 1.5);
    expect_colour(result({1.0f, 2.0f, 4.0f, 0.25f}, Settings{1.0, 255, 1.0, 1}), 2.0, 4.0, 0.25);
    // Alpha above the full scale comes out at 1.
    EXPECT_EQ(result({1.5f, 0.5f, 0.5f, 0.5f}, Settings{1.0, 255, 1.0, 2}).alpha, 1.0f);
  }
}

template <typename Pixel>
void expect_all_transparent_black(const TestImage<Pixel>& out) {
  for (const Pixel& px : out.pixels) {
    ASSERT_TRUE(px.alpha == 0 && px.red == 0 && px.green == 0 && px.blue == 0) << describe(px);
  }
}

template <typename Pixel>
void check_transparent(const Pixel& opaque) {
  std::mt19937 rng(17);
  for (double m : {1.0, 1.1}) {
    Settings s{1.2, 0, m, kOutsideMirror};
    // Transparent black everywhere.
    TestImage<Pixel> clear(13, 8, 13);
    TestImage<Pixel> out(13, 8, 13, sentinel<Pixel>());
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(clear, out, s, random_taps(3, rng), 3, log, count), PF_Err_NONE);
    expect_all_transparent_black(out);
    // An all-zero kernel on an opaque image.
    TestImage<Pixel> full(13, 8, 13, opaque);
    TestImage<Pixel> out2(13, 8, 13, sentinel<Pixel>());
    ASSERT_EQ(run_tiles(full, out2, s, {}, 3, log, count), PF_Err_NONE);
    expect_all_transparent_black(out2);
  }
}

TEST(TileValues, TransparentInputOrZeroKernelGivesTransparentBlack) {
  check_transparent(PF_Pixel8{255, 200, 100, 50});
  check_transparent(PF_Pixel16{32768, 200, 100, 50});
  check_transparent(PF_PixelFloat{1.0f, 0.8f, 0.4f, 0.2f});
}

// The 16-bit colour table holds, for every channel value, the plane value the per-pixel rule
// gives: boosted from 128 x T on, then pow(M, v) with the library's pow, bit for bit.
TEST(TileValues, ColourTableHoldsTheRuleForEvery16BitValue) {
  for (double m : {1.0, 1.07}) {
    SCOPED_TRACE("M = " + std::to_string(m));
    TestImage<PF_Pixel16> in(5, 4, 5, PF_Pixel16{32768, 1, 2, 3});
    TestImage<PF_Pixel16> out(5, 4, 5);
    TestPlanes planes(kN);
    Settings s{1.35, 90, m, kOutsideMirror};
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(in, out, s, {{0, 0, 1.0}}, 2, log, count, PF_Err_NONE, &planes),
              PF_Err_NONE);
    for (int32_t c = 0; c <= 32768; ++c) {
      const double v = c >= 128 * 90 ? c * 1.35 / 128.0 : c / 128.0;
      const double want = m == 1.0 ? v : std::pow(m, v);
      ASSERT_EQ(planes.colour[c], want) << "channel value " << c;
    }
  }
}

// ----- Mirror rule -------------------------------------------------------------------------

TEST(MirrorIndex, ValuesFromTheRule) {
  const int32_t w = 7;
  EXPECT_EQ(mirror_index(-1, w), 0);
  EXPECT_EQ(mirror_index(-2, w), 1);
  EXPECT_EQ(mirror_index(w, w), w - 1);
  EXPECT_EQ(mirror_index(w + 1, w), w - 2);
  EXPECT_EQ(mirror_index(-w - 1, w), w - 1);
  EXPECT_EQ(mirror_index(2 * w, w), 0);
  EXPECT_EQ(mirror_index(2 * w - 1, w), 0);
  EXPECT_EQ(mirror_index(3, w), 3);
  for (int32_t v : {-1000, -1, 0, 1, 5, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(mirror_index(v, 1), 0) << v;
  }
  for (int32_t n = 1; n <= 9; ++n) {
    for (int32_t v = -60; v <= 60; ++v) EXPECT_EQ(mirror_index(v, n), fold(v, n, true));
  }
  // Far out: period 2n, and no overflow at the ends of the range.
  EXPECT_EQ(mirror_index(INT32_MIN, 5), fold(INT32_MIN % 10, 5, true));
  EXPECT_EQ(mirror_index(INT32_MAX, 5), fold(INT32_MAX % 10, 5, true));
  EXPECT_EQ(mirror_index(INT32_MAX, 1 << 30), 0);  // 2^31 - 1 = -1 + one period
}

// ----- Walk, progress and errors -----------------------------------------------------------

TEST(TileWalk, ProgressOncePerTileInOrder) {
  struct Case {
    int32_t w, h, p, tiles;
  };
  // ceil((W + P) / s) x ceil((H + P) / s) with s = 256 - 2P.
  for (const Case c :
       {Case{100, 100, 10, 1}, Case{600, 260, 10, 6}, Case{236, 1, 10, 2}, Case{235, 235, 10, 4}}) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    TestImage<PF_Pixel8> in(c.w, c.h, c.w, PF_Pixel8{255, 1, 2, 3});
    TestImage<PF_Pixel8> out(c.w, c.h, c.w);
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(in, out, Settings{}, {{0, 0, 1.0}}, c.p, log, count), PF_Err_NONE);
    ASSERT_EQ(static_cast<int32_t>(log.calls.size()), c.tiles);
    for (int32_t k = 0; k < c.tiles; ++k) {
      EXPECT_EQ(log.calls[k].first, k + 1);
      EXPECT_EQ(log.calls[k].second, 1000);
    }
    EXPECT_EQ(count, c.tiles);
  }
}

// 236 pixels across with margin 10: the second column of tiles starts at x = 226, so its
// inner square would begin at 236, past the last pixel, and it writes nothing; the rows of
// tiles down the 300 pixels both write. Four tiles are reported, and every pixel (the last
// columns included, which only the first column of tiles writes) is the direct convolution's.
TEST(TileWalk, TilesWritingNothingAreReportedAndTheImageIsStillWhole) {
  for (TilePath path : {TilePath::portable, TilePath::avx2, TilePath::avx512}) {
    if (!tile_path_available(path)) continue;
    SCOPED_TRACE(path_name(path));
    std::mt19937 rng(31);
    TestImage<PF_PixelFloat> in(236, 300, 236);
    randomise(in, rng);
    TestImage<PF_PixelFloat> out(236, 300, 240, sentinel<PF_PixelFloat>());
    const std::vector<Tap> taps = random_taps(10, rng);
    Settings s;
    s.path = path;
    s.weight_base = 1.02;
    ProgressLog log;
    int32_t count = 0;
    ASSERT_EQ(run_tiles(in, out, s, taps, 10, log, count), PF_Err_NONE);
    ASSERT_EQ(log.calls.size(), 4u);
    for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(log.calls[k].first, k + 1);
    EXPECT_EQ(count, 4);
    expect_matches_direct(in, out, taps, s);
    expect_padding_untouched(out);
  }
}

TEST(TileWalk, CancelStopsReportsButNotTheWalk) {
  std::mt19937 rng(23);
  TestImage<PF_Pixel8> in(600, 260, 603);
  randomise(in, rng);
  TestImage<PF_Pixel8> out(600, 260, 600, sentinel<PF_Pixel8>());
  const std::vector<Tap> taps = random_taps(10, rng);
  ProgressLog log;
  log.fail_at = 2;
  log.fail_code = PF_Interrupt_CANCEL;
  int32_t count = 0;
  EXPECT_EQ(run_tiles(in, out, Settings{}, taps, 10, log, count), PF_Interrupt_CANCEL);
  EXPECT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(count, 6);  // every tile still counted
  expect_matches_direct(in, out, taps, Settings{});
}

TEST(TileWalk, PendingErrorWalksNothing) {
  TestImage<PF_Pixel8> in(30, 20, 30, PF_Pixel8{255, 9, 9, 9});
  TestImage<PF_Pixel8> out(30, 20, 30, sentinel<PF_Pixel8>());
  TestPlanes planes(kN);
  ProgressLog log;
  int32_t count = 0;
  EXPECT_EQ(run_tiles(in, out, Settings{}, {{1, 2, 0.5}}, 3, log, count, 517, &planes), 517);
  EXPECT_TRUE(log.calls.empty());
  EXPECT_EQ(count, 0);
  for (const PF_Pixel8& px : out.pixels) ASSERT_EQ(px.red, 7);
  // The kernel was not transformed either.
  EXPECT_EQ(planes.kernel_at(kN / 2 + 1, kN / 2 + 2), 0.5);
  EXPECT_EQ(planes.kernel_at(0, 0), 0.0);
  EXPECT_EQ(planes.work[0], 0);
}

TEST(TileWalk, InconsistentArgumentsAreRefusedUntouched) {
  TestImage<PF_Pixel8> in(30, 20, 30, PF_Pixel8{255, 9, 9, 9});
  TestImage<PF_Pixel8> out(30, 20, 30, sentinel<PF_Pixel8>());
  TestPlanes planes(kN);
  TileHost host{nullptr, record_progress, nullptr};
  auto record = [&] {
    RenderRecord rec{};
    rec.width = 30;
    rec.height = 20;
    rec.input_stride = rec.output_stride = 30;
    attach_images(rec, in, out);
    rec.weight_base = 1.0;
    return rec;
  };
  auto run = [&](const RenderRecord& rec, int32_t n, int32_t p) {
    int32_t count = 0;
    return convolve_tiles(rec, n, p, planes.planes(), 1.0, count, 1, host, PF_Err_NONE);
  };
  EXPECT_EQ(run(record(), 300, 5), PF_Err_BAD_CALLBACK_PARAM);   // not a power of two
  EXPECT_EQ(run(record(), 2048, 5), PF_Err_BAD_CALLBACK_PARAM);  // beyond the largest tile
  EXPECT_EQ(run(record(), kN, 128), PF_Err_BAD_CALLBACK_PARAM);  // no step left
  EXPECT_EQ(run(record(), kN, -1), PF_Err_BAD_CALLBACK_PARAM);
  RenderRecord rec = record();
  rec.output_stride = 29;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_BAD_CALLBACK_PARAM);
  rec = record();
  rec.input_pixels8 = nullptr;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_BAD_CALLBACK_PARAM);
  rec = record();
  rec.pixel_format = 3;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_BAD_CALLBACK_PARAM);
  rec = record();
  rec.weight_base = 0.5;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_BAD_CALLBACK_PARAM);
  rec.weight_base = NAN;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_BAD_CALLBACK_PARAM);
  for (const PF_Pixel8& px : out.pixels) ASSERT_EQ(px.red, 7);
  // An empty image is nothing to do.
  rec = record();
  rec.width = 0;
  EXPECT_EQ(run(rec, kN, 5), PF_Err_NONE);
}

}  // namespace
