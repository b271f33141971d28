// The transform's algorithm over an emulated vector of four complex values (see the source).
#pragma once

#include "fft/fft_kernels.h"

void fft_transform_emulated_wide(const FftRequest& request);
