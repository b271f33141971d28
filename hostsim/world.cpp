// Effect worlds: storage, views, pixel access, format conversion, the registry that lets the
// World suite and the copy callback recognise hostsim's worlds, and bilinear sampling.
#include "hostsim/world.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "hostsim/internal.h"

namespace hostsim {

int32_t pixel_size(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
      return 4;
    case PF_PixelFormat_ARGB64:
      return 8;
    case PF_PixelFormat_ARGB128:
      return 16;
    default:
      return 0;
  }
}

double full_scale(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
      return PF_MAX_CHAN8;
    case PF_PixelFormat_ARGB64:
      return PF_MAX_CHAN16;
    default:
      return 1.0;
  }
}

const char* format_name(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
      return "8-bit";
    case PF_PixelFormat_ARGB64:
      return "16-bit";
    case PF_PixelFormat_ARGB128:
      return "float";
    default:
      return "unknown";
  }
}

namespace detail {

void register_world(const PF_EffectWorld* world, PF_PixelFormat format) {
  std::lock_guard lock(host().mutex);
  host().worlds[world] = format;
}

void unregister_world(const PF_EffectWorld* world) {
  std::lock_guard lock(host().mutex);
  host().worlds.erase(world);
}

PF_PixelFormat format_of_locked(const PF_EffectWorld* world) {
  if (!world) return PF_PixelFormat_INVALID;
  auto& worlds = host().worlds;
  auto it = worlds.find(world);
  if (it != worlds.end()) return it->second;
  // A copy of one of our records (a layer parameter's `u.ld`, say): same pixels.
  if (world->data)
    for (const auto& [w, f] : worlds)
      if (w->data == world->data && w->rowbytes == world->rowbytes) return f;
  return PF_PixelFormat_INVALID;
}

}  // namespace detail

PF_PixelFormat format_of(const PF_EffectWorld* world) {
  std::lock_guard lock(detail::host().mutex);
  return detail::format_of_locked(world);
}

World::World(PF_PixelFormat format, int32_t width, int32_t height, int32_t rowbytes) {
  const int32_t ps = pixel_size(format);
  if (ps == 0) throw std::invalid_argument("hostsim::World: unknown pixel format");
  if (width < 0 || height < 0)
    throw std::invalid_argument("hostsim::World: negative size " + std::to_string(width) + " x " +
                                std::to_string(height));
  const int64_t tight = int64_t{width} * ps;
  if (tight > std::numeric_limits<int32_t>::max())
    throw std::invalid_argument("hostsim::World: a row of " + std::to_string(width) +
                                " pixels does not fit in rowbytes");
  if (rowbytes == 0) rowbytes = static_cast<int32_t>(tight);
  if (rowbytes < tight || rowbytes % ps != 0)
    throw std::invalid_argument("hostsim::World: rowbytes " + std::to_string(rowbytes) +
                                " must be at least " + std::to_string(tight) +
                                " and a multiple of the pixel size " + std::to_string(ps));
  const uint64_t bytes = uint64_t(rowbytes) * uint64_t(height);
  if (bytes > (uint64_t{1} << 40)) throw std::invalid_argument("hostsim::World: too large");
  format_ = format;
  // At least one pixel, so that even an empty world has pixel data.
  storage_.assign(static_cast<size_t>(bytes) + static_cast<size_t>(ps), 0);
  def_.data = storage_.data();
  def_.rowbytes = rowbytes;
  def_.width = width;
  def_.height = height;
  def_.extent_hint = PF_LRect{0, 0, width, height};
  def_.pix_aspect_ratio = PF_RationalScale{1, 1};
  // As the host marks them: every world handed out is writable, and a 16-bit one is deep.
  def_.world_flags =
      PF_WorldFlag_WRITEABLE | (format == PF_PixelFormat_ARGB64 ? PF_WorldFlag_DEEP : 0);
  register_world();
}

std::unique_ptr<World> World::view(World& parent, const PF_LRect& rect) {
  const PF_LRect r = detail::intersect(rect, PF_LRect{0, 0, parent.width(), parent.height()});
  std::unique_ptr<World> v(new World);
  v->format_ = parent.format_;
  v->def_ = parent.def_;
  v->def_.width = r.right - r.left;
  v->def_.height = r.bottom - r.top;
  v->def_.data = static_cast<uint8_t*>(parent.def_.data) +
                 static_cast<std::ptrdiff_t>(r.top) * parent.def_.rowbytes +
                 static_cast<std::ptrdiff_t>(r.left) * pixel_size(parent.format_);
  v->def_.extent_hint = PF_LRect{0, 0, v->def_.width, v->def_.height};
  v->register_world();
  return v;
}

World::~World() { detail::unregister_world(&def_); }

void World::register_world() { detail::register_world(&def_, format_); }

int32_t World::check_x(int32_t x) const {
  if (x < 0 || x >= def_.width) throw std::out_of_range("hostsim::World: column outside the world");
  return x;
}

void World::check_type(int32_t size_of_pixel) const {
  if (size_of_pixel != pixel_size(format_))
    throw std::out_of_range(std::string("hostsim::World: pixel type does not match the ") +
                            format_name(format_) + " world");
}

namespace {

template <class P>
Pixel to_pixel(const P& p) {
  return Pixel{double(p.alpha), double(p.red), double(p.green), double(p.blue)};
}

template <class C>
C channel(double v, double max) {
  if (!std::isfinite(v)) return C(0);
  if constexpr (std::is_floating_point_v<C>) {
    (void)max;
    return static_cast<C>(v);
  } else {
    if (v <= 0) return C(0);
    if (v >= max) return static_cast<C>(max);
    return static_cast<C>(std::floor(v + 0.5));
  }
}

template <class P>
P from_pixel(const Pixel& p, double max) {
  using C = decltype(P{}.alpha);
  return P{channel<C>(p.alpha, max), channel<C>(p.red, max), channel<C>(p.green, max),
           channel<C>(p.blue, max)};
}

const uint8_t* pixel_address(const PF_EffectWorld* w, int32_t ps, int64_t x, int64_t y) {
  return static_cast<const uint8_t*>(w->data) + y * w->rowbytes + x * ps;
}

Pixel read_raw(const PF_EffectWorld* w, PF_PixelFormat f, int64_t x, int64_t y) {
  const uint8_t* a = pixel_address(w, pixel_size(f), x, y);
  switch (f) {
    case PF_PixelFormat_ARGB32:
      return to_pixel(*reinterpret_cast<const PF_Pixel8*>(a));
    case PF_PixelFormat_ARGB64:
      return to_pixel(*reinterpret_cast<const PF_Pixel16*>(a));
    default:
      return to_pixel(*reinterpret_cast<const PF_PixelFloat*>(a));
  }
}

}  // namespace

Pixel World::read(int32_t x, int32_t y) const {
  check_x(x);
  if (y < 0 || y >= def_.height) throw std::out_of_range("hostsim::World: row outside the world");
  return read_raw(&def_, format_, x, y);
}

void World::write(int32_t x, int32_t y, const Pixel& p) {
  const double max = full_scale(format_);
  switch (format_) {
    case PF_PixelFormat_ARGB32:
      at<PF_Pixel8>(x, y) = from_pixel<PF_Pixel8>(p, max);
      break;
    case PF_PixelFormat_ARGB64:
      at<PF_Pixel16>(x, y) = from_pixel<PF_Pixel16>(p, max);
      break;
    default:
      at<PF_PixelFloat>(x, y) = from_pixel<PF_PixelFloat>(p, max);
      break;
  }
}

void World::fill(const Pixel& p) {
  for (int32_t y = 0; y < height(); ++y)
    for (int32_t x = 0; x < width(); ++x) write(x, y, p);
}

std::unique_ptr<World> World::converted(PF_PixelFormat format) const {
  auto out = std::make_unique<World>(format, width(), height());
  const double k = full_scale(format) / full_scale(format_);
  for (int32_t y = 0; y < height(); ++y)
    for (int32_t x = 0; x < width(); ++x) {
      Pixel p = read(x, y);
      p.alpha *= k;
      p.red *= k;
      p.green *= k;
      p.blue *= k;
      out->write(x, y, p);
    }
  return out;
}

const uint8_t* World::padding(int32_t y) const {
  if (y < 0 || y >= def_.height) throw std::out_of_range("hostsim::World: row outside the world");
  return static_cast<const uint8_t*>(def_.data) + static_cast<std::ptrdiff_t>(y) * def_.rowbytes +
         static_cast<std::ptrdiff_t>(def_.width) * pixel_size(format_);
}

PF_Err sample_bilinear(const PF_EffectWorld* world, PF_PixelFormat format, PF_Fixed x, PF_Fixed y,
                       Pixel* out) {
  if (!world || !world->data || !out || pixel_size(format) == 0) return PF_Err_BAD_CALLBACK_PARAM;
  // floor in 64 bits: positions near the int32 limits must not overflow.
  const int64_t x0 = int64_t{x} >> 16;  // arithmetic shift: floor for negatives too
  const int64_t y0 = int64_t{y} >> 16;
  const double fx = double(int64_t{x} - (x0 << 16)) / 65536.0;
  const double fy = double(int64_t{y} - (y0 << 16)) / 65536.0;
  const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  const int64_t xs[4] = {x0, x0 + 1, x0, x0 + 1};
  const int64_t ys[4] = {y0, y0, y0 + 1, y0 + 1};
  Pixel acc;
  for (int i = 0; i < 4; ++i) {
    if (w[i] == 0 || xs[i] < 0 || ys[i] < 0 || xs[i] >= world->width || ys[i] >= world->height)
      continue;  // outside the layer: transparent black
    const Pixel p = read_raw(world, format, xs[i], ys[i]);
    acc.alpha += w[i] * p.alpha;
    acc.red += w[i] * p.red;
    acc.green += w[i] * p.green;
    acc.blue += w[i] * p.blue;
  }
  if (format != PF_PixelFormat_ARGB128) {
    // Integer formats round to nearest; the weights sum to 1, so no clamping is needed.
    acc.alpha = std::floor(acc.alpha + 0.5);
    acc.red = std::floor(acc.red + 0.5);
    acc.green = std::floor(acc.green + 0.5);
    acc.blue = std::floor(acc.blue + 0.5);
  }
  *out = acc;
  return PF_Err_NONE;
}

}  // namespace hostsim
