// The module under Premiere Pro, through the stand-in host's Premiere mode: global setup
// without the AEGP suites, frames as frame setup, the classic render command and frame
// setdown. The classic render must produce, byte for byte, what the smart render of the same
// frame produces under After Effects, and fail the way the smart render fails.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "module_test_support.h"

namespace {

using namespace module_test;

hostsim::InstanceSettings premiere_settings() {
  hostsim::InstanceSettings settings;
  settings.premiere = true;
  return settings;
}

struct Look {
  double radius = 6.0;
  double weight = 3.0;
  double brightness = 1.2;
  int32_t threshold = 160;
  int32_t shape = 1;
  int32_t edges = 6;
  PF_Fixed phase = 25 * 65536;
  int32_t outside = 1;
};

void apply(hostsim::Instance& fx, const Look& look, std::shared_ptr<const hostsim::World> iris) {
  fx.set_float(kRadius, look.radius);
  fx.set_float(kWeight, look.weight);
  fx.set_float(kSpecularBrightness, look.brightness);
  fx.set_int(kSpecularThreshold, look.threshold);
  fx.set_int(kShape, look.shape);
  fx.set_int(kEdges, look.edges);
  fx.set_angle(kPhase, look.phase);
  fx.set_int(kOutside, look.outside);
  fx.set_layer(kIrisLayer, std::move(iris));
}

class ClassicRender : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    live_before_ = hostsim::handle_stats().live_count;
  }
  void TearDown() override {
    hostsim::clear_failures();
    EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    EXPECT_EQ(hostsim::fault_count(), 0);
  }

  // The frame rendered by each host into its own output; both outputs start with the same
  // non-zero bytes so that an unwritten pixel shows.
  void expect_same_frame(PF_PixelFormat format, int32_t width, int32_t height, const Look& look,
                         const PF_RationalScale& downsample = {1, 1}) {
    SCOPED_TRACE(std::string(hostsim::format_name(format)) + " shape " +
                 std::to_string(look.shape) + " radius " + std::to_string(look.radius) + " " +
                 std::to_string(width) + "x" + std::to_string(height));
    hostsim::World in(format, width, height);
    fill_pattern(in, static_cast<uint32_t>(width * 7 + look.shape));
    std::shared_ptr<hostsim::World> iris;
    if (look.shape == 3) {
      iris = std::make_shared<hostsim::World>(format, 9, 7);
      fill_pattern(*iris, 4);
    }
    const hostsim::Pixel start{0.0, 1.0, 2.0, 3.0};
    hostsim::World smart_out(format, width, height), classic_out(format, width, height);
    smart_out.fill(start);
    classic_out.fill(start);

    hostsim::InstanceSettings ae;
    ae.downsample_x = ae.downsample_y = downsample;
    auto smart = started_instance(ae);
    apply(*smart, look, iris);
    const hostsim::FrameResult a = smart->render_frame(hostsim::frame_request(in, smart_out));
    ASSERT_EQ(a.err, PF_Err_NONE);

    hostsim::InstanceSettings pr = premiere_settings();
    pr.downsample_x = pr.downsample_y = downsample;
    auto classic = started_instance(pr);
    apply(*classic, look, iris);
    const hostsim::FrameResult b = classic->render_frame(hostsim::frame_request(in, classic_out));
    ASSERT_EQ(b.err, PF_Err_NONE);
    ASSERT_TRUE(b.render.has_value());
    EXPECT_EQ(b.render->cmd, PF_Cmd_RENDER);

    EXPECT_EQ(differing_pixels(classic_out, smart_out), 0);
    // The same progress, report for report.
    ASSERT_EQ(a.progress.size(), b.progress.size());
    for (size_t i = 0; i < a.progress.size(); ++i) {
      EXPECT_EQ(a.progress[i].current, b.progress[i].current);
      EXPECT_EQ(a.progress[i].total, b.progress[i].total);
    }
    EXPECT_EQ(smart->finish().err, PF_Err_NONE);
    EXPECT_EQ(classic->finish().err, PF_Err_NONE);
  }

  int64_t live_before_ = 0;
};

TEST_F(ClassicRender, EveryFormatAndShapeEqualsTheSmartRender) {
  for (const PF_PixelFormat format : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64}) {
    for (const int32_t shape : {1, 2, 3}) {
      Look look;
      look.shape = shape;
      look.outside = shape == 2 ? 2 : 1;
      expect_same_frame(format, 37, 29, look);
    }
  }
}

TEST_F(ClassicRender, RadiiTileSizesAndDownsamplingEqualTheSmartRender) {
  Look look;
  look.shape = 2;
  look.radius = 0.0;  // the plain copy
  expect_same_frame(PF_PixelFormat_ARGB32, 20, 11, look);
  look.radius = 3.0;  // two tiles of 512 across
  expect_same_frame(PF_PixelFormat_ARGB64, 600, 9, look);
  look.radius = 160.0;  // tile size 1024
  expect_same_frame(PF_PixelFormat_ARGB32, 30, 20, look);
  look.radius = 40.0;
  look.weight = 0.0;
  expect_same_frame(PF_PixelFormat_ARGB32, 50, 31, look, {1, 2});
}

// Premiere Pro serves no AEGP suite: global setup must neither ask for the utility suite
// nor register, and still succeed.
TEST_F(ClassicRender, GlobalSetupUnderPremiereNeedsNoUtilitySuite) {
  auto fx = std::make_unique<hostsim::Instance>(module());
  fx->settings = premiere_settings();
  const hostsim::CommandResult r = fx->global_setup();
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_NE(fx->global_data(), nullptr);
  EXPECT_TRUE(fx->registrations().empty());
  EXPECT_EQ(hostsim::call_count("AcquireSuite:AEGP Utility Suite"), 0);
  EXPECT_EQ(hostsim::call_count("AEGP_RegisterWithAEGP"), 0);
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
  EXPECT_EQ(fx->global_data(), nullptr);
}

// Frame setup and setdown do nothing: no host call, nothing written, success.
TEST_F(ClassicRender, FrameSetupAndSetdownAreNoOps) {
  auto fx = started_instance(premiere_settings());
  fx->set_float(kRadius, 5.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 8, 8), out(PF_PixelFormat_ARGB32, 8, 8);
  fill_pattern(in, 1);
  auto frame = fx->begin_frame(hostsim::frame_request(in, out));
  hostsim::reset_calls();
  const uint64_t serial = hostsim::handle_serial();
  for (const hostsim::CommandResult& r : {fx->frame_setup(*frame), fx->frame_setdown(*frame)}) {
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.out_data.out_flags, 0);
    EXPECT_EQ(r.message(), "");
  }
  EXPECT_TRUE(hostsim::calls().empty());
  EXPECT_TRUE(hostsim::live_handles_since(serial).empty());
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) ASSERT_EQ(out.read(x, y).alpha, 0.0);
  }
  fx->end_frame(*frame);
  frame.reset();
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
}

// The classic path reports failures as the smart render does: the memory message, a host
// code passed through, a cancelled render that still completes its output.
TEST_F(ClassicRender, FailuresAreReportedAsTheSmartRenderReportsThem) {
  auto fx = started_instance(premiere_settings());
  fx->set_float(kRadius, 4.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 16, 12);
  fill_pattern(in, 2);
  hostsim::World reference(PF_PixelFormat_ARGB32, 16, 12);
  ASSERT_EQ(fx->render_frame(hostsim::frame_request(in, reference)).err, PF_Err_NONE);

  hostsim::reset_calls();
  hostsim::inject_failure({.name = "host_new_handle", .k = 3});
  hostsim::World out(PF_PixelFormat_ARGB32, 16, 12);
  hostsim::FrameResult r = fx->render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(r.render->message(), "Memory Error!");
  EXPECT_NE(r.render->out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
  EXPECT_EQ(r.frame_setdown->err, PF_Err_NONE);  // setdown still follows
  hostsim::clear_failures();

  hostsim::reset_calls();
  hostsim::inject_failure({.name = "checkout_param:9", .k = 1, .code = 77});
  r = fx->render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r.err, 77);
  EXPECT_EQ(hostsim::call_count("checkin_param"), 1);  // given back all the same
  hostsim::clear_failures();

  hostsim::FrameRequest cancelled = hostsim::frame_request(in, out);
  cancelled.on_abort = [] { return PF_Interrupt_CANCEL; };
  r = fx->render_frame(cancelled);
  EXPECT_EQ(r.err, PF_Interrupt_CANCEL);
  hostsim::FrameRequest cancel_in_walk = hostsim::frame_request(in, out);
  int asked = 0;
  cancel_in_walk.on_abort = [&asked] { return ++asked >= 3 ? PF_Interrupt_CANCEL : 0; };
  hostsim::World completed(PF_PixelFormat_ARGB32, 16, 12);
  cancel_in_walk.output = &completed;
  r = fx->render_frame(cancel_in_walk);
  EXPECT_EQ(r.err, PF_Interrupt_CANCEL);
  EXPECT_EQ(differing_pixels(completed, reference), 0);
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
}

// A host that hands over no output world or too short a parameter array gets an error, not
// a crash; nothing is allocated.
TEST_F(ClassicRender, MissingWorldsOrParametersAreRefused) {
  auto fx = started_instance(premiere_settings());
  fx->set_float(kRadius, 4.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 6, 6), out(PF_PixelFormat_ARGB32, 6, 6);
  auto frame = fx->begin_frame(hostsim::frame_request(in, out));
  const uint64_t serial = hostsim::handle_serial();
  {
    hostsim::Command c = fx->prepare(PF_Cmd_RENDER, frame.get());
    c.output = nullptr;
    EXPECT_EQ(fx->send(c).err, PF_Err_BAD_CALLBACK_PARAM);
  }
  {
    hostsim::Command c = fx->prepare(PF_Cmd_RENDER, frame.get());
    c.param_defs.resize(5);
    c.in_data.num_params = 5;
    EXPECT_EQ(fx->send(c).err, PF_Err_BAD_CALLBACK_PARAM);
  }
  EXPECT_TRUE(hostsim::live_handles_since(serial).empty());
  fx->end_frame(*frame);
  frame.reset();
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
}

// Premiere mode as the stand-in host plays it: 'PrMr' whatever appl_id says, no smart
// commands, no float frames, no regions.
TEST_F(ClassicRender, PremiereModeSendsOnlyTheClassicCommands) {
  auto fx = started_instance(premiere_settings());
  hostsim::World in(PF_PixelFormat_ARGB32, 4, 4), out(PF_PixelFormat_ARGB32, 4, 4);
  hostsim::reset_calls();
  const hostsim::FrameResult r = fx->render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r.err, PF_Err_NONE);
  ASSERT_TRUE(r.frame_setup && r.render && r.frame_setdown);
  EXPECT_EQ(r.frame_setup->cmd, PF_Cmd_FRAME_SETUP);
  EXPECT_EQ(r.frame_setdown->cmd, PF_Cmd_FRAME_SETDOWN);
  EXPECT_EQ(hostsim::call_count("checkout_layer"), 0);
  hostsim::Command c = fx->prepare(PF_Cmd_ABOUT);
  EXPECT_EQ(c.in_data.appl_id, PF_APPL_ID_PREMIERE);
  auto frame = fx->begin_frame(hostsim::frame_request(in, out));
  EXPECT_THROW(fx->pre_render(*frame), std::logic_error);
  EXPECT_THROW(fx->smart_render(*frame), std::logic_error);
  fx->end_frame(*frame);
  frame.reset();
  hostsim::World float_in(PF_PixelFormat_ARGB128, 4, 4), float_out(PF_PixelFormat_ARGB128, 4, 4);
  EXPECT_THROW(fx->render_frame(hostsim::frame_request(float_in, float_out)),
               std::invalid_argument);
  hostsim::FrameRequest region = hostsim::frame_request(in, out);
  region.request_rect = PF_LRect{0, 0, 2, 2};
  EXPECT_THROW(fx->render_frame(region), std::invalid_argument);
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
}

}  // namespace
