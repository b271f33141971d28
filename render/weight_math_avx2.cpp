// The AVX2 + FMA array routines of the weighting (compiled for that target function by
// function, called only when the processor has it). A tail shorter than a vector is padded,
// so every value goes through the same formulas wherever it sits in the array.
#include <cmath>
#include <cstdint>

#include "render/weight_math.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace {
#include "render/weight_math_avx2.inc"
}  // namespace

// The array routines run the table path over every whole vector without a branch, two
// vectors a step so that their long dependency chains overlap, noting whether any lane
// needs the library, and only then fix such lanes in a second pass: a test per vector
// inside the loop costs more than the rare lanes it serves.
void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m256d ln_hi = _mm256_set1_pd(base.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(base.ln_lo);
  const int32_t whole = count / 4 * 4;
  int all_covered = 0xF;
  int32_t k = 0;
  for (; k + 8 <= whole; k += 8) {
    int covered_a, covered_b;
    const __m256d a = weight_pow_table(_mm256_loadu_pd(y + k), ln_hi, ln_lo, covered_a);
    const __m256d b = weight_pow_table(_mm256_loadu_pd(y + k + 4), ln_hi, ln_lo, covered_b);
    _mm256_storeu_pd(out + k, a);
    _mm256_storeu_pd(out + k + 4, b);
    all_covered &= covered_a & covered_b;
  }
  for (; k < whole; k += 4) {
    int covered;
    _mm256_storeu_pd(out + k, weight_pow_table(_mm256_loadu_pd(y + k), ln_hi, ln_lo, covered));
    all_covered &= covered;
  }
  for (k = 0; all_covered != 0xF && k < whole; k += 4) {
    int covered;
    const __m256d v = _mm256_loadu_pd(y + k);
    const __m256d result = weight_pow_table(v, ln_hi, ln_lo, covered);
    if (covered != 0xF) _mm256_storeu_pd(out + k, pow_library_lanes(v, result, covered, base.base));
  }
  if (whole < count) {
    alignas(32) double in[4] = {0.0, 0.0, 0.0, 0.0}, res[4];
    for (int32_t t = whole; t < count; ++t) in[t - whole] = y[t];
    _mm256_store_pd(res, weight_pow(_mm256_load_pd(in), ln_hi, ln_lo, base.base));
    for (int32_t t = whole; t < count; ++t) out[t] = res[t - whole];
  }
}

void log_many_avx2(const double* x, double* out, int32_t count) {
  const int32_t whole = count / 4 * 4;
  int all_normal = 0xF;
  int32_t k = 0;
  for (; k + 8 <= whole; k += 8) {
    int normal_a, normal_b;
    const __m256d a = log_vec_table(_mm256_loadu_pd(x + k), normal_a);
    const __m256d b = log_vec_table(_mm256_loadu_pd(x + k + 4), normal_b);
    _mm256_storeu_pd(out + k, a);
    _mm256_storeu_pd(out + k + 4, b);
    all_normal &= normal_a & normal_b;
  }
  for (; k < whole; k += 4) {
    int normal;
    _mm256_storeu_pd(out + k, log_vec_table(_mm256_loadu_pd(x + k), normal));
    all_normal &= normal;
  }
  for (k = 0; all_normal != 0xF && k < whole; k += 4) {
    int normal;
    const __m256d v = _mm256_loadu_pd(x + k);
    const __m256d result = log_vec_table(v, normal);
    if (normal != 0xF) _mm256_storeu_pd(out + k, log_library_lanes(v, result, normal));
  }
  if (whole < count) {
    alignas(32) double in[4] = {1.0, 1.0, 1.0, 1.0}, res[4];
    for (int32_t t = whole; t < count; ++t) in[t - whole] = x[t];
    _mm256_store_pd(res, log_vec(_mm256_load_pd(in)));
    for (int32_t t = whole; t < count; ++t) out[t] = res[t - whole];
  }
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // no x86-64 vector path on this compiler or processor family

void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  for (int32_t k = 0; k < count; ++k) out[k] = std::pow(base.base, y[k]);
}
void log_many_avx2(const double* x, double* out, int32_t count) {
  for (int32_t k = 0; k < count; ++k) out[k] = std::log(x[k]);
}

#endif
