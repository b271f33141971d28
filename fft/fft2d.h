// In-place two-dimensional complex FFT (unnormalised, either sign) and the quadrant swap.
#pragma once

#include <cstdint>

// Transforms the m-row plane whose rows hold row_doubles / 2 complex values each, in place.
// sign >= 0 uses exp(+2 pi i ...), sign < 0 exp(-2 pi i ...). fft_work[0] holds the size of
// the table in fft_table (0: none yet); the table is built on first use and rebuilt only
// for a larger transform.
void fft_2d(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t* fft_work,
            double* fft_table);

// Exchanges the quadrants of an n x n plane: the cyclic shift by n/2 along both axes.
void swap_quadrants(double** rows, int32_t n);
