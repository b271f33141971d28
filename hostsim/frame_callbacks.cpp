// The smart pre-render and smart render callbacks of a frame: checkout_layer (recording the
// request and answering the layer's bounds), checkout_layer_pixels, checkout_output, and the
// views handed out when a request covers part of a world.
#include <string>

#include "hostsim/internal.h"

namespace hostsim::detail {

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

}  // namespace hostsim::detail
