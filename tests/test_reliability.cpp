// Reliability of the module as a host runs it: non-finite float pixels (in the layer and in
// the iris layer) disturb at most the pixels within the blur's reach, and a long sequence of
// frames leaves the host's memory exactly as the first frame left it.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

using namespace module_test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A smooth picture with highlights: colours 0.1 to 0.95, alpha 0.5 to 1.
void fill_picture(hostsim::World& world) {
  for (int32_t y = 0; y < world.height(); ++y) {
    for (int32_t x = 0; x < world.width(); ++x) {
      PF_PixelFloat& p = world.at<PF_PixelFloat>(x, y);
      p.alpha = static_cast<float>(0.75 + 0.25 * std::sin(0.031 * x + 0.017 * y));
      p.red = static_cast<float>(0.5 + 0.4 * std::sin(0.05 * x));
      p.green = static_cast<float>(0.5 + 0.4 * std::cos(0.037 * y));
      p.blue = ((x / 16 + y / 16) % 5 == 0) ? 0.95f : 0.1f;
    }
  }
}

// An iris layer: a soft bright disc whose outer ring of pixels is black, so the kernel it
// gives reaches no farther than the radius.
std::shared_ptr<hostsim::World> disc_layer() {
  auto layer = std::make_shared<hostsim::World>(PF_PixelFormat_ARGB128, 32, 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const double d = std::hypot(x - 15.5, y - 15.5);
      const float v = d < 12.0 ? static_cast<float>(1.0 - d / 24.0) : 0.0f;
      layer->at<PF_PixelFloat>(x, y) = {1.0f, v, v * 0.8f, v * 0.6f};
    }
  }
  return layer;
}

struct BadPixel {
  int32_t x, y;
  PF_PixelFloat value;  // alpha, red, green, blue
};

// A NaN pixel and an infinite pixel, and single bad channels: -infinity in colour, NaN and
// +infinity in alpha.
const std::vector<BadPixel> kBadPixels = {
    {100, 120, {kNaN, kNaN, kNaN, kNaN}},   {400, 90, {kInf, kInf, kInf, kInf}},
    {260, 300, {1.0f, -kInf, 0.5f, -kInf}}, {120, 420, {kNaN, 0.7f, 0.7f, 0.7f}},
    {420, 400, {kInf, 0.3f, 0.9f, 0.3f}},
};

struct Render {
  PF_Err err = PF_Err_NONE;
  std::unique_ptr<hostsim::World> output;
};

Render render(hostsim::Instance& fx, const hostsim::World& input) {
  Render r;
  r.output = std::make_unique<hostsim::World>(input.format(), input.width(), input.height());
  r.err = fx.render_frame(hostsim::frame_request(input, *r.output)).err;
  return r;
}

bool all_finite(const hostsim::World& world) {
  for (int32_t y = 0; y < world.height(); ++y) {
    for (int32_t x = 0; x < world.width(); ++x) {
      const PF_PixelFloat& p = world.at<PF_PixelFloat>(x, y);
      if (!std::isfinite(p.alpha) || !std::isfinite(p.red) || !std::isfinite(p.green) ||
          !std::isfinite(p.blue)) {
        ADD_FAILURE() << "non-finite output at (" << x << ", " << y << ")";
        return false;
      }
    }
  }
  return true;
}

bool close(float a, float b) {
  return std::fabs(static_cast<double>(a) - b) <= 1e-6 * std::max(std::fabs(b), 1e-3f);
}

TEST(NonFinitePixels, PixelsBeyondTheBlursReachRenderAsWithoutThem) {
  hostsim::reset();
  auto fx = started_instance();
  hostsim::World clean(PF_PixelFormat_ARGB128, 512, 512);
  fill_picture(clean);
  hostsim::World dirty(PF_PixelFormat_ARGB128, 512, 512);
  fill_picture(dirty);
  for (const BadPixel& b : kBadPixels) dirty.at<PF_PixelFloat>(b.x, b.y) = b.value;

  fx->set_float(kSpecularBrightness, 1.3);  // boost the highlights above 200 / 255 too
  fx->set_int(kSpecularThreshold, 200);
  fx->set_int(kEdges, 6);
  fx->set_angle(kPhase, 20 << 16);
  fx->set_layer(kIrisLayer, disc_layer());

  for (int shape : {1, 2, 3}) {
    for (double radius : {6.0, 40.0}) {
      SCOPED_TRACE("shape " + std::to_string(shape) + ", radius " + std::to_string(radius));
      fx->set_int(kShape, shape);
      fx->set_float(kRadius, radius);
      const Render want = render(*fx, clean);
      const Render got = render(*fx, dirty);
      ASSERT_EQ(want.err, PF_Err_NONE);
      ASSERT_EQ(got.err, PF_Err_NONE);
      ASSERT_TRUE(all_finite(*got.output));

      int64_t compared = 0, differing = 0;
      for (int32_t y = 0; y < 512; ++y) {
        for (int32_t x = 0; x < 512; ++x) {
          bool far = true;
          for (const BadPixel& b : kBadPixels) {
            if (std::hypot(x - b.x, y - b.y) <= radius + 1.0) far = false;
          }
          if (!far) continue;
          ++compared;
          const PF_PixelFloat& g = got.output->at<PF_PixelFloat>(x, y);
          const PF_PixelFloat& w = want.output->at<PF_PixelFloat>(x, y);
          if (!close(g.alpha, w.alpha) || !close(g.red, w.red) || !close(g.green, w.green) ||
              !close(g.blue, w.blue)) {
            if (++differing <= 3) {
              ADD_FAILURE() << "(" << x << ", " << y << ") differs: " << g.red << " " << g.green
                            << " " << g.blue << " " << g.alpha << " against " << w.red << " "
                            << w.green << " " << w.blue << " " << w.alpha;
            }
          }
        }
      }
      EXPECT_EQ(differing, 0);
      // Nearly the whole frame lies beyond the reach of the five bad pixels.
      EXPECT_GT(compared, 512 * 512 - 5 * 3.1416 * (radius + 1) * (radius + 1) - 1);
    }
  }
  fx->finish();
}

TEST(NonFinitePixels, BadIrisLayerPixelsDoNotBlankTheFrame) {
  // The layer iris is drawn from another layer's pixels: a NaN or an infinity there must not
  // reach every output pixel through the kernel's spectrum. With those pixels read as 0 the
  // kernel changes only around them, so the frame renders almost as with zeros there.
  hostsim::reset();
  auto fx = started_instance();
  hostsim::World input(PF_PixelFormat_ARGB128, 96, 80);
  fill_picture(input);
  fx->set_int(kShape, 3);
  fx->set_float(kRadius, 10.0);

  auto zeros = disc_layer();
  auto bad = disc_layer();
  zeros->at<PF_PixelFloat>(14, 15) = {0.0f, 0.0f, 0.0f, 0.0f};
  bad->at<PF_PixelFloat>(14, 15) = {kNaN, kNaN, kNaN, kNaN};
  zeros->at<PF_PixelFloat>(20, 12) = {1.0f, 0.0f, 0.0f, 0.0f};
  bad->at<PF_PixelFloat>(20, 12) = {1.0f, kInf, kInf, kInf};

  fx->set_layer(kIrisLayer, zeros);
  const Render want = render(*fx, input);
  fx->set_layer(kIrisLayer, bad);
  const Render got = render(*fx, input);
  ASSERT_EQ(want.err, PF_Err_NONE);
  ASSERT_EQ(got.err, PF_Err_NONE);
  ASSERT_TRUE(all_finite(*got.output));
  double worst = 0;
  for (int32_t y = 0; y < input.height(); ++y) {
    for (int32_t x = 0; x < input.width(); ++x) {
      const PF_PixelFloat& g = got.output->at<PF_PixelFloat>(x, y);
      const PF_PixelFloat& w = want.output->at<PF_PixelFloat>(x, y);
      // The input is at least half opaque everywhere, and so is every blur of it.
      ASSERT_GE(g.alpha, 0.49f) << "(" << x << ", " << y << ")";
      for (double d : {g.alpha - w.alpha, g.red - w.red, g.green - w.green, g.blue - w.blue}) {
        worst = std::max(worst, std::fabs(d));
      }
    }
  }
  EXPECT_LT(worst, 0.02);
  fx->finish();
}

TEST(NonFinitePixels, BoostedColoursNearTheTopOfTheFloatRangeStayFinite) {
  // Finite input and parameters in range must not produce an infinity: a colour boosted past
  // the largest float comes out as the largest float. Below that the boost is exact.
  hostsim::reset();
  auto fx = started_instance();
  fx->set_float(kRadius, 3.0);
  fx->set_float(kWeight, 0.0);  // no weighting: colour is not limited above
  fx->set_float(kSpecularBrightness, 1.5);
  fx->set_int(kSpecularThreshold, 0);
  hostsim::World input(PF_PixelFormat_ARGB128, 8, 8);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) input.at<PF_PixelFloat>(x, y) = {1.0f, FLT_MAX, 2.0f, 3e38f};
  }
  const Render r = render(*fx, input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  ASSERT_TRUE(all_finite(*r.output));
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      const PF_PixelFloat& p = r.output->at<PF_PixelFloat>(x, y);
      EXPECT_EQ(p.red, FLT_MAX);
      EXPECT_NEAR(p.green, 3.0f, 1e-6);
      EXPECT_EQ(p.blue, FLT_MAX);
      EXPECT_NEAR(p.alpha, 1.0f, 1e-6);
    }
  }
  fx->finish();
}

TEST(LongSequence, FiveHundredFramesLeaveTheHostAsTheFirstFrameDid) {
  // Small frames in every format and shape, with the radius stepping through zero (the plain
  // copy), parameter changes and UI updates along the way, as an editing session makes them.
  hostsim::reset();
  hostsim::set_call_log_limit(0);  // counts only: a layer kernel makes 65536 sampling calls
  auto fx = started_instance();
  auto layer = disc_layer();
  const PF_PixelFormat formats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                    PF_PixelFormat_ARGB128};
  std::vector<std::unique_ptr<hostsim::World>> inputs;
  for (PF_PixelFormat f : formats) {
    inputs.push_back(std::make_unique<hostsim::World>(f, 24, 20, 27 * hostsim::pixel_size(f)));
    fill_pattern(*inputs.back(), 7);
  }

  hostsim::HandleStats after_first{};
  for (int frame = 0; frame < 500; ++frame) {
    fx->set_float(kRadius, (frame % 7) * 1.5);
    fx->set_int(kShape, 1 + (frame / 7) % 3);
    fx->set_layer(kIrisLayer, frame % 11 == 0 ? nullptr : layer);
    if (frame % 50 == 25) {
      ASSERT_EQ(fx->user_changed_param().err, PF_Err_NONE);
      ASSERT_EQ(fx->update_params_ui().err, PF_Err_NONE);
    }
    const hostsim::World& input = *inputs[frame % 3];
    hostsim::World output(input.format(), input.width(), input.height());
    const hostsim::FrameResult r = fx->render_frame(hostsim::frame_request(input, output, frame));
    ASSERT_EQ(r.err, PF_Err_NONE) << "frame " << frame;
    if (frame == 0) {
      after_first = hostsim::handle_stats();
      hostsim::reset_handle_counters();
    }
  }
  const hostsim::HandleStats after_last = hostsim::handle_stats();
  EXPECT_EQ(after_last.live_count, after_first.live_count);
  EXPECT_EQ(after_last.live_bytes, after_first.live_bytes);
  EXPECT_EQ(after_last.locked_count, after_first.locked_count);
  EXPECT_EQ(after_last.allocations, after_last.disposals);
  EXPECT_GT(after_last.allocations, 499 * 4);  // the frames did take working memory
  EXPECT_EQ(after_last.faults, 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  EXPECT_EQ(hostsim::fault_count(), 0);

  fx->finish();
  EXPECT_EQ(hostsim::handle_stats().live_count, after_first.live_count - 2)
      << "setdown gives back the global and sequence data";
  hostsim::set_call_log_limit(uint64_t{1} << 18);
}

}  // namespace
