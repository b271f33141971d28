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

// The vectors over_array takes through a formula together (see WEIGHT_GROUP).
constexpr int kGroup = 2;

// out[k] = f(in[k]) over count values: kGroup vectors of 4 at a time (group(in, out, lanes)
// computes `lanes` vectors), then single vectors; a short tail is padded with `pad` (a value
// every routine takes on its vector path) and only its own results are stored.
template <typename Group>
WEIGHT_INLINE void over_array(const double* in, double* out, int32_t count, double pad,
                              Group group) {
  int32_t k = 0;
  for (; k + 4 * kGroup <= count; k += 4 * kGroup) {
    __m256d v[kGroup], r[kGroup];
    for (int i = 0; i < kGroup; ++i) v[i] = _mm256_loadu_pd(in + k + 4 * i);
    group(v, r, std::integral_constant<int, kGroup>{});
    for (int i = 0; i < kGroup; ++i) _mm256_storeu_pd(out + k + 4 * i, r[i]);
  }
  for (; k + 4 <= count; k += 4) {
    const __m256d v = _mm256_loadu_pd(in + k);
    __m256d r;
    group(&v, &r, std::integral_constant<int, 1>{});
    _mm256_storeu_pd(out + k, r);
  }
  if (k < count) {
    alignas(32) double tail[4], res[4];
    for (int32_t t = 0; t < 4; ++t) tail[t] = k + t < count ? in[k + t] : pad;
    const __m256d v = _mm256_load_pd(tail);
    __m256d r;
    group(&v, &r, std::integral_constant<int, 1>{});
    _mm256_store_pd(res, r);
    for (int32_t t = k; t < count; ++t) out[t] = res[t - k];
  }
}

}  // namespace

void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count) {
  const __m256d ln_hi = _mm256_set1_pd(base.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(base.ln_lo);
  over_array(y, out, count, 0.0, [&](const __m256d* v, __m256d* r, auto lanes) {
    weight_pow<decltype(lanes)::value>(v, ln_hi, ln_lo, base.base, r);
  });
}

void log_many_avx2(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](const __m256d* v, __m256d* r, auto lanes) {
    for (int i = 0; i < decltype(lanes)::value; ++i) r[i] = log_vec(v[i]);
  });
}

void log_rough_many_avx2(const double* x, double* out, int32_t count) {
  over_array(x, out, count, 1.0, [&](const __m256d* v, __m256d* r, auto lanes) {
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
