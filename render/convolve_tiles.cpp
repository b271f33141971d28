// The tile stage: overlap-discard convolution of the input world with the iris kernel.
// Tiles of n x n pixels start at (-p, -p) and advance by n - 2p, so the inner squares that
// are written back abut exactly and every output pixel is written by one tile.
//
// What does not change from tile to tile is prepared once per render: the kernel spectrum,
// already divided by n x n (both divisions by n of the unscaled transform pair; n is a power
// of two, so this is exact and changes no result; only its real parts when the kernel is
// point-symmetric, see point_symmetric; each row in the order the convolutions' row
// transforms leave their values, fft_2d_spectrum_order), the plane values of every 8-bit and
// 16-bit colour channel value (the weighting's pow taken once per value, not per pixel), and
// the choice among the portable and the vector pixel loops (tile_kernels.h), and the power
// of two alpha is scaled by (TilePlan::alpha_scale): the plane value of a full-scale colour
// channel over the alpha full scale, so that alpha, which shares its transform with blue,
// is rounded relative to its own size rather than to the brightest highlight's.
//
// Two neighbouring tiles in the rows-last order that each read one alpha throughout share a
// transform (tile_pairs.h): three plane convolutions instead of four, where footage is opaque.
#include "render/convolve_tiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fft/fft2d.h"
#include "fft/instruction_set.h"
#include "render/tile_kernels.h"
#include "render/tile_pairs.h"
#include "render/tile_pixels.h"

namespace {

int32_t outside_index(int32_t v, int32_t size, bool mirror) {
  if (v >= 0 && v < size) return v;
  if (mirror) return mirror_index(v, size);
  return v < 0 ? 0 : size - 1;
}

// Row tables of one tile's transforms: where the forward transforms leave their spectra
// (the rows are not moved into place), and then where the inverse ones leave the results.
struct TileOrders {
  std::array<double*, kMaxTile> rg, ba;
};

// What a tile's convolution needs: the plane columns the loader read (image rows of the
// tile: `reach`), and the written pixels, whose plane rows and columns alone the
// write-back reads (the inner square inside the image, each index moved by half a tile:
// the quadrant swap is left to the write-back's indexing).
struct TileNeeds {
  int32_t reach;
  InnerRange across, down;
};

int32_t moved_by_half(int32_t n, int32_t index) { return (index + n / 2) & (n - 1); }

// Two orders of the work suit different tiles: the filter, which transforms every plane row
// twice (forward and back) but only the plane columns the tile reads and writes, or the
// rows-last convolution, whose inverse computes only the written plane rows (and which,
// with the circle's real spectrum, multiplies and starts the inverse on the way out of the
// forward transforms). Measured one against the other on tiles of 256, 512 and 1024 (AMD
// EPYC Zen 4), the filter is the faster where the plane columns it reads and writes
// together number fewer than 1.7 times the written plane rows (the picture's lower edge,
// small margins); at 1024 it is as fast with every column read and written, and faster below
// 3 times the rows (the rows-last order's column passes then run over a plane twice the size
// of the second-level cache).
bool filter_suits(int32_t n, const TileNeeds& needs) {
  const int32_t columns = needs.reach + (needs.down.end - needs.down.begin);
  const int32_t written_rows = needs.across.end - needs.across.begin;
  return n >= 1024 ? columns < 3 * written_rows : 10 * columns < 17 * written_rows;
}

// The convolution of both planes (or, without `blue`, of the red-and-green plane alone) with
// the (pre-scaled) kernel spectrum, through the filter or in the rows-last order
// (filter_suits). `ordered` receives the planes as the write-back must see them: its row
// pointers (kept in the tables) name the rows that hold each result row.
void convolve_planes(int32_t n, bool real_spectrum, const WorkingPlanes& planes,
                     const TileNeeds& needs, bool filter, TileOrders& orders,
                     WorkingPlanes& ordered, bool blue = true) {
  double** ba = blue ? planes.ba.rows : nullptr;
  double** ba_order = blue ? orders.ba.data() : nullptr;
  if (filter) {
    fft_2d_filter(n, 2 * n, planes.rg.rows, ba, planes.kernel.rows, real_spectrum, needs.reach,
                  moved_by_half(n, needs.down.begin), needs.down.end - needs.down.begin,
                  orders.rg.data(), ba_order, planes.fft_work, planes.fft_table);
  } else {
    fft_2d_convolve_rows(n, 2 * n, planes.rg.rows, ba, planes.kernel.rows, real_spectrum,
                         moved_by_half(n, needs.across.begin),
                         needs.across.end - needs.across.begin, orders.rg.data(), ba_order,
                         planes.fft_work, planes.fft_table);
  }
  ordered = planes;
  ordered.rg.rows = orders.rg.data();
  ordered.ba.rows = blue ? orders.ba.data() : planes.ba.rows;
}

bool writes_pixels(InnerRange range) { return range.begin < range.end; }

// The pixel loops of one format on the render's path (see TileKernels).
template <typename Pixel>
struct PixelLoops {
  std::optional<double> (*load)(const Pixel*, const TilePlan&, const TileSource&,
                                const WorkingPlanes&);
  void (*write)(Pixel*, const TilePlan&, int32_t, int32_t, const WorkingPlanes&);
  // A pair's second tile: its blue (see TileKernels::load_blue_float), then its red and green.
  std::optional<double> (*load_blue)(const Pixel*, const TilePlan&, const TileSource&,
                                     const WorkingPlanes&);
  void (*load_red_green)(const Pixel*, const TilePlan&, const TileSource&, const WorkingPlanes&);
};

// What every tile of a render shares.
template <typename Pixel>
struct TileWork {
  const Pixel* input;
  Pixel* output;
  const TilePlan& plan;
  const WorkingPlanes& planes;
  PixelLoops<Pixel> loops;
};

// One tile of the walk: where it lies (output coordinates), where it reads from, and the inner
// ranges it writes.
struct TileAt {
  int32_t tx, ty;
  const TileSource& source;
  InnerRange across, down;
};

// A tile convolved in the given order (the filter or rows last), with a neighbour (the next in
// its row, or the one below it) when it can: the pair of tile_pairs.h, when both tiles read one
// alpha throughout (each found so while it is loaded: the first whole, the second its blue
// into the imaginary parts). The pair's planes are convolved together and the first tile is
// written back (its alpha the constant's blur); then the neighbour is loaded for its red and
// green alone, whose plane is convolved alone, and written back with its blue from the
// imaginary parts. Otherwise the first tile alone, as the walk convolves any other. `report` is
// called after each tile's write-back. Returns the number of tiles done, 1 or 2.
template <typename Pixel, typename Report>
int32_t convolve_with_neighbour(const TileWork<Pixel>& work, const TileAt& first,
                                const TileAt& second, bool filter, TileOrders& orders,
                                Report report) {
  const TilePlan& plan = work.plan;
  const WorkingPlanes& planes = work.planes;
  const PixelLoops<Pixel>& loops = work.loops;
  const int32_t n = plan.n;
  const std::optional<double> first_alpha = loops.load(work.input, plan, first.source, planes);
  std::optional<double> second_alpha;
  if (first_alpha) {
    second_alpha = loops.load_blue(work.input, plan, second.source, planes);
    if (!second_alpha) set_plane_alpha(planes.ba, n, *first_alpha);
  }
  WorkingPlanes ordered{};
  if (!second_alpha) {
    convolve_planes(n, plan.real_spectrum, planes,
                    TileNeeds{first.source.rows, first.across, first.down}, filter, orders,
                    ordered);
    loops.write(work.output, plan, first.tx, first.ty, ordered);
    report();
    return 1;
  }

  // What either tile writes (pairs in the filter's order lie in one row of tiles, reading the
  // same rows).
  const auto both = [](InnerRange a, InnerRange b) {
    return InnerRange{std::min(a.begin, b.begin), std::max(a.end, b.end)};
  };
  convolve_planes(n, plan.real_spectrum, planes,
                  TileNeeds{first.source.rows, both(first.across, second.across),
                            both(first.down, second.down)},
                  filter, orders, ordered);
  // A plane of one alpha value blurs to that value times the kernel's sum.
  TilePlan paired = plan;
  paired.paired = true;
  paired.paired_alpha = *first_alpha * plan.kernel_sum;
  loops.write(work.output, paired, first.tx, first.ty, ordered);
  report();

  // The red-and-green plane alone: the blue-and-alpha plane and its order stay as they are.
  loops.load_red_green(work.input, plan, second.source, planes);
  double** const blue_rows = ordered.ba.rows;
  convolve_planes(n, plan.real_spectrum, planes,
                  TileNeeds{second.source.rows, second.across, second.down}, filter, orders,
                  ordered, false);
  ordered.ba.rows = blue_rows;
  paired.blue_imaginary = true;
  paired.paired_alpha = *second_alpha * plan.kernel_sum;
  loops.write(work.output, paired, second.tx, second.ty, ordered);
  report();
  return 2;
}

// The source columns of the tile at tx (its reach across), folded once instead of once per
// pixel. Tile coordinates are the output's; the input is read at the same place of the layer.
void fold_columns(const TilePlan& plan, bool mirror, int32_t tx, InnerRange across, int32_t* column,
                  TileSource& source) {
  source.columns = tile_reach(plan.n, plan.p, across.end);
  for (int32_t i = 0; i < source.columns; ++i) {
    column[i] = outside_index(plan.input_left + tx + i, plan.input_width, mirror);
  }
}

// The source rows of a row of tiles at ty (offsets in pixels), folded once for the row.
void fold_rows(const TilePlan& plan, bool mirror, int32_t ty, std::ptrdiff_t* row_offset) {
  for (int32_t j = 0; j < plan.n; ++j) {
    const int32_t y = outside_index(plan.input_top + ty + j, plan.input_height, mirror);
    row_offset[j] = static_cast<std::ptrdiff_t>(y) * plan.input_stride;
  }
}

constexpr int32_t kNoTile = INT32_MIN;

template <typename Pixel>
PF_Err walk_tiles(const TileWork<Pixel>& work, bool mirror, int32_t& progress_count,
                  int32_t progress_total, const TileHost& host) {
  const TilePlan& plan = work.plan;
  const WorkingPlanes& planes = work.planes;
  PF_Err err = PF_Err_NONE;
  const int32_t n = plan.n;
  const int32_t step = n - 2 * plan.p;
  std::array<int32_t, kMaxTile> column, next_column;
  std::array<std::ptrdiff_t, kMaxTile> row_offset, below_offset;
  TileOrders orders;
  WorkingPlanes ordered{};
  TileSource source{column.data(), row_offset.data(), n, n, true};
  TileSource next{next_column.data(), row_offset.data(), n, n, true};
  TileSource below{column.data(), below_offset.data(), n, n, true};
  // A failed report (a cancel, say) stops the reports but not the walk: the output is
  // always complete.
  auto report = [&] {
    ++progress_count;
    if (err == PF_Err_NONE && host.progress != nullptr) {
      err = host.progress(host.effect_ref, progress_count, progress_total);
    }
  };
  // The tile (its tx) of this row and of the next that a pair with the tile above it has
  // already done, if any.
  int32_t done_here = kNoTile, done_below = kNoTile;
  for (int32_t ty = -plan.p; ty < plan.height; ty += step) {
    const InnerRange down = inner_range(n, plan.p, ty, plan.height);
    const bool row_writes = writes_pixels(down);
    source.rows = next.rows = tile_reach(n, plan.p, down.end);
    if (row_writes) fold_rows(plan, mirror, ty, row_offset.data());
    done_here = done_below;
    done_below = kNoTile;
    for (int32_t tx = -plan.p; tx < plan.width; tx += step) {
      // The walk visits every tile whose origin lies inside the output, but a tile whose
      // inner square starts beyond the output's last pixel writes nothing: its transforms
      // are skipped. It is still counted and reported, so the progress calls stay the same.
      const InnerRange across = inner_range(n, plan.p, tx, plan.width);
      if (!row_writes || !writes_pixels(across)) {
        report();
        continue;
      }
      if (tx == done_here) continue;  // written (and reported) with the tile above it
      fold_columns(plan, mirror, tx, across, column.data(), source);
      const TileNeeds needs{source.rows, across, down};
      const bool filter = filter_suits(n, needs);
      source.whole_rows = !filter;
      const TileAt here{tx, ty, source, across, down};
      // A pair needs both tiles convolved in one order: the next tile of the row, or for the
      // last a row of tiles leaves (an odd count of them), the tile below it.
      const InnerRange next_across = inner_range(n, plan.p, tx + step, plan.width);
      if (tx + step < plan.width && writes_pixels(next_across) && tx + step != done_here) {
        fold_columns(plan, mirror, tx + step, next_across, next_column.data(), next);
        next.whole_rows = !filter;
        if (filter_suits(n, TileNeeds{next.rows, next_across, down}) == filter) {
          const TileAt right{tx + step, ty, next, next_across, down};
          tx += step * (convolve_with_neighbour(work, here, right, filter, orders, report) - 1);
          continue;
        }
      }
      const InnerRange below_down = inner_range(n, plan.p, ty + step, plan.height);
      below.rows = tile_reach(n, plan.p, below_down.end);
      below.columns = source.columns;
      if (!filter && done_below == kNoTile && ty + step < plan.height &&
          writes_pixels(below_down) &&
          !filter_suits(n, TileNeeds{below.rows, across, below_down})) {
        fold_rows(plan, mirror, ty + step, below_offset.data());
        const TileAt under{tx, ty + step, below, across, below_down};
        if (convolve_with_neighbour(work, here, under, false, orders, report) == 2) done_below = tx;
        continue;
      }
      work.loops.load(work.input, plan, source, planes);
      convolve_planes(n, plan.real_spectrum, planes, needs, filter, orders, ordered);
      work.loops.write(work.output, plan, tx, ty, ordered);
      report();
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
bool output_inside_input(const RenderRecord& rec) {
  if (rec.input_beyond_left < 0 || rec.input_beyond_top < 0 || rec.input_beyond_right < 0 ||
      rec.input_beyond_bottom < 0) {
    return false;
  }
  // In 64 bits: margins near the largest int32 must not wrap round to a plausible size.
  const int64_t across = int64_t{rec.input_beyond_left} + rec.input_beyond_right;
  const int64_t down = int64_t{rec.input_beyond_top} + rec.input_beyond_bottom;
  return across <= rec.width && down <= rec.height;
}

bool image_usable(const RenderRecord& rec) {
  if (rec.width < 0 || rec.height < 0 || !output_inside_input(rec)) return false;
  const int32_t out_width = output_width_of(rec);
  if (out_width == 0 || output_height_of(rec) == 0) return true;  // nothing will be written
  if (rec.input_stride < rec.width || rec.output_stride < out_width) return false;
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

// The rows of the kernel plane that hold anything but zero: `count` rows from `first` on (0
// rows for a kernel of zeros). The iris is drawn round the plane's centre, at most the
// margin away, so this is a narrow band there at small radii: the kernel's transform skips
// the zero rows (fft_2d_band), which transform to zero.
struct KernelRows {
  int32_t first, count;
};

// Each row is read whole, without a branch for each value, which the compiler can vectorise.
bool row_is_zero(const double* row, int32_t n) {
  bool nonzero = false;
  for (int32_t j = 0; j < 2 * n; ++j) nonzero |= row[j] != 0.0;
  return !nonzero;
}

KernelRows kernel_rows(int32_t n, const ComplexPlane& kernel) {
  int32_t first = 0;
  while (first < n && row_is_zero(kernel.rows[first], n)) ++first;
  if (first == n) return {0, 0};
  int32_t last = n - 1;
  while (row_is_zero(kernel.rows[last], n)) --last;
  return {first, last - first + 1};
}

// True when the kernel is real and point-symmetric about its centre: element [i][j] equals
// element [n - i][n - j] (indices mod n), as the circle iris does. Its spectrum is then
// real; the imaginary parts the transform leaves are rounding noise. Rows outside `rows`
// are zero, so only a band that is its own mirror image can be symmetric, and only its
// rows need comparing (row 0, its own mirror, in a band that starts there: every row).
// Each row is compared with its mirror image up to the middle row, so that every row is read
// once, and whole, without a branch for each value, which the compiler can vectorise.
bool point_symmetric(int32_t n, const ComplexPlane& kernel, KernelRows rows) {
  if (rows.count == 0) return true;
  int32_t first = 0, end = n;
  if (rows.first > 0) {
    if (rows.first + (rows.first + rows.count - 1) != n) return false;
    first = rows.first;
    end = rows.first + rows.count;
  }
  for (int32_t i = first; i <= n / 2 && i < end; ++i) {
    const double* row = kernel.rows[i];
    const double* mirrored = kernel.rows[(n - i) & (n - 1)];
    bool differs = row[1] != 0.0 || mirrored[1] != 0.0 || row[0] != mirrored[0];
    for (int32_t j = 1; j < n; ++j) {
      differs |= (row[2 * j + 1] != 0.0) | (mirrored[2 * j + 1] != 0.0) |
                 (row[2 * j] != mirrored[2 * (n - j)]);
    }
    if (differs) return false;
  }
  return true;
}

}  // namespace

double alpha_scale_for(double largest_colour, double alpha_full_scale) {
  const double ratio = largest_colour / alpha_full_scale;
  if (!(ratio > 1.0)) return 1.0;
  int exponent = 0;
  const double mantissa = std::frexp(ratio, &exponent);  // ratio = mantissa x 2^exponent
  if (mantissa < 0.70710678118654752440) --exponent;     // nearer 2^(exponent - 1)
  return std::ldexp(1.0, exponent < 500 ? exponent : 500);
}

bool tile_path_available(TilePath path) {
  switch (path) {
    case TilePath::avx512:
      return weight_math_avx512_available();
    case TilePath::avx2:
      return weight_math_avx2_available();
    default:
      return true;
  }
}

TilePath tile_best_path() {
  const InstructionSet limit = instruction_set_limit();
  if (limit >= InstructionSet::avx512 && tile_path_available(TilePath::avx512)) {
    return TilePath::avx512;
  }
  if (limit >= InstructionSet::avx2 && tile_path_available(TilePath::avx2)) return TilePath::avx2;
  return TilePath::portable;
}

TileKernels tile_kernels(TilePath path) {
  switch (path) {
    case TilePath::avx512:
      return tile_kernels_avx512();
    case TilePath::avx2:
      return tile_kernels_avx2();
    default:
      return tile_kernels_portable();
  }
}

PF_Err convolve_tiles_on(TilePath path, const RenderRecord& rec, int32_t n, int32_t p,
                         const WorkingPlanes& planes, double kernel_sum, int32_t& progress_count,
                         int32_t progress_total, const TileHost& host, PF_Err pending_err) {
  if (pending_err != PF_Err_NONE) return pending_err;
  // A weight base below 1 (or not a number) would turn the weighting and the float cap
  // upside down; the tile geometry must leave a positive step.
  if (!is_tile_size(n) || p < 0 || p >= n / 2 || !planes_present(planes) || !image_usable(rec) ||
      !(rec.weight_base >= 1.0) || !std::isfinite(rec.weight_base)) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }

  // An empty output has no pixel to write and no tile to walk.
  if (output_width_of(rec) == 0 || output_height_of(rec) == 0) return PF_Err_NONE;

  // The kernel spectrum, unscaled; this first transform of the render builds the table.
  const KernelRows kernel_band = kernel_rows(n, planes.kernel);
  const bool real_spectrum = point_symmetric(n, planes.kernel, kernel_band);
  fft_2d_band(n, 2 * n, 1, planes.kernel.rows, kernel_band.first, kernel_band.count,
              planes.fft_work, planes.fft_table);
  // Both divisions by n of the unscaled transform pair, applied to the spectrum on the way
  // into the spectrum order (n is a power of two: exact).
  fft_2d_spectrum_order_scaled(n, 2 * n, planes.kernel.rows, real_spectrum,
                               1.0 / (static_cast<double>(n) * n));

  TilePlan plan{};
  plan.real_spectrum = real_spectrum;
  plan.n = n;
  plan.p = p;
  plan.width = output_width_of(rec);
  plan.height = output_height_of(rec);
  plan.input_width = rec.width;
  plan.input_height = rec.height;
  plan.input_left = rec.input_beyond_left;
  plan.input_top = rec.input_beyond_top;
  plan.input_stride = rec.input_stride;
  plan.output_stride = rec.output_stride;
  plan.kernel_sum = kernel_sum;
  TileLoadRule& rule = plan.rule;
  rule.gain = rec.specular_brightness;
  rule.threshold = rec.specular_threshold;
  rule.weight_base = rec.weight_base;
  rule.weighted = rec.weight_base != 1.0;
  plan.weight = weight_base_of(rec.weight_base);
  // 1 / ln 1 is +infinity: the weighting is then off and the float cap unbounded. ln M comes
  // from weight_base_of's own arithmetic rather than the C library's log, so the cap and the
  // scale of the write-back have the same bits on every platform.
  rule.inverse_log_weight = 1.0 / plan.weight.ln_hi;
  // Bounds the weighting's exponent 255 x v x ln M by 255 x 0.12890625.
  rule.float_cap = 0.12890625 * rule.inverse_log_weight;

  // The vector loops take four plane rows at a time.
  const TileKernels kernels = tile_kernels(n >= 4 ? path : TilePath::portable);
  const bool mirror = rec.outside_mode == kOutsideMirror;
  switch (rec.pixel_format) {
    case kPixelFormat8: {
      std::array<double, 256> colour8;
      for (int32_t c = 0; c < 256; ++c) {
        colour8[c] = TilePixelTraits<PF_Pixel8>::colour(static_cast<uint8_t>(c), rule);
      }
      plan.colour8 = colour8.data();
      plan.alpha_scale = alpha_scale_for(colour8[255], TilePixelTraits<PF_Pixel8>::kAlphaFullScale);
      const PixelLoops<PF_Pixel8> loops{kernels.load8, kernels.write8, load_blue_imaginary,
                                        kernels.load_red_green8};
      return walk_tiles(
          TileWork<PF_Pixel8>{rec.input_pixels8, rec.output_pixels8, plan, planes, loops}, mirror,
          progress_count, progress_total, host);
    }
    case kPixelFormat16: {
      plan.alpha_scale = alpha_scale_for(TilePixelTraits<PF_Pixel16>::colour(32768, rule),
                                         TilePixelTraits<PF_Pixel16>::kAlphaFullScale);
      if (planes.colour_table != nullptr) {
        for (int32_t c = 0; c < kColour16Entries; ++c) {
          planes.colour_table[c] =
              TilePixelTraits<PF_Pixel16>::colour(static_cast<uint16_t>(c), rule);
        }
        plan.colour16 = planes.colour_table;
      }
      const PixelLoops<PF_Pixel16> loops{kernels.load16, kernels.write16, load_blue_imaginary,
                                         kernels.load_red_green16};
      return walk_tiles(
          TileWork<PF_Pixel16>{rec.input_pixels16, rec.output_pixels16, plan, planes, loops},
          mirror, progress_count, progress_total, host);
    }
    default: {
      using FloatTraits = TilePixelTraits<PF_PixelFloat>;
      plan.alpha_scale =
          alpha_scale_for(FloatTraits::colour(1.0, FloatTraits::threshold(rule), rule),
                          FloatTraits::kAlphaFullScale);
      const PixelLoops<PF_PixelFloat> loops{kernels.load_float, kernels.write_float,
                                            kernels.load_blue_float, kernels.load_red_green_float};
      return walk_tiles(TileWork<PF_PixelFloat>{rec.input_pixels_float, rec.output_pixels_float,
                                                plan, planes, loops},
                        mirror, progress_count, progress_total, host);
    }
  }
}

PF_Err convolve_tiles(const RenderRecord& rec, int32_t n, int32_t p, const WorkingPlanes& planes,
                      double kernel_sum, int32_t& progress_count, int32_t progress_total,
                      const TileHost& host, PF_Err pending_err) {
  return convolve_tiles_on(tile_best_path(), rec, n, p, planes, kernel_sum, progress_count,
                           progress_total, host, pending_err);
}
