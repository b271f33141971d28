// The tile stage's pixel loops for AVX2 + FMA (compiled for that target function by
// function, used only on processors that have it): the loops of tile_loops_x86.inc over the
// four-lane exp and log of weight_math_avx2.inc.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "render/tile_kernels.h"
#include "render/tile_pairs.h"

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

// The weighting pow(M, y) in place over a plane row whose values are all exponents (the
// red and green row), and over the even values of one whose odd values are alpha (the blue
// and alpha row). A pass of its own over rows still in the cache runs the exponentials
// back to back, which overlaps them far better than one pow per channel amid the loading.
void weight_rg_row(double* row, int32_t n, const WeightBase& weight) {
  weight_pow_many_avx2(weight, row, row, 2 * n);
}

// Blue values of 16 values at a time go through the pow together (see WEIGHT_GROUP).
void weight_ba_row(double* row, int32_t n, const WeightBase& weight) {
  const __m256d ln_hi = _mm256_set1_pd(weight.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(weight.ln_lo);
  auto blocks = [&](int32_t e, auto count) {
    constexpr int kBlocks = decltype(count)::value;
    __m256d v0[kBlocks], v1[kBlocks], b[kBlocks], weighted[kBlocks];
    for (int i = 0; i < kBlocks; ++i) {
      v0[i] = _mm256_loadu_pd(row + e + 8 * i);      // b0 a0 b1 a1
      v1[i] = _mm256_loadu_pd(row + e + 8 * i + 4);  // b2 a2 b3 a3
      b[i] = _mm256_unpacklo_pd(v0[i], v1[i]);
    }
    weight_pow<kBlocks>(b, ln_hi, ln_lo, weight.base, weighted);
    for (int i = 0; i < kBlocks; ++i) {
      const __m256d a = _mm256_unpackhi_pd(v0[i], v1[i]);  // a0 a2 a1 a3, as b holds b0 b2 b1 b3
      _mm256_storeu_pd(row + e + 8 * i, _mm256_unpacklo_pd(weighted[i], a));
      _mm256_storeu_pd(row + e + 8 * i + 4, _mm256_unpackhi_pd(weighted[i], a));
    }
  };
  int32_t e = 0;
  for (; e + 16 <= 2 * n; e += 16) blocks(e, std::integral_constant<int, 2>{});
  for (; e < 2 * n; e += 8) blocks(e, std::integral_constant<int, 1>{});
}

void log_in_place(double* x, int32_t count) { log_many_avx2(x, x, count); }
void log_rough(const double* x, double* out, int32_t count) { log_rough_many_avx2(x, out, count); }

#include "render/tile_loops_x86.inc"
// The float loading, which uses the shared loops' helpers.
#include "render/tile_float_avx2.inc"

}  // namespace

TileKernels tile_kernels_avx2() {
  return {load_tile8_blocked,       load_tile16_blocked,
          load_float_vector,        write8_vector,
          write16_vector,           write_float_vector,
          load_blue_float_avx2,     load_red_green8_blocked,
          load_red_green16_blocked, load_red_green_float_avx2};
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // no x86-64 vector path on this compiler or processor family

TileKernels tile_kernels_avx2() { return tile_kernels_portable(); }

#endif
