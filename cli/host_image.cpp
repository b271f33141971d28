// Depth-independent access to HostImage pixels, used by the demo scene generator and for
// converting between depths.
#include "cli/host_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

HostImage make_host_image(int32_t width, int32_t height, RenderDepth depth) {
  HostImage image;
  image.width = width;
  image.height = height;
  image.depth = depth;
  image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * pixel_size(depth),
                      0);
  return image;
}

namespace {

template <typename Pixel>
Pixel* pixel_at(HostImage& image, int32_t x, int32_t y) {
  return reinterpret_cast<Pixel*>(image.pixels.data()) +
         static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x);
}

template <typename Pixel>
const Pixel* pixel_at(const HostImage& image, int32_t x, int32_t y) {
  return reinterpret_cast<const Pixel*>(image.pixels.data()) +
         static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x);
}

template <typename T>
T quantize(double v, double full_scale) {
  if (!(v > 0.0)) return 0;  // also catches NaN
  return static_cast<T>(std::lround(std::min(v, 1.0) * full_scale));
}

}  // namespace

NormalizedPixel get_pixel(const HostImage& image, int32_t x, int32_t y) {
  switch (image.depth) {
    case RenderDepth::k8: {
      const PF_Pixel8& p = *pixel_at<PF_Pixel8>(image, x, y);
      return {p.alpha / 255.0, p.red / 255.0, p.green / 255.0, p.blue / 255.0};
    }
    case RenderDepth::k16: {
      const PF_Pixel16& p = *pixel_at<PF_Pixel16>(image, x, y);
      constexpr double s = PF_MAX_CHAN16;
      return {p.alpha / s, p.red / s, p.green / s, p.blue / s};
    }
    case RenderDepth::kFloat: {
      const PF_PixelFloat& p = *pixel_at<PF_PixelFloat>(image, x, y);
      return {p.alpha, p.red, p.green, p.blue};
    }
  }
  return {};
}

void set_pixel(HostImage& image, int32_t x, int32_t y, const NormalizedPixel& v) {
  switch (image.depth) {
    case RenderDepth::k8: {
      constexpr double s = PF_MAX_CHAN8;
      *pixel_at<PF_Pixel8>(image, x, y) = {
          quantize<uint8_t>(v.alpha, s), quantize<uint8_t>(v.red, s), quantize<uint8_t>(v.green, s),
          quantize<uint8_t>(v.blue, s)};
      break;
    }
    case RenderDepth::k16: {
      constexpr double s = PF_MAX_CHAN16;
      *pixel_at<PF_Pixel16>(image, x, y) = {
          quantize<uint16_t>(v.alpha, s), quantize<uint16_t>(v.red, s),
          quantize<uint16_t>(v.green, s), quantize<uint16_t>(v.blue, s)};
      break;
    }
    case RenderDepth::kFloat:
      *pixel_at<PF_PixelFloat>(image, x, y) = {
          static_cast<float>(v.alpha), static_cast<float>(v.red), static_cast<float>(v.green),
          static_cast<float>(v.blue)};
      break;
  }
}
