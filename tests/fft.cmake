# The two-dimensional FFT and the quadrant swap, and the transform's algorithm at a width this
# machine may not run (compiled without contraction, as the portable path it is held to).
veilmora_test(test_fft SOURCES test_fft.cpp fft_emulated_wide.cpp LIBS veilmora_fft)
set_source_files_properties(fft_emulated_wide.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
