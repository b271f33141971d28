// Host memory handles: zero-filled blocks reached through master pointer cells, with a
// registry of live handles so that misuse (an unknown, stale or null handle) is logged as a
// fault instead of touching freed memory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hostsim/internal.h"

namespace hostsim::detail {

namespace {

std::string handle_text(PF_Handle h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<void*>(h));
  return buf;
}

}  // namespace

PF_Handle new_handle(uint64_t size) {
  Host& h = host();
  std::lock_guard lock(h.mutex);
  Ticket t = count_call("host_new_handle", {});
  if (t.inject) {
    log_call(
        t, "host_new_handle", {}, [&] { return "size=" + std::to_string(size); }, 0, true, false);
    return nullptr;
  }
  void* block = nullptr;
  if (size <= h.handle_size_limit) block = std::calloc(size == 0 ? 1 : size, 1);
  if (!block) {
    log_call(
        t, "host_new_handle", {}, [&] { return "size=" + std::to_string(size) + " (no memory)"; },
        0, true, false);
    return nullptr;
  }
  h.cells.push_back(block);
  PF_Handle handle = &h.cells.back();
  h.handles[handle] = HandleEntry{size, 0, ++h.handle_serial};
  h.blocks[reinterpret_cast<uintptr_t>(block)] = {size, handle};
  ++h.handle_stats.allocations;
  log_call(
      t, "host_new_handle", {},
      [&] { return "size=" + std::to_string(size) + " -> " + handle_text(handle); }, 0, false,
      false);
  return handle;
}

void* lock_handle(PF_Handle handle) {
  Host& h = host();
  std::lock_guard lock(h.mutex);
  Ticket t = count_call("host_lock_handle", {});
  auto detail = [&] { return handle_text(handle); };
  if (t.inject) {
    log_call(t, "host_lock_handle", {}, detail, 0, true, false);
    return nullptr;
  }
  auto it = h.handles.find(handle);
  if (it == h.handles.end()) {
    ++h.handle_stats.faults;
    log_call(
        t, "host_lock_handle", {}, [&] { return handle_text(handle) + ": not a live handle"; }, 0,
        true, true);
    return nullptr;
  }
  ++it->second.lock_count;
  log_call(t, "host_lock_handle", {}, detail, 0, false, false);
  return *handle;
}

void unlock_handle(PF_Handle handle) {
  Host& h = host();
  std::lock_guard lock(h.mutex);
  Ticket t = count_call("host_unlock_handle", {});
  if (t.inject) {
    log_call(
        t, "host_unlock_handle", {}, [&] { return handle_text(handle); }, 0, false, false);
    return;
  }
  auto it = h.handles.find(handle);
  if (it == h.handles.end() || it->second.lock_count == 0) {
    ++h.handle_stats.faults;
    const bool known = it != h.handles.end();
    log_call(
        t, "host_unlock_handle", {},
        [&] {
          return handle_text(handle) + (known ? ": handle is not locked" : ": not a live handle");
        },
        0, false, true);
    return;
  }
  --it->second.lock_count;
  log_call(
      t, "host_unlock_handle", {}, [&] { return handle_text(handle); }, 0, false, false);
}

void dispose_handle(PF_Handle handle) {
  Host& h = host();
  std::lock_guard lock(h.mutex);
  Ticket t = count_call("host_dispose_handle", {});
  if (t.inject) {
    log_call(
        t, "host_dispose_handle", {}, [&] { return handle_text(handle); }, 0, false, false);
    return;
  }
  auto it = h.handles.find(handle);
  if (it == h.handles.end()) {
    ++h.handle_stats.faults;
    log_call(
        t, "host_dispose_handle", {},
        [&] {
          return handle_text(handle) +
                 (handle ? ": not a live handle (unknown or already disposed)" : ": null handle");
        },
        0, false, true);
    return;
  }
  void* block = *handle;
  h.blocks.erase(reinterpret_cast<uintptr_t>(block));
  h.handles.erase(it);
  // The cell stays in the pool, cleared: a stale handle then reaches null, never freed memory.
  *handle = nullptr;
  std::free(block);
  ++h.handle_stats.disposals;
  log_call(
      t, "host_dispose_handle", {}, [&] { return handle_text(handle); }, 0, false, false);
}

uint64_t get_handle_size(PF_Handle handle) {
  Host& h = host();
  std::lock_guard lock(h.mutex);
  Ticket t = count_call("host_get_handle_size", {});
  if (t.inject) {
    log_call(
        t, "host_get_handle_size", {}, [&] { return handle_text(handle); }, 0, false, false);
    return 0;
  }
  auto it = h.handles.find(handle);
  if (it == h.handles.end()) {
    ++h.handle_stats.faults;
    log_call(
        t, "host_get_handle_size", {}, [&] { return handle_text(handle) + ": not a live handle"; },
        0, false, true);
    return 0;
  }
  const uint64_t size = it->second.size;
  log_call(
      t, "host_get_handle_size", {},
      [&] { return handle_text(handle) + " -> " + std::to_string(size); }, 0, false, false);
  return size;
}

}  // namespace hostsim::detail
