// The two-dimensional complex FFT: a row-column transform, radix-4 decimation in time over
// bit-reversed input, with twiddles kept in the caller's table and no storage of its own.
//
// Table layout. For every power of two s from 1 to D/2 (D the larger side of the largest
// plane seen so far) the s complex values exp(+i pi j / s), j = 0..s-1, are stored from
// complex index s on, i.e. doubles 2s .. 4s-1 of fft_table. Those are exactly the twiddles
// of the step that merges transforms of length s into one of length 2s, and they do not
// depend on the total length, so a table built for a large plane serves every smaller one.
// The whole table takes doubles 2 .. 2D-1. fft_work[0] holds D/2 (the quarter-wave size
// the table stands for); no table is built for D <= 4, where the butterflies need only +-1
// and +-i. The negative exponent uses the conjugates.
#include "fft/fft2d.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace {

int32_t log2_of(int32_t n) {
  int32_t k = 0;
  while ((int32_t{1} << k) < n) ++k;
  return k;
}

int32_t bit_reverse(int32_t k, int32_t bits) {
  int32_t r = 0;
  for (int32_t b = 0; b < bits; ++b) {
    r = (r << 1) | (k & 1);
    k >>= 1;
  }
  return r;
}

void build_table(int32_t d, int32_t* fft_work, double* fft_table) {
  fft_work[0] = d / 2;
  fft_work[1] = 1;
  if (d <= 4) return;
  const double pi = 4.0 * std::atan(1.0);
  for (int32_t s = 1; s <= d / 2; s *= 2) {
    for (int32_t j = 0; j < s; ++j) {
      // Reduce to the first octant so every entry is as accurate as cos and sin allow.
      const int32_t jj = 2 * j <= s ? j : s - j;  // angle pi*jj/s in [0, pi/2]
      double c, sn;
      if (4 * jj <= s) {
        c = std::cos(pi * jj / s);
        sn = std::sin(pi * jj / s);
      } else {
        c = std::sin(pi * (s - 2 * jj) / (2.0 * s));
        sn = std::cos(pi * (s - 2 * jj) / (2.0 * s));
      }
      if (jj != j) c = -c;  // angle pi - t
      fft_table[2 * (s + j)] = c;
      fft_table[2 * (s + j) + 1] = sn;
    }
  }
}

// One-dimensional transform of n contiguous complex values (stride 1), natural order in and
// out.
void fft_contiguous(double* x, int32_t n, bool positive, const double* table) {
  if (n <= 1) return;
  const int32_t bits = log2_of(n);
  for (int32_t k = 0; k < n; ++k) {
    const int32_t r = bit_reverse(k, bits);
    if (r > k) {
      std::swap(x[2 * k], x[2 * r]);
      std::swap(x[2 * k + 1], x[2 * r + 1]);
    }
  }
  const double sg = positive ? 1.0 : -1.0;
  int32_t s = 1;
  for (; 4 * s <= n; s *= 4) {
    const double* w1t = table + 2 * (2 * s);  // exp(i pi j / 2s) = w_{4s}^j
    const double* w2t = table + 2 * s;        // exp(i pi j / s)  = w_{4s}^{2j}
    for (int32_t b = 0; b < n; b += 4 * s) {
      for (int32_t j = 0; j < s; ++j) {
        double* p0 = x + 2 * (b + j);
        double* p1 = p0 + 2 * s;
        double* p2 = p1 + 2 * s;
        double* p3 = p2 + 2 * s;
        double w1r = 1, w1i = 0, w2r = 1, w2i = 0;
        if (s > 1) {
          w1r = w1t[2 * j];
          w1i = sg * w1t[2 * j + 1];
          w2r = w2t[2 * j];
          w2i = sg * w2t[2 * j + 1];
        }
        const double w3r = w1r * w2r - w1i * w2i, w3i = w1r * w2i + w1i * w2r;
        // Memory blocks 1 and 2 hold the residues 2 and 1 of the bit-reversed order.
        const double b0r = p0[0], b0i = p0[1];
        const double b1r = w2r * p1[0] - w2i * p1[1], b1i = w2r * p1[1] + w2i * p1[0];
        const double b2r = w1r * p2[0] - w1i * p2[1], b2i = w1r * p2[1] + w1i * p2[0];
        const double b3r = w3r * p3[0] - w3i * p3[1], b3i = w3r * p3[1] + w3i * p3[0];
        const double s0r = b0r + b1r, s0i = b0i + b1i, d0r = b0r - b1r, d0i = b0i - b1i;
        const double s1r = b2r + b3r, s1i = b2i + b3i;
        // e (b2 - b3) with e = sg * i.
        const double e1r = -sg * (b2i - b3i), e1i = sg * (b2r - b3r);
        p0[0] = s0r + s1r;
        p0[1] = s0i + s1i;
        p1[0] = d0r + e1r;
        p1[1] = d0i + e1i;
        p2[0] = s0r - s1r;
        p2[1] = s0i - s1i;
        p3[0] = d0r - e1r;
        p3[1] = d0i - e1i;
      }
    }
  }
  if (s < n) {  // one radix-2 step of span n/2
    const double* wt = table + 2 * s;
    for (int32_t j = 0; j < s; ++j) {
      double wr = 1, wi = 0;
      if (s > 1) {
        wr = wt[2 * j];
        wi = sg * wt[2 * j + 1];
      }
      double* p0 = x + 2 * j;
      double* p1 = p0 + 2 * s;
      const double tr = wr * p1[0] - wi * p1[1], ti = wr * p1[1] + wi * p1[0];
      p1[0] = p0[0] - tr;
      p1[1] = p0[1] - ti;
      p0[0] += tr;
      p0[1] += ti;
    }
  }
}

// One-dimensional transforms down every column at once: the elements are whole rows of
// `len` doubles, so each butterfly combines entire rows.
void fft_columns(double** rows, int32_t m, int32_t len, bool positive, const double* table) {
  if (m <= 1) return;
  const int32_t bits = log2_of(m);
  for (int32_t k = 0; k < m; ++k) {
    const int32_t r = bit_reverse(k, bits);
    if (r > k) {
      double* a = rows[k];
      double* b = rows[r];
      for (int32_t t = 0; t < len; ++t) std::swap(a[t], b[t]);
    }
  }
  const double sg = positive ? 1.0 : -1.0;
  int32_t s = 1;
  for (; 4 * s <= m; s *= 4) {
    const double* w1t = table + 2 * (2 * s);
    const double* w2t = table + 2 * s;
    for (int32_t b = 0; b < m; b += 4 * s) {
      for (int32_t j = 0; j < s; ++j) {
        double* p0 = rows[b + j];
        double* p1 = rows[b + j + s];
        double* p2 = rows[b + j + 2 * s];
        double* p3 = rows[b + j + 3 * s];
        double w1r = 1, w1i = 0, w2r = 1, w2i = 0;
        if (s > 1) {
          w1r = w1t[2 * j];
          w1i = sg * w1t[2 * j + 1];
          w2r = w2t[2 * j];
          w2i = sg * w2t[2 * j + 1];
        }
        const double w3r = w1r * w2r - w1i * w2i, w3i = w1r * w2i + w1i * w2r;
        for (int32_t t = 0; t < len; t += 2) {
          const double b0r = p0[t], b0i = p0[t + 1];
          const double b1r = w2r * p1[t] - w2i * p1[t + 1], b1i = w2r * p1[t + 1] + w2i * p1[t];
          const double b2r = w1r * p2[t] - w1i * p2[t + 1], b2i = w1r * p2[t + 1] + w1i * p2[t];
          const double b3r = w3r * p3[t] - w3i * p3[t + 1], b3i = w3r * p3[t + 1] + w3i * p3[t];
          const double s0r = b0r + b1r, s0i = b0i + b1i, d0r = b0r - b1r, d0i = b0i - b1i;
          const double s1r = b2r + b3r, s1i = b2i + b3i;
          const double e1r = -sg * (b2i - b3i), e1i = sg * (b2r - b3r);
          p0[t] = s0r + s1r;
          p0[t + 1] = s0i + s1i;
          p1[t] = d0r + e1r;
          p1[t + 1] = d0i + e1i;
          p2[t] = s0r - s1r;
          p2[t + 1] = s0i - s1i;
          p3[t] = d0r - e1r;
          p3[t + 1] = d0i - e1i;
        }
      }
    }
  }
  if (s < m) {
    const double* wt = table + 2 * s;
    for (int32_t j = 0; j < s; ++j) {
      double wr = 1, wi = 0;
      if (s > 1) {
        wr = wt[2 * j];
        wi = sg * wt[2 * j + 1];
      }
      double* p0 = rows[j];
      double* p1 = rows[j + s];
      for (int32_t t = 0; t < len; t += 2) {
        const double tr = wr * p1[t] - wi * p1[t + 1], ti = wr * p1[t + 1] + wi * p1[t];
        p1[t] = p0[t] - tr;
        p1[t + 1] = p0[t + 1] - ti;
        p0[t] += tr;
        p0[t + 1] += ti;
      }
    }
  }
}

}  // namespace

void fft_2d(int32_t m, int32_t row_doubles, int32_t sign, double** rows, int32_t* fft_work,
            double* fft_table) {
  const int32_t n = row_doubles / 2;
  const int32_t d = m > n ? m : n;
  if (2 * d > 4 * fft_work[0]) build_table(d, fft_work, fft_table);
  const bool positive = sign >= 0;
  if (n > 1) {
    for (int32_t r = 0; r < m; ++r) fft_contiguous(rows[r], n, positive, fft_table);
  }
  fft_columns(rows, m, 2 * n, positive, fft_table);
}

void swap_quadrants(double** rows, int32_t n) {
  const int32_t h = n / 2;
  for (int32_t r = 0; r < h; ++r) {
    double* top = rows[r];
    double* bottom = rows[r + h];
    for (int32_t c = 0; c < 2 * h; ++c) {
      std::swap(top[c], bottom[c + 2 * h]);
      std::swap(top[c + 2 * h], bottom[c]);
    }
  }
}
