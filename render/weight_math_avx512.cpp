// The AVX-512 array routines of the weighting (compiled for that target function by
// function, called only when the processor has it), for the accuracy tests of the eight-lane
// formulas the AVX-512 tile loops use. A tail shorter than a vector is padded, as in the
// AVX2 routines.
#include <cmath>
#include <cstdint>

#include "render/weight_math.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx2,fma"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx2,fma")
#endif
// GCC 12's AVX-512 headers feed an undefined vector into some conversions; the warning it
// then gives about that value is a false alarm.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace {
#include "render/weight_math_avx512.inc"

// out[k] = f(in[k]) over count values, 8 at a time; a short tail is padded with `pad` (a
// value every routine takes on its vector path) and only its own results are stored.
template <typename F>
WEIGHT_INLINE void over_array(const double* in, double* out, int32_t count, double pad, F f) {
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) _mm512_storeu_pd(out + k, f(_mm512_loadu_pd(in + k)));
  if (k < count) {
    alignas(64) double tail[8], res[8];
    for (int32_t t = 0; t < 8; ++t) tail[t] = k + t < count ? in[k + t] : pad;
    _mm512_store_pd(res, f(_mm512_load_pd(tail)));
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
  }
}

}  // namespace

void weight_pow_many_avx512(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m512d ln_hi = _mm512_set1_pd(base.ln_hi);
  const __m512d ln_lo = _mm512_set1_pd(base.ln_lo);
  over_array(y, out, count, 0.0,
             [&](__m512d v) { return weight_pow8(v, ln_hi, ln_lo, base.base); });
}

void log_many_avx512(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](__m512d v) { return log_vec8(v); });
}

void log_rough_many_avx512(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](__m512d v) { return log_vec8_rough(v); });
}

bool weight_math_avx512_available() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
         weight_math_avx2_available();
}

#pragma GCC diagnostic pop
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // no x86-64 vector path on this compiler or processor family

void weight_pow_many_avx512(const WeightBase& base, const double* y, double* out, int32_t count) {
  weight_pow_many_avx2(base, y, out, count);
}
void log_many_avx512(const double* x, double* out, int32_t count) { log_many_avx2(x, out, count); }
void log_rough_many_avx512(const double* x, double* out, int32_t count) {
  log_rough_many_avx2(x, out, count);
}
bool weight_math_avx512_available() { return false; }

#endif
