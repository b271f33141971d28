# The rendering core: tile convolution stage, iris kernels, the weighting's transcendentals.
veilmora_test(test_convolve_tiles SOURCES test_convolve_tiles.cpp LIBS veilmora_render)
veilmora_test(test_iris_kernel SOURCES test_iris_kernel.cpp LIBS veilmora_render)
veilmora_test(test_weight_math SOURCES test_weight_math.cpp LIBS veilmora_render)
