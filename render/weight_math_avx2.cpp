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

void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m256d ln_hi = _mm256_set1_pd(base.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(base.ln_lo);
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    _mm256_storeu_pd(out + k, weight_pow(_mm256_loadu_pd(y + k), ln_hi, ln_lo, base.base));
  }
  if (k < count) {
    alignas(32) double in[4] = {0.0, 0.0, 0.0, 0.0}, res[4];
    for (int32_t t = k; t < count; ++t) in[t - k] = y[t];
    _mm256_store_pd(res, weight_pow(_mm256_load_pd(in), ln_hi, ln_lo, base.base));
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
  }
}

void log_many_avx2(const double* x, double* out, int32_t count) {
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) _mm256_storeu_pd(out + k, log_vec(_mm256_loadu_pd(x + k)));
  if (k < count) {
    alignas(32) double in[4] = {1.0, 1.0, 1.0, 1.0}, res[4];
    for (int32_t t = k; t < count; ++t) in[t - k] = x[t];
    _mm256_store_pd(res, log_vec(_mm256_load_pd(in)));
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
  }
}

void log_rough_many_avx2(const double* x, double* out, int32_t count) {
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) _mm256_storeu_pd(out + k, log_vec_rough(_mm256_loadu_pd(x + k)));
  if (k < count) {
    alignas(32) double in[4] = {1.0, 1.0, 1.0, 1.0}, res[4];
    for (int32_t t = k; t < count; ++t) in[t - k] = x[t];
    _mm256_store_pd(res, log_vec_rough(_mm256_load_pd(in)));
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
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
void log_rough_many_avx2(const double* x, double* out, int32_t count) {
  log_many_avx2(x, out, count);
}

#endif
