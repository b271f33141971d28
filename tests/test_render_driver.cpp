// Smart render through the loaded module: frames in every pixel format and iris shape
// compared with the tile stage run directly on the same record, the plain copy at radius 0,
// progress reports, the tile-size rule, the failure exits, and values out of their ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "module_test_support.h"
#include "render/convolve_tiles.h"
#include "render/iris_kernel.h"
#include "render/render_record.h"

namespace {

using namespace module_test;

// The tile-size rule, worked out from the description: 256 when the image and both margins
// fit one tile, else 512 up to a margin of 150, else 1024.
int32_t expected_tile_size(int32_t w, int32_t h, double radius) {
  const auto p = static_cast<int32_t>(std::ceil(radius));
  if (std::max(w, h) + 2 * p < 256) return 256;
  return p <= 150 ? 512 : 1024;
}

struct Settings {
  double radius = 6.0;
  double weight = 2.0;
  double brightness = 1.0;
  int32_t threshold = 255;
  int32_t shape = 1;
  int32_t edges = 8;
  PF_Fixed phase = 0;
  int32_t outside = 1;
};

void apply(hostsim::Instance& fx, const Settings& s) {
  fx.set_float(kRadius, s.radius);
  fx.set_float(kWeight, s.weight);
  fx.set_float(kSpecularBrightness, s.brightness);
  fx.set_int(kSpecularThreshold, s.threshold);
  fx.set_int(kShape, s.shape);
  fx.set_int(kEdges, s.edges);
  fx.set_angle(kPhase, s.phase);
  fx.set_int(kOutside, s.outside);
}

// Working planes in plain memory for the direct run of the tile stage.
struct Planes {
  explicit Planes(int32_t n) : n(n), data(3, std::vector<double>(2 * size_t(n) * n)) {
    for (int i = 0; i < 3; ++i) {
      for (int32_t r = 0; r < n; ++r) rows[i].push_back(data[i].data() + 2 * size_t(n) * r);
    }
    work.assign(fft_work_entries(n), 0);
    table.assign(fft_table_entries(n), 0.0);
  }
  WorkingPlanes planes() {
    return {{rows[0].data()}, {rows[1].data()}, {rows[2].data()}, work.data(), table.data()};
  }
  int32_t n;
  std::vector<std::vector<double>> data;
  std::vector<double*> rows[3];
  std::vector<int32_t> work;
  std::vector<double> table;
};

PF_Err no_progress(PF_ProgPtr, int32_t, int32_t) { return PF_Err_NONE; }

// The driver's plane blocks: wherever the allocator puts a block (any multiple of 8 bytes
// into a cache line), the first row starts on a 64-byte line inside the block and the whole
// plane, 2n x n doubles, still fits in it; for n >= 4 every later row starts on a line too.
TEST(PlaneLayout, RowsStartOnACacheLineWhereverTheBlockLies) {
  for (int32_t n : {2, 4, 256, 1024}) {
    const uint64_t doubles = plane_block_doubles(n);
    std::vector<double> memory(doubles + 16);
    auto* line =
        reinterpret_cast<double*>((reinterpret_cast<uintptr_t>(memory.data()) + 63) / 64 * 64);
    for (int32_t shift = 0; shift < 8; ++shift) {
      double* block = line + shift;
      double* first = plane_first_row(block);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 64, 0u) << n << " " << shift;
      EXPECT_EQ(first - block, (8 - shift) % 8) << n << " " << shift;
      EXPECT_LE(static_cast<uint64_t>(first - block) + 2 * uint64_t(n) * n, doubles);
      if (n >= 4) {
        const double* last_row = first + 2 * size_t(n) * (n - 1);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(last_row) % 64, 0u) << n;
      }
    }
  }
}

int8_t format_index(PF_PixelFormat format) {
  return format == PF_PixelFormat_ARGB32
             ? kPixelFormat8
             : (format == PF_PixelFormat_ARGB64 ? kPixelFormat16 : kPixelFormatFloat);
}

// The reference: the same record handed straight to build_kernel and convolve_tiles.
void render_directly(const Settings& s, hostsim::World& in, hostsim::World& out,
                     const hostsim::World* iris, PF_ProgPtr effect_ref) {
  RenderRecord rec{};
  const int32_t pixel = hostsim::pixel_size(in.format());
  rec.input_world = in.effect_world();
  rec.output_world = out.effect_world();
  rec.width = in.width();
  rec.height = in.height();
  rec.input_stride = in.rowbytes() / pixel;
  rec.output_stride = out.rowbytes() / pixel;
  rec.input_slack = rec.input_stride - rec.width;
  rec.output_slack = rec.output_stride - rec.width;
  rec.pixel_format = format_index(in.format());
  void* in_px = in.effect_world()->data;
  void* out_px = out.effect_world()->data;
  if (rec.pixel_format == kPixelFormat8) {
    rec.input_pixels8 = static_cast<PF_Pixel8*>(in_px);
    rec.output_pixels8 = static_cast<PF_Pixel8*>(out_px);
  } else if (rec.pixel_format == kPixelFormat16) {
    rec.input_pixels16 = static_cast<PF_Pixel16*>(in_px);
    rec.output_pixels16 = static_cast<PF_Pixel16*>(out_px);
  } else {
    rec.input_pixels_float = static_cast<PF_PixelFloat*>(in_px);
    rec.output_pixels_float = static_cast<PF_PixelFloat*>(out_px);
  }
  rec.radius = s.radius;
  rec.downsample_factor = 1.0;
  rec.shape = s.shape;
  rec.edges = s.edges;
  rec.specular_brightness = s.brightness;
  rec.specular_threshold = s.threshold;
  rec.phase = s.phase / 65536.0 * 0.017453292519943295;
  rec.weight_base = 1.0 + s.weight * 0.01;
  rec.outside_mode = s.outside;

  const int32_t n = expected_tile_size(in.width(), in.height(), s.radius);
  const auto p = static_cast<int32_t>(std::ceil(s.radius));
  Planes planes(n);
  const PF_ANSICallbacks& ansi = hostsim::utils()->ansi;
  IrisSampler sampler{effect_ref, nullptr, nullptr, nullptr};
  SPBasicSuite* basic = hostsim::basic_suite();
  const char* names[] = {kPFSampling8Suite, kPFSampling16Suite, kPFSamplingFloatSuite};
  const void* suite = nullptr;
  ASSERT_EQ(basic->AcquireSuite(names[rec.pixel_format], 1, &suite), 0);
  sampler.sampling8 = static_cast<const PF_Sampling8Suite1*>(suite);
  sampler.sampling16 = static_cast<const PF_Sampling16Suite1*>(suite);
  sampler.sampling_float = static_cast<const PF_SamplingFloatSuite1*>(suite);
  const KernelRequest request{s.radius,
                              n,
                              s.shape,
                              s.edges,
                              rec.phase,
                              rec.pixel_format,
                              iris != nullptr ? iris->effect_world() : nullptr};
  double kernel_sum = 0.0;
  ASSERT_EQ(build_kernel(request, sampler, ansi, planes.planes().kernel, kernel_sum), 0);
  basic->ReleaseSuite(names[rec.pixel_format], 1);
  int32_t count = 0;
  const TileHost host{nullptr, no_progress, &ansi};
  ASSERT_EQ(convolve_tiles(rec, n, p, planes.planes(), kernel_sum, count, 1, host, 0), 0);
}

// An L-shaped iris: asymmetric, so a transposed or mirrored kernel would show.
std::shared_ptr<hostsim::World> l_shaped_iris(PF_PixelFormat format) {
  auto iris = std::make_shared<hostsim::World>(format, 12, 9);
  const double full = hostsim::full_scale(format);
  for (int32_t y = 0; y < 9; ++y) {
    for (int32_t x = 0; x < 12; ++x) {
      if (x < 4 || y >= 6) iris->write(x, y, {full, full, 0.6 * full, 0.2 * full});
    }
  }
  return iris;
}

// Byte sizes of the handles a command allocated, from the host's call log.
std::vector<uint64_t> allocated_sizes() {
  std::vector<uint64_t> sizes;
  const std::regex size_pattern("size=([0-9]+)");
  for (const hostsim::CallRecord& call : hostsim::calls()) {
    std::smatch m;
    if (call.name == "host_new_handle" && std::regex_search(call.detail, m, size_pattern)) {
      sizes.push_back(std::stoull(m[1].str()));
    }
  }
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

class Render : public ::testing::Test {
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
  // Renders one frame through the module; the render command's result.
  PF_Err render(hostsim::World& in, hostsim::World& out, hostsim::FrameResult* result = nullptr) {
    hostsim::FrameResult frame = fx_->render_frame({.input = &in, .output = &out});
    EXPECT_TRUE(frame.pre_render_data_deleted);
    if (result != nullptr) *result = frame;
    return frame.err;
  }

  int64_t live_before_ = 0;
  std::unique_ptr<hostsim::Instance> fx_;
};

const PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                   PF_PixelFormat_ARGB128};

TEST_F(Render, EveryFormatAndShapeMatchesTheTileStageRunDirectly) {
  for (PF_PixelFormat format : kFormats) {
    for (int32_t shape : {1, 2, 3}) {
      SCOPED_TRACE(std::string(hostsim::format_name(format)) + " shape " + std::to_string(shape));
      Settings s;
      s.radius = 5.5;
      s.weight = 6.0;
      s.brightness = 1.3;
      s.threshold = 170;
      s.shape = shape;
      s.edges = 5;
      s.phase = 30 * 65536;
      s.outside = shape == 2 ? 2 : 1;
      apply(*fx_, s);
      std::shared_ptr<hostsim::World> iris = l_shaped_iris(format);
      fx_->set_layer(kIrisLayer, shape == 3 ? iris : nullptr);
      const int32_t pixel = hostsim::pixel_size(format);
      hostsim::World in(format, 37, 23, 40 * pixel), out(format, 37, 23, 39 * pixel);
      hostsim::World expected(format, 37, 23);
      fill_pattern(in, static_cast<uint32_t>(shape * 7 + pixel));
      ASSERT_EQ(render(in, out), PF_Err_NONE);
      auto frame = fx_->begin_frame({.input = &in, .output = &expected});
      render_directly(s, in, expected, shape == 3 ? iris.get() : nullptr, frame->effect_ref());
      EXPECT_EQ(differing_pixels(out, expected), 0);
      // The blur did something, and wrote nothing into the row padding.
      EXPECT_GT(differing_pixels(out, in), 0);
      for (int32_t y = 0; y < out.height(); ++y) {
        for (int32_t b = 0; b < out.padding_bytes(); ++b) ASSERT_EQ(out.padding(y)[b], 0);
      }
    }
  }
  fx_->set_layer(kIrisLayer, nullptr);
}

// Weight 10 and Specular Brightness 1.5 on a 16-bit opaque picture with full-scale lights:
// a light enters its transform as 1.1^384, next to an alpha of 256, and alpha must still
// come out full everywhere.
TEST_F(Render, SixteenBitLightsAtWeightTenLeaveAnOpaquePictureOpaque) {
  Settings s;
  s.radius = 9.0;
  s.weight = 10.0;
  s.brightness = 1.5;
  s.threshold = 200;
  apply(*fx_, s);
  hostsim::World in(PF_PixelFormat_ARGB64, 181, 97), out(PF_PixelFormat_ARGB64, 181, 97);
  for (int32_t y = 0; y < 97; ++y) {
    for (int32_t x = 0; x < 181; ++x) {
      const bool light = (x * 7 + y * 13) % 29 == 0;
      const uint16_t c = light ? 32768 : static_cast<uint16_t>(16000 + (x * 37 + y * 91) % 9000);
      in.row<PF_Pixel16>(y)[x] = {32768, c, c, static_cast<uint16_t>(light ? 32768 : c / 2)};
    }
  }
  ASSERT_EQ(render(in, out), PF_Err_NONE);
  int not_opaque = 0;
  for (int32_t y = 0; y < 97; ++y) {
    for (int32_t x = 0; x < 181; ++x) not_opaque += out.row<PF_Pixel16>(y)[x].alpha != 32768;
  }
  EXPECT_EQ(not_opaque, 0);
}

TEST_F(Render, LayerShapeWithoutALayerRendersTheCircle) {
  Settings s;
  s.radius = 4.0;
  apply(*fx_, s);
  hostsim::World in(PF_PixelFormat_ARGB64, 30, 20), circle(PF_PixelFormat_ARGB64, 30, 20),
      layer(PF_PixelFormat_ARGB64, 30, 20);
  fill_pattern(in, 5);
  ASSERT_EQ(render(in, circle), PF_Err_NONE);
  fx_->set_int(kShape, 3);
  ASSERT_EQ(render(in, layer), PF_Err_NONE);
  EXPECT_EQ(differing_pixels(circle, layer), 0);
  EXPECT_EQ(hostsim::call_count("subpixel_sample16"), 0);
}

TEST_F(Render, RadiusZeroIsAPlainCopyWithoutProgressOrWorkingMemory) {
  hostsim::World in(PF_PixelFormat_ARGB128, 25, 14), out(PF_PixelFormat_ARGB128, 25, 14);
  fill_pattern(in, 9);
  auto frame = fx_->begin_frame({.input = &in, .output = &out});
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  hostsim::reset_calls();
  EXPECT_EQ(fx_->smart_render(*frame).err, PF_Err_NONE);
  EXPECT_EQ(hostsim::call_count("copy"), 1);
  EXPECT_EQ(hostsim::call_count("host_new_handle"), 0);
  EXPECT_EQ(hostsim::call_count("progress"), 0);
  EXPECT_EQ(hostsim::call_count("checkout_param"), 0);
  EXPECT_TRUE(frame->progress().empty());
  EXPECT_EQ(differing_pixels(in, out), 0);
}

TEST_F(Render, HalfResolutionHalvesTheRadius) {
  hostsim::World in(PF_PixelFormat_ARGB32, 40, 24), full(PF_PixelFormat_ARGB32, 40, 24),
      half(PF_PixelFormat_ARGB32, 40, 24);
  fill_pattern(in, 21);
  fx_->set_float(kRadius, 3.0);
  ASSERT_EQ(render(in, full), PF_Err_NONE);
  fx_->settings.downsample_x = {1, 2};
  fx_->settings.downsample_y = {1, 3};  // only the horizontal ratio counts
  fx_->set_float(kRadius, 6.0);
  ASSERT_EQ(render(in, half), PF_Err_NONE);
  EXPECT_EQ(differing_pixels(full, half), 0);
}

std::vector<std::pair<int32_t, int32_t>> reports(const hostsim::FrameResult& frame) {
  std::vector<std::pair<int32_t, int32_t>> r;
  for (const hostsim::ProgressReport& p : frame.progress) r.emplace_back(p.current, p.total);
  return r;
}

TEST_F(Render, ProgressOfASingleTileFrame) {
  fx_->set_float(kRadius, 10.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 100, 100), out(PF_PixelFormat_ARGB32, 100, 100);
  hostsim::FrameResult frame;
  ASSERT_EQ(render(in, out, &frame), PF_Err_NONE);
  const std::vector<std::pair<int32_t, int32_t>> expected = {{0, 1}, {1, 1}, {1, 1}};
  EXPECT_EQ(reports(frame), expected);
}

TEST_F(Render, ProgressCountsMayPassTheEstimatedTotal) {
  fx_->set_float(kRadius, 10.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 1000, 1000), out(PF_PixelFormat_ARGB32, 1000, 1000);
  hostsim::FrameResult frame;
  ASSERT_EQ(render(in, out, &frame), PF_Err_NONE);
  std::vector<std::pair<int32_t, int32_t>> expected = {{0, 5}};
  for (int32_t count = 1; count <= 9; ++count) expected.emplace_back(count, 5);
  expected.emplace_back(5, 5);
  EXPECT_EQ(reports(frame), expected);
}

TEST_F(Render, TileSizeFollowsRadiusAndLayerSize) {
  struct Case {
    int32_t side;
    double radius;
    uint64_t n;
  } cases[] = {{235, 10.0, 256}, {236, 10.0, 512}, {8, 150.0, 512},
               {8, 150.5, 1024}, {200, 27.0, 256}, {200, 28.0, 512}};
  for (const Case& c : cases) {
    SCOPED_TRACE("side " + std::to_string(c.side) + " radius " + std::to_string(c.radius));
    fx_->set_float(kRadius, c.radius);
    hostsim::World in(PF_PixelFormat_ARGB32, c.side, c.side),
        out(PF_PixelFormat_ARGB32, c.side, c.side);
    auto frame = fx_->begin_frame({.input = &in, .output = &out});
    ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
    hostsim::reset_calls();
    hostsim::inject_failure({.name = "abort", .k = 1, .code = PF_Interrupt_CANCEL});
    EXPECT_EQ(fx_->smart_render(*frame).err, PF_Interrupt_CANCEL);
    hostsim::clear_failures();
    // Three row tables, three data blocks (each with a cache line more, to start its rows on
    // one), the integer work array and the table.
    std::vector<uint64_t> expected = {
        8 * c.n, 8 * c.n, 8 * c.n, 16 * c.n * c.n + 64, 16 * c.n * c.n + 64, 16 * c.n * c.n + 64};
    uint64_t root = 0;
    while ((root + 1) * (root + 1) <= c.n) ++root;
    expected.push_back(4 * (2 + root));
    expected.push_back(8 * (c.n / 2 + 2 * c.n));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(allocated_sizes(), expected);
    EXPECT_EQ(hostsim::call_count("subpixel_sample"), 0);
    EXPECT_EQ(hostsim::call_count("host_dispose_handle"), 8);
  }
}

TEST_F(Render, ACancelledFrameIsStillRenderedWhole) {
  fx_->set_float(kRadius, 10.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 600, 40), whole(PF_PixelFormat_ARGB32, 600, 40),
      cancelled(PF_PixelFormat_ARGB32, 600, 40);
  fill_pattern(in, 77);
  ASSERT_EQ(render(in, whole), PF_Err_NONE);
  int asked = 0;
  hostsim::FrameResult frame =
      fx_->render_frame({.input = &in, .output = &cancelled, .on_abort = [&asked]() -> PF_Err {
                           // Asked by progress(0), abort, then after each tile: cancel after the
                           // first tile.
                           return ++asked >= 3 ? PF_Interrupt_CANCEL : PF_Err_NONE;
                         }});
  EXPECT_EQ(frame.err, PF_Interrupt_CANCEL);
  EXPECT_EQ(differing_pixels(whole, cancelled), 0);
  const std::vector<std::pair<int32_t, int32_t>> expected = {{0, 1}, {1, 1}};
  EXPECT_EQ(reports(frame), expected);  // no report for the second tile, no final one
}

// The host hands out worlds that fit its request; a damaged or foreign host may not. These
// callbacks edit the records of the worlds the host hands out (in place, so the host still
// knows them) and the test restores them after the render.
struct WorldEdits {
  PF_SmartRenderCallbacks host{};
  std::function<void(PF_EffectWorld&)> edit_input, edit_output;
  std::vector<std::pair<PF_EffectWorld*, PF_EffectWorld>> saved;
  void edit(PF_EffectWorld* world, const std::function<void(PF_EffectWorld&)>& how) {
    if (world == nullptr || !how) return;
    saved.emplace_back(world, *world);
    how(*world);
  }
  void restore() {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) *it->first = it->second;
    saved.clear();
  }
};
WorldEdits* g_edits = nullptr;

PF_Err edited_input(PF_ProgPtr ref, int32_t id, PF_EffectWorld** world) {
  const PF_Err err = g_edits->host.checkout_layer_pixels(ref, id, world);
  if (err == PF_Err_NONE) g_edits->edit(*world, g_edits->edit_input);
  return err;
}
PF_Err edited_output(PF_ProgPtr ref, PF_EffectWorld** world) {
  const PF_Err err = g_edits->host.checkout_output(ref, world);
  if (err == PF_Err_NONE) g_edits->edit(*world, g_edits->edit_output);
  return err;
}

class EditedWorlds : public Render {
 protected:
  PF_Err render_edited(hostsim::World& in, hostsim::World& out,
                       std::function<void(PF_EffectWorld&)> edit_input,
                       std::function<void(PF_EffectWorld&)> edit_output) {
    auto frame = fx_->begin_frame({.input = &in, .output = &out});
    EXPECT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
    WorldEdits edits;
    edits.host = *frame->smart_render_extra()->cb;
    edits.edit_input = std::move(edit_input);
    edits.edit_output = std::move(edit_output);
    PF_SmartRenderCallbacks callbacks = edits.host;
    callbacks.checkout_layer_pixels = edited_input;
    callbacks.checkout_output = edited_output;
    g_edits = &edits;
    PF_SmartRenderCallbacks* host_callbacks = frame->smart_render_extra()->cb;
    frame->smart_render_extra()->cb = &callbacks;
    const PF_Err err = fx_->smart_render(*frame).err;
    edits.restore();
    frame->smart_render_extra()->cb = host_callbacks;
    g_edits = nullptr;
    fx_->end_frame(*frame);
    return err;
  }
};

TEST_F(EditedWorlds, WorldsThatDoNotFitEachOtherAre255AndUntouched) {
  fx_->set_float(kRadius, 3.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 20, 10), out(PF_PixelFormat_ARGB32, 20, 10);
  fill_pattern(in, 1);
  const hostsim::World blank(PF_PixelFormat_ARGB32, 20, 10);
  const struct {
    const char* what;
    std::function<void(PF_EffectWorld&)> edit_input, edit_output;
    PF_Err expected;
  } cases[] = {
      {"output one row shorter", nullptr, [](PF_EffectWorld& w) { w.height -= 1; }, 255},
      {"output rows narrower than the input", nullptr,
       [](PF_EffectWorld& w) { w.rowbytes = 19 * 4; }, 255},
      {"input rows narrower than its width", [](PF_EffectWorld& w) { w.rowbytes -= 4; }, nullptr,
       255},
      {"negative output rowbytes", nullptr, [](PF_EffectWorld& w) { w.rowbytes = -80; }, 255},
      {"rows past 32-bit addressing", [](PF_EffectWorld& w) { w.rowbytes = 0x7FFFFFFC; }, nullptr,
       255},
      {"negative width", [](PF_EffectWorld& w) { w.width = -20; }, nullptr, 255},
      {"negative heights", [](PF_EffectWorld& w) { w.height = -10; },
       [](PF_EffectWorld& w) { w.height = -10; }, 255},
      {"input without pixels", [](PF_EffectWorld& w) { w.data = nullptr; }, nullptr, 516},
      {"output without pixels", nullptr, [](PF_EffectWorld& w) { w.data = nullptr; }, 516},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(render_edited(in, out, c.edit_input, c.edit_output), c.expected);
    EXPECT_EQ(differing_pixels(out, blank), 0);
  }
  // A wider output is fine: only W pixels of each row are written.
  EXPECT_EQ(render_edited(in, out, nullptr, [](PF_EffectWorld& w) { w.width += 5; }), 0);
  EXPECT_GT(differing_pixels(out, blank), 0);
}

TEST_F(Render, AMissingWorldOrPixelFormatIs516AndUntouched) {
  fx_->set_float(kRadius, 3.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 20, 10), out(PF_PixelFormat_ARGB32, 20, 10);
  fill_pattern(in, 2);
  const hostsim::World blank(PF_PixelFormat_ARGB32, 20, 10);
  for (const char* call : {"checkout_output", "checkout_layer_pixels", "PF_GetPixelFormat"}) {
    SCOPED_TRACE(call);
    hostsim::reset_calls();
    hostsim::inject_failure({.name = call, .k = 0, .code = 0, .null_result = true});
    EXPECT_EQ(render(in, out), PF_Err_BAD_CALLBACK_PARAM);
    hostsim::clear_failures();
    EXPECT_EQ(differing_pixels(out, blank), 0);
  }
}

TEST_F(Render, NoWorkingMemoryGivesMemoryErrorAndGivesBackWhatWasTaken) {
  fx_->set_float(kRadius, 3.0);
  hostsim::World in(PF_PixelFormat_ARGB32, 20, 10), out(PF_PixelFormat_ARGB32, 20, 10);
  auto frame = fx_->begin_frame({.input = &in, .output = &out});
  ASSERT_EQ(fx_->pre_render(*frame).err, PF_Err_NONE);
  hostsim::reset_calls();
  hostsim::inject_failure({.name = "host_new_handle", .k = 4});  // the ba_plane data block
  const uint64_t serial = hostsim::handle_serial();
  const hostsim::CommandResult result = fx_->smart_render(*frame);
  EXPECT_EQ(result.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(result.message(), "Memory Error!");
  EXPECT_NE(result.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
  EXPECT_TRUE(hostsim::live_handles_since(serial).empty());
  EXPECT_EQ(hostsim::call_count("host_dispose_handle"), 3);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite:" kPFWorldSuite), 1);
  EXPECT_EQ(frame->progress().size(), 1u);  // only the opening report
}

// Values a damaged project could hold behave as the nearest value in range.
TEST_F(Render, OutOfRangeValuesRenderAsTheNearestValidOnes) {
  hostsim::World in(PF_PixelFormat_ARGB32, 24, 18);
  fill_pattern(in, 31);
  struct Case {
    const char* what;
    Settings damaged, valid;
  };
  Settings base;
  base.radius = 4.0;
  base.shape = 2;
  auto with = [&base](auto change) {
    Settings s = base;
    change(s);
    return s;
  };
  const Case cases[] = {
      {"edges 0", with([](Settings& s) { s.edges = 0; }), with([](Settings& s) { s.edges = 3; })},
      {"edges 99", with([](Settings& s) { s.edges = 99; }),
       with([](Settings& s) { s.edges = 16; })},
      {"weight -40", with([](Settings& s) { s.weight = -40; }),
       with([](Settings& s) { s.weight = 0; })},
      {"weight 1e9", with([](Settings& s) { s.weight = 1e9; }),
       with([](Settings& s) { s.weight = 10; })},
      {"brightness 0", with([](Settings& s) { s.brightness = 0; }),
       with([](Settings& s) { s.brightness = 1.0; })},
      {"brightness 7", with([](Settings& s) { s.brightness = 7; }),
       with([](Settings& s) { s.brightness = 1.5; })},
      {"threshold -9", with([](Settings& s) { s.threshold = -9; }),
       with([](Settings& s) { s.threshold = 0; })},
      {"shape 9", with([](Settings& s) { s.shape = 9; }), with([](Settings& s) { s.shape = 1; })},
      {"shape 0", with([](Settings& s) { s.shape = 0; }), with([](Settings& s) { s.shape = 1; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hostsim::World damaged(PF_PixelFormat_ARGB32, 24, 18), valid(PF_PixelFormat_ARGB32, 24, 18);
    apply(*fx_, c.damaged);
    ASSERT_EQ(render(in, damaged), PF_Err_NONE);
    apply(*fx_, c.valid);
    ASSERT_EQ(render(in, valid), PF_Err_NONE);
    EXPECT_EQ(differing_pixels(damaged, valid), 0);
  }
}

TEST_F(Render, NonFiniteOrNegativeRadiusCopiesAndAHugeOneStopsAtTheLargest) {
  hostsim::World in(PF_PixelFormat_ARGB128, 8, 6);
  fill_pattern(in, 4);
  for (double radius : {std::nan(""), -5.0, std::numeric_limits<double>::infinity()}) {
    SCOPED_TRACE(radius);
    hostsim::World out(PF_PixelFormat_ARGB128, 8, 6);
    fx_->set_float(kRadius, radius);
    hostsim::FrameResult frame;
    ASSERT_EQ(render(in, out, &frame), PF_Err_NONE);
    EXPECT_EQ(differing_pixels(in, out), 0);
    EXPECT_TRUE(frame.progress.empty());
  }
  hostsim::World huge(PF_PixelFormat_ARGB128, 8, 6), largest(PF_PixelFormat_ARGB128, 8, 6);
  fx_->set_float(kRadius, 1e12);
  ASSERT_EQ(render(in, huge), PF_Err_NONE);
  fx_->set_float(kRadius, 300.0);
  ASSERT_EQ(render(in, largest), PF_Err_NONE);
  EXPECT_EQ(differing_pixels(huge, largest), 0);

  // A zero denominator of the downsample ratio: an infinite radius, rendered as a copy.
  fx_->settings.downsample_x = {1, 0};
  hostsim::World copied(PF_PixelFormat_ARGB128, 8, 6);
  fx_->set_float(kRadius, 5.0);
  ASSERT_EQ(render(in, copied), PF_Err_NONE);
  EXPECT_EQ(differing_pixels(in, copied), 0);
}

}  // namespace
