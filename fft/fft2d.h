// In-place two-dimensional complex FFT (unnormalised, either sign) and the quadrant swap.
#pragma once

#include <cstdint>

// Transforms the m-row plane whose rows hold row_doubles / 2 complex values each, in place.
// sign >= 0 uses exp(+2 pi i ...), sign < 0 exp(-2 pi i ...). fft_work[0] holds the size of
// the table in fft_table (0: none yet); the table is built on first use and rebuilt only
// for a larger transform.
void fft_2d(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t* fft_work,
            double* fft_table);

// fft_2d of a plane whose rows outside first_row, first_row + 1, ..., first_row + row_count
// - 1 (mod m) are all zero, as those of a small kernel centred in its plane are: their row
// transforms, zero too, are skipped. A row_count of 0 or less, or m or more, takes every
// row. The caller vouches for the zeros; the result is fft_2d's.
void fft_2d_band(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t first_row,
                 int32_t row_count, int32_t* fft_work, double* fft_table);

// fft_2d on one or two planes of the same shape (rows_b may be null), then every value
// times the value at the same place of `factor` (a plane of that shape), rounded as a plain
// complex multiply (a c - b d, a d + b c) of the transform's result. The product costs no
// sweep of its own, and each factor row is fetched once for both planes. A missing factor
// means no product; factor_real says that its imaginary parts are all zero and that its
// rows hold only the real parts (m rows of row_doubles / 2 values). With result tables (m entries
// each, given by the caller; result_b only with rows_b), the rows are not moved into place, which
// saves exchanging half of them: afterwards result_a[k] (result_b[k]) is the row of rows_a (rows_b)
// that holds row k of the result, and a table so filled serves fft_2d_some_rows as its row table.
void fft_2d_pair_times(int32_t m, int32_t row_doubles, int32_t sign, double** rows_a,
                       double** rows_b, const double* const* factor, bool factor_real,
                       double** result_a, double** result_b, int32_t* fft_work, double* fft_table);

// fft_2d for a caller that needs only the row_count rows first_row, first_row + 1, ...
// (mod m) of the result, which costs that much less of the row transforms; rows[k] is the
// row holding row k of the input (any row table: the plane's own, or an order, which may
// also be `order` itself). The rows are not
// moved into place: afterwards order[k] (m entries, given by the caller) is the row of
// `rows` that holds row k of the result. The rows not asked for hold intermediate values.
// A call fft_2d would leave alone writes nothing here either, order included.
void fft_2d_some_rows(int32_t m, int32_t row_doubles, int32_t sign, double** rows, double** order,
                      int32_t first_row, int32_t row_count, int32_t* fft_work, double* fft_table);

// Puts every row of a filter's spectrum (m rows of row_doubles / 2 complex values, or with
// `real` of as many reals) in the spectrum order, the order in which the row transforms of
// fft_2d_filter and fft_2d_convolve_rows leave their values and take them back, so that
// their products need no row permuted: the value of column k goes to column rev(k) (the
// bit reversal), and then each block of 16 columns, read as a 4 x 4 matrix row by row, is
// transposed. Rows of fewer than 16 values stay as they are. A shape fft_2d would leave
// alone is left alone here too.
void fft_2d_spectrum_order(int32_t m, int32_t row_doubles, double** rows, bool real);

// A filter's spectrum as fft_2d leaves it (m rows of row_doubles / 2 complex values) into what
// the convolutions take, in one pass over the rows: every value times `scale`, with
// `real_parts` only its real part (the n reals then at the row's start, for a spectrum whose
// imaginary parts are rounding noise), in the spectrum order. The same values as multiplying
// each one (or its real part, moved to column k) and then calling fft_2d_spectrum_order.
void fft_2d_spectrum_order_scaled(int32_t m, int32_t row_doubles, double** rows, bool real_parts,
                                  double scale);

// The cyclic convolution of one or two planes of the same shape (rows_b may be null) with a
// filter given by its spectrum in the spectrum order (fft_2d_spectrum_order): fft_2d
// (sign +1), every value times the value at the same place of the spectrum (as
// fft_2d_pair_times does, also with spectrum_real), then fft_2d (sign -1), each unscaled. The work
// is ordered so that it can skip what the caller does not need: the input's columns from
// input_columns on are taken as copies of column input_columns - 1 (whatever they hold), and only
// the column_count columns first_column, first_column + 1, ... (mod n) of the result are computed
// (the others hold intermediate values). The rows are not moved: afterwards result_a[k]
// (result_b[k]) is the row of rows_a (rows_b) that holds row k of the result (m entries each, given
// by the caller; without them nothing is done).
void fft_2d_filter(int32_t m, int32_t row_doubles, double** rows_a, double** rows_b,
                   const double* const* spectrum, bool spectrum_real, int32_t input_columns,
                   int32_t first_column, int32_t column_count, double** result_a, double** result_b,
                   int32_t* fft_work, double* fft_table);

// The same convolution in the other order (the spectrum in the spectrum order too), for a
// caller that needs only some rows of the result: fft_2d (sign +1) of both planes with the
// product (fft_2d_pair_times), then fft_2d (sign -1) computing only the row_count rows
// first_row, first_row + 1, ... (mod m) of the result (fft_2d_some_rows), each unscaled; the
// rows not asked for hold intermediate values.
// With a real spectrum, the inverse transforms' first column pass is done on the way out of
// the forward transforms' last one (the same values, one trip of the planes through memory
// fewer); two large planes (1024 x 1024 and up) are convolved one after the other. The rows
// are not moved: afterwards result_a[k] (result_b[k]) is the row of rows_a (rows_b) that holds
// row k of the result (m entries each, given by the caller; without them nothing is done).
void fft_2d_convolve_rows(int32_t m, int32_t row_doubles, double** rows_a, double** rows_b,
                          const double* const* spectrum, bool spectrum_real, int32_t first_row,
                          int32_t row_count, double** result_a, double** result_b,
                          int32_t* fft_work, double* fft_table);

// Exchanges the quadrants of an n x n plane: the cyclic shift by n/2 along both axes.
void swap_quadrants(double** rows, int32_t n);
