// The PICA basic suite and the seven host suites it serves: handles, AEGP utility
// (registration), param utils (UI pushes and the parameter-state snapshot), world (pixel
// format), and the three sampling suites. Acquisitions and releases are counted per suite.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostsim/internal.h"

namespace hostsim::detail {

namespace {

// Entries the module never calls; if something calls one anyway it is logged.
void placeholder_called() {
  std::lock_guard lock(host().mutex);
  log_fault("placeholder", "an unimplemented suite entry was called");
}

PF_HandleSuite1 handle_suite = {new_handle,      lock_handle,       unlock_handle,
                                dispose_handle,  get_handle_size,   placeholder_called};

A_Err register_with_aegp(AEGP_GlobalRefcon, const char* plugin_name, AEGP_PluginID* plugin_id) {
  std::lock_guard lock(host().mutex);
  const std::string name = plugin_name ? plugin_name : "";
  Ticket t = count_call("AEGP_RegisterWithAEGP", {});
  auto detail = [&] { return "name=\"" + name + "\""; };
  if (t.inject) {
    log_call(t, "AEGP_RegisterWithAEGP", {}, detail, t.code, false, false);
    return t.code;
  }
  if (!plugin_id) {
    log_call(
        t, "AEGP_RegisterWithAEGP", {}, [&] { return detail() + ": null plugin id"; },
        PF_Err_BAD_CALLBACK_PARAM, false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *plugin_id = host().next_plugin_id++;
  if (Context* ctx = current_context()) ctx->instance->registrations.push_back({name, *plugin_id});
  log_call(t, "AEGP_RegisterWithAEGP", {}, detail, 0, false, false);
  return 0;
}

AEGP_UtilitySuite3 make_utility_suite() {
  AEGP_UtilitySuite3 s{};
  for (auto& e : s.entries_1_to_7) e = placeholder_called;
  s.AEGP_RegisterWithAEGP = register_with_aegp;
  for (auto& e : s.entries_9_to_25) e = placeholder_called;
  return s;
}
AEGP_UtilitySuite3 utility_suite = make_utility_suite();

// A PF_State of 16 bytes is read or written at `p`: when `p` lies in a host handle, the
// block must hold all 16 bytes from there (a sequence-data record may be one byte long).
bool state_fits(const void* p) {
  uintptr_t start = 0;
  uint64_t size = 0;
  if (!find_block(p, &start, &size)) return true;
  return reinterpret_cast<uintptr_t>(p) - start + sizeof(PF_State) <= size;
}

PF_Err update_param_ui(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("PF_UpdateParamUI", {});
  auto detail = [&] {
    return "index=" + std::to_string(index) +
           (def ? " name=\"" + std::string(def->name, strnlen(def->name, sizeof def->name)) +
                      "\" ui_flags=" + std::to_string(def->ui_flags)
                : std::string(" def=null"));
  };
  if (t.inject) {
    log_call(t, "PF_UpdateParamUI", {}, detail, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  std::string why;
  PF_Err err = 0;
  if (!ctx) {
    why = ": unknown effect_ref";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else if (!def) {
    why = ": null definition";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else if (index < 1 || index > static_cast<PF_ParamIndex>(ctx->instance->decls.size())) {
    why = ": no such parameter";
    err = PF_Err_INVALID_INDEX;
  } else if (ctx->instance->decls[index - 1]->def.param_type != def->param_type) {
    why = ": type " + std::to_string(def->param_type) + " differs from the declared " +
          std::to_string(ctx->instance->decls[index - 1]->def.param_type);
    err = PF_Err_BAD_CALLBACK_PARAM;
  }
  if (err) {
    log_call(
        t, "PF_UpdateParamUI", {}, [&] { return detail() + why; }, err, false, true);
    return err;
  }
  ctx->instance->pushes.push_back({index, *def});
  ctx->instance->decls[index - 1]->ui_flags = def->ui_flags;
  log_call(t, "PF_UpdateParamUI", {}, detail, 0, false, false);
  return 0;
}

PF_Err get_current_state(PF_ProgPtr effect_ref, PF_State* state) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("PF_GetCurrentState", {});
  if (t.inject) {
    log_call(t, "PF_GetCurrentState", {}, nullptr, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  const char* why = !ctx                 ? "unknown effect_ref"
                    : !state             ? "null state record"
                    : !state_fits(state) ? "state record shorter than a PF_State"
                                         : nullptr;
  if (why) {
    log_call(
        t, "PF_GetCurrentState", {}, [&] { return std::string(why); }, PF_Err_BAD_CALLBACK_PARAM,
        false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *state = state_of(*ctx->instance);
  log_call(
      t, "PF_GetCurrentState", {},
      [&] { return "generation=" + std::to_string(state->reserved[1]); }, 0, false, false);
  return 0;
}

PF_Err has_param_changed(PF_ProgPtr effect_ref, const PF_State* state, PF_ParamIndex index,
                         PF_Boolean* changed) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("PF_HasParamChanged", {});
  auto detail = [&] { return "index=" + std::to_string(index); };
  if (t.inject) {
    log_call(t, "PF_HasParamChanged", {}, detail, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  const char* why = !ctx                 ? "unknown effect_ref"
                    : !state             ? "null state record"
                    : !changed           ? "null changed flag"
                    : !state_fits(state) ? "state record shorter than a PF_State"
                                         : nullptr;
  if (why) {
    log_call(
        t, "PF_HasParamChanged", {}, [&] { return detail() + ": " + why; },
        PF_Err_BAD_CALLBACK_PARAM, false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // As the host's version 2 of this suite does, the index is not looked at: every parameter
  // is checked except those excluded from the check, and this host excludes none.
  const InstanceState& inst = *ctx->instance;
  const PF_State now = state_of(inst);
  bool result;
  const auto then = static_cast<uint32_t>(state->reserved[1]);
  if (state->reserved[0] != now.reserved[0] || then > static_cast<uint32_t>(now.reserved[1])) {
    result = true;  // not a snapshot of ours (or from the future): treat as changed
  } else {
    result = state->reserved[1] != now.reserved[1] || state->reserved[2] != now.reserved[2] ||
             state->reserved[3] != now.reserved[3];
  }
  *changed = result ? 1 : 0;
  log_call(
      t, "PF_HasParamChanged", {},
      [&] { return detail() + (result ? " -> changed" : " -> unchanged"); }, 0, false, false);
  return 0;
}

PF_ParamUtilsSuite1 make_param_utils_suite() {
  PF_ParamUtilsSuite1 s{};
  s.PF_UpdateParamUI = update_param_ui;
  s.PF_GetCurrentState = get_current_state;
  s.PF_HasParamChanged = has_param_changed;
  s.PF_HaveInputsChangedOverTimeSpan = placeholder_called;
  s.PF_IsIdenticalCheckout = placeholder_called;
  s.PF_FindKeyframeTime = placeholder_called;
  s.PF_GetKeyframeCount = placeholder_called;
  s.PF_CheckoutKeyframe = placeholder_called;
  s.PF_CheckinKeyframe = placeholder_called;
  s.PF_KeyIndexToTime = placeholder_called;
  return s;
}
PF_ParamUtilsSuite1 param_utils_suite = make_param_utils_suite();

PF_Err get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("PF_GetPixelFormat", {});
  if (t.inject) {
    log_call(t, "PF_GetPixelFormat", {}, nullptr, t.code, false, false);
    return t.code;
  }
  const PF_PixelFormat f = world ? format_of_locked(world) : PF_PixelFormat_INVALID;
  if (!world || !format || f == PF_PixelFormat_INVALID) {
    const char* why = !world ? "null world" : !format ? "null format" : "not a world of this host";
    log_call(
        t, "PF_GetPixelFormat", {}, [&] { return std::string(why); }, PF_Err_BAD_CALLBACK_PARAM,
        false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *format = f;
  log_call(
      t, "PF_GetPixelFormat", {}, [&] { return std::string(format_name(f)); }, 0, false, false);
  return 0;
}

PF_WorldSuite2 make_world_suite() {
  PF_WorldSuite2 s{};
  s.new_world = placeholder_called;
  s.dispose_world = placeholder_called;
  s.PF_GetPixelFormat = get_pixel_format;
  return s;
}
PF_WorldSuite2 world_suite = make_world_suite();

// One sampling call in any of the three formats.
template <class P>
PF_Err subpixel(const char* name, PF_PixelFormat format, PF_ProgPtr effect_ref, PF_Fixed x,
                PF_Fixed y, const PF_SampPB* params, P* dst) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call(name, {});
  auto detail = [&] { return "x=" + std::to_string(x) + " y=" + std::to_string(y); };
  if (t.inject) {
    log_call(t, name, {}, detail, t.code, false, false);
    return t.code;
  }
  const char* why = nullptr;
  if (!find_context(effect_ref))
    why = "unknown effect_ref";
  else if (!params || !params->src)
    why = "no source world";
  else if (!dst)
    why = "null destination pixel";
  else if (!params->src->data)
    why = "source world has no pixels";
  if (!why) {
    const PF_PixelFormat known = format_of_locked(params->src);
    if (known != PF_PixelFormat_INVALID && known != format) why = "world is in another format";
  }
  if (why) {
    log_call(
        t, name, {}, [&] { return detail() + ": " + why; }, PF_Err_BAD_CALLBACK_PARAM, false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  Pixel p;
  sample_bilinear(params->src, format, x, y, &p);
  using C = decltype(dst->alpha);
  dst->alpha = static_cast<C>(p.alpha);
  dst->red = static_cast<C>(p.red);
  dst->green = static_cast<C>(p.green);
  dst->blue = static_cast<C>(p.blue);
  log_call(t, name, {}, detail, 0, false, false);
  return 0;
}

PF_Err sample8(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel8* dst) {
  return subpixel("subpixel_sample", PF_PixelFormat_ARGB32, ref, x, y, pb, dst);
}
PF_Err sample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel16* dst) {
  return subpixel("subpixel_sample16", PF_PixelFormat_ARGB64, ref, x, y, pb, dst);
}
PF_Err sample_float(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb,
                    PF_PixelFloat* dst) {
  return subpixel("subpixel_sample_float", PF_PixelFormat_ARGB128, ref, x, y, pb, dst);
}

PF_Sampling8Suite1 sampling8_suite = {placeholder_called, sample8, placeholder_called};
PF_Sampling16Suite1 sampling16_suite = {placeholder_called, sample16, placeholder_called};
PF_SamplingFloatSuite1 sampling_float_suite = {placeholder_called, sample_float,
                                               placeholder_called};

SuiteEntry* find_suite(const char* name, int32_t version) {
  for (auto& s : suites())
    if (std::strcmp(s.name, name) == 0 && s.version == version) return &s;
  return nullptr;
}

SuiteEntry* find_suite_by_name(const char* name) {
  for (auto& s : suites())
    if (std::strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

SPErr acquire_suite(const char* name, int32_t version, const void** suite) {
  std::lock_guard lock(host().mutex);
  const std::string n = name ? name : "";
  const std::string qualified = "AcquireSuite:" + n;
  Ticket t = count_call("AcquireSuite", qualified);
  auto detail = [&] { return "\"" + n + "\" version " + std::to_string(version); };
  SuiteEntry* by_name = name ? find_suite_by_name(name) : nullptr;
  if (t.inject) {
    if (suite) *suite = nullptr;
    if (by_name) ++by_name->stats.failed_acquires;
    log_call(t, "AcquireSuite", qualified, detail, t.code, true, false);
    return t.code;
  }
  if (!name || !suite) {
    log_call(
        t, "AcquireSuite", qualified,
        [&] { return detail() + (name ? ": null out pointer" : ": null name"); },
        PF_Err_BAD_CALLBACK_PARAM, true, true);
    if (by_name) ++by_name->stats.failed_acquires;
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  SuiteEntry* entry = find_suite(name, version);
  // Premiere Pro has no AEGP suites: a module must get through without them there.
  const Context* running = current_context();
  if (entry && running && running->instance && running->instance->premiere &&
      std::strncmp(name, "AEGP ", 5) == 0) {
    entry = nullptr;
  }
  if (!entry) {
    *suite = nullptr;
    if (by_name) ++by_name->stats.failed_acquires;
    log_call(
        t, "AcquireSuite", qualified, [&] { return detail() + ": no such suite"; },
        kSPSuiteNotFoundError, true, false);
    return kSPSuiteNotFoundError;
  }
  *suite = entry->table;
  ++entry->stats.acquires;
  log_call(t, "AcquireSuite", qualified, detail, 0, false, false);
  return 0;
}

SPErr release_suite(const char* name, int32_t version) {
  std::lock_guard lock(host().mutex);
  const std::string n = name ? name : "";
  const std::string qualified = "ReleaseSuite:" + n;
  Ticket t = count_call("ReleaseSuite", qualified);
  auto detail = [&] { return "\"" + n + "\" version " + std::to_string(version); };
  if (t.inject) {
    log_call(t, "ReleaseSuite", qualified, detail, t.code, false, false);
    return t.code;
  }
  SuiteEntry* entry = name ? find_suite(name, version) : nullptr;
  if (!entry) {
    log_call(
        t, "ReleaseSuite", qualified, [&] { return detail() + ": no such suite"; },
        kSPSuiteNotFoundError, false, true);
    return kSPSuiteNotFoundError;
  }
  if (entry->stats.outstanding() <= 0) {
    log_call(
        t, "ReleaseSuite", qualified,
        [&] { return detail() + ": released more often than acquired"; }, PF_Err_BAD_CALLBACK_PARAM,
        false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  ++entry->stats.releases;
  log_call(t, "ReleaseSuite", qualified, detail, 0, false, false);
  return 0;
}

SPBoolean is_equal(const char* a, const char* b) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("IsEqual", {});
  const bool eq = a && b && std::strcmp(a, b) == 0;
  log_call(t, "IsEqual", {}, nullptr, 0, false, false);
  return eq ? 1 : 0;
}

SPErr allocate_block(size_t size, void** block) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("AllocateBlock", {});
  if (t.inject || !block) {
    if (block) *block = nullptr;
    const PF_Err code = t.inject ? t.code : PF_Err_BAD_CALLBACK_PARAM;
    log_call(t, "AllocateBlock", {}, nullptr, code, true, !t.inject);
    return code;
  }
  *block = size <= host().handle_size_limit ? std::malloc(size ? size : 1) : nullptr;
  const PF_Err code = *block ? 0 : PF_Err_OUT_OF_MEMORY;
  log_call(
      t, "AllocateBlock", {}, [&] { return "size=" + std::to_string(size); }, code, !*block, false);
  return code;
}

SPErr free_block(void* block) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("FreeBlock", {});
  if (t.inject) {
    log_call(t, "FreeBlock", {}, nullptr, t.code, false, false);
    return t.code;
  }
  std::free(block);
  log_call(t, "FreeBlock", {}, nullptr, 0, false, false);
  return 0;
}

SPErr reallocate_block(void* block, size_t new_size, void** new_block) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("ReallocateBlock", {});
  if (t.inject || !new_block) {
    const PF_Err code = t.inject ? t.code : PF_Err_BAD_CALLBACK_PARAM;
    log_call(t, "ReallocateBlock", {}, nullptr, code, true, !t.inject);
    return code;
  }
  void* p =
      new_size <= host().handle_size_limit ? std::realloc(block, new_size ? new_size : 1) : nullptr;
  if (!p) {
    log_call(t, "ReallocateBlock", {}, nullptr, PF_Err_OUT_OF_MEMORY, true, false);
    return PF_Err_OUT_OF_MEMORY;  // the old block stays valid, as with realloc
  }
  *new_block = p;
  log_call(t, "ReallocateBlock", {}, nullptr, 0, false, false);
  return 0;
}

SPErr undefined_entry() {
  std::lock_guard lock(host().mutex);
  log_fault("Undefined", "the basic suite's undefined entry was called");
  return PF_Err_BAD_CALLBACK_PARAM;
}

SPBasicSuite basic = {acquire_suite, release_suite,    is_equal,       allocate_block,
                      free_block,    reallocate_block, undefined_entry};

}  // namespace

std::vector<SuiteEntry>& suites() {
  static std::vector<SuiteEntry>* list = [] {
    auto* v = new std::vector<SuiteEntry>{
        {kPFHandleSuite, kPFHandleSuiteVersion2, &handle_suite, {}},
        {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, &utility_suite, {}},
        {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion2, &param_utils_suite, {}},
        {kPFWorldSuite, kPFWorldSuiteVersion2, &world_suite, {}},
        {kPFSampling8Suite, kPFSampling8SuiteVersion1, &sampling8_suite, {}},
        {kPFSampling16Suite, kPFSampling16SuiteVersion1, &sampling16_suite, {}},
        {kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1, &sampling_float_suite, {}},
    };
    for (auto& s : *v) {
      s.stats.name = s.name;
      s.stats.version = s.version;
    }
    return v;
  }();
  return *list;
}

}  // namespace hostsim::detail

namespace hostsim {

SPBasicSuite* basic_suite() { return &detail::basic; }

}  // namespace hostsim
