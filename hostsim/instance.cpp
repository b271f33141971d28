// The protocol driver: the contexts behind effect_refs, in-data as a host fills it, the
// global and sequence data carried between commands, frames and the deletion of their
// pre-render data.
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
  in.version = PF_SpecVersion{13, 28};
  in.appl_id = settings.premiere ? PF_APPL_ID_PREMIERE : settings.appl_id;
  state_->premiere = settings.premiere;
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
  const bool classic_frame_command =
      cmd == PF_Cmd_FRAME_SETUP || cmd == PF_Cmd_RENDER || cmd == PF_Cmd_FRAME_SETDOWN;
  if (classic_frame_command && ctx.is_frame) c.output = ctx.output->effect_world();
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
  if (!c.ctx_)
    throw std::logic_error("hostsim::Instance::send: the command was not made by prepare()");
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
  if (settings.premiere) {
    if (request.input->format() == PF_PixelFormat_ARGB128) {
      throw std::invalid_argument(
          "hostsim::Instance::begin_frame: Premiere Pro hands effects 8-bit and 16-bit worlds "
          "only (its float formats are outside this interface)");
    }
    const PF_LRect whole{0, 0, request.output->width(), request.output->height()};
    if (request.request_rect && std::memcmp(&*request.request_rect, &whole, sizeof whole) != 0) {
      throw std::invalid_argument(
          "hostsim::Instance::begin_frame: Premiere Pro renders whole frames, not regions");
    }
  }
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

namespace {

void refuse_smart_command_under_premiere(const InstanceSettings& settings, const char* what) {
  if (settings.premiere) {
    throw std::logic_error(std::string("hostsim::Instance::") + what +
                           ": Premiere Pro sends no smart-render commands");
  }
}

}  // namespace

CommandResult Instance::pre_render(Frame& frame) {
  refuse_smart_command_under_premiere(settings, "pre_render");
  Command c = prepare(PF_Cmd_SMART_PRE_RENDER, &frame);
  return send(c);
}

CommandResult Instance::smart_render(Frame& frame) {
  refuse_smart_command_under_premiere(settings, "smart_render");
  Command c = prepare(PF_Cmd_SMART_RENDER, &frame);
  return send(c);
}

CommandResult Instance::frame_setup(Frame& frame) {
  Command c = prepare(PF_Cmd_FRAME_SETUP, &frame);
  return send(c);
}

CommandResult Instance::classic_render(Frame& frame) {
  Command c = prepare(PF_Cmd_RENDER, &frame);
  return send(c);
}

CommandResult Instance::frame_setdown(Frame& frame) {
  Command c = prepare(PF_Cmd_FRAME_SETDOWN, &frame);
  return send(c);
}

void Instance::end_frame(Frame& frame) { detail::finish_frame(*frame.ctx_); }

FrameResult Instance::render_frame(const FrameRequest& request) {
  std::unique_ptr<Frame> f = begin_frame(request);
  FrameResult r;
  if (settings.premiere) {
    r.frame_setup = frame_setup(*f);
    if (r.frame_setup->err == PF_Err_NONE) {
      r.render = classic_render(*f);
      r.frame_setdown = frame_setdown(*f);
    }
    r.err = r.frame_setup->err                     ? r.frame_setup->err
            : r.render->err                        ? r.render->err
                                                   : r.frame_setdown->err;
    r.progress = f->progress();
    return r;
  }
  r.pre_render = pre_render(*f);
  // A host that asks for nothing renders nothing: an empty request gets its pre-render
  // (the effect may still say what it could give) but no render.
  if (r.pre_render.err == PF_Err_NONE && !detail::rect_empty(f->ctx_->request_rect)) {
    r.render = smart_render(*f);
  }
  end_frame(*f);
  r.err = r.pre_render.err ? r.pre_render.err : (r.render ? r.render->err : PF_Err_NONE);
  r.pre_render_output = f->pre_render_output();
  r.checkouts = f->checkouts();
  r.progress = f->progress();
  r.pre_render_data_deleted = f->pre_render_data_deleted();
  return r;
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
