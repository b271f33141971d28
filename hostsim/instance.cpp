// The protocol driver: contexts behind effect_refs, in-data as a host fills it, the
// global/sequence data carried between commands, the parameter store and its snapshot.
#include "hostsim/instance.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "hostsim/internal.h"
#include "hostsim/module.h"

namespace hostsim {
namespace detail {

Context::Context(std::shared_ptr<InstanceState> inst, bool frame)
    : instance(std::move(inst)), is_frame(frame) {
  std::lock_guard lock(host().mutex);
  id = host().next_context_id++;
  // The effect_ref is a token, never an address: a stale one from an ended command can then
  // never name a newer context that happens to reuse the memory.
  ref = reinterpret_cast<PF_ProgPtr>(static_cast<uintptr_t>(0x10000 + id * 16));
  host().contexts[ref] = this;
}

Context::~Context() {
  // Views and converted layers unregister themselves (they take the mutex), so they go first.
  views.clear();
  converted.clear();
  owned_worlds.clear();
  std::lock_guard lock(host().mutex);
  host().contexts.erase(ref);
}

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

void set_layer_def(PF_LayerDef* ld, const World* world, int32_t dephault) {
  if (world) {
    *ld = *world->effect_world();
  } else {
    *ld = PF_LayerDef{};
  }
  ld->dephault = dephault;
}

}  // namespace

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

void finish_frame(Context& ctx) {
  PF_DeletePreRenderDataFunc fn = nullptr;
  void* data = nullptr;
  {
    std::lock_guard lock(host().mutex);
    if (ctx.deleted || !ctx.pre_out.pre_render_data || !ctx.pre_out.delete_pre_render_data_func)
      return;
    ctx.deleted = true;
    fn = ctx.pre_out.delete_pre_render_data_func;
    data = ctx.pre_out.pre_render_data;
    Ticket t = count_call("delete_pre_render_data_func", {});
    Context* prev = current_context();
    current_context() = &ctx;
    log_call(t, "delete_pre_render_data_func", {}, nullptr, 0, false, false, false);
    current_context() = prev;
  }
  Context* prev = current_context();
  current_context() = &ctx;
  fn(data);
  current_context() = prev;
}

// ---- smart pre-render / render callbacks

namespace {

// The world behind a layer index in a frame: 0 the input, otherwise a declared layer
// parameter. Sets `why` for an index that is neither.
const World* frame_layer(Context& ctx, PF_ParamIndex index, std::string* why) {
  if (index == 0) return ctx.input;
  InstanceState& inst = *ctx.instance;
  if (index < 0 || index > static_cast<PF_ParamIndex>(inst.decls.size()) ||
      inst.decls[index - 1]->def.param_type != PF_Param_LAYER) {
    *why = "parameter " + std::to_string(index) + " is not a layer";
    return nullptr;
  }
  auto it = inst.values.find(index);
  if (it == inst.values.end() || it->second.kind != StoredValue::Kind::Layer) return nullptr;
  return layer_world(&ctx, it->second.layer);
}

PF_LRect bounds(const World* w) {
  return w ? PF_LRect{0, 0, w->width(), w->height()} : PF_LRect{0, 0, 0, 0};
}

bool same_rect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

PF_Err cb_checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, int32_t checkout_id,
                         const PF_RenderRequest* req, int32_t what_time, int32_t time_step,
                         uint32_t time_scale, PF_CheckoutResult* result) {
  std::lock_guard lock(host().mutex);
  const std::string q = "checkout_layer:" + std::to_string(index);
  Ticket t = count_call("checkout_layer", q);
  auto detail = [&] {
    return "index=" + std::to_string(index) + " id=" + std::to_string(checkout_id) +
           (req ? " rect=" + rect_text(req->rect) : std::string());
  };
  if (t.inject) {
    log_call(t, "checkout_layer", q, detail, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  std::string why;
  if (!ctx)
    why = "unknown effect_ref";
  else if (!ctx->is_frame)
    why = "not in a smart pre-render";
  else if (!req || !result)
    why = "null request or result";
  const World* layer = why.empty() ? frame_layer(*ctx, index, &why) : nullptr;
  if (!why.empty()) {
    log_call(
        t, "checkout_layer", q, [&] { return detail() + ": " + why; }, PF_Err_BAD_CALLBACK_PARAM,
        false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *result = PF_CheckoutResult{};
  const PF_LRect b = bounds(layer);
  result->result_rect = intersect(req->rect, b);
  result->max_result_rect = b;
  result->par = PF_RationalScale{1, 1};
  result->ref_width = b.right;
  result->ref_height = b.bottom;
  LayerCheckout c;
  c.index = index;
  c.checkout_id = checkout_id;
  c.request = *req;
  c.what_time = what_time;
  c.time_step = time_step;
  c.time_scale = time_scale;
  c.result = *result;
  ctx->checkouts.push_back(c);
  log_call(
      t, "checkout_layer", q, [&] { return detail() + " -> " + rect_text(result->result_rect); }, 0,
      false, false);
  return 0;
}

PF_Err cb_guid_mix_in(PF_ProgPtr effect_ref, uint32_t buf_size, const void*) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("GuidMixInPtr", {});
  if (t.inject) {
    log_call(t, "GuidMixInPtr", {}, nullptr, t.code, false, false);
    return t.code;
  }
  const bool known = find_context(effect_ref) != nullptr;
  log_call(
      t, "GuidMixInPtr", {}, [&] { return "size=" + std::to_string(buf_size); },
      known ? 0 : PF_Err_BAD_CALLBACK_PARAM, false, !known);
  return known ? 0 : PF_Err_BAD_CALLBACK_PARAM;
}

namespace {

// Shared by checkout_layer_pixels and checkout_output: hands out `world` over `rect`,
// making a view when the rectangle is smaller than the world. Called with the mutex held;
// releases it around the view's creation.
PF_EffectWorld* hand_out(std::unique_lock<std::recursive_mutex>& lock, Context& ctx, World* world,
                         const PF_LRect& rect, int32_t key) {
  if (!world || rect_empty(rect)) return nullptr;
  if (same_rect(rect, bounds(world))) return world->effect_world();
  auto it = ctx.views.find(key);
  if (it != ctx.views.end()) return it->second->effect_world();
  lock.unlock();
  std::unique_ptr<World> v = World::view(*world, rect);
  lock.lock();
  World* raw = v.get();
  ctx.owned_worlds.push_back(std::move(v));
  ctx.views[key] = raw;
  return raw->effect_world();
}

}  // namespace

PF_Err cb_checkout_layer_pixels(PF_ProgPtr effect_ref, int32_t checkout_id,
                                PF_EffectWorld** pixels) {
  std::unique_lock lock(host().mutex);
  const std::string q = "checkout_layer_pixels:" + std::to_string(checkout_id);
  Ticket t = count_call("checkout_layer_pixels", q);
  auto detail = [&] { return "id=" + std::to_string(checkout_id); };
  if (t.inject) {
    if (pixels) *pixels = nullptr;
    log_call(t, "checkout_layer_pixels", q, detail, t.code, true, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  std::string why;
  const LayerCheckout* found = nullptr;
  if (!ctx)
    why = "unknown effect_ref";
  else if (!ctx->is_frame)
    why = "not in a smart render";
  else if (!pixels)
    why = "null out pointer";
  else {
    for (const LayerCheckout& c : ctx->checkouts)
      if (c.checkout_id == checkout_id && c.err == 0) found = &c;
    if (!found) why = "checkout id " + std::to_string(checkout_id) + " was not checked out";
  }
  const World* layer = found ? frame_layer(*ctx, found->index, &why) : nullptr;
  if (!why.empty()) {
    if (pixels) *pixels = nullptr;
    log_call(
        t, "checkout_layer_pixels", q, [&] { return detail() + ": " + why; },
        PF_Err_BAD_CALLBACK_PARAM, true, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const PF_LRect rect = found->result.result_rect;
  PF_EffectWorld* w = hand_out(lock, *ctx, const_cast<World*>(layer), rect, checkout_id);
  *pixels = w;
  log_call(
      t, "checkout_layer_pixels", q,
      [&] { return detail() + (w ? " -> " + rect_text(rect) : std::string(" -> none")); }, 0,
      w == nullptr, false);
  return 0;
}

PF_Err cb_checkin_layer_pixels(PF_ProgPtr effect_ref, int32_t checkout_id) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("checkin_layer_pixels", {});
  if (t.inject) {
    log_call(t, "checkin_layer_pixels", {}, nullptr, t.code, false, false);
    return t.code;
  }
  const bool known = find_context(effect_ref) != nullptr;
  log_call(
      t, "checkin_layer_pixels", {}, [&] { return "id=" + std::to_string(checkout_id); },
      known ? 0 : PF_Err_BAD_CALLBACK_PARAM, false, !known);
  return known ? 0 : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err cb_checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
  std::unique_lock lock(host().mutex);
  Ticket t = count_call("checkout_output", {});
  if (t.inject) {
    if (output) *output = nullptr;
    log_call(t, "checkout_output", {}, nullptr, t.code, true, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  const char* why = !ctx             ? "unknown effect_ref"
                    : !ctx->is_frame ? "not in a smart render"
                    : !output        ? "null out pointer"
                    : !ctx->output   ? "the frame has no output world"
                                     : nullptr;
  if (why) {
    if (output) *output = nullptr;
    log_call(
        t, "checkout_output", {}, [&] { return std::string(why); }, PF_Err_BAD_CALLBACK_PARAM, true,
        true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // The output covers what pre-render said its result would be; the whole output world
  // when pre-render reported nothing.
  PF_LRect rect = bounds(ctx->output);
  if (!rect_empty(ctx->pre_out.result_rect)) rect = intersect(ctx->pre_out.result_rect, rect);
  PF_EffectWorld* w = hand_out(lock, *ctx, ctx->output, rect, -1);
  *output = w;
  log_call(
      t, "checkout_output", {}, [&] { return rect_text(rect); }, 0, w == nullptr, false);
  return 0;
}

}  // namespace detail

using detail::host;

// ---------------------------------------------------------------------------------------
// CommandResult, Frame, Command
// ---------------------------------------------------------------------------------------

std::string CommandResult::message() const {
  return std::string(out_data.return_msg, strnlen(out_data.return_msg, sizeof out_data.return_msg));
}

Frame::~Frame() {
  if (ctx_) detail::finish_frame(*ctx_);
}

PF_ProgPtr Frame::effect_ref() const { return ctx_->ref; }
uint64_t Frame::id() const { return ctx_->id; }
PF_PreRenderExtra* Frame::pre_render_extra() { return &ctx_->pre_extra; }
PF_SmartRenderExtra* Frame::smart_render_extra() { return &ctx_->sr_extra; }

PF_PreRenderOutput Frame::pre_render_output() const {
  std::lock_guard lock(host().mutex);
  return ctx_->pre_out;
}

std::vector<LayerCheckout> Frame::checkouts() const {
  std::lock_guard lock(host().mutex);
  return ctx_->checkouts;
}

std::vector<ProgressReport> Frame::progress() const {
  std::lock_guard lock(host().mutex);
  return ctx_->progress;
}

bool Frame::pre_render_data_deleted() const {
  std::lock_guard lock(host().mutex);
  return ctx_->deleted;
}

Command::Command() = default;
Command::~Command() = default;
Command::Command(Command&&) noexcept = default;
Command& Command::operator=(Command&&) noexcept = default;

// ---------------------------------------------------------------------------------------
// Instance
// ---------------------------------------------------------------------------------------

Instance::Instance(PF_EntryPointFunc entry) : state_(std::make_shared<detail::InstanceState>()) {
  if (!entry) throw std::invalid_argument("hostsim::Instance: null entry function");
  state_->entry = entry;
}

Instance::Instance(const Module& module) : Instance(module.entry) {}

Instance::~Instance() = default;

Command Instance::prepare(PF_Cmd cmd, Frame* frame) {
  const bool smart = cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER;
  Command c;
  c.cmd = cmd;
  c.ctx_ = frame ? frame->ctx_ : std::make_shared<detail::Context>(state_, false);
  detail::Context& ctx = *c.ctx_;

  std::lock_guard lock(host().mutex);
  PF_InData& in = c.in_data;
  in.inter = interact_callbacks();
  in.utils = utils();
  in.effect_ref = ctx.ref;
  in.quality = settings.quality;
  in.version = (13u << 16) | 28u;
  in.appl_id = settings.appl_id;
  in.num_params =
      state_->num_params ? state_->num_params : static_cast<int32_t>(state_->decls.size()) + 1;
  in.current_time = 0;
  in.time_step = settings.time_step;
  in.total_time = settings.total_time;
  in.local_time_step = settings.time_step;
  in.time_scale = settings.time_scale;
  in.downsample_x = settings.downsample_x;
  in.downsample_y = settings.downsample_y;
  in.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in.global_data = state_->global_data;
  in.sequence_data = state_->sequence_data;
  in.pica_basicP = settings.pass_basic_suite ? basic_suite() : nullptr;
  if (ctx.is_frame && ctx.input) {
    in.current_time = ctx.current_time;
    in.width = ctx.input->width();
    in.height = ctx.input->height();
    in.extent_hint = PF_LRect{0, 0, in.width, in.height};
  }

  if (smart && ctx.is_frame) {
    if (cmd == PF_Cmd_SMART_PRE_RENDER) {
      c.extra = &ctx.pre_extra;
    } else {
      ctx.sr_in.pre_render_data = ctx.pre_out.pre_render_data;
      c.extra = &ctx.sr_extra;
    }
  }
  if (!smart) {
    // The parameter array: the input layer, then (after parameter setup) every declared
    // parameter with its current value.
    const size_t count = cmd == PF_Cmd_PARAMS_SETUP ? 0 : state_->decls.size();
    c.param_defs.resize(count + 1);
    for (size_t i = 0; i <= count; ++i)
      detail::param_def_for(*state_, &ctx, static_cast<PF_ParamIndex>(i), &c.param_defs[i],
                            nullptr);
  }
  return c;
}

CommandResult Instance::send(Command& c) {
  detail::Context& ctx = *c.ctx_;
  c.params.resize(c.param_defs.size());
  for (size_t i = 0; i < c.param_defs.size(); ++i) c.params[i] = &c.param_defs[i];
  {
    std::lock_guard lock(host().mutex);
    ctx.active_out = &c.out_data;
    // A second parameter setup declares everything afresh.
    if (c.cmd == PF_Cmd_PARAMS_SETUP) state_->decls.clear();
  }
  detail::Context* prev = detail::current_context();
  detail::current_context() = &ctx;
  PF_Err err;
  try {
    err = state_->entry(c.cmd, &c.in_data, &c.out_data,
                        c.params.empty() ? nullptr : c.params.data(), c.output, c.extra);
  } catch (...) {
    // A host cannot let an exception cross the entry point; report it as damage.
    err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    std::lock_guard lock(host().mutex);
    detail::log_fault("EntryPointFunc", "an exception escaped the entry function (command " +
                                            std::to_string(c.cmd) + ")");
  }
  detail::current_context() = prev;

  std::lock_guard lock(host().mutex);
  ctx.active_out = nullptr;
  if (c.adopt_handles) {
    const PF_OutData& out = c.out_data;
    switch (c.cmd) {
      case PF_Cmd_GLOBAL_SETUP:
        state_->global_data = out.global_data;
        break;
      case PF_Cmd_GLOBAL_SETDOWN:
        state_->global_data = nullptr;
        break;
      case PF_Cmd_SEQUENCE_SETUP:
      case PF_Cmd_SEQUENCE_RESETUP:
        // The new sequence data; when the command handed none back, the old one stays only
        // if it is still alive (a setup that failed before disposing it).
        if (out.sequence_data || !host().handles.count(state_->sequence_data))
          state_->sequence_data = out.sequence_data;
        break;
      case PF_Cmd_SEQUENCE_SETDOWN:
        state_->sequence_data = nullptr;
        break;
      default:
        if (out.global_data) state_->global_data = out.global_data;
        if (out.sequence_data) state_->sequence_data = out.sequence_data;
        break;
    }
    // A handle the host would pass on but that the command disposed without a replacement:
    // a host would hand the module a dangling handle next time; we log it and forget it.
    auto forget_if_dead = [&](PF_Handle& h, const char* what) {
      if (!h || host().handles.count(h)) return;
      detail::log_fault("EntryPointFunc", std::string(what) + " disposed by command " +
                                              std::to_string(c.cmd) + " without a replacement");
      h = nullptr;
    };
    forget_if_dead(state_->global_data, "global data");
    forget_if_dead(state_->sequence_data, "sequence data");
  }
  if (c.cmd == PF_Cmd_PARAMS_SETUP && err == PF_Err_NONE)
    state_->num_params = c.out_data.num_params;
  return CommandResult{c.cmd, err, c.out_data};
}

namespace {

CommandResult run(Instance& fx, PF_Cmd cmd) {
  Command c = fx.prepare(cmd);
  return fx.send(c);
}

}  // namespace

CommandResult Instance::about() { return run(*this, PF_Cmd_ABOUT); }
CommandResult Instance::global_setup() { return run(*this, PF_Cmd_GLOBAL_SETUP); }
CommandResult Instance::params_setup() { return run(*this, PF_Cmd_PARAMS_SETUP); }
CommandResult Instance::sequence_setup() { return run(*this, PF_Cmd_SEQUENCE_SETUP); }
CommandResult Instance::sequence_resetup() { return run(*this, PF_Cmd_SEQUENCE_RESETUP); }
CommandResult Instance::update_params_ui() { return run(*this, PF_Cmd_UPDATE_PARAMS_UI); }
CommandResult Instance::user_changed_param() { return run(*this, PF_Cmd_USER_CHANGED_PARAM); }
CommandResult Instance::sequence_setdown() { return run(*this, PF_Cmd_SEQUENCE_SETDOWN); }
CommandResult Instance::global_setdown() { return run(*this, PF_Cmd_GLOBAL_SETDOWN); }

CommandResult Instance::start() {
  CommandResult r = global_setup();
  if (r.err) return r;
  r = params_setup();
  if (r.err) return r;
  r = sequence_setup();
  if (r.err) return r;
  return update_params_ui();
}

CommandResult Instance::finish() {
  CommandResult a = sequence_setdown();
  CommandResult b = global_setdown();
  return a.err ? a : b;
}

std::unique_ptr<Frame> Instance::begin_frame(const FrameRequest& request) {
  if (!request.input || !request.output)
    throw std::invalid_argument(
        "hostsim::Instance::begin_frame: a frame needs an input and an output world");
  std::unique_ptr<Frame> f(new Frame);
  f->ctx_ = std::make_shared<detail::Context>(state_, true);
  detail::Context& ctx = *f->ctx_;
  std::lock_guard lock(host().mutex);
  ctx.input = request.input;
  ctx.output = request.output;
  ctx.request_rect = request.request_rect.value_or(
      PF_LRect{0, 0, request.output->width(), request.output->height()});
  ctx.on_progress = request.on_progress;
  ctx.on_abort = request.on_abort;
  ctx.current_time = request.current_time;
  const int16_t depth = request.input->format() == PF_PixelFormat_ARGB32   ? 8
                        : request.input->format() == PF_PixelFormat_ARGB64 ? 16
                                                                           : 32;
  ctx.pre_in.output_request.rect = ctx.request_rect;
  ctx.pre_in.output_request.channel_mask = 0xF;  // alpha, red, green and blue
  ctx.pre_in.bitdepth = depth;
  ctx.pre_cb.checkout_layer = detail::cb_checkout_layer;
  ctx.pre_cb.GuidMixInPtr = detail::cb_guid_mix_in;
  ctx.pre_extra = PF_PreRenderExtra{&ctx.pre_in, &ctx.pre_out, &ctx.pre_cb};
  ctx.sr_in.output_request = ctx.pre_in.output_request;
  ctx.sr_in.bitdepth = depth;
  ctx.sr_cb.checkout_layer_pixels = detail::cb_checkout_layer_pixels;
  ctx.sr_cb.checkin_layer_pixels = detail::cb_checkin_layer_pixels;
  ctx.sr_cb.checkout_output = detail::cb_checkout_output;
  ctx.sr_extra = PF_SmartRenderExtra{&ctx.sr_in, &ctx.sr_cb};
  return f;
}

CommandResult Instance::pre_render(Frame& frame) {
  Command c = prepare(PF_Cmd_SMART_PRE_RENDER, &frame);
  return send(c);
}

CommandResult Instance::smart_render(Frame& frame) {
  Command c = prepare(PF_Cmd_SMART_RENDER, &frame);
  return send(c);
}

void Instance::end_frame(Frame& frame) { detail::finish_frame(*frame.ctx_); }

FrameResult Instance::render_frame(const FrameRequest& request) {
  std::unique_ptr<Frame> f = begin_frame(request);
  FrameResult r;
  r.pre_render = pre_render(*f);
  if (r.pre_render.err == PF_Err_NONE) r.render = smart_render(*f);
  end_frame(*f);
  r.err = r.pre_render.err ? r.pre_render.err : r.render->err;
  r.pre_render_output = f->pre_render_output();
  r.checkouts = f->checkouts();
  r.progress = f->progress();
  r.pre_render_data_deleted = f->pre_render_data_deleted();
  return r;
}

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

std::vector<Registration> Instance::registrations() const {
  std::lock_guard lock(host().mutex);
  return state_->registrations;
}

PF_Handle Instance::global_data() const {
  std::lock_guard lock(host().mutex);
  return state_->global_data;
}

PF_Handle Instance::sequence_data() const {
  std::lock_guard lock(host().mutex);
  return state_->sequence_data;
}

void Instance::set_global_data(PF_Handle handle) {
  std::lock_guard lock(host().mutex);
  state_->global_data = handle;
}

void Instance::set_sequence_data(PF_Handle handle) {
  std::lock_guard lock(host().mutex);
  state_->sequence_data = handle;
}

}  // namespace hostsim
