// The property list the host reads before running any of the module's code: parsed here
// with a reader of our own from the bytes in the built module and from the generated
// Windows resource script, property by property, and compared with what global setup
// reports at run time.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Property {
  std::string vendor;  // as the code reads ("8BIM"), not as stored
  std::string key;
  int32_t id = 0;
  int32_t length = 0;
  Bytes payload;
  size_t offset = 0;  // from the start of the property area
};

struct PropertyList {
  int16_t leading = 0;
  int32_t list_version = 0;
  int32_t count = 0;
  std::vector<Property> properties;
  size_t end = 0;  // offset just past the last property's padding
};

int32_t le32(const Bytes& b, size_t at) {
  return static_cast<int32_t>(static_cast<uint32_t>(b.at(at)) | b.at(at + 1) << 8 |
                              b.at(at + 2) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24);
}

// A four-character code is an int32 with its first character in the top byte.
std::string fourcc(const Bytes& b, size_t at) {
  return {static_cast<char>(b.at(at + 3)), static_cast<char>(b.at(at + 2)),
          static_cast<char>(b.at(at + 1)), static_cast<char>(b.at(at))};
}

PropertyList read_list(const Bytes& bytes) {
  PropertyList list;
  list.leading = static_cast<int16_t>(bytes.at(0) | bytes.at(1) << 8);
  list.list_version = le32(bytes, 2);
  list.count = le32(bytes, 6);
  size_t at = 10;
  for (int32_t i = 0; i < list.count; ++i) {
    Property p;
    p.offset = at - 10;
    p.vendor = fourcc(bytes, at);
    p.key = fourcc(bytes, at + 4);
    p.id = le32(bytes, at + 8);
    p.length = le32(bytes, at + 12);
    p.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 16),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 16 + p.length));
    at += 16 + p.length;
    while ((at - 10) % 4 != 0) {
      EXPECT_EQ(bytes.at(at), 0) << "padding after " << p.key;
      ++at;
    }
    list.properties.push_back(p);
  }
  list.end = at;
  return list;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The twelve properties as the host expects them: key, then the exact payload.
struct Expected {
  const char* key;
  Bytes payload;
};
std::vector<Expected> expected_properties() {
  using namespace std::string_literals;
  return {
      {"kind", text("TKFe")},
      {"name", text("\x08Veilmora\0\0\0"s)},
      {"catg", text("\x06Orvane\0"s)},
      {"8664", text("EntryPointFunc\0\0"s)},
      {"ePVR", {2, 0, 0, 0}},
      {"eSVR", {13, 0, 0, 0}},
      {"eVER", {0x01, 0x06, 0x08, 0x00}},  // 525825
      {"eINF", {0, 0}},
      {"eGLO", {0x40, 0x04, 0x00, 0x06}},
      {"eGL2", {0x00, 0x14, 0x00, 0x00}},
      {"eMNA", text("\x14Veilmora by Dunsmoor\0\0\0"s)},
      {"aeFL", {8, 0, 0, 0}},
  };
}

void expect_valid_list(const Bytes& bytes) {
  ASSERT_GE(bytes.size(), 10u);
  const PropertyList list = read_list(bytes);
  EXPECT_EQ(list.leading, 1);
  EXPECT_EQ(list.list_version, 0);
  ASSERT_EQ(list.count, 12);
  const std::vector<Expected> expected = expected_properties();
  for (size_t i = 0; i < expected.size(); ++i) {
    const Property& p = list.properties[i];
    SCOPED_TRACE(expected[i].key);
    EXPECT_EQ(p.vendor, "8BIM");
    EXPECT_EQ(p.key, expected[i].key);
    EXPECT_EQ(p.id, 0);
    EXPECT_EQ(p.offset % 4, 0u);
    EXPECT_EQ(p.payload, expected[i].payload);
    EXPECT_EQ(p.length, static_cast<int32_t>(expected[i].payload.size()));
  }
  // Nothing behind the twelfth property's padding.
  EXPECT_EQ(list.end, bytes.size());
}

Bytes module_section() {
  return hostsim::read_elf_section(module_test::module_path(), hostsim::kPiplSectionName);
}

// The raw-data block of the generated resource script: 16-bit little-endian words.
Bytes resource_script_bytes(std::string& header) {
  std::ifstream in(VEILMORA_PIPL_RC);
  std::stringstream all;
  all << in.rdbuf();
  const std::string script = all.str();
  const size_t begin = script.find("BEGIN");
  const size_t end = script.find("END", begin);
  header = script.substr(0, begin);
  Bytes bytes;
  const std::string block = script.substr(begin + 5, end - begin - 5);
  const std::regex word("0x([0-9a-fA-F]+)");
  for (auto it = std::sregex_iterator(block.begin(), block.end(), word);
       it != std::sregex_iterator(); ++it) {
    const unsigned long value = std::stoul((*it)[1].str(), nullptr, 16);
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
  }
  return bytes;
}

TEST(PropertyList, ModuleSectionHoldsTheTwelvePropertiesExactly) {
  expect_valid_list(module_section());
}

TEST(PropertyList, WindowsResourceCarriesTheSameBytesAsPIPL16000InUSEnglish) {
  std::string header;
  const Bytes bytes = resource_script_bytes(header);
  expect_valid_list(bytes);
  EXPECT_EQ(bytes, module_section());
  EXPECT_NE(header.find("LANGUAGE 9, 1"), std::string::npos) << header;  // 1033
  EXPECT_NE(header.find("16000 PIPL"), std::string::npos) << header;
}

TEST(PropertyList, VersionAndFlagsEqualWhatGlobalSetupReports) {
  const PropertyList list = read_list(module_section());
  auto value_of = [&list](const std::string& key) {
    for (const Property& p : list.properties) {
      if (p.key == key) return le32(p.payload, 0);
    }
    ADD_FAILURE() << "no property " << key;
    return 0;
  };
  hostsim::Instance fx(module_test::module());
  const hostsim::CommandResult setup = fx.global_setup();
  ASSERT_EQ(setup.err, PF_Err_NONE);
  EXPECT_EQ(static_cast<int32_t>(setup.out_data.my_version), value_of("eVER"));
  EXPECT_EQ(setup.out_data.out_flags, value_of("eGLO"));
  EXPECT_EQ(setup.out_data.out_flags2, value_of("eGL2"));
  // The numbers themselves, as the host's version encoding and flag names give them.
  EXPECT_EQ(setup.out_data.my_version, pf_version(1, 0, 0, PF_Stage_RELEASE, 1));
  EXPECT_EQ(setup.out_data.out_flags, PF_OutFlag_USE_OUTPUT_EXTENT | PF_OutFlag_PIX_INDEPENDENT |
                                          PF_OutFlag_DEEP_COLOR_AWARE |
                                          PF_OutFlag_SEND_UPDATE_PARAMS_UI);
  EXPECT_EQ(setup.out_data.out_flags2,
            PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE);
  EXPECT_EQ(fx.global_setdown().err, PF_Err_NONE);
}

}  // namespace

namespace {

// The version word, worked by hand from the host's encoding: major's low three bits at 19,
// its higher bits at 26, minor at 15, bug fix at 11, stage at 9, build at 0.
TEST(VersionWord, EncodesEveryFieldWhereTheHostReadsIt) {
  // 1.0.0 release build 1: 0x80000 | 0x600 | 1 = 525825, the property list's eVER.
  EXPECT_EQ(pf_version(1, 0, 0, PF_Stage_RELEASE, 1), 525825u);
  // Major 9 = 0b1001: low bits 001 at 19 (0x80000), high bit 1 at 26 (0x4000000); minor 2 at
  // 15 (0x10000), bug fix 3 at 11 (0x1800), beta (2) at 9 (0x400), build 7.
  EXPECT_EQ(pf_version(9, 2, 3, PF_Stage_BETA, 7), 0x4091C07u);
  // Major 8 has no low bits at all: only bit 26.
  EXPECT_EQ(pf_version(8, 0, 0, PF_Stage_DEVELOP, 0), 0x4000000u);
  // Each field is cut to its width and cannot spill into its neighbour.
  EXPECT_EQ(pf_version(1, 16, 16, 4, 512), 0x80000u);
  EXPECT_EQ(pf_version(128, 0, 0, 0, 0), 0u);  // 128 = 0b10000000: beyond both major fields
}

}  // namespace
