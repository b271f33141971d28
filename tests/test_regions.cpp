// Rendering part of a layer through the loaded module: a region of the picture, asked for as
// a host asks (the request rectangle of smart pre-render), equals that part of the render of
// the whole picture, whatever the region, pixel format, outside rule or radius. The tile grid
// of a region starts elsewhere than the whole frame's, so integer channels may round the
// other way now and then and float values differ by rounding only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "module_test_support.h"
#include "render/render_record.h"

namespace {

using namespace module_test;

struct Look {
  PF_PixelFormat format;
  int32_t outside;  // 1 Mirror, 2 Edge
  double radius;
  int32_t width, height;
  int32_t shape;  // 1 Circle, 2 Polygon (not symmetric: a misplaced region shows)
};

std::string look_name(const Look& look) {
  return std::string(hostsim::format_name(look.format)) +
         (look.outside == 1 ? " mirror" : " edge") + " radius " + std::to_string(look.radius) +
         " " + std::to_string(look.width) + "x" + std::to_string(look.height);
}

// Channel differences of the region renders against the whole render, over all regions.
struct Tally {
  int64_t channels = 0;
  int64_t off_by_one = 0;  // integer formats: channels one unit away
  int64_t wrong = 0;       // beyond the tolerance
  std::string first_wrong;
};

void apply(hostsim::Instance& fx, const Look& look) {
  fx.set_float(kRadius, look.radius);
  fx.set_float(kWeight, 4.0);
  fx.set_float(kSpecularBrightness, 1.2);
  fx.set_int(kSpecularThreshold, 150);
  fx.set_int(kShape, look.shape);
  fx.set_int(kEdges, 5);
  fx.set_angle(kPhase, 17 * 65536);
  fx.set_int(kOutside, look.outside);
}

// A value no render writes: transparent with colour (the effect writes transparent pixels as
// transparent black).
hostsim::Pixel sentinel(PF_PixelFormat format) {
  const double s = hostsim::full_scale(format);
  return {0.0, s, 0.0, s};
}

bool same_pixel(const hostsim::Pixel& a, const hostsim::Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// Float: within 1e-6 of the larger of the two values, or of full scale (1.0) below it, where
// the transform's rounding error is set by the tile's brightest values.
bool float_close(double got, double want) {
  return std::fabs(got - want) <= 1e-6 * std::max({std::fabs(got), std::fabs(want), 1.0});
}

void compare_channel(PF_PixelFormat format, double got, double want, int32_t x, int32_t y,
                     Tally& tally) {
  ++tally.channels;
  bool ok;
  if (format == PF_PixelFormat_ARGB128) {
    ok = float_close(got, want);
  } else {
    const double d = std::fabs(got - want);
    if (d == 1.0) ++tally.off_by_one;
    ok = d <= 1.0;
  }
  if (!ok && tally.wrong++ == 0) {
    // Appended piece by piece: GCC 12 at -O3 warns of an overlap (-Wrestrict) in a chain of
    // string additions where there is none.
    for (const std::string& piece :
         {std::string("("), std::to_string(x), std::string(", "), std::to_string(y),
          std::string("): got "), std::to_string(got), std::string(", whole render "),
          std::to_string(want)})
      tally.first_wrong += piece;
  }
}

class Regions : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    live_before_ = hostsim::handle_stats().live_count;
    fx_ = started_instance();
  }
  void TearDown() override {
    EXPECT_EQ(fx_->finish().err, PF_Err_NONE);
    fx_.reset();
    EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    EXPECT_EQ(hostsim::fault_count(), 0);
  }

  std::unique_ptr<hostsim::World> layer(const Look& look, uint32_t seed) {
    auto in = std::make_unique<hostsim::World>(look.format, look.width, look.height);
    fill_pattern(*in, seed);
    return in;
  }

  // The request `rect` rendered into an output world of the layer's size prefilled with the
  // sentinel: inside the rectangle (as far as the layer reaches) it must equal `whole`,
  // outside it must be untouched.
  void render_region(const hostsim::World& in, const hostsim::World& whole, const PF_LRect& rect,
                     Tally& tally) {
    SCOPED_TRACE("region " + std::to_string(rect.left) + "," + std::to_string(rect.top) + " to " +
                 std::to_string(rect.right) + "," + std::to_string(rect.bottom));
    hostsim::World out(in.format(), in.width(), in.height());
    out.fill(sentinel(in.format()));
    hostsim::FrameRequest request = hostsim::frame_request(in, out);
    request.request_rect = rect;
    const hostsim::FrameResult r = fx_->render_frame(request);
    ASSERT_EQ(r.err, PF_Err_NONE);
    for (int32_t y = 0; y < in.height(); ++y) {
      for (int32_t x = 0; x < in.width(); ++x) {
        const hostsim::Pixel got = out.read(x, y);
        if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) {
          ASSERT_TRUE(same_pixel(got, sentinel(in.format())))
              << "pixel (" << x << ", " << y << ") outside the region was written";
          continue;
        }
        const hostsim::Pixel want = whole.read(x, y);
        compare_channel(in.format(), got.alpha, want.alpha, x, y, tally);
        compare_channel(in.format(), got.red, want.red, x, y, tally);
        compare_channel(in.format(), got.green, want.green, x, y, tally);
        compare_channel(in.format(), got.blue, want.blue, x, y, tally);
      }
    }
  }

  std::unique_ptr<hostsim::World> render_whole(const hostsim::World& in) {
    auto whole = std::make_unique<hostsim::World>(in.format(), in.width(), in.height());
    EXPECT_EQ(fx_->render_frame(hostsim::frame_request(in, *whole)).err, PF_Err_NONE);
    return whole;
  }

  void expect_within_tolerance(const Tally& tally) {
    EXPECT_EQ(tally.wrong, 0) << "first: " << tally.first_wrong;
    // Rounding the other way is rare: under one channel in a thousand.
    EXPECT_LT(tally.off_by_one * 1000, tally.channels) << tally.off_by_one << " of "
                                                       << tally.channels;
  }

  // Four quadrants (odd sizes, so they differ), regions along each edge of the layer, a
  // region reaching past the layer, a single pixel and a few random rectangles.
  void check_look(const Look& look, int random_regions, bool edge_regions) {
    SCOPED_TRACE(look_name(look));
    apply(*fx_, look);
    const auto in = layer(look, static_cast<uint32_t>(look.radius * 10) + look.outside);
    const auto whole = render_whole(*in);
    const int32_t w = look.width, h = look.height, cx = w / 2 + 1, cy = h / 2 - 1;
    std::vector<PF_LRect> rects = {{0, 0, cx, cy}, {cx, 0, w, cy}, {0, cy, cx, h}, {cx, cy, w, h}};
    if (edge_regions) {
      rects.push_back({0, h / 3, w / 4, h / 3 + 9});          // left edge
      rects.push_back({w - w / 5, 2, w, h / 2});              // right edge
      rects.push_back({w / 3, 0, w / 3 + 17, 5});             // top edge
      rects.push_back({3, h - h / 4, w - 3, h});              // bottom edge
      rects.push_back({w - 7, -20, w + 30, 9});               // past the top-right corner
      rects.push_back({w / 2, h / 2, w / 2 + 1, h / 2 + 1});  // one pixel
      rects.push_back({0, h - 1, 1, h});                      // the bottom-left pixel
    }
    std::mt19937 rng(static_cast<uint32_t>(look.width * 131 + look.radius * 7));
    for (int i = 0; i < random_regions; ++i) {
      std::uniform_int_distribution<int32_t> across(0, w - 1), down(0, h - 1);
      const int32_t left = across(rng), top = down(rng);
      std::uniform_int_distribution<int32_t> wide(1, w - left), tall(1, h - top);
      rects.push_back({left, top, left + wide(rng), top + tall(rng)});
    }
    Tally tally;
    for (const PF_LRect& rect : rects) render_region(*in, *whole, rect, tally);
    expect_within_tolerance(tally);
  }

  int64_t live_before_ = 0;
  std::unique_ptr<hostsim::Instance> fx_;
};

constexpr PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                       PF_PixelFormat_ARGB128};

// Tile size 256: the region and the whole frame each fit one tile.
TEST_F(Regions, SmallRadiiEveryFormatAndRule) {
  for (const PF_PixelFormat format : kFormats) {
    for (const int32_t outside : {1, 2}) {
      for (const double radius : {1.0, 6.5, 40.0}) {
        check_look({format, outside, radius, 83, 61, radius == 6.5 ? 2 : 1}, 3, true);
      }
    }
  }
}

// Tile size 512 over a wide frame: the whole frame takes several tiles across, and the
// regions' tile grids start elsewhere.
TEST_F(Regions, SeveralTilesAcross) {
  for (const PF_PixelFormat format : kFormats) {
    for (const int32_t outside : {1, 2}) {
      check_look({format, outside, 3.0, 1100, 23, 2}, 2, false);
    }
  }
}

// Tile size 1024 (margins above 150), up to the largest radius; the blur reaches across the
// whole layer from every region. Sampled: each format once per rule at one of the radii.
TEST_F(Regions, LargeRadii) {
  check_look({PF_PixelFormat_ARGB32, 1, 151.0, 70, 45, 2}, 1, false);
  check_look({PF_PixelFormat_ARGB64, 2, 300.0, 70, 45, 1}, 1, false);
  check_look({PF_PixelFormat_ARGB128, 1, 300.0, 70, 45, 2}, 1, false);
  check_look({PF_PixelFormat_ARGB128, 2, 220.0, 70, 45, 1}, 1, false);
}

// A downsampled render reaches less far: the margin follows Radius x downsample.
TEST_F(Regions, DownsampledRenders) {
  fx_->settings.downsample_x = {1, 4};
  fx_->settings.downsample_y = {1, 4};
  check_look({PF_PixelFormat_ARGB32, 1, 30.0, 60, 40, 2}, 2, false);
}

// Nothing asked for: pre-render still answers, nothing is rendered or written, nothing leaks.
TEST_F(Regions, AnEmptyRequestRendersNothing) {
  const Look look{PF_PixelFormat_ARGB32, 1, 8.0, 30, 20, 1};
  apply(*fx_, look);
  const auto in = layer(look, 5);
  hostsim::World out(look.format, look.width, look.height);
  out.fill(sentinel(look.format));
  for (const PF_LRect rect : {PF_LRect{4, 4, 4, 10}, PF_LRect{0, 0, 0, 0}, PF_LRect{9, 9, 3, 3}}) {
    hostsim::FrameRequest request = hostsim::frame_request(*in, out);
    request.request_rect = rect;
    const hostsim::FrameResult r = fx_->render_frame(request);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_FALSE(r.render.has_value());
    EXPECT_TRUE(r.pre_render_data_deleted);
    const PF_LRect& result = r.pre_render_output.result_rect;
    EXPECT_TRUE(result.left >= result.right || result.top >= result.bottom);
  }
  for (int32_t y = 0; y < out.height(); ++y) {
    for (int32_t x = 0; x < out.width(); ++x) {
      ASSERT_TRUE(same_pixel(out.read(x, y), sentinel(look.format)));
    }
  }
}

// Radius 0 copies: a region is the same region of the layer, exactly.
TEST_F(Regions, RadiusZeroCopiesTheRegion) {
  const Look look{PF_PixelFormat_ARGB64, 1, 0.0, 30, 20, 1};
  apply(*fx_, look);
  const auto in = layer(look, 9);
  hostsim::World out(look.format, look.width, look.height);
  out.fill(sentinel(look.format));
  hostsim::FrameRequest request = hostsim::frame_request(*in, out);
  request.request_rect = PF_LRect{5, 3, 17, 19};
  ASSERT_EQ(fx_->render_frame(request).err, PF_Err_NONE);
  for (int32_t y = 0; y < out.height(); ++y) {
    for (int32_t x = 0; x < out.width(); ++x) {
      const bool inside = x >= 5 && x < 17 && y >= 3 && y < 19;
      ASSERT_TRUE(same_pixel(out.read(x, y), inside ? in->read(x, y) : sentinel(look.format)))
          << x << ", " << y;
    }
  }
}

// A record whose margins do not agree with the worlds the host delivered (a damaged record)
// is refused with 255 before anything is written.
TEST_F(Regions, MarginsThatDoNotFitTheWorldsAreRefused) {
  const Look look{PF_PixelFormat_ARGB32, 1, 4.0, 30, 20, 1};
  apply(*fx_, look);
  const auto in = layer(look, 3);
  hostsim::World out(look.format, look.width, look.height);
  out.fill(sentinel(look.format));
  hostsim::FrameRequest request = hostsim::frame_request(*in, out);
  request.request_rect = PF_LRect{10, 5, 20, 15};
  auto frame = fx_->begin_frame(request);
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  auto handle = static_cast<PF_Handle>(frame->pre_render_output().pre_render_data);
  auto* record = static_cast<RenderRecord*>(*handle);
  // The input is the request grown by 4: it reaches 4 pixels beyond the output all round.
  ASSERT_EQ(record->input_beyond_left, 4);
  ASSERT_EQ(record->input_beyond_bottom, 4);
  record->input_beyond_bottom = 5;  // one row fewer than the output world has
  EXPECT_EQ(fx_->smart_render(*frame).err, PF_Err_IMAGE_BUFFERS_DONT_FIT);
  record->input_beyond_bottom = 4;
  record->input_beyond_right = 40;  // more than the input has
  EXPECT_EQ(fx_->smart_render(*frame).err, PF_Err_IMAGE_BUFFERS_DONT_FIT);
  fx_->end_frame(*frame);
  for (int32_t y = 0; y < out.height(); ++y) {
    for (int32_t x = 0; x < out.width(); ++x) {
      ASSERT_TRUE(same_pixel(out.read(x, y), sentinel(look.format)));
    }
  }
}

}  // namespace
