// sin and cos for the FFT's twiddle table, computed with basic IEEE operations only, so the
// table holds the same bits on every platform. The C libraries' versions differ in the last
// bit for some arguments (mingw-w64 evaluates them on the x87 unit, glibc does not; at 1024
// points a few twiddles differ), and the highlight weighting, which multiplies bright
// values by up to 1e8 before the transforms, spreads such a difference into visible
// differences between the Linux and the Windows renders. Both stay within one unit in the
// last place of glibc's results.
//
// cos carries its leading part as an unevaluated sum hi + lo (double-double): Dekker's exact
// product and Knuth's exact sum need no fused multiply-add. The same bits come out wherever
// the same operations are compiled the same way (the module is built without -march flags,
// so nothing is contracted into fused multiply-adds on either platform).
#pragma once

#include <cmath>

namespace portable_math_detail {

struct DoubleDouble {
  double hi, lo;
};

inline DoubleDouble two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

inline DoubleDouble two_product(double a, double b) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  double t = kSplit * a;
  const double a_hi = t - (t - a), a_lo = a - a_hi;
  t = kSplit * b;
  const double b_hi = t - (t - b), b_lo = b - b_hi;
  return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

// (-1)^(n/2) / n!, the Taylor coefficient of x^n in sin (odd n) and cos (even n), worked out
// by the compiler.
struct SignedInverseFactorials {
  double c[21];
};

constexpr SignedInverseFactorials make_signed_inverse_factorials() {
  SignedInverseFactorials t{};
  double factorial = 1.0;
  for (int n = 0; n <= 20; ++n) {
    if (n > 1) factorial *= n;
    t.c[n] = ((n / 2) % 2 == 0 ? 1.0 : -1.0) / factorial;
  }
  return t;
}

inline constexpr SignedInverseFactorials kTaylor = make_signed_inverse_factorials();

constexpr double kQuarterPi = 0.78539816339744830962;

}  // namespace portable_math_detail

// sin x for |x| <= pi/4, the octant the twiddle table is computed in; beyond it, the C
// library's.
inline double portable_sin(double x) {
  using namespace portable_math_detail;
  if (!(std::fabs(x) <= kQuarterPi)) return std::sin(x);
  // sin x = x + x^3 (-1/3! + x^2/5! - ...), to x^19 (|x|^21/21! < 2^-70 here).
  const double z = x * x;
  double series = 0.0;
  for (int n = 19; n >= 3; n -= 2) series = kTaylor.c[n] + z * series;
  return x + x * z * series;
}

// cos x for |x| <= pi/4; beyond it, the C library's.
inline double portable_cos(double x) {
  using namespace portable_math_detail;
  if (!(std::fabs(x) <= kQuarterPi)) return std::cos(x);
  // cos x = 1 - x^2/2 + x^4 (1/4! - x^2/6! + ...), to x^20; the leading part in double-double.
  const DoubleDouble z = two_product(x, x);
  double series = 0.0;
  for (int n = 20; n >= 4; n -= 2) series = kTaylor.c[n] + z.hi * series;
  const DoubleDouble lead = two_sum(1.0, -0.5 * z.hi);
  return lead.hi + (lead.lo - 0.5 * z.lo + z.hi * z.hi * series);
}
