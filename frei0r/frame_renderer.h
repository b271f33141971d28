// One filter instance's rendering: straight RGBA8888 frames of a fixed size through the tile
// stage and the iris kernels, as the module renders an 8-bit ARGB world. The working memory
// is taken with the C++ allocator when the instance is made and when a frame needs a larger
// tile than any frame before it, never per frame.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "api/effect_api.h"
#include "frei0r/parameters.h"
#include "render/render_record.h"

class FrameRenderer {
 public:
  // Throws std::bad_alloc when the two frame-sized pixel buffers cannot be had.
  FrameRenderer(int32_t width, int32_t height);
  ~FrameRenderer();
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  // Renders one frame of width x height RGBA pixels (4 bytes each, row after row, no
  // padding). `input` and `output` may be the same frame. When the working planes for the
  // frame's tile size cannot be allocated, the output is a copy of the input and the result
  // false.
  bool render(const FilterSettings& settings, const uint8_t* input, uint8_t* output);

  // The largest frame side the filter takes: the tile stage addresses pixels as
  // y x stride + x in 32-bit arithmetic.
  static bool size_supported(uint64_t width, uint64_t height);

 private:
  struct Planes;
  bool ensure_tile_size(int32_t n);
  // False, with the output untouched, when the planes cannot be had.
  bool blur(const EffectValues& values, const uint8_t* input, uint8_t* output);

  int32_t width_;
  int32_t height_;
  std::vector<PF_Pixel8> argb_in_;
  std::vector<PF_Pixel8> argb_out_;
  std::unique_ptr<Planes> planes_;
};
