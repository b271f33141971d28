// Checks fft_2d against a direct DFT, its work-array and table rules, and swap_quadrants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "fft/fft2d.h"
#include "fft/fft_kernels.h"
#include "tests/fft_emulated_wide.h"
#include "tests/spectrum_column.h"

namespace {

using cld = std::complex<long double>;
constexpr double kSentinel = -12345.678;
constexpr long double kPi = 3.141592653589793238462643383279502884L;

// exp(s 2 pi i k / n) with k reduced first, so the reference stays accurate for large k.
cld unit_root(int64_t k, int64_t n, int s) {
  const long double a = 2 * kPi * static_cast<long double>(((k % n) + n) % n) / n;
  return {std::cos(a), s * std::sin(a)};
}

// An m x n plane whose rows lie in shuffled order in one block, each followed by padding
// that must stay untouched.
struct Plane {
  int32_t m, n, pad;
  std::vector<double> store;
  std::vector<double*> rows;
  std::vector<double*> rows_copy;

  Plane(int32_t m_, int32_t n_, uint32_t seed, int32_t pad_ = 3, bool shuffle = true)
      : m(m_), n(n_), pad(pad_), store(static_cast<size_t>(m_) * (2 * n_ + pad_), kSentinel) {
    std::vector<int32_t> order(m);
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 rng(seed);
    if (shuffle) std::shuffle(order.begin(), order.end(), rng);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t r = 0; r < m; ++r) {
      rows.push_back(store.data() + static_cast<size_t>(order[r]) * (2 * n + pad));
      for (int32_t c = 0; c < 2 * n; ++c) rows[r][c] = u(rng);
    }
    rows_copy = rows;
  }
  cld at(int32_t r, int32_t c) const { return {rows[r][2 * c], rows[r][2 * c + 1]}; }
  std::vector<cld> values() const {
    std::vector<cld> v;
    for (int32_t r = 0; r < m; ++r)
      for (int32_t c = 0; c < n; ++c) v.push_back(at(r, c));
    return v;
  }
  bool padding_intact() const {
    for (int32_t r = 0; r < m; ++r)
      for (int32_t c = 2 * n; c < 2 * n + pad; ++c)
        if (rows[r][c] != kSentinel) return false;
    return true;
  }
};

// Work arrays sized as the render sizes them for a D x D plane, plus a guard zone.
struct Work {
  std::vector<int32_t> work;
  std::vector<double> table;
  size_t work_len, table_len;
  explicit Work(int32_t d)
      : work_len(2 + static_cast<size_t>(std::floor(std::sqrt(d + 0.5)))),
        table_len(static_cast<size_t>(d / 2 + 2 * d)) {
    work.assign(work_len + 8, -777);
    work[0] = 0;
    table.assign(table_len + 64, kSentinel);
  }
  bool guards_intact() const {
    for (size_t i = work_len; i < work.size(); ++i)
      if (work[i] != -777) return false;
    for (size_t i = table_len; i < table.size(); ++i)
      if (table[i] != kSentinel) return false;
    return true;
  }
};

// Plain separable DFT in long double: along every row, then down every column.
std::vector<cld> direct_dft(const std::vector<cld>& x, int32_t m, int32_t n, int s) {
  std::vector<cld> t(x.size()), y(x.size());
  for (int32_t r = 0; r < m; ++r)
    for (int32_t k = 0; k < n; ++k) {
      cld acc = 0;
      for (int32_t j = 0; j < n; ++j) acc += x[r * n + j] * unit_root(int64_t{j} * k, n, s);
      t[r * n + k] = acc;
    }
  for (int32_t c = 0; c < n; ++c)
    for (int32_t k = 0; k < m; ++k) {
      cld acc = 0;
      for (int32_t j = 0; j < m; ++j) acc += t[j * n + c] * unit_root(int64_t{j} * k, m, s);
      y[k * n + c] = acc;
    }
  return y;
}

// Relative L2 error and largest error relative to the reference's RMS.
void expect_close(const std::vector<cld>& got, const std::vector<cld>& want, double tol) {
  long double err2 = 0, ref2 = 0, worst = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    err2 += std::norm(got[i] - want[i]);
    ref2 += std::norm(want[i]);
    worst = std::max(worst, std::abs(got[i] - want[i]));
  }
  const long double rms = std::sqrt(ref2 / want.size());
  EXPECT_LE(std::sqrt(err2 / ref2), tol);
  EXPECT_LE(worst / rms, 10 * tol);
}

void run(Plane& p, int32_t sign, Work& w) {
  fft_2d(p.m, 2 * p.n, sign, p.rows.data(), w.work.data(), w.table.data());
}

// Every instruction-set variant this machine can run; each must meet the same definition.
std::vector<FftPath> paths() {
  std::vector<FftPath> out;
  for (FftPath p : {FftPath::portable, FftPath::avx2, FftPath::avx512})
    if (fft_path_available(p)) out.push_back(p);
  return out;
}

void run_on(FftPath path, Plane& p, int32_t sign, Work& w) {
  fft_2d_on(path, p.m, 2 * p.n, sign, p.rows.data(), w.work.data(), w.table.data());
}

TEST(Fft2d, EveryShapeUpTo64MatchesDirectDftOnEveryPath) {
  ASSERT_TRUE(fft_path_available(FftPath::portable));
  for (int32_t m = 1; m <= 64; m *= 2) {
    for (int32_t n = 1; n <= 64; n *= 2) {
      for (int32_t sign : {1, -1, 0, -5, 9}) {
        const uint32_t seed = static_cast<uint32_t>(m * 1000 + n * 10 + sign + 20);
        const auto want = direct_dft(Plane(m, n, seed).values(), m, n, sign >= 0 ? 1 : -1);
        for (FftPath path : paths()) {
          SCOPED_TRACE(testing::Message() << m << " x " << n << " sign " << sign << " path "
                                          << static_cast<int>(path));
          Plane p(m, n, seed);
          Work w(std::max(m, n));
          run_on(path, p, sign, w);
          expect_close(p.values(), want, 1e-14);
          EXPECT_TRUE(p.padding_intact());
          EXPECT_EQ(p.rows, p.rows_copy);
          EXPECT_TRUE(w.guards_intact());
        }
      }
    }
  }
}

TEST(Fft2d, WorkedValues) {
  // A unit value at column 1 of a 1 x 4 plane.
  for (int32_t sign : {1, -1}) {
    Plane p(1, 4, 1, 0);
    std::fill(p.store.begin(), p.store.end(), 0.0);
    p.rows[0][2] = 1.0;
    Work w(4);
    run(p, sign, w);
    const double want[8] = {1, 0, 0, 1.0 * sign, -1, 0, 0, -1.0 * sign};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.rows[0][i], want[i]) << i;
  }
  // A constant plane gathers m x n x v at (0, 0) and nothing elsewhere.
  Plane p(8, 32, 2);
  for (int32_t r = 0; r < 8; ++r)
    for (int32_t c = 0; c < 32; ++c) {
      p.rows[r][2 * c] = 0.25;
      p.rows[r][2 * c + 1] = -1.5;
    }
  Work w(32);
  run(p, -1, w);
  EXPECT_NEAR(p.rows[0][0], 64.0, 1e-12);
  EXPECT_NEAR(p.rows[0][1], -384.0, 1e-12);
  for (int32_t r = 0; r < 8; ++r)
    for (int32_t c = (r == 0); c < 32; ++c) EXPECT_NEAR(std::abs(p.at(r, c)), 0.0, 1e-12);
}

// Large squares: a few bins by direct summation over the whole plane, and the round trip.
TEST(Fft2d, LargeSquaresSpotChecksAndRoundTripOnEveryPath) {
  for (int32_t n : {256, 512, 1024}) {
    const auto input = Plane(n, n, static_cast<uint32_t>(n), 0, false).values();
    std::mt19937 rng(n + 1);
    std::vector<std::pair<int32_t, int32_t>> bins = {{0, n - 1}};
    for (int t = 0; t < 3; ++t)
      bins.push_back({static_cast<int32_t>(rng() % n), static_cast<int32_t>(rng() % n)});
    std::vector<cld> want;
    for (auto [k1, k2] : bins) {
      std::vector<cld> row_root(n);
      for (int32_t j = 0; j < n; ++j) row_root[j] = unit_root(int64_t{j} * k2, n, 1);
      cld acc = 0;
      for (int32_t j1 = 0; j1 < n; ++j1) {
        cld part = 0;
        for (int32_t j2 = 0; j2 < n; ++j2) part += input[j1 * n + j2] * row_root[j2];
        acc += part * unit_root(int64_t{j1} * k1, n, 1);
      }
      want.push_back(acc);
    }
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << n << " on path " << static_cast<int>(path));
      Plane p(n, n, static_cast<uint32_t>(n), 0, false);
      Work w(n);
      run_on(path, p, 1, w);
      EXPECT_EQ(w.work[0], n / 2);
      for (size_t b = 0; b < bins.size(); ++b) {
        EXPECT_LE(std::abs(p.at(bins[b].first, bins[b].second) - want[b]), 1e-13 * n)
            << bins[b].first << ", " << bins[b].second;
      }
      run_on(path, p, -1, w);
      auto back = p.values();
      for (auto& v : back) v /= static_cast<long double>(n) * n;
      expect_close(back, input, 1e-15 * std::log2(n));
      EXPECT_TRUE(w.guards_intact());
    }
  }
}

// A band of rows, the rest zero (a kernel centred in its plane): the band transform must
// give the DFT, and the values the plain transform gives, on every path, whichever rows of
// the bit-reversal pairs the band holds (one of a pair, both, a band that wraps round the
// last row, a single row, every row).
TEST(Fft2dBand, RowsOutsideTheBandAreTakenAsZeroOnEveryPath) {
  struct Shape {
    int32_t m, n;
  };
  struct Band {
    int32_t first, count;
  };
  for (const Shape shape : {Shape{64, 64}, Shape{128, 16}, Shape{16, 256}, Shape{512, 8}}) {
    const int32_t m = shape.m, n = shape.n;
    for (const Band band :
         {Band{m / 2 - 3, 7}, Band{m - 2, 5}, Band{5, 1}, Band{0, m}, Band{m / 4, m / 2}}) {
      Plane input(m, n, static_cast<uint32_t>(m + 7 * n + band.first));
      for (int32_t r = 0; r < m; ++r) {
        if (((r - band.first) & (m - 1)) >= band.count) std::fill_n(input.rows[r], 2 * n, 0.0);
      }
      for (int32_t sign : {1, -1}) {
        const auto want = direct_dft(input.values(), m, n, sign);
        for (FftPath path : paths()) {
          SCOPED_TRACE(testing::Message()
                       << m << " x " << n << " band " << band.first << " + " << band.count
                       << " sign " << sign << " path " << static_cast<int>(path));
          Plane banded = input, plain = input;
          banded.rows = banded.rows_copy = plain.rows = plain.rows_copy = {};
          for (int32_t r = 0; r < m; ++r) {
            banded.rows.push_back(banded.store.data() + (input.rows[r] - input.store.data()));
            plain.rows.push_back(plain.store.data() + (input.rows[r] - input.store.data()));
          }
          Work wb(std::max(m, n)), wp(std::max(m, n));
          FftOptions options;
          options.band_first = band.first;
          options.band_count = band.count;
          fft_2d_with(path, m, 2 * n, sign, banded.rows.data(), options, wb.work.data(),
                      wb.table.data());
          fft_2d_on(path, m, 2 * n, sign, plain.rows.data(), wp.work.data(), wp.table.data());
          expect_close(banded.values(), want, 1e-14);
          int64_t differing = 0;
          for (int32_t r = 0; r < m; ++r) {
            for (int32_t c = 0; c < 2 * n; ++c) differing += banded.rows[r][c] != plain.rows[r][c];
          }
          EXPECT_EQ(differing, 0);
          EXPECT_TRUE(banded.padding_intact());
        }
      }
    }
  }
}

// An m x n plane of the given values whose first row starts `offset` complex values (16
// bytes each) past a cache line, the rows back to back.
struct PlaneAt {
  std::vector<double> store;
  std::vector<double*> rows;
  PlaneAt(const std::vector<cld>& values, int32_t m, int32_t n, int32_t offset)
      : store(2 * static_cast<size_t>(m) * n + 16) {
    const auto line = reinterpret_cast<uintptr_t>(store.data());
    double* base = store.data() + ((64 - line % 64) % 64) / 8 + 2 * offset;
    for (int32_t r = 0; r < m; ++r) {
      rows.push_back(base + 2 * static_cast<size_t>(n) * r);
      for (int32_t c = 0; c < n; ++c) {
        rows[r][2 * c] = static_cast<double>(values[r * n + c].real());
        rows[r][2 * c + 1] = static_cast<double>(values[r * n + c].imag());
      }
    }
  }
  std::vector<double> row_values(const std::vector<double*>& order, int32_t n) const {
    std::vector<double> v;
    for (const double* row : order) v.insert(v.end(), row, row + 2 * n);
    return v;
  }
};

// Rows evenly spaced in one block that starts 0, 16, 32 or 48 bytes into a cache line, as a
// plain allocator hands them out: the vector paths split their columns around the line
// boundaries. 512 x 128 is big enough for whole-plane passes besides the in-cache ones.
TEST(Fft2d, EveryCacheLineOffsetOnEveryPath) {
  const int32_t m = 512, n = 128;
  const auto input = Plane(m, n, 77, 0, false).values();
  const std::pair<int32_t, int32_t> bins[] = {{0, 0}, {1, 127}, {300, 5}, {511, 64}};
  std::vector<cld> want;
  for (auto [k1, k2] : bins) {
    cld acc = 0;
    for (int32_t j1 = 0; j1 < m; ++j1)
      for (int32_t j2 = 0; j2 < n; ++j2)
        acc += input[j1 * n + j2] *
               unit_root(int64_t{j1} * k1 * n + int64_t{j2} * k2 * m, int64_t{m} * n, -1);
    want.push_back(acc);
  }
  for (FftPath path : paths()) {
    for (int32_t offset = 0; offset < 4; ++offset) {
      SCOPED_TRACE(testing::Message()
                   << "offset " << 16 * offset << " path " << static_cast<int>(path));
      PlaneAt plane(input, m, n, offset);
      std::vector<double*>& rows = plane.rows;
      Work w(m);
      fft_2d_on(path, m, 2 * n, -1, rows.data(), w.work.data(), w.table.data());
      for (size_t b = 0; b < std::size(bins); ++b) {
        const auto [k1, k2] = bins[b];
        EXPECT_LE(std::abs(cld(rows[k1][2 * k2], rows[k1][2 * k2 + 1]) - want[b]), 1e-11)
            << k1 << ", " << k2;
      }
      fft_2d_on(path, m, 2 * n, 1, rows.data(), w.work.data(), w.table.data());
      long double worst = 0;
      for (int32_t r = 0; r < m; ++r)
        for (int32_t c = 0; c < n; ++c)
          worst = std::max(worst, std::abs(cld(rows[r][2 * c], rows[r][2 * c + 1]) /
                                               static_cast<long double>(m * n) -
                                           input[r * n + c]));
      EXPECT_LE(worst, 1e-14);
    }
  }
}

TEST(Fft2d, TableBuiltOnceAndOnlyForLargerSizes) {
  Work w(256);
  {
    Plane p(4, 4, 3);
    w.work[1] = 0;
    run(p, 1, w);
    EXPECT_EQ(w.work[0], 2);
    EXPECT_EQ(w.work[1], 1);
    for (double v : w.table) EXPECT_EQ(v, kSentinel);
  }
  {
    Work w2(2);
    Plane p(2, 2, 4);
    run(p, 1, w2);
    EXPECT_EQ(w2.work[0], 1);
    EXPECT_EQ(w2.work[1], 1);
  }
  // 128 x 128 builds for 128; 16 x 16 and 1 x 128 reuse it (entry 1, which only a build
  // sets, stays as we left it); 256 x 256 rebuilds.
  Plane big(128, 128, 5);
  run(big, 1, w);
  EXPECT_EQ(w.work[0], 64);
  EXPECT_EQ(w.work[1], 1);
  w.work[1] = 42;
  for (auto [m, n] : {std::pair{16, 16}, std::pair{1, 128}, std::pair{64, 2}}) {
    Plane p(m, n, 6);
    const auto want = direct_dft(p.values(), m, n, -1);
    run(p, -1, w);
    expect_close(p.values(), want, 1e-14);
    EXPECT_EQ(w.work[0], 64);
    EXPECT_EQ(w.work[1], 42);
  }
  Plane huge(256, 256, 7);
  const auto input = huge.values();
  run(huge, 1, w);
  EXPECT_EQ(w.work[0], 128);
  EXPECT_EQ(w.work[1], 1);
  run(huge, -1, w);
  auto back = huge.values();
  for (auto& v : back) v /= 256.0L * 256.0L;
  expect_close(back, input, 1e-14);
  EXPECT_TRUE(w.guards_intact());
}

// Rows of the 2-D DFT of x (m x n, long double), each from the DFTs of all input rows: the
// reference for the transforms that compute only some rows.
std::vector<std::vector<cld>> direct_dft_rows(const std::vector<cld>& x, int32_t m, int32_t n,
                                              int s, const std::vector<int32_t>& wanted) {
  std::vector<cld> along(x.size());
  for (int32_t r = 0; r < m; ++r)
    for (int32_t k = 0; k < n; ++k) {
      cld acc = 0;
      for (int32_t j = 0; j < n; ++j) acc += x[r * n + j] * unit_root(int64_t{j} * k, n, s);
      along[r * n + k] = acc;
    }
  std::vector<std::vector<cld>> out;
  for (int32_t k : wanted) {
    std::vector<cld> row(n);
    for (int32_t j = 0; j < m; ++j) {
      const cld w = unit_root(int64_t{j} * k, m, s);
      for (int32_t c = 0; c < n; ++c) row[c] += along[j * n + c] * w;
    }
    out.push_back(row);
  }
  return out;
}

// The transform followed by a product with another plane equals the DFT times that plane,
// on every path and for both signs; the product is that of the plain transform's own
// result within the rounding of a complex multiply (one rounding per real product and sum).
TEST(Fft2dTimes, IsTheTransformTimesTheFactorWithinOneProductsRounding) {
  for (auto [m, n] : {std::pair{1, 8}, std::pair{2, 2}, std::pair{8, 4}, std::pair{32, 32},
                      std::pair{64, 16}, std::pair{512, 128}}) {
    for (FftPath path : paths()) {
      for (int32_t sign : {1, -1}) {
        SCOPED_TRACE(testing::Message()
                     << m << " x " << n << " path " << static_cast<int>(path) << " sign " << sign);
        Plane p(m, n, static_cast<uint32_t>(m * 31 + n)), factor(m, n, 99);
        Plane plain(m, n, static_cast<uint32_t>(m * 31 + n));
        Work w(std::max(m, n)), w_plain(std::max(m, n));
        FftOptions options;
        options.factor = factor.rows.data();
        fft_2d_with(path, m, 2 * n, sign, p.rows.data(), options, w.work.data(), w.table.data());
        run_on(path, plain, sign, w_plain);
        double worst_ulps = 0;
        for (int32_t r = 0; r < m; ++r)
          for (int32_t c = 0; c < n; ++c) {
            const long double a = plain.rows[r][2 * c], b = plain.rows[r][2 * c + 1];
            const long double fc = factor.rows[r][2 * c], fd = factor.rows[r][2 * c + 1];
            const long double size =
                std::fabs(a * fc) + std::fabs(b * fd) + std::fabs(a * fd) + std::fabs(b * fc);
            const long double re = p.rows[r][2 * c] - (a * fc - b * fd);
            const long double im = p.rows[r][2 * c + 1] - (a * fd + b * fc);
            worst_ulps = std::max(
                worst_ulps,
                static_cast<double>(std::max(std::fabs(re), std::fabs(im)) / (size * 0x1p-52L)));
          }
        EXPECT_LE(worst_ulps, 1.5);
        if (m * n <= 2048) {
          auto want =
              direct_dft(Plane(m, n, static_cast<uint32_t>(m * 31 + n)).values(), m, n, sign);
          const auto f = factor.values();
          for (size_t i = 0; i < want.size(); ++i) want[i] *= f[i];
          expect_close(p.values(), want, 1e-14);
        }
        EXPECT_TRUE(p.padding_intact());
        EXPECT_TRUE(w.guards_intact());
      }
    }
  }
}

// Two planes transformed together with one factor get what each gets alone, bit for bit,
// for shapes whose last pass is a whole-plane sweep, which the two share, and smaller ones.
TEST(Fft2dTimes, TwoPlanesTogetherAsEachAlone) {
  for (auto [m, n] :
       {std::pair{4, 4}, std::pair{64, 64}, std::pair{512, 64}, std::pair{256, 512}}) {
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << m << " x " << n << " path " << static_cast<int>(path));
      Plane a(m, n, 1), b(m, n, 2), a_alone(m, n, 1), b_alone(m, n, 2), factor(m, n, 3);
      Work w(std::max(m, n));
      FftOptions pair;
      pair.rows_b = b.rows.data();
      pair.factor = factor.rows.data();
      fft_2d_with(path, m, 2 * n, 1, a.rows.data(), pair, w.work.data(), w.table.data());
      FftOptions alone;
      alone.factor = factor.rows.data();
      fft_2d_with(path, m, 2 * n, 1, a_alone.rows.data(), alone, w.work.data(), w.table.data());
      fft_2d_with(path, m, 2 * n, 1, b_alone.rows.data(), alone, w.work.data(), w.table.data());
      EXPECT_EQ(a.values(), a_alone.values());
      EXPECT_EQ(b.values(), b_alone.values());
      EXPECT_TRUE(a.padding_intact() && b.padding_intact());
    }
  }
}

// A real factor (rows of the n real parts only) multiplies as the complex factor with zero
// imaginary parts does, on every path, for shapes whose product rides on a sweep, on a
// pass inside the blocks, or stands alone (one row), and for two planes at once. Its rows
// start at different places of rows with room for 2n values, unaligned too: the product
// takes them through their pointers wherever they lie. Each value is the plain transform's times
// its real, rounded once (both parts, whether the product is done as the last pass stores or
// afterwards), and where the plane is small enough, the DFT times the factor.
TEST(Fft2dTimes, RealFactorMultipliesAsItsComplexForm) {
  for (auto [m, n] : {std::pair{1, 8}, std::pair{2, 2}, std::pair{8, 4}, std::pair{32, 32},
                      std::pair{128, 256}, std::pair{512, 64}, std::pair{256, 512}}) {
    Plane complex_form(m, n, 21);
    std::vector<std::vector<double>> real_store(m, std::vector<double>(2 * n, kSentinel));
    std::vector<const double*> real_rows;
    for (int32_t r = 0; r < m; ++r) {
      double* reals = real_store[r].data() + (37 * r) % (n + 1);
      for (int32_t c = 0; c < n; ++c) {
        reals[c] = complex_form.rows[r][2 * c];
        complex_form.rows[r][2 * c + 1] = 0.0;
      }
      real_rows.push_back(reals);
    }
    std::vector<cld> want;
    if (m * n <= 32768 && m <= 128) {
      want = direct_dft(Plane(m, n, 22).values(), m, n, 1);
      const auto f = complex_form.values();
      for (size_t i = 0; i < want.size(); ++i) want[i] *= f[i];
    }
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << m << " x " << n << " path " << static_cast<int>(path));
      Plane a(m, n, 22), b(m, n, 23), a_complex(m, n, 22), b_complex(m, n, 23), a_plain(m, n, 22);
      Work w(std::max(m, n));
      FftOptions real;
      real.rows_b = b.rows.data();
      real.factor = real_rows.data();
      real.factor_real = true;
      fft_2d_with(path, m, 2 * n, 1, a.rows.data(), real, w.work.data(), w.table.data());
      FftOptions complex;
      complex.rows_b = b_complex.rows.data();
      complex.factor = complex_form.rows.data();
      fft_2d_with(path, m, 2 * n, 1, a_complex.rows.data(), complex, w.work.data(), w.table.data());
      run_on(path, a_plain, 1, w);
      EXPECT_EQ(a.values(), a_complex.values());
      EXPECT_EQ(b.values(), b_complex.values());
      int32_t not_once_rounded = 0;
      for (int32_t r = 0; r < m; ++r)
        for (int32_t c = 0; c < 2 * n; ++c)
          if (a.rows[r][c] != a_plain.rows[r][c] * real_rows[r][c / 2]) ++not_once_rounded;
      EXPECT_EQ(not_once_rounded, 0);
      if (!want.empty()) expect_close(a.values(), want, 1e-14);
      EXPECT_TRUE(a.padding_intact() && b.padding_intact());
    }
  }
}

// With result tables the rows stay where they are: each table names every row of its plane
// once, and the rows it names hold the same values, bit for bit, as the plain transform with
// the product leaves in place (whose values the tests above check against the DFT); the
// DFT directly where it is small. An inverse that takes the table as its row table computes
// what it computes from the plain transform's plane.
TEST(Fft2dTimes, ResultTablesNameTheRowsOfTheTransformsResult) {
  for (auto [m, n] : {std::pair{1, 8}, std::pair{2, 2}, std::pair{8, 4}, std::pair{64, 64},
                      std::pair{512, 64}, std::pair{256, 512}}) {
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << m << " x " << n << " path " << static_cast<int>(path));
      Plane a(m, n, 4), b(m, n, 5), a_plain(m, n, 4), b_plain(m, n, 5), factor(m, n, 6);
      Work w(std::max(m, n));
      std::vector<double*> result_a(m), result_b(m);
      FftOptions tables;
      tables.rows_b = b.rows.data();
      tables.factor = factor.rows.data();
      tables.result_a = result_a.data();
      tables.result_b = result_b.data();
      fft_2d_with(path, m, 2 * n, 1, a.rows.data(), tables, w.work.data(), w.table.data());
      FftOptions plain;
      plain.rows_b = b_plain.rows.data();
      plain.factor = factor.rows.data();
      fft_2d_with(path, m, 2 * n, 1, a_plain.rows.data(), plain, w.work.data(), w.table.data());
      EXPECT_TRUE(std::is_permutation(result_a.begin(), result_a.end(), a.rows.begin()));
      EXPECT_TRUE(std::is_permutation(result_b.begin(), result_b.end(), b.rows.begin()));
      EXPECT_EQ(a.rows, a.rows_copy);  // the caller's row table itself is not changed
      for (int32_t r = 0; r < m; ++r) {
        ASSERT_TRUE(std::equal(result_a[r], result_a[r] + 2 * n, a_plain.rows[r])) << "row " << r;
        ASSERT_TRUE(std::equal(result_b[r], result_b[r] + 2 * n, b_plain.rows[r])) << "row " << r;
      }
      if (m * n <= 4096) {
        auto want = direct_dft(Plane(m, n, 4).values(), m, n, 1);
        const auto f = factor.values();
        for (size_t i = 0; i < want.size(); ++i) want[i] *= f[i];
        Plane through(m, n, 4);
        through.rows = result_a;
        expect_close(through.values(), want, 1e-14);
      }
      std::vector<double*> back(m), back_plain(m);
      fft_2d_some_rows(m, 2 * n, -1, result_a.data(), back.data(), 0, m, w.work.data(),
                       w.table.data());
      fft_2d_some_rows(m, 2 * n, -1, a_plain.rows.data(), back_plain.data(), 0, m, w.work.data(),
                       w.table.data());
      for (int32_t r = 0; r < m; ++r) {
        ASSERT_TRUE(std::equal(back[r], back[r] + 2 * n, back_plain[r])) << "row " << r;
      }
      // The inverse may also rewrite the table it reads: the same values come out.
      Plane apart(m, n, 7), aliased(m, n, 7);
      std::vector<double*> apart_table(m), apart_out(m), aliased_table(m);
      fft_2d_pair_times(m, 2 * n, 1, apart.rows.data(), nullptr, factor.rows.data(), false,
                        apart_table.data(), nullptr, w.work.data(), w.table.data());
      fft_2d_some_rows(m, 2 * n, -1, apart_table.data(), apart_out.data(), 0, m, w.work.data(),
                       w.table.data());
      fft_2d_pair_times(m, 2 * n, 1, aliased.rows.data(), nullptr, factor.rows.data(), false,
                        aliased_table.data(), nullptr, w.work.data(), w.table.data());
      fft_2d_some_rows(m, 2 * n, -1, aliased_table.data(), aliased_table.data(), 0, m,
                       w.work.data(), w.table.data());
      for (int32_t r = 0; r < m; ++r) {
        ASSERT_TRUE(std::equal(aliased_table[r], aliased_table[r] + 2 * n, apart_out[r]))
            << "row " << r;
      }
      EXPECT_TRUE(a.padding_intact() && b.padding_intact());
    }
  }
}

// The transform that computes only some rows: every row asked for matches the DFT, found
// through the order it hands back, which names every row of the plane once; the start
// wraps round (and may be negative), a count beyond the plane means all of it.
TEST(Fft2dSomeRows, RowsAskedForMatchTheDftThroughTheOrderOnEveryPath) {
  struct Case {
    int32_t m, n, first, count;
  };
  for (const Case& t :
       {Case{1, 8, 0, 1}, Case{2, 4, 1, 1}, Case{16, 16, 12, 8}, Case{64, 32, -3, 10},
        Case{64, 8, 5, 200}, Case{32, 32, 7, 0}, Case{512, 128, 400, 212}}) {
    const auto input = Plane(t.m, t.n, 5, 0, false).values();
    const int32_t count = std::min(t.count, t.m);
    std::vector<int32_t> wanted;
    for (int32_t i = 0; i < count; ++i) wanted.push_back(((t.first + i) % t.m + t.m) % t.m);
    for (int32_t sign : {1, -1}) {
      const auto want = direct_dft_rows(input, t.m, t.n, sign, wanted);
      for (FftPath path : paths()) {
        SCOPED_TRACE(testing::Message()
                     << t.m << " x " << t.n << " from " << t.first << " count " << t.count
                     << " path " << static_cast<int>(path) << " sign " << sign);
        Plane p(t.m, t.n, 5);
        for (int32_t r = 0; r < t.m; ++r)
          for (int32_t c = 0; c < t.n; ++c) {
            p.rows[r][2 * c] = static_cast<double>(input[r * t.n + c].real());
            p.rows[r][2 * c + 1] = static_cast<double>(input[r * t.n + c].imag());
          }
        Work w(std::max(t.m, t.n));
        std::vector<double*> order(t.m + 1, nullptr);
        FftOptions options;
        options.order = order.data();
        options.first_row = t.first;
        options.row_count = t.count;
        fft_2d_with(path, t.m, 2 * t.n, sign, p.rows.data(), options, w.work.data(),
                    w.table.data());
        std::vector<double*> named(order.begin(), order.begin() + t.m), all = p.rows;
        std::sort(named.begin(), named.end());
        std::sort(all.begin(), all.end());
        EXPECT_EQ(named, all);
        EXPECT_EQ(order[t.m], nullptr);
        long double worst = 0, scale = 0;
        for (size_t i = 0; i < wanted.size(); ++i)
          for (int32_t c = 0; c < t.n; ++c) {
            const double* row = order[wanted[i]];
            worst = std::max(worst, std::abs(cld(row[2 * c], row[2 * c + 1]) - want[i][c]));
            scale = std::max(scale, std::abs(want[i][c]));
          }
        EXPECT_LE(worst, 1e-14 * std::max(scale, 1.0L)) << "largest error of a row asked for";
        EXPECT_TRUE(p.padding_intact());
        EXPECT_TRUE(w.guards_intact());
      }
    }
  }
}

// A shape the transform cannot do writes neither the plane nor the order.
TEST(Fft2dSomeRows, ShapesThatAreNotPowersOfTwoWriteNothing) {
  Plane p(8, 8, 11);
  const auto before = p.values();
  Work w(8);
  std::vector<double*> order(8, nullptr);
  fft_2d_some_rows(6, 16, 1, p.rows.data(), order.data(), 0, 6, w.work.data(), w.table.data());
  EXPECT_EQ(p.values(), before);
  EXPECT_EQ(order, std::vector<double*>(8, nullptr));
  fft_2d_some_rows(8, 16, 1, p.rows.data(), nullptr, 0, 8, w.work.data(), w.table.data());
  EXPECT_EQ(p.values(), before);
}

// ----- The filter: forward transform, product, inverse ------------------------------------

// A filter of a few taps: h at row offset dr, column offset dc.
struct Tap {
  int32_t dr, dc;
  cld h;
};

// Its spectrum as the forward transform (sign +1) gives it, worked out from the taps.
std::vector<cld> tap_spectrum(const std::vector<Tap>& taps, int32_t m, int32_t n) {
  std::vector<cld> h(static_cast<size_t>(m) * n);
  for (int32_t k1 = 0; k1 < m; ++k1)
    for (int32_t k2 = 0; k2 < n; ++k2)
      for (const Tap& t : taps)
        h[k1 * n + k2] +=
            t.h * unit_root(int64_t{k1} * t.dr, m, 1) * unit_root(int64_t{k2} * t.dc, n, 1);
  return h;
}

// m n times the cyclic convolution of x with the taps (the unscaled transform pair), x's
// columns from `kept` on taken as copies of column kept - 1.
std::vector<cld> direct_filter(const Plane& x, const std::vector<Tap>& taps, int32_t kept) {
  const int32_t m = x.m, n = x.n;
  std::vector<cld> y(static_cast<size_t>(m) * n);
  for (int32_t r = 0; r < m; ++r)
    for (int32_t c = 0; c < n; ++c)
      for (const Tap& t : taps) {
        const int32_t from = (c - t.dc + n) % n;
        y[r * n + c] += t.h * x.at((r - t.dr + m) % m, std::min(from, kept - 1));
      }
  for (cld& v : y) v *= static_cast<long double>(m) * n;
  return y;
}

// A copy of a plane whose rows point into the copy's own store, in the same order.
Plane copy_of(const Plane& from) {
  Plane copy = from;
  for (int32_t r = 0; r < from.m; ++r)
    copy.rows[r] = copy.store.data() + (from.rows[r] - from.store.data());
  copy.rows_copy = copy.rows;
  return copy;
}

// A result table names every row of its own plane once.
void expect_names_own_rows(std::vector<double*> named, const Plane& plane) {
  std::sort(named.begin(), named.end());
  std::vector<double*> own = plane.rows;
  std::sort(own.begin(), own.end());
  EXPECT_EQ(named, own);
}

// A filter of four random taps (doubled into point-symmetric pairs for a real spectrum) and
// its spectrum's rows as the products take them: complex values, or the real parts alone,
// in the spectrum order.
struct TapFilter {
  std::vector<Tap> taps;
  std::vector<std::vector<double>> factor;
  std::vector<const double*> rows;
};

TapFilter tap_filter(int32_t m, int32_t n, bool real, std::mt19937& rng) {
  std::uniform_int_distribution<int32_t> row(0, m - 1), column(0, n - 1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  TapFilter f;
  for (int t = 0; t < 4; ++t) {
    Tap tap{row(rng), column(rng), {u(rng), real ? 0.0 : u(rng)}};
    f.taps.push_back(tap);
    if (real) f.taps.push_back(Tap{(m - tap.dr) % m, (n - tap.dc) % n, tap.h});
  }
  const std::vector<cld> spectrum = tap_spectrum(f.taps, m, n);
  const int32_t width = real ? 1 : 2;
  f.factor.resize(m);
  for (int32_t r = 0; r < m; ++r) {
    f.factor[r].resize(static_cast<size_t>(width) * n);
    for (int32_t k = 0; k < n; ++k) {
      const cld v = spectrum[r * n + k];
      double* to = &f.factor[r][width * spectrum_column(k, n)];
      to[0] = static_cast<double>(v.real());
      if (!real) to[1] = static_cast<double>(v.imag());
    }
    f.rows.push_back(f.factor[r].data());
  }
  return f;
}

// The spectrum order moves each value, real or complex, to the column worked out above, on
// rows too short for it (left alone) and long ones (2048: beyond the rows copied through the
// stack); shapes fft_2d refuses are left alone.
TEST(Fft2dSpectrumOrder, MovesEveryValueToItsColumn) {
  for (int32_t n : {8, 16, 64, 1024, 2048}) {
    for (bool real : {true, false}) {
      SCOPED_TRACE(testing::Message() << "n " << n << " real " << real);
      const int32_t m = 2, width = real ? 1 : 2;
      std::vector<std::vector<double>> store(m, std::vector<double>(2 * n, -1.0));
      std::vector<double*> rows;
      for (int32_t r = 0; r < m; ++r) {
        for (int32_t k = 0; k < width * n; ++k) store[r][k] = 10000.0 * r + k;
        rows.push_back(store[r].data());
      }
      fft_2d_spectrum_order(m, 2 * n, rows.data(), real);
      for (int32_t r = 0; r < m; ++r) {
        for (int32_t k = 0; k < n; ++k) {
          for (int32_t w = 0; w < width; ++w) {
            EXPECT_EQ(store[r][width * spectrum_column(k, n) + w], 10000.0 * r + width * k + w)
                << "row " << r << " column " << k;
          }
        }
        for (int32_t k = width * n; k < 2 * n; ++k) EXPECT_EQ(store[r][k], -1.0);
      }
    }
  }
  std::vector<double> row(2 * 24, 1.0);
  double* rows[1] = {row.data()};
  fft_2d_spectrum_order(1, 2 * 24, rows, false);
  EXPECT_EQ(row, std::vector<double>(2 * 24, 1.0));
}

// The scaled spectrum order takes a transform's complex values as they are: each value (or,
// with real parts, the real part of complex value k) times the scale at its spectrum column,
// on rows short (left in order), copied through the stack and long (2048).
TEST(Fft2dSpectrumOrder, ScaledTakesEachValueTimesTheScaleToItsColumn) {
  for (int32_t n : {8, 16, 64, 1024, 2048}) {
    for (bool real : {true, false}) {
      SCOPED_TRACE(testing::Message() << "n " << n << " real " << real);
      const int32_t m = 2, width = real ? 1 : 2;
      std::vector<std::vector<double>> store(m, std::vector<double>(2 * n));
      std::vector<double*> rows;
      for (int32_t r = 0; r < m; ++r) {
        for (int32_t k = 0; k < 2 * n; ++k) store[r][k] = 10000.0 * r + k;
        rows.push_back(store[r].data());
      }
      fft_2d_spectrum_order_scaled(m, 2 * n, rows.data(), real, 3.0);
      for (int32_t r = 0; r < m; ++r) {
        for (int32_t k = 0; k < n; ++k) {
          for (int32_t w = 0; w < width; ++w) {
            EXPECT_EQ(store[r][width * spectrum_column(k, n) + w], 3.0 * (10000.0 * r + 2 * k + w))
                << "row " << r << " column " << k;
          }
        }
      }
    }
  }
}

// The filter of one or two planes against the direct cyclic convolution, on every path:
// columns asked for (a run that goes round the row's end) hold the result, the input's
// columns beyond input_columns (filled with other values) act as copies of the last one
// kept, the result tables name each row of its own plane once, and nothing beyond the rows
// is touched. Shapes small and large: short rows, one row, column plans with and without
// whole-plane sweeps, a kernel point-symmetric enough for its real spectrum.
TEST(Fft2dFilter, IsTheCyclicConvolutionOfTheColumnsAskedFor) {
  struct Case {
    int32_t m, n, input_columns, first, count;
    bool real;
  };
  const Case cases[] = {{8, 16, 5, 14, 6, false},        {16, 8, 8, 0, 8, true},
                        {1, 8, 3, 6, 4, false},          {4, 2, 1, 1, 1, true},
                        {64, 256, 100, 200, 100, false}, {512, 512, 172, 276, 20, true},
                        {512, 64, 64, 33, 64, false},    {32, 1024, 1024, 1000, 40, true}};
  for (const Case& c : cases) {
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << c.m << " x " << c.n << " path " << static_cast<int>(path));
      std::mt19937 rng(c.m * 7 + c.n);
      const TapFilter filter = tap_filter(c.m, c.n, c.real, rng);
      const std::vector<Tap>& taps = filter.taps;
      const std::vector<const double*>& factor_rows = filter.rows;
      Plane a(c.m, c.n, 31), b(c.m, c.n, 32);
      const std::vector<cld> want_a = direct_filter(a, taps, c.input_columns);
      const std::vector<cld> want_b = direct_filter(b, taps, c.input_columns);
      for (Plane* p : {&a, &b})
        for (int32_t r = 0; r < c.m; ++r)
          for (int32_t k = 2 * c.input_columns; k < 2 * c.n; ++k) p->rows[r][k] = 1e6 + k;
      Plane alone = copy_of(a);
      std::vector<double*> result_a(c.m), result_b(c.m), result_alone(c.m);
      Work w(std::max(c.m, c.n));
      fft_2d_filter_on(path, c.m, 2 * c.n, a.rows.data(), b.rows.data(), factor_rows.data(), c.real,
                       c.input_columns, c.first, c.count, result_a.data(), result_b.data(),
                       w.work.data(), w.table.data());
      fft_2d_filter_on(path, c.m, 2 * c.n, alone.rows.data(), nullptr, factor_rows.data(), c.real,
                       c.input_columns, c.first, c.count, result_alone.data(), nullptr,
                       w.work.data(), w.table.data());
      for (auto [plane, result, want] :
           {std::tuple{&a, &result_a, &want_a}, std::tuple{&b, &result_b, &want_b},
            std::tuple{&alone, &result_alone, &want_a}}) {
        expect_names_own_rows(*result, *plane);
        std::vector<cld> got, expected;
        for (int32_t r = 0; r < c.m; ++r) {
          for (int32_t t = 0; t < c.count; ++t) {
            const int32_t col = (c.first + t) % c.n;
            got.emplace_back((*result)[r][2 * col], (*result)[r][2 * col + 1]);
            expected.push_back((*want)[r * c.n + col]);
          }
        }
        expect_close(got, expected, 1e-13);
        EXPECT_TRUE(plane->padding_intact());
      }
    }
  }
}

// The convolution in the rows-last order against the direct cyclic convolution, on every
// path: the rows asked for (a run that goes round the plane's end) hold the result, the
// result tables name each row of its own plane once, nothing beyond the rows is touched, and
// a plane convolved beside another has the bits it has convolved alone. The shapes include
// column plans whose last pass is a sweep over the whole plane of radix 8 under an inverse
// first pass of radix 8 and of radix 4, on which the inverse's first pass rides with a real
// spectrum, on two planes together (256 x 512, 32 x 4096) and one after the other (512 x
// 512, 32 x 16384: planes of 2^18 values and more are convolved apart, as 64 x 16384), and
// on one; a complex spectrum and plans without sweeps take the separate passes. The row
// transforms go two rows at a time where the rows are short enough: odd counts of rows asked
// for (64 x 128, 8 x 1024) leave one alone.
TEST(Fft2dConvolveRows, IsTheCyclicConvolutionOfTheRowsAskedFor) {
  struct Case {
    int32_t m, n, first, count;
    bool real;
  };
  const Case cases[] = {
      {512, 512, 500, 40, true}, {32, 16384, 3, 20, true}, {256, 64, 0, 256, false},
      {16, 8, 12, 9, true},      {8, 32, 7, 2, false},     {1, 16, 0, 1, true},
      {64, 128, 60, 7, false},   {8, 1024, 5, 5, true},    {64, 16384, 60, 9, true},
      {256, 512, 250, 12, true}, {32, 4096, 30, 5, true}};
  for (const Case& c : cases) {
    std::mt19937 rng(c.m * 5 + c.n);
    const TapFilter filter = tap_filter(c.m, c.n, c.real, rng);
    Plane a(c.m, c.n, 41), b(c.m, c.n, 42);
    const std::vector<cld> want_a = direct_filter(a, filter.taps, c.n);
    const std::vector<cld> want_b = direct_filter(b, filter.taps, c.n);
    for (FftPath path : paths()) {
      SCOPED_TRACE(testing::Message() << c.m << " x " << c.n << " path " << static_cast<int>(path));
      Plane pa = copy_of(a), pb = copy_of(b), alone = copy_of(a);
      std::vector<double*> result_a(c.m), result_b(c.m), result_alone(c.m);
      Work w(std::max(c.m, c.n));
      fft_2d_convolve_rows_on(path, c.m, 2 * c.n, pa.rows.data(), pb.rows.data(),
                              filter.rows.data(), c.real, c.first, c.count, result_a.data(),
                              result_b.data(), w.work.data(), w.table.data());
      fft_2d_convolve_rows_on(path, c.m, 2 * c.n, alone.rows.data(), nullptr, filter.rows.data(),
                              c.real, c.first, c.count, result_alone.data(), nullptr, w.work.data(),
                              w.table.data());
      for (auto [plane, result, want, beside] :
           {std::tuple{&pa, &result_a, &want_a, &result_alone},
            std::tuple{&pb, &result_b, &want_b, static_cast<std::vector<double*>*>(nullptr)},
            std::tuple{&alone, &result_alone, &want_a, &result_a}}) {
        expect_names_own_rows(*result, *plane);
        std::vector<cld> got, expected;
        std::vector<double> bits, beside_bits;
        for (int32_t t = 0; t < c.count; ++t) {
          const int32_t r = (c.first + t) % c.m;
          for (int32_t col = 0; col < c.n; ++col) {
            got.emplace_back((*result)[r][2 * col], (*result)[r][2 * col + 1]);
            expected.push_back((*want)[r * c.n + col]);
          }
          bits.insert(bits.end(), (*result)[r], (*result)[r] + 2 * c.n);
          if (beside != nullptr)
            beside_bits.insert(beside_bits.end(), (*beside)[r], (*beside)[r] + 2 * c.n);
        }
        expect_close(got, expected, 1e-13);
        if (beside != nullptr) {
          EXPECT_EQ(bits, beside_bits);
        }
        EXPECT_TRUE(plane->padding_intact());
      }
    }
  }
}

// The same values on rows that start anywhere in a cache line, bit for bit: where a row
// starts decides which vector width does its first and last columns, and a render must not
// depend on where its host's allocator put the planes.
TEST(Fft2d, EveryVariantGivesTheSameBitsWhereverTheRowsStart) {
  for (auto [m, n] : {std::pair{64, 64}, std::pair{512, 128}, std::pair{16, 256}}) {
    const auto input = Plane(m, n, 21, 0, false).values();
    const auto factor_values = Plane(m, n, 22, 0, false).values();
    for (FftPath path : paths()) {
      std::vector<double> first_plain, first_product, first_pair, first_some;
      for (int32_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(testing::Message() << m << " x " << n << " path " << static_cast<int>(path)
                                        << " offset " << 16 * offset);
        PlaneAt plain(input, m, n, offset), product(input, m, n, offset);
        PlaneAt second(input, m, n, offset), some(input, m, n, offset);
        PlaneAt factor(factor_values, m, n, (offset + 1) % 4);
        Work w(std::max(m, n));
        fft_2d_on(path, m, 2 * n, 1, plain.rows.data(), w.work.data(), w.table.data());
        FftOptions times;
        times.factor = factor.rows.data();
        fft_2d_with(path, m, 2 * n, 1, product.rows.data(), times, w.work.data(), w.table.data());
        FftOptions pair = times;
        pair.rows_b = second.rows.data();
        PlaneAt first(input, m, n, (offset + 2) % 4);
        fft_2d_with(path, m, 2 * n, 1, first.rows.data(), pair, w.work.data(), w.table.data());
        std::vector<double*> order(m);
        FftOptions rows_last;
        rows_last.order = order.data();
        rows_last.first_row = 0;
        rows_last.row_count = m;
        fft_2d_with(path, m, 2 * n, -1, some.rows.data(), rows_last, w.work.data(), w.table.data());
        const auto got_plain = plain.row_values(plain.rows, n);
        const auto got_product = product.row_values(product.rows, n);
        const auto got_pair = second.row_values(second.rows, n);
        const auto got_some = some.row_values(order, n);
        // The product is a plain complex multiply of the transform's result: every real
        // product rounded, then the sum.
        for (size_t i = 0; i < got_plain.size(); i += 2) {
          const size_t r = i / (2 * n), c = i % (2 * n);
          const double a = got_plain[i], b = got_plain[i + 1];
          const double fc = factor.rows[r][c], fd = factor.rows[r][c + 1];
          volatile double ac = a * fc, bd = b * fd, ad = a * fd, bc = b * fc;
          ASSERT_EQ(got_product[i], ac - bd) << "real part of value " << i / 2;
          ASSERT_EQ(got_product[i + 1], ad + bc) << "imaginary part of value " << i / 2;
        }
        EXPECT_EQ(got_pair, got_product);
        if (offset == 0) {
          first_plain = got_plain;
          first_product = got_product;
          first_pair = got_pair;
          first_some = got_some;
        } else {
          EXPECT_EQ(got_plain, first_plain);
          EXPECT_EQ(got_product, first_product);
          EXPECT_EQ(got_pair, first_pair);
          EXPECT_EQ(got_some, first_some);
        }
      }
    }
  }
}

// Shapes the transform cannot do leave the plane and both arrays untouched.
TEST(Fft2d, ShapesThatAreNotPowersOfTwoAreLeftAlone) {
  for (auto [m, row_doubles] : {std::pair{6, 16}, std::pair{8, 12}, std::pair{8, 15},
                                std::pair{0, 16}, std::pair{-4, 16}, std::pair{4, -8}}) {
    SCOPED_TRACE(testing::Message() << m << " rows of " << row_doubles << " doubles");
    Plane p(8, 8, 11);
    const auto before = p.values();
    Work w(8);
    const auto table_before = w.table;
    const auto work_before = w.work;
    fft_2d(m, row_doubles, 1, p.rows.data(), w.work.data(), w.table.data());
    EXPECT_EQ(p.values(), before);
    EXPECT_TRUE(p.padding_intact());
    EXPECT_EQ(w.table, table_before);
    EXPECT_EQ(w.work, work_before);
  }
}

TEST(SwapQuadrants, ExchangesDiagonalQuadrantsAndKeepsPadding) {
  for (int32_t n : {2, 4, 8, 64}) {
    SCOPED_TRACE(n);
    Plane p(n, n, static_cast<uint32_t>(n), 5);
    const auto orig = p.values();
    swap_quadrants(p.rows.data(), n);
    const int32_t h = n / 2;
    for (int32_t r = 0; r < n; ++r)
      for (int32_t c = 0; c < n; ++c)
        ASSERT_EQ(p.at(r, c), orig[((r + h) % n) * n + (c + h) % n]) << r << ", " << c;
    EXPECT_TRUE(p.padding_intact());
    swap_quadrants(p.rows.data(), n);
    EXPECT_EQ(p.values(), orig);
  }
  // The named exchanges of a 4 x 4 plane.
  Plane p(4, 4, 9, 0);
  const auto orig = p.values();
  swap_quadrants(p.rows.data(), 4);
  EXPECT_EQ(p.at(0, 0), orig[2 * 4 + 2]);
  EXPECT_EQ(p.at(2, 2), orig[0]);
  EXPECT_EQ(p.at(0, 2), orig[2 * 4 + 0]);
  EXPECT_EQ(p.at(2, 0), orig[0 * 4 + 2]);
  EXPECT_EQ(p.at(1, 3), orig[3 * 4 + 1]);
  EXPECT_EQ(p.at(3, 1), orig[1 * 4 + 3]);
}

// ----- The algorithm at the AVX-512 path's width, on any machine ----------------------------

// One request run by the portable path and by the emulated four-value vectors on two copies
// of the same plane (rows starting `offset` complex values past a cache line); both copies'
// rows, read through the result tables where the request has them.
struct WideRun {
  std::vector<double> portable, wide;
};
WideRun run_both_widths(FftRequest q, const std::vector<cld>& values, const std::vector<cld>& b,
                        int32_t offset, Work& w) {
  WideRun out;
  for (int width = 0; width < 2; ++width) {
    PlaneAt a_plane(values, q.m, q.n, offset), b_plane(b.empty() ? values : b, q.m, q.n, offset);
    std::vector<double*> order_a(q.m), order_b(q.m);
    FftRequest r = q;
    r.rows = a_plane.rows.data();
    r.rows_b = b.empty() ? nullptr : b_plane.rows.data();
    r.table = w.table.data();
    if (q.order != nullptr) r.order = order_a.data();
    if (q.result_a != nullptr) r.result_a = order_a.data();
    if (q.result_b != nullptr && r.rows_b != nullptr) r.result_b = order_b.data();
    if (width == 0) {
      fft_transform_portable(r);
    } else {
      fft_transform_emulated_wide(r);
    }
    const bool tables = q.order != nullptr || q.result_a != nullptr;
    std::vector<double> got = a_plane.row_values(tables ? order_a : a_plane.rows, q.n);
    if (r.rows_b != nullptr) {
      const auto more = b_plane.row_values(r.result_b != nullptr ? order_b : b_plane.rows, q.n);
      got.insert(got.end(), more.begin(), more.end());
    }
    (width == 0 ? out.portable : out.wide) = got;
  }
  return out;
}

// Every kind of request (plain, product with result tables on two planes, complex and real
// factor, rows-last, filter with a wrapped column run) on shapes up to 512 x 1024, whose rows
// start at each 16-byte step of a cache line: the four-value vectors compute exactly what
// the one-value path computes; and a plain transform of the widest rows matches the DFT.
TEST(Fft2dWideVectors, FourValueVectorsComputeWhatTheOneValuePathComputes) {
  Work w(1024);
  std::vector<double*> scratch_rows(1);
  std::vector<double> scratch(2 * 1024);
  scratch_rows[0] = scratch.data();
  fft_2d_on(FftPath::portable, 1, 2 * 1024, 1, scratch_rows.data(), w.work.data(),
            w.table.data());  // builds the table for every shape below
  const std::vector<std::pair<int32_t, int32_t>> shapes = {
      {1, 64}, {2, 16}, {4, 32}, {8, 8}, {16, 128}, {64, 64}, {32, 256}, {512, 64}, {8, 1024}};
  for (auto [m, n] : shapes) {
    const auto a = Plane(m, n, static_cast<uint32_t>(m * 7 + n)).values();
    const auto b = Plane(m, n, static_cast<uint32_t>(m * 11 + n)).values();
    PlaneAt spectrum(Plane(m, n, 5).values(), m, n, 0);
    for (int32_t offset = 0; offset < 4; ++offset) {
      SCOPED_TRACE(testing::Message() << m << " x " << n << " offset " << offset);
      FftRequest q{};
      q.m = m;
      q.n = n;
      for (bool positive : {true, false}) {
        q.positive = positive;
        const WideRun plain = run_both_widths(q, a, {}, offset, w);
        EXPECT_EQ(plain.wide, plain.portable);
      }
      FftRequest product = q;
      product.positive = true;
      product.factor = spectrum.rows.data();
      product.result_a = product.result_b = reinterpret_cast<double**>(1);  // tables wanted
      for (bool real : {false, true}) {
        product.factor_real = real;
        const WideRun got = run_both_widths(product, a, b, offset, w);
        EXPECT_EQ(got.wide, got.portable) << "product, real " << real;
      }
      FftRequest rows_last = q;
      rows_last.positive = false;
      rows_last.order = reinterpret_cast<double**>(1);
      rows_last.first_row = m - 1;
      rows_last.row_count = m / 2 + 1;
      const WideRun some = run_both_widths(rows_last, a, {}, offset, w);
      EXPECT_EQ(some.wide, some.portable) << "rows-last";
      FftRequest filter = product;
      filter.filter = true;
      filter.factor_real = false;
      filter.input_columns = n / 2 + 1;
      filter.first_column = n - 3 < 0 ? 0 : n - 3;
      filter.column_count = n / 2;
      const WideRun filtered = run_both_widths(filter, a, b, offset, w);
      EXPECT_EQ(filtered.wide, filtered.portable) << "filter";
    }
  }
  // The widest rows against the DFT, so that agreement is with a right answer.
  const auto x = Plane(8, 1024, 3).values();
  const auto want = direct_dft(x, 8, 1024, 1);
  FftRequest q{};
  q.m = 8;
  q.n = 1024;
  q.positive = true;
  const WideRun got = run_both_widths(q, x, {}, 1, w);
  std::vector<cld> wide(want.size());
  for (size_t i = 0; i < want.size(); ++i) wide[i] = {got.wide[2 * i], got.wide[2 * i + 1]};
  expect_close(wide, want, 1e-14);
}

// How a row transform orders its first step (inside the bit reversal's blocks, or as a trip
// of its own) depends on the first-level cache's ways, so the bits must not: the plain and the
// rows-last transforms of long rows, both directions, with the ways unknown and with plenty,
// on every path and on the emulated wide vectors (whose blocks are twice as tall), agree bit
// for bit, and with the DFT at a few bins.
TEST(Fft2d, LongRowsGiveTheSameBitsWhateverTheCacheWays) {
  Work w(2048);
  std::vector<double> scratch(2 * 2048);
  std::vector<double*> scratch_rows = {scratch.data()};
  fft_2d_on(FftPath::portable, 1, 2 * 2048, 1, scratch_rows.data(), w.work.data(),
            w.table.data());  // builds the table
  using Runner = void (*)(const FftRequest&);
  std::vector<Runner> runners = {fft_transform_emulated_wide};
  for (FftPath path : paths()) {
    if (path == FftPath::avx2) runners.push_back(fft_transform_avx2);
    if (path == FftPath::avx512) runners.push_back(fft_transform_avx512);
  }
  for (int32_t n : {1024, 2048}) {
    const auto seed = static_cast<uint32_t>(n) + 5;
    const auto input = Plane(8, n, seed, 0, false).values();
    // A few bins by direct summation.
    const std::vector<std::pair<int32_t, int32_t>> bins = {
        {0, 0}, {1, 1}, {7, n - 1}, {3, n / 2 + 5}};
    std::vector<cld> want;
    for (auto [k1, k2] : bins) {
      cld acc = 0;
      for (int32_t j1 = 0; j1 < 8; ++j1)
        for (int32_t j2 = 0; j2 < n; ++j2)
          acc += input[j1 * n + j2] * unit_root(int64_t{j1} * k1 * n / 8 + int64_t{j2} * k2, n, -1);
      want.push_back(acc);
    }
    for (size_t runner = 0; runner < runners.size(); ++runner) {
      for (bool rows_last : {false, true}) {
        SCOPED_TRACE(testing::Message() << n << " runner " << runner << " rows last " << rows_last);
        std::vector<double> bits[2];
        for (int32_t ways : {0, 64}) {
          Plane p(8, n, seed, 0, false);
          std::vector<double*> order(8);
          FftRequest q{};
          q.m = 8;
          q.n = n;
          q.positive = false;
          q.rows = p.rows.data();
          q.table = w.table.data();
          q.cache_ways = ways;
          if (rows_last) {
            q.order = order.data();
            q.row_count = 8;
          }
          runners[runner](q);
          std::vector<double>& got = bits[ways == 0 ? 0 : 1];
          for (int32_t r = 0; r < 8; ++r) {
            const double* row = rows_last ? order[r] : p.rows[r];
            got.insert(got.end(), row, row + 2 * n);
          }
        }
        EXPECT_EQ(bits[0], bits[1]);
        for (size_t b = 0; b < bins.size(); ++b) {
          const size_t at = 2 * (static_cast<size_t>(bins[b].first) * n + bins[b].second);
          EXPECT_LE(std::abs(cld{bits[1][at], bits[1][at + 1]} - want[b]), 1e-13 * n) << b;
        }
      }
    }
  }
}

}  // namespace
