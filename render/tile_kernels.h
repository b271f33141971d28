// The pixel loops of the tile stage (loading and write-back; the product with the kernel
// spectrum rides on the forward transforms) in three builds: portable C++, AVX2 + FMA and
// AVX-512. convolve_tiles.cpp picks one per render; all compute the same values (the vector
// loops differ only by the weighting's own exp and log, four or eight lanes wide, within 2
// ulp of the library's). Internal to render/ and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "api/effect_api.h"
#include "render/convolve_tiles.h"
#include "render/render_record.h"
#include "render/tile_pixels.h"
#include "render/weight_math.h"

// The largest tile side the stage takes (the planes' row tables are sized by it).
constexpr int32_t kMaxTile = 1024;

// The transparency floor: a pixel whose alpha is at most this (on the working scale; in the
// planes, times the alpha scale) counts as transparent black, in the loadings (float alpha)
// and in the write-backs (blurred alpha), which also keeps an all-zero kernel from being
// divided by.
constexpr double kAlphaFloor = 3e-5;

// What the loops need that is fixed for the whole render.
struct TilePlan {
  int32_t n;              // tile size
  int32_t p;              // margin
  int32_t width, height;  // the output grid the tiles cover and write
  // The input world, which may reach beyond the output: output pixel (x, y) is input pixel
  // (input_left + x, input_top + y). The outside rule folds against the input's own size.
  int32_t input_width, input_height;
  int32_t input_left, input_top;
  int32_t input_stride, output_stride;
  TileLoadRule rule;
  WeightBase weight;       // M, with ln M in two parts for the vector pow
  const double* colour8;   // 8-bit: the plane value of every channel value 0..255
  const double* colour16;  // 16-bit: the plane value of 0..32768, or null (computed per pixel)
  double kernel_sum;       // S
  // Alpha enters the planes multiplied by this power of two, near the largest weighted
  // colour value over the alpha full scale: blue and alpha share one transform, whose
  // rounding is relative to the larger of the two, so alpha is raised to the colours' size
  // (exactly, being a power of two) and divided out again in the write-back.
  double alpha_scale;
  // The kernel is real and point-symmetric, so its spectrum is real: the kernel plane's rows
  // then hold only the spectrum's real parts, n doubles each.
  bool real_spectrum;
  // Set for the write-back of a tile of one alpha that shares its blue-and-alpha plane with
  // its neighbour (tile_pairs.h): its blurred alpha is `paired_alpha` (on the planes' scale)
  // throughout, and the imaginary parts hold the other tile's blue, or with `blue_imaginary`
  // its own (the real parts then the other's).
  bool paired = false;
  bool blue_imaginary = false;
  double paired_alpha = 0.0;
};

// The 16-bit plane value of a colour channel value: from the render's table where it has one
// (values above the format's full scale are not in it), else by the rule.
inline double colour16_of(const TilePlan& plan, uint16_t c) {
  return plan.colour16 != nullptr && c <= kColour16Entries - 1
             ? plan.colour16[c]
             : TilePixelTraits<PF_Pixel16>::colour(c, plan.rule);
}

// The power of two nearest to largest_colour / alpha_full_scale (in the ratio's logarithm),
// at least 1 and at most 2^500.
double alpha_scale_for(double largest_colour, double alpha_full_scale);

// Where one tile reads from: plane row i holds source column column[i]; plane element j of
// every row comes from source row offset row_offset[j] (row x stride), the outside rule
// already applied. Only the first `columns` plane rows and their first `rows` elements are
// read (tile_reach); the loader fills the rest of the planes (fill_beyond_reach).
struct TileSource {
  const int32_t* column;
  const std::ptrdiff_t* row_offset;
  int32_t columns, rows;
  // The transforms read every element of the planes (fft_2d), not only the first `rows` of
  // each plane row (fft_2d_filter).
  bool whole_rows;
};

// How far into a tile along one axis the input can reach a written pixel. The result at
// inner index o is the sum of the inputs o - p .. o + p (the kernel's support), and the
// written indices start at p or later, so inputs at end + p and beyond (end: one past the
// last written index) only reach discarded results, their own or, round the cyclic
// convolution, the margin's: such inputs may be anything, so they are not read (nor
// weighted). Rounded up to a multiple of four (within n), the vector loops' block.
inline int32_t tile_reach(int32_t n, int32_t p, int32_t end) {
  const int32_t reach = (end + p + 3) / 4 * 4;
  return reach < n ? reach : n;
}

// Fills what a loader did not read with copies of its last values: every plane row from
// `columns` on repeats plane row columns - 1, and with whole_rows, elements `rows` and on of
// the first `columns` plane rows repeat element rows - 1 (else they are left as they are:
// fft_2d_filter takes them as such copies itself). Any values would give the same written
// pixels; copies keep a plane as even as the picture (a uniform picture still transforms to
// its mean alone, exactly, however far its values lie from alpha's). Without `blue`, the
// red-and-green plane alone (the loadings of red and green alone leave the other as it is).
void fill_beyond_reach(const WorkingPlanes& planes, int32_t n, const TileSource& source,
                       bool blue = true);

// The loops of one build. The kernel plane holds the spectrum already divided by n x n; the
// write-back reads the tile's result with the quadrant swap folded into its indexing. The
// loadings return the plane value of the one alpha the tile read throughout, if it did
// (one_alpha of tile_pairs.h).
struct TileKernels {
  std::optional<double> (*load8)(const PF_Pixel8* input, const TilePlan& plan,
                                 const TileSource& source, const WorkingPlanes& planes);
  std::optional<double> (*load16)(const PF_Pixel16* input, const TilePlan& plan,
                                  const TileSource& source, const WorkingPlanes& planes);
  std::optional<double> (*load_float)(const PF_PixelFloat* input, const TilePlan& plan,
                                      const TileSource& source, const WorkingPlanes& planes);
  void (*write8)(PF_Pixel8* output, const TilePlan& plan, int32_t tx, int32_t ty,
                 const WorkingPlanes& planes);
  void (*write16)(PF_Pixel16* output, const TilePlan& plan, int32_t tx, int32_t ty,
                  const WorkingPlanes& planes);
  void (*write_float)(PF_PixelFloat* output, const TilePlan& plan, int32_t tx, int32_t ty,
                      const WorkingPlanes& planes);
  // The second tile of a pair of one alpha (tile_pairs.h): its blue plane values into the
  // imaginary parts of the blue-and-alpha plane, its alpha checked on the way; the plane value
  // of that alpha, or nothing when its pixels' alphas differ (see load_blue_imaginary).
  std::optional<double> (*load_blue_float)(const PF_PixelFloat* input, const TilePlan& plan,
                                           const TileSource& source, const WorkingPlanes& planes);
  // The loadings' red and green alone, for a pair's second tile once its blue is convolved
  // (the blue-and-alpha plane is left as it is).
  void (*load_red_green8)(const PF_Pixel8* input, const TilePlan& plan, const TileSource& source,
                          const WorkingPlanes& planes);
  void (*load_red_green16)(const PF_Pixel16* input, const TilePlan& plan, const TileSource& source,
                           const WorkingPlanes& planes);
  void (*load_red_green_float)(const PF_PixelFloat* input, const TilePlan& plan,
                               const TileSource& source, const WorkingPlanes& planes);
};

enum class TilePath { portable, avx2, avx512 };

// True when this machine can run the path.
bool tile_path_available(TilePath path);
// The best path this machine runs.
TilePath tile_best_path();
// The loops of a path (which must be available).
TileKernels tile_kernels(TilePath path);
TileKernels tile_kernels_portable();
TileKernels tile_kernels_avx2();
TileKernels tile_kernels_avx512();

// The blocked loading loop of the integer formats, shared by both builds: a table lookup per
// colour channel leaves nothing for vectors to gain.
std::optional<double> load_tile8_blocked(const PF_Pixel8* input, const TilePlan& plan,
                                         const TileSource& source, const WorkingPlanes& planes);
std::optional<double> load_tile16_blocked(const PF_Pixel16* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes);
void load_red_green8_blocked(const PF_Pixel8* input, const TilePlan& plan, const TileSource& source,
                             const WorkingPlanes& planes);
void load_red_green16_blocked(const PF_Pixel16* input, const TilePlan& plan,
                              const TileSource& source, const WorkingPlanes& planes);

// The first and one-past-last inner index of a tile that lies inside an image axis of the
// given size, for the tile origin t.
struct InnerRange {
  int32_t begin, end;
};
inline InnerRange inner_range(int32_t n, int32_t p, int32_t t, int32_t size) {
  const int32_t begin = p > -t ? p : -t;
  const int32_t end = n - p < size - t ? n - p : size - t;
  return {begin, end};
}

// convolve_tiles on a given path, for the tests of both paths.
PF_Err convolve_tiles_on(TilePath path, const RenderRecord& rec, int32_t n, int32_t p,
                         const WorkingPlanes& planes, double kernel_sum, int32_t& progress_count,
                         int32_t progress_total, const TileHost& host, PF_Err pending_err);
