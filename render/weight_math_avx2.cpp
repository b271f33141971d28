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

// out[k] = f(in[k]) over count values, 4 at a time; a short tail is padded with `pad` (a
// value every routine takes on its vector path) and only its own results are stored.
template <typename F>
WEIGHT_INLINE void over_array(const double* in, double* out, int32_t count, double pad, F f) {
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) _mm256_storeu_pd(out + k, f(_mm256_loadu_pd(in + k)));
  if (k < count) {
    alignas(32) double tail[4], res[4];
    for (int32_t t = 0; t < 4; ++t) tail[t] = k + t < count ? in[k + t] : pad;
    _mm256_store_pd(res, f(_mm256_load_pd(tail)));
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
  }
}

}  // namespace

void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m256d ln_hi = _mm256_set1_pd(base.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(base.ln_lo);
  over_array(y, out, count, 0.0, [&](__m256d v) { return weight_pow(v, ln_hi, ln_lo, base.base); });
}

void log_many_avx2(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](__m256d v) { return log_vec(v); });
}

void log_rough_many_avx2(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](__m256d v) { return log_vec_rough(v); });
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
