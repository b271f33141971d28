// fft_2d and swap_quadrants: the table and work-array rules, and the choice of the
// instruction-set variant that does the transform (the algorithm is in fft_passes.inc).
//
// Table layout. For every power of two s from 1 to D/2 (D the larger side of the largest
// plane seen so far) the s complex values exp(+i pi j / s), j = 0..s-1, are stored from
// complex index s on, i.e. doubles 2s .. 4s-1 of fft_table. Those are exactly the twiddles
// of the step that merges transforms of length s into one of length 2s, and they do not
// depend on the total length, so a table built for a large plane serves every smaller one,
// and vector passes read them with plain contiguous loads. The table takes doubles 2 ..
// 2D-1 of the D/2 + 2D the render allocates. The negative exponent uses the conjugates.
//
// fft_work[0] holds D/2, the size the table stands for, so a table is built when a plane
// has max(2m, 2n) > 4 fft_work[0]; fft_work[1] is set to 1 at every build. No table is built
// for D <= 4, where the butterflies need only +-1 and +-i. The bit reversals are done by
// block transposes and need no index lists, so entries 2 and up are left alone.
#include "fft/fft2d.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "fft/fft_kernels.h"
#include "fft/instruction_set.h"
#include "fft/portable_math.h"

namespace {

void build_table(int32_t d, int32_t* fft_work, double* fft_table) {
  fft_work[0] = d / 2;
  fft_work[1] = 1;
  if (d <= 4) return;
  const double pi = 3.14159265358979323846;
  for (int32_t s = 1; s <= d / 2; s *= 2) {
    for (int32_t j = 0; j < s; ++j) {
      // Reduce to the first octant so every entry is as accurate as cos and sin allow. The
      // portable sin and cos give the same table on every platform, so the module's
      // transforms round alike on Linux and Windows.
      const int32_t jj = 2 * j <= s ? j : s - j;  // angle pi*jj/s in [0, pi/2]
      double c, sn;
      if (4 * jj <= s) {
        c = portable_cos(pi * jj / s);
        sn = portable_sin(pi * jj / s);
      } else {
        c = portable_sin(pi * (s - 2 * jj) / (2.0 * s));
        sn = portable_cos(pi * (s - 2 * jj) / (2.0 * s));
      }
      if (jj != j) c = -c;  // angle pi - t
      fft_table[2 * (s + j)] = c;
      fft_table[2 * (s + j) + 1] = sn;
    }
  }
}

// A power of two small enough that no index of the transform or its table overflows.
bool usable_size(int32_t v) { return v > 0 && v <= (int32_t{1} << 26) && (v & (v - 1)) == 0; }

// m rows of row_doubles / 2 complex values, both such powers of two.
bool usable_shape(int32_t m, int32_t row_doubles) {
  return usable_size(m) && row_doubles % 2 == 0 && usable_size(row_doubles / 2);
}

// The checks every entry makes before anything is read or written, then the table rule:
// true when the m-row plane of row_doubles doubles a row can be transformed. There is no way
// to report a bad call, and every index assumes powers of two: a plane of any other shape,
// or missing arrays, is left exactly as it was rather than read and written past its rows.
bool ready_for(int32_t m, int32_t row_doubles, int32_t* fft_work, double* fft_table) {
  const int32_t n = row_doubles / 2;
  if (!usable_shape(m, row_doubles) || fft_work == nullptr || fft_table == nullptr) return false;
  const int32_t d = m > n ? m : n;
  if (int64_t{2} * d > int64_t{4} * fft_work[0]) build_table(d, fft_work, fft_table);
  return true;
}

// A request for the plain transform, which the options then add to.
FftRequest plain_request(int32_t m, int32_t n, bool positive, double* const* rows,
                         const double* table) {
  FftRequest request{};
  request.m = m;
  request.n = n;
  request.positive = positive;
  request.rows = rows;
  request.table = table;
  request.cache_ways = fft_cache_ways();
  return request;
}

// The part of a request the two orders of a convolution share (both planes, the spectrum,
// the result tables), after the checks of a call that can be made: false for one that
// cannot, which writes nothing.
bool convolution_request(int32_t m, int32_t row_doubles, double** rows_a, double** rows_b,
                         const double* const* spectrum, bool spectrum_real, double** result_a,
                         double** result_b, int32_t* fft_work, double* fft_table,
                         FftRequest& request) {
  if (rows_a == nullptr || spectrum == nullptr || result_a == nullptr ||
      (rows_b != nullptr && result_b == nullptr) || !ready_for(m, row_doubles, fft_work, fft_table))
    return false;
  request = plain_request(m, row_doubles / 2, true, rows_a, fft_table);
  request.rows_b = rows_b;
  request.factor = spectrum;
  request.factor_real = spectrum_real;
  request.result_a = result_a;
  request.result_b = result_b;
  return true;
}

// Exchanges the values (of `width` doubles each) at columns a and b of a row.
void swap_values(double* row, int32_t a, int32_t b, int width) {
  for (int w = 0; w < width; ++w) std::swap(row[width * a + w], row[width * b + w]);
}

// One row of n >= 16 values of `width` doubles each into the spectrum order, in place: both
// steps of the order exchange values in pairs.
void row_into_spectrum_order(double* row, int32_t n, int width) {
  int32_t r = 0;  // k's bit reversal, counted along with k
  for (int32_t k = 0; k < n; ++k) {
    if (r > k) swap_values(row, k, r, width);
    int32_t bit = n >> 1;
    while (bit > 0 && (r & bit)) {
      r ^= bit;
      bit >>= 1;
    }
    r |= bit;
  }
  for (int32_t block = 0; block < n; block += 16) {
    for (int32_t i = 0; i < 4; ++i) {
      for (int32_t j = i + 1; j < 4; ++j)
        swap_values(row, block + 4 * i + j, block + 4 * j + i, width);
    }
  }
}

// Rows up to this many values are put in order through a copy on the stack, by a table of
// where each value goes (built once for all rows): one pass with no tests per value, about
// five times as fast as the exchanges (a 512 x 512 real spectrum, AMD EPYC Zen 4). Longer
// rows take the exchanges.
constexpr int32_t kCopiedRow = 1024;

// The spectrum column of every column k < n (16 <= n <= kCopiedRow, a power of two): the
// bit reversal of k, then the transpose of its block of 16.
void spectrum_columns(int32_t n, int32_t* column) {
  int bits = 0;
  while ((int32_t{1} << bits) < n) ++bits;
  for (int32_t k = 0; k < n; ++k) {
    int32_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((k >> b) & 1) << (bits - 1 - b);
    column[k] = (r & ~15) | ((r & 3) << 2) | ((r >> 2) & 3);
  }
}

// Each row's values of Width doubles (with FromComplex, the first double of each complex value
// instead) times `scale` (1 changes no value), moved to their spectrum columns.
template <int Width, bool FromComplex = false>
void copy_into_spectrum_order(double* const* rows, int32_t m, int32_t n, double scale = 1.0) {
  constexpr int kFrom = FromComplex ? 2 : Width;
  int32_t column[kCopiedRow];
  double copy[Width * kCopiedRow];
  spectrum_columns(n, column);
  for (int32_t r = 0; r < m; ++r) {
    double* row = rows[r];
    for (int32_t k = 0; k < n; ++k) {
      for (int w = 0; w < Width; ++w) {
        copy[Width * column[k] + w] = row[kFrom * k + w] * scale;
      }
    }
    std::copy(copy, copy + Width * n, row);
  }
}

// The values (or with real_parts the real parts, moved to the row's start) times `scale`.
void scale_rows(double* const* rows, int32_t m, int32_t n, bool real_parts, double scale) {
  for (int32_t r = 0; r < m; ++r) {
    double* row = rows[r];
    if (real_parts) {
      for (int32_t k = 0; k < n; ++k) row[k] = row[2 * k] * scale;
    } else {
      for (int32_t k = 0; k < 2 * n; ++k) row[k] *= scale;
    }
  }
}

}  // namespace

void fft_2d_spectrum_order(int32_t m, int32_t row_doubles, double** rows, bool real) {
  const int32_t n = row_doubles / 2;
  if (rows == nullptr || !usable_shape(m, row_doubles) || n < 16) return;
  if (n <= kCopiedRow) {
    if (real) {
      copy_into_spectrum_order<1>(rows, m, n);
    } else {
      copy_into_spectrum_order<2>(rows, m, n);
    }
    return;
  }
  for (int32_t r = 0; r < m; ++r) row_into_spectrum_order(rows[r], n, real ? 1 : 2);
}

void fft_2d_spectrum_order_scaled(int32_t m, int32_t row_doubles, double** rows, bool real_parts,
                                  double scale) {
  const int32_t n = row_doubles / 2;
  if (rows == nullptr || !usable_shape(m, row_doubles)) return;
  if (n < 16 || n > kCopiedRow) {
    scale_rows(rows, m, n, real_parts, scale);
    fft_2d_spectrum_order(m, row_doubles, rows, real_parts);
  } else if (real_parts) {
    copy_into_spectrum_order<1, true>(rows, m, n, scale);
  } else {
    copy_into_spectrum_order<2>(rows, m, n, scale);
  }
}

bool fft_path_available(FftPath path) {
#if defined(__GNUC__) && defined(__x86_64__)
  switch (path) {
    case FftPath::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case FftPath::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("fma");
    default:
      return true;
  }
#else
  return path == FftPath::portable;
#endif
}

FftPath fft_best_path() {
  const InstructionSet limit = instruction_set_limit();
  if (limit >= InstructionSet::avx512 && fft_path_available(FftPath::avx512)) {
    return FftPath::avx512;
  }
  if (limit >= InstructionSet::avx2 && fft_path_available(FftPath::avx2)) return FftPath::avx2;
  return FftPath::portable;
}

void fft_request_on(FftPath path, const FftRequest& request) {
  switch (path) {
    case FftPath::avx512:
      fft_transform_avx512(request);
      break;
    case FftPath::avx2:
      fft_transform_avx2(request);
      break;
    default:
      fft_transform_portable(request);
      break;
  }
}

void fft_transform_on(FftPath path, int32_t m, int32_t n, bool positive, double* const* rows,
                      const double* table) {
  fft_request_on(path, plain_request(m, n, positive, rows, table));
}

void fft_2d_with(FftPath path, int32_t m, int32_t row_doubles, int32_t sign, double** rows,
                 const FftOptions& options, int32_t* fft_work, double* fft_table) {
  // A bad call writes nothing, an order included.
  if (rows == nullptr || !ready_for(m, row_doubles, fft_work, fft_table)) return;
  const int32_t n = row_doubles / 2;
  FftRequest request = plain_request(m, n, sign >= 0, rows, fft_table);
  request.rows_b = options.rows_b;
  request.factor = options.factor;
  request.factor_real = options.factor_real;
  request.order = options.order;
  request.result_a = options.result_a;
  request.result_b = options.rows_b != nullptr ? options.result_b : nullptr;
  if (options.band_count > 0 && options.band_count < m) {
    request.band_first = options.band_first & (m - 1);  // also folds a negative start
    request.band_count = options.band_count;
  }
  if (options.order != nullptr) {
    request.rows_b = nullptr;
    request.factor = nullptr;
    request.result_a = request.result_b = nullptr;
    request.first_row = options.first_row & (m - 1);  // also folds a negative start
    request.row_count = options.row_count < 0 ? 0 : options.row_count > m ? m : options.row_count;
  }
  fft_request_on(path, request);
}

void fft_2d_filter_on(FftPath path, int32_t m, int32_t row_doubles, double** rows_a,
                      double** rows_b, const double* const* spectrum, bool spectrum_real,
                      int32_t input_columns, int32_t first_column, int32_t column_count,
                      double** result_a, double** result_b, int32_t* fft_work, double* fft_table) {
  FftRequest request;
  if (!convolution_request(m, row_doubles, rows_a, rows_b, spectrum, spectrum_real, result_a,
                           result_b, fft_work, fft_table, request))
    return;
  const int32_t n = row_doubles / 2;
  request.filter = true;
  request.input_columns = input_columns < 1 || input_columns > n ? n : input_columns;
  request.first_column = first_column & (n - 1);  // also folds a negative start
  request.column_count = column_count < 0 ? 0 : column_count > n ? n : column_count;
  fft_request_on(path, request);
}

void fft_2d_convolve_rows_on(FftPath path, int32_t m, int32_t row_doubles, double** rows_a,
                             double** rows_b, const double* const* spectrum, bool spectrum_real,
                             int32_t first_row, int32_t row_count, double** result_a,
                             double** result_b, int32_t* fft_work, double* fft_table) {
  FftRequest request;
  if (!convolution_request(m, row_doubles, rows_a, rows_b, spectrum, spectrum_real, result_a,
                           result_b, fft_work, fft_table, request))
    return;
  request.convolve_rows = true;
  request.first_row = first_row & (m - 1);  // also folds a negative start
  request.row_count = row_count < 0 ? 0 : row_count > m ? m : row_count;
  fft_request_on(path, request);
}

void fft_2d_on(FftPath path, int32_t m, int32_t row_doubles, int32_t sign, double** rows,
               int32_t* fft_work, double* fft_table) {
  fft_2d_with(path, m, row_doubles, sign, rows, FftOptions{}, fft_work, fft_table);
}

void fft_2d(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t* fft_work,
            double* fft_table) {
  fft_2d_on(fft_best_path(), m, row_doubles, sign, rows, fft_work, fft_table);
}

void fft_2d_band(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t first_row,
                 int32_t row_count, int32_t* fft_work, double* fft_table) {
  FftOptions options;
  options.band_first = first_row;
  options.band_count = row_count;
  fft_2d_with(fft_best_path(), m, row_doubles, sign, rows, options, fft_work, fft_table);
}

void fft_2d_pair_times(int32_t m, int32_t row_doubles, int32_t sign, double** rows_a,
                       double** rows_b, const double* const* factor, bool factor_real,
                       double** result_a, double** result_b, int32_t* fft_work, double* fft_table) {
  FftOptions options;
  options.rows_b = rows_b;
  options.factor = factor;
  options.factor_real = factor_real;
  options.result_a = result_a;
  options.result_b = result_b;
  fft_2d_with(fft_best_path(), m, row_doubles, sign, rows_a, options, fft_work, fft_table);
}

void fft_2d_some_rows(int32_t m, int32_t row_doubles, int32_t sign, double** rows, double** order,
                      int32_t first_row, int32_t row_count, int32_t* fft_work, double* fft_table) {
  if (order == nullptr) return;
  FftOptions options;
  options.order = order;
  options.first_row = first_row;
  options.row_count = row_count;
  fft_2d_with(fft_best_path(), m, row_doubles, sign, rows, options, fft_work, fft_table);
}

void fft_2d_filter(int32_t m, int32_t row_doubles, double** rows_a, double** rows_b,
                   const double* const* spectrum, bool spectrum_real, int32_t input_columns,
                   int32_t first_column, int32_t column_count, double** result_a, double** result_b,
                   int32_t* fft_work, double* fft_table) {
  fft_2d_filter_on(fft_best_path(), m, row_doubles, rows_a, rows_b, spectrum, spectrum_real,
                   input_columns, first_column, column_count, result_a, result_b, fft_work,
                   fft_table);
}

void fft_2d_convolve_rows(int32_t m, int32_t row_doubles, double** rows_a, double** rows_b,
                          const double* const* spectrum, bool spectrum_real, int32_t first_row,
                          int32_t row_count, double** result_a, double** result_b,
                          int32_t* fft_work, double* fft_table) {
  fft_2d_convolve_rows_on(fft_best_path(), m, row_doubles, rows_a, rows_b, spectrum, spectrum_real,
                          first_row, row_count, result_a, result_b, fft_work, fft_table);
}

void swap_quadrants(double** rows, int32_t n) {
  if (rows == nullptr) return;
  const int32_t h = n / 2;
  for (int32_t r = 0; r < h; ++r) {
    double* top = rows[r];
    double* bottom = rows[r + h];
    for (int32_t c = 0; c < 2 * h; ++c) {
      std::swap(top[c], bottom[c + 2 * h]);
      std::swap(top[c + 2 * h], bottom[c]);
    }
  }
}
