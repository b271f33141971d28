// Driving the module through hostsim for the command: loading, setup, parameter values,
// frames, and turning the module's error codes into messages.
#include "cli/module_session.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "cli/cli_error.h"

namespace fs = std::filesystem;

namespace {

// Parameter indices as the module declares them.
constexpr PF_ParamIndex kRadius = 1, kWeight = 2, kSpecularBrightness = 3, kSpecularThreshold = 4,
                        kShape = 6, kEdges = 7, kPhase = 8, kOutside = 11;

const char* error_name(PF_Err err) {
  switch (err) {
    case PF_Err_OUT_OF_MEMORY:
      return "PF_Err_OUT_OF_MEMORY";
    case PF_Err_IMAGE_BUFFERS_DONT_FIT:
      return "image buffers do not fit";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
      return "PF_Err_INTERNAL_STRUCT_DAMAGED";
    case PF_Err_INVALID_INDEX:
      return "PF_Err_INVALID_INDEX";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
      return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
    case PF_Err_INVALID_CALLBACK:
      return "PF_Err_INVALID_CALLBACK";
    case PF_Err_BAD_CALLBACK_PARAM:
      return "PF_Err_BAD_CALLBACK_PARAM";
    case PF_Interrupt_CANCEL:
      return "PF_Interrupt_CANCEL";
    default:
      return nullptr;
  }
}

void check_command(const char* what, const hostsim::CommandResult& result) {
  if (result.err != PF_Err_NONE) {
    throw CliError(kExitModuleFailure, std::string("the module failed in ") + what + ": " +
                                           describe_module_error(result.err, result.message()));
  }
}

}  // namespace

std::string describe_module_error(PF_Err err, const std::string& message) {
  std::string text = "PF_Err " + std::to_string(err);
  if (const char* name = error_name(err)) text += std::string(" (") + name + ")";
  text +=
      message.empty() ? ", no message from the module" : ", module message: \"" + message + "\"";
  return text;
}

std::string default_plugin_path() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "Veilmora.so";
  // A build keeps the module beside the command (bin/); an installed command finds it in
  // <prefix>/lib/veilmora/, looked up relative to itself so an unpacked package works too.
  const fs::path beside = exe.parent_path() / "Veilmora.so";
  const fs::path installed = exe.parent_path().parent_path() / "lib" / "veilmora" / "Veilmora.so";
  if (!fs::exists(beside, ec) && fs::exists(installed, ec)) return installed.string();
  return beside.string();
}

std::unique_ptr<hostsim::Module> load_effect_module(const std::string& path_option) {
  const std::string path = path_option.empty() ? default_plugin_path() : path_option;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    throw bad_input("module " + path + ": no such file" +
                    (path_option.empty() ? " (build it, or give --plugin PATH)" : ""));
  }
  try {
    return hostsim::load_module(path);
  } catch (const hostsim::LoadError& e) {
    throw CliError(kExitModuleFailure, std::string("cannot load the module: ") + e.what());
  }
}

ModuleSession open_session(const std::string& plugin_path, const PF_RationalScale& downsample,
                           int32_t total_frames, HostKind host) {
  // The command renders thousands of frames; the host's call log is for tests.
  hostsim::set_call_log_limit(0);
  ModuleSession session;
  session.module = load_effect_module(plugin_path);
  session.instance = std::make_unique<hostsim::Instance>(*session.module);
  hostsim::InstanceSettings& settings = session.instance->settings;
  settings.downsample_x = downsample;
  settings.downsample_y = downsample;
  settings.total_time = std::max(total_frames, 1) * settings.time_step;
  settings.premiere = host == HostKind::premiere;
  hostsim::CommandResult started = session.instance->start();
  session.started = true;
  check_command("setting up", started);
  return session;
}

void close_session(ModuleSession& session) {
  if (!session.instance || !session.started) return;
  session.started = false;
  check_command("shutting down", session.instance->finish());
}

void apply_values(hostsim::Instance& instance, const EffectValues& v) {
  instance.set_float(kRadius, v.radius);
  instance.set_float(kWeight, v.weight);
  instance.set_float(kSpecularBrightness, v.specular_brightness);
  instance.set_int(kSpecularThreshold, v.specular_threshold);
  instance.set_int(kShape, v.shape);
  instance.set_int(kEdges, v.edges);
  instance.set_angle(kPhase, v.phase);
  instance.set_int(kOutside, v.outside);
}

PF_PixelFormat pixel_format_of(RenderDepth depth) {
  switch (depth) {
    case RenderDepth::k8:
      return PF_PixelFormat_ARGB32;
    case RenderDepth::k16:
      return PF_PixelFormat_ARGB64;
    case RenderDepth::kFloat:
      return PF_PixelFormat_ARGB128;
  }
  return PF_PixelFormat_INVALID;
}

std::unique_ptr<hostsim::World> world_from_image(const HostImage& image) {
  auto world =
      std::make_unique<hostsim::World>(pixel_format_of(image.depth), image.width, image.height);
  const size_t bytes = row_bytes(image);
  PF_EffectWorld* def = world->effect_world();
  for (int32_t y = 0; y < image.height; ++y) {
    std::memcpy(static_cast<unsigned char*>(def->data) + static_cast<ptrdiff_t>(y) * def->rowbytes,
                image.pixels.data() + y * bytes, bytes);
  }
  return world;
}

namespace {

RenderDepth depth_of(const hostsim::World& world) {
  return world.format() == PF_PixelFormat_ARGB32   ? RenderDepth::k8
         : world.format() == PF_PixelFormat_ARGB64 ? RenderDepth::k16
                                                   : RenderDepth::kFloat;
}

}  // namespace

HostImage image_from_world(const hostsim::World& world) {
  HostImage image = make_host_image(world.width(), world.height(), depth_of(world));
  const size_t bytes = row_bytes(image);
  const PF_EffectWorld* def = world.effect_world();
  for (int32_t y = 0; y < image.height; ++y) {
    std::memcpy(
        image.pixels.data() + y * bytes,
        static_cast<const unsigned char*>(def->data) + static_cast<ptrdiff_t>(y) * def->rowbytes,
        bytes);
  }
  return image;
}

HostImage image_from_world(const hostsim::World& world, const PictureRegion& region) {
  HostImage image = make_host_image(region.width, region.height, depth_of(world));
  const size_t bytes = row_bytes(image);
  const auto pixel = static_cast<ptrdiff_t>(hostsim::pixel_size(world.format()));
  const PF_EffectWorld* def = world.effect_world();
  for (int32_t y = 0; y < image.height; ++y) {
    std::memcpy(image.pixels.data() + y * bytes,
                static_cast<const unsigned char*>(def->data) +
                    static_cast<ptrdiff_t>(region.y + y) * def->rowbytes +
                    static_cast<ptrdiff_t>(region.x) * pixel,
                bytes);
  }
  return image;
}

namespace {

void throw_if_failed(int frame, const char* command, const hostsim::CommandResult& result) {
  if (result.err != PF_Err_NONE) {
    throw CliError(kExitModuleFailure, "frame " + std::to_string(frame) +
                                           ": the module failed in " + command + ": " +
                                           describe_module_error(result.err, result.message()));
  }
}

// Premiere Pro's frame: setup, the classic render of the whole frame, setdown.
FrameTiming render_classic_frame(hostsim::Instance& instance, const hostsim::FrameRequest& request,
                                 int frame) {
  FrameTiming timing;
  std::unique_ptr<hostsim::Frame> context = instance.begin_frame(request);
  const hostsim::CommandResult setup = instance.frame_setup(*context);
  if (setup.err != PF_Err_NONE) instance.end_frame(*context);
  throw_if_failed(frame, "frame setup", setup);
  const auto start = std::chrono::steady_clock::now();
  const hostsim::CommandResult render = instance.classic_render(*context);
  const auto stop = std::chrono::steady_clock::now();
  const hostsim::CommandResult setdown = instance.frame_setdown(*context);
  instance.end_frame(*context);
  timing.render_ms = std::chrono::duration<double, std::milli>(stop - start).count();
  throw_if_failed(frame, "render", render);
  throw_if_failed(frame, "frame setdown", setdown);
  return timing;
}

}  // namespace

FrameTiming render_frame(hostsim::Instance& instance, const hostsim::World& input,
                         hostsim::World& output, int frame,
                         const std::function<void(int32_t, int32_t)>& on_progress,
                         const std::optional<PictureRegion>& region) {
  hostsim::FrameRequest request;
  request.input = &input;
  request.output = &output;
  request.current_time = frame * instance.settings.time_step;
  request.on_progress = on_progress;
  if (region) {
    request.request_rect = PF_LRect{region->x, region->y, region->x + region->width,
                                    region->y + region->height};
  }
  if (instance.settings.premiere) return render_classic_frame(instance, request, frame);

  FrameTiming timing;
  std::unique_ptr<hostsim::Frame> context = instance.begin_frame(request);
  hostsim::CommandResult pre = instance.pre_render(*context);
  if (pre.err != PF_Err_NONE) {
    instance.end_frame(*context);
    throw CliError(kExitModuleFailure, "frame " + std::to_string(frame) +
                                           ": the module failed in smart pre-render: " +
                                           describe_module_error(pre.err, pre.message()));
  }
  const auto start = std::chrono::steady_clock::now();
  hostsim::CommandResult render = instance.smart_render(*context);
  const auto stop = std::chrono::steady_clock::now();
  instance.end_frame(*context);
  timing.render_ms = std::chrono::duration<double, std::milli>(stop - start).count();
  if (render.err != PF_Err_NONE) {
    throw CliError(kExitModuleFailure, "frame " + std::to_string(frame) +
                                           ": the module failed in smart render: " +
                                           describe_module_error(render.err, render.message()));
  }
  return timing;
}
