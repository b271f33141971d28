// Accuracy of the weighting's own transcendentals against the C++ library: pow(M, y) over the
// bases and exponents the float pipeline feeds (the exponent 255 v runs from hugely negative,
// for negative colours, up to 255 x the float cap, where y ln M = 32.87...), and ln over the
// whole double range (the write-back takes the log of blurred, alpha-normalised values),
// densely near 1 and at the edge values. Within 2 ulp, and the library's own answer for
// zero, negative, subnormal, infinite and not-a-number inputs.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "render/weight_math.h"

namespace {

// Distance in units in the last place: the number of doubles between a and b.
uint64_t ulp_distance(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
  if (a == b) return 0;
  auto ordered = [](double v) {
    int64_t i;
    std::memcpy(&i, &v, sizeof i);
    return i < 0 ? INT64_MIN - i : i;  // monotonic in v across the sign
  };
  const int64_t ia = ordered(a), ib = ordered(b);
  return ia > ib ? static_cast<uint64_t>(ia) - static_cast<uint64_t>(ib)
                 : static_cast<uint64_t>(ib) - static_cast<uint64_t>(ia);
}

struct Worst {
  uint64_t ulp = 0;
  double at = 0.0, got = 0.0, want = 0.0;
};

// Runs the routine over the samples (in odd-sized batches, so the padded tail is exercised
// too), into another array and in place (as the tile loops call it), and returns the worst
// distance from the library.
template <typename Routine, typename Library>
Worst worst_against(const std::vector<double>& samples, Routine routine, Library library) {
  std::vector<double> got(samples.size());
  std::vector<double> in_place = samples;
  for (size_t start = 0; start < samples.size(); start += 1021) {
    const size_t count = std::min<size_t>(1021, samples.size() - start);
    routine(samples.data() + start, got.data() + start, static_cast<int32_t>(count));
    routine(in_place.data() + start, in_place.data() + start, static_cast<int32_t>(count));
  }
  Worst w;
  for (size_t k = 0; k < samples.size(); ++k) {
    const double want = library(samples[k]);
    for (double result : {got[k], in_place[k]}) {
      const uint64_t d = ulp_distance(result, want);
      if (d > w.ulp) w = {d, samples[k], result, want};
    }
  }
  return w;
}

std::vector<double> log_samples() {
  std::vector<double> x;
  std::mt19937_64 rng(77);
  // Every binade of the normal range, random mantissas.
  std::uniform_real_distribution<double> mantissa(1.0, 2.0);
  for (int e = -1022; e <= 1023; ++e) {
    for (int k = 0; k < 200; ++k) x.push_back(std::ldexp(mantissa(rng), e));
  }
  // The range the write-back meets most: blurred weighted values over alpha fractions.
  std::uniform_real_distribution<double> exponent(-40.0, 60.0);
  for (int k = 0; k < 400000; ++k) x.push_back(std::exp(exponent(rng)));
  // Around 1 from both sides, where the logarithm itself goes to 0: the nearest neighbours
  // and a geometric sweep of distances.
  for (int k = -20000; k <= 20000; ++k) x.push_back(1.0 + k * DBL_EPSILON);
  for (double d = 1e-16; d < 0.05; d *= 1.001) {
    x.push_back(1.0 + d);
    x.push_back(1.0 - d);
  }
  // Both sides of every table slot edge (mantissa top bits) and of powers of two.
  for (int slot = 0; slot <= 128; ++slot) {
    const double edge = 1.0 + slot / 128.0;
    for (double v : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 4.0)}) {
      x.push_back(v);
      x.push_back(v / 2);
      x.push_back(std::ldexp(v, 700));
      x.push_back(std::ldexp(v, -700));
    }
  }
  // Edge values, handed to the library.
  for (double v :
       {0.0, -0.0, -1.0, -DBL_MAX, DBL_MIN, std::nextafter(DBL_MIN, 0.0), DBL_TRUE_MIN, DBL_MAX,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), 1.0, 2.0, 0.5}) {
    x.push_back(v);
  }
  return x;
}

class WeightMath : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!weight_math_avx2_available()) GTEST_SKIP() << "no AVX2 + FMA on this processor";
  }
};

TEST_F(WeightMath, LogWithinTwoUlpOfTheLibraryEverywhere) {
  const std::vector<double> x = log_samples();
  const Worst w = worst_against(x, log_many_avx2, [](double v) { return std::log(v); });
  EXPECT_LE(w.ulp, 2u) << "ln(" << w.at << ") = " << w.got << ", library " << w.want;
}

// The eight-lane formulas of the AVX-512 tile loops, to the same bound.
class WeightMath512 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!weight_math_avx512_available()) GTEST_SKIP() << "no AVX-512 on this processor";
  }
};

TEST_F(WeightMath512, LogWithinTwoUlpOfTheLibraryEverywhere) {
  std::vector<double> x = log_samples();
  // Both sides of the sixteen slot edges of m in [0.75, 1.5) and of 1.5 itself.
  for (int slot = 0; slot <= 16; ++slot) {
    const double edge = 0.75 + slot * 3.0 / 64.0;
    for (double v : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 4.0)}) {
      x.push_back(v);
      x.push_back(std::ldexp(v, 600));
      x.push_back(std::ldexp(v, -600));
    }
  }
  const Worst w = worst_against(x, log_many_avx512, [](double v) { return std::log(v); });
  EXPECT_LE(w.ulp, 2u) << "ln(" << w.at << ") = " << w.got << ", library " << w.want;
}

// The rough logarithm of the integer write-backs: within 2^-40 of the library's (absolutely)
// wherever the full one would not ask the library, and not a number wherever it would (the
// write-back then takes the full one), on both vector widths.
TEST_F(WeightMath, RoughLogWithinTwoToTheMinusFortyOrNotANumber) {
  const std::vector<double> x = log_samples();
  using Routine = void (*)(const double*, double*, int32_t);
  for (Routine routine : {log_rough_many_avx2, log_rough_many_avx512}) {
    if (routine == log_rough_many_avx512 && !weight_math_avx512_available()) continue;
    std::vector<double> got(x.size());
    for (size_t start = 0; start < x.size(); start += 1021) {
      const size_t count = std::min<size_t>(1021, x.size() - start);
      routine(x.data() + start, got.data() + start, static_cast<int32_t>(count));
    }
    double worst = 0.0;
    double at = 0.0;
    for (size_t k = 0; k < x.size(); ++k) {
      if (x[k] >= DBL_MIN && x[k] <= DBL_MAX) {
        const double error = std::fabs(got[k] - std::log(x[k]));
        if (!(error <= worst)) {
          worst = error;
          at = x[k];
        }
      } else {
        EXPECT_TRUE(std::isnan(got[k])) << "ln(" << x[k] << ") = " << got[k];
      }
    }
    EXPECT_LE(worst, 0x1p-40) << "at " << at
                              << (routine == log_rough_many_avx2 ? " (four lanes)"
                                                                 : " (eight lanes)");
  }
}

// The bases Weight 0.01 to 10 gives, and awkward ones in between.
const double kBases[] = {1.0001,
                         1.005,
                         1.01,
                         1.02,
                         1.0345,
                         1.05,
                         1.073,
                         1.09,
                         1.1,
                         1.0 + 0x1p-30,
                         std::nextafter(1.1, 0.0)};

TEST_F(WeightMath, PowWithinTwoUlpOfTheLibraryOverThePipelinesExponents) {
  std::mt19937_64 rng(91);
  for (double m : kBases) {
    const WeightBase base = weight_base_of(m);
    ASSERT_TRUE(base.vector_exp_ok);
    const double cap = 0.12890625 / std::log(m);
    std::vector<double> y;
    // Dense in y ln M from beyond the underflow edge up to the cap's 32.87...
    std::uniform_real_distribution<double> x(-760.0, 255.0 * 0.12890625);
    for (int k = 0; k < 150000; ++k) y.push_back(x(rng) / base.ln_hi);
    // ... dense where most pixels lie (colours 0 to 1.5, as 255 v) ...
    std::uniform_real_distribution<double> colour(-0.5, 1.5);
    for (int k = 0; k < 50000; ++k) y.push_back(255.0 * colour(rng));
    // ... and the exact values: 0 (transparent), whole 8-bit steps, the cap itself, the
    // largest negative float colour, the range limits of the table path.
    for (int c = 0; c <= 255; ++c) y.push_back(c);
    for (double v : {0.0, -0.0, 255.0 * cap, 255.0 * static_cast<double>(-FLT_MAX),
                     -707.0 / base.ln_hi, -708.0 / base.ln_hi, 709.0 / base.ln_hi}) {
      y.push_back(v);
    }
    const Worst w = worst_against(
        y,
        [&](const double* in, double* out, int32_t n) { weight_pow_many_avx2(base, in, out, n); },
        [&](double v) { return std::pow(m, v); });
    EXPECT_LE(w.ulp, 2u) << "pow(" << m << ", " << w.at << ") = " << w.got << ", library "
                         << w.want;
    if (!weight_math_avx512_available()) continue;
    const Worst w8 = worst_against(
        y,
        [&](const double* in, double* out, int32_t n) { weight_pow_many_avx512(base, in, out, n); },
        [&](double v) { return std::pow(m, v); });
    EXPECT_LE(w8.ulp, 2u) << "eight lanes: pow(" << m << ", " << w8.at << ") = " << w8.got
                          << ", library " << w8.want;
  }
}

TEST(WeightBase, LnOfTheBaseCarriesItsLowBits) {
  // ln of the doubles nearest 1.02, 1.1 and 1.0001, worked out to 50 digits and split.
  struct Case {
    double m, hi, lo;
  } cases[] = {{1.02, 0x1.44723d272a7f6p-6, 0x1.884f6afd37278p-61},
               {1.1, 0x1.8663f793c46ccp-4, 0x1.b55a66e0b30efp-58},
               {1.0001, 0x1.a368d0657fcd4p-14, 0x1.06cf0548782dfp-69}};
  for (const Case& c : cases) {
    const WeightBase w = weight_base_of(c.m);
    EXPECT_TRUE(w.vector_exp_ok);
    EXPECT_EQ(w.ln_hi, c.hi) << c.m;
    // The low part to within a few units of its own last place (2^-100 of ln M or better).
    EXPECT_NEAR(w.ln_lo, c.lo, std::fabs(c.lo) * 1e-12) << c.m;
  }
  // Outside (1, 2] the library's pow is used throughout.
  EXPECT_FALSE(weight_base_of(1.0).vector_exp_ok);
  EXPECT_FALSE(weight_base_of(3.0).vector_exp_ok);
}

TEST(WeightMathDispatch, ArrayRoutinesAgreeWithTheLibraryWhicheverPathRuns) {
  const WeightBase base = weight_base_of(1.05);
  std::vector<double> y, x;
  for (int k = -300; k <= 700; ++k) y.push_back(k * 0.37);
  for (int k = 1; k <= 1001; ++k) x.push_back(k * 1.7e-3);
  std::vector<double> pow_out(y.size()), log_out(x.size());
  weight_pow_many(base, y.data(), pow_out.data(), static_cast<int32_t>(y.size()));
  log_many(x.data(), log_out.data(), static_cast<int32_t>(x.size()));
  for (size_t k = 0; k < y.size(); ++k) {
    ASSERT_LE(ulp_distance(pow_out[k], std::pow(1.05, y[k])), 2u) << y[k];
  }
  for (size_t k = 0; k < x.size(); ++k) {
    ASSERT_LE(ulp_distance(log_out[k], std::log(x[k])), 2u) << x[k];
  }
  // A base the vector formulas do not take is the library's pow exactly.
  const WeightBase wide = weight_base_of(7.0);
  weight_pow_many(wide, y.data(), pow_out.data(), static_cast<int32_t>(y.size()));
  for (size_t k = 0; k < y.size(); ++k) ASSERT_EQ(pow_out[k], std::pow(7.0, y[k])) << y[k];
}

}  // namespace
