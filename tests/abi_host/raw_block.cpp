// RawBlock: poison-filled host records and the check for writes the host did not expect.
#include "raw_block.h"

#include <stdexcept>

namespace abi_host {

RawBlock::RawBlock(std::string name, size_t size)
    : name_(std::move(name)), bytes_(size, kPoison), sealed_(bytes_) {}

void RawBlock::check_range(size_t offset, size_t n) const {
  if (offset > bytes_.size() || n > bytes_.size() - offset)
    throw std::out_of_range(name_ + ": bytes " + std::to_string(offset) + ".." +
                            std::to_string(offset + n) + " lie outside its " +
                            std::to_string(bytes_.size()) + " bytes");
}

void RawBlock::put_bytes(size_t offset, const void* source, size_t n) {
  check_range(offset, n);
  if (n > 0) std::memcpy(bytes_.data() + offset, source, n);
}

void RawBlock::fill(size_t offset, size_t n, uint8_t value) {
  check_range(offset, n);
  std::memset(bytes_.data() + offset, value, n);
}

std::string RawBlock::get_string(size_t offset, size_t capacity) const {
  check_range(offset, capacity);
  const auto* start = reinterpret_cast<const char*>(bytes_.data() + offset);
  size_t n = 0;
  while (n < capacity && start[n] != '\0') ++n;
  return std::string(start, n);
}

void RawBlock::seal() {
  sealed_ = bytes_;
  allowed_.clear();
}

void RawBlock::allow(size_t offset, size_t n) {
  check_range(offset, n);
  allowed_.emplace_back(offset, n);
}

std::vector<std::string> RawBlock::unexpected_writes() {
  std::vector<std::string> found;
  size_t i = 0;
  auto allowed = [&](size_t at) {
    for (const auto& [offset, n] : allowed_)
      if (at >= offset && at < offset + n) return true;
    return false;
  };
  while (i < bytes_.size()) {
    if (bytes_[i] == sealed_[i] || allowed(i)) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < bytes_.size() && bytes_[i] != sealed_[i] && !allowed(i)) ++i;
    found.push_back(name_ + "+" + std::to_string(start) + " (" + std::to_string(i - start) +
                    " bytes)");
  }
  seal();
  return found;
}

}  // namespace abi_host
