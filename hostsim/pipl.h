// The plug-in property list (PiPL) as the stand-in host reads it: where the bytes live in a
// module file, the byte format, and the parsed properties.
//
// Byte format (all integers little-endian; a four-character code is an int32 whose most
// significant byte is its first character, so '8BIM' is stored as the bytes "MIB8"):
//   header:    int16 1, int32 0 (list version), int32 property count
//   property:  int32 vendor ('8BIM'), int32 key, int32 id (0), int32 payload length,
//              the payload, then zero bytes up to the next multiple of 4
// Properties follow one another from offset 10.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/effect_api.h"

namespace hostsim {

// On Linux the module exports only its entry function, so the PiPL bytes travel in an ELF
// section of this name (the exact bytes of the Windows "PIPL" resource, nothing else).
inline constexpr const char* kPiplSectionName = ".pipl";
// On Windows: resource type "PIPL", id 16000 (language 1033).
inline constexpr const char* kPiplResourceType = "PIPL";
inline constexpr int kPiplResourceId = 16000;

// The keys hostsim looks at.
constexpr int32_t kPiplVendor8BIM = pf_four_cc('8', 'B', 'I', 'M');
constexpr int32_t kPiplKeyKind = pf_four_cc('k', 'i', 'n', 'd');
constexpr int32_t kPiplKeyName = pf_four_cc('n', 'a', 'm', 'e');
constexpr int32_t kPiplKeyCategory = pf_four_cc('c', 'a', 't', 'g');
constexpr int32_t kPiplKeyCodeWin64X86 = pf_four_cc('8', '6', '6', '4');
constexpr int32_t kPiplKeyMatchName = pf_four_cc('e', 'M', 'N', 'A');
constexpr int32_t kPiplKeyEffectVersion = pf_four_cc('e', 'V', 'E', 'R');
constexpr int32_t kPiplKeyGlobalOutFlags = pf_four_cc('e', 'G', 'L', 'O');
constexpr int32_t kPiplKeyGlobalOutFlags2 = pf_four_cc('e', 'G', 'L', '2');
constexpr int32_t kPiplKindEffect = pf_four_cc('e', 'F', 'K', 'T');

// Any problem reading or loading a module: the message names the file and what is wrong.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PiplProperty {
  int32_t vendor = 0;
  int32_t key = 0;
  int32_t id = 0;
  uint32_t offset = 0;           // where the property starts in the list's bytes
  std::vector<uint8_t> payload;  // `length` bytes, padding excluded

  // Payload readers; each throws LoadError when the payload has the wrong size or form.
  int32_t as_int32() const;                        // exactly 4 bytes
  int16_t as_int16() const;                        // exactly 2 bytes
  std::pair<int16_t, int16_t> as_version() const;  // two int16, major first (4 bytes)
  std::string as_short_string() const;             // length byte + characters (+ zero padding)
  std::string as_c_string() const;                 // characters up to the first NUL
};

struct Pipl {
  std::vector<PiplProperty> properties;  // in list order
  uint32_t trailing_bytes = 0;           // bytes after the last property's padding

  // The first property with this key, or null.
  const PiplProperty* find(int32_t key) const;
};

// Parses PiPL bytes. Rejects, with a LoadError saying what and where, anything that does
// not follow the format: a short header, a leading word other than 1, a list version other
// than 0, a negative count, a property or its padding running past the end, a negative
// length. Never reads outside `bytes`.
Pipl parse_pipl(const uint8_t* bytes, size_t size);
inline Pipl parse_pipl(const std::vector<uint8_t>& bytes) {
  return parse_pipl(bytes.data(), bytes.size());
}

// The bytes of the section `section_name` of a 64-bit little-endian ELF file, read from the
// file's section table (no code of the file runs). Throws LoadError for a file that cannot
// be read, is not a 64-bit little-endian ELF, has a damaged section table, or has no such
// section.
std::vector<uint8_t> read_elf_section(const std::string& path, const char* section_name);

// "kind", "8664", ...: the four characters of a code (non-printable bytes as '?').
std::string fourcc_to_string(int32_t code);

}  // namespace hostsim
