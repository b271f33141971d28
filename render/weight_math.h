// The transcendentals of the highlight weighting over whole arrays: pow(M, y) for the float
// pipeline's exponents and the natural logarithm of the write-back. Where the processor has
// AVX2 and FMA they are computed four at a time by our own table-driven routines, which stay
// within 2 ulp of the C++ library's pow and log (tests/test_weight_math.cpp checks that over
// the range the pipeline feeds them); elsewhere the library computes them.
#pragma once

#include <cstdint>

// The weighting base M with ln M split into a high and a low double (ln M = ln_hi + ln_lo to
// about 100 bits), so that y x ln M can be formed without losing the bits that pow keeps.
struct WeightBase {
  double base;         // M
  double ln_hi;        // ln M rounded to a double (by IEEE operations alone for 1 < M <= 2)
  double ln_lo;        // the rest of ln M
  bool vector_exp_ok;  // ln M is known to that precision (1 < M <= 2); else pow is used
};

WeightBase weight_base_of(double m);

// out[k] = pow(M, y[k]) for count values (out may be y).
void weight_pow_many(const WeightBase& base, const double* y, double* out, int32_t count);
// out[k] = ln(x[k]) for count values (out may be x).
void log_many(const double* x, double* out, int32_t count);

// The vector routines alone, for the accuracy tests; callable only where
// weight_math_avx2_available() says so. Lanes the vector formulas do not cover (results near
// or beyond the limits of the double range, non-positive or subnormal logarithm arguments,
// infinities, not-a-numbers) are handed to the library, as in the dispatched functions above.
bool weight_math_avx2_available();
void weight_pow_many_avx2(const WeightBase& base, const double* y, double* out, int32_t count);
void log_many_avx2(const double* x, double* out, int32_t count);
// The same eight at a time (the formulas of the AVX-512 tile loops), where
// weight_math_avx512_available() says so (AVX-512 F and DQ besides AVX2 and FMA).
bool weight_math_avx512_available();
void weight_pow_many_avx512(const WeightBase& base, const double* y, double* out, int32_t count);
void log_many_avx512(const double* x, double* out, int32_t count);

// ln x to within 2^-40 (absolute) for the write-backs that round to integers, four or eight
// at a time where the path is available (out may be x). They are about twice as fast as
// log_many_*; not-a-number for every argument those would hand to the library.
void log_rough_many_avx2(const double* x, double* out, int32_t count);
void log_rough_many_avx512(const double* x, double* out, int32_t count);
