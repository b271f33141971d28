// The Windows module file, read as a Windows loader and host read it: a 64-bit DLL that
// exports only EntryPointFunc under the module's name, needs no library beyond the system's,
// and carries exactly the "PIPL" 16000 resource (the Linux module's PiPL bytes) and the
// manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "hostsim/pipl.h"
#include "test_windows_pe.h"

namespace {

constexpr char kWindowsModule[] = VEILMORA_WINDOWS_MODULE;
constexpr char kLinuxModule[] = VEILMORA_LINUX_MODULE;

// The module, read once per test program. A missing file is a failure with the way to make
// it, never a skipped test.
const pe::Image& windows_module() {
  static const pe::Image image = [] {
    if (!std::filesystem::exists(kWindowsModule)) {
      throw std::runtime_error(std::string(kWindowsModule) +
                               " does not exist: build it with scripts/build-windows");
    }
    return pe::read_image(kWindowsModule);
  }();
  return image;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Libraries every Windows installation has. MinGW's own runtime DLLs (libstdc++-6.dll,
// libgcc_s_seh-1.dll, libwinpthread-1.dll) are not among them: a user would not have them.
bool is_system_library(const std::string& name) {
  const std::string n = lower(name);
  static const char* const system[] = {"kernel32.dll", "user32.dll",   "advapi32.dll",
                                       "msvcrt.dll",   "ucrtbase.dll", "ntdll.dll"};
  return std::find(std::begin(system), std::end(system), n) != std::end(system) ||
         n.rfind("api-ms-win-", 0) == 0;
}

std::string key_text(const pe::ResourceKey& key) {
  return key.is_string ? "\"" + key.text + "\"" : std::to_string(key.id);
}

const pe::Resource* find_resource(const pe::Image& image, const char* type, uint32_t id) {
  for (const pe::Resource& r : image.resources) {
    if (r.type.is_string && r.type.text == type && !r.name.is_string && r.name.id == id) return &r;
  }
  return nullptr;
}

TEST(WindowsModuleFile, IsA64BitWindowsDll) {
  const pe::Image& image = windows_module();
  EXPECT_EQ(image.machine, 0x8664) << "not an x86-64 image";
  EXPECT_EQ(image.optional_magic, 0x20b);
  EXPECT_NE(image.characteristics & 0x2000, 0) << "the DLL flag of the file header is not set";
}

TEST(WindowsModuleFile, ExportsOnlyEntryPointFuncUnderTheModulesName) {
  const pe::Image& image = windows_module();
  ASSERT_TRUE(image.exports.present) << "no export directory";
  EXPECT_EQ(image.exports.dll_name, "Veilmora(64bit).aex");
  EXPECT_EQ(image.exports.names, std::vector<std::string>{"EntryPointFunc"});
  EXPECT_EQ(image.exports.function_count, 1u) << "exports beyond the named one (by ordinal)";
  ASSERT_EQ(image.exports.name_rvas.size(), 1u);
  const pe::Section* section = pe::section_of(image, image.exports.name_rvas[0]);
  ASSERT_NE(section, nullptr) << "the export points outside the image";
  EXPECT_NE(section->characteristics & 0x20000000u, 0u)
      << "the export points into the non-executable section " << section->name;

  // The host looks the function up by the name in the PiPL's '8664' property.
  const pe::Resource* pipl = find_resource(image, "PIPL", 16000);
  ASSERT_NE(pipl, nullptr);
  const hostsim::Pipl list = hostsim::parse_pipl(pipl->bytes);
  const hostsim::PiplProperty* code = list.find(hostsim::kPiplKeyCodeWin64X86);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->as_c_string(), "EntryPointFunc");
}

TEST(WindowsModuleFile, ImportsOnlySystemLibraries) {
  const pe::Image& image = windows_module();
  std::string all;
  for (const std::string& name : image.imports) all += name + " ";
  std::cout << "imports: " << all << "\n";
  // Anything the module runs needs the kernel; an empty list would mean a misread table.
  EXPECT_NE(std::find_if(image.imports.begin(), image.imports.end(),
                         [](const std::string& n) { return lower(n) == "kernel32.dll"; }),
            image.imports.end());
  for (const std::string& name : image.imports) {
    EXPECT_TRUE(is_system_library(name)) << name << " is not a system library";
  }
  EXPECT_TRUE(image.delay_imports.empty()) << "delay-loaded: " << image.delay_imports.front();
}

TEST(WindowsModuleFile, CarriesTheLinuxModulesPiplAndTheManifestOnly) {
  const pe::Image& image = windows_module();
  for (const pe::Resource& r : image.resources) {
    std::cout << "resource type " << key_text(r.type) << " name " << key_text(r.name)
              << " language " << r.language << ": " << r.bytes.size() << " bytes\n";
  }
  ASSERT_EQ(image.resources.size(), 2u) << "the module carries other resources";

  const pe::Resource* pipl = find_resource(image, "PIPL", 16000);
  ASSERT_NE(pipl, nullptr) << "no resource \"PIPL\" 16000";
  EXPECT_EQ(pipl->language, 1033u);
  const std::vector<uint8_t> linux_bytes =
      hostsim::read_elf_section(kLinuxModule, hostsim::kPiplSectionName);
  EXPECT_EQ(pipl->bytes, linux_bytes) << "the Windows and Linux modules carry different PiPLs";

  // RT_MANIFEST (24), id 2: the manifest a DLL carries for its own activation context.
  const pe::Resource* manifest = nullptr;
  for (const pe::Resource& r : image.resources) {
    if (!r.type.is_string && r.type.id == 24) manifest = &r;
  }
  ASSERT_NE(manifest, nullptr) << "no manifest resource";
  EXPECT_FALSE(manifest->name.is_string);
  EXPECT_EQ(manifest->name.id, 2u);
  const std::string xml(manifest->bytes.begin(), manifest->bytes.end());
  EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
  EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos)
      << xml;
}

}  // namespace
