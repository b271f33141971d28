// The independent test host: the services a host offers the module (handles, suites,
// callbacks, worlds), each a counting function placed at its published offset in a
// poison-filled table, and the records of one command built from byte offsets alone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "raw_block.h"

namespace abi_host {

// Pixel-format codes: four characters in memory order.
constexpr int32_t four_in_memory(char a, char b, char c, char d) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(a)) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24));
}
enum class Depth { k8, k16, kFloat };
int32_t format_code(Depth d);     // "argb", "ae16", "ae32"
int32_t pixel_bytes(Depth d);     // 4, 8, 16
int16_t bitdepth_of(Depth d);     // 8, 16, 32
const char* depth_name(Depth d);

// A world: its 120-byte record, and pixels with rows padded by poison bytes.
struct FrameWorld {
  FrameWorld(std::string name, Depth depth, int32_t width, int32_t height, int32_t pad_pixels);
  RawBlock record;
  Depth depth;
  int32_t width, height, rowbytes;
  std::vector<uint8_t> pixels;
  uint8_t* pixel(int32_t x, int32_t y) { return pixels.data() + size_t(y) * rowbytes + size_t(x) * pixel_bytes(depth); }
  // Channel c (0 alpha, 1 red, 2 green, 3 blue) as a double in the world's own units.
  double channel(int32_t x, int32_t y, int c) const;
  void set_channel(int32_t x, int32_t y, int c, double v);
};

struct UiPush {
  int32_t index, type, ui_flags;
};

// What the host does and has seen; one per process (the module starts no threads).
struct Host {
  std::map<std::string, int64_t> calls;
  std::vector<std::string> failures;
  std::map<void**, uint64_t> live_handles;  // handle -> size
  int64_t handles_made = 0;
  std::map<std::string, int64_t> suites_held;

  // Parameters as declared (each 176 bytes as the module gave them) and the values this
  // host hands out when one is checked out.
  std::vector<std::vector<uint8_t>> declared;
  double radius = 0.0;
  int32_t shape = 1;
  FrameWorld* iris_layer = nullptr;
  uint32_t generation = 1;  // bumped whenever a value changes
  std::vector<UiPush> ui_pushes;

  // The frame being rendered.
  FrameWorld* input = nullptr;
  FrameWorld* output = nullptr;
  int64_t sampling_calls = 0;

  void fail(const std::string& what) { failures.push_back(what); }
  int64_t count(const std::string& name) const {
    auto it = calls.find(name);
    return it == calls.end() ? 0 : it->second;
  }
};
Host& host();
void* effect_ref();  // the host's reference to the effect, an address of its own

// The tables, built once: every slot this host fills holds a counting function, every
// other byte is poison.
struct Tables {
  Tables();
  RawBlock utils, basic, handle_suite, utility_suite, param_utils, world_suite, sampling8,
      sampling16, sampling_float, pre_render_cb, smart_render_cb;
  std::vector<RawBlock*> all();
};
Tables& tables();

// The interaction callbacks, written into the first 176 bytes of an in-data block.
void put_interact_callbacks(RawBlock& in_data);

}  // namespace abi_host
