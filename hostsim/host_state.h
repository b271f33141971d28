// The stand-in host's process-wide state as tests and tools see it: the host's callback
// tables, the call log, failure injection, and the accounting of host handles and suites.
//
// The host's handle callbacks (`host_new_handle` and friends) take no effect_ref, so the
// state they touch cannot belong to one module instance: hostsim keeps one host per process.
// Everything here is guarded by one mutex, so frames rendered on several threads against one
// module instance share it safely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/effect_api.h"

namespace hostsim {

// ---------------------------------------------------------------------------------------
// Codes the host answers with
// ---------------------------------------------------------------------------------------

// `AcquireSuite` of an unknown suite name or version (the PICA host's 'S!Fd').
constexpr SPErr kSPSuiteNotFoundError = pf_four_cc('S', '!', 'F', 'd');
// The code an injected failure returns unless the test chooses another.
constexpr PF_Err kInjectedErrorDefault = PF_Err_INTERNAL_STRUCT_DAMAGED;
// After Effects's own application code ('FXTC'); 'PrMr' is Premiere Pro.
constexpr int32_t kApplIdAfterEffects = pf_four_cc('F', 'X', 'T', 'C');

// ---------------------------------------------------------------------------------------
// The host's tables, as a host hands them to the module
// ---------------------------------------------------------------------------------------

// The utility callbacks: world `copy`, handle calls, the C library's math routines, a
// bounded `sprintf` (never writes past a 256-byte `return_msg`, nor past a host handle's
// block; elsewhere at most 256 bytes) and `strcpy` (bounded the same way where the
// destination is a buffer hostsim knows).
PF_UtilCallbacks* utils();
// `AcquireSuite`/`ReleaseSuite` serving exactly these suites, by name and version:
// "PF Handle Suite" 2, "AEGP Utility Suite" 7, "PF Param Utils Suite" 2, "PF World Suite" 2,
// "PF Sampling8 Suite" 1, "PF Sampling16 Suite" 1, "PF SamplingFloat Suite" 1.
// Anything else answers kSPSuiteNotFoundError and a null suite.
SPBasicSuite* basic_suite();
// The interaction callbacks (`checkout_param`, `checkin_param`, `add_param`, `abort`,
// `progress`). They find their module instance and frame through the effect_ref; an
// effect_ref hostsim did not hand out answers PF_Err_BAD_CALLBACK_PARAM and is logged as a
// fault.
PF_InteractCallbacks interact_callbacks();

// ---------------------------------------------------------------------------------------
// Call log
// ---------------------------------------------------------------------------------------

// One host call made by the module (or a host-to-module call such as
// "delete_pre_render_data_func", marked not failable).
//
// Every call is counted under its `name` and, when it has one, under its `qualified` name
// too; `k` and `k_qualified` are the 1-based invocation numbers under each since the last
// reset_calls(). Names used:
//   host_new_handle host_lock_handle host_unlock_handle host_dispose_handle
//   host_get_handle_size (utility callbacks and the handle suite share these names)
//   AcquireSuite / AcquireSuite:<suite name>, ReleaseSuite / ReleaseSuite:<suite name>
//   checkout_param / checkout_param:<index>, checkin_param / checkin_param:<index>
//   add_param, abort, progress, copy, sprintf, strcpy
//   checkout_layer / checkout_layer:<index>, checkout_layer_pixels / checkout_layer_pixels:<id>
//   checkin_layer_pixels, checkout_output, GuidMixInPtr
//   subpixel_sample subpixel_sample16 subpixel_sample_float
//   PF_GetPixelFormat PF_UpdateParamUI PF_GetCurrentState PF_HasParamChanged
//   AEGP_RegisterWithAEGP, and the basic suite's IsEqual AllocateBlock FreeBlock
//   ReallocateBlock Undefined
// The math routines are not logged: they cannot fail and a render calls them millions of
// times.
struct CallRecord {
  uint64_t seq = 0;          // order among all logged calls
  std::string name;          // e.g. "checkout_param"
  std::string qualified;     // e.g. "checkout_param:9"; empty when the call has none
  int64_t k = 0;             // invocation number under `name`
  int64_t k_qualified = 0;   // invocation number under `qualified` (0 when none)
  std::string detail;        // the arguments in words, e.g. "size=24" or "index=9 time=0"
  PF_Err result = 0;         // the code answered (0 for calls that return none or succeeded)
  bool null_result = false;  // a pointer result (or out pointer) was null
  bool injected = false;     // this call failed because a test asked for it
  bool fault = false;        // the module misused the host (see `detail`)
  bool failable = true;      // a host call that failure injection can target
  uint64_t context = 0;      // id of the effect_ref's command/frame context (0: none)
};

// A copy of the log, oldest first.
std::vector<CallRecord> calls();
// How often `name` (plain or qualified) was called since the last reset_calls().
int64_t call_count(std::string_view name);
// The records that report a module misuse (unknown handle disposed, bad effect_ref, ...).
std::vector<CallRecord> faults();
int64_t fault_count();
// Clears the log, the per-name counters and the fault count. Failure rules and the handle
// and suite accounting stay.
void reset_calls();
// The log keeps at most `max_records` records (counts and faults are still kept past it);
// 0 keeps none. The command-line tool turns the log off; tests keep the default, 1 << 18
// (a layer-shaped kernel at tile size 256 makes 65536 sampling calls).
void set_call_log_limit(uint64_t max_records);
// Records dropped because the log was full since the last reset_calls().
uint64_t dropped_call_records();

// ---------------------------------------------------------------------------------------
// Failure injection
// ---------------------------------------------------------------------------------------

// Makes the k-th invocation of `name` (plain or qualified, counted as in the log, from the
// last reset_calls()) fail. k = 0 fails every invocation from now on.
//
// What failing means per call: calls returning a code return `code`, leaving their out
// values untouched (or null, for out pointers); `host_new_handle` and `host_lock_handle`
// return null (no handle is made); `host_get_handle_size` returns 0; `AcquireSuite` returns
// `code` with a null suite and counts no acquisition; `ReleaseSuite` returns `code` and
// releases nothing; `host_unlock_handle` and `host_dispose_handle` do nothing (so a failed
// disposal leaves the handle live); `sprintf` writes nothing and returns -1; `strcpy`
// copies nothing and returns null. With `null_result` and `code` 0, calls with an out
// pointer succeed but hand back null (a checkout yielding no world, a suite that is null).
struct Failure {
  std::string name;
  int64_t k = 1;
  PF_Err code = kInjectedErrorDefault;
  bool null_result = false;
};
void inject_failure(const Failure& failure);
void clear_failures();
// How many injected failures have fired since clear_failures().
int64_t injected_failure_count();

// ---------------------------------------------------------------------------------------
// Host handles
// ---------------------------------------------------------------------------------------

// Handles are master pointers (`void**`) whose cells live in a pool that is never freed
// or reused, so a stale handle can still be looked up and reported instead of crashing.
// Blocks are zero-filled. Disposing an unknown, already disposed or null handle is
// logged as a fault and otherwise ignored.
struct HandleStats {
  int64_t live_count = 0;    // handles made and not disposed
  uint64_t live_bytes = 0;   // their sizes added up
  int64_t locked_count = 0;  // live handles with a lock count above 0
  int64_t allocations = 0;   // handles made since reset_handle_counters()
  int64_t disposals = 0;     // handles disposed since reset_handle_counters()
  int64_t faults = 0;        // misuses (unknown/double dispose, unknown lock, unbalanced unlock)
};
HandleStats handle_stats();
void reset_handle_counters();  // allocations, disposals and faults back to 0

struct HandleInfo {
  PF_Handle handle = nullptr;
  uint64_t size = 0;
  int32_t lock_count = 0;
  uint64_t serial = 0;  // allocation order, from 1
};
// The live handles, oldest first.
std::vector<HandleInfo> live_handles();
// The serial of the newest handle made so far: handles made later have larger serials, so
// live_handles_since(handle_serial()) taken before a command lists what it leaked.
uint64_t handle_serial();
std::vector<HandleInfo> live_handles_since(uint64_t serial);
// True if `handle` is live; its lock count (0 if unknown).
bool is_live_handle(PF_Handle handle);
int32_t handle_lock_count(PF_Handle handle);
// Allocations above this size answer null (default 8 GiB), so a bad size never reaches the
// allocator as a request it would abort on.
void set_handle_size_limit(uint64_t max_bytes);

// ---------------------------------------------------------------------------------------
// Suites
// ---------------------------------------------------------------------------------------

struct SuiteStats {
  std::string name;
  int32_t version = 0;
  int64_t acquires = 0;         // successful acquisitions
  int64_t releases = 0;         // releases of an outstanding acquisition
  int64_t failed_acquires = 0;  // unknown, injected failure or null out pointer
  int64_t outstanding() const { return acquires - releases; }
};
// One entry per suite hostsim serves, counted since reset_suite_counters().
std::vector<SuiteStats> suite_stats();
SuiteStats suite_stats(std::string_view name);
// Acquisitions not yet released, over all suites.
int64_t outstanding_suites();
// Releasing a suite that is not outstanding is logged as a fault and not counted.
void reset_suite_counters();

// ---------------------------------------------------------------------------------------
// Whole host
// ---------------------------------------------------------------------------------------

// reset_calls(), clear_failures(), reset_handle_counters() and reset_suite_counters() in
// one: for the start of a test. Live handles are not touched (use live_handles()).
void reset();

}  // namespace hostsim
