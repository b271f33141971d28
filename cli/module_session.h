// The module as the command drives it: loaded once through the stand-in host, set up as one
// applied instance (global, parameter and sequence setup), handed parameter values through
// the host's parameter store, and asked to render frames with smart pre-render + smart render.
// Frames may be rendered from several threads at once against the one instance.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

// Loads and starts an instance: global setup, parameter setup, sequence setup, UI update.
// A non-zero code from the module throws a CliError with exit code 1.
ModuleSession open_session(const std::string& plugin_path, const PF_RationalScale& downsample,
                           int32_t total_frames);

// Sequence and global setdown; errors there are reported as module failures too.
void close_session(ModuleSession& session);

// Puts the values into the instance's parameter store (the iris layer separately).
void apply_values(hostsim::Instance& instance, const EffectValues& values);

// A host world holding the image's pixels, and back.
std::unique_ptr<hostsim::World> world_from_image(const HostImage& image);
HostImage image_from_world(const hostsim::World& world);
PF_PixelFormat pixel_format_of(RenderDepth depth);

struct FrameTiming {
  double smart_render_ms = 0.0;  // the smart render command alone
};

// Renders one frame: smart pre-render, then smart render into `output`, then the frame's end.
// `frame` sets the time (frame x time step). A non-zero code throws a CliError (exit 1) with
// the PF_Err code and the module's return_msg.
FrameTiming render_frame(hostsim::Instance& instance, const hostsim::World& input,
                         hostsim::World& output, int frame,
                         const std::function<void(int32_t, int32_t)>& on_progress);

// "PF_Err 512 (PF_Err_INTERNAL_STRUCT_DAMAGED), module message: \"Memory Error!\"".
std::string describe_module_error(PF_Err err, const std::string& message);
