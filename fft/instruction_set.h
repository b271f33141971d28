// The widest instruction set the run-time dispatch may choose, for the transform and the
// tile stage alike. By default every extension the processor has may be used; setting the
// environment variable VEILMORA_ISA before the first render forces a narrower path, so that
// the AVX2 path can be measured and tested on a machine that also has AVX-512:
//   VEILMORA_ISA=avx512   (the default: as wide as the processor allows)
//   VEILMORA_ISA=avx2     AVX2 + FMA at most
//   VEILMORA_ISA=portable no vector extension beyond the x86-64 baseline
// The variable is read once per process; an unknown value is ignored (no limit). A limit
// never enables what the processor lacks.
#pragma once

enum class InstructionSet { portable = 0, avx2 = 1, avx512 = 2 };

// The limit in force (read from the environment on the first call).
InstructionSet instruction_set_limit();

// The limit named by an environment value (null or unknown: avx512, no limit).
InstructionSet instruction_set_named(const char* value);
