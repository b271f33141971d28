// Helpers for the frei0r filter's tests: the filter loaded with dlopen through its C
// functions, RGBA test frames, the filter's parameter values in [0, 1] beside the effect
// values they stand for, and the same frame rendered by the effect module through the
// stand-in host (the reference every filter frame is compared with).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

namespace frei0r_test {

// The filter's exported functions.
struct Filter {
  void* library = nullptr;
  int (*init)();
  void (*deinit)();
  void (*get_plugin_info)(f0r_plugin_info_t*);
  void (*get_param_info)(f0r_param_info_t*, int);
  f0r_instance_t (*construct)(unsigned, unsigned);
  void (*destruct)(f0r_instance_t);
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int);
  void (*get_param_value)(f0r_instance_t, f0r_param_t, int);
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*,
                  uint32_t*);
};

template <class F>
void bind(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (function == nullptr) ADD_FAILURE() << "the filter does not export " << name;
}

// Loaded once per test program and initialised as a host does.
inline const Filter& filter() {
  static const Filter loaded = [] {
    Filter f{};
    f.library = dlopen(VEILMORA_FREI0R_PATH, RTLD_NOW | RTLD_LOCAL);
    if (f.library == nullptr) {
      ADD_FAILURE() << "dlopen " << VEILMORA_FREI0R_PATH << ": " << dlerror();
      return f;
    }
    bind(f.library, "f0r_init", f.init);
    bind(f.library, "f0r_deinit", f.deinit);
    bind(f.library, "f0r_get_plugin_info", f.get_plugin_info);
    bind(f.library, "f0r_get_param_info", f.get_param_info);
    bind(f.library, "f0r_construct", f.construct);
    bind(f.library, "f0r_destruct", f.destruct);
    bind(f.library, "f0r_set_param_value", f.set_param_value);
    bind(f.library, "f0r_get_param_value", f.get_param_value);
    bind(f.library, "f0r_update", f.update);
    bind(f.library, "f0r_update2", f.update2);
    if (f.init != nullptr) {
      EXPECT_EQ(f.init(), 1);
    }
    return f;
  }();
  return loaded;
}

// One RGBA8888 frame, 4 bytes a pixel, rows without padding; 16-byte aligned as frei0r asks.
struct Frame {
  int width = 0, height = 0;
  std::vector<uint32_t> words;
  Frame(int w, int h) : width(w), height(h), words(static_cast<size_t>(w) * h) {}
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(words.data()); }
  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(words.data()); }
  uint8_t* pixel(int x, int y) { return bytes() + (static_cast<size_t>(y) * width + x) * 4; }
  bool operator==(const Frame& other) const {
    return width == other.width && height == other.height && words == other.words;
  }
};

// A reproducible frame with varied colours, some transparent pixels, some fully opaque
// highlights and every alpha level in between.
inline Frame pattern_frame(int w, int h, uint32_t seed) {
  Frame frame(w, h);
  uint32_t state = seed * 2654435761u + 977u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = frame.pixel(x, y);
      const uint8_t roll = next();
      p[0] = next();
      p[1] = static_cast<uint8_t>((x * 7 + y * 3) % 256);
      p[2] = roll < 25 ? 255 : next();
      p[3] = roll < 40 ? 0 : (roll < 60 ? next() : static_cast<uint8_t>(200 + next() % 56));
    }
  }
  return frame;
}

// A setting of the eight controls: the [0, 1] numbers and strings a frei0r host sends, and
// the effect values they stand for, each worked out by hand from the mapping (the numbers
// are chosen so that the products are exact).
struct Setting {
  const char* label;
  double radius01, weight01, brightness01, threshold01;
  const char* shape;
  double edges01, phase01;
  const char* outside;
  // The same in the effect's units.
  double radius, weight, brightness;
  int32_t threshold;
  int32_t shape_choice;  // 1 circle, 2 polygon
  int32_t edges;
  double phase_degrees;
  int32_t outside_choice;  // 1 mirror, 2 edge
};

inline const std::vector<Setting>& settings() {
  static const std::vector<Setting> all = {
      {"circle_mirror_weighted", 0.0625, 0.25, 0.5, 200.0 / 255.0, "circle", 5.0 / 13.0, 0.0,
       "mirror", 18.75, 2.5, 1.25, 200, 1, 8, 0.0, 1},
      {"circle_edge_unweighted", 0.03125, 0.0, 0.0, 1.0, "circle", 0.0, 0.0, "edge", 9.375, 0.0,
       1.0, 255, 1, 3, 0.0, 2},
      {"polygon_mirror_unweighted", 0.046875, 0.0, 1.0, 0.5, "polygon", 3.0 / 13.0, 0.125, "mirror",
       14.0625, 0.0, 1.5, 128, 2, 6, 45.0, 1},
      {"polygon_edge_weighted", 0.0234375, 1.0, 0.25, 0.0, "polygon", 1.0, 0.375, "edge", 7.03125,
       10.0, 1.125, 0, 2, 16, 135.0, 2},
  };
  return all;
}

inline void set_number(f0r_instance_t instance, int index, double value) {
  filter().set_param_value(instance, &value, index);
}
inline void set_string(f0r_instance_t instance, int index, const char* value) {
  f0r_param_string text = const_cast<char*>(value);
  filter().set_param_value(instance, &text, index);
}
inline double get_number(f0r_instance_t instance, int index) {
  double value = -12345.0;
  filter().get_param_value(instance, &value, index);
  return value;
}
inline std::string get_string(f0r_instance_t instance, int index) {
  f0r_param_string text = nullptr;
  filter().get_param_value(instance, &text, index);
  return text == nullptr ? std::string("(null)") : std::string(text);
}

inline void apply(f0r_instance_t instance, const Setting& s) {
  set_number(instance, 0, s.radius01);
  set_number(instance, 1, s.weight01);
  set_number(instance, 2, s.brightness01);
  set_number(instance, 3, s.threshold01);
  set_string(instance, 4, s.shape);
  set_number(instance, 5, s.edges01);
  set_number(instance, 6, s.phase01);
  set_string(instance, 7, s.outside);
}

// A filter instance for frames of w x h, destructed with the object.
struct Instance {
  f0r_instance_t handle;
  Instance(int w, int h) : handle(filter().construct(w, h)) {}
  ~Instance() {
    if (handle != nullptr) filter().destruct(handle);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  Frame render(const Frame& in) {
    Frame out(in.width, in.height);
    filter().update(handle, 0.0, in.words.data(), out.words.data());
    return out;
  }
};

// The frame as the effect module renders it (8-bit ARGB world) through the stand-in host.
Frame module_render(const Frame& in, const Setting& s);

}  // namespace frei0r_test
