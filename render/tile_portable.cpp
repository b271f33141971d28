// The tile stage's pixel loops in portable C++, with the library's pow and log. They walk
// the tile in blocks of four plane rows (four neighbouring image columns) so that, row by
// row of the image, reads and writes of pixels stay within a few cache lines while every
// plane row is filled or read in order.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/tile_kernels.h"
#include "render/tile_pairs.h"

namespace {

constexpr int32_t kBlock = 4;

// How many image rows ahead a block fetches its own pixels (see for_each_source_pixel).
constexpr int32_t kRowsAhead = 8;

// Pixels per 64-byte cache line, at least one block.
template <typename Pixel>
constexpr int32_t kLinePixels = 64 / sizeof(Pixel) > kBlock
                                    ? static_cast<int32_t>(64 / sizeof(Pixel))
                                    : kBlock;

// Calls visit(rg, ba, pixel) for every pixel of the tile, block by block, with rg and ba
// the places of its values in the two planes. Only the tile's reach is visited
// (TileSource); the rest of the planes is filled. A block's columns and plane rows are
// looked up once, not for every pixel.
template <typename Pixel, typename Visit>
void for_each_source_pixel(const Pixel* input, const WorkingPlanes& planes, int32_t n,
                           const TileSource& source, Visit visit, bool blue = true) {
  for (int32_t i0 = 0; i0 < source.columns; i0 += kBlock) {
    const int32_t count = source.columns - i0 < kBlock ? source.columns - i0 : kBlock;
    const Pixel* column[kBlock];
    double* rg[kBlock];
    double* ba[kBlock];
    for (int32_t k = 0; k < count; ++k) {
      column[k] = input + source.column[i0 + k];
      rg[k] = planes.rg.rows[i0 + k];
      ba[k] = planes.ba.rows[i0 + k];
    }
    // The next cache line of each image row is fetched while this block is worked on: a
    // block walks down the image, a line or less per row, which the processor's own
    // prefetcher does not follow.
    const int32_t next = i0 + kLinePixels<Pixel>;
    const Pixel* ahead = next < source.columns ? input + source.column[next] : nullptr;
    for (int32_t j = 0; j < source.rows; ++j) {
      const std::ptrdiff_t offset = source.row_offset[j];
      if (ahead != nullptr) __builtin_prefetch(ahead + offset);
      // The block's own pixels a few rows on: the later blocks of an image row's cache line
      // find it in the second-level cache (the first block's plane rows have pushed it out of
      // the first), and a table lookup waits on each byte. AMD EPYC Zen 4: the 8-bit
      // loading 0.9 of the time.
      if (j + kRowsAhead < source.rows) {
        __builtin_prefetch(column[0] + source.row_offset[j + kRowsAhead]);
      }
      for (int32_t k = 0; k < count; ++k) visit(rg[k] + 2 * j, ba[k] + 2 * j, column[k][offset]);
    }
  }
  fill_beyond_reach(planes, n, source, blue);
}

// for_each_source_pixel over all four channels: store(rg, ba, pixel) for every pixel, each
// pixel's alpha compared with the first's on the way (see TileKernels).
template <typename Pixel, typename Store>
std::optional<double> load_all_channels(const Pixel* input, const TilePlan& plan,
                                        const TileSource& source, const WorkingPlanes& planes,
                                        Store store) {
  const Pixel first = first_source_pixel(input, source);
  bool differs = false;
  for_each_source_pixel(input, planes, plan.n, source,
                        [&](double* rg, double* ba, const Pixel& px) {
                          differs |= !same_alpha(px, first);
                          store(rg, ba, px);
                        });
  return one_alpha(first, differs, plan);
}

void store_values(double* rg, double* ba, const PlaneValues& v, double alpha_scale) {
  rg[0] = v.r;
  rg[1] = v.g;
  ba[0] = v.b;
  ba[1] = v.a * alpha_scale;
}

void store_red_green(double* rg, const PlaneValues& v) {
  rg[0] = v.r;
  rg[1] = v.g;
}

std::optional<double> load_float_portable(const PF_PixelFloat* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes) {
  return load_all_channels(
      input, plan, source, planes, [&](double* rg, double* ba, const PF_PixelFloat& px) {
        store_values(rg, ba, TilePixelTraits<PF_PixelFloat>::load(px, plan.rule), plan.alpha_scale);
      });
}

void load_red_green_float_portable(const PF_PixelFloat* input, const TilePlan& plan,
                                   const TileSource& source, const WorkingPlanes& planes) {
  for_each_source_pixel(
      input, planes, plan.n, source,
      [&](double* rg, double*, const PF_PixelFloat& px) {
        store_red_green(rg, TilePixelTraits<PF_PixelFloat>::load(px, plan.rule));
      },
      false);
}

// The tile's inner square inside the image: normalised by the blurred alpha, the weighting
// undone, converted. Element [i][j] of the result sits at [i + n/2][j + n/2] (mod n) of the
// transformed planes: the quadrant swap is done by the indexing.
template <typename Pixel>
void write_portable(Pixel* output, const TilePlan& plan, int32_t tx, int32_t ty,
                    const WorkingPlanes& planes) {
  using Traits = TilePixelTraits<Pixel>;
  const TileLoadRule& rule = plan.rule;
  const int32_t half = plan.n / 2, wrap = plan.n - 1;
  const InnerRange across = inner_range(plan.n, plan.p, tx, plan.width);
  const InnerRange down = inner_range(plan.n, plan.p, ty, plan.height);
  // The planes hold alpha times the alpha scale (a power of two): the limits and divisors
  // below carry the same factor, so each comparison and quotient has exactly the value it
  // would have with unscaled alpha (scaling by a power of two rounds nothing).
  const double floor = kAlphaFloor * plan.alpha_scale;
  const double full = Traits::kAlphaFullScale * plan.alpha_scale;
  const double kernel_sum = plan.kernel_sum * plan.alpha_scale;
  const double log_scale = Traits::log_scale(rule);
  for (int32_t i0 = across.begin; i0 < across.end; i0 += kBlock) {
    const int32_t count = across.end - i0 < kBlock ? across.end - i0 : kBlock;
    for (int32_t j = down.begin; j < down.end; ++j) {
      const int32_t e = 2 * ((j + half) & wrap);
      Pixel* out = output + static_cast<std::ptrdiff_t>(ty + j) * plan.output_stride + tx + i0;
      for (int32_t k = 0; k < count; ++k) {
        const int32_t row = (i0 + k + half) & wrap;
        const double* rg = planes.rg.rows[row] + e;
        const double* ba = planes.ba.rows[row] + e;
        const double a = plan.paired ? plan.paired_alpha : ba[1];
        if (a <= floor) {
          out[k] = Pixel{};
          continue;
        }
        // Colour over f = a / full, as colour x (full / a): one division a pixel.
        const double q = full / a;
        double r = rg[0] * q;
        double g = rg[1] * q;
        double b = ba[plan.blue_imaginary ? 1 : 0] * q;
        if (rule.weighted) {
          r = log_scale * std::log(r);
          g = log_scale * std::log(g);
          b = log_scale * std::log(b);
        }
        out[k] = Traits::store(r, g, b, a / kernel_sum, rule);
      }
    }
  }
}

void write8_portable(PF_Pixel8* output, const TilePlan& plan, int32_t tx, int32_t ty,
                     const WorkingPlanes& planes) {
  write_portable(output, plan, tx, ty, planes);
}
void write16_portable(PF_Pixel16* output, const TilePlan& plan, int32_t tx, int32_t ty,
                      const WorkingPlanes& planes) {
  write_portable(output, plan, tx, ty, planes);
}
void write_float_portable(PF_PixelFloat* output, const TilePlan& plan, int32_t tx, int32_t ty,
                          const WorkingPlanes& planes) {
  write_portable(output, plan, tx, ty, planes);
}

}  // namespace

void fill_beyond_reach(const WorkingPlanes& planes, int32_t n, const TileSource& source,
                       bool blue) {
  const int32_t filled = source.whole_rows ? n : source.rows;
  const ComplexPlane* filled_planes[] = {&planes.rg, &planes.ba};
  for (int32_t k = 0; k < (blue ? 2 : 1); ++k) {
    const ComplexPlane& plane = *filled_planes[k];
    for (int32_t i = 0; i < source.columns && filled > source.rows; ++i) {
      double* row = plane.rows[i];
      const double re = row[2 * source.rows - 2], im = row[2 * source.rows - 1];
      for (int32_t e = 2 * source.rows; e < 2 * n; e += 2) {
        row[e] = re;
        row[e + 1] = im;
      }
    }
    for (int32_t i = source.columns; i < n; ++i) {
      std::copy(plane.rows[source.columns - 1], plane.rows[source.columns - 1] + 2 * filled,
                plane.rows[i]);
    }
  }
}

std::optional<double> load_tile8_blocked(const PF_Pixel8* input, const TilePlan& plan,
                                         const TileSource& source, const WorkingPlanes& planes) {
  const double* colour = plan.colour8;
  return load_all_channels(
      input, plan, source, planes, [&](double* rg, double* ba, const PF_Pixel8& px) {
        store_values(
            rg, ba,
            {colour[px.red], colour[px.green], colour[px.blue], static_cast<double>(px.alpha)},
            plan.alpha_scale);
      });
}

std::optional<double> load_tile16_blocked(const PF_Pixel16* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes) {
  auto colour = [&](uint16_t c) { return colour16_of(plan, c); };
  return load_all_channels(
      input, plan, source, planes, [&](double* rg, double* ba, const PF_Pixel16& px) {
        store_values(rg, ba, {colour(px.red), colour(px.green), colour(px.blue), px.alpha / 128.0},
                     plan.alpha_scale);
      });
}

void load_red_green8_blocked(const PF_Pixel8* input, const TilePlan& plan, const TileSource& source,
                             const WorkingPlanes& planes) {
  const double* colour = plan.colour8;
  for_each_source_pixel(
      input, planes, plan.n, source,
      [&](double* rg, double*, const PF_Pixel8& px) {
        rg[0] = colour[px.red];
        rg[1] = colour[px.green];
      },
      false);
}

void load_red_green16_blocked(const PF_Pixel16* input, const TilePlan& plan,
                              const TileSource& source, const WorkingPlanes& planes) {
  for_each_source_pixel(
      input, planes, plan.n, source,
      [&](double* rg, double*, const PF_Pixel16& px) {
        rg[0] = colour16_of(plan, px.red);
        rg[1] = colour16_of(plan, px.green);
      },
      false);
}

std::optional<double> load_blue_float_portable(const PF_PixelFloat* input, const TilePlan& plan,
                                               const TileSource& source,
                                               const WorkingPlanes& planes) {
  return load_blue_imaginary(input, plan, source, planes);
}

TileKernels tile_kernels_portable() {
  return {load_tile8_blocked,       load_tile16_blocked,
          load_float_portable,      write8_portable,
          write16_portable,         write_float_portable,
          load_blue_float_portable, load_red_green8_blocked,
          load_red_green16_blocked, load_red_green_float_portable};
}
