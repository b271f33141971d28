// The instruction-set variants of the 2-D transform, each in its own file, and how
// fft_2d picks one. Internal to fft/ (and its tests).
#pragma once

#include <cstdint>

enum class FftPath { portable, avx2, avx512 };

// True when this machine can run the path.
bool fft_path_available(FftPath path);

// fft_2d's work, after the table is in place, on the given path (which must be available).
void fft_transform_on(FftPath path, int32_t m, int32_t n, bool positive, double* const* rows,
                      const double* table);

// fft_2d on the given path: the table rules, then the transform.
void fft_2d_on(FftPath path, int32_t m, int32_t row_doubles, int32_t sign, double** rows,
               int32_t* fft_work, double* fft_table);

// The best available path within instruction_set_limit().
FftPath fft_best_path();

void fft_transform_portable(int32_t m, int32_t n, bool positive, double* const* rows,
                            const double* table);
void fft_transform_avx2(int32_t m, int32_t n, bool positive, double* const* rows,
                        const double* table);
void fft_transform_avx512(int32_t m, int32_t n, bool positive, double* const* rows,
                          const double* table);
