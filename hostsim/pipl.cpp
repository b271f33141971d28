// Reading a PiPL: the property list parser (bounds-checked at every step) and the small ELF64
// section-table reader that finds the list's bytes in a Linux module without running it.
#include "hostsim/pipl.h"

#include <cstring>
#include <fstream>
#include <limits>
#include <string>

namespace hostsim {

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }

std::string at(size_t offset) { return " at byte " + std::to_string(offset); }

}  // namespace

std::string fourcc_to_string(int32_t code) {
  const auto u = static_cast<uint32_t>(code);
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((u >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

// ---- property payloads

int32_t PiplProperty::as_int32() const {
  if (payload.size() != 4)
    throw LoadError("PiPL property '" + fourcc_to_string(key) + "' holds " +
                    std::to_string(payload.size()) + " bytes, not a 4-byte integer");
  return static_cast<int32_t>(le32(payload.data()));
}

int16_t PiplProperty::as_int16() const {
  if (payload.size() != 2)
    throw LoadError("PiPL property '" + fourcc_to_string(key) + "' holds " +
                    std::to_string(payload.size()) + " bytes, not a 2-byte integer");
  return static_cast<int16_t>(le16(payload.data()));
}

std::pair<int16_t, int16_t> PiplProperty::as_version() const {
  if (payload.size() != 4)
    throw LoadError("PiPL property '" + fourcc_to_string(key) + "' holds " +
                    std::to_string(payload.size()) + " bytes, not a version pair");
  return {static_cast<int16_t>(le16(payload.data())),
          static_cast<int16_t>(le16(payload.data() + 2))};
}

std::string PiplProperty::as_short_string() const {
  if (payload.empty() || size_t{payload[0]} + 1 > payload.size())
    throw LoadError("PiPL property '" + fourcc_to_string(key) +
                    "' is not a short string: its length byte runs past its payload");
  return std::string(reinterpret_cast<const char*>(payload.data() + 1), payload[0]);
}

std::string PiplProperty::as_c_string() const {
  const void* nul = std::memchr(payload.data(), 0, payload.size());
  if (!nul) throw LoadError("PiPL property '" + fourcc_to_string(key) + "' has no terminating NUL");
  return std::string(reinterpret_cast<const char*>(payload.data()),
                     static_cast<const uint8_t*>(nul) - payload.data());
}

const PiplProperty* Pipl::find(int32_t key) const {
  for (const auto& p : properties)
    if (p.key == key) return &p;
  return nullptr;
}

// ---- the list

Pipl parse_pipl(const uint8_t* bytes, size_t size) {
  constexpr size_t kHeader = 10, kPropertyHeader = 16;
  if (!bytes || size < kHeader)
    throw LoadError("PiPL truncated: " + std::to_string(size) + " bytes, the header needs 10");
  const auto leading = static_cast<int16_t>(le16(bytes));
  if (leading != 1)
    throw LoadError("PiPL header starts with " + std::to_string(leading) + ", expected 1");
  const auto version = static_cast<int32_t>(le32(bytes + 2));
  if (version != 0)
    throw LoadError("PiPL list version " + std::to_string(version) + " is not supported (0 is)");
  const auto count = static_cast<int32_t>(le32(bytes + 6));
  if (count < 0) throw LoadError("PiPL property count " + std::to_string(count) + " is negative");
  // Each property takes at least 16 bytes: a count that cannot fit is damage, found before
  // anything is allocated for it.
  if (static_cast<uint64_t>(count) > (size - kHeader) / kPropertyHeader)
    throw LoadError("PiPL truncated: " + std::to_string(count) + " properties cannot fit in " +
                    std::to_string(size) + " bytes");

  Pipl pipl;
  pipl.properties.reserve(static_cast<size_t>(count));
  size_t pos = kHeader;
  for (int32_t i = 0; i < count; ++i) {
    const std::string which =
        "PiPL property " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (size - pos < kPropertyHeader) throw LoadError(which + " truncated" + at(pos));
    PiplProperty p;
    p.offset = static_cast<uint32_t>(pos);
    p.vendor = static_cast<int32_t>(le32(bytes + pos));
    p.key = static_cast<int32_t>(le32(bytes + pos + 4));
    p.id = static_cast<int32_t>(le32(bytes + pos + 8));
    const auto length = static_cast<int32_t>(le32(bytes + pos + 12));
    if (length < 0)
      throw LoadError(which + " ('" + fourcc_to_string(p.key) + "') has a negative length" +
                      at(pos));
    pos += kPropertyHeader;
    const size_t padded = (static_cast<size_t>(length) + 3) & ~size_t{3};
    if (size - pos < padded)
      throw LoadError(which + " ('" + fourcc_to_string(p.key) + "') of length " +
                      std::to_string(length) + " runs past the end of the list" + at(pos));
    p.payload.assign(bytes + pos, bytes + pos + length);
    pos += padded;
    pipl.properties.push_back(std::move(p));
  }
  pipl.trailing_bytes = static_cast<uint32_t>(size - pos);
  return pipl;
}

// ---- ELF64 section lookup

std::vector<uint8_t> read_elf_section(const std::string& path, const char* section_name) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw LoadError(path + ": cannot open the file");
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (end < 0) throw LoadError(path + ": cannot read the file");
  const auto file_size = static_cast<uint64_t>(end);

  auto read = [&](uint64_t offset, uint64_t count, const char* what) {
    if (offset > file_size || count > file_size - offset)
      throw LoadError(path + ": the " + std::string(what) + " lies outside the file");
    std::vector<uint8_t> buf(static_cast<size_t>(count));
    file.seekg(static_cast<std::streamoff>(offset));
    if (count &&
        !file.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(count)))
      throw LoadError(path + ": cannot read the " + std::string(what));
    return buf;
  };

  if (file_size < 64) throw LoadError(path + ": not an ELF file (too short)");
  const std::vector<uint8_t> eh = read(0, 64, "ELF header");
  if (std::memcmp(eh.data(),
                  "\x7f"
                  "ELF",
                  4) != 0)
    throw LoadError(path + ": not an ELF file");
  if (eh[4] != 2) throw LoadError(path + ": not a 64-bit ELF file");
  if (eh[5] != 1) throw LoadError(path + ": not a little-endian ELF file");

  const uint64_t shoff = le64(eh.data() + 0x28);
  const uint16_t shentsize = le16(eh.data() + 0x3A);
  uint64_t shnum = le16(eh.data() + 0x3C);
  uint32_t shstrndx = le16(eh.data() + 0x3E);
  if (shoff == 0) throw LoadError(path + ": the ELF file has no section table");
  if (shentsize < 64) throw LoadError(path + ": damaged ELF section table (entry size)");

  auto section = [&](uint64_t index) {
    if (index > (std::numeric_limits<uint64_t>::max() - shoff) / shentsize)
      throw LoadError(path + ": damaged ELF section table");
    return read(shoff + index * shentsize, 64, "section header");
  };
  // Many sections: the real count and string table index live in section 0.
  if (shnum == 0 || shstrndx == 0xFFFF) {
    const std::vector<uint8_t> s0 = section(0);
    if (shnum == 0) shnum = le64(s0.data() + 0x20);
    if (shstrndx == 0xFFFF) shstrndx = le32(s0.data() + 0x28);
  }
  if (shnum == 0 || shstrndx >= shnum) throw LoadError(path + ": damaged ELF section table");
  if (shnum > file_size / 64) throw LoadError(path + ": damaged ELF section table (count)");

  const std::vector<uint8_t> strtab_header = section(shstrndx);
  const std::vector<uint8_t> names = read(le64(strtab_header.data() + 0x18),
                                          le64(strtab_header.data() + 0x20), "section name table");
  const size_t wanted_len = std::strlen(section_name);
  for (uint64_t i = 0; i < shnum; ++i) {
    const std::vector<uint8_t> sh = section(i);
    const uint32_t name_off = le32(sh.data());
    if (name_off >= names.size()) continue;
    const size_t room = names.size() - name_off;
    if (room <= wanted_len || std::memcmp(names.data() + name_off, section_name, wanted_len) != 0 ||
        names[name_off + wanted_len] != 0)
      continue;
    const uint32_t type = le32(sh.data() + 4);
    if (type == 8 /* SHT_NOBITS */)
      throw LoadError(path + ": ELF section " + section_name + " holds no bytes in the file");
    return read(le64(sh.data() + 0x18), le64(sh.data() + 0x20), "PiPL section");
  }
  throw LoadError(path + ": no " + std::string(section_name) + " section (no PiPL)");
}

}  // namespace hostsim
