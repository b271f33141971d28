// The stand-in host's private state: the one mutex, the call log and counters, failure
// rules, handle registry, suite counters, world registry, the command/frame contexts that
// effect_refs point at, and the state of each module instance. Shared by hostsim's sources
// only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hostsim/host_state.h"
#include "hostsim/instance.h"
#include "hostsim/world.h"

namespace hostsim::detail {

struct InstanceState;

// A value set in the parameter store, typed as the setter said.
struct StoredValue {
  enum class Kind { Float, Int, Angle, Layer } kind = Kind::Int;
  double f = 0;
  int32_t i = 0;
  std::shared_ptr<const World> layer;
};

struct DeclaredParam {
  PF_ParamDef def{};        // as add_param received it (popup names repointed at `popup`)
  std::string popup;        // our copy of the popup choices
  int32_t ui_flags = 0;     // the latest pushed UI flags
  uint64_t changed_at = 0;  // generation of the last value change
};

struct InstanceState {
  PF_EntryPointFunc entry = nullptr;
  std::vector<std::unique_ptr<DeclaredParam>> decls;  // decls[0] is parameter 1
  std::map<PF_ParamIndex, StoredValue> values;
  uint64_t generation = 1;
  std::vector<ParamPush> pushes;
  std::vector<Registration> registrations;
  PF_Handle global_data = nullptr;
  PF_Handle sequence_data = nullptr;
  int32_t num_params = 0;
  // Premiere mode (InstanceSettings::premiere) as of the latest command prepared.
  bool premiere = false;
};

// What an effect_ref points at: one command's (or one frame's) context.
struct Context {
  Context(std::shared_ptr<InstanceState> instance, bool frame);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  uint64_t id = 0;
  PF_ProgPtr ref = nullptr;  // the effect_ref handed to the module
  std::shared_ptr<InstanceState> instance;
  bool is_frame = false;
  PF_OutData* active_out = nullptr;  // the out-data of the command running in this context

  // Frame state.
  const World* input = nullptr;
  World* output = nullptr;
  PF_LRect request_rect{};
  int32_t current_time = 0;
  std::function<void(int32_t, int32_t)> on_progress;
  std::function<PF_Err()> on_abort;
  PF_PreRenderInput pre_in{};
  PF_PreRenderOutput pre_out{};
  PF_PreRenderCallbacks pre_cb{};
  PF_PreRenderExtra pre_extra{};
  PF_SmartRenderInput sr_in{};
  PF_SmartRenderCallbacks sr_cb{};
  PF_SmartRenderExtra sr_extra{};
  std::vector<LayerCheckout> checkouts;
  std::vector<ProgressReport> progress;
  bool deleted = false;
  // Worlds made for this context (views, layers converted to the frame's format) and the
  // layers it handed out, kept alive until the context ends.
  std::vector<std::unique_ptr<World>> owned_worlds;
  std::map<const World*, World*> converted;
  std::map<int32_t, World*> views;  // by checkout id; -1 for the output
  std::vector<std::shared_ptr<const World>> held_layers;
};

// One failure rule and whether it fired.
struct FailureRule {
  Failure failure;
  bool fired = false;
};

struct HandleEntry {
  uint64_t size = 0;
  int32_t lock_count = 0;
  uint64_t serial = 0;
};

struct SuiteEntry {
  const char* name;
  int32_t version;
  const void* table;
  SuiteStats stats;
};

struct Host {
  // Recursive: world construction registers itself, also from inside a callback that holds
  // the lock (a layer converted to the frame's format at checkout).
  std::recursive_mutex mutex;

  // Call log.
  std::vector<CallRecord> log;
  uint64_t log_limit = uint64_t{1} << 18;
  uint64_t dropped = 0;
  uint64_t seq = 0;
  std::map<std::string, int64_t, std::less<>> counts;
  int64_t fault_count = 0;

  // Failure injection.
  std::vector<FailureRule> rules;
  int64_t injected = 0;

  // Handles: master pointer cells never freed nor reused.
  std::deque<void*> cells;
  std::unordered_map<void**, HandleEntry> handles;
  std::map<uintptr_t, std::pair<uint64_t, void**>> blocks;  // block address -> size, handle
  HandleStats handle_stats;
  uint64_t handle_serial = 0;
  uint64_t handle_size_limit = uint64_t{8} << 30;
  // Large blocks of disposed handles, kept for the next handle of the same size (see
  // handles.cpp): block address and size, oldest first.
  std::vector<std::pair<void*, uint64_t>> spare_blocks;

  // Worlds alive, with their formats.
  std::unordered_map<const PF_EffectWorld*, PF_PixelFormat> worlds;

  // Contexts alive, by effect_ref.
  std::unordered_map<const void*, Context*> contexts;
  uint64_t next_context_id = 1;

  AEGP_PluginID next_plugin_id = 1000;
};

Host& host();

// The context of the command running on this thread (set while the entry function runs), so
// callbacks without an effect_ref (handles, registration, sprintf) know where they come from.
Context*& current_context();

// The result of counting one call: its invocation numbers and the failure to inject, if any.
struct Ticket {
  int64_t k = 0;
  int64_t k_qualified = 0;
  bool inject = false;
  PF_Err code = 0;
  bool null_result = false;
};

// Counts a call under its names and checks the failure rules. Caller holds host().mutex.
Ticket count_call(std::string_view name, std::string_view qualified);
// Appends a record (if the log has room) and counts faults. Caller holds host().mutex.
// `detail` is only built when the record is kept.
void log_call(const Ticket& t, std::string_view name, std::string_view qualified,
              const std::function<std::string()>& detail, PF_Err result, bool null_result,
              bool fault, bool failable = true);
// A fault outside any counted call (e.g. an unknown effect_ref). Caller holds the mutex.
void log_fault(std::string_view name, std::string detail);

// The context behind an effect_ref, or null. Caller holds the mutex.
Context* find_context(PF_ProgPtr effect_ref);

// The live handle block containing `p` (start address and size), if any. Caller holds the
// mutex.
bool find_block(const void* p, uintptr_t* start, uint64_t* size);

// How many bytes may be written at `dest`: to the end of a return_msg of a running command
// or of a handle block; `fallback` when the buffer is not one hostsim knows. Caller holds
// the mutex.
size_t writable_bytes(const void* dest, size_t fallback);

// Worlds.
void register_world(const PF_EffectWorld* world, PF_PixelFormat format);
void unregister_world(const PF_EffectWorld* world);
PF_PixelFormat format_of_locked(const PF_EffectWorld* world);

// The handle calls (shared by the utility callbacks and the handle suite).
PF_Handle new_handle(uint64_t size);
void* lock_handle(PF_Handle handle);
void unlock_handle(PF_Handle handle);
void dispose_handle(PF_Handle handle);
uint64_t get_handle_size(PF_Handle handle);

// Suite tables.
std::vector<SuiteEntry>& suites();  // caller holds the mutex for the stats

// The callbacks handed to the module (defined in callbacks.cpp, suites.cpp, frame code).
PF_Err cb_checkout_param(PF_ProgPtr, PF_ParamIndex, int32_t, int32_t, uint32_t, PF_ParamDef*);
PF_Err cb_checkin_param(PF_ProgPtr, PF_ParamDef*);
PF_Err cb_add_param(PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr);
PF_Err cb_abort(PF_ProgPtr);
PF_Err cb_progress(PF_ProgPtr, int32_t, int32_t);
PF_Err cb_checkout_layer(PF_ProgPtr, PF_ParamIndex, int32_t, const PF_RenderRequest*, int32_t,
                         int32_t, uint32_t, PF_CheckoutResult*);
PF_Err cb_guid_mix_in(PF_ProgPtr, uint32_t, const void*);
PF_Err cb_checkout_layer_pixels(PF_ProgPtr, int32_t, PF_EffectWorld**);
PF_Err cb_checkin_layer_pixels(PF_ProgPtr, int32_t);
PF_Err cb_checkout_output(PF_ProgPtr, PF_EffectWorld**);

// The parameter definition a checkout answers (declared definition, current value, UI
// flags), for a context (which may convert layers to its frame's format). Caller holds the
// mutex. Returns PF_Err_INVALID_INDEX for an undeclared index and PF_Err_BAD_CALLBACK_PARAM
// (with `why` set) for a stored value whose type does not fit.
PF_Err param_def_for(InstanceState& inst, Context* ctx, PF_ParamIndex index, PF_ParamDef* out,
                     std::string* why);
// The world a layer value shows in `ctx`: converted to the frame's pixel format when the
// frame's input is in another, and kept alive by the context. Null: no layer. Caller holds
// the mutex.
const World* layer_world(Context* ctx, const std::shared_ptr<const World>& layer);
// The current snapshot of an instance's values. Caller holds the mutex.
PF_State state_of(const InstanceState& inst);

// Calls the frame's delete_pre_render_data_func once, if pre-render registered one with
// data. Takes the mutex itself.
void finish_frame(Context& ctx);

// Small helpers.
bool rect_empty(const PF_LRect& r);
PF_LRect intersect(const PF_LRect& a, const PF_LRect& b);
std::string rect_text(const PF_LRect& r);

}  // namespace hostsim::detail
