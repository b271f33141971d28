// The module as the command drives it: loaded once through the stand-in host, set up as one
// applied instance (global, parameter and sequence setup), handed parameter values through
// the host's parameter store, and asked to render frames: with smart pre-render + smart render
// as After Effects does, or with frame setup + render + frame setdown as Premiere Pro does.
// Frames may be rendered from several threads at once against the one instance.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/host_image.h"
#include "cli/render_options.h"
#include "hostsim/hostsim.h"

struct ModuleSession {
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Instance> instance;
  bool started = false;
};

// The module beside the running executable (<folder of /proc/self/exe>/Veilmora.so), or where
// the package installs it, <that folder>/../lib/veilmora/Veilmora.so, when only that exists.
std::string default_plugin_path();

// Loads the module at `path` (or the default when empty) without starting it. A missing file
// is bad input (exit 2); a file that is not a loadable effect module is exit 1.
std::unique_ptr<hostsim::Module> load_effect_module(const std::string& path);

// Loads and starts an instance playing `host`: global setup, parameter setup, sequence setup,
// UI update. A non-zero code from the module throws a CliError with exit code 1.
ModuleSession open_session(const std::string& plugin_path, const PF_RationalScale& downsample,
                           int32_t total_frames, HostKind host = HostKind::after_effects);

// Sequence and global setdown; errors there are reported as module failures too.
void close_session(ModuleSession& session);

// Puts the values into the instance's parameter store (the iris layer separately).
void apply_values(hostsim::Instance& instance, const EffectValues& values);

// A host world holding the image's pixels, and back.
std::unique_ptr<hostsim::World> world_from_image(const HostImage& image);
HostImage image_from_world(const hostsim::World& world);
// Just the region's pixels, which must lie inside the world.
HostImage image_from_world(const hostsim::World& world, const PictureRegion& region);
PF_PixelFormat pixel_format_of(RenderDepth depth);

struct FrameTiming {
  double render_ms = 0.0;  // the render command alone (smart render, or the classic render)
};

// Renders one frame into `output` (a world of the input's size): under After Effects smart
// pre-render and smart render, asking for `region` only when one is given (the rest of the
// output is left alone); under Premiere Pro frame setup, render and frame setdown of the
// whole frame. Then the frame's end. `frame` sets the time (frame x time step). A non-zero
// code throws a CliError (exit 1) with the PF_Err code and the module's return_msg.
FrameTiming render_frame(hostsim::Instance& instance, const hostsim::World& input,
                         hostsim::World& output, int frame,
                         const std::function<void(int32_t, int32_t)>& on_progress,
                         const std::optional<PictureRegion>& region = std::nullopt);

// "PF_Err 512 (PF_Err_INTERNAL_STRUCT_DAMAGED), module message: \"Memory Error!\"".
std::string describe_module_error(PF_Err err, const std::string& message);
