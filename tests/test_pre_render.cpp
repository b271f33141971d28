// Smart pre-render through the loaded module: the values recorded for the frame, the input
// request (grown by the blur's reach), the reported rectangles, the failure exits, and the
// disposal of every frame's record once the host is done with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "module_test_support.h"
#include "render/render_record.h"

namespace {

using namespace module_test;

class PreRender : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    live_before_ = hostsim::handle_stats().live_count;
    fx_ = started_instance();
  }
  void TearDown() override {
    hostsim::clear_failures();
    EXPECT_EQ(fx_->finish().err, PF_Err_NONE);
    fx_.reset();
    EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    EXPECT_EQ(hostsim::fault_count(), 0);
  }
  const RenderRecord& record_of(hostsim::Frame& frame) {
    auto handle = static_cast<PF_Handle>(frame.pre_render_output().pre_render_data);
    EXPECT_NE(handle, nullptr);
    return *static_cast<const RenderRecord*>(*handle);
  }

  int64_t live_before_ = 0;
  std::unique_ptr<hostsim::Instance> fx_;
  hostsim::World in_{PF_PixelFormat_ARGB32, 40, 30};
  hostsim::World out_{PF_PixelFormat_ARGB32, 40, 30};
};

TEST_F(PreRender, RecordsTheParameterValuesOfTheFrame) {
  fx_->settings.downsample_x = {1, 2};
  fx_->set_float(kRadius, 12.5);
  fx_->set_float(kWeight, 10.0);
  fx_->set_float(kSpecularBrightness, 1.25);
  fx_->set_int(kSpecularThreshold, 200);
  fx_->set_int(kShape, 2);
  fx_->set_int(kEdges, 5);
  fx_->set_angle(kPhase, 90 * 65536);
  fx_->set_int(kOutside, 2);
  auto frame = fx_->begin_frame({.input = &in_, .output = &out_});
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  const RenderRecord& rec = record_of(*frame);
  EXPECT_EQ(rec.radius, 12.5);
  EXPECT_EQ(rec.downsample_factor, 0.5);
  EXPECT_DOUBLE_EQ(rec.weight_base, 1.1);
  EXPECT_EQ(rec.specular_brightness, 1.25);
  EXPECT_EQ(rec.specular_threshold, 200);
  EXPECT_EQ(rec.shape, 2);
  EXPECT_EQ(rec.edges, 5);
  EXPECT_NEAR(rec.phase, 1.5707963267948966, 1e-15);
  EXPECT_EQ(rec.outside_mode, 2);
  // The render fills the image fields; until then they are zero.
  EXPECT_EQ(rec.input_world, nullptr);
  EXPECT_EQ(rec.output_world, nullptr);
  EXPECT_EQ(rec.input_pixels8, nullptr);
  EXPECT_EQ(rec.output_pixels8, nullptr);
  EXPECT_EQ(rec.input_pixels16, nullptr);
  EXPECT_EQ(rec.output_pixels16, nullptr);
  EXPECT_EQ(rec.input_pixels_float, nullptr);
  EXPECT_EQ(rec.output_pixels_float, nullptr);
  EXPECT_EQ(rec.width, 0);
  EXPECT_EQ(rec.pixel_format, 0);
  // The record stays locked for the render.
  auto handle = static_cast<PF_Handle>(frame->pre_render_output().pre_render_data);
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(handle), sizeof(RenderRecord));
  EXPECT_GE(hostsim::handle_lock_count(handle), 1);
}

TEST_F(PreRender, WeightZeroSwitchesTheWeightingOffExactly) {
  fx_->set_float(kWeight, 0.0);
  fx_->set_angle(kPhase, -45 * 65536);
  auto frame = fx_->begin_frame({.input = &in_, .output = &out_});
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  EXPECT_EQ(record_of(*frame).weight_base, 1.0);
  EXPECT_NEAR(record_of(*frame).phase, -0.7853981633974483, 1e-15);
  EXPECT_EQ(record_of(*frame).downsample_factor, 1.0);
}

TEST_F(PreRender, TheLayerIsRequestedOverTheRequestGrownByTheBlursReach) {
  // Radius 250 reaches 250 pixels: the host clips the grown request to the 40 x 30 layer,
  // and the output still covers exactly the request.
  fx_->set_float(kRadius, 250.0);
  const PF_LRect request{3, 4, 20, 25};
  auto frame = fx_->begin_frame({.input = &in_, .output = &out_, .request_rect = request});
  const PF_RenderRequest host_request = frame->pre_render_extra()->input->output_request;
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  const std::vector<hostsim::LayerCheckout> checkouts = frame->checkouts();
  ASSERT_EQ(checkouts.size(), 1u);
  const hostsim::LayerCheckout& c = checkouts[0];
  EXPECT_EQ(c.index, 0);
  EXPECT_EQ(c.checkout_id, 0);
  PF_RenderRequest expected = host_request;
  expected.preserve_rgb_of_zero_alpha = 1;
  expected.rect = PF_LRect{3 - 250, 4 - 250, 20 + 250, 25 + 250};
  EXPECT_EQ(std::memcmp(&c.request, &expected, sizeof expected), 0);
  const PF_PreRenderOutput out = frame->pre_render_output();
  const PF_LRect want_result{3, 4, 20, 25};
  EXPECT_EQ(std::memcmp(&out.result_rect, &want_result, sizeof(PF_LRect)), 0);
  const PF_LRect layer{0, 0, 40, 30};
  EXPECT_EQ(std::memcmp(&out.max_result_rect, &layer, sizeof(PF_LRect)), 0);
  // The whole layer is the input: it reaches 3, 4, 20 and 5 pixels beyond the output.
  const RenderRecord& rec = record_of(*frame);
  EXPECT_EQ(rec.input_beyond_left, 3);
  EXPECT_EQ(rec.input_beyond_top, 4);
  EXPECT_EQ(rec.input_beyond_right, 20);
  EXPECT_EQ(rec.input_beyond_bottom, 5);
  EXPECT_EQ(hostsim::call_count("checkout_param:9"), 0);  // the render checks the layer out
}

// The margin is ceil(Radius x horizontal downsample), limited as the render limits it; a
// radius of 0 grows nothing, and neither is an empty request grown.
TEST_F(PreRender, TheMarginIsTheRendersOwnReach) {
  struct Case {
    double radius;
    PF_RationalScale downsample;
    PF_LRect request;
    PF_LRect want_request;
    PF_LRect want_result;
    int32_t beyond[4];
  };
  const Case cases[] = {
      // 12.5 x 1/2 = 6.25 reaches 7 pixels.
      {12.5, {1, 2}, {10, 10, 20, 15}, {3, 3, 27, 22}, {10, 10, 20, 15}, {7, 7, 7, 7}},
      // 0.3 reaches one pixel; the layer ends at the left and top.
      {0.3, {1, 1}, {0, 0, 5, 5}, {-1, -1, 6, 6}, {0, 0, 5, 5}, {0, 0, 1, 1}},
      // Beyond 300 the render blurs by 300; the whole layer lies within reach.
      {5000.0, {1, 1}, {1, 1, 2, 2}, {-299, -299, 302, 302}, {1, 1, 2, 2}, {1, 1, 38, 28}},
      // Radius 0, and a radius that the downsampling takes to 0: nothing grown.
      {0.0, {1, 1}, {2, 3, 9, 8}, {2, 3, 9, 8}, {2, 3, 9, 8}, {0, 0, 0, 0}},
      {40.0, {0, 1}, {2, 3, 9, 8}, {2, 3, 9, 8}, {2, 3, 9, 8}, {0, 0, 0, 0}},
      // A request reaching past the layer: the output is the part on the layer.
      {2.0, {1, 1}, {30, -10, 50, 10}, {28, -12, 52, 12}, {30, 0, 40, 10}, {2, 0, 0, 2}},
      // An empty request stays empty.
      {9.0, {1, 1}, {5, 5, 5, 9}, {5, 5, 5, 9}, {5, 5, 5, 9}, {0, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE("radius " + std::to_string(k.radius) + " request " +
                 std::to_string(k.request.left) + "," + std::to_string(k.request.top));
    fx_->set_float(kRadius, k.radius);
    fx_->settings.downsample_x = k.downsample;
    auto frame = fx_->begin_frame({.input = &in_, .output = &out_, .request_rect = k.request});
    ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
    const hostsim::LayerCheckout c = frame->checkouts().at(0);
    EXPECT_EQ(std::memcmp(&c.request.rect, &k.want_request, sizeof(PF_LRect)), 0)
        << c.request.rect.left << " " << c.request.rect.top << " " << c.request.rect.right << " "
        << c.request.rect.bottom;
    const PF_PreRenderOutput out = frame->pre_render_output();
    const PF_LRect& got = out.result_rect;
    if (k.want_result.left >= k.want_result.right) {
      EXPECT_TRUE(got.left >= got.right || got.top >= got.bottom);
    } else {
      EXPECT_EQ(std::memcmp(&got, &k.want_result, sizeof(PF_LRect)), 0)
        << out.result_rect.left << " " << out.result_rect.top << " " << out.result_rect.right
        << " " << out.result_rect.bottom;
    }
    const RenderRecord& rec = record_of(*frame);
    EXPECT_EQ(rec.input_beyond_left, k.beyond[0]);
    EXPECT_EQ(rec.input_beyond_top, k.beyond[1]);
    EXPECT_EQ(rec.input_beyond_right, k.beyond[2]);
    EXPECT_EQ(rec.input_beyond_bottom, k.beyond[3]);
    fx_->end_frame(*frame);
  }
}

TEST_F(PreRender, OutputRectanglesAreMergedWithWhatTheCheckoutReports) {
  // Both non-empty: the bounding box. An empty checkout result: unchanged.
  auto frame =
      fx_->begin_frame({.input = &in_, .output = &out_, .request_rect = PF_LRect{2, 2, 10, 10}});
  frame->pre_render_extra()->output->result_rect = {-5, 0, 4, 20};
  frame->pre_render_extra()->output->max_result_rect = {50, 60, 70, 80};
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  PF_PreRenderOutput out = frame->pre_render_output();
  EXPECT_EQ(out.result_rect.left, -5);
  EXPECT_EQ(out.result_rect.top, 0);
  EXPECT_EQ(out.result_rect.right, 10);
  EXPECT_EQ(out.result_rect.bottom, 20);
  EXPECT_EQ(out.max_result_rect.left, 0);  // layer bounds 0,0,40,30 merged with 50,60,70,80
  EXPECT_EQ(out.max_result_rect.top, 0);
  EXPECT_EQ(out.max_result_rect.right, 70);
  EXPECT_EQ(out.max_result_rect.bottom, 80);
  fx_->end_frame(*frame);

  auto empty =
      fx_->begin_frame({.input = &in_, .output = &out_, .request_rect = PF_LRect{5, 5, 5, 5}});
  empty->pre_render_extra()->output->result_rect = {1, 2, 3, 4};
  empty->pre_render_extra()->output->max_result_rect = {9, 9, 1, 1};  // empty destination
  ASSERT_EQ(fx_->pre_render(*empty).err, PF_Err_NONE);
  out = empty->pre_render_output();
  const hostsim::LayerCheckout c = empty->checkouts().at(0);
  ASSERT_TRUE(c.result.result_rect.left >= c.result.result_rect.right ||
              c.result.result_rect.top >= c.result.result_rect.bottom);
  EXPECT_EQ(out.result_rect.left, 1);
  EXPECT_EQ(out.result_rect.top, 2);
  EXPECT_EQ(out.result_rect.right, 3);
  EXPECT_EQ(out.result_rect.bottom, 4);
  // An empty destination becomes a copy of the source, whatever it is.
  EXPECT_EQ(std::memcmp(&out.max_result_rect, &c.result.max_result_rect, sizeof(PF_LRect)), 0);
}

TEST_F(PreRender, AFailingCheckoutStopsButTheRecordTravelsWithTheFrame) {
  fx_->set_float(kRadius, 7.0);
  auto frame = fx_->begin_frame({.input = &in_, .output = &out_});
  frame->pre_render_extra()->output->result_rect = {1, 1, 2, 2};
  hostsim::reset_calls();
  hostsim::inject_failure({.name = "checkout_param", .k = 2, .code = 41});
  const hostsim::CommandResult result = fx_->pre_render(*frame);
  EXPECT_EQ(result.err, 41);
  EXPECT_EQ(hostsim::call_count("checkout_param"), 2);
  EXPECT_EQ(hostsim::call_count("checkout_param:1"), 1);
  EXPECT_EQ(hostsim::call_count("checkout_param:2"), 1);
  EXPECT_EQ(hostsim::call_count("checkout_layer"), 0);
  EXPECT_EQ(result.message(), "");
  const PF_PreRenderOutput out = frame->pre_render_output();
  ASSERT_NE(out.pre_render_data, nullptr);
  EXPECT_EQ(record_of(*frame).radius, 0.0);  // not filled
  EXPECT_EQ(out.result_rect.right, 2);       // untouched
  fx_->end_frame(*frame);
  EXPECT_TRUE(frame->pre_render_data_deleted());
  EXPECT_FALSE(hostsim::is_live_handle(static_cast<PF_Handle>(out.pre_render_data)));
}

TEST_F(PreRender, AFailingLayerCheckoutLeavesTheRecordUnfilled) {
  fx_->set_float(kRadius, 7.0);
  hostsim::inject_failure({.name = "checkout_layer", .k = 1, .code = 42});
  auto frame = fx_->begin_frame({.input = &in_, .output = &out_});
  EXPECT_EQ(fx_->pre_render(*frame).err, 42);
  EXPECT_EQ(hostsim::call_count("checkout_param"), 8);
  EXPECT_EQ(record_of(*frame).radius, 0.0);
}

TEST_F(PreRender, NoMemoryIsError4AndNothingIsHandedOver) {
  for (const char* call : {"host_new_handle", "host_lock_handle"}) {
    SCOPED_TRACE(call);
    hostsim::reset_calls();
    hostsim::clear_failures();
    hostsim::inject_failure({.name = call, .k = 1});
    auto frame = fx_->begin_frame({.input = &in_, .output = &out_});
    const uint64_t serial = hostsim::handle_serial();
    EXPECT_EQ(fx_->pre_render(*frame).err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(frame->pre_render_output().pre_render_data, nullptr);
    EXPECT_TRUE(hostsim::live_handles_since(serial).empty());
    EXPECT_EQ(hostsim::call_count("checkout_param"), 0);
  }
}

TEST_F(PreRender, TwoHundredFramesLeaveNoHandleBehind) {
  fx_->set_float(kRadius, 0.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 4, 4), out(PF_PixelFormat_ARGB32, 4, 4);
  const int64_t live_at_start = hostsim::handle_stats().live_count;
  for (int i = 0; i < 200; ++i) {
    const hostsim::FrameResult frame =
        fx_->render_frame({.input = &in, .output = &out, .current_time = i % 30});
    ASSERT_EQ(frame.err, PF_Err_NONE);
    ASSERT_TRUE(frame.pre_render_data_deleted);
  }
  EXPECT_EQ(hostsim::handle_stats().live_count, live_at_start);
}

}  // namespace
