// Where the spectrum order (fft_2d_spectrum_order) puts column k of a row of n values,
// worked out digit by digit for the tests: the bit reversal of k (rows of 16 and more),
// then, in each block of 16 read as a 4 x 4 matrix row by row, the transpose.
#pragma once

#include <cstdint>

inline int32_t spectrum_column(int32_t k, int32_t n) {
  if (n < 16) return k;
  int32_t reversed = 0;
  for (int32_t bit = 1, to = n / 2; bit < n; bit *= 2, to /= 2)
    if (k & bit) reversed += to;
  const int32_t in_block = reversed % 16;
  return reversed - in_block + 4 * (in_block % 4) + in_block / 4;
}
