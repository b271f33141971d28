// The parameter store of an instance: the declarations add_param collected, the values tests
// and the command line set, what a checkout answers, and the state snapshot.
#include <cstring>
#include <stdexcept>
#include <string>

#include "hostsim/instance.h"
#include "hostsim/internal.h"

namespace hostsim {
namespace detail {

namespace {

const char* type_name(PF_ParamType type) {
  switch (type) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_SLIDER:
      return "slider";
    case PF_Param_ANGLE:
      return "angle";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_POPUP:
      return "popup";
    case PF_Param_FLOAT_SLIDER:
      return "float slider";
    case PF_Param_GROUP_START:
      return "group start";
    case PF_Param_GROUP_END:
      return "group end";
    default:
      return "parameter";
  }
}

const char* kind_setter(StoredValue::Kind kind) {
  switch (kind) {
    case StoredValue::Kind::Float:
      return "set_float";
    case StoredValue::Kind::Int:
      return "set_int";
    case StoredValue::Kind::Angle:
      return "set_angle";
    default:
      return "set_layer";
  }
}

bool kind_fits(StoredValue::Kind kind, PF_ParamType type) {
  switch (kind) {
    case StoredValue::Kind::Float:
      return type == PF_Param_FLOAT_SLIDER;
    case StoredValue::Kind::Int:
      return type == PF_Param_SLIDER || type == PF_Param_POPUP || type == PF_Param_CHECKBOX;
    case StoredValue::Kind::Angle:
      return type == PF_Param_ANGLE;
    default:
      return type == PF_Param_LAYER;
  }
}

bool same_value(const StoredValue& a, const StoredValue& b) {
  return a.kind == b.kind && a.i == b.i && a.layer == b.layer &&
         std::memcmp(&a.f, &b.f, sizeof a.f) == 0;
}

// The value a declaration shows before anything is set, as a stored value.
StoredValue declared_value(const PF_ParamDef& def) {
  StoredValue v;
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      v.kind = StoredValue::Kind::Float;
      v.f = def.u.fs_d.value;
      break;
    case PF_Param_POPUP:
      v.i = def.u.pd.value;
      break;
    case PF_Param_ANGLE:
      v.kind = StoredValue::Kind::Angle;
      v.i = def.u.ad.value;
      break;
    case PF_Param_LAYER:
      v.kind = StoredValue::Kind::Layer;
      break;
    default:
      v.i = def.u.sd.value;
      break;
  }
  return v;
}

std::string param_label(const InstanceState& inst, PF_ParamIndex index) {
  std::string s = "parameter " + std::to_string(index);
  if (index >= 1 && index <= static_cast<PF_ParamIndex>(inst.decls.size())) {
    const PF_ParamDef& d = inst.decls[index - 1]->def;
    s += " \"" + std::string(d.name, strnlen(d.name, sizeof d.name)) + "\"";
  }
  return s;
}

void set_layer_def(PF_LayerDef* ld, const World* world, int32_t dephault) {
  if (world) {
    *ld = *world->effect_world();
  } else {
    *ld = PF_LayerDef{};
  }
  ld->dephault = dephault;
}

}  // namespace

// The world a layer parameter (or the input, index 0) shows in this context: converted to
// the frame's pixel format when it differs, kept alive by the context. Null: no layer.
const World* layer_world(Context* ctx, const std::shared_ptr<const World>& layer) {
  if (!layer) return nullptr;
  if (!ctx) return layer.get();
  ctx->held_layers.push_back(layer);
  if (!ctx->is_frame || !ctx->input || ctx->input->format() == layer->format()) return layer.get();
  auto it = ctx->converted.find(layer.get());
  if (it != ctx->converted.end()) return it->second;
  ctx->owned_worlds.push_back(layer->converted(ctx->input->format()));
  World* w = ctx->owned_worlds.back().get();
  ctx->converted[layer.get()] = w;
  return w;
}

PF_Err param_def_for(InstanceState& inst, Context* ctx, PF_ParamIndex index, PF_ParamDef* out,
                     std::string* why) {
  if (index == 0) {
    // The effect's own input layer, supplied by the host, never declared.
    *out = PF_ParamDef{};
    out->param_type = PF_Param_LAYER;
    set_layer_def(&out->u.ld, ctx && ctx->is_frame ? ctx->input : nullptr, 0);
    return PF_Err_NONE;
  }
  if (index < 0 || index > static_cast<PF_ParamIndex>(inst.decls.size())) {
    if (why) *why = "no such parameter";
    return PF_Err_INVALID_INDEX;
  }
  const DeclaredParam& d = *inst.decls[index - 1];
  PF_ParamDef def = d.def;
  def.ui_flags = d.ui_flags;
  auto it = inst.values.find(index);
  if (it == inst.values.end()) {
    if (def.param_type == PF_Param_LAYER) set_layer_def(&def.u.ld, nullptr, d.def.u.ld.dephault);
    *out = def;
    return PF_Err_NONE;
  }
  const StoredValue& v = it->second;
  if (!kind_fits(v.kind, def.param_type)) {
    if (why)
      *why = "the value was set with " + std::string(kind_setter(v.kind)) + " but " +
             param_label(inst, index) + " is a " + type_name(def.param_type);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      def.u.fs_d.value = v.f;
      break;
    case PF_Param_SLIDER:
    case PF_Param_CHECKBOX:
      def.u.sd.value = v.i;
      break;
    case PF_Param_POPUP:
      def.u.pd.value = v.i;
      break;
    case PF_Param_ANGLE:
      def.u.ad.value = v.i;
      break;
    case PF_Param_LAYER:
      set_layer_def(&def.u.ld, layer_world(ctx, v.layer), d.def.u.ld.dephault);
      break;
    default:
      break;
  }
  *out = def;
  return PF_Err_NONE;
}

PF_State state_of(const InstanceState& inst) {
  // FNV-1a over every stored value, so two stores with equal values give equal hashes.
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) hash = (hash ^ b[i]) * 1099511628211ull;
  };
  for (const auto& [index, v] : inst.values) {
    mix(&index, sizeof index);
    const int kind = static_cast<int>(v.kind);
    mix(&kind, sizeof kind);
    mix(&v.f, sizeof v.f);
    mix(&v.i, sizeof v.i);
    const void* layer = v.layer.get();
    mix(&layer, sizeof layer);
  }
  PF_State s{};
  s.reserved[0] = pf_four_cc('h', 's', 'S', 't');
  s.reserved[1] = static_cast<int32_t>(static_cast<uint32_t>(inst.generation));
  s.reserved[2] = static_cast<int32_t>(static_cast<uint32_t>(hash));
  s.reserved[3] = static_cast<int32_t>(static_cast<uint32_t>(hash >> 32));
  return s;
}

}  // namespace detail

using detail::host;

// ---- parameter store

namespace {

void store_value(detail::InstanceState& inst, PF_ParamIndex index, detail::StoredValue v) {
  if (index < 1)
    throw std::invalid_argument("hostsim: parameter " + std::to_string(index) +
                                " cannot be set (0 is the input layer)");
  if (!inst.decls.empty()) {
    if (index > static_cast<PF_ParamIndex>(inst.decls.size()))
      throw std::invalid_argument("hostsim: parameter " + std::to_string(index) +
                                  " is not declared (the module declared " +
                                  std::to_string(inst.decls.size()) + ")");
    const PF_ParamType type = inst.decls[index - 1]->def.param_type;
    if (!detail::kind_fits(v.kind, type))
      throw std::invalid_argument("hostsim: " + detail::param_label(inst, index) + " is a " +
                                  detail::type_name(type) + "; " + detail::kind_setter(v.kind) +
                                  " does not apply");
  }
  auto it = inst.values.find(index);
  if (it != inst.values.end() && detail::same_value(it->second, v)) return;
  // Setting the value a parameter already shows (its declared one) changes nothing either.
  if (it == inst.values.end() && index <= static_cast<PF_ParamIndex>(inst.decls.size()) &&
      detail::same_value(detail::declared_value(inst.decls[index - 1]->def), v))
    return;
  inst.values[index] = std::move(v);
  ++inst.generation;
  if (index <= static_cast<PF_ParamIndex>(inst.decls.size()))
    inst.decls[index - 1]->changed_at = inst.generation;
}

}  // namespace

void Instance::set_float(PF_ParamIndex index, double value) {
  std::lock_guard lock(host().mutex);
  detail::StoredValue v;
  v.kind = detail::StoredValue::Kind::Float;
  v.f = value;
  store_value(*state_, index, std::move(v));
}

void Instance::set_int(PF_ParamIndex index, int32_t value) {
  std::lock_guard lock(host().mutex);
  detail::StoredValue v;
  v.kind = detail::StoredValue::Kind::Int;
  v.i = value;
  store_value(*state_, index, std::move(v));
}

void Instance::set_angle(PF_ParamIndex index, PF_Fixed degrees) {
  std::lock_guard lock(host().mutex);
  detail::StoredValue v;
  v.kind = detail::StoredValue::Kind::Angle;
  v.i = degrees;
  store_value(*state_, index, std::move(v));
}

void Instance::set_layer(PF_ParamIndex index, std::shared_ptr<const World> layer) {
  std::lock_guard lock(host().mutex);
  detail::StoredValue v;
  v.kind = detail::StoredValue::Kind::Layer;
  v.layer = std::move(layer);
  store_value(*state_, index, std::move(v));
}

void Instance::reset_param(PF_ParamIndex index) {
  std::lock_guard lock(host().mutex);
  if (state_->values.erase(index) == 0) return;
  ++state_->generation;
  if (index >= 1 && index <= static_cast<PF_ParamIndex>(state_->decls.size()))
    state_->decls[index - 1]->changed_at = state_->generation;
}

std::vector<PF_ParamDef> Instance::declared_params() const {
  std::lock_guard lock(host().mutex);
  std::vector<PF_ParamDef> out;
  for (const auto& d : state_->decls) out.push_back(d->def);
  return out;
}

std::string Instance::popup_choices(PF_ParamIndex index) const {
  std::lock_guard lock(host().mutex);
  if (index < 1 || index > static_cast<PF_ParamIndex>(state_->decls.size())) return {};
  return state_->decls[index - 1]->popup;
}

PF_ParamDef Instance::current_param(PF_ParamIndex index) const {
  std::lock_guard lock(host().mutex);
  PF_ParamDef def{};
  std::string why;
  if (index < 1 || detail::param_def_for(*state_, nullptr, index, &def, &why) != PF_Err_NONE)
    throw std::invalid_argument("hostsim: parameter " + std::to_string(index) + ": " +
                                (why.empty() ? "not declared" : why));
  return def;
}

int32_t Instance::num_params() const {
  std::lock_guard lock(host().mutex);
  return state_->num_params;
}

std::vector<ParamPush> Instance::ui_pushes() const {
  std::lock_guard lock(host().mutex);
  return state_->pushes;
}

void Instance::clear_ui_pushes() {
  std::lock_guard lock(host().mutex);
  state_->pushes.clear();
}

PF_State Instance::current_state() const {
  std::lock_guard lock(host().mutex);
  return detail::state_of(*state_);
}

}  // namespace hostsim
