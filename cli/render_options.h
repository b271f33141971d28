// The options of `veilmora render`, checked and turned into the values a host would hand the
// module: floats for the float sliders, integers for sliders, 1-based choices for popups,
// 16.16 fixed-point degrees for "Phase", a rational for the downsample ratio.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "api/effect_api.h"
#include "cli/frame_chunk.h"
#include "cli/frame_pattern.h"
#include "cli/host_image.h"

// Parameter values, as the effect's parameter store holds them.
struct EffectValues {
  double radius = 0.0;               // "Radius", index 1
  double weight = 2.0;               // "Weight", index 2
  double specular_brightness = 1.0;  // "Specular Brightness", index 3
  int32_t specular_threshold = 255;  // "Specular Threshold", index 4
  int32_t shape = 1;                 // "Shape", index 6: 1 Circle, 2 Polygon, 3 Layer
  int32_t edges = 8;                 // "Edges", index 7
  PF_Fixed phase = 0;                // "Phase", index 8: degrees in 16.16
  int32_t outside = 1;               // "Outside", index 11: 1 Mirror, 2 Edge
  PF_RationalScale downsample{1, 1};
};

// The option strings as typed; empty when the option was not given.
struct RenderArgs {
  std::string input, output;
  std::string radius, weight, specular_brightness, specular_threshold;
  std::string shape, edges, phase, iris_layer, outside, downsample, depth, frames, jobs, plugin;
  std::string chunk, colorspace;
  std::string region, host;
  std::string inject_failure;
  bool skip_existing = false;
  bool linear = false;
  bool timing = false;
  bool quiet = false;
};

// A rectangle of the picture: its top-left pixel and its size, in pixels.
struct PictureRegion {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// Which host the command plays: After Effects (smart pre-render and smart render, any region
// of a layer) or Premiere Pro (the classic render command, whole frames).
enum class HostKind { after_effects, premiere };

struct RenderOptions {
  std::string input, output;
  EffectValues values;
  std::optional<std::string> iris_layer;
  std::optional<RenderDepth> depth;
  std::optional<FrameRange> frames;
  // With --chunk, the part of --frames this run renders; `frames` stays the whole range.
  std::optional<FrameChunk> chunk;
  // Frames whose output file exists are finished: they are not read, rendered or written.
  bool skip_existing = false;
  // Render in linear light: sRGB-encoded inputs are decoded to linear float, rendered in
  // float and encoded back (see colour_space.h). `colorspace` names the input's space.
  bool linear = false;
  std::optional<std::string> colorspace;
  unsigned jobs = 1;
  std::string plugin;  // empty: the module beside the executable
  // Render only this part of the picture; the output file holds just the region.
  std::optional<PictureRegion> region;
  HostKind host = HostKind::after_effects;
  // For tests of the failure paths: "NAME:K" makes the K-th host call NAME counted from the
  // first frame fail, through the stand-in host's failure injection.
  std::string inject_failure_name;
  int64_t inject_failure_k = 0;
  bool timing = false;
  bool quiet = false;
};

// Checks every option; throws a CliError (exit 2) naming the option, the parameter and its
// valid range at the first bad one.
RenderOptions validate_render_args(const RenderArgs& args);

// Degrees to the host's 16.16 fixed point, rounded to nearest. Throws a CliError for values
// that are not finite or do not fit in 32 bits (beyond about +-32767.99998 degrees).
PF_Fixed degrees_to_fixed(double degrees);

// Throws a CliError naming --region unless the region lies inside a picture of this size.
void check_region_inside(const PictureRegion& region, int32_t width, int32_t height);
