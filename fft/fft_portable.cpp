// The portable variant of the transform: one complex value per SSE2 register (the x86-64
// baseline), or plain doubles on other machines.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <cstdint>

#include "fft/fft_kernels.h"

namespace {
// The vector type first, then the algorithm written over it.
// clang-format off
#include "fft/fft_vec128.inc"
#include "fft/fft_passes.inc"
// clang-format on
}  // namespace

void fft_transform_portable(const FftRequest& request) { run_request<V1, V1>(request); }
