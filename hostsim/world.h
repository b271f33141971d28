// Effect worlds owned by the stand-in host: the input and output layers of a frame and the
// iris layer, in the three pixel formats, with optional row padding; pixel access for tests
// and the command-line tool; and the sub-pixel sampling rule the sampling suites use.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "api/effect_api.h"

namespace hostsim {

// Bytes per pixel of a format code (4, 8 or 16); 0 for any other code.
int32_t pixel_size(PF_PixelFormat format);
// The full-scale channel value of a format: 255, 32768 or 1.0.
double full_scale(PF_PixelFormat format);
// "8-bit", "16-bit", "float" or "unknown".
const char* format_name(PF_PixelFormat format);

// One pixel in the world's own channel units (0..255, 0..32768, or float as stored).
struct Pixel {
  double alpha = 0, red = 0, green = 0, blue = 0;
};

// A world: its `PF_EffectWorld` record (what the module sees) and the pixels behind it.
// A world never moves (no copy, no move), so the record's address can be handed to the
// module. Every world registers itself with the host while it lives, so the World suite's
// `PF_GetPixelFormat` and the world `copy` callback recognise it.
class World {
 public:
  // Zero-filled pixels. `rowbytes` 0 means tight rows (width x pixel size); otherwise it
  // must be at least that and a multiple of the pixel size. Throws std::invalid_argument
  // naming the problem for an unknown format, negative sizes, bad rowbytes, or sizes whose
  // byte count does not fit.
  World(PF_PixelFormat format, int32_t width, int32_t height, int32_t rowbytes = 0);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // A world that shows the pixels of `parent` inside `rect` (clipped to the parent) without
  // owning them; the parent must outlive it.
  static std::unique_ptr<World> view(World& parent, const PF_LRect& rect);

  PF_PixelFormat format() const { return format_; }
  int32_t width() const { return def_.width; }
  int32_t height() const { return def_.height; }
  int32_t rowbytes() const { return def_.rowbytes; }
  PF_EffectWorld* effect_world() { return &def_; }
  const PF_EffectWorld* effect_world() const { return &def_; }

  // Typed access. The type must match the format (PF_Pixel8, PF_Pixel16, PF_PixelFloat);
  // a mismatch or a position outside the world throws std::out_of_range.
  template <class P>
  P* row(int32_t y);
  template <class P>
  const P* row(int32_t y) const;
  template <class P>
  P& at(int32_t x, int32_t y) {
    return row<P>(y)[check_x(x)];
  }
  template <class P>
  const P& at(int32_t x, int32_t y) const {
    return row<P>(y)[check_x(x)];
  }

  // Format-independent access in the world's own units. write() rounds to nearest and
  // clamps integer formats to 0..full scale; a non-finite value is stored as 0.
  Pixel read(int32_t x, int32_t y) const;
  void write(int32_t x, int32_t y, const Pixel& p);
  void fill(const Pixel& p);

  // A new tight world in `format` with every channel rescaled by the ratio of full scales
  // (rounded to nearest and clamped for integer formats).
  std::unique_ptr<World> converted(PF_PixelFormat format) const;

  // The bytes of the padding of row y (between width x pixel size and rowbytes), so tests can
  // check that nothing wrote there.
  const uint8_t* padding(int32_t y) const;
  int32_t padding_bytes() const { return def_.rowbytes - def_.width * pixel_size(format_); }

 private:
  World() = default;
  int32_t check_x(int32_t x) const;
  void check_type(int32_t size_of_pixel) const;
  void register_world();

  PF_PixelFormat format_ = PF_PixelFormat_INVALID;
  PF_EffectWorld def_{};
  std::vector<uint8_t> storage_;  // empty for a view
};

template <class P>
P* World::row(int32_t y) {
  return const_cast<P*>(static_cast<const World*>(this)->row<P>(y));
}

template <class P>
const P* World::row(int32_t y) const {
  check_type(static_cast<int32_t>(sizeof(P)));
  if (y < 0 || y >= def_.height) throw std::out_of_range("hostsim::World: row outside the world");
  return reinterpret_cast<const P*>(static_cast<const uint8_t*>(def_.data) +
                                    static_cast<std::ptrdiff_t>(y) * def_.rowbytes);
}

// The format of a world hostsim made (or a view of one), found by the record's address or,
// failing that, by its pixel pointer; PF_PixelFormat_INVALID when unknown.
PF_PixelFormat format_of(const PF_EffectWorld* world);

// Sub-pixel sampling as the sampling suites answer it. Positions are 16.16 fixed point in
// pixel units with pixel centres at integer coordinates: pixel (i, j) is sampled exactly at
// (i << 16, j << 16). Between centres the value is bilinear in the four surrounding pixels,
// (x0, y0), (x0 + 1, y0), (x0, y0 + 1), (x0 + 1, y0 + 1) with x0 = floor(x), y0 = floor(y),
// weighted (1 - fx)(1 - fy), fx (1 - fy), (1 - fx) fy and fx fy, each channel on its own
// (straight, not premultiplied); a neighbour outside the world counts as transparent black
// (all four channels 0). So a position one pixel or more beyond the edge gives transparent
// black, and at the edge the values fade out over one pixel. Integer formats round to
// nearest; float is computed in double and stored as float.
// Returns PF_Err_BAD_CALLBACK_PARAM for a null world or null pixel data.
PF_Err sample_bilinear(const PF_EffectWorld* world, PF_PixelFormat format, PF_Fixed x, PF_Fixed y,
                       Pixel* out);

}  // namespace hostsim
