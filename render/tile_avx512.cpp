// The tile stage's pixel loops for AVX-512 (compiled for that target function by function,
// used only on processors that have it): the loops of tile_loops_x86.inc, which move pixels
// four at a time as in the AVX2 build (the float loading four image rows at a time, see
// tile_float_avx512.inc; the write-backs two image rows at a time, eight values a step, see
// there and tile_int_avx512.inc), over the eight-lane exp and log of
// weight_math_avx512.inc, which take about half the time of the four-lane ones.
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

// The weighting pow(M, y) in place over a plane row whose values are all exponents (the
// red and green row), and over the even values of one whose odd values are alpha (the blue
// and alpha row). n is a multiple of four, so a blue and alpha row ends in at most half a
// block of sixteen values, which goes through the same formulas with the rest masked off.
void weight_rg_row(double* row, int32_t n, const WeightBase& weight) {
  weight_pow_many_avx512(weight, row, row, 2 * n);
}

// Blue values of 32 values at a time go through the pow together (see WEIGHT_GROUP).
void weight_ba_row(double* row, int32_t n, const WeightBase& weight) {
  const __m512d ln_hi = _mm512_set1_pd(weight.ln_hi);
  const __m512d ln_lo = _mm512_set1_pd(weight.ln_lo);
  // Even and odd values of two vectors, and back.
  const __m512i evens = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
  const __m512i odds = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
  const __m512i low = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
  const __m512i high = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
  // Blocks of sixteen values, two at a time and then one: `second` masks off the second
  // vector of a last half block (four pixels), which reads and writes only its own values.
  auto blocks = [&](int32_t e, auto count) {
    constexpr int kBlocks = decltype(count)::value;
    __m512d v0[kBlocks], v1[kBlocks], b[kBlocks], weighted[kBlocks];
    __mmask8 second[kBlocks];
    for (int i = 0; i < kBlocks; ++i) {
      const int32_t at = e + 16 * i;
      second[i] = at + 16 <= 2 * n ? 0xFF : 0x00;
      v0[i] = _mm512_loadu_pd(row + at);  // b0 a0 b1 a1 b2 a2 b3 a3
      v1[i] = _mm512_maskz_loadu_pd(second[i], row + at + 8);
      b[i] = _mm512_permutex2var_pd(v0[i], evens, v1[i]);
    }
    weight_pow8<kBlocks>(b, ln_hi, ln_lo, weight.base, weighted);
    for (int i = 0; i < kBlocks; ++i) {
      const int32_t at = e + 16 * i;
      const __m512d a = _mm512_permutex2var_pd(v0[i], odds, v1[i]);
      _mm512_storeu_pd(row + at, _mm512_permutex2var_pd(weighted[i], low, a));
      _mm512_mask_storeu_pd(row + at + 8, second[i], _mm512_permutex2var_pd(weighted[i], high, a));
    }
  };
  int32_t e = 0;
  for (; e + 32 <= 2 * n; e += 32) blocks(e, std::integral_constant<int, 2>{});
  for (; e < 2 * n; e += 16) blocks(e, std::integral_constant<int, 1>{});
}

void log_in_place(double* x, int32_t count) { log_many_avx512(x, x, count); }
void log_rough(const double* x, double* out, int32_t count) {
  log_rough_many_avx512(x, out, count);
}

#include "render/tile_loops_x86.inc"
// The float loading, which uses the shared loops' helpers.
#include "render/tile_float_avx512.inc"
// The integer write-back, which uses the float one's helpers.
#include "render/tile_int_avx512.inc"

}  // namespace

TileKernels tile_kernels_avx512() {
  return {load_tile8_blocked,       load_tile16_blocked,
          load_float_avx512,        write8_avx512,
          write16_avx512,           write_float_avx512,
          load_blue_float_avx512,   load_red_green8_blocked,
          load_red_green16_blocked, load_red_green_float_avx512};
}

#pragma GCC diagnostic pop
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // no x86-64 vector path on this compiler or processor family

TileKernels tile_kernels_avx512() { return tile_kernels_avx2(); }

#endif
