// Two neighbouring tiles whose alpha is the same over each one's reach (opaque footage, most
// of all) need three transforms between them instead of four: alpha convolved with the
// kernel is then that value times the kernel's sum, and the imaginary parts of the first
// tile's blue-and-alpha plane carry the second tile's blue instead. The kernel is real (in
// space, whatever its spectrum), so the real and the imaginary parts of a plane are convolved
// each on its own. The second tile's blurred blue stays in the imaginary parts while its red
// and green are loaded and convolved alone; each tile's write-back takes its alpha as the
// constant (TilePlan::paired). Internal to render/.
#pragma once

#include <cstdint>
#include <optional>

#include "api/effect_api.h"
#include "render/render_record.h"
#include "render/tile_kernels.h"

// The loadings tell whether a tile read one alpha throughout as they go: each compares every
// pixel's alpha with the first pixel's it reads (the same value on the plane, as the plane
// value follows from the pixel's alone) and returns one_alpha's answer.
inline bool same_alpha(const PF_Pixel8& a, const PF_Pixel8& b) { return a.alpha == b.alpha; }
inline bool same_alpha(const PF_Pixel16& a, const PF_Pixel16& b) { return a.alpha == b.alpha; }
inline bool same_alpha(const PF_PixelFloat& a, const PF_PixelFloat& b) {
  return a.alpha == b.alpha;  // not a number differs from every alpha, itself included
}

template <typename Pixel>
const Pixel& first_source_pixel(const Pixel* input, const TileSource& source) {
  return input[source.row_offset[0] + source.column[0]];
}

// The plane value of a tile's alpha, its first pixel's, `first`, when every pixel its loading
// read had the same (`differs` false) and it exceeds the transparency floor; otherwise nothing.
std::optional<double> one_alpha(const PF_Pixel8& first, bool differs, const TilePlan& plan);
std::optional<double> one_alpha(const PF_Pixel16& first, bool differs, const TilePlan& plan);
std::optional<double> one_alpha(const PF_PixelFloat& first, bool differs, const TilePlan& plan);

// Every imaginary part of the blue-and-alpha plane set to `alpha` (what the loading of a tile
// of that one alpha left there).
void set_plane_alpha(const ComplexPlane& ba, int32_t n, double alpha);

// The second tile of a pair: its blue plane values (the loadings' values) into the imaginary
// parts of the blue-and-alpha plane, the real parts left as they are, the imaginary parts
// beyond the tile's reach filled as fill_beyond_reach fills; and its alpha checked on the way.
// The plane value of that alpha when every pixel read has the same one, above the floor;
// otherwise nothing (the imaginary parts then hold anything). The portable loops (the pow of
// the library); the vector builds take their own for float (TileKernels::load_blue_float).
std::optional<double> load_blue_imaginary(const PF_Pixel8* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes);
std::optional<double> load_blue_imaginary(const PF_Pixel16* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes);
std::optional<double> load_blue_imaginary(const PF_PixelFloat* input, const TilePlan& plan,
                                          const TileSource& source, const WorkingPlanes& planes);

// Every plane row from source.columns on, and with whole_rows every element from source.rows
// on, repeats the imaginary parts of the last one read (as fill_beyond_reach repeats whole
// values).
void fill_imaginary_beyond_reach(const ComplexPlane& ba, int32_t n, const TileSource& source);
