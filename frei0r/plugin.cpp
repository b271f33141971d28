// The frei0r entry points: plug-in and parameter descriptions, instances, parameter access
// and the frame update. Nothing here touches a pixel value; FrameRenderer renders.
#include <cstdint>
#include <new>

#include "frei0r/frame_renderer.h"
#include "frei0r/parameters.h"

extern "C" {
#include <frei0r.h>
}

namespace {

struct Instance {
  FilterSettings settings = default_settings();
  FrameRenderer renderer;
  Instance(int32_t width, int32_t height) : renderer(width, height) {}
};

Instance* instance_of(f0r_instance_t instance) { return static_cast<Instance*>(instance); }

void update_frame(f0r_instance_t instance, const uint32_t* inframe, uint32_t* outframe) {
  Instance* self = instance_of(instance);
  if (self == nullptr || inframe == nullptr || outframe == nullptr) return;
  self->renderer.render(self->settings, reinterpret_cast<const uint8_t*>(inframe),
                        reinterpret_cast<uint8_t*>(outframe));
}

}  // namespace

#define VEILMORA_F0R_EXPORT extern "C" __attribute__((visibility("default")))

VEILMORA_F0R_EXPORT int f0r_init(void) { return 1; }

VEILMORA_F0R_EXPORT void f0r_deinit(void) {}

VEILMORA_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (info == nullptr) return;
  info->name = "veilmora";
  info->author = "Dunsmoor";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = kFilterParamCount;
  info->explanation =
      "Defocused lens: every pixel spread over a circle or polygon iris, "
      "highlights weighted into bokeh";
}

VEILMORA_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  const ParamDescription* description = param_description(param_index);
  if (info == nullptr || description == nullptr) return;
  info->name = description->name;
  info->type = description->kind == ParamKind::number ? F0R_PARAM_DOUBLE : F0R_PARAM_STRING;
  info->explanation = description->explanation;
}

VEILMORA_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (!FrameRenderer::size_supported(width, height)) return nullptr;
  try {
    return new Instance(static_cast<int32_t>(width), static_cast<int32_t>(height));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

VEILMORA_F0R_EXPORT void f0r_destruct(f0r_instance_t instance) { delete instance_of(instance); }

VEILMORA_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                             int param_index) {
  Instance* self = instance_of(instance);
  const ParamDescription* description = param_description(param_index);
  if (self == nullptr || param == nullptr || description == nullptr) return;
  if (description->kind == ParamKind::number) {
    set_number(self->settings, param_index, *static_cast<const f0r_param_double*>(param));
  } else {
    set_choice(self->settings, param_index, *static_cast<const f0r_param_string*>(param));
  }
}

VEILMORA_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                             int param_index) {
  const Instance* self = instance_of(instance);
  const ParamDescription* description = param_description(param_index);
  if (self == nullptr || param == nullptr || description == nullptr) return;
  if (description->kind == ParamKind::number) {
    *static_cast<f0r_param_double*>(param) = number_of(self->settings, param_index);
  } else {
    // The names are string literals: the host may keep the pointer as long as it likes but
    // must not write through it, as frei0r's rules say.
    *static_cast<f0r_param_string*>(param) =
        const_cast<char*>(choice_of(self->settings, param_index));
  }
}

VEILMORA_F0R_EXPORT void f0r_update(f0r_instance_t instance, double /*time*/,
                                    const uint32_t* inframe, uint32_t* outframe) {
  update_frame(instance, inframe, outframe);
}

VEILMORA_F0R_EXPORT void f0r_update2(f0r_instance_t instance, double /*time*/,
                                     const uint32_t* inframe1, const uint32_t* /*inframe2*/,
                                     const uint32_t* /*inframe3*/, uint32_t* outframe) {
  update_frame(instance, inframe1, outframe);
}
