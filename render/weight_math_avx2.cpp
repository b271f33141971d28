// The AVX2 + FMA array routines of the weighting (compiled for that target function by
// function, called only when the processor has it). A tail shorter than a vector is padded,
// so every value goes through the same formulas wherever it sits in the array.
#include <cmath>
#include <cstdint>
#include <type_traits>

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

// The 4-lane vectors of the array loop.
struct Lanes4 {
  using Vector = __m256d;
  static constexpr int32_t kWidth = 4;
  static WEIGHT_INLINE Vector load(const double* p) { return _mm256_loadu_pd(p); }
  static WEIGHT_INLINE void store(double* p, Vector v) { _mm256_storeu_pd(p, v); }
};

#include "render/weight_array_loop.inc"

}  // namespace

void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m256d ln_hi = _mm256_set1_pd(base.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(base.ln_lo);
  over_array<Lanes4>(y, out, count, 0.0, [&](const __m256d* v, __m256d* r, auto lanes) {
    weight_pow<decltype(lanes)::value>(v, ln_hi, ln_lo, base.base, r);
  });
}

void log_many_avx2(const double* x, double* out, int32_t count) {
  over_array<Lanes4>(x, out, count, 1.0, [&](const __m256d* v, __m256d* r, auto lanes) {
    for (int i = 0; i < decltype(lanes)::value; ++i) r[i] = log_vec(v[i]);
  });
}

void log_rough_many_avx2(const double* x, double* out, int32_t count) {
  over_array<Lanes4>(x, out, count, 1.0, [&](const __m256d* v, __m256d* r, auto lanes) {
    log_vec_rough<decltype(lanes)::value>(v, r);
  });
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
