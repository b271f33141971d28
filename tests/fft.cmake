# The two-dimensional FFT and the quadrant swap.
veilmora_test(test_fft SOURCES test_fft.cpp LIBS veilmora_fft)
