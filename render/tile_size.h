// The tile size of a render, shared by every host glue so that each renders a frame with the
// same tiles and so the same bytes.
#pragma once

#include <cstdint>

// 256 only when the whole image and both margins fit in one tile, 512 up to a margin of
// 150, 1024 beyond.
inline int32_t tile_size_for(int32_t longer_side, int32_t margin) {
  if (static_cast<int64_t>(longer_side) + 2 * static_cast<int64_t>(margin) < 256) return 256;
  return margin <= 150 ? 512 : 1024;
}
