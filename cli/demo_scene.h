// The generated test scene of `veilmora demo`: night lights (bright points and small shapes
// on a dark gradient, with a few dark buildings and lit windows, and an alpha edge that fades
// the right border to transparent), and a star-shaped iris image for the layer iris. Both are
// deterministic: the same pictures on every machine.
#pragma once

#include <cstdint>

#include "cli/host_image.h"

HostImage make_night_scene(int32_t width, int32_t height, RenderDepth depth);

// A white five-pointed star on transparent black, `size` x `size` pixels, antialiased.
HostImage make_star_iris(int32_t size, RenderDepth depth);
