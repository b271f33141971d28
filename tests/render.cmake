# The rendering core: tile convolution stage and iris kernels.
veilmora_test(test_convolve_tiles SOURCES test_convolve_tiles.cpp LIBS veilmora_render)
