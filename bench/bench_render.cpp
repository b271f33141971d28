// Full-frame renders: a 1920 x 1080 picture blurred by the module, loaded from beside this
// program (or from $VEILMORA_MODULE) and driven through the stand-in host as the veilmora
// command drives it (global, parameter and sequence setup once, then smart pre-render and
// smart render per frame), against OpenCV's cv::filter2D on one thread with the same circle
// iris, normalised, on a CV_32FC4 copy of the picture with BORDER_REFLECT (which repeats the
// edge pixel, like the Mirror outside rule).
//
// Groups: "render_float" is the float render with Weight 2 against filter2D (which does no
// highlight weighting); "render_8bit" is the 8-bit render of the same picture against the
// float render, so its ratio says how the 8-bit path compares with the float one;
// "render_unweighted" is the float render with Weight 0 (no exponentials or logarithms) on
// its own, so that its transform floor ratio beside the Weight 2 one shows what the
// weighting costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/transform_floor.h"
#include "hostsim/hostsim.h"
#include "render/iris_kernel.h"

namespace {

constexpr int32_t kWidth = kRenderWidth;
constexpr int32_t kHeight = kRenderHeight;
constexpr PF_ParamIndex kRadius = 1, kWeight = 2;

// A night street: a smooth dim background, a few hundred lights from faint to well above
// full scale (the highlights the weighting is for), and a band that fades to transparent.
std::vector<float> make_scene() {
  std::vector<float> argb(4 * static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      float* p = &argb[4 * (static_cast<size_t>(y) * kWidth + x)];
      const double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
      p[0] = x < 160 ? static_cast<float>(x / 160.0) : 1.0f;
      p[1] = static_cast<float>(0.05 + 0.10 * v + 0.05 * std::sin(9.0 * u));
      p[2] = static_cast<float>(0.04 + 0.08 * u * v);
      p[3] = static_cast<float>(0.10 + 0.15 * v + 0.05 * std::cos(7.0 * v + 3.0 * u));
    }
  }
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int32_t> px(0, kWidth - 1), py(0, kHeight - 1), size(0, 3);
  std::uniform_real_distribution<double> level(0.3, 4.0), hue(0.5, 1.0);
  for (int light = 0; light < 600; ++light) {
    const int32_t cx = px(rng), cy = py(rng), r = size(rng);
    const double l = level(rng), tint_g = hue(rng), tint_b = hue(rng);
    for (int32_t y = std::max(cy - r, 0); y <= std::min(cy + r, kHeight - 1); ++y) {
      for (int32_t x = std::max(cx - r, 0); x <= std::min(cx + r, kWidth - 1); ++x) {
        float* p = &argb[4 * (static_cast<size_t>(y) * kWidth + x)];
        p[1] = static_cast<float>(l);
        p[2] = static_cast<float>(l * tint_g);
        p[3] = static_cast<float>(l * tint_b);
      }
    }
  }
  return argb;
}

std::string module_path() {
  if (const char* given = std::getenv("VEILMORA_MODULE")) return given;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("Veilmora.so") : (exe.parent_path() / "Veilmora.so").string();
}

// The module, one started instance and the worlds, made on first use and kept for the run.
struct RenderBench {
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Instance> instance;
  std::unique_ptr<hostsim::World> input_float, output_float, input8, output8;
  cv::Mat scene;  // CV_32FC4, the float picture in the module's channel order
  bool started = false;

  RenderBench() {
    hostsim::set_call_log_limit(0);  // as the command does: the call log is for tests
    const std::vector<float> argb = make_scene();
    input_float = std::make_unique<hostsim::World>(PF_PixelFormat_ARGB128, kWidth, kHeight);
    output_float = std::make_unique<hostsim::World>(PF_PixelFormat_ARGB128, kWidth, kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
      PF_PixelFloat* row = input_float->row<PF_PixelFloat>(y);
      for (int32_t x = 0; x < kWidth; ++x) {
        const float* p = &argb[4 * (static_cast<size_t>(y) * kWidth + x)];
        row[x] = {p[0], p[1], p[2], p[3]};
      }
    }
    input8 = input_float->converted(PF_PixelFormat_ARGB32);
    output8 = std::make_unique<hostsim::World>(PF_PixelFormat_ARGB32, kWidth, kHeight);
    scene = cv::Mat(kHeight, kWidth, CV_32FC4);
    for (int32_t y = 0; y < kHeight; ++y) {
      std::memcpy(scene.ptr<float>(y), input_float->row<PF_PixelFloat>(y),
                  sizeof(PF_PixelFloat) * kWidth);
    }
    module = hostsim::load_module(module_path());
    instance = std::make_unique<hostsim::Instance>(*module);
    started = instance->start().err == PF_Err_NONE;
  }
  ~RenderBench() {
    if (started) instance->finish();
    instance.reset();
  }
};

RenderBench& bench() {
  static RenderBench b;
  return b;
}

void render_through_module(benchmark::State& state, bool eight_bit, double weight) {
  RenderBench& b = bench();
  if (!b.started) {
    state.SkipWithError("the module did not start");
    return;
  }
  b.instance->set_float(kRadius, static_cast<double>(state.range(0)));
  b.instance->set_float(kWeight, weight);
  const hostsim::World& in = eight_bit ? *b.input8 : *b.input_float;
  hostsim::World& out = eight_bit ? *b.output8 : *b.output_float;
  for (auto _ : state) {
    const hostsim::FrameResult r = b.instance->render_frame(hostsim::frame_request(in, out));
    if (r.err != PF_Err_NONE) {
      state.SkipWithError(("the render failed with " + std::to_string(r.err)).c_str());
      break;
    }
  }
}

void bm_float(benchmark::State& state) { render_through_module(state, false, 2.0); }
void bm_8bit(benchmark::State& state) { render_through_module(state, true, 2.0); }
void bm_unweighted(benchmark::State& state) { render_through_module(state, false, 0.0); }

// The module's own circle iris of the radius (rim ramp included), cut to its support of
// (2R + 1) x (2R + 1) and normalised; rows along y as OpenCV expects.
cv::Mat circle_iris(int32_t radius) {
  constexpr int32_t n = 1024;
  std::vector<double> block(2 * static_cast<size_t>(n) * n);
  std::vector<double*> rows(n);
  for (int32_t a = 0; a < n; ++a) rows[a] = block.data() + 2 * static_cast<size_t>(n) * a;
  const KernelRequest request{static_cast<double>(radius), n,      kShapeCircle, 8, 0.0,
                              kPixelFormatFloat,           nullptr};
  const IrisSampler no_sampler{nullptr, nullptr, nullptr, nullptr};
  PF_ANSICallbacks platform_math{};
  double sum = 0.0;
  if (build_kernel(request, no_sampler, platform_math, ComplexPlane{rows.data()}, sum) != 0) {
    return {};
  }
  const int32_t side = 2 * radius + 1;
  cv::Mat kernel(side, side, CV_32F);
  double support_sum = 0.0;
  for (int32_t dy = -radius; dy <= radius; ++dy) {
    for (int32_t dx = -radius; dx <= radius; ++dx) {
      const double value = rows[n / 2 + dx][2 * (n / 2 + dy)];
      support_sum += value;
      kernel.at<float>(dy + radius, dx + radius) = static_cast<float>(value / sum);
    }
  }
  // Everything outside the cut must be zero, or the peer would blur with a smaller iris.
  if (std::fabs(support_sum - sum) > 1e-9 * sum) return {};
  return kernel;
}

void bm_filter2d(benchmark::State& state) {
  RenderBench& b = bench();
  cv::setNumThreads(1);
  const cv::Mat kernel = circle_iris(static_cast<int32_t>(state.range(0)));
  if (kernel.empty()) {
    state.SkipWithError("could not build the iris");
    return;
  }
  cv::Mat blurred;
  for (auto _ : state) {
    cv::filter2D(b.scene, blurred, -1, kernel, cv::Point(-1, -1), 0.0, cv::BORDER_REFLECT);
    benchmark::DoNotOptimize(blurred.data);
  }
}

// One iteration is one whole frame; the medians of 9 repetitions are compared (fewer let a
// burst of load on a shared machine decide a median). filter2D takes up to a second a frame
// at radius 300, so the whole group runs in about a minute.
void radii(benchmark::internal::Benchmark* b) {
  for (int radius : {10, 40, 150, 300}) b->Arg(radius);
  b->Iterations(1)->Repetitions(9)->ReportAggregatesOnly(true);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(bm_float)->Name("render_float/veilmora")->Apply(radii);
BENCHMARK(bm_filter2d)->Name("render_float/opencv_filter2D")->Apply(radii);
BENCHMARK(bm_8bit)->Name("render_8bit/veilmora")->Apply(radii);
BENCHMARK(bm_float)->Name("render_8bit/float")->Apply(radii);
BENCHMARK(bm_unweighted)->Name("render_unweighted/veilmora")->Apply(radii);

}  // namespace
