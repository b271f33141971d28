// The tile stage: overlap-discard convolution of the input world with the iris kernel.
// Tiles of n x n pixels start at (-p, -p) and advance by n - 2p, so the inner squares that
// are written back abut exactly and every output pixel is written by one tile.
#include "render/convolve_tiles.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fft/fft2d.h"
#include "render/tile_pixels.h"

namespace {

constexpr int32_t kMaxTile = 1024;

// A blurred alpha at or below this is treated as nothing at all: the pixel is written as
// transparent black, which also keeps an all-zero kernel from being divided by.
constexpr double kAlphaFloor = 3e-5;

struct TileGeometry {
  int32_t n;
  int32_t p;
  int32_t width;
  int32_t height;
  bool mirror;
};

int32_t outside_index(int32_t v, int32_t size, bool mirror) {
  if (v >= 0 && v < size) return v;
  if (mirror) return mirror_index(v, size);
  return v < 0 ? 0 : size - 1;
}

// Fills the two work planes with the tile whose top-left source pixel is (tx, ty).
// Plane row i is image column tx + i.
template <typename Pixel>
void load_tile(const Pixel* input, int32_t input_stride, const TileGeometry& geo, int32_t tx,
               int32_t ty, const TileLoadRule& rule, const WorkingPlanes& planes) {
  // Source row offsets of the tile's rows, folded once per tile instead of once per pixel.
  std::array<std::ptrdiff_t, kMaxTile> row_offset;
  for (int32_t j = 0; j < geo.n; ++j) {
    row_offset[j] =
        static_cast<std::ptrdiff_t>(outside_index(ty + j, geo.height, geo.mirror)) * input_stride;
  }
  for (int32_t i = 0; i < geo.n; ++i) {
    const Pixel* column = input + outside_index(tx + i, geo.width, geo.mirror);
    double* rg = planes.rg.rows[i];
    double* ba = planes.ba.rows[i];
    for (int32_t j = 0; j < geo.n; ++j) {
      const PlaneValues v = TilePixelTraits<Pixel>::load(column[row_offset[j]], rule);
      rg[2 * j] = v.r;
      rg[2 * j + 1] = v.g;
      ba[2 * j] = v.b;
      ba[2 * j + 1] = v.a;
    }
  }
}

// Forward transforms, product with the kernel spectrum, inverse transforms and the quadrant
// swap. Each transform of the unscaled pair is followed by a division by n; the second
// division is left to the write-back, which reads only the inner square.
void convolve_planes(int32_t n, const WorkingPlanes& planes) {
  fft_2d(n, 2 * n, 1, planes.rg.rows, planes.fft_work, planes.fft_table);
  fft_2d(n, 2 * n, 1, planes.ba.rows, planes.fft_work, planes.fft_table);
  // n is a power of two, so multiplying by 1/n is exactly the division by n.
  const double inv_n = 1.0 / n;
  for (int32_t i = 0; i < n; ++i) {
    double* rg = planes.rg.rows[i];
    double* ba = planes.ba.rows[i];
    const double* k = planes.kernel.rows[i];
    for (int32_t j = 0; j < 2 * n; j += 2) {
      const double c = k[j];
      const double d = k[j + 1];
      const double rg_re = rg[j] * inv_n;
      const double rg_im = rg[j + 1] * inv_n;
      const double ba_re = ba[j] * inv_n;
      const double ba_im = ba[j + 1] * inv_n;
      rg[j] = rg_re * c - rg_im * d;
      rg[j + 1] = rg_re * d + rg_im * c;
      ba[j] = ba_re * c - ba_im * d;
      ba[j + 1] = ba_re * d + ba_im * c;
    }
  }
  fft_2d(n, 2 * n, -1, planes.rg.rows, planes.fft_work, planes.fft_table);
  fft_2d(n, 2 * n, -1, planes.ba.rows, planes.fft_work, planes.fft_table);
  swap_quadrants(planes.rg.rows, n);
  swap_quadrants(planes.ba.rows, n);
}

// Writes the part of the tile's inner square that lies inside the image: normalises by the
// blurred alpha, undoes the weighting and converts to the output format.
template <typename Pixel>
void write_tile(Pixel* output, int32_t output_stride, const TileGeometry& geo, int32_t tx,
                int32_t ty, double kernel_sum, const TileLoadRule& rule,
                const WorkingPlanes& planes) {
  using Traits = TilePixelTraits<Pixel>;
  const int32_t i_begin = geo.p > -tx ? geo.p : -tx;
  const int32_t i_end = geo.n - geo.p < geo.width - tx ? geo.n - geo.p : geo.width - tx;
  const int32_t j_begin = geo.p > -ty ? geo.p : -ty;
  const int32_t j_end = geo.n - geo.p < geo.height - ty ? geo.n - geo.p : geo.height - ty;
  const double inv_n = 1.0 / geo.n;
  for (int32_t i = i_begin; i < i_end; ++i) {
    const double* rg = planes.rg.rows[i];
    const double* ba = planes.ba.rows[i];
    Pixel* column = output + (tx + i);
    for (int32_t j = j_begin; j < j_end; ++j) {
      Pixel& out = column[static_cast<std::ptrdiff_t>(ty + j) * output_stride];
      const double a = ba[2 * j + 1] * inv_n;
      if (a <= kAlphaFloor) {
        out = Pixel{};
        continue;
      }
      const double f = a / Traits::kAlphaFullScale;
      double r = rg[2 * j] * inv_n / f;
      double g = rg[2 * j + 1] * inv_n / f;
      double b = ba[2 * j] * inv_n / f;
      if (rule.weighted) {
        r = rule.inverse_log_weight * std::log(r);
        g = rule.inverse_log_weight * std::log(g);
        b = rule.inverse_log_weight * std::log(b);
      }
      out = Traits::store(r, g, b, a / kernel_sum, rule);
    }
  }
}

template <typename Pixel>
PF_Err walk_tiles(const Pixel* input, Pixel* output, const RenderRecord& rec,
                  const TileGeometry& geo, const WorkingPlanes& planes, double kernel_sum,
                  const TileLoadRule& rule, int32_t& progress_count, int32_t progress_total,
                  const TileHost& host) {
  PF_Err err = PF_Err_NONE;
  const int32_t step = geo.n - 2 * geo.p;
  for (int32_t ty = -geo.p; ty < geo.height; ty += step) {
    for (int32_t tx = -geo.p; tx < geo.width; tx += step) {
      load_tile(input, rec.input_stride, geo, tx, ty, rule, planes);
      convolve_planes(geo.n, planes);
      write_tile(output, rec.output_stride, geo, tx, ty, kernel_sum, rule, planes);
      // A failed report (a cancel, say) stops the reports but not the walk: the output is
      // always complete.
      ++progress_count;
      if (err == PF_Err_NONE && host.progress != nullptr) {
        err = host.progress(host.effect_ref, progress_count, progress_total);
      }
    }
  }
  return err;
}

bool is_tile_size(int32_t n) { return n >= 2 && n <= kMaxTile && (n & (n - 1)) == 0; }

bool planes_present(const WorkingPlanes& planes) {
  return planes.rg.rows != nullptr && planes.ba.rows != nullptr && planes.kernel.rows != nullptr &&
         planes.fft_work != nullptr && planes.fft_table != nullptr;
}

// The record's image description must be usable as it stands: an inconsistent one is
// refused before anything is read or written.
bool image_usable(const RenderRecord& rec) {
  if (rec.width < 0 || rec.height < 0) return false;
  if (rec.width == 0 || rec.height == 0) return true;  // nothing will be read or written
  if (rec.input_stride < rec.width || rec.output_stride < rec.width) return false;
  switch (rec.pixel_format) {
    case kPixelFormat8:
      return rec.input_pixels8 != nullptr && rec.output_pixels8 != nullptr;
    case kPixelFormat16:
      return rec.input_pixels16 != nullptr && rec.output_pixels16 != nullptr;
    case kPixelFormatFloat:
      return rec.input_pixels_float != nullptr && rec.output_pixels_float != nullptr;
    default:
      return false;
  }
}

}  // namespace

PF_Err convolve_tiles(const RenderRecord& rec, int32_t n, int32_t p, const WorkingPlanes& planes,
                      double kernel_sum, int32_t& progress_count, int32_t progress_total,
                      const TileHost& host, PF_Err pending_err) {
  if (pending_err != PF_Err_NONE) return pending_err;
  // A weight base below 1 (or not a number) would turn the weighting and the float cap
  // upside down; the tile geometry must leave a positive step.
  if (!is_tile_size(n) || p < 0 || p >= n / 2 || !planes_present(planes) || !image_usable(rec) ||
      !(rec.weight_base >= 1.0) || !std::isfinite(rec.weight_base)) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }

  // An empty image has no pixel to write and no tile to walk.
  if (rec.width == 0 || rec.height == 0) return PF_Err_NONE;

  // The kernel spectrum, unscaled; this first transform of the render builds the table.
  fft_2d(n, 2 * n, 1, planes.kernel.rows, planes.fft_work, planes.fft_table);

  TileLoadRule rule{};
  rule.gain = rec.specular_brightness;
  rule.threshold = rec.specular_threshold;
  rule.weight_base = rec.weight_base;
  rule.weighted = rec.weight_base != 1.0;
  // 1 / ln 1 is +infinity: the weighting is then off and the float cap unbounded.
  rule.inverse_log_weight = 1.0 / std::log(rec.weight_base);
  // Bounds the weighting's exponent 255 x v x ln M by 255 x 0.12890625.
  rule.float_cap = 0.12890625 * rule.inverse_log_weight;

  TileGeometry geo{n, p, rec.width, rec.height, rec.outside_mode == kOutsideMirror};
  switch (rec.pixel_format) {
    case kPixelFormat8:
      return walk_tiles(rec.input_pixels8, rec.output_pixels8, rec, geo, planes, kernel_sum, rule,
                        progress_count, progress_total, host);
    case kPixelFormat16:
      return walk_tiles(rec.input_pixels16, rec.output_pixels16, rec, geo, planes, kernel_sum, rule,
                        progress_count, progress_total, host);
    default:
      return walk_tiles(rec.input_pixels_float, rec.output_pixels_float, rec, geo, planes,
                        kernel_sum, rule, progress_count, progress_total, host);
  }
}
