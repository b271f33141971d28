// The AVX-512 array routines of the weighting (compiled for that target function by
// function, called only when the processor has it), for the accuracy tests of the eight-lane
// formulas the AVX-512 tile loops use. A tail shorter than a vector is padded, as in the
// AVX2 routines.
#include <cmath>
#include <cstdint>
#include <type_traits>

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

// The 8-lane vectors of the array loop.
struct Lanes8 {
  using Vector = __m512d;
  static constexpr int32_t kWidth = 8;
  static WEIGHT_INLINE Vector load(const double* p) { return _mm512_loadu_pd(p); }
  static WEIGHT_INLINE void store(double* p, Vector v) { _mm512_storeu_pd(p, v); }
};

#include "render/weight_array_loop.inc"

}  // namespace

void weight_pow_many_avx512(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m512d ln_hi = _mm512_set1_pd(base.ln_hi);
  const __m512d ln_lo = _mm512_set1_pd(base.ln_lo);
  over_array<Lanes8>(y, out, count, 0.0, [&](const __m512d* v, __m512d* r, auto lanes) {
    weight_pow8<decltype(lanes)::value>(v, ln_hi, ln_lo, base.base, r);
  });
}

void log_many_avx512(const double* x, double* out, int32_t count) {
  over_array<Lanes8>(x, out, count, 1.0, [&](const __m512d* v, __m512d* r, auto lanes) {
    for (int i = 0; i < decltype(lanes)::value; ++i) r[i] = log_vec8(v[i]);
  });
}

void log_rough_many_avx512(const double* x, double* out, int32_t count) {
  over_array<Lanes8>(x, out, count, 1.0, [&](const __m512d* v, __m512d* r, auto lanes) {
    log_vec8_rough<decltype(lanes)::value>(v, r);
  });
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
