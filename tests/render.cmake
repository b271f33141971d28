# The rendering core: tile convolution stage and iris kernels.
veilmora_test(test_convolve_tiles SOURCES test_convolve_tiles.cpp LIBS veilmora_render)
veilmora_test(test_iris_kernel SOURCES test_iris_kernel.cpp LIBS veilmora_render)
