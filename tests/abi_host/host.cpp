// The independent host's services: counting functions at their published offsets, handles
// with accounting, the basic suite and the suites the module asks for, the frame callbacks
// and a nearest-pixel sampler that checks the parameter block it is handed.
#include "host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "layout.h"

namespace abi_host {

namespace L = layout;

int32_t format_code(Depth d) {
  switch (d) {
    case Depth::k8: return four_in_memory('a', 'r', 'g', 'b');
    case Depth::k16: return four_in_memory('a', 'e', '1', '6');
    default: return four_in_memory('a', 'e', '3', '2');
  }
}
int32_t pixel_bytes(Depth d) { return d == Depth::k8 ? 4 : d == Depth::k16 ? 8 : 16; }
int16_t bitdepth_of(Depth d) { return d == Depth::k8 ? 8 : d == Depth::k16 ? 16 : 32; }
const char* depth_name(Depth d) { return d == Depth::k8 ? "8-bit" : d == Depth::k16 ? "16-bit" : "float"; }

FrameWorld::FrameWorld(std::string name, Depth d, int32_t w, int32_t h, int32_t pad_pixels)
    : record(std::move(name), L::world::kSize), depth(d), width(w), height(h),
      rowbytes((w + pad_pixels) * pixel_bytes(d)),
      pixels(size_t(rowbytes) * size_t(h), kPoison) {
  namespace W = L::world;
  for (int32_t y = 0; y < h; ++y) std::memset(pixel(0, y), 0, size_t(w) * pixel_bytes(d));
  record.put<int32_t>(W::kWorldFlags, (d == Depth::k16 ? 1 : 0) | 2);  // deep, writable
  record.put<void*>(W::kData, pixels.data());
  record.put<int32_t>(W::kRowbytes, rowbytes);
  record.put<int32_t>(W::kWidth, w);
  record.put<int32_t>(W::kHeight, h);
  const int32_t extent[4] = {0, 0, w, h};
  record.put_bytes(W::kExtentHint, extent, sizeof extent);
  const int32_t par[2] = {1, 1};
  record.put_bytes(W::kPixAspect, par, sizeof par);
  record.put<int32_t>(W::kOriginX, 0);
  record.put<int32_t>(W::kOriginY, 0);
  record.seal();
}

double FrameWorld::channel(int32_t x, int32_t y, int c) const {
  const uint8_t* p = pixels.data() + size_t(y) * rowbytes + size_t(x) * pixel_bytes(depth);
  switch (depth) {
    case Depth::k8: return p[c];
    case Depth::k16: {
      uint16_t v;
      std::memcpy(&v, p + 2 * c, 2);
      return v;
    }
    default: {
      float v;
      std::memcpy(&v, p + 4 * c, 4);
      return v;
    }
  }
}

void FrameWorld::set_channel(int32_t x, int32_t y, int c, double v) {
  uint8_t* p = pixel(x, y);
  switch (depth) {
    case Depth::k8: p[c] = static_cast<uint8_t>(v); break;
    case Depth::k16: {
      const auto s = static_cast<uint16_t>(v);
      std::memcpy(p + 2 * c, &s, 2);
      break;
    }
    default: {
      const auto f = static_cast<float>(v);
      std::memcpy(p + 4 * c, &f, 4);
    }
  }
}

Host& host() {
  static Host h;
  return h;
}

void* effect_ref() {
  static int32_t anchor = 0;
  return &anchor;
}

namespace {

void counted(const char* name) { ++host().calls[name]; }

bool known_ref(void* ref, const char* who) {
  if (ref == effect_ref()) return true;
  host().fail(std::string(who) + ": called with an effect_ref the host never gave");
  return false;
}

// ---- handles

void** new_handle(uint64_t size) {
  counted("host_new_handle");
  auto** h = new void*;
  // A new block holds poison, as a host's fresh memory holds whatever it held: the module
  // must not count on zeros.
  *h = std::malloc(size ? size : 1);
  std::memset(*h, kPoison, size ? size : 1);
  host().live_handles[h] = size;
  ++host().handles_made;
  return h;
}
bool live(void** h, const char* who) {
  if (h && host().live_handles.count(h)) return true;
  host().fail(std::string(who) + ": a handle the host does not know");
  return false;
}
void* lock_handle(void** h) {
  counted("host_lock_handle");
  return live(h, "host_lock_handle") ? *h : nullptr;
}
void unlock_handle(void** h) {
  counted("host_unlock_handle");
  live(h, "host_unlock_handle");
}
void dispose_handle(void** h) {
  counted("host_dispose_handle");
  if (!live(h, "host_dispose_handle")) return;
  std::free(*h);
  host().live_handles.erase(h);
  delete h;
}
uint64_t get_handle_size(void** h) {
  counted("host_get_handle_size");
  return live(h, "host_get_handle_size") ? host().live_handles[h] : 0;
}

// ---- world copy: the common area, from the top-left corners

int32_t copy_world(void* ref, void* src, void* dst, void* src_rect, void* dst_rect) {
  counted("copy");
  if (!known_ref(ref, "copy")) return 516;
  if (src_rect || dst_rect) host().fail("copy: rectangles this host did not expect");
  FrameWorld* in = host().input;
  FrameWorld* out = host().output;
  if (!in || !out || src != in->record.data() || dst != out->record.data()) {
    host().fail("copy: worlds other than the frame's input and output");
    return 516;
  }
  for (int32_t y = 0; y < std::min(in->height, out->height); ++y)
    std::memcpy(out->pixel(0, y), in->pixel(0, y),
                size_t(std::min(in->width, out->width)) * pixel_bytes(in->depth));
  return 0;
}

// ---- math and strings

double m_atan(double x) { counted("atan"); return std::atan(x); }
double m_atan2(double y, double x) { counted("atan2"); return std::atan2(y, x); }
double m_ceil(double x) { counted("ceil"); return std::ceil(x); }
double m_cos(double x) { counted("cos"); return std::cos(x); }
double m_exp(double x) { counted("exp"); return std::exp(x); }
double m_fabs(double x) { counted("fabs"); return std::fabs(x); }
double m_floor(double x) { counted("floor"); return std::floor(x); }
double m_fmod(double x, double y) { counted("fmod"); return std::fmod(x, y); }
double m_hypot(double x, double y) { counted("hypot"); return std::hypot(x, y); }
double m_log(double x) { counted("log"); return std::log(x); }
double m_log10(double x) { counted("log10"); return std::log10(x); }
double m_pow(double x, double y) { counted("pow"); return std::pow(x, y); }
double m_sin(double x) { counted("sin"); return std::sin(x); }
double m_sqrt(double x) { counted("sqrt"); return std::sqrt(x); }
double m_tan(double x) { counted("tan"); return std::tan(x); }
double m_asin(double x) { counted("asin"); return std::asin(x); }
double m_acos(double x) { counted("acos"); return std::acos(x); }

// Every buffer the module formats into is a return message of 256 bytes.
int host_sprintf(char* buffer, const char* format, ...) {
  counted("sprintf");
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, L::out::kReturnMsgSize, format, args);
  va_end(args);
  return n;
}
char* host_strcpy(char* dest, const char* src) {
  counted("strcpy");
  return std::strcpy(dest, src);
}

// ---- the basic suite

struct KnownSuite {
  const char* name;
  int32_t version;
  RawBlock* table;
};
std::vector<KnownSuite> known_suites(Tables& t) {
  return {{"PF Handle Suite", 2, &t.handle_suite},
          {"AEGP Utility Suite", 7, &t.utility_suite},
          {"PF Param Utils Suite", 2, &t.param_utils},
          {"PF World Suite", 2, &t.world_suite},
          {"PF Sampling8 Suite", 1, &t.sampling8},
          {"PF Sampling16 Suite", 1, &t.sampling16},
          {"PF SamplingFloat Suite", 1, &t.sampling_float}};
}

int32_t acquire_suite(const char* name, int32_t version, const void** suite) {
  counted("AcquireSuite");
  for (const KnownSuite& s : known_suites(tables())) {
    if (std::strcmp(s.name, name) == 0 && s.version == version) {
      *suite = s.table->data();
      ++host().suites_held[name];
      return 0;
    }
  }
  host().fail(std::string("AcquireSuite: no suite \"") + name + "\" version " + std::to_string(version));
  *suite = nullptr;
  return 0x53214664;  // the basic suite's "suite not found", 'S!Fd'
}
int32_t release_suite(const char* name, int32_t version) {
  counted("ReleaseSuite");
  if (--host().suites_held[name] < 0)
    host().fail(std::string("ReleaseSuite: \"") + name + "\" version " + std::to_string(version) +
                " released more often than acquired");
  return 0;
}
int32_t is_equal(const char* a, const char* b) {
  counted("IsEqual");
  return std::strcmp(a, b) == 0 ? 1 : 0;
}
int32_t allocate_block(size_t size, void** block) {
  counted("AllocateBlock");
  host().fail("AllocateBlock: the module allocates only through handles");
  *block = std::malloc(size ? size : 1);
  return 0;
}
int32_t free_block(void* block) {
  counted("FreeBlock");
  std::free(block);
  return 0;
}
int32_t reallocate_block(void* block, size_t size, void** out) {
  counted("ReallocateBlock");
  *out = std::realloc(block, size ? size : 1);
  return 0;
}

// ---- AEGP utility, param utils, world

int32_t register_with_aegp(void*, const char* name, int32_t* plugin_id) {
  counted("AEGP_RegisterWithAEGP");
  if (!name) host().fail("AEGP_RegisterWithAEGP: no name");
  *plugin_id = 4242;
  return 0;
}

int32_t update_param_ui(void* ref, int32_t index, const void* def) {
  counted("PF_UpdateParamUI");
  if (!known_ref(ref, "PF_UpdateParamUI")) return 516;
  if (index < 1 || index > static_cast<int32_t>(host().declared.size())) {
    host().fail("PF_UpdateParamUI: index " + std::to_string(index) + " was never declared");
    return 513;
  }
  UiPush push{index, 0, 0};
  std::memcpy(&push.type, static_cast<const uint8_t*>(def) + L::param::kType, 4);
  std::memcpy(&push.ui_flags, static_cast<const uint8_t*>(def) + L::param::kUiFlags, 4);
  host().ui_pushes.push_back(push);
  return 0;
}

// A snapshot is 16 bytes: a mark of this host and the generation it was taken at.
constexpr int32_t kStateMark = 0x61626948;
int32_t get_current_state(void* ref, void* state) {
  counted("PF_GetCurrentState");
  if (!known_ref(ref, "PF_GetCurrentState")) return 516;
  const int32_t words[4] = {kStateMark, static_cast<int32_t>(host().generation), 0, 0};
  std::memcpy(state, words, sizeof words);
  return 0;
}
// As the published version 2 does, the index is ignored.
int32_t has_param_changed(void* ref, const void* state, int32_t /*index*/, int8_t* changed) {
  counted("PF_HasParamChanged");
  if (!known_ref(ref, "PF_HasParamChanged")) return 516;
  int32_t words[4];
  std::memcpy(words, state, sizeof words);
  *changed = (words[0] != kStateMark || words[1] != static_cast<int32_t>(host().generation)) ? 1 : 0;
  return 0;
}

// A world record describes one of this host's worlds when its pixel pointer at 24 is that
// world's: the module may hand over a copy (a layer parameter's value is one).
bool describes(const void* record, const FrameWorld* w) {
  if (!record || !w) return false;
  void* data;
  std::memcpy(&data, static_cast<const uint8_t*>(record) + L::world::kData, sizeof data);
  int32_t width, height;
  std::memcpy(&width, static_cast<const uint8_t*>(record) + L::world::kWidth, 4);
  std::memcpy(&height, static_cast<const uint8_t*>(record) + L::world::kHeight, 4);
  return data == w->pixels.data() && width == w->width && height == w->height;
}

int32_t get_pixel_format(const void* world, int32_t* format) {
  counted("PF_GetPixelFormat");
  for (FrameWorld* w : {host().input, host().output, host().iris_layer}) {
    if (describes(world, w)) {
      *format = format_code(w->depth);
      return 0;
    }
  }
  host().fail("PF_GetPixelFormat: a world this host never handed out");
  return 516;
}

// ---- sampling: the block must hold the iris layer at 16 and nothing else

template <Depth D>
int32_t subpixel(void* ref, int32_t x, int32_t y, const void* params, void* pixel) {
  counted(D == Depth::k8 ? "subpixel_sample" : D == Depth::k16 ? "subpixel_sample16" : "subpixel_sample_float");
  ++host().sampling_calls;
  if (!known_ref(ref, "subpixel_sample")) return 516;
  const auto* pb = static_cast<const uint8_t*>(params);
  void* src;
  std::memcpy(&src, pb + L::samp::kSrc, sizeof src);
  FrameWorld* layer = host().iris_layer;
  bool rest_zero = true;
  for (size_t i = 0; i < L::samp::kSize; ++i)
    if ((i < L::samp::kSrc || i >= L::samp::kSrc + 8) && pb[i] != 0) rest_zero = false;
  if (!describes(src, layer) || !rest_zero) {
    if (host().count("sampling block wrong") == 0)
      host().fail("subpixel sampling: the parameter block does not hold the iris layer at 16 with "
                  "every other byte zero");
    counted("sampling block wrong");
    return 516;
  }
  if (layer->depth != D) {
    host().fail("subpixel sampling: the iris layer is sampled in another depth");
    return 516;
  }
  // Nearest pixel of the 16.16 position; outside the layer, transparent black.
  const int32_t px = static_cast<int32_t>(std::floor(x / 65536.0));
  const int32_t py = static_cast<int32_t>(std::floor(y / 65536.0));
  const int32_t n = pixel_bytes(D);
  if (px < 0 || py < 0 || px >= layer->width || py >= layer->height)
    std::memset(pixel, 0, size_t(n));
  else
    std::memcpy(pixel, layer->pixel(px, py), size_t(n));
  return 0;
}

// ---- frame callbacks

int32_t checkout_layer(void* ref, int32_t index, int32_t checkout_id, const void* req, int32_t,
                       int32_t, uint32_t, void* result) {
  counted("checkout_layer");
  if (!known_ref(ref, "checkout_layer")) return 516;
  if (index != 0 || checkout_id != 0) host().fail("checkout_layer: a layer other than the input");
  FrameWorld* in = host().input;
  int32_t rect[4];
  std::memcpy(rect, static_cast<const uint8_t*>(req) + L::request::kRect, sizeof rect);
  const int32_t bounds[4] = {0, 0, in->width, in->height};
  const int32_t got[4] = {std::max(rect[0], 0), std::max(rect[1], 0), std::min(rect[2], in->width),
                          std::min(rect[3], in->height)};
  auto* r = static_cast<uint8_t*>(result);
  std::memset(r, 0, L::checkout::kSize);
  std::memcpy(r + L::checkout::kResultRect, got, sizeof got);
  std::memcpy(r + L::checkout::kMaxResultRect, bounds, sizeof bounds);
  const int32_t par[2] = {1, 1};
  std::memcpy(r + L::checkout::kPar, par, sizeof par);
  std::memcpy(r + L::checkout::kRefWidth, &in->width, 4);
  std::memcpy(r + L::checkout::kRefHeight, &in->height, 4);
  return 0;
}
int32_t guid_mix_in(void* ref, uint32_t, const void*) {
  counted("GuidMixInPtr");
  return known_ref(ref, "GuidMixInPtr") ? 0 : 516;
}
int32_t checkout_layer_pixels(void* ref, int32_t checkout_id, void** world) {
  counted("checkout_layer_pixels");
  if (!known_ref(ref, "checkout_layer_pixels")) return 516;
  if (checkout_id != 0) host().fail("checkout_layer_pixels: an id never checked out");
  *world = host().input->record.data();
  return 0;
}
int32_t checkin_layer_pixels(void* ref, int32_t) {
  counted("checkin_layer_pixels");
  return known_ref(ref, "checkin_layer_pixels") ? 0 : 516;
}
int32_t checkout_output(void* ref, void** world) {
  counted("checkout_output");
  if (!known_ref(ref, "checkout_output")) return 516;
  *world = host().output->record.data();
  return 0;
}

// ---- interaction callbacks

void put_value(uint8_t* def, const std::vector<uint8_t>& declared, int32_t index) {
  std::memcpy(def, declared.data(), L::param::kSize);
  int32_t type;
  std::memcpy(&type, def + L::param::kType, 4);
  uint8_t* u = def + L::param::kU;
  if (index == 1) std::memcpy(u + L::param::kFloatValue, &host().radius, 8);
  if (index == 6) std::memcpy(u + L::param::kPopupValue, &host().shape, 4);
  if (type == L::param::kLayer) {
    // A layer parameter's value is the world itself; without one, a world without pixels.
    if (host().iris_layer)
      std::memcpy(u, host().iris_layer->record.data(), L::world::kSize);
    else
      std::memset(u, 0, L::world::kSize);
  }
}

int32_t checkout_param(void* ref, int32_t index, int32_t, int32_t, uint32_t, void* def) {
  counted("checkout_param");
  if (!known_ref(ref, "checkout_param")) return 516;
  if (index < 1 || index > static_cast<int32_t>(host().declared.size())) {
    host().fail("checkout_param: index " + std::to_string(index) + " was never declared");
    return 513;
  }
  put_value(static_cast<uint8_t*>(def), host().declared[size_t(index) - 1], index);
  ++host().calls["checked out"];
  return 0;
}
int32_t checkin_param(void* ref, void*) {
  counted("checkin_param");
  if (!known_ref(ref, "checkin_param")) return 516;
  --host().calls["checked out"];
  return 0;
}
int32_t add_param(void* ref, int32_t index, void* def) {
  counted("add_param");
  if (!known_ref(ref, "add_param")) return 516;
  if (index != -1) host().fail("add_param: index " + std::to_string(index) + ", not -1 (append)");
  const auto* bytes = static_cast<const uint8_t*>(def);
  host().declared.emplace_back(bytes, bytes + L::param::kSize);
  return 0;
}
int32_t abort_check(void* ref) {
  counted("abort");
  return known_ref(ref, "abort") ? 0 : 516;
}
int32_t progress(void* ref, int32_t, int32_t) {
  counted("progress");
  return known_ref(ref, "progress") ? 0 : 516;
}

template <class F>
void put_fn(RawBlock& b, size_t offset, F* f) {
  b.put<void*>(offset, reinterpret_cast<void*>(f));
}

}  // namespace

void put_interact_callbacks(RawBlock& in_data) {
  namespace I = L::inter;
  put_fn(in_data, L::in::kInter + I::kCheckoutParam, checkout_param);
  put_fn(in_data, L::in::kInter + I::kCheckinParam, checkin_param);
  put_fn(in_data, L::in::kInter + I::kAddParam, add_param);
  put_fn(in_data, L::in::kInter + I::kAbort, abort_check);
  put_fn(in_data, L::in::kInter + I::kProgress, progress);
}

Tables::Tables()
    : utils("PF_UtilCallbacks", L::util::kSize),
      basic("SPBasicSuite", L::basic::kSize),
      handle_suite("PF_HandleSuite1", L::handle_suite::kSize),
      utility_suite("AEGP_UtilitySuite3", L::utility_suite::kSize),
      param_utils("PF_ParamUtilsSuite1", L::param_utils::kSize),
      world_suite("PF_WorldSuite2", L::world_suite::kSize),
      sampling8("PF_Sampling8Suite1", L::sampling::kSize),
      sampling16("PF_Sampling16Suite1", L::sampling::kSize),
      sampling_float("PF_SamplingFloatSuite1", L::sampling::kSize),
      pre_render_cb("PF_PreRenderCallbacks", L::pre_cb::kSize),
      smart_render_cb("PF_SmartRenderCallbacks", L::sr_cb::kSize) {
  namespace U = L::util;
  namespace A = L::ansi;
  put_fn(utils, U::kCopy, copy_world);
  put_fn(utils, U::kNewHandle, new_handle);
  put_fn(utils, U::kLockHandle, lock_handle);
  put_fn(utils, U::kUnlockHandle, unlock_handle);
  put_fn(utils, U::kDisposeHandle, dispose_handle);
  put_fn(utils, U::kGetHandleSize, get_handle_size);
  const std::pair<size_t, double (*)(double)> unary[] = {
      {A::kAtan, m_atan}, {A::kCeil, m_ceil},   {A::kCos, m_cos},   {A::kExp, m_exp},
      {A::kFabs, m_fabs}, {A::kFloor, m_floor}, {A::kLog, m_log},   {A::kLog10, m_log10},
      {A::kSin, m_sin},   {A::kSqrt, m_sqrt},   {A::kTan, m_tan},   {A::kAsin, m_asin},
      {A::kAcos, m_acos}};
  for (const auto& [offset, f] : unary) put_fn(utils, U::kAnsi + offset, f);
  const std::pair<size_t, double (*)(double, double)> binary[] = {
      {A::kAtan2, m_atan2}, {A::kFmod, m_fmod}, {A::kHypot, m_hypot}, {A::kPow, m_pow}};
  for (const auto& [offset, f] : binary) put_fn(utils, U::kAnsi + offset, f);
  put_fn(utils, U::kAnsi + A::kSprintf, host_sprintf);
  put_fn(utils, U::kAnsi + A::kStrcpy, host_strcpy);

  namespace B = L::basic;
  put_fn(basic, B::kAcquire, acquire_suite);
  put_fn(basic, B::kRelease, release_suite);
  put_fn(basic, B::kIsEqual, is_equal);
  put_fn(basic, B::kAllocate, allocate_block);
  put_fn(basic, B::kFree, free_block);
  put_fn(basic, B::kReallocate, reallocate_block);

  namespace H = L::handle_suite;
  put_fn(handle_suite, H::kNew, new_handle);
  put_fn(handle_suite, H::kLock, lock_handle);
  put_fn(handle_suite, H::kUnlock, unlock_handle);
  put_fn(handle_suite, H::kDispose, dispose_handle);
  put_fn(handle_suite, H::kGetSize, get_handle_size);

  put_fn(utility_suite, L::utility_suite::kRegisterWithAegp, register_with_aegp);
  put_fn(param_utils, L::param_utils::kUpdateParamUi, update_param_ui);
  put_fn(param_utils, L::param_utils::kGetCurrentState, get_current_state);
  put_fn(param_utils, L::param_utils::kHasParamChanged, has_param_changed);
  put_fn(world_suite, L::world_suite::kGetPixelFormat, get_pixel_format);
  put_fn(sampling8, L::sampling::kSubpixel, subpixel<Depth::k8>);
  put_fn(sampling16, L::sampling::kSubpixel, subpixel<Depth::k16>);
  put_fn(sampling_float, L::sampling::kSubpixel, subpixel<Depth::kFloat>);

  put_fn(pre_render_cb, L::pre_cb::kCheckoutLayer, checkout_layer);
  put_fn(pre_render_cb, L::pre_cb::kGuidMixIn, guid_mix_in);
  put_fn(smart_render_cb, L::sr_cb::kCheckoutLayerPixels, checkout_layer_pixels);
  put_fn(smart_render_cb, L::sr_cb::kCheckinLayerPixels, checkin_layer_pixels);
  put_fn(smart_render_cb, L::sr_cb::kCheckoutOutput, checkout_output);
  for (RawBlock* b : all()) b->seal();
}

std::vector<RawBlock*> Tables::all() {
  return {&utils,      &basic,      &handle_suite,   &utility_suite, &param_utils,  &world_suite,
          &sampling8,  &sampling16, &sampling_float, &pre_render_cb, &smart_render_cb};
}

Tables& tables() {
  static Tables t;
  return t;
}

}  // namespace abi_host
