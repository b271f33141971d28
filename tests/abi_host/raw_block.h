// Host memory laid out by byte offsets alone: a block of a record's published size, first
// filled with a poison pattern, into which the host writes each field it fills at its
// offset. After a command the block is compared with what the host left in it, so a byte
// the module wrote anywhere the host did not allow is found. No type of the module's
// interface header is used: the offsets are the host's published numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace abi_host {

// Unfilled bytes. As a pointer, 0xA5A5A5A5A5A5A5A5 is outside every 64-bit address space, so
// a call or a read through an unfilled slot faults at once instead of landing somewhere.
constexpr uint8_t kPoison = 0xA5;

class RawBlock {
 public:
  RawBlock(std::string name, size_t size);

  const std::string& name() const { return name_; }
  size_t size() const { return bytes_.size(); }
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }

  template <class T>
  void put(size_t offset, const T& value) {
    check_range(offset, sizeof(T));
    std::memcpy(bytes_.data() + offset, &value, sizeof(T));
  }
  template <class T>
  T get(size_t offset) const {
    check_range(offset, sizeof(T));
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }
  void put_bytes(size_t offset, const void* source, size_t n);
  void fill(size_t offset, size_t n, uint8_t value);
  std::string get_string(size_t offset, size_t capacity) const;

  // Takes the present contents as what the host expects to find after the next command.
  void seal();
  // The module may write [offset, offset + n) during the next command.
  void allow(size_t offset, size_t n);
  // Every byte that differs from the sealed contents outside the allowed ranges, as
  // "name+offset" runs; the allowed ranges are cleared and the new contents sealed.
  std::vector<std::string> unexpected_writes();

 private:
  void check_range(size_t offset, size_t n) const;

  std::string name_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> sealed_;
  std::vector<std::pair<size_t, size_t>> allowed_;
};

}  // namespace abi_host
