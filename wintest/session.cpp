// The protocol run and the render cases shared by the Windows test program and the Linux test.
#include "wintest/session.h"

#include <cstdio>
#include <cstring>

#include "cli/demo_scene.h"
#include "wintest/raw_image.h"

namespace wintest {

namespace {

// Parameter indices of the effect.
constexpr PF_ParamIndex kRadius = 1;
constexpr PF_ParamIndex kWeight = 2;
constexpr PF_ParamIndex kSpecularBrightness = 3;
constexpr PF_ParamIndex kSpecularThreshold = 4;
constexpr PF_ParamIndex kShape = 6;
constexpr PF_ParamIndex kEdges = 7;
constexpr PF_ParamIndex kPhase = 8;
constexpr PF_ParamIndex kIrisLayer = 9;
constexpr PF_ParamIndex kOutside = 11;

RenderDepth depth_of(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB64:
      return RenderDepth::k16;
    case PF_PixelFormat_ARGB128:
      return RenderDepth::kFloat;
    default:
      return RenderDepth::k8;
  }
}

std::unique_ptr<hostsim::World> world_from(const HostImage& image, PF_PixelFormat format) {
  auto world = std::make_unique<hostsim::World>(format, image.width, image.height);
  const size_t bytes = row_bytes(image);
  PF_EffectWorld* def = world->effect_world();
  for (int32_t y = 0; y < image.height; ++y) {
    std::memcpy(static_cast<unsigned char*>(def->data) + static_cast<ptrdiff_t>(y) * def->rowbytes,
                image.pixels.data() + static_cast<size_t>(y) * bytes, bytes);
  }
  return world;
}

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(v));
  return text;
}

std::string rect_text(const PF_LRect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// The message with control characters spelled out, so the transcript stays one line each.
std::string escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f || c == '\\') {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string command_line(const char* name, const hostsim::CommandResult& r) {
  return std::string(name) + " err=" + std::to_string(r.err);
}

}  // namespace

std::vector<RenderCase> render_cases() {
  std::vector<RenderCase> cases;
  for (PF_PixelFormat format :
       {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    const std::string tag = format_tag(format);
    cases.push_back({"circle-" + tag, format, 1, 8, 0, 1});
    // A hexagon with a flat top, its outside edge-repeated, so the second outside rule runs.
    cases.push_back({"polygon-" + tag, format, 2, 6, 30 * 65536, 2});
    cases.push_back({"layer-" + tag, format, 3, 8, 0, 1});
  }
  cases.push_back({"wide-circle-float", PF_PixelFormat_ARGB128, 1, 8, 0, 1, 160.0});
  cases.push_back({"polygon-8bit-region", PF_PixelFormat_ARGB32, 2, 6, 30 * 65536, 2, 12.0, true});
  cases.push_back({"circle-float-region", PF_PixelFormat_ARGB128, 1, 8, 0, 1, 40.0, true});
  cases.push_back({"polygon-8bit-premiere", PF_PixelFormat_ARGB32, 2, 6, 30 * 65536, 2, 12.0,
                   false, true});
  cases.push_back({"layer-16bit-premiere", PF_PixelFormat_ARGB64, 3, 8, 0, 1, 12.0, false, true});
  return cases;
}

std::unique_ptr<hostsim::World> make_scene(PF_PixelFormat format) {
  return world_from(make_night_scene(kSceneWidth, kSceneHeight, depth_of(format)), format);
}

std::shared_ptr<const hostsim::World> make_iris(PF_PixelFormat format) {
  return world_from(make_star_iris(kIrisSize, depth_of(format)), format);
}

SessionResult run_session(const hostsim::Module& module) {
  SessionResult result;
  std::vector<std::string>& log = result.transcript;
  bool ok = true;
  auto note = [&](const char* name, const hostsim::CommandResult& r, const std::string& extra) {
    log.push_back(command_line(name, r) + extra);
    ok = ok && r.err == PF_Err_NONE;
  };

  hostsim::Instance fx(module);
  hostsim::CommandResult r = fx.global_setup();
  note("global_setup", r,
       " my_version=" + hex32(r.out_data.my_version) +
           " out_flags=" + hex32(static_cast<uint32_t>(r.out_data.out_flags)) +
           " out_flags2=" + hex32(static_cast<uint32_t>(r.out_data.out_flags2)) +
           " global_data=" + (fx.global_data() ? "set" : "none"));
  r = fx.about();
  note("about", r, " message=" + escaped(r.message()));
  r = fx.params_setup();
  note("params_setup", r, " num_params=" + std::to_string(r.out_data.num_params));
  r = fx.sequence_setup();
  note("sequence_setup", r, std::string(" sequence_data=") + (fx.sequence_data() ? "set" : "none"));
  r = fx.update_params_ui();
  note("update_params_ui", r, "");

  // The look of `veilmora demo`: highlights boosted and weighted so they bloom into the iris.
  fx.set_float(kWeight, 8.0);
  fx.set_float(kSpecularBrightness, 1.5);
  fx.set_int(kSpecularThreshold, 200);

  int32_t shape = 1;
  PF_PixelFormat scene_format = PF_PixelFormat_INVALID;
  std::unique_ptr<hostsim::World> scene;
  for (const RenderCase& c : render_cases()) {
    if (c.format != scene_format) {
      scene = make_scene(c.format);
      scene_format = c.format;
    }
    fx.set_float(kRadius, c.radius);
    fx.set_int(kShape, c.shape);
    fx.set_int(kEdges, c.edges);
    fx.set_angle(kPhase, c.phase);
    fx.set_int(kOutside, c.outside);
    fx.set_layer(kIrisLayer, c.shape == 3 ? make_iris(c.format) : nullptr);
    if (c.shape != shape) {
      // As a host does when the user picks another shape: the iris controls follow it.
      note("user_changed_param", fx.user_changed_param(), " shape=" + std::to_string(c.shape));
      shape = c.shape;
    }

    auto output = std::make_unique<hostsim::World>(c.format, kSceneWidth, kSceneHeight);
    hostsim::FrameRequest request;
    request.input = scene.get();
    request.output = output.get();
    if (c.region) request.request_rect = kRegion;
    // The module keeps nothing per host between commands, so the one instance can answer a
    // frame as Premiere Pro sends it.
    fx.settings.premiere = c.premiere;
    const hostsim::FrameResult frame = fx.render_frame(request);
    fx.settings.premiere = false;
    std::string line = "frame " + c.name + " pre_render=" + std::to_string(frame.pre_render.err) +
                       " render=" + (frame.render ? std::to_string(frame.render->err) : "none") +
                       " result_rect=" + rect_text(frame.pre_render_output.result_rect) +
                       " max_result_rect=" + rect_text(frame.pre_render_output.max_result_rect) +
                       " checkouts=" + std::to_string(frame.checkouts.size()) +
                       " progress_reports=" + std::to_string(frame.progress.size());
    if (!frame.progress.empty()) {
      line += " last_progress=" + std::to_string(frame.progress.back().current) + "/" +
              std::to_string(frame.progress.back().total);
    }
    line += std::string(" pre_render_data_deleted=") + (frame.pre_render_data_deleted ? "1" : "0");
    log.push_back(line);
    const bool rendered = frame.err == PF_Err_NONE && frame.render && frame.render->err == 0;
    ok = ok && rendered;
    result.outputs.push_back(rendered ? std::move(output) : nullptr);
  }

  r = fx.sequence_resetup();
  note("sequence_resetup", r,
       std::string(" sequence_data=") + (fx.sequence_data() ? "set" : "none"));
  r = fx.sequence_setdown();
  note("sequence_setdown", r, "");
  r = fx.global_setdown();
  note("global_setdown", r, "");

  const hostsim::HandleStats handles = hostsim::handle_stats();
  const int64_t suites = hostsim::outstanding_suites();
  const int64_t faults = hostsim::fault_count();
  log.push_back("host live_handles=" + std::to_string(handles.live_count) + " handle_faults=" +
                std::to_string(handles.faults) + " outstanding_suites=" + std::to_string(suites) +
                " faults=" + std::to_string(faults));
  result.ok = ok && handles.live_count == 0 && handles.faults == 0 && suites == 0 && faults == 0;
  return result;
}

}  // namespace wintest
