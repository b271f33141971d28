// Host memory handles: zero-filled blocks reached through master pointer cells, with a
// registry of live handles so that misuse (an unknown, stale or null handle) is logged as a
// fault instead of touching freed memory.
//
// Like a real host's memory manager, the blocks of large disposed handles are kept for the
// next handle of the same size: a render takes the same few planes of several MiB every
// frame, and memory fresh from the system costs a page fault per 4 KiB (with 1024 x 1024
// planes, 48 MiB, about a twelfth of a float frame of 1920 x 1080). A kept block is cleared again before it is handed out, so every
// handle still starts zero-filled. A request no kept block fits releases all of them first,
// so kept memory never lies idle beside new memory and the peak stays what it would be
// without keeping.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostsim/internal.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A kept block is poisoned: a module still using a disposed handle's memory is caught.
#define HOSTSIM_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define HOSTSIM_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define HOSTSIM_POISON(p, n) ((void)(p), (void)(n))
#define HOSTSIM_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace hostsim::detail {

namespace {

// Blocks of this size and up are kept; at most kSpareLimit bytes of them.
constexpr uint64_t kSpareMinimum = uint64_t{1} << 20;
constexpr uint64_t kSpareLimit = uint64_t{1} << 30;

void release_spare_blocks(Host& h) {
  for (auto& [block, size] : h.spare_blocks) {
    HOSTSIM_UNPOISON(block, size);
    std::free(block);
  }
  h.spare_blocks.clear();
}

// A zero-filled block of `size` bytes: a kept one of that size, or a new one.
void* zeroed_block(Host& h, uint64_t size) {
  if (size >= kSpareMinimum) {
    for (auto it = h.spare_blocks.begin(); it != h.spare_blocks.end(); ++it) {
      if (it->second != size) continue;
      void* block = it->first;
      h.spare_blocks.erase(it);
      HOSTSIM_UNPOISON(block, size);
      std::memset(block, 0, size);
      return block;
    }
    release_spare_blocks(h);
  }
  return std::calloc(size == 0 ? 1 : size, 1);
}

// Frees a disposed handle's block, or keeps it for a later handle of its size.
void retire_block(Host& h, void* block, uint64_t size) {
  if (size < kSpareMinimum) {
    std::free(block);
    return;
  }
  uint64_t kept = size;
  for (const auto& spare : h.spare_blocks) kept += spare.second;
  while (kept > kSpareLimit && !h.spare_blocks.empty()) {
    kept -= h.spare_blocks.front().second;
    HOSTSIM_UNPOISON(h.spare_blocks.front().first, h.spare_blocks.front().second);
    std::free(h.spare_blocks.front().first);
    h.spare_blocks.erase(h.spare_blocks.begin());
  }
  if (kept > kSpareLimit) {
    std::free(block);
    return;
  }
  HOSTSIM_POISON(block, size);
  h.spare_blocks.emplace_back(block, size);
}

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
  if (size <= h.handle_size_limit) block = zeroed_block(h, size);
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
  const uint64_t size = it->second.size;
  h.blocks.erase(reinterpret_cast<uintptr_t>(block));
  h.handles.erase(it);
  // The cell stays in the pool, cleared: a stale handle then reaches null, never freed memory.
  *handle = nullptr;
  retire_block(h, block, size);
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
