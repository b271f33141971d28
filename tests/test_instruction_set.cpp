// The instruction-set limit: how VEILMORA_ISA is read, and that the transform's and the
// tile stage's dispatch keep to it. ctest runs this program once per setting of the
// variable (tests/instruction_set.cmake); each case checks the run it belongs to and is
// skipped in the others.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fft/fft_kernels.h"
#include "fft/instruction_set.h"
#include "render/tile_kernels.h"

namespace {

std::string environment_value() {
  const char* v = std::getenv("VEILMORA_ISA");
  return v == nullptr ? std::string("(unset)") : std::string(v);
}

TEST(InstructionSetNames, EachNamedLimitAndEverythingElseMeansNoLimit) {
  EXPECT_EQ(instruction_set_named("portable"), InstructionSet::portable);
  EXPECT_EQ(instruction_set_named("avx2"), InstructionSet::avx2);
  EXPECT_EQ(instruction_set_named("avx512"), InstructionSet::avx512);
  EXPECT_EQ(instruction_set_named(nullptr), InstructionSet::avx512);
  EXPECT_EQ(instruction_set_named(""), InstructionSet::avx512);
  EXPECT_EQ(instruction_set_named("AVX2"), InstructionSet::avx512);  // names are exact
  EXPECT_EQ(instruction_set_named("avx2 "), InstructionSet::avx512);
}

TEST(InstructionSetLimit, ForcedPortableUsesNoVectorPath) {
  if (environment_value() != "portable") GTEST_SKIP() << "run with VEILMORA_ISA=portable";
  EXPECT_EQ(instruction_set_limit(), InstructionSet::portable);
  EXPECT_EQ(fft_best_path(), FftPath::portable);
  EXPECT_EQ(tile_best_path(), TilePath::portable);
}

TEST(InstructionSetLimit, ForcedAvx2StopsBelowAvx512) {
  if (environment_value() != "avx2") GTEST_SKIP() << "run with VEILMORA_ISA=avx2";
  EXPECT_EQ(instruction_set_limit(), InstructionSet::avx2);
  const bool has_avx2 = fft_path_available(FftPath::avx2);
  EXPECT_EQ(fft_best_path(), has_avx2 ? FftPath::avx2 : FftPath::portable);
  EXPECT_EQ(tile_best_path(),
            tile_path_available(TilePath::avx2) ? TilePath::avx2 : TilePath::portable);
}

TEST(InstructionSetLimit, UnsetTakesTheWidestThisProcessorHas) {
  if (environment_value() != "(unset)") GTEST_SKIP() << "run without VEILMORA_ISA";
  EXPECT_EQ(instruction_set_limit(), InstructionSet::avx512);
  const FftPath widest = fft_path_available(FftPath::avx512) ? FftPath::avx512
                         : fft_path_available(FftPath::avx2) ? FftPath::avx2
                                                             : FftPath::portable;
  EXPECT_EQ(fft_best_path(), widest);
  const TilePath widest_loops = tile_path_available(TilePath::avx512) ? TilePath::avx512
                                : tile_path_available(TilePath::avx2) ? TilePath::avx2
                                                                      : TilePath::portable;
  EXPECT_EQ(tile_best_path(), widest_loops);
}

// The limit is taken once: a change of the environment during the run moves nothing.
TEST(InstructionSetLimit, ReadOnceForTheWholeProcess) {
  const InstructionSet first = instruction_set_limit();
  const std::string before = environment_value();
  ASSERT_EQ(setenv("VEILMORA_ISA", first == InstructionSet::portable ? "avx512" : "portable", 1),
            0);
  EXPECT_EQ(instruction_set_limit(), first);
  if (before == "(unset)") {
    unsetenv("VEILMORA_ISA");
  } else {
    setenv("VEILMORA_ISA", before.c_str(), 1);
  }
}

}  // namespace
