// The tile stage: transforms the kernel once, then blurs the input world tile by tile
// into the output world, reporting progress after each tile.
#pragma once

#include <cstdint>

#include "api/effect_api.h"
#include "render/render_record.h"

// Reflects v into 0..n-1 with the edge pixel repeated (-1 -> 0, n -> n - 1); period 2n.
int32_t mirror_index(int32_t v, int32_t n);

// What the tile stage needs of the host: the frame's reference, the progress callback and
// the math routines.
struct TileHost {
  PF_ProgPtr effect_ref;
  PF_Err (*progress)(PF_ProgPtr effect_ref, int32_t current, int32_t total);
  const PF_ANSICallbacks* ansi;
};

// Runs the whole tile walk for tile size n and margin p over rec's output grid: the W x H
// input world less the record's input_beyond_* margins (the whole input when they are 0).
// Tiles are laid over the output; the input is read at the matching place, with the
// outside rule applied only beyond the input world's own edges. The kernel plane holds the
// untransformed kernel whose values sum to kernel_sum; afterwards it holds the kernel
// spectrum divided by n x n. For a 16-bit image, planes.colour_table (when
// given) is filled with the plane value of every channel value. progress_count is
// advanced once per tile. Returns pending_err if it was non-zero (then nothing is walked),
// else the first non-zero progress result, else 0. Every output pixel is written even after
// a progress error. Arguments that cannot describe a walk (n not a power of two up to 1024,
// p outside 0 <= 2p < n, a missing plane or pixel array, a stride below the width, an
// unknown pixel format, a weight base below 1, margins that are negative or leave less than
// nothing of the input) give PF_Err_BAD_CALLBACK_PARAM before anything is transformed or
// written; an output without pixels gives 0 and no tiles.
// Non-finite float channels are read as 0.
PF_Err convolve_tiles(const RenderRecord& rec, int32_t n, int32_t p, const WorkingPlanes& planes,
                      double kernel_sum, int32_t& progress_count, int32_t progress_total,
                      const TileHost& host, PF_Err pending_err);
