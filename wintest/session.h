// The session the Windows test program runs against the Windows module under wine, and the
// Linux test runs against the Linux module: the whole command protocol and a fixed set of
// renders of the generated night scene. Both sides compile this same source, so whatever
// differs between their results comes from the module and the platform, not from the driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/effect_api.h"
#include "hostsim/hostsim.h"

namespace wintest {

// The scene and iris of `veilmora demo`, at its size: at radius 12 the blur spans two tiles
// of 512 pixels.
constexpr int32_t kSceneWidth = 640;
constexpr int32_t kSceneHeight = 360;
constexpr int32_t kIrisSize = 64;

struct RenderCase {
  std::string name;  // also the stem of its file, e.g. "polygon-16bit"
  PF_PixelFormat format = PF_PixelFormat_ARGB32;
  int32_t shape = 1;     // "Shape": 1 Circle, 2 Polygon, 3 Layer
  int32_t edges = 8;     // "Edges"
  PF_Fixed phase = 0;    // "Phase", 16.16 degrees
  int32_t outside = 1;   // "Outside": 1 Mirror, 2 Edge
  double radius = 12.0;  // "Radius"
  // Only this part of the scene is asked for (kRegion); the rest of the output stays 0.
  bool region = false;
  // Sent as Premiere Pro sends it: frame setup, the classic render command, frame setdown.
  bool premiere = false;
};

// The part of the scene the region cases ask for: inside the picture, across a tile border.
constexpr PF_LRect kRegion{100, 60, 420, 260};

// The three iris shapes, each in the three pixel formats, and a radius above 150 (1024-pixel
// tiles) in float, the format that shows the smallest difference; regions of the scene, and
// frames through Premiere Pro's render command (8-bit and 16-bit).
std::vector<RenderCase> render_cases();

// The generated night scene and the star iris in a pixel format (deterministic).
std::unique_ptr<hostsim::World> make_scene(PF_PixelFormat format);
std::shared_ptr<const hostsim::World> make_iris(PF_PixelFormat format);

struct SessionResult {
  // One line per command or frame: the codes and values the module answered (never an
  // address), so two runs of a module that behaves the same give the same lines.
  std::vector<std::string> transcript;
  // One output per render case, in order; null where the frame failed.
  std::vector<std::unique_ptr<hostsim::World>> outputs;
  // Every command answered 0, every frame rendered, and at the end no host handle or suite
  // was left behind and the host saw no misuse.
  bool ok = false;
};

// Global setup, About, parameter setup, sequence setup, update-params-UI; per render case the
// parameters, a user-changed-param when the shape changes, smart pre-render and smart
// render (or frame setup, render and frame setdown for the Premiere cases); sequence
// resetup; sequence and global setdown.
SessionResult run_session(const hostsim::Module& module);

}  // namespace wintest
