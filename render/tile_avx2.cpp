// The tile stage's pixel loops for AVX2 + FMA (compiled for that target function by
// function, used only on processors that have it). Four neighbouring image columns, which
// are four plane rows, go through the lanes of one vector together: the pixels of one image
// row are read and written side by side, and each plane row is filled or read in order.
// Same arithmetic as the portable loops, operation for operation, except that the float
// weighting's pow and every write-back log come from the vector routines of
// weight_math_avx2.inc (within 2 ulp of the library's).
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/tile_kernels.h"

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

constexpr double kAlphaFloor = 3e-5;

// Four pixels' (x, y) pairs, one from each row pointer at double index e, as the vectors
// (x0, x1, x2, x3) and (y0, y1, y2, y3).
WEIGHT_INLINE void load_pairs(const double* const* rows, int32_t e, __m256d& x, __m256d& y) {
  const __m256d r02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(rows[0] + e)),
                                           _mm_loadu_pd(rows[2] + e), 1);
  const __m256d r13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(rows[1] + e)),
                                           _mm_loadu_pd(rows[3] + e), 1);
  x = _mm256_unpacklo_pd(r02, r13);
  y = _mm256_unpackhi_pd(r02, r13);
}

// The inverse of load_pairs: (x_k, y_k) to rows[k] at double index e.
WEIGHT_INLINE void store_pairs(double* const* rows, int32_t e, __m256d x, __m256d y) {
  const __m256d lo = _mm256_unpacklo_pd(x, y);  // (x0, y0, x2, y2)
  const __m256d hi = _mm256_unpackhi_pd(x, y);  // (x1, y1, x3, y3)
  _mm_storeu_pd(rows[0] + e, _mm256_castpd256_pd128(lo));
  _mm_storeu_pd(rows[1] + e, _mm256_castpd256_pd128(hi));
  _mm_storeu_pd(rows[2] + e, _mm256_extractf128_pd(lo, 1));
  _mm_storeu_pd(rows[3] + e, _mm256_extractf128_pd(hi, 1));
}

WEIGHT_INLINE __m256d select(__m256d mask, __m256d if_true, __m256d if_false) {
  return _mm256_blendv_pd(if_false, if_true, mask);
}

// ---- Loading, float ---------------------------------------------------------------------

// The weighting pow(M, y) in place over a plane row whose values are all exponents (the
// red and green row), and over the even values of one whose odd values are alpha (the blue
// and alpha row). A pass of its own over rows still in the cache runs the exponentials
// back to back, which overlaps them far better than one pow per channel amid the loading.
void weight_rg_row(double* row, int32_t n, const WeightBase& weight) {
  const __m256d ln_hi = _mm256_set1_pd(weight.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(weight.ln_lo);
  for (int32_t e = 0; e < 2 * n; e += 4) {
    _mm256_storeu_pd(row + e, weight_pow(_mm256_loadu_pd(row + e), ln_hi, ln_lo, weight.base));
  }
}

void weight_ba_row(double* row, int32_t n, const WeightBase& weight) {
  const __m256d ln_hi = _mm256_set1_pd(weight.ln_hi);
  const __m256d ln_lo = _mm256_set1_pd(weight.ln_lo);
  for (int32_t e = 0; e < 2 * n; e += 8) {
    const __m256d v0 = _mm256_loadu_pd(row + e);      // b0 a0 b1 a1
    const __m256d v1 = _mm256_loadu_pd(row + e + 4);  // b2 a2 b3 a3
    const __m256d b = weight_pow(_mm256_unpacklo_pd(v0, v1), ln_hi, ln_lo, weight.base);
    const __m256d a = _mm256_unpackhi_pd(v0, v1);  // a0 a2 a1 a3, as b holds b0 b2 b1 b3
    _mm256_storeu_pd(row + e, _mm256_unpacklo_pd(b, a));
    _mm256_storeu_pd(row + e + 4, _mm256_unpackhi_pd(b, a));
  }
}

void load_float_avx2(const PF_PixelFloat* input, const TilePlan& plan, const TileSource& source,
                     const WorkingPlanes& planes) {
  const TileLoadRule& rule = plan.rule;
  const __m256d threshold = _mm256_set1_pd(TilePixelTraits<PF_PixelFloat>::threshold(rule));
  const __m256d gain = _mm256_set1_pd(rule.gain);
  const __m256d cap = _mm256_set1_pd(rule.float_cap);
  const __m256d largest = _mm256_set1_pd(FLT_MAX);
  const __m256d floor = _mm256_set1_pd(kAlphaFloor);
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d scale = _mm256_set1_pd(255.0);
  const __m256d alpha_scale = _mm256_set1_pd(plan.alpha_scale);
  const bool weighted = rule.weighted;
  const bool vector_pow = plan.weight.vector_exp_ok;

  // Not finite (or the sign-less value above the largest float): read as 0.
  auto finite = [&](__m256d c) {
    return _mm256_and_pd(c, _mm256_cmp_pd(_mm256_andnot_pd(sign, c), largest, _CMP_LE_OQ));
  };
  // The plane value, or with the weighting on its exponent 255 v (pow follows row by row).
  auto colour = [&](__m256d c) {
    __m256d v = select(_mm256_cmp_pd(c, threshold, _CMP_GE_OQ), _mm256_mul_pd(c, gain), c);
    v = select(_mm256_cmp_pd(v, cap, _CMP_GT_OQ), cap, v);
    if (!weighted) return v;
    const __m256d y = _mm256_mul_pd(scale, v);
    if (vector_pow) return y;
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, y);
    for (double& l : lanes) l = std::pow(rule.weight_base, l);
    return _mm256_load_pd(lanes);
  };

  for (int32_t i0 = 0; i0 < source.columns; i0 += 4) {
    const float* column[4];
    for (int k = 0; k < 4; ++k) {
      column[k] = reinterpret_cast<const float*>(input + source.column[i0 + k]);
    }
    double* rg[4] = {planes.rg.rows[i0], planes.rg.rows[i0 + 1], planes.rg.rows[i0 + 2],
                     planes.rg.rows[i0 + 3]};
    double* ba[4] = {planes.ba.rows[i0], planes.ba.rows[i0 + 1], planes.ba.rows[i0 + 2],
                     planes.ba.rows[i0 + 3]};
    // The next block's pixels of each image row are fetched while this block is worked on
    // (a block walks down the image a cache line per row, which the processor's prefetcher
    // does not follow); its last pixel, as the first shares this block's line or the next.
    const float* ahead = i0 + 4 < source.columns
                             ? reinterpret_cast<const float*>(input + source.column[i0 + 7])
                             : nullptr;
    for (int32_t j = 0; j < source.rows; ++j) {
      // Four floats per pixel; the offset is in pixels of four floats.
      const std::ptrdiff_t at = 4 * source.row_offset[j];
      if (ahead != nullptr) _mm_prefetch(reinterpret_cast<const char*>(ahead + at), _MM_HINT_T0);
      __m128 p0 = _mm_loadu_ps(column[0] + at), p1 = _mm_loadu_ps(column[1] + at);
      __m128 p2 = _mm_loadu_ps(column[2] + at), p3 = _mm_loadu_ps(column[3] + at);
      _MM_TRANSPOSE4_PS(p0, p1, p2, p3);  // alpha, red, green, blue of the four
      __m256d a = finite(_mm256_cvtps_pd(p0));
      // A transparent source is transparent black whatever its colour says.
      const __m256d keep = _mm256_cmp_pd(a, floor, _CMP_GT_OQ);
      a = _mm256_and_pd(a, keep);
      const __m256d r = colour(_mm256_and_pd(finite(_mm256_cvtps_pd(p1)), keep));
      const __m256d g = colour(_mm256_and_pd(finite(_mm256_cvtps_pd(p2)), keep));
      const __m256d b = colour(_mm256_and_pd(finite(_mm256_cvtps_pd(p3)), keep));
      store_pairs(rg, 2 * j, r, g);
      store_pairs(ba, 2 * j, b, _mm256_mul_pd(a, alpha_scale));
    }
    if (weighted && vector_pow) {
      for (int k = 0; k < 4; ++k) {
        weight_rg_row(rg[k], source.rows, plan.weight);
        weight_ba_row(ba[k], source.rows, plan.weight);
      }
    }
  }
  fill_beyond_reach(planes, plan.n, source);
}

// ---- Write-back ---------------------------------------------------------------------------

// The four channels of four output pixels after normalisation and un-weighting, in the
// format's working scale, and the lanes whose blurred alpha says "nothing here".
struct Normalised {
  __m256d r, g, b, a;
  __m256d empty;
};

template <typename Store>
void write_avx2(const TilePlan& plan, int32_t tx, int32_t ty, const WorkingPlanes& planes,
                double alpha_full_scale, Store store) {
  const TileLoadRule& rule = plan.rule;
  const int32_t half = plan.n / 2, wrap = plan.n - 1;
  const InnerRange across = inner_range(plan.n, plan.p, tx, plan.width);
  const InnerRange down = inner_range(plan.n, plan.p, ty, plan.height);
  // The planes hold alpha times the alpha scale (a power of two): the limits and divisors
  // below carry the same factor, so each comparison and quotient has exactly the value it
  // would have with unscaled alpha (scaling by a power of two rounds nothing).
  const __m256d floor = _mm256_set1_pd(kAlphaFloor * plan.alpha_scale);
  const __m256d full = _mm256_set1_pd(alpha_full_scale * plan.alpha_scale);
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d kernel_sum = _mm256_set1_pd(plan.kernel_sum * plan.alpha_scale);
  const __m256d inverse_log_weight = _mm256_set1_pd(rule.inverse_log_weight);
  for (int32_t i0 = across.begin; i0 < across.end; i0 += 4) {
    const int32_t count = across.end - i0 < 4 ? across.end - i0 : 4;
    // A short last block repeats its last column in the spare lanes, which are not stored.
    const double* rg[4];
    const double* ba[4];
    for (int32_t k = 0; k < 4; ++k) {
      const int32_t row = (i0 + (k < count ? k : count - 1) + half) & wrap;
      rg[k] = planes.rg.rows[row];
      ba[k] = planes.ba.rows[row];
    }
    for (int32_t j = down.begin; j < down.end; ++j) {
      const int32_t e = 2 * ((j + half) & wrap);
      Normalised v;
      load_pairs(rg, e, v.r, v.g);
      load_pairs(ba, e, v.b, v.a);
      v.empty = _mm256_cmp_pd(v.a, floor, _CMP_LE_OQ);
      // Empty lanes are stored as 0; they carry 1 meanwhile, which raises nothing and keeps
      // the logarithm on its vector path.
      const __m256d f = _mm256_div_pd(v.a, full);
      v.r = select(v.empty, one, _mm256_div_pd(v.r, f));
      v.g = select(v.empty, one, _mm256_div_pd(v.g, f));
      v.b = select(v.empty, one, _mm256_div_pd(v.b, f));
      if (rule.weighted) {
        v.r = _mm256_mul_pd(inverse_log_weight, log_vec(v.r));
        v.g = _mm256_mul_pd(inverse_log_weight, log_vec(v.g));
        v.b = _mm256_mul_pd(inverse_log_weight, log_vec(v.b));
      }
      v.a = _mm256_div_pd(v.a, kernel_sum);
      store(static_cast<std::ptrdiff_t>(ty + j) * plan.output_stride + tx + i0, count, v);
    }
  }
}

// Integer channels: !(v > 0) gives 0 (not-a-number included), above the limit the limit,
// otherwise floor(v + 0.5); empty lanes 0.
WEIGHT_INLINE __m128i to_integer(__m256d v, __m256d limit, __m256d empty) {
  __m256d t = _mm256_floor_pd(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
  t = select(_mm256_cmp_pd(v, limit, _CMP_GT_OQ), limit, t);
  t = _mm256_and_pd(t, _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_GT_OQ));
  t = _mm256_andnot_pd(empty, t);
  return _mm256_cvttpd_epi32(t);
}

void write8_avx2(PF_Pixel8* output, const TilePlan& plan, int32_t tx, int32_t ty,
                 const WorkingPlanes& planes) {
  const __m256d limit = _mm256_set1_pd(255.0);
  write_avx2(plan, tx, ty, planes, 255.0,
             [&](std::ptrdiff_t at, int32_t count, const Normalised& v) {
               const __m128i a = to_integer(v.a, limit, v.empty);
               const __m128i r = to_integer(v.r, limit, v.empty);
               const __m128i g = to_integer(v.g, limit, v.empty);
               const __m128i b = to_integer(v.b, limit, v.empty);
               // Bytes alpha, red, green, blue of each pixel.
               const __m128i pixels =
                   _mm_or_si128(_mm_or_si128(a, _mm_slli_epi32(r, 8)),
                                _mm_or_si128(_mm_slli_epi32(g, 16), _mm_slli_epi32(b, 24)));
               if (count == 4) {
                 _mm_storeu_si128(reinterpret_cast<__m128i*>(output + at), pixels);
               } else {
                 alignas(16) PF_Pixel8 four[4];
                 _mm_store_si128(reinterpret_cast<__m128i*>(four), pixels);
                 for (int32_t k = 0; k < count; ++k) output[at + k] = four[k];
               }
             });
}

void write16_avx2(PF_Pixel16* output, const TilePlan& plan, int32_t tx, int32_t ty,
                  const WorkingPlanes& planes) {
  const __m256d limit = _mm256_set1_pd(32768.0);
  const __m256d scale = _mm256_set1_pd(128.0);
  write_avx2(
      plan, tx, ty, planes, 256.0, [&](std::ptrdiff_t at, int32_t count, const Normalised& v) {
        const __m128i a = to_integer(_mm256_mul_pd(v.a, scale), limit, v.empty);
        const __m128i r = to_integer(_mm256_mul_pd(v.r, scale), limit, v.empty);
        const __m128i g = to_integer(_mm256_mul_pd(v.g, scale), limit, v.empty);
        const __m128i b = to_integer(_mm256_mul_pd(v.b, scale), limit, v.empty);
        const __m128i ar = _mm_or_si128(a, _mm_slli_epi32(r, 16));  // alpha, red of each pixel
        const __m128i gb = _mm_or_si128(g, _mm_slli_epi32(b, 16));  // green, blue
        const __m128i first = _mm_unpacklo_epi32(ar, gb);           // pixels 0 and 1
        const __m128i second = _mm_unpackhi_epi32(ar, gb);          // pixels 2 and 3
        if (count == 4) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(output + at), first);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(output + at + 2), second);
        } else {
          alignas(16) PF_Pixel16 four[4];
          _mm_store_si128(reinterpret_cast<__m128i*>(four), first);
          _mm_store_si128(reinterpret_cast<__m128i*>(four + 2), second);
          for (int32_t k = 0; k < count; ++k) output[at + k] = four[k];
        }
      });
}

void write_float_avx2(PF_PixelFloat* output, const TilePlan& plan, int32_t tx, int32_t ty,
                      const WorkingPlanes& planes) {
  const bool weighted = plan.rule.weighted;
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d scale = _mm256_set1_pd(255.0);
  const __m256d largest = _mm256_set1_pd(FLT_MAX);
  // Colour: back from the exponent's scale when weighted, never below 0, not limited above
  // but by the largest float (a boosted colour near it would otherwise become infinity).
  auto colour = [&](__m256d c, __m256d empty) {
    if (weighted) c = _mm256_div_pd(c, scale);
    c = _mm256_and_pd(c, _mm256_cmp_pd(c, zero, _CMP_GT_OQ));
    c = _mm256_min_pd(c, largest);
    return _mm256_cvtpd_ps(_mm256_andnot_pd(empty, c));
  };
  write_avx2(plan, tx, ty, planes, 1.0, [&](std::ptrdiff_t at, int32_t count, const Normalised& v) {
    __m256d a = select(_mm256_cmp_pd(v.a, one, _CMP_GT_OQ), one, v.a);
    a = _mm256_and_pd(a, _mm256_cmp_pd(v.a, zero, _CMP_GT_OQ));
    __m128 pa = _mm256_cvtpd_ps(_mm256_andnot_pd(v.empty, a));
    __m128 pr = colour(v.r, v.empty), pg = colour(v.g, v.empty), pb = colour(v.b, v.empty);
    _MM_TRANSPOSE4_PS(pa, pr, pg, pb);  // now one pixel per vector
    float* out = reinterpret_cast<float*>(output + at);
    const __m128 pixel[4] = {pa, pr, pg, pb};
    for (int32_t k = 0; k < count; ++k) _mm_storeu_ps(out + 4 * k, pixel[k]);
  });
}

}  // namespace

TileKernels tile_kernels_avx2() {
  return {load_tile8_blocked, load_tile16_blocked, load_float_avx2, write8_avx2,
          write16_avx2,       write_float_avx2};
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // no x86-64 vector path on this compiler or processor family

TileKernels tile_kernels_avx2() { return tile_kernels_portable(); }

#endif
