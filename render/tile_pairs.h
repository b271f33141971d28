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

// The one alpha value a loaded tile's blue-and-alpha plane holds over what its loading read
// (the loadings store alpha on the working scale times the alpha scale; what lies beyond the
// tile's reach is copies of it, or, for the filter, not read), when it exceeds `floor` (the
// transparency floor on the plane's scale); otherwise nothing. Stops at the first value that
// differs.
std::optional<double> constant_plane_alpha(const ComplexPlane& ba, const TileSource& source,
                                           double floor);

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

// The float alpha of the first pixel a tile reads, when its colours count (finite, above the
// transparency floor), for the vector loadings to compare every other pixel's with.
std::optional<float> first_float_alpha(const PF_PixelFloat* input, const TileSource& source);
