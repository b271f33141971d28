// The AVX-512 variant of the transform: four complex values per register. Compiled for
// that target function by function (the pragma below), so the library still runs on any
// x86-64; fft_2d calls it only when the processor has AVX-512F.
#include <cstdint>

#include "fft/fft_kernels.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
// clang has no target pragma; the attribute below does the same for every function.
#pragma clang attribute push(__attribute__((target("avx512f,avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")
#endif
// GCC 12's AVX-512 headers feed an undefined vector into some shuffles; the warning it then
// gives about that value is a false alarm.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace {
#define FFT_TARGET_HAS_FMA 1
#include "fft/fft_vec128.inc"

struct V4 {
  __m512d v;
  static constexpr int K = 4;
  static FFT_INLINE V4 load(const double* p) { return {_mm512_loadu_pd(p)}; }
};
FFT_INLINE void store(double* p, V4 a) { _mm512_storeu_pd(p, a.v); }
FFT_INLINE V4 add(V4 a, V4 b) { return {_mm512_add_pd(a.v, b.v)}; }
FFT_INLINE V4 sub(V4 a, V4 b) { return {_mm512_sub_pd(a.v, b.v)}; }
FFT_INLINE __m512d swap_parts(__m512d a) { return _mm512_shuffle_pd(a, a, 0x55); }
FFT_INLINE V4 mul_s(V4 x, double wr, double wi) {
  const __m512d u = _mm512_mul_pd(swap_parts(x.v), _mm512_set1_pd(wi));
  return {_mm512_fmaddsub_pd(x.v, _mm512_set1_pd(wr), u)};
}
FFT_INLINE V4 mul_v(V4 x, V4 w) {
  const __m512d u = _mm512_mul_pd(swap_parts(x.v), _mm512_shuffle_pd(w.v, w.v, 0xFF));
  return {_mm512_fmaddsub_pd(x.v, _mm512_shuffle_pd(w.v, w.v, 0x00), u)};
}
// AVX-512 has no add-subtract; t x 1 -+ u rounds once, as t -+ u does.
FFT_INLINE V4 mul_rounded(V4 x, V4 w) {
  const __m512d t = _mm512_mul_pd(x.v, _mm512_shuffle_pd(w.v, w.v, 0x00));
  const __m512d u = _mm512_mul_pd(swap_parts(x.v), _mm512_shuffle_pd(w.v, w.v, 0xFF));
  return {_mm512_fmaddsub_pd(t, _mm512_set1_pd(1.0), u)};
}
FFT_INLINE V4 conj(V4 w) { return {_mm512_mask_sub_pd(w.v, 0xAA, _mm512_setzero_pd(), w.v)}; }
// (k0, k0, k1, k1, k2, k2, k3, k3) from the four reals.
FFT_INLINE V4 times_real(V4 x, const double* k) {
  const __m512d reals = _mm512_castpd256_pd512(_mm256_loadu_pd(k));
  return {
      _mm512_mul_pd(x.v, _mm512_permutexvar_pd(_mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0), reals))};
}
template <bool Pos>
FFT_INLINE V4 add_i(V4 a, V4 b) {
  const __m512d bs = swap_parts(b.v), one = _mm512_set1_pd(1.0);
  return {Pos ? _mm512_fmaddsub_pd(a.v, one, bs) : _mm512_fmsubadd_pd(a.v, one, bs)};
}
FFT_INLINE void transpose_reversed(V4* z) {
  // 128-bit lanes: t0 = (z0.0 z0.1 z2.0 z2.1), t1 = (z0.2 z0.3 z2.2 z2.3), t2 and t3 the same
  // of z1 and z3; then z[d] = (z0.d z2.d z1.d z3.d).
  const __m512d t0 = _mm512_shuffle_f64x2(z[0].v, z[2].v, 0x44);
  const __m512d t1 = _mm512_shuffle_f64x2(z[0].v, z[2].v, 0xEE);
  const __m512d t2 = _mm512_shuffle_f64x2(z[1].v, z[3].v, 0x44);
  const __m512d t3 = _mm512_shuffle_f64x2(z[1].v, z[3].v, 0xEE);
  z[0].v = _mm512_shuffle_f64x2(t0, t2, 0x88);
  z[1].v = _mm512_shuffle_f64x2(t0, t2, 0xDD);
  z[2].v = _mm512_shuffle_f64x2(t1, t3, 0x88);
  z[3].v = _mm512_shuffle_f64x2(t1, t3, 0xDD);
}
template <bool Pos>
FFT_INLINE V4 sub_i(V4 a, V4 b) {
  return add_i<!Pos>(a, b);
}
// The bit reversal of a row moves its values by single vectors (blocks of 4 x 4 values), not
// by pairs of them as the AVX2 build does: the 8 x 8 transposes of pairs take more shuffles of
// 512-bit registers than the index work they save. AMD EPYC Zen 4: a 512 x 512 transform pair
// 1.33 -> 1.15 ms, 1024 x 1024 9.6 -> 7.0 ms.

#include "fft/fft_passes.inc"
}  // namespace

void fft_transform_avx512(const FftRequest& request) { run_request<V4, V1>(request); }

#pragma GCC diagnostic pop
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else
// No such variant on this compiler or machine; fft_path_available says so.
void fft_transform_avx512(const FftRequest& request) { fft_transform_portable(request); }
#endif
