// Test helpers for the effect module as a host sees it: the built module loaded once per
// test program through the stand-in host, a started instance, parameter indices, and
// deterministic test pictures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "hostsim/hostsim.h"

#ifndef VEILMORA_MODULE_PATH
#error "VEILMORA_MODULE_PATH must name the built module"
#endif

namespace module_test {

// Parameter indices as the host's array holds them.
enum : PF_ParamIndex {
  kRadius = 1,
  kWeight = 2,
  kSpecularBrightness = 3,
  kSpecularThreshold = 4,
  kIrisGroup = 5,
  kShape = 6,
  kEdges = 7,
  kPhase = 8,
  kIrisLayer = 9,
  kIrisGroupEnd = 10,
  kOutside = 11,
};

inline const std::string& module_path() {
  static const std::string path = VEILMORA_MODULE_PATH;
  return path;
}

// The module stays loaded for the whole test program: instances and popup strings refer
// into it.
inline hostsim::Module& module() {
  static std::unique_ptr<hostsim::Module> loaded = hostsim::load_module(module_path());
  return *loaded;
}

// An instance through global setup, parameter setup, sequence setup and the first UI update.
inline std::unique_ptr<hostsim::Instance> started_instance(
    const hostsim::InstanceSettings& settings = {}) {
  auto fx = std::make_unique<hostsim::Instance>(module());
  fx->settings = settings;
  const hostsim::CommandResult started = fx->start();
  EXPECT_EQ(started.err, PF_Err_NONE) << "start failed at command " << started.cmd;
  return fx;
}

// A reproducible picture with varied colours and alpha, in the world's own units.
inline void fill_pattern(hostsim::World& world, uint32_t seed) {
  const double scale = hostsim::full_scale(world.format());
  uint32_t state = seed * 2654435761u + 12345u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
  };
  for (int32_t y = 0; y < world.height(); ++y) {
    for (int32_t x = 0; x < world.width(); ++x) {
      hostsim::Pixel p;
      p.alpha = scale * (next() < 0.2 ? 0.3 * next() : 0.6 + 0.4 * next());
      p.red = scale * next();
      p.green = scale * ((x + y) % 7) / 6.0;
      p.blue = scale * (next() < 0.1 ? 1.0 : 0.5 * next());
      world.write(x, y, p);
    }
  }
}

// Byte-exact comparison of the W x H pixels of two worlds of the same format (padding is
// not compared). Returns the number of differing pixels.
inline int64_t differing_pixels(const hostsim::World& a, const hostsim::World& b) {
  int64_t differing = 0;
  const int32_t pixel = hostsim::pixel_size(a.format());
  for (int32_t y = 0; y < a.height(); ++y) {
    const auto* ra = static_cast<const uint8_t*>(a.effect_world()->data) +
                     static_cast<std::ptrdiff_t>(y) * a.rowbytes();
    const auto* rb = static_cast<const uint8_t*>(b.effect_world()->data) +
                     static_cast<std::ptrdiff_t>(y) * b.rowbytes();
    for (int32_t x = 0; x < a.width(); ++x) {
      if (std::memcmp(ra + x * pixel, rb + x * pixel, pixel) != 0) ++differing;
    }
  }
  return differing;
}

}  // namespace module_test
