// Renders RGBA frames through the tile stage. The glue only rearranges pixels (RGBA bytes to
// the module's alpha-first 8-bit pixels and back) and chooses the tiles as the module's render
// driver does; every value is computed by render/ and fft/.
#include "frei0r/frame_renderer.h"

#include <cmath>
#include <cstring>
#include <new>

#include "render/convolve_tiles.h"
#include "render/iris_kernel.h"
#include "render/tile_size.h"

// The three complex planes and the transform's work arrays for the current tile size.
struct FrameRenderer::Planes {
  int32_t n = 0;
  std::vector<double> data[3];  // rg, ba, kernel: plane_block_doubles(n) each
  std::vector<double*> rows[3];
  std::vector<int32_t> fft_work;
  std::vector<double> fft_table;
  WorkingPlanes view{};
};

namespace {

void rgba_to_argb(const uint8_t* rgba, PF_Pixel8* argb, size_t count) {
  for (size_t i = 0; i < count; ++i, rgba += 4) {
    argb[i].red = rgba[0];
    argb[i].green = rgba[1];
    argb[i].blue = rgba[2];
    argb[i].alpha = rgba[3];
  }
}

void argb_to_rgba(const PF_Pixel8* argb, uint8_t* rgba, size_t count) {
  for (size_t i = 0; i < count; ++i, rgba += 4) {
    rgba[0] = argb[i].red;
    rgba[1] = argb[i].green;
    rgba[2] = argb[i].blue;
    rgba[3] = argb[i].alpha;
  }
}

}  // namespace

bool FrameRenderer::size_supported(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return false;
  return width * height <= INT32_MAX;
}

FrameRenderer::FrameRenderer(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      argb_in_(static_cast<size_t>(width) * height),
      argb_out_(static_cast<size_t>(width) * height),
      planes_(std::make_unique<Planes>()) {}

FrameRenderer::~FrameRenderer() = default;

// Lays the planes out for tile size n. The vectors keep their capacity when the tiles shrink,
// so memory is taken only for a tile larger than any before.
bool FrameRenderer::ensure_tile_size(int32_t n) {
  Planes& p = *planes_;
  if (p.n == n) return true;
  p.n = 0;
  try {
    for (int k = 0; k < 3; ++k) {
      p.data[k].resize(plane_block_doubles(n));
      p.rows[k].resize(n);
      double* first = plane_first_row(p.data[k].data());
      for (int32_t r = 0; r < n; ++r) p.rows[k][r] = first + 2 * static_cast<size_t>(n) * r;
    }
    p.fft_work.resize(fft_work_entries(n));
    p.fft_table.resize(fft_table_entries(n));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The table is built by the first transform after a change of size and reused after that.
  p.fft_work[0] = 0;
  p.view = WorkingPlanes{};
  p.view.rg.rows = p.rows[0].data();
  p.view.ba.rows = p.rows[1].data();
  p.view.kernel.rows = p.rows[2].data();
  p.view.fft_work = p.fft_work.data();
  p.view.fft_table = p.fft_table.data();
  p.n = n;
  return true;
}

bool FrameRenderer::blur(const EffectValues& values, const uint8_t* input, uint8_t* output) {
  const size_t count = argb_in_.size();
  RenderRecord record{};
  fill_parameters(values, record);
  record.width = width_;
  record.height = height_;
  record.input_stride = width_;
  record.output_stride = width_;
  record.pixel_format = kPixelFormat8;
  record.input_pixels8 = argb_in_.data();
  record.output_pixels8 = argb_out_.data();

  const double radius = record.radius * record.downsample_factor;
  const auto margin = static_cast<int32_t>(std::ceil(radius));
  const int32_t n = tile_size_for(width_ > height_ ? width_ : height_, margin);
  if (!ensure_tile_size(n)) return false;

  rgba_to_argb(input, argb_in_.data(), count);
  const PF_ANSICallbacks platform_math{};  // null entries: the C library's routines
  const KernelRequest request{radius,        n,      record.shape, record.edges, record.phase,
                              kPixelFormat8, nullptr};
  const IrisSampler no_sampler{};
  double kernel_sum = 0.0;
  PF_Err err = build_kernel(request, no_sampler, platform_math, planes_->view.kernel, kernel_sum);
  int32_t progress_count = 0;
  const TileHost no_progress{nullptr, nullptr, &platform_math};
  err = convolve_tiles(record, n, margin, planes_->view, kernel_sum, progress_count, 0, no_progress,
                       err);
  // An error is not reached with the settings' ranges; were it, the frame would be left
  // unblurred rather than half written.
  if (err != PF_Err_NONE) return false;
  argb_to_rgba(argb_out_.data(), output, count);
  return true;
}

bool FrameRenderer::render(const FilterSettings& settings, const uint8_t* input, uint8_t* output) {
  const EffectValues values = effect_values(settings);
  const size_t bytes = argb_in_.size() * 4;
  // A radius of 0 is a plain copy, as in the module.
  if (!(values.radius > 0.0)) {
    if (output != input) std::memmove(output, input, bytes);
    return true;
  }
  if (blur(values, input, output)) return true;
  if (output != input) std::memmove(output, input, bytes);
  return false;
}
