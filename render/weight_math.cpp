// ln M in double-double arithmetic, and the array routines of the weighting: the library's
// pow and log, or the AVX2 routines where the processor has them.
#include "render/weight_math.h"

#include <cmath>

namespace {

// Double-double arithmetic without fused multiply-add (exact products by Veltkamp's split),
// so the value does not depend on how a platform's fma is implemented.
struct DoubleDouble {
  double hi, lo;
};

DoubleDouble two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

DoubleDouble quick_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

DoubleDouble two_prod(double a, double b) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  const double ta = kSplit * a, tb = kSplit * b;
  const double ah = ta - (ta - a), al = a - ah;
  const double bh = tb - (tb - b), bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DoubleDouble add(DoubleDouble a, DoubleDouble b) {
  DoubleDouble s = two_sum(a.hi, b.hi);
  const DoubleDouble t = two_sum(a.lo, b.lo);
  s = quick_two_sum(s.hi, s.lo + t.hi);
  return quick_two_sum(s.hi, s.lo + t.lo);
}

DoubleDouble mul(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble p = two_prod(a.hi, b.hi);
  return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

DoubleDouble sub(DoubleDouble a, DoubleDouble b) { return add(a, {-b.hi, -b.lo}); }

DoubleDouble div(DoubleDouble a, DoubleDouble b) {
  const double q1 = a.hi / b.hi;
  DoubleDouble r = sub(a, mul(b, {q1, 0.0}));
  const double q2 = r.hi / b.hi;
  r = sub(r, mul(b, {q2, 0.0}));
  const double q3 = r.hi / b.hi;
  return add(quick_two_sum(q1, q2), {q3, 0.0});
}

}  // namespace

WeightBase weight_base_of(double m) {
  WeightBase w{m, std::log(m), 0.0, false};
  if (!(m > 1.0 && m <= 2.0)) return w;
  // ln M = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + ...), s = (M - 1) / (M + 1) <= 1/3. M - 1 is
  // exact for M in [1, 2].
  const DoubleDouble s = div({m - 1.0, 0.0}, two_sum(m, 1.0));
  const DoubleDouble s2 = mul(s, s);
  DoubleDouble power = s;
  DoubleDouble sum = s;
  for (int k = 1; k < 80; ++k) {
    power = mul(power, s2);
    const DoubleDouble term = div(power, {2.0 * k + 1.0, 0.0});
    sum = add(sum, term);
    if (std::fabs(term.hi) < 1e-40 * std::fabs(sum.hi)) break;
  }
  w.ln_hi = 2.0 * sum.hi;
  w.ln_lo = 2.0 * sum.lo;
  w.vector_exp_ok = true;
  return w;
}

void weight_pow_many(const WeightBase& base, const double* y, double* out, int32_t count) {
  if (base.vector_exp_ok && weight_math_avx2_available()) {
    weight_pow_many_avx2(base, y, out, count);
    return;
  }
  for (int32_t k = 0; k < count; ++k) out[k] = std::pow(base.base, y[k]);
}

void log_many(const double* x, double* out, int32_t count) {
  if (weight_math_avx2_available()) {
    log_many_avx2(x, out, count);
    return;
  }
  for (int32_t k = 0; k < count; ++k) out[k] = std::log(x[k]);
}

bool weight_math_avx2_available() {
#if defined(__GNUC__) && defined(__x86_64__)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}
