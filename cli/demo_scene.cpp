// Drawing of the demo scene and the star iris, in normalised colour with antialiased edges.
#include "cli/demo_scene.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

struct Rgb {
  double r, g, b;
};

// A small deterministic generator (xorshift64*), so the scene is the same everywhere.
struct Random {
  uint64_t state;
  double next() {  // uniform in [0, 1)
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<double>((state * 2685821657736338717ull) >> 11) * 0x1.0p-53;
  }
  double range(double lo, double hi) { return lo + (hi - lo) * next(); }
};

struct Canvas {
  int32_t width, height;
  std::vector<Rgb> color;
  std::vector<double> alpha;

  Rgb& at(int32_t x, int32_t y) { return color[static_cast<size_t>(y) * width + x]; }

  // Blends `c` over the pixel with `coverage` (0..1).
  void blend(int32_t x, int32_t y, const Rgb& c, double coverage) {
    if (x < 0 || y < 0 || x >= width || y >= height || coverage <= 0) return;
    coverage = std::min(coverage, 1.0);
    Rgb& p = at(x, y);
    p = {p.r + (c.r - p.r) * coverage, p.g + (c.g - p.g) * coverage, p.b + (c.b - p.b) * coverage};
  }

  // An antialiased disc: coverage falls from 1 to 0 across the last pixel of the radius.
  void disc(double cx, double cy, double radius, const Rgb& c) {
    const int32_t x0 = static_cast<int32_t>(std::floor(cx - radius - 1));
    const int32_t x1 = static_cast<int32_t>(std::ceil(cx + radius + 1));
    const int32_t y0 = static_cast<int32_t>(std::floor(cy - radius - 1));
    const int32_t y1 = static_cast<int32_t>(std::ceil(cy + radius + 1));
    for (int32_t y = y0; y <= y1; ++y) {
      for (int32_t x = x0; x <= x1; ++x) {
        const double d = std::hypot(x - cx, y - cy);
        blend(x, y, c, radius + 0.5 - d);
      }
    }
  }

  void rect(int32_t x0, int32_t y0, int32_t w, int32_t h, const Rgb& c) {
    for (int32_t y = y0; y < y0 + h; ++y) {
      for (int32_t x = x0; x < x0 + w; ++x) blend(x, y, c, 1.0);
    }
  }

  // A thin ring, as the small shapes of signs and lamps.
  void ring(double cx, double cy, double radius, const Rgb& c) {
    for (int32_t y = static_cast<int32_t>(cy - radius - 2); y <= cy + radius + 2; ++y) {
      for (int32_t x = static_cast<int32_t>(cx - radius - 2); x <= cx + radius + 2; ++x) {
        const double d = std::abs(std::hypot(x - cx, y - cy) - radius);
        blend(x, y, c, 1.0 - d);
      }
    }
  }

  HostImage to_image(RenderDepth depth) const {
    HostImage image = make_host_image(width, height, depth);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        set_pixel(image, x, y, {alpha[i], color[i].r, color[i].g, color[i].b});
      }
    }
    return image;
  }
};

const Rgb kLightColors[] = {
    {1.0, 0.96, 0.88},  // warm white
    {1.0, 0.62, 0.22},  // sodium orange
    {1.0, 0.82, 0.45},  // tungsten
    {0.55, 0.85, 1.0},  // cool blue
    {1.0, 0.25, 0.2},   // red
    {0.35, 1.0, 0.55},  // green
};

}  // namespace

HostImage make_night_scene(int32_t width, int32_t height, RenderDepth depth) {
  Canvas canvas{width, height, {}, {}};
  canvas.color.resize(static_cast<size_t>(width) * height);
  canvas.alpha.assign(static_cast<size_t>(width) * height, 1.0);
  Random random{0x5eed5eed1234abcdull};

  // Sky: deep blue at the top, a faint violet glow toward the horizon.
  for (int32_t y = 0; y < height; ++y) {
    const double t = static_cast<double>(y) / std::max(height - 1, 1);
    const Rgb sky{0.015 + 0.09 * t * t, 0.02 + 0.035 * t, 0.07 + 0.08 * t};
    for (int32_t x = 0; x < width; ++x) canvas.at(x, y) = sky;
  }

  // Distant stars: faint single points in the upper part.
  for (int i = 0; i < width * height / 1500; ++i) {
    const double x = random.range(0, width), y = random.range(0, height * 0.45);
    const double level = random.range(0.35, 0.8);
    canvas.disc(x, y, 0.3, {level, level, level * 1.05});
  }

  // Buildings: dark blocks along the lower half with lit windows (small warm rectangles).
  const int32_t ground = height * 78 / 100;
  for (int32_t x = 0; x < width;) {
    const int32_t w = static_cast<int32_t>(random.range(width * 0.05, width * 0.12));
    const int32_t top = static_cast<int32_t>(random.range(height * 0.42, height * 0.68));
    const double shade = random.range(0.015, 0.04);
    canvas.rect(x, top, w, height - top, {shade, shade, shade * 1.4});
    for (int32_t wy = top + 6; wy + 4 < ground; wy += 9) {
      for (int32_t wx = x + 4; wx + 3 < x + w - 2; wx += 7) {
        if (random.next() < 0.25) {
          const Rgb& c = kLightColors[random.next() < 0.8 ? 2 : 3];
          canvas.rect(wx, wy, 3, 4, {c.r * 0.5, c.g * 0.5, c.b * 0.5});
        }
      }
    }
    x += w;
  }

  // A street: a row of lamps along a gentle curve, and car lights near the bottom.
  for (int i = 0; i < 14; ++i) {
    const double x = width * (0.04 + 0.07 * i);
    const double y = ground - 10 + 6 * std::sin(i * 0.7);
    canvas.disc(x, y, 2.2, kLightColors[1]);
  }
  for (int i = 0; i < 10; ++i) {
    const double x = random.range(0, width);
    const double y = random.range(ground + 8, height - 6);
    const Rgb& c = random.next() < 0.5 ? kLightColors[0] : kLightColors[4];
    canvas.disc(x, y, 1.6, c);
    canvas.disc(x + 7, y, 1.6, c);
  }

  // Scattered bright points of every colour: the highlights that bloom into bokeh.
  for (int i = 0; i < 70; ++i) {
    const double x = random.range(0, width), y = random.range(height * 0.3, height);
    canvas.disc(x, y, random.range(0.6, 2.5), kLightColors[i % 6]);
  }

  // Small shapes: rings (signs), a cross and a short bar of light.
  canvas.ring(width * 0.22, height * 0.36, 5, kLightColors[3]);
  canvas.ring(width * 0.71, height * 0.41, 4, kLightColors[4]);
  canvas.rect(width * 58 / 100, height * 30 / 100, 9, 2, kLightColors[5]);
  canvas.rect(width * 58 / 100 + 3, height * 30 / 100 - 3, 2, 8, kLightColors[5]);
  canvas.rect(width * 40 / 100, height * 52 / 100, 16, 2, kLightColors[0]);

  // Alpha edge: the right border fades to transparent, so the blur's alpha handling shows.
  const int32_t fade = std::max(width / 12, 1);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = width - fade; x < width; ++x) {
      if (x < 0) continue;
      canvas.alpha[static_cast<size_t>(y) * width + x] = static_cast<double>(width - 1 - x) / fade;
    }
  }
  return canvas.to_image(depth);
}

HostImage make_star_iris(int32_t size, RenderDepth depth) {
  HostImage image = make_host_image(size, size, depth);
  const double c = (size - 1) / 2.0;
  const double outer = size * 0.48, inner = outer * 0.45;
  // The star's outline: ten corners alternating between the tips and the notches, the first
  // tip pointing up; a point is inside when a ray from it crosses the outline an odd number of
  // times.
  double corner_x[10], corner_y[10];
  for (int i = 0; i < 10; ++i) {
    const double r = i % 2 == 0 ? outer : inner;
    const double angle = i * kPi / 5;
    corner_x[i] = c + r * std::sin(angle);
    corner_y[i] = c - r * std::cos(angle);
  }
  auto inside = [&](double x, double y) {
    bool odd = false;
    for (int i = 0, j = 9; i < 10; j = i++) {
      if ((corner_y[i] > y) != (corner_y[j] > y) &&
          x < corner_x[i] +
                  (y - corner_y[i]) * (corner_x[j] - corner_x[i]) / (corner_y[j] - corner_y[i])) {
        odd = !odd;
      }
    }
    return odd;
  };
  constexpr int kSub = 4;
  for (int32_t y = 0; y < size; ++y) {
    for (int32_t x = 0; x < size; ++x) {
      int hits = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          hits += inside(x + (sx + 0.5) / kSub - 0.5, y + (sy + 0.5) / kSub - 0.5) ? 1 : 0;
        }
      }
      const double coverage = static_cast<double>(hits) / (kSub * kSub);
      set_pixel(image, x, y, {coverage, 1.0, 1.0, 1.0});
    }
  }
  return image;
}
