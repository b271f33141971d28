// Pixel buffers in the layout the host hands the effect: straight (not premultiplied) ARGB,
// one of the three host depths, rows packed one after the other. Images read from files and
// images made by the demo generator meet the module in this form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "api/effect_api.h"

enum class RenderDepth { k8, k16, kFloat };

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  RenderDepth depth = RenderDepth::k8;
  std::vector<unsigned char> pixels;  // width x height pixels of pixel_size() bytes
};

inline size_t pixel_size(RenderDepth depth) {
  switch (depth) {
    case RenderDepth::k8:
      return sizeof(PF_Pixel8);
    case RenderDepth::k16:
      return sizeof(PF_Pixel16);
    case RenderDepth::kFloat:
      return sizeof(PF_PixelFloat);
  }
  return 0;
}

inline size_t row_bytes(const HostImage& image) {
  return static_cast<size_t>(image.width) * pixel_size(image.depth);
}

// Allocates a width x height image cleared to zero (transparent black).
HostImage make_host_image(int32_t width, int32_t height, RenderDepth depth);

// A pixel of any depth in the host's nominal range (alpha, red, green, blue), for code that
// fills or inspects images without caring about the depth: 8-bit 0..255 and 16-bit 0..32768
// map to 0..1, floats pass through.
struct NormalizedPixel {
  double alpha, red, green, blue;
};
NormalizedPixel get_pixel(const HostImage& image, int32_t x, int32_t y);
// Stores with rounding to nearest and clamping for the integer depths.
void set_pixel(HostImage& image, int32_t x, int32_t y, const NormalizedPixel& pixel);

// The 16-bit file <-> host scaling: 0..65535 in files, 0..32768 in the host, rounded to
// nearest both ways (so a round trip moves a value by at most one file step).
inline uint16_t file16_to_host16(uint32_t v) {
  return static_cast<uint16_t>((v * 65536u + 65535u) / 131070u);
}
inline uint16_t host16_to_file16(uint32_t h) {
  if (h > 32768u) h = 32768u;
  return static_cast<uint16_t>((h * 131070u + 32768u) / 65536u);
}
