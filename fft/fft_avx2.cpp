// The AVX2 + FMA variant of the transform: two complex values per register. Compiled for
// that target function by function (the pragma below), so the library still runs on any
// x86-64; fft_2d calls it only when the processor has both extensions.
#include <cstdint>

#include "fft/fft_kernels.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
// clang has no target pragma; the attribute below does the same for every function.
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace {
#define FFT_TARGET_HAS_FMA 1
#include "fft/fft_vec128.inc"

struct V2 {
  __m256d v;
  static constexpr int K = 2;
  static FFT_INLINE V2 load(const double* p) { return {_mm256_loadu_pd(p)}; }
};
FFT_INLINE void store(double* p, V2 a) { _mm256_storeu_pd(p, a.v); }
FFT_INLINE V2 add(V2 a, V2 b) { return {_mm256_add_pd(a.v, b.v)}; }
FFT_INLINE V2 sub(V2 a, V2 b) { return {_mm256_sub_pd(a.v, b.v)}; }
FFT_INLINE __m256d swap_parts(__m256d a) { return _mm256_permute_pd(a, 0x5); }
FFT_INLINE V2 mul_s(V2 x, double wr, double wi) {
  const __m256d u = _mm256_mul_pd(swap_parts(x.v), _mm256_set1_pd(wi));
  return {_mm256_fmaddsub_pd(x.v, _mm256_set1_pd(wr), u)};
}
FFT_INLINE V2 mul_v(V2 x, V2 w) {
  const __m256d u = _mm256_mul_pd(swap_parts(x.v), _mm256_permute_pd(w.v, 0xF));
  return {_mm256_fmaddsub_pd(x.v, _mm256_movedup_pd(w.v), u)};
}
FFT_INLINE V2 mul_rounded(V2 x, V2 w) {
  const __m256d t = _mm256_mul_pd(x.v, _mm256_movedup_pd(w.v));
  return {_mm256_addsub_pd(t, _mm256_mul_pd(swap_parts(x.v), _mm256_permute_pd(w.v, 0xF)))};
}
FFT_INLINE V2 conj(V2 w) { return {_mm256_xor_pd(w.v, _mm256_set_pd(-0.0, 0.0, -0.0, 0.0))}; }
// (k0, k0, k1, k1) from the two reals.
FFT_INLINE V2 times_real(V2 x, const double* k) {
  return {_mm256_mul_pd(x.v, _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(k)), 0x50))};
}
template <bool Pos>
FFT_INLINE V2 add_i(V2 a, V2 b) {
  const __m256d bs = swap_parts(b.v);
  return {Pos ? _mm256_addsub_pd(a.v, bs) : _mm256_fmsubadd_pd(a.v, _mm256_set1_pd(1.0), bs)};
}
FFT_INLINE void transpose_reversed(V2* z) {
  const __m256d t0 = _mm256_permute2f128_pd(z[0].v, z[1].v, 0x20);
  const __m256d t1 = _mm256_permute2f128_pd(z[0].v, z[1].v, 0x31);
  z[0].v = t0;
  z[1].v = t1;
}
template <bool Pos>
FFT_INLINE V2 sub_i(V2 a, V2 b) {
  return add_i<!Pos>(a, b);
}

template <>
struct ReverseBlockOf<V2> {
  using type = VectorPair<V2>;
};

#include "fft/fft_passes.inc"
}  // namespace

void fft_transform_avx2(const FftRequest& request) { run_request<V2, V1>(request); }

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else
// No such variant on this compiler or machine; fft_path_available says so.
void fft_transform_avx2(const FftRequest& request) { fft_transform_portable(request); }
#endif
