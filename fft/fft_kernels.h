// The instruction-set variants of the 2-D transform, each in its own file, and how
// fft_2d picks one. Internal to fft/ (and its tests).
#pragma once

#include <cstdint>

enum class FftPath { portable, avx2, avx512 };

// One transform of an m x n plane (the table already in place), with its options: a plane to
// multiply the result by, order tables through which the result is left (rows not moved),
// or the rows-last order that computes only some rows (see fft2d.h).
struct FftRequest {
  int32_t m, n;
  bool positive;
  double* const* rows;
  double* const* rows_b;  // null, or a second plane that gets the same transform
  const double* table;
  const double* const* factor;  // null: no product
  bool factor_real;             // factor rows hold n reals (see FftOptions)
  double** order;               // null: every row, in place, in natural order
  int32_t first_row, row_count;
  double** result_a;  // null, or where the result's rows of `rows` are named (not with order)
  double** result_b;  // the same for rows_b
  // The filter (fft_2d_filter): result_a (result_b) required, factor the spectrum.
  bool filter;
  int32_t input_columns, first_column, column_count;
  // The rows-last convolution (fft_2d_convolve_rows): result_a (result_b) required, factor
  // the spectrum, first_row and row_count the result's rows computed.
  bool convolve_rows;
  // The plain transform of a plane whose rows outside band_first, band_first + 1, ...,
  // band_first + band_count - 1 (mod m) are zero (fft_2d_band); 0 rows: no such band.
  int32_t band_first, band_count;
  // The ways of the first-level data cache (fft_cache_ways; 0: not known), which only choose
  // between two orders of the same operations in the row transforms, so the result's bits do
  // not depend on it.
  int32_t cache_ways;
};

// The ways of this processor's first-level data cache, read once (0 where it cannot be told).
int32_t fft_cache_ways();

// True when this machine can run the path.
bool fft_path_available(FftPath path);

// fft_2d's work, after the table is in place, on the given path (which must be available).
void fft_transform_on(FftPath path, int32_t m, int32_t n, bool positive, double* const* rows,
                      const double* table);
void fft_request_on(FftPath path, const FftRequest& request);

// What fft_2d_pair_times and fft_2d_some_rows add to fft_2d: a product (factor), or the
// rows-last order (order, first_row, row_count). With an order the factor is ignored.
struct FftOptions {
  double* const* rows_b = nullptr;  // a second plane to transform alike (not with an order)
  const double* const* factor = nullptr;
  // The factor's imaginary parts are all zero and its rows hold only the n real parts.
  bool factor_real = false;
  double** order = nullptr;
  int32_t first_row = 0, row_count = 0;
  // Not with an order: the rows are left unmoved and result_a[k] (result_b[k]) names the row
  // of rows (rows_b) that holds row k of the result.
  double** result_a = nullptr;
  double** result_b = nullptr;
  // Not with an order: the rows outside band_first, ... band_first + band_count - 1 (mod m)
  // are zero (band_count 0: no such band).
  int32_t band_first = 0, band_count = 0;
};

// The transform with its options on the given path: the table rules, then the work.
void fft_2d_with(FftPath path, int32_t m, int32_t row_doubles, int32_t sign, double** rows,
                 const FftOptions& options, int32_t* fft_work, double* fft_table);

// fft_2d_convolve_rows on the given path.
void fft_2d_convolve_rows_on(FftPath path, int32_t m, int32_t row_doubles, double** rows_a,
                             double** rows_b, const double* const* spectrum, bool spectrum_real,
                             int32_t first_row, int32_t row_count, double** result_a,
                             double** result_b, int32_t* fft_work, double* fft_table);

// fft_2d_filter on the given path.
void fft_2d_filter_on(FftPath path, int32_t m, int32_t row_doubles, double** rows_a,
                      double** rows_b, const double* const* spectrum, bool spectrum_real,
                      int32_t input_columns, int32_t first_column, int32_t column_count,
                      double** result_a, double** result_b, int32_t* fft_work, double* fft_table);

// fft_2d on the given path: the table rules, then the transform.
void fft_2d_on(FftPath path, int32_t m, int32_t row_doubles, int32_t sign, double** rows,
               int32_t* fft_work, double* fft_table);

// The best available path within instruction_set_limit().
FftPath fft_best_path();

void fft_transform_portable(const FftRequest& request);
void fft_transform_avx2(const FftRequest& request);
void fft_transform_avx512(const FftRequest& request);
