// The callback tables inside the in-data: the utility callbacks (world copy, handles, math,
// bounded sprintf and strcpy) and the interaction callbacks (add_param, checkout_param,
// checkin_param, abort, progress).
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "hostsim/internal.h"

namespace hostsim::detail {

namespace {

// ---- world copy

PF_Err copy_world(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                  PF_Rect* dst_r) {
  std::unique_lock lock(host().mutex);
  Ticket t = count_call("copy", {});
  if (t.inject) {
    log_call(t, "copy", {}, nullptr, t.code, false, false);
    return t.code;
  }
  const PF_PixelFormat sf = format_of_locked(src), df = format_of_locked(dst);
  std::string why;
  PF_LRect sr{}, dr{};
  if (!find_context(effect_ref))
    why = "unknown effect_ref";
  else if (!src || !dst)
    why = "null world";
  else if (sf == PF_PixelFormat_INVALID || df == PF_PixelFormat_INVALID)
    why = "not a world of this host";
  else if (sf != df)
    why = std::string("formats differ: ") + format_name(sf) + " to " + format_name(df);
  if (why.empty()) {
    sr = src_r ? *src_r : PF_LRect{0, 0, src->width, src->height};
    dr = dst_r ? *dst_r : PF_LRect{0, 0, dst->width, dst->height};
    auto inside = [](const PF_LRect& r, const PF_EffectWorld* w) {
      return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom &&
             r.right <= w->width && r.bottom <= w->height;
    };
    if (!inside(sr, src) || !inside(dr, dst)) {
      why = "rectangle outside its world: src " + rect_text(sr) + " dst " + rect_text(dr);
    } else if (src_r && dst_r &&
               (sr.right - sr.left != dr.right - dr.left ||
                sr.bottom - sr.top != dr.bottom - dr.top)) {
      why = "source and destination rectangles differ in size (no scaling)";
    }
  }
  if (!why.empty()) {
    log_call(
        t, "copy", {}, [&] { return why; }, PF_Err_BAD_CALLBACK_PARAM, false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // Without both rectangles the common area is copied, from the top-left corners.
  const int64_t w = std::min(sr.right - sr.left, dr.right - dr.left);
  const int64_t h = std::min(sr.bottom - sr.top, dr.bottom - dr.top);
  const int32_t ps = pixel_size(sf);
  log_call(
      t, "copy", {},
      [&] { return "src " + rect_text(sr) + " dst " + rect_text(dr) + " " + format_name(sf); }, 0,
      false, false);
  lock.unlock();
  for (int64_t y = 0; y < h; ++y) {
    const auto* s = static_cast<const uint8_t*>(src->data) + (sr.top + y) * src->rowbytes +
                    int64_t{sr.left} * ps;
    auto* d =
        static_cast<uint8_t*>(dst->data) + (dr.top + y) * dst->rowbytes + int64_t{dr.left} * ps;
    std::memmove(d, s, static_cast<size_t>(w * ps));
  }
  return PF_Err_NONE;
}

// ---- math: the C library's own routines

double m_atan(double x) { return std::atan(x); }
double m_atan2(double y, double x) { return std::atan2(y, x); }
double m_ceil(double x) { return std::ceil(x); }
double m_cos(double x) { return std::cos(x); }
double m_exp(double x) { return std::exp(x); }
double m_fabs(double x) { return std::fabs(x); }
double m_floor(double x) { return std::floor(x); }
double m_fmod(double x, double y) { return std::fmod(x, y); }
double m_hypot(double x, double y) { return std::hypot(x, y); }
double m_log(double x) { return std::log(x); }
double m_log10(double x) { return std::log10(x); }
double m_pow(double x, double y) { return std::pow(x, y); }
double m_sin(double x) { return std::sin(x); }
double m_sqrt(double x) { return std::sqrt(x); }
double m_tan(double x) { return std::tan(x); }
double m_asin(double x) { return std::asin(x); }
double m_acos(double x) { return std::acos(x); }

// ---- strings, bounded where the destination is a buffer we know

int host_sprintf(char* buffer, const char* format, ...) {
  std::unique_lock lock(host().mutex);
  Ticket t = count_call("sprintf", {});
  const std::string fmt = format ? format : "(null)";
  if (t.inject) {
    log_call(
        t, "sprintf", {}, [&] { return "format=\"" + fmt + "\""; }, 0, false, false);
    return -1;
  }
  if (!buffer || !format) {
    log_call(
        t, "sprintf", {}, [&] { return std::string("null buffer or format"); }, 0, false, true);
    return -1;
  }
  // A return_msg holds 256 bytes; an unknown buffer is assumed to hold no more than that.
  const size_t limit = writable_bytes(buffer, PF_MAX_EFFECT_MSG_LEN + 1);
  lock.unlock();
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, limit, format, args);
  va_end(args);
  lock.lock();
  const bool truncated = n >= 0 && static_cast<size_t>(n) >= limit;
  log_call(
      t, "sprintf", {},
      [&] {
        return "format=\"" + fmt + "\"" +
               (truncated ? ": output truncated to " + std::to_string(limit - 1) + " bytes"
                          : std::string());
      },
      0, false, truncated);
  if (n < 0) return -1;
  return truncated ? static_cast<int>(limit - 1) : n;
}

char* host_strcpy(char* dest, const char* src) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("strcpy", {});
  const std::string text = src ? src : "";
  if (t.inject) {
    log_call(
        t, "strcpy", {}, [&] { return "\"" + text + "\""; }, 0, true, false);
    return nullptr;
  }
  if (!dest || !src) {
    log_call(
        t, "strcpy", {}, [&] { return std::string("null destination or source"); }, 0, false, true);
    return dest;
  }
  const size_t limit = writable_bytes(dest, 0);
  bool truncated = false;
  if (limit == 0) {
    std::strcpy(dest, src);  // a buffer of the module's own: its size is its business
  } else {
    const size_t n = std::min(text.size(), limit - 1);
    truncated = n < text.size();
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
  }
  log_call(
      t, "strcpy", {}, [&] { return "\"" + text + "\"" + (truncated ? ": truncated" : ""); }, 0,
      false, truncated);
  return dest;
}

// The tables' entries the module never calls; one that is called anyway is logged.
void unused_callback_called() {
  std::lock_guard lock(host().mutex);
  log_fault("unused callback", "a callback the host does not offer was called");
}

// The utility table as the host lays it out: the module's entries among the many it never
// calls, each of those answering with a logged fault.
PF_UtilCallbacks make_util_table() {
  PF_UtilCallbacks u{};
  for (PF_UnusedCallback* slot :
       {&u.begin_sampling, &u.subpixel_sample, &u.area_sample, &u.get_batch_func_is_deprecated,
        &u.end_sampling, &u.composite_rect, &u.blend, &u.convolve, &u.fill, &u.gaussian_kernel,
        &u.iterate, &u.premultiply, &u.premultiply_color, &u.new_world, &u.dispose_world,
        &u.iterate_origin, &u.iterate_lut, &u.transfer_rect, &u.transform_world,
        &u.get_callback_addr, &u.get_platform_data, &u.iterate_origin_non_clip_src,
        &u.iterate_generic, &u.host_resize_handle, &u.subpixel_sample16, &u.area_sample16,
        &u.fill16, &u.premultiply_color16, &u.iterate16, &u.iterate_origin16,
        &u.iterate_origin_non_clip_src16, &u.get_pixel_data8, &u.get_pixel_data16,
        &u.colorCB.RGBtoHLS, &u.colorCB.HLStoRGB, &u.colorCB.RGBtoYIQ, &u.colorCB.YIQtoRGB,
        &u.colorCB.Luminance, &u.colorCB.Hue, &u.colorCB.Lightness, &u.colorCB.Saturation})
    *slot = unused_callback_called;
  u.copy = copy_world;
  u.host_new_handle = new_handle;
  u.host_lock_handle = lock_handle;
  u.host_unlock_handle = unlock_handle;
  u.host_dispose_handle = dispose_handle;
  u.host_get_handle_size = get_handle_size;
  u.ansi = {m_atan,  m_atan2, m_ceil, m_cos, m_exp,        m_fabs,      m_floor,
            m_fmod,  m_hypot, m_log,  m_log10, m_pow,      m_sin,       m_sqrt,
            m_tan,   host_sprintf, host_strcpy, m_asin, m_acos, 0};
  return u;
}
PF_UtilCallbacks util_table = make_util_table();

std::string param_name(const PF_ParamDef& d) {
  return std::string(d.name, strnlen(d.name, sizeof d.name));
}

}  // namespace

// ---- interaction callbacks

PF_Err cb_checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, int32_t what_time,
                         int32_t time_step, uint32_t time_scale, PF_ParamDef* param) {
  std::lock_guard lock(host().mutex);
  const std::string q = "checkout_param:" + std::to_string(index);
  Ticket t = count_call("checkout_param", q);
  auto detail = [&] {
    return "index=" + std::to_string(index) + " time=" + std::to_string(what_time) + "/" +
           std::to_string(time_step) + "/" + std::to_string(time_scale);
  };
  if (t.inject) {
    log_call(t, "checkout_param", q, detail, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  std::string why;
  PF_Err err = 0;
  if (!ctx) {
    why = "unknown effect_ref";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else if (!param) {
    why = "null parameter record";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else {
    err = param_def_for(*ctx->instance, ctx, index, param, &why);
  }
  log_call(
      t, "checkout_param", q, [&] { return why.empty() ? detail() : detail() + ": " + why; }, err,
      false, err != 0);
  return err;
}

PF_Err cb_checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
  std::lock_guard lock(host().mutex);
  const std::string q = param ? "checkin_param:" + std::to_string(param->uu.id) : std::string();
  Ticket t = count_call("checkin_param", q);
  if (t.inject) {
    log_call(t, "checkin_param", q, nullptr, t.code, false, false);
    return t.code;
  }
  const char* why = !find_context(effect_ref) ? "unknown effect_ref"
                    : !param                  ? "null parameter record"
                                              : nullptr;
  if (why) {
    log_call(
        t, "checkin_param", q, [&] { return std::string(why); }, PF_Err_BAD_CALLBACK_PARAM, false,
        true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // Appended, not `"\"" + name`: GCC 12 at -O3 takes that for an overlapping copy
  // (-Wrestrict) where nothing overlaps.
  auto quoted_name = [&] {
    std::string text(1, '"');
    text += param_name(*param);
    text += '"';
    return text;
  };
  log_call(t, "checkin_param", q, quoted_name, 0, false, false);
  return 0;
}

PF_Err cb_add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
  std::lock_guard lock(host().mutex);
  Ticket t = count_call("add_param", {});
  auto detail = [&] {
    return "index=" + std::to_string(index) +
           (def ? " type=" + std::to_string(def->param_type) + " name=\"" + param_name(*def) + "\""
                : std::string(" def=null"));
  };
  if (t.inject) {
    log_call(t, "add_param", {}, detail, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  std::string why;
  PF_Err err = 0;
  if (!ctx) {
    why = "unknown effect_ref";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else if (!def) {
    why = "null definition";
    err = PF_Err_BAD_CALLBACK_PARAM;
  } else if (index != -1 && index != static_cast<PF_ParamIndex>(ctx->instance->decls.size()) + 1) {
    why = "index is neither -1 (append) nor the next index";
    err = PF_Err_INVALID_INDEX;
  }
  if (err) {
    log_call(
        t, "add_param", {}, [&] { return detail() + ": " + why; }, err, false, true);
    return err;
  }
  auto d = std::make_unique<DeclaredParam>();
  d->def = *def;
  d->ui_flags = def->ui_flags;
  if (def->param_type == PF_Param_POPUP && def->u.pd.u.namesptr) {
    d->popup = def->u.pd.u.namesptr;
    d->def.u.pd.u.namesptr = d->popup.c_str();
  }
  ctx->instance->decls.push_back(std::move(d));
  log_call(t, "add_param", {}, detail, 0, false, false);
  return 0;
}

PF_Err cb_abort(PF_ProgPtr effect_ref) {
  std::unique_lock lock(host().mutex);
  Ticket t = count_call("abort", {});
  if (t.inject) {
    log_call(t, "abort", {}, nullptr, t.code, false, false);
    return t.code;
  }
  Context* ctx = find_context(effect_ref);
  if (!ctx) {
    log_call(
        t, "abort", {}, [] { return std::string("unknown effect_ref"); }, PF_Err_BAD_CALLBACK_PARAM,
        false, true);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto hook = ctx->on_abort;
  lock.unlock();
  const PF_Err err = hook ? hook() : PF_Err_NONE;
  lock.lock();
  log_call(t, "abort", {}, nullptr, err, false, false);
  return err;
}

PF_Err cb_progress(PF_ProgPtr effect_ref, int32_t current, int32_t total) {
  std::unique_lock lock(host().mutex);
  Ticket t = count_call("progress", {});
  auto detail = [&] { return std::to_string(current) + "/" + std::to_string(total); };
  Context* ctx = find_context(effect_ref);
  if (!ctx) {
    log_call(
        t, "progress", {}, [&] { return detail() + ": unknown effect_ref"; },
        t.inject ? t.code : PF_Err_BAD_CALLBACK_PARAM, false, !t.inject);
    return t.inject ? t.code : PF_Err_BAD_CALLBACK_PARAM;
  }
  // Every report the module made is recorded, also one the host then fails.
  ctx->progress.push_back({current, total});
  if (t.inject) {
    log_call(t, "progress", {}, detail, t.code, false, false);
    return t.code;
  }
  auto on_progress = ctx->on_progress;
  auto on_abort = ctx->on_abort;
  lock.unlock();
  if (on_progress) on_progress(current, total);
  const PF_Err err = on_abort ? on_abort() : PF_Err_NONE;
  lock.lock();
  log_call(t, "progress", {}, detail, err, false, false);
  return err;
}

}  // namespace hostsim::detail

namespace hostsim {

PF_UtilCallbacks* utils() { return &detail::util_table; }

PF_InteractCallbacks interact_callbacks() {
  PF_InteractCallbacks c{};
  c.checkout_param = detail::cb_checkout_param;
  c.checkin_param = detail::cb_checkin_param;
  c.add_param = detail::cb_add_param;
  c.abort = detail::cb_abort;
  c.progress = detail::cb_progress;
  c.register_ui = detail::unused_callback_called;
  c.checkout_layer_audio = detail::unused_callback_called;
  c.checkin_layer_audio = detail::unused_callback_called;
  c.get_audio_data = detail::unused_callback_called;
  return c;
}

}  // namespace hostsim
