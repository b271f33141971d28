// The limit is read once: a render must not change path half-way because the environment
// changed, and the dispatch asks for it on every transform.
#include "fft/instruction_set.h"

#include <cstdlib>
#include <cstring>

InstructionSet instruction_set_named(const char* value) {
  if (value == nullptr) return InstructionSet::avx512;
  if (std::strcmp(value, "portable") == 0) return InstructionSet::portable;
  if (std::strcmp(value, "avx2") == 0) return InstructionSet::avx2;
  return InstructionSet::avx512;
}

InstructionSet instruction_set_limit() {
  static const InstructionSet limit = instruction_set_named(std::getenv("VEILMORA_ISA"));
  return limit;
}
