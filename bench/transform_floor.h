// The transform floor of a full-frame render: the time of the transforms its tile plan
// needs, counted in forward + inverse pairs of fft_2d of the tile size, so that the
// fft_2d group of the same run turns it into milliseconds.
#pragma once

#include <cstdint>

// The picture size of the render groups.
constexpr int32_t kRenderWidth = 1920;
constexpr int32_t kRenderHeight = 1080;

struct TransformFloor {
  int32_t n;             // tile size
  int32_t tiles;         // tiles the walk visits
  int32_t tiles_written; // of which write at least one pixel
  double pairs;          // forward + inverse pairs: 2 per tile written, plus half for the kernel
};

// The plan for a width x height render at the given radius (circle iris, full resolution),
// by the render driver's rules: margin ceil(radius); tile 256 when the image and both
// margins fit one tile, 512 up to a margin of 150, 1024 beyond; tiles from (-p, -p) in steps
// of n - 2p while their origin lies inside the image.
TransformFloor transform_floor(int32_t width, int32_t height, double radius);
