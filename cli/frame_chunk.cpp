// The K-th of N near-equal consecutive parts of a frame range.
#include "cli/frame_chunk.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "cli/cli_error.h"

namespace {

constexpr int kMaxChunks = 100000;

bool parse_positive(const std::string& text, int& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 1;
}

}  // namespace

FrameChunk parse_frame_chunk(const std::string& text) {
  const size_t slash = text.find('/');
  FrameChunk chunk;
  if (slash == std::string::npos || !parse_positive(text.substr(0, slash), chunk.index) ||
      !parse_positive(text.substr(slash + 1), chunk.count) || chunk.index > chunk.count ||
      chunk.count > kMaxChunks) {
    throw bad_input("--chunk " + text + ": expected K/N with whole numbers 1 <= K <= N <= " +
                    std::to_string(kMaxChunks));
  }
  return chunk;
}

std::optional<FrameRange> chunk_frames(const FrameRange& range, const FrameChunk& chunk) {
  // 64-bit: a range may span almost all of int, and the products below would overflow.
  const int64_t total = static_cast<int64_t>(range.last) - range.first + 1;
  const int64_t base = total / chunk.count;
  const int64_t longer = total % chunk.count;  // the first `longer` parts get one frame more
  const int64_t k = chunk.index - 1;
  const int64_t start = k * base + std::min<int64_t>(k, longer);
  const int64_t length = base + (k < longer ? 1 : 0);
  if (length == 0) return std::nullopt;
  return FrameRange{static_cast<int>(range.first + start),
                    static_cast<int>(range.first + start + length - 1)};
}
