// The Mirror outside rule: folds any integer coordinate back into 0..n-1.
#include <cstdint>

#include "render/convolve_tiles.h"

int32_t mirror_index(int32_t v, int32_t n) {
  if (n <= 0) return 0;  // no pixel to fold onto; callers never pass an empty axis
  if (v >= 0 && v < n) return v;
  // 64-bit so that 2n and -(v + 1) cannot overflow for extreme arguments.
  const int64_t period = 2 * static_cast<int64_t>(n);
  const int64_t u = v < 0 ? (-(static_cast<int64_t>(v) + 1)) % period : v % period;
  return static_cast<int32_t>(u >= n ? period - u - 1 : u);
}
