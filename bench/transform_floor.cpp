#include "bench/transform_floor.h"

#include <algorithm>
#include <cmath>

namespace {

struct AxisTiles {
  int32_t visited = 0, written = 0;
};

// A tile at origin t writes the pixels of its inner square [t + p, t + n - p) that lie in
// the image: it writes something when t + p < size.
AxisTiles axis_tiles(int32_t size, int32_t n, int32_t p) {
  AxisTiles a;
  for (int32_t t = -p; t < size; t += n - 2 * p) {
    ++a.visited;
    if (t + p < size) ++a.written;
  }
  return a;
}

}  // namespace

TransformFloor transform_floor(int32_t width, int32_t height, double radius) {
  const auto p = static_cast<int32_t>(std::ceil(radius));
  const int32_t longer = std::max(width, height);
  const int32_t n = longer + 2 * p < 256 ? 256 : (p <= 150 ? 512 : 1024);
  const AxisTiles across = axis_tiles(width, n, p), down = axis_tiles(height, n, p);
  TransformFloor f{};
  f.n = n;
  f.tiles = across.visited * down.visited;
  f.tiles_written = across.written * down.written;
  f.pairs = 2.0 * f.tiles_written + 0.5;
  return f;
}
