// The host's shared state: the call log with its per-name counters, failure injection, and
// the queries tests use on the log and on the handle and suite accounting.
#include <algorithm>
#include <cstring>

#include "hostsim/internal.h"

namespace hostsim {
namespace detail {

Host& host() {
  // Never destroyed: module code or static destructors may still call back late in exit.
  static Host* h = new Host;
  return *h;
}

Context*& current_context() {
  thread_local Context* ctx = nullptr;
  return ctx;
}

Ticket count_call(std::string_view name, std::string_view qualified) {
  Host& h = host();
  Ticket t;
  auto bump = [&h](std::string_view key) {
    auto it = h.counts.find(key);
    if (it == h.counts.end()) it = h.counts.emplace(std::string(key), 0).first;
    return ++it->second;
  };
  t.k = bump(name);
  if (!qualified.empty()) t.k_qualified = bump(qualified);
  for (FailureRule& rule : h.rules) {
    const Failure& f = rule.failure;
    bool match = false;
    if (f.name == name) match = f.k == 0 || f.k == t.k;
    if (!match && !qualified.empty() && f.name == qualified)
      match = f.k == 0 || f.k == t.k_qualified;
    if (!match || (rule.fired && f.k != 0)) continue;
    rule.fired = true;
    ++h.injected;
    t.inject = true;
    t.code = f.code;
    t.null_result = f.null_result;
    break;
  }
  return t;
}

void log_call(const Ticket& t, std::string_view name, std::string_view qualified,
              const std::function<std::string()>& detail, PF_Err result, bool null_result,
              bool fault, bool failable) {
  Host& h = host();
  if (fault) ++h.fault_count;
  ++h.seq;
  if (h.log.size() >= h.log_limit) {
    ++h.dropped;
    return;
  }
  CallRecord r;
  r.seq = h.seq;
  r.name = std::string(name);
  r.qualified = std::string(qualified);
  r.k = t.k;
  r.k_qualified = t.k_qualified;
  if (detail) r.detail = detail();
  r.result = result;
  r.null_result = null_result;
  r.injected = t.inject;
  r.fault = fault;
  r.failable = failable;
  Context* ctx = current_context();
  r.context = ctx ? ctx->id : 0;
  h.log.push_back(std::move(r));
}

void log_fault(std::string_view name, std::string detail) {
  Ticket t;
  log_call(
      t, name, {}, [&detail] { return detail; }, PF_Err_BAD_CALLBACK_PARAM, false, true, false);
}

Context* find_context(PF_ProgPtr effect_ref) {
  auto& contexts = host().contexts;
  auto it = contexts.find(effect_ref);
  return it == contexts.end() ? nullptr : it->second;
}

bool find_block(const void* p, uintptr_t* start, uint64_t* size) {
  auto& blocks = host().blocks;
  const auto addr = reinterpret_cast<uintptr_t>(p);
  auto it = blocks.upper_bound(addr);
  if (it == blocks.begin()) return false;
  --it;
  const uint64_t block_size = std::max<uint64_t>(it->second.first, 1);
  if (addr - it->first >= block_size) return false;
  *start = it->first;
  *size = it->second.first;
  return true;
}

size_t writable_bytes(const void* dest, size_t fallback) {
  const auto addr = reinterpret_cast<uintptr_t>(dest);
  for (const auto& [ref, ctx] : host().contexts) {
    if (!ctx->active_out) continue;
    const auto begin = reinterpret_cast<uintptr_t>(ctx->active_out->return_msg);
    const uintptr_t end = begin + sizeof(ctx->active_out->return_msg);
    if (addr >= begin && addr < end) return end - addr;
  }
  uintptr_t start = 0;
  uint64_t size = 0;
  if (find_block(dest, &start, &size)) return static_cast<size_t>(start + size - addr);
  return fallback;
}

bool rect_empty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

PF_LRect intersect(const PF_LRect& a, const PF_LRect& b) {
  PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom)};
  if (rect_empty(r)) r = PF_LRect{0, 0, 0, 0};
  return r;
}

std::string rect_text(const PF_LRect& r) {
  // Appended piece by piece: GCC 12 at -O3 takes `"(" + std::string` for an overlapping copy
  // and warns (-Wrestrict) where nothing overlaps.
  std::string text("(");
  for (int32_t v : {r.left, r.top, r.right, r.bottom}) {
    if (text.size() > 1) text += ',';
    text += std::to_string(v);
  }
  text += ')';
  return text;
}

}  // namespace detail

using detail::host;

std::vector<CallRecord> calls() {
  std::lock_guard lock(host().mutex);
  return host().log;
}

int64_t call_count(std::string_view name) {
  std::lock_guard lock(host().mutex);
  auto it = host().counts.find(name);
  return it == host().counts.end() ? 0 : it->second;
}

std::vector<CallRecord> faults() {
  std::lock_guard lock(host().mutex);
  std::vector<CallRecord> out;
  for (const CallRecord& r : host().log)
    if (r.fault) out.push_back(r);
  return out;
}

int64_t fault_count() {
  std::lock_guard lock(host().mutex);
  return host().fault_count;
}

void reset_calls() {
  std::lock_guard lock(host().mutex);
  auto& h = host();
  h.log.clear();
  h.counts.clear();
  h.fault_count = 0;
  h.dropped = 0;
  // Rules count invocations from the reset on, so a rule may fire again in the next run.
  for (auto& rule : h.rules) rule.fired = false;
}

void set_call_log_limit(uint64_t max_records) {
  std::lock_guard lock(host().mutex);
  host().log_limit = max_records;
  if (host().log.size() > max_records) host().log.resize(max_records);
}

uint64_t dropped_call_records() {
  std::lock_guard lock(host().mutex);
  return host().dropped;
}

void inject_failure(const Failure& failure) {
  std::lock_guard lock(host().mutex);
  host().rules.push_back({failure, false});
}

void clear_failures() {
  std::lock_guard lock(host().mutex);
  host().rules.clear();
  host().injected = 0;
}

int64_t injected_failure_count() {
  std::lock_guard lock(host().mutex);
  return host().injected;
}

HandleStats handle_stats() {
  std::lock_guard lock(host().mutex);
  HandleStats s = host().handle_stats;
  s.live_count = static_cast<int64_t>(host().handles.size());
  s.live_bytes = 0;
  s.locked_count = 0;
  for (const auto& [h, e] : host().handles) {
    s.live_bytes += e.size;
    if (e.lock_count > 0) ++s.locked_count;
  }
  return s;
}

void reset_handle_counters() {
  std::lock_guard lock(host().mutex);
  auto& s = host().handle_stats;
  s.allocations = s.disposals = s.faults = 0;
}

std::vector<HandleInfo> live_handles_since(uint64_t serial) {
  std::lock_guard lock(host().mutex);
  std::vector<HandleInfo> out;
  for (const auto& [h, e] : host().handles)
    if (e.serial > serial) out.push_back({h, e.size, e.lock_count, e.serial});
  std::sort(out.begin(), out.end(),
            [](const HandleInfo& a, const HandleInfo& b) { return a.serial < b.serial; });
  return out;
}

std::vector<HandleInfo> live_handles() { return live_handles_since(0); }

uint64_t handle_serial() {
  std::lock_guard lock(host().mutex);
  return host().handle_serial;
}

bool is_live_handle(PF_Handle handle) {
  std::lock_guard lock(host().mutex);
  return host().handles.count(handle) != 0;
}

int32_t handle_lock_count(PF_Handle handle) {
  std::lock_guard lock(host().mutex);
  auto it = host().handles.find(handle);
  return it == host().handles.end() ? 0 : it->second.lock_count;
}

void set_handle_size_limit(uint64_t max_bytes) {
  std::lock_guard lock(host().mutex);
  host().handle_size_limit = max_bytes;
}

std::vector<SuiteStats> suite_stats() {
  std::lock_guard lock(host().mutex);
  std::vector<SuiteStats> out;
  for (const auto& s : detail::suites()) out.push_back(s.stats);
  return out;
}

SuiteStats suite_stats(std::string_view name) {
  std::lock_guard lock(host().mutex);
  for (const auto& s : detail::suites())
    if (name == s.name) return s.stats;
  SuiteStats none;
  none.name = std::string(name);
  return none;
}

int64_t outstanding_suites() {
  std::lock_guard lock(host().mutex);
  int64_t n = 0;
  for (const auto& s : detail::suites()) n += s.stats.outstanding();
  return n;
}

void reset_suite_counters() {
  std::lock_guard lock(host().mutex);
  for (auto& s : detail::suites()) {
    s.stats.acquires = s.stats.releases = s.stats.failed_acquires = 0;
  }
}

void reset() {
  reset_calls();
  clear_failures();
  reset_handle_counters();
  reset_suite_counters();
}

}  // namespace hostsim
