// How many ways the processor's first-level data cache has, read once from CPUID: Intel's
// deterministic cache leaf (4), else AMD's L1 leaf (0x80000005). Only the speed of the
// transform depends on it (see fft_passes.inc, first_step_in_blocks), never a result.
#include <cstdint>

#include "fft/fft_kernels.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>

namespace {

// Leaf 4 lists the caches one subleaf each; the level-1 data cache has type 1, level 1.
int32_t ways_from_deterministic_leaf() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 4) return 0;
  for (unsigned subleaf = 0; subleaf < 16; ++subleaf) {
    __cpuid_count(4, subleaf, eax, ebx, ecx, edx);
    const unsigned type = eax & 0x1F, level = (eax >> 5) & 0x7;
    if (type == 0) break;  // no more caches
    if (type == 1 && level == 1) return static_cast<int32_t>((ebx >> 22) + 1);
  }
  return 0;
}

// AMD's leaf gives the level-1 data cache's associativity in bits 16..23 of ECX (255: fully
// associative).
int32_t ways_from_amd_leaf() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0x80000000, nullptr) < 0x80000005) return 0;
  __cpuid(0x80000005, eax, ebx, ecx, edx);
  return static_cast<int32_t>((ecx >> 16) & 0xFF);
}

bool vendor_is_intel() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
  return ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e;  // "GenuineIntel"
}

int32_t read_cache_ways() {
  const int32_t ways = vendor_is_intel() ? ways_from_deterministic_leaf() : ways_from_amd_leaf();
  return ways > 0 ? ways : 0;
}

}  // namespace

int32_t fft_cache_ways() {
  static const int32_t ways = read_cache_ways();
  return ways;
}

#else
int32_t fft_cache_ways() { return 0; }
#endif
