// The PE reader of the Windows module tests. Offsets are those of the PE/COFF format: the DOS
// header points at the "PE\0\0" signature, the file header and the PE32+ optional header
// follow, its data directories give the export (0), import (1), resource (2) and delay-import
// (13) tables by relative virtual address, mapped to file offsets through the section table.
#include "test_windows_pe.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pe {

namespace {

class Reader {
 public:
  Reader(std::string path, std::vector<uint8_t> bytes)
      : path_(std::move(path)), bytes_(std::move(bytes)) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(path_ + ": " + what);
  }

  uint32_t u8(uint64_t at) const {
    need(at, 1);
    return bytes_[at];
  }
  uint32_t u16(uint64_t at) const {
    need(at, 2);
    return bytes_[at] | bytes_[at + 1] << 8;
  }
  uint32_t u32(uint64_t at) const {
    need(at, 4);
    return bytes_[at] | bytes_[at + 1] << 8 | bytes_[at + 2] << 16 |
           static_cast<uint32_t>(bytes_[at + 3]) << 24;
  }
  std::vector<uint8_t> slice(uint64_t at, uint64_t size) const {
    need(at, size);
    return {bytes_.begin() + static_cast<std::ptrdiff_t>(at),
            bytes_.begin() + static_cast<std::ptrdiff_t>(at + size)};
  }
  std::string c_string(uint64_t at) const {
    std::string s;
    for (uint64_t i = at;; ++i) {
      const uint32_t c = u8(i);
      if (c == 0) return s;
      s += static_cast<char>(c);
    }
  }

  // The file offset of a relative virtual address: the address must lie in the raw data of
  // a section.
  uint64_t offset_of(const std::vector<Section>& sections, uint32_t rva) const {
    for (const Section& s : sections) {
      if (rva >= s.virtual_address && rva - s.virtual_address < s.raw_size)
        return static_cast<uint64_t>(s.raw_offset) + (rva - s.virtual_address);
    }
    fail("address 0x" + hex(rva) + " lies in no section's data");
  }

  static std::string hex(uint32_t v) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xf];
    return s;
  }

 private:
  void need(uint64_t at, uint64_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at)
      fail("truncated: " + std::to_string(size) + " bytes wanted at offset " + std::to_string(at) +
           " of " + std::to_string(bytes_.size()));
  }

  std::string path_;
  std::vector<uint8_t> bytes_;
};

ResourceKey resource_key(const Reader& r, uint64_t tree, uint32_t field) {
  ResourceKey key;
  if (field & 0x80000000u) {
    // A string: a UTF-16 length, then that many UTF-16 units, at an offset in the tree.
    const uint64_t at = tree + (field & 0x7fffffffu);
    const uint32_t length = r.u16(at);
    key.is_string = true;
    for (uint32_t i = 0; i < length; ++i) {
      const uint32_t unit = r.u16(at + 2 + 2 * i);
      key.text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
  } else {
    key.id = field;
  }
  return key;
}

// Walks the three levels of the resource tree (type, name, language) below `directory`.
void walk_resources(const Reader& r, const std::vector<Section>& sections, uint64_t tree,
                    uint64_t directory, int level, Resource path, std::vector<Resource>& out) {
  const uint32_t entries = r.u16(directory + 12) + r.u16(directory + 14);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t entry = directory + 16 + 8 * static_cast<uint64_t>(i);
    const uint32_t name_field = r.u32(entry);
    const uint32_t target = r.u32(entry + 4);
    const bool is_directory = (target & 0x80000000u) != 0;
    Resource here = path;
    if (level == 0) here.type = resource_key(r, tree, name_field);
    if (level == 1) here.name = resource_key(r, tree, name_field);
    if (level == 2) here.language = name_field;
    if (level < 2) {
      if (!is_directory) r.fail("resource tree: a leaf above the language level");
      walk_resources(r, sections, tree, tree + (target & 0x7fffffffu), level + 1, here, out);
    } else {
      if (is_directory) r.fail("resource tree: deeper than type, name and language");
      const uint64_t data_entry = tree + target;
      const uint32_t rva = r.u32(data_entry);
      const uint32_t size = r.u32(data_entry + 4);
      here.bytes = r.slice(r.offset_of(sections, rva), size);
      out.push_back(std::move(here));
    }
  }
}

}  // namespace

Image read_image(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(path + ": cannot be opened");
  Reader r(path, std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));

  if (r.u16(0) != 0x5a4d) r.fail("no DOS header (\"MZ\")");
  const uint64_t pe = r.u32(0x3c);
  if (r.u32(pe) != 0x00004550) r.fail("no PE signature");
  Image image;
  const uint64_t file_header = pe + 4;
  image.machine = static_cast<uint16_t>(r.u16(file_header));
  const uint32_t section_count = r.u16(file_header + 2);
  const uint32_t optional_size = r.u16(file_header + 16);
  image.characteristics = static_cast<uint16_t>(r.u16(file_header + 18));
  const uint64_t optional = file_header + 20;
  image.optional_magic = static_cast<uint16_t>(r.u16(optional));
  if (image.optional_magic != 0x20b) r.fail("not a PE32+ (64-bit) image");
  const uint32_t directory_count = r.u32(optional + 108);

  const uint64_t section_table = optional + optional_size;
  for (uint32_t i = 0; i < section_count; ++i) {
    const uint64_t at = section_table + 40 * static_cast<uint64_t>(i);
    Section s;
    for (int c = 0; c < 8 && r.u8(at + c) != 0; ++c) s.name += static_cast<char>(r.u8(at + c));
    s.virtual_size = r.u32(at + 8);
    s.virtual_address = r.u32(at + 12);
    s.raw_size = r.u32(at + 16);
    s.raw_offset = r.u32(at + 20);
    s.characteristics = r.u32(at + 36);
    image.sections.push_back(s);
  }

  // Data directory `index` as (rva, size); (0, 0) when absent.
  auto directory = [&](uint32_t index) -> std::pair<uint32_t, uint32_t> {
    if (index >= directory_count) return {0, 0};
    const uint64_t at = optional + 112 + 8 * static_cast<uint64_t>(index);
    return {r.u32(at), r.u32(at + 4)};
  };

  if (const auto [rva, size] = directory(0); rva != 0 && size != 0) {
    const uint64_t at = r.offset_of(image.sections, rva);
    Exports& e = image.exports;
    e.present = true;
    e.dll_name = r.c_string(r.offset_of(image.sections, r.u32(at + 12)));
    e.function_count = r.u32(at + 20);
    const uint32_t name_count = r.u32(at + 24);
    const uint32_t functions = r.u32(at + 28);
    const uint32_t names = r.u32(at + 32);
    const uint32_t ordinals = r.u32(at + 36);
    for (uint32_t i = 0; i < name_count; ++i) {
      const uint32_t name_rva = r.u32(r.offset_of(image.sections, names + 4 * i));
      e.names.push_back(r.c_string(r.offset_of(image.sections, name_rva)));
      const uint32_t index = r.u16(r.offset_of(image.sections, ordinals + 2 * i));
      if (index >= e.function_count) r.fail("export name points past the address table");
      e.name_rvas.push_back(r.u32(r.offset_of(image.sections, functions + 4 * index)));
    }
  }

  if (const auto [rva, size] = directory(1); rva != 0 && size != 0) {
    // 20-byte descriptors up to an all-zero one; the DLL's name at offset 12.
    for (uint64_t at = r.offset_of(image.sections, rva);; at += 20) {
      const uint32_t name = r.u32(at + 12);
      if (name == 0 && r.u32(at) == 0 && r.u32(at + 16) == 0) break;
      image.imports.push_back(r.c_string(r.offset_of(image.sections, name)));
    }
  }

  if (const auto [rva, size] = directory(13); rva != 0 && size != 0) {
    // 32-byte descriptors up to an all-zero one; the DLL's name at offset 4.
    for (uint64_t at = r.offset_of(image.sections, rva);; at += 32) {
      const uint32_t name = r.u32(at + 4);
      if (name == 0) break;
      image.delay_imports.push_back(r.c_string(r.offset_of(image.sections, name)));
    }
  }

  if (const auto [rva, size] = directory(2); rva != 0 && size != 0) {
    const uint64_t tree = r.offset_of(image.sections, rva);
    walk_resources(r, image.sections, tree, tree, 0, Resource{}, image.resources);
  }
  return image;
}

const Section* section_of(const Image& image, uint32_t rva) {
  for (const Section& s : image.sections) {
    if (rva >= s.virtual_address && rva - s.virtual_address < s.virtual_size) return &s;
  }
  return nullptr;
}

}  // namespace pe
