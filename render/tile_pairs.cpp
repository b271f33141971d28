// The pieces of a pair of tiles that share one blue-and-alpha transform (see tile_pairs.h).
// Written once for every path: the loading of the second tile's blue takes the path's own pow,
// so its values are those the path's loadings give.
#include "render/tile_pairs.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int32_t kBlock = 4;

double alpha_on_working_scale(const PF_Pixel8& px) { return static_cast<double>(px.alpha); }
double alpha_on_working_scale(const PF_Pixel16& px) { return px.alpha / 128.0; }
double alpha_on_working_scale(const PF_PixelFloat& px) {
  return TilePixelTraits<PF_PixelFloat>::finite(px.alpha);
}

template <typename Pixel>
std::optional<double> one_alpha_of(const Pixel& first, bool differs, const TilePlan& plan) {
  const double alpha = alpha_on_working_scale(first);
  // Not a number fails the comparison; a float alpha at or below the floor makes the pixel
  // transparent black, which the pair does not model.
  if (differs || !(alpha > kAlphaFloor)) return std::nullopt;
  return alpha * plan.alpha_scale;
}

// The blue plane values of one pixel, or (float with the weighting) the exponent the pow
// takes them to.
struct BlueOf8 {
  const double* colour;
  double operator()(const PF_Pixel8& px) const { return colour[px.blue]; }
};
struct BlueOf16 {
  const TilePlan& plan;
  double operator()(const PF_Pixel16& px) const { return colour16_of(plan, px.blue); }
};
struct BlueOfFloat {
  const TileLoadRule& rule;
  float threshold;
  double operator()(const PF_PixelFloat& px) const {
    return TilePixelTraits<PF_PixelFloat>::colour(TilePixelTraits<PF_PixelFloat>::finite(px.blue),
                                                  threshold, rule);
  }
};

// Four image columns at a time down the rows (a cache line of the picture a row), each
// column's values gathered into a row of `values`, then stored; every pixel's alpha compared
// with the first's on the way.
template <typename Pixel, typename Blue>
std::optional<double> store_blue_imaginary(const Pixel* input, const TilePlan& plan,
                                           const TileSource& source, const ComplexPlane& ba,
                                           Blue blue) {
  if (source.rows <= 0 || source.columns <= 0) return std::nullopt;
  const Pixel first = first_source_pixel(input, source);
  const std::optional<double> alpha = one_alpha_of(first, false, plan);
  if (!alpha) return std::nullopt;
  double values[kBlock][kMaxTile];
  bool differs = false;
  for (int32_t i0 = 0; i0 < source.columns; i0 += kBlock) {
    const int32_t count = source.columns - i0 < kBlock ? source.columns - i0 : kBlock;
    const Pixel* column[kBlock];
    for (int32_t k = 0; k < count; ++k) column[k] = input + source.column[i0 + k];
    for (int32_t j = 0; j < source.rows; ++j) {
      const std::ptrdiff_t offset = source.row_offset[j];
      for (int32_t k = 0; k < count; ++k) {
        const Pixel& px = column[k][offset];
        differs |= !same_alpha(px, first);
        values[k][j] = blue(px);
      }
    }
    if (differs) return std::nullopt;
    for (int32_t k = 0; k < count; ++k) {
      double* row = ba.rows[i0 + k];
      for (int32_t j = 0; j < source.rows; ++j) row[2 * j + 1] = values[k][j];
    }
  }
  fill_imaginary_beyond_reach(ba, plan.n, source);
  return alpha;
}

}  // namespace

std::optional<double> one_alpha(const PF_Pixel8& first, bool differs, const TilePlan& plan) {
  return one_alpha_of(first, differs, plan);
}
std::optional<double> one_alpha(const PF_Pixel16& first, bool differs, const TilePlan& plan) {
  return one_alpha_of(first, differs, plan);
}
std::optional<double> one_alpha(const PF_PixelFloat& first, bool differs, const TilePlan& plan) {
  return one_alpha_of(first, differs, plan);
}

void set_plane_alpha(const ComplexPlane& ba, int32_t n, double alpha) {
  for (int32_t i = 0; i < n; ++i) {
    double* row = ba.rows[i];
    for (int32_t j = 0; j < n; ++j) row[2 * j + 1] = alpha;
  }
}

void fill_imaginary_beyond_reach(const ComplexPlane& ba, int32_t n, const TileSource& source) {
  const int32_t filled = source.whole_rows ? n : source.rows;
  for (int32_t i = 0; i < source.columns; ++i) {
    double* row = ba.rows[i];
    const double last = row[2 * source.rows - 1];
    for (int32_t j = source.rows; j < filled; ++j) row[2 * j + 1] = last;
  }
  for (int32_t i = source.columns; i < n; ++i) {
    const double* from = ba.rows[source.columns - 1];
    double* row = ba.rows[i];
    for (int32_t j = 0; j < filled; ++j) row[2 * j + 1] = from[2 * j + 1];
  }
}

std::optional<double> load_blue_imaginary(const PF_Pixel8* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes) {
  return store_blue_imaginary(input, plan, source, planes.ba, BlueOf8{plan.colour8});
}

std::optional<double> load_blue_imaginary(const PF_Pixel16* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes) {
  return store_blue_imaginary(input, plan, source, planes.ba, BlueOf16{plan});
}

std::optional<double> load_blue_imaginary(const PF_PixelFloat* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes) {
  return store_blue_imaginary(
      input, plan, source, planes.ba,
      BlueOfFloat{plan.rule, TilePixelTraits<PF_PixelFloat>::threshold(plan.rule)});
}
