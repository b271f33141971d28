// Tests of the iris kernels: worked-out circle and polygon values, the polygon against an
// independent outline (the regular polygon's support function), the layer iris through a
// fake nearest-pixel sampler, and the refusal of requests that cannot be drawn.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "render/iris_kernel.h"
#include "render/render_record.h"
#include "tests/render_test_support.h"

namespace {

constexpr int32_t kN = 256;
constexpr int32_t kC = kN / 2;
constexpr double kPi = 3.141592653589793;

PF_ANSICallbacks std_math() {
  PF_ANSICallbacks ansi{};
  ansi.sqrt = [](double v) { return std::sqrt(v); };
  ansi.cos = [](double v) { return std::cos(v); };
  ansi.atan2 = [](double y, double x) { return std::atan2(y, x); };
  ansi.fmod = [](double a, double b) { return std::fmod(a, b); };
  return ansi;
}

// A layer image with a nearest-pixel sampler (pixel k covers [k, k + 1)), transparent black
// outside, which records every position it is asked for and can fail on a chosen call.
struct FakeLayer {
  FakeLayer(int32_t w, int32_t h) : argb(static_cast<size_t>(w) * h) {
    world.width = w;
    world.height = h;
    world.data = argb.data();
  }
  std::array<double, 4>& at(int32_t x, int32_t y) {
    return argb[static_cast<size_t>(y) * world.width + x];
  }
  // Alpha, red, green, blue in the units of the pixel format under test.
  std::vector<std::array<double, 4>> argb;
  PF_EffectWorld world{};
  std::vector<std::pair<PF_Fixed, PF_Fixed>> calls;
  size_t fail_at = 0;
  PF_Err fail_code = PF_Err_NONE;
  bool block_as_expected = true;
};

template <typename Pixel, typename Channel>
PF_Err fake_sample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, Pixel* out) {
  auto* layer = reinterpret_cast<FakeLayer*>(ref);
  layer->calls.emplace_back(x, y);
  if (pb->src != &layer->world || pb->x_radius != 0 || pb->area != 0 || pb->samp_behave != 0) {
    layer->block_as_expected = false;
  }
  if (layer->fail_at != 0 && layer->calls.size() == layer->fail_at) {
    *out = Pixel{Channel(3), Channel(3), Channel(3), Channel(3)};  // junk of a failed call
    return layer->fail_code;
  }
  const auto ix = static_cast<int64_t>(std::floor(x / 65536.0));
  const auto iy = static_cast<int64_t>(std::floor(y / 65536.0));
  if (ix < 0 || iy < 0 || ix >= layer->world.width || iy >= layer->world.height) {
    *out = Pixel{};
    return PF_Err_NONE;
  }
  const auto& p = layer->at(static_cast<int32_t>(ix), static_cast<int32_t>(iy));
  *out = Pixel{Channel(p[0]), Channel(p[1]), Channel(p[2]), Channel(p[3])};
  return PF_Err_NONE;
}

const PF_Sampling8Suite1 kSampling8{nullptr, fake_sample<PF_Pixel8, uint8_t>, nullptr};
const PF_Sampling16Suite1 kSampling16{nullptr, fake_sample<PF_Pixel16, uint16_t>, nullptr};
const PF_SamplingFloatSuite1 kSamplingFloat{nullptr, fake_sample<PF_PixelFloat, float>, nullptr};

IrisSampler samplers(FakeLayer* layer) {
  return {reinterpret_cast<PF_ProgPtr>(layer), &kSampling8, &kSampling16, &kSamplingFloat};
}

KernelRequest request(int32_t shape, double radius) {
  KernelRequest r{};
  r.radius = radius;
  r.n = kN;
  r.shape = shape;
  r.edges = 6;
  r.pixel_format = kPixelFormat8;
  return r;
}

// Builds into a plane pre-filled with not-a-numbers, so an element left out shows.
struct Built {
  PF_Err err;
  double sum;
  TestPlanes planes{kN};
  double at(int32_t dx, int32_t dy) { return planes.kernel_at(kC + dx, kC + dy); }
};

void build(Built& out, const KernelRequest& req, const IrisSampler& sampler = {},
           double start_sum = 0.0) {
  std::fill(out.planes.kernel.begin(), out.planes.kernel.end(),
            std::numeric_limits<double>::quiet_NaN());
  out.sum = start_sum;
  out.err = build_kernel(req, sampler, std_math(), out.planes.planes().kernel, out.sum);
}

// Every element written, imaginary parts zero, and the sum equal to the plane's sum taken
// in fill order on top of the starting value.
void expect_complete(Built& k, double start_sum = 0.0) {
  double sum = start_sum;
  for (int32_t a = 0; a < kN; ++a) {
    for (int32_t b = 0; b < kN; ++b) {
      ASSERT_FALSE(std::isnan(k.planes.kernel_at(a, b))) << a << ", " << b;
      ASSERT_EQ(k.planes.kernel_imag(a, b), 0.0) << a << ", " << b;
      sum += k.planes.kernel_at(a, b);
    }
  }
  EXPECT_EQ(k.sum, sum);
}

double rim(double s, double radius) {
  const double f = s - radius + 1.0;
  return f < 0.0 ? 1.0 : f > 2.0 ? 0.0 : 1.0 - 0.5 * f;
}

// ----- Circle -------------------------------------------------------------------------------

TEST(CircleKernel, WorkedValues) {
  Built k;
  build(k, request(kShapeCircle, 10.0), {}, 5.0);
  ASSERT_EQ(k.err, PF_Err_NONE);
  expect_complete(k, 5.0);
  EXPECT_EQ(k.at(0, 0), 1.0);
  EXPECT_EQ(k.at(10, 0), 0.5);
  EXPECT_EQ(k.at(11, 0), 0.0);
  EXPECT_EQ(k.at(9, 0), 1.0);
  EXPECT_EQ(k.at(0, -10), 0.5);
  EXPECT_EQ(k.at(-6, 8), 0.5);  // distance 10 off the axes
  EXPECT_NEAR(k.at(7, 7), rim(std::hypot(7.0, 7.0), 10.0), 1e-15);

  build(k, request(kShapeCircle, 0.5));
  expect_complete(k);
  EXPECT_EQ(k.at(0, 0), 0.75);
  for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) EXPECT_EQ(k.at(dx, dy), 0.25);
  EXPECT_EQ(k.at(2, 0), 0.0);
  EXPECT_NEAR(k.sum, 0.75 + 4 * 0.25 + 4 * rim(std::sqrt(2.0), 0.5), 1e-12);
}

TEST(CircleKernel, MatchesTheRimRuleEverywhere) {
  // Whole radii put lattice points exactly on R - 1 and R + 1, where the ramp's ends are.
  for (double r : {1.0, 2.0, 3.0, 17.25, 50.0, 127.0}) {
    Built k;
    build(k, request(kShapeCircle, r));
    for (int32_t a = 0; a < kN; ++a) {
      for (int32_t b = 0; b < kN; ++b) {
        ASSERT_NEAR(k.planes.kernel_at(a, b), rim(std::hypot(a - kC, b - kC), r), 1e-12);
      }
    }
  }
}

// Without a layer (none chosen, or no pixels at this time) the layer iris is the circle.
TEST(CircleKernel, LayerShapeWithoutPixelsIsTheCircle) {
  Built circle;
  build(circle, request(kShapeCircle, 23.5), {}, 1.0);
  FakeLayer empty(10, 10);
  empty.world.data = nullptr;
  for (const PF_EffectWorld* layer : {static_cast<const PF_EffectWorld*>(nullptr),
                                      static_cast<const PF_EffectWorld*>(&empty.world)}) {
    KernelRequest req = request(kShapeLayer, 23.5);
    req.iris_layer = layer;
    Built k;
    build(k, req, samplers(&empty), 1.0);
    ASSERT_EQ(k.err, PF_Err_NONE);
    EXPECT_EQ(k.planes.kernel, circle.planes.kernel);
    EXPECT_EQ(k.sum, circle.sum);
  }
  EXPECT_TRUE(empty.calls.empty());
}

// ----- Polygon ------------------------------------------------------------------------------

// The outline through the support function of the regular polygon: the sides' normals point
// midway between the corners, -phase + (2k + 1) pi / n; a point's scaled distance is its
// largest projection on a normal over the inradius ratio cos(pi / n).
double polygon_reference(int32_t dx, int32_t dy, double radius, int32_t n, double phase) {
  if (dx * dx + dy * dy > radius * radius) return 0.0;
  double s = -std::numeric_limits<double>::infinity();
  for (int32_t k = 0; k < n; ++k) {
    const double normal = -phase + (2 * k + 1) * kPi / n;
    s = std::max(s, dx * std::cos(normal) + dy * std::sin(normal));
  }
  return rim(s / std::cos(kPi / n), radius);
}

KernelRequest polygon(int32_t edges, double phase, double radius) {
  KernelRequest r = request(kShapePolygon, radius);
  r.edges = edges;
  r.phase = phase;
  return r;
}

TEST(PolygonKernel, DiamondValues) {
  Built k;
  build(k, polygon(4, 0.0, 10.0));
  ASSERT_EQ(k.err, PF_Err_NONE);
  expect_complete(k);
  EXPECT_NEAR(k.at(10, 0), 0.5, 1e-12);  // the corner along +x
  EXPECT_NEAR(k.at(9, 0), 1.0, 1e-12);
  EXPECT_NEAR(k.at(5, 5), 0.5, 1e-12);  // middle of a side, at 10 cos(pi / 4)
  EXPECT_EQ(k.at(7, 7), 0.0);           // inside the circle, outside the diamond
  EXPECT_EQ(k.at(11, 0), 0.0);          // nothing beyond R
}

TEST(PolygonKernel, MatchesTheOutlineForAnyPhase) {
  for (int32_t n : {3, 4, 5, 6, 16}) {
    for (double phase :
         {0.0, 0.3, 1.0, 2.5, 4.0, 10.0, -0.4, -1.2, -2.5, -3.1, -4.0, -5.5, -7.0, -10.0, -20.0}) {
      for (double r : {40.0, 7.3}) {
        SCOPED_TRACE("n " + std::to_string(n) + ", phase " + std::to_string(phase) + ", R " +
                     std::to_string(r));
        Built k;
        build(k, polygon(n, phase, r));
        ASSERT_EQ(k.err, PF_Err_NONE);
        int failures = 0;
        for (int32_t dx = -kC; dx < kC; ++dx) {
          for (int32_t dy = -kC; dy < kC; ++dy) {
            const double want = polygon_reference(dx, dy, r, n, phase);
            if (std::fabs(k.at(dx, dy) - want) > 1e-9 && ++failures < 4) {
              ADD_FAILURE() << "(" << dx << ", " << dy << "): " << k.at(dx, dy) << " vs " << want;
            }
          }
        }
        EXPECT_EQ(failures, 0);
      }
    }
  }
}

// Corners and side middles placed on the lattice direction (4, 3), so the worked values fall on
// elements: a corner at distance R - 1 is 1 and beyond R is 0; a side middle at R cos(pi / n)
// is 0.5. Each phase also shifted by whole turns, negative ones included.
TEST(PolygonKernel, CornersAndSideMiddlesAtTheirPlaces) {
  const double toward = std::atan2(3.0, 4.0);
  for (int32_t n : {3, 5, 6}) {
    const double h = kPi / n;
    for (double turns : {0.0, 1.0, -1.0, -2.0}) {
      SCOPED_TRACE("n " + std::to_string(n) + ", turns " + std::to_string(turns));
      // Corner number 1 along (4, 3): the corners lie at -phase + k 2 pi / n.
      Built k;
      build(k, polygon(n, -toward + 2 * h + turns * 2 * kPi, 31.0));
      EXPECT_NEAR(k.at(24, 18), 1.0, 1e-9);  // distance 30
      EXPECT_NEAR(k.at(20, 15), 1.0, 1e-9);
      EXPECT_EQ(k.at(28, 21), 0.0);  // distance 35
      // A side's middle along (4, 3), at distance 20 = R cos(pi / n).
      const double r = 20.0 / std::cos(h);
      build(k, polygon(n, h - toward + turns * 2 * kPi, r));
      EXPECT_NEAR(k.at(16, 12), 0.5, 1e-9);
      EXPECT_NEAR(k.at(12, 9), 1.0, 1e-9);  // 5 / cos(h) inside
      EXPECT_EQ(k.at(20, 15), 0.0);         // 5 / cos(h) outside
    }
  }
}

TEST(PolygonKernel, WholeTurnsGiveTheSameKernel) {
  for (double phase : {0.7, -0.7, 3.3, -5.9}) {
    Built base;
    build(base, polygon(5, phase, 50.0));
    for (double shift : {2 * kPi, -2 * kPi, 4 * kPi}) {
      Built k;
      build(k, polygon(5, phase + shift, 50.0));
      for (size_t e = 0; e < k.planes.kernel.size(); ++e) {
        ASSERT_NEAR(k.planes.kernel[e], base.planes.kernel[e], 1e-9) << phase << " + " << shift;
      }
    }
  }
}

// ----- Layer --------------------------------------------------------------------------------

// A 100 x 50 layer at R = 50 is drawn at scale 1: element [a][b] samples layer pixel
// (a - 128 + 50, b - 128 + 25), so the 100 columns cover dx -50..49 and the rows dy -25..24.
TEST(LayerKernel, OneLayerPixelPerElementAtScaleOne) {
  FakeLayer layer(100, 50);
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> c(0, 255);
  for (auto& p : layer.argb) p = {double(c(rng)), double(c(rng)), double(c(rng)), double(c(rng))};
  KernelRequest req = request(kShapeLayer, 50.0);
  req.iris_layer = &layer.world;
  Built k;
  build(k, req, samplers(&layer));
  ASSERT_EQ(k.err, PF_Err_NONE);
  expect_complete(k);
  EXPECT_TRUE(layer.block_as_expected);
  ASSERT_EQ(layer.calls.size(), size_t(kN) * kN);
  for (int32_t a = 0; a < kN; ++a) {
    for (int32_t b = 0; b < kN; ++b) {
      const auto [xf, yf] = layer.calls[size_t(a) * kN + b];
      ASSERT_EQ(xf, (a - kC + 50) * 65536);
      ASSERT_EQ(yf, (b - kC + 25) * 65536);
      const int32_t lx = a - kC + 50, ly = b - kC + 25;
      double want = 0.0;
      if (lx >= 0 && lx < 100 && ly >= 0 && ly < 50) {
        const auto& p = layer.at(lx, ly);
        want = std::max({p[1], p[2], p[3]}) * p[0] / 65025.0;
      }
      ASSERT_EQ(k.planes.kernel_at(a, b), want) << a << ", " << b;
    }
  }
}

// An L: a vertical bar with its foot pointing to +x at the bottom (+y). Transposed or
// mirrored it would point elsewhere.
TEST(LayerKernel, AsymmetricLayerKeepsItsOrientation) {
  FakeLayer layer(20, 20);
  auto in_l = [](int32_t x, int32_t y) {
    return (x >= 2 && x <= 5 && y >= 2 && y <= 17) || (y >= 14 && y <= 17 && x >= 2 && x <= 15);
  };
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 20; ++x) {
      layer.at(x, y) = in_l(x, y) ? std::array<double, 4>{255, 255, 255, 255}
                                  : std::array<double, 4>{255, 0, 0, 0};
    }
  }
  KernelRequest req = request(kShapeLayer, 10.0);
  req.iris_layer = &layer.world;
  Built k;
  build(k, req, samplers(&layer));
  ASSERT_EQ(k.err, PF_Err_NONE);
  EXPECT_EQ(k.at(-6, -6), 1.0);  // layer (4, 4): the bar
  EXPECT_EQ(k.at(4, 6), 1.0);    // layer (14, 16): the foot
  EXPECT_EQ(k.at(6, -6), 0.0);   // layer (16, 4): where a transposed L would have its foot
  for (int32_t dx = -kC; dx < kC; ++dx) {
    for (int32_t dy = -kC; dy < kC; ++dy) {
      ASSERT_EQ(k.at(dx, dy), in_l(dx + 10, dy + 10) ? 1.0 : 0.0) << dx << ", " << dy;
    }
  }
  EXPECT_EQ(k.sum, 16 * 4 + 4 * 10);
}

// Positions go to 16.16 rounded half away from zero. A 1 x 601 layer at R = 65536 gives the
// exact positions x = 0.5 + 300.5 d / 65536 and y = 300.5 + 300.5 d / 65536 (d = element
// offset): half-way cases on both sides of zero.
TEST(LayerKernel, PositionsRoundHalfAwayFromZero) {
  FakeLayer layer(1, 601);
  KernelRequest req = request(kShapeLayer, 65536.0);
  req.iris_layer = &layer.world;
  Built k;
  build(k, req, samplers(&layer));
  ASSERT_EQ(k.err, PF_Err_NONE);
  // Twice the exact fixed-point value is an integer; halve it rounding half away from zero.
  auto half_away = [](int64_t twice) -> int64_t {
    if (twice % 2 == 0) return twice / 2;
    return twice > 0 ? (twice + 1) / 2 : (twice - 1) / 2;
  };
  for (int32_t a = 0; a < kN; ++a) {
    const auto [xf, yf] = layer.calls[size_t(a) * kN + (a % kN)];
    ASSERT_EQ(xf, half_away(65536 + 601 * int64_t(a - kC))) << a;
    ASSERT_EQ(yf, half_away(2 * 19693568 + 601 * int64_t(a - kC))) << a;
  }
  EXPECT_EQ(layer.calls[1 * kN].first, -5396);    // d = -127: -5395.5
  EXPECT_EQ(layer.calls[255 * kN].first, 70932);  // d = 127: 70931.5
}

// The value is the brightest colour channel times alpha, each on its format's full scale;
// float values are taken as they are. The sampler is the one of the render's format.
TEST(LayerKernel, ValuePerPixelFormat) {
  struct Case {
    int8_t format;
    std::array<double, 4> argb;
    double value;
  };
  const Case cases[] = {
      {kPixelFormat8, {128, 10, 200, 90}, 200 * 128 / 65025.0},
      {kPixelFormat16, {16384, 1000, 30000, 5}, 30000 * 0.5 / 32768.0},
      {kPixelFormatFloat, {1.5, 2.0, -1.0, 0.5}, 3.0},
      {kPixelFormatFloat, {0.5, -2.0, -1.0, -0.5}, -0.25},
  };
  for (const Case& c : cases) {
    FakeLayer layer(4, 4);
    for (auto& p : layer.argb) p = c.argb;
    KernelRequest req = request(kShapeLayer, 2.0);  // scale 1: a 4 x 4 patch of the layer
    req.iris_layer = &layer.world;
    req.pixel_format = c.format;
    Built k;
    // Only the format's own sampler is handed over.
    IrisSampler only = samplers(&layer);
    if (c.format != kPixelFormat8) only.sampling8 = nullptr;
    if (c.format != kPixelFormat16) only.sampling16 = nullptr;
    if (c.format != kPixelFormatFloat) only.sampling_float = nullptr;
    build(k, req, only);
    ASSERT_EQ(k.err, PF_Err_NONE);
    expect_complete(k);
    EXPECT_EQ(k.at(0, 0), c.value);
    EXPECT_EQ(k.at(-2, -2), c.value);
    EXPECT_EQ(k.at(1, 1), c.value);
    EXPECT_EQ(k.at(2, 0), 0.0);
    EXPECT_EQ(k.at(0, -3), 0.0);
    EXPECT_NEAR(k.sum, 16 * c.value, 1e-12);
  }
}

TEST(LayerKernel, TransparentOrBlackLayerGivesZeroKernel) {
  for (const std::array<double, 4> px :
       {std::array<double, 4>{0, 255, 255, 255}, std::array<double, 4>{255, 0, 0, 0}}) {
    FakeLayer layer(30, 20);
    for (auto& p : layer.argb) p = px;
    KernelRequest req = request(kShapeLayer, 40.0);
    req.iris_layer = &layer.world;
    Built k;
    build(k, req, samplers(&layer));
    ASSERT_EQ(k.err, PF_Err_NONE);
    expect_complete(k);
    EXPECT_EQ(k.sum, 0.0);
    for (double v : k.planes.kernel) ASSERT_EQ(v, 0.0);
  }
}

// A failed sampling call stops the sampling; every element is still written, those after the
// failure from the last pixel read.
TEST(LayerKernel, SamplingFailureStopsSamplingOnTheKthCall) {
  for (size_t fail_at : {size_t(1), size_t(kN) * kC + kC + 2, size_t(kN) * kN}) {
    FakeLayer layer(64, 64);
    for (int32_t y = 0; y < 64; ++y) {
      for (int32_t x = 0; x < 64; ++x) layer.at(x, y) = {255, double(x), double(y), 3};
    }
    layer.fail_at = fail_at;
    layer.fail_code = PF_Interrupt_CANCEL;
    KernelRequest req = request(kShapeLayer, 32.0);
    req.iris_layer = &layer.world;
    Built k;
    build(k, req, samplers(&layer));
    EXPECT_EQ(k.err, PF_Interrupt_CANCEL);
    EXPECT_EQ(layer.calls.size(), fail_at);
    expect_complete(k);
    const size_t last_good = fail_at - 1;  // elements before the failing call, in fill order
    const double held = last_good == 0 ? 0.0 : k.planes.kernel[2 * (last_good - 1)];
    for (size_t e = last_good; e < size_t(kN) * kN; ++e) {
      ASSERT_EQ(k.planes.kernel[2 * e], held) << e;
    }
  }
}

// ----- Requests that cannot be drawn ------------------------------------------------------

TEST(KernelRequests, RefusedWithoutTouchingThePlane) {
  FakeLayer layer(8, 8);
  std::vector<KernelRequest> bad;
  KernelRequest r = polygon(2, 0.0, 10.0);  // two corners is no polygon
  bad.push_back(r);
  r = polygon(5, NAN, 10.0);
  bad.push_back(r);
  r = request(0, 10.0);  // unknown shape
  bad.push_back(r);
  r = request(4, 10.0);
  bad.push_back(r);
  r = request(kShapeCircle, -1.0);
  bad.push_back(r);
  r = request(kShapeCircle, NAN);
  bad.push_back(r);
  r = request(kShapeCircle, 10.0);
  r.n = 300;
  bad.push_back(r);
  r.n = 0;
  bad.push_back(r);
  r = request(kShapeLayer, 10.0);
  r.iris_layer = &layer.world;
  r.pixel_format = 5;  // no such format
  bad.push_back(r);
  for (size_t i = 0; i < bad.size(); ++i) {
    Built k;
    build(k, bad[i], samplers(&layer), 2.5);
    EXPECT_EQ(k.err, PF_Err_BAD_CALLBACK_PARAM) << "request " << i;
    EXPECT_EQ(k.sum, 2.5) << "request " << i;
    for (double v : k.planes.kernel) ASSERT_TRUE(std::isnan(v)) << "request " << i;
  }
  // A layer iris with no sampler for the render's format.
  r = request(kShapeLayer, 10.0);
  r.iris_layer = &layer.world;
  r.pixel_format = kPixelFormat16;
  IrisSampler none = samplers(&layer);
  none.sampling16 = nullptr;
  Built k;
  build(k, r, none);
  EXPECT_EQ(k.err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(layer.calls.empty());
}

// The host's math routines are optional: without them the platform's give the same kernel.
TEST(KernelRequests, WorksWithoutHostMathRoutines) {
  Built with;
  build(with, polygon(7, -1.1, 33.3));
  Built without;
  std::fill(without.planes.kernel.begin(), without.planes.kernel.end(), NAN);
  without.sum = 0.0;
  const PF_ANSICallbacks none{};
  ASSERT_EQ(
      build_kernel(polygon(7, -1.1, 33.3), {}, none, without.planes.planes().kernel, without.sum),
      PF_Err_NONE);
  EXPECT_EQ(without.planes.kernel, with.planes.kernel);
}

}  // namespace
