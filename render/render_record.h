// The per-frame record that travels from pre-render to render, and the working storage of
// one render call (three complex planes and the transform's work arrays).
#pragma once

#include <cstdint>

#include "api/effect_api.h"

enum : int8_t { kPixelFormat8 = 0, kPixelFormat16 = 1, kPixelFormatFloat = 2 };
enum : int32_t { kShapeCircle = 1, kShapePolygon = 2, kShapeLayer = 3 };
enum : int32_t { kOutsideMirror = 1, kOutsideEdge = 2 };

// Allocated by pre-render in a host handle of exactly this size and cleared to zero; the
// parameter fields are filled by pre-render, the image fields by the render driver.
struct RenderRecord {
  PF_EffectWorld* input_world;
  PF_EffectWorld* output_world;
  PF_Pixel8* input_pixels8;
  PF_Pixel8* output_pixels8;
  int32_t width;
  int32_t height;
  int32_t input_stride;   // input rowbytes / pixel size
  int32_t output_stride;  // output rowbytes / pixel size
  int32_t input_slack;    // input stride - width
  int32_t output_slack;   // output stride - width
  int8_t pixel_format;    // kPixelFormat8, kPixelFormat16 or kPixelFormatFloat
  PF_Pixel16* input_pixels16;
  PF_Pixel16* output_pixels16;
  PF_PixelFloat* input_pixels_float;
  PF_PixelFloat* output_pixels_float;
  double radius;             // "Radius", pixels at full resolution
  double downsample_factor;  // horizontal downsample ratio of the host
  int32_t shape;             // kShapeCircle, kShapePolygon, kShapeLayer
  int32_t edges;
  double specular_brightness;
  int32_t specular_threshold;
  double phase;        // radians
  double weight_base;  // 1 + Weight x 0.01
  int32_t outside_mode;
  // The host's disposal routine for the handle holding this record. The host frees a
  // frame's pre-render data through a callback that receives only the data itself, so the
  // record carries the routine that can give its handle back. Set by pre-render right after
  // the lock and kept when the record is cleared.
  void (*dispose_own_handle)(PF_Handle handle);
  // Where the output lies inside the input world. A render of part of a layer checks the
  // input out with a margin around the output, so the blur near the output's edges reads
  // the layer's real neighbours: the input then reaches this many pixels beyond the output
  // on each side (fewer where the layer itself ends). The output is (width - left - right)
  // x (height - top - bottom) pixels and its first pixel is input pixel (left, top). All
  // four are 0 when the output covers the input world exactly. Filled by pre-render from
  // the output's rectangle and the input's, after the record is cleared.
  int32_t input_beyond_left;
  int32_t input_beyond_top;
  int32_t input_beyond_right;
  int32_t input_beyond_bottom;
};

// The size of the output grid the tile stage writes, from the record's input size and margins.
inline int32_t output_width_of(const RenderRecord& rec) {
  return rec.width - rec.input_beyond_left - rec.input_beyond_right;
}
inline int32_t output_height_of(const RenderRecord& rec) {
  return rec.height - rec.input_beyond_top - rec.input_beyond_bottom;
}

// One complex plane of the tile size: n row references, each to 2n interleaved doubles.
// rows[a] holds one image column of a tile: element [a][b] is image (x + a, y + b).
struct ComplexPlane {
  double** rows;
};

// A plane's data block: its 2n x n doubles and a cache line's worth more, so that its first
// row (and with it every row of n >= 4, 16n bytes long) can start on a 64-byte cache line
// wherever the allocator put the block. Vector loads and stores of the transforms and pixel
// loops then never straddle two lines: with rows 16 bytes into a line, as a plain allocator
// hands them out, a 512 x 512 transform pair took a tenth longer on the AVX-512 path (the
// same on the AVX2 one) and 1080p renders a twentieth longer on both (AMD EPYC Zen 4).
constexpr uint64_t kPlaneAlignment = 64;
inline uint64_t plane_block_doubles(int32_t n) {
  return 2 * static_cast<uint64_t>(n) * static_cast<uint64_t>(n) + kPlaneAlignment / sizeof(double);
}
// Where the first row of a plane starts in a block of plane_block_doubles(n) doubles.
inline double* plane_first_row(double* block) {
  const auto address = reinterpret_cast<uintptr_t>(block);
  const auto past =
      static_cast<uintptr_t>((kPlaneAlignment - address % kPlaneAlignment) % kPlaneAlignment);
  // A block not even aligned to its doubles is used as it stands.
  return past % sizeof(double) == 0 ? block + past / sizeof(double) : block;
}

// Everything the tile stage works in, allocated once per render by the driver.
struct WorkingPlanes {
  ComplexPlane rg;      // red in the real parts, green in the imaginary parts
  ComplexPlane ba;      // blue in the real parts, alpha in the imaginary parts
  ComplexPlane kernel;  // the iris kernel, then its spectrum
  int32_t* fft_work;    // entry 0 set to 0 before the first transform
  double* fft_table;    // n / 2 + 2n doubles
  // 16-bit renders: colour_table_entries() doubles for the plane value of every colour
  // channel value, filled once per render by the tile stage. Null: computed per pixel.
  double* colour_table = nullptr;
};

// Sizes of the transform work arrays for tile size n.
inline int32_t fft_work_entries(int32_t n) {
  int32_t root = 0;
  while ((root + 1) * (root + 1) <= n) ++root;  // floor(sqrt(n + 0.5)) for n >= 0
  return 2 + root;
}
inline int32_t fft_table_entries(int32_t n) { return n / 2 + 2 * n; }

// The 16-bit colour table covers the channel values 0..32768. The 8-bit one (256 values)
// is small enough for the tile stage's own stack; float has none.
constexpr int32_t kColour16Entries = 32769;
inline int32_t colour_table_entries(int8_t pixel_format) {
  return pixel_format == kPixelFormat16 ? kColour16Entries : 0;
}
