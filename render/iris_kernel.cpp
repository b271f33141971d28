// The iris kernels: the lens aperture drawn into the kernel plane, centred on element
// [n/2][n/2], first index along x. Circle and polygon get a rim ramp two pixels wide so
// the blurred edges do not alias; the layer iris is another layer's image scaled so that
// its longer side spans the diameter 2R.
#include "render/iris_kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// The host's math routines where it hands them, the platform's otherwise (same meaning).
struct KernelMath {
  double (*sqrt)(double);
  double (*cos)(double);
  double (*atan2)(double, double);
  double (*fmod)(double, double);
};

KernelMath kernel_math(const PF_ANSICallbacks& ansi) {
  KernelMath m{};
  m.sqrt = ansi.sqrt != nullptr ? ansi.sqrt : static_cast<double (*)(double)>(std::sqrt);
  m.cos = ansi.cos != nullptr ? ansi.cos : static_cast<double (*)(double)>(std::cos);
  m.atan2 =
      ansi.atan2 != nullptr ? ansi.atan2 : static_cast<double (*)(double, double)>(std::atan2);
  m.fmod = ansi.fmod != nullptr ? ansi.fmod : static_cast<double (*)(double, double)>(std::fmod);
  return m;
}

// 1 up to s = R - 1, then linearly down to 0.5 at s = R and 0 at s = R + 1.
double rim(double s, double radius) {
  const double f = s - radius + 1.0;
  if (f < 0.0) return 1.0;
  if (f > 2.0) return 0.0;
  return 1.0 - 0.5 * f;
}

void store(const ComplexPlane& kernel, int32_t a, int32_t b, double value, double& kernel_sum) {
  kernel.rows[a][2 * b] = value;
  kernel.rows[a][2 * b + 1] = 0.0;
  kernel_sum += value;
}

// Zeros over the elements [from, to) of kernel row a; they add nothing to the sum.
void clear(const ComplexPlane& kernel, int32_t a, int32_t from, int32_t to) {
  if (from < to) std::fill(kernel.rows[a] + 2 * from, kernel.rows[a] + 2 * to, 0.0);
}

void build_circle(double radius, int32_t n, const KernelMath& math, const ComplexPlane& kernel,
                  double& kernel_sum) {
  const int32_t centre = n / 2;
  // Well inside R - 1 the ramp gives 1 and well beyond R + 1 it gives 0, however the root
  // rounds, so only the ring between takes one: a plane of 1024^2 has only a few thousand.
  const double inner = radius > 1.0 ? (radius - 1.0) * (radius - 1.0) * (1.0 - 1e-9) : -1.0;
  const double outer = (radius + 1.0) * (radius + 1.0) * (1.0 + 1e-9);
  for (int32_t a = 0; a < n; ++a) {
    const double dx = a - centre;
    // Only the elements within the outer circle's chord (and one more each side, whatever
    // the root's rounding) can be other than 0: the rest of the row is cleared in one go,
    // and the sum, which zeros leave as it is, gets the same values in the same order.
    const double room = outer - dx * dx;
    const double half_chord = room > 0.0 ? std::ceil(std::sqrt(room)) + 1.0 : -1.0;
    const int32_t from =
        half_chord < 0.0 ? n : static_cast<int32_t>(std::max(0.0, centre - half_chord));
    const int32_t to =
        half_chord < 0.0
            ? n
            : static_cast<int32_t>(std::min(static_cast<double>(n), centre + half_chord + 1.0));
    clear(kernel, a, 0, from);
    for (int32_t b = from; b < to; ++b) {
      const double dy = b - centre;
      const double d2 = dx * dx + dy * dy;
      const double value = d2 < inner ? 1.0 : (d2 > outer ? 0.0 : rim(math.sqrt(d2), radius));
      store(kernel, a, b, value, kernel_sum);
    }
    clear(kernel, a, to, n);
  }
}

// A regular polygon with its corners on the circle of radius R, in the directions
// theta = -phase + k x 2 pi / edges. Scaling the distance by cos(t) / cos(pi / edges), t
// being the angle from the nearest side's normal, turns the outline into s = R.
void build_polygon(double radius, int32_t n, int32_t edges, double phase, const KernelMath& math,
                   const ComplexPlane& kernel, double& kernel_sum) {
  const int32_t centre = n / 2;
  const double h = kPi / edges;
  const double c = 1.0 / math.cos(h);
  const double r2 = radius * radius;
  const double q = math.fmod(phase, kTwoPi) + kTwoPi;
  for (int32_t a = 0; a < n; ++a) {
    const double dx = a - centre;
    for (int32_t b = 0; b < n; ++b) {
      const double dy = b - centre;
      const double d2 = dx * dx + dy * dy;
      double value = 0.0;
      if (d2 <= r2) {
        const double d = math.sqrt(d2);
        // theta + q is negative for some directions when the phase is negative; the
        // remainder is then taken into [0, 2h) as well so every direction finds its side.
        double u = math.fmod(math.atan2(dy, dx) + q, 2.0 * h);
        if (u < 0.0) u += 2.0 * h;
        const double t = u - h;
        value = rim(math.cos(t) * c * d, radius);
      }
      store(kernel, a, b, value, kernel_sum);
    }
  }
}

// 16.16 fixed point, rounded half away from zero; positions beyond the 32-bit range are
// held at its ends (they lie far outside any layer either way).
PF_Fixed to_fixed(double v) {
  const double t = v * 65536.0 + (v < 0.0 ? -0.5 : 0.5);
  if (t >= 2147483647.0) return INT32_MAX;
  if (t <= -2147483648.0) return INT32_MIN;
  return static_cast<PF_Fixed>(t);
}

double layer_value(const PF_Pixel8& px) {
  const int32_t m = std::max({px.red, px.green, px.blue});
  return m * px.alpha / 65025.0;
}
double layer_value(const PF_Pixel16& px) {
  const int32_t m = std::max({px.red, px.green, px.blue});
  return m * (px.alpha / 32768.0) / 32768.0;
}
// A non-finite channel counts as 0, as it does in the tile stage: one NaN or infinity in the
// kernel would spread through its spectrum into every pixel of the frame.
double finite_or_zero(float c) { return std::isfinite(c) ? static_cast<double>(c) : 0.0; }
double layer_value(const PF_PixelFloat& px) {
  const double m =
      std::max({finite_or_zero(px.red), finite_or_zero(px.green), finite_or_zero(px.blue)});
  return m * finite_or_zero(px.alpha);
}

template <typename Pixel, typename Sample>
PF_Err build_layer(double radius, int32_t n, const PF_EffectWorld& layer, Sample sample,
                   PF_ProgPtr effect_ref, const ComplexPlane& kernel, double& kernel_sum) {
  const double lw = layer.width;
  const double lh = layer.height;
  const double scale = 0.5 * std::max(lw, lh) / radius;
  const int32_t centre = n / 2;

  PF_SampPB params{};
  params.src = const_cast<PF_EffectWorld*>(&layer);

  PF_Err err = PF_Err_NONE;
  Pixel last{};  // the last pixel read; fills the rest of the plane after a failed call
  for (int32_t a = 0; a < n; ++a) {
    // The centre element samples the layer's centre even at a zero radius.
    const double x = lw / 2.0 + (a == centre ? 0.0 : scale * (a - centre));
    const PF_Fixed x_fixed = to_fixed(x);
    for (int32_t b = 0; b < n; ++b) {
      const double y = lh / 2.0 + (b == centre ? 0.0 : scale * (b - centre));
      if (err == PF_Err_NONE) {
        Pixel px{};
        err = sample(effect_ref, x_fixed, to_fixed(y), &params, &px);
        if (err == PF_Err_NONE) last = px;
      }
      store(kernel, a, b, layer_value(last), kernel_sum);
    }
  }
  return err;
}

bool is_power_of_two(int32_t n) { return n >= 2 && (n & (n - 1)) == 0; }

}  // namespace

PF_Err build_kernel(const KernelRequest& request, const IrisSampler& sampler,
                    const PF_ANSICallbacks& ansi, const ComplexPlane& kernel, double& kernel_sum) {
  // Refuse what cannot be drawn before touching the plane.
  if (kernel.rows == nullptr || !is_power_of_two(request.n) || !(request.radius >= 0.0) ||
      !std::isfinite(request.radius)) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const KernelMath math = kernel_math(ansi);
  const bool layer_pixels = request.iris_layer != nullptr && request.iris_layer->data != nullptr;

  switch (request.shape) {
    case kShapeCircle:
      build_circle(request.radius, request.n, math, kernel, kernel_sum);
      return PF_Err_NONE;
    case kShapePolygon:
      // Fewer than three corners is no polygon (two would divide by cos(pi / 2) = 0).
      if (request.edges < 3 || !std::isfinite(request.phase)) return PF_Err_BAD_CALLBACK_PARAM;
      build_polygon(request.radius, request.n, request.edges, request.phase, math, kernel,
                    kernel_sum);
      return PF_Err_NONE;
    case kShapeLayer:
      break;
    default:
      return PF_Err_BAD_CALLBACK_PARAM;
  }

  // A layer iris with no layer chosen (or nothing at this time) draws the circle.
  if (!layer_pixels) {
    build_circle(request.radius, request.n, math, kernel, kernel_sum);
    return PF_Err_NONE;
  }
  const PF_EffectWorld& layer = *request.iris_layer;
  switch (request.pixel_format) {
    case kPixelFormat8:
      if (sampler.sampling8 == nullptr || sampler.sampling8->subpixel_sample == nullptr) break;
      return build_layer<PF_Pixel8>(request.radius, request.n, layer,
                                    sampler.sampling8->subpixel_sample, sampler.effect_ref, kernel,
                                    kernel_sum);
    case kPixelFormat16:
      if (sampler.sampling16 == nullptr || sampler.sampling16->subpixel_sample16 == nullptr) break;
      return build_layer<PF_Pixel16>(request.radius, request.n, layer,
                                     sampler.sampling16->subpixel_sample16, sampler.effect_ref,
                                     kernel, kernel_sum);
    case kPixelFormatFloat:
      if (sampler.sampling_float == nullptr ||
          sampler.sampling_float->subpixel_sample_float == nullptr) {
        break;
      }
      return build_layer<PF_PixelFloat>(request.radius, request.n, layer,
                                        sampler.sampling_float->subpixel_sample_float,
                                        sampler.effect_ref, kernel, kernel_sum);
    default:
      break;
  }
  // No sampler for the render's pixel format, or a format we do not know.
  return PF_Err_BAD_CALLBACK_PARAM;
}
