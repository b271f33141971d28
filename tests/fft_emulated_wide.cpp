// The transform's shared algorithm over a vector of four complex values built from the
// portable one-value vectors: as wide as the AVX-512 path's, so the block logic of that width
// (bit reversal blocks of 8 x 8 values, column runs split around 64-byte lines) is checked on
// every machine, including those that cannot run the AVX-512 path. Each lane rounds as the
// portable path does, so the results must be that path's bit for bit.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <cstdint>

#include "fft/fft_kernels.h"
#include "tests/fft_emulated_wide.h"

namespace {
// clang-format off
#include "fft/fft_vec128.inc"
// clang-format on

struct Wide4 {
  V1 lane[4];
  static constexpr int K = 4;
  static Wide4 load(const double* p) {
    return {{V1::load(p), V1::load(p + 2), V1::load(p + 4), V1::load(p + 6)}};
  }
};
void store(double* p, Wide4 a) {
  for (int i = 0; i < 4; ++i) store(p + 2 * i, a.lane[i]);
}
template <class F>
Wide4 each(Wide4 a, F f) {
  for (int i = 0; i < 4; ++i) a.lane[i] = f(a.lane[i], i);
  return a;
}
Wide4 add(Wide4 a, Wide4 b) {
  return each(a, [&](V1 x, int i) { return add(x, b.lane[i]); });
}
Wide4 sub(Wide4 a, Wide4 b) {
  return each(a, [&](V1 x, int i) { return sub(x, b.lane[i]); });
}
Wide4 mul_s(Wide4 a, double wr, double wi) {
  return each(a, [&](V1 x, int) { return mul_s(x, wr, wi); });
}
Wide4 mul_v(Wide4 a, Wide4 w) {
  return each(a, [&](V1 x, int i) { return mul_v(x, w.lane[i]); });
}
Wide4 mul_rounded(Wide4 a, Wide4 w) {
  return each(a, [&](V1 x, int i) { return mul_rounded(x, w.lane[i]); });
}
Wide4 conj(Wide4 a) {
  return each(a, [](V1 x, int) { return conj(x); });
}
Wide4 times_real(Wide4 a, const double* k) {
  return each(a, [&](V1 x, int i) { return times_real(x, k + i); });
}
template <bool Pos>
Wide4 add_i(Wide4 a, Wide4 b) {
  return each(a, [&](V1 x, int i) { return add_i<Pos>(x, b.lane[i]); });
}
template <bool Pos>
Wide4 sub_i(Wide4 a, Wide4 b) {
  return each(a, [&](V1 x, int i) { return sub_i<Pos>(x, b.lane[i]); });
}
// z[d] takes value d of each row z[a], the rows in bit-reversed order of a (two bits).
void transpose_reversed(Wide4* z) {
  Wide4 t[4];
  for (int d = 0; d < 4; ++d)
    for (int a = 0; a < 4; ++a) t[d].lane[a] = z[((a & 1) << 1) | (a >> 1)].lane[d];
  for (int d = 0; d < 4; ++d) z[d] = t[d];
}

template <>
struct ReverseBlockOf<Wide4> {
  using type = VectorPair<Wide4>;
};
// clang-format off
#include "fft/fft_passes.inc"
// clang-format on
}  // namespace

void fft_transform_emulated_wide(const FftRequest& request) { run_request<Wide4, V1>(request); }
