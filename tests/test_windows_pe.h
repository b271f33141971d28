// A small reader of PE files, the format of Windows DLLs: enough of the headers, the export
// and import directories and the resource tree to check what the Windows module exports,
// which libraries it needs at run time and which resources it carries, without running it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

struct Section {
  std::string name;
  uint32_t virtual_address = 0;
  uint32_t virtual_size = 0;
  uint32_t raw_offset = 0;
  uint32_t raw_size = 0;
  uint32_t characteristics = 0;
};

struct Exports {
  bool present = false;
  std::string dll_name;             // the name the export directory gives the library
  uint32_t function_count = 0;      // entries of the export address table
  std::vector<std::string> names;   // the name pointer table, in order
  std::vector<uint32_t> name_rvas;  // the address each name resolves to
};

// A resource is found by type, name and language; type and name are either a number or a
// string (such as "PIPL").
struct ResourceKey {
  bool is_string = false;
  uint32_t id = 0;
  std::string text;  // ASCII; other UTF-16 units become '?'
};

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint32_t language = 0;
  std::vector<uint8_t> bytes;
};

struct Image {
  uint16_t machine = 0;          // 0x8664 for x86-64
  uint16_t characteristics = 0;  // the file header's flags (0x2000: a DLL)
  uint16_t optional_magic = 0;   // 0x20b: PE32+, a 64-bit image
  std::vector<Section> sections;
  Exports exports;
  std::vector<std::string> imports;        // the DLLs of the import directory, in order
  std::vector<std::string> delay_imports;  // the DLLs loaded on first use
  std::vector<Resource> resources;         // every leaf of the resource tree
};

// Reads the file; throws std::runtime_error naming the file and what is wrong with it.
// Never reads outside the file.
Image read_image(const std::string& path);

// The section holding `rva`, or null.
const Section* section_of(const Image& image, uint32_t rva);

}  // namespace pe
