// Dynamic libraries and PiPL bytes per platform: dlopen and the ELF section on Linux,
// LoadLibraryW and the "PIPL" resource on Windows.
#include "hostsim/platform_library.h"

#include "hostsim/pipl.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostsim::detail {

#if defined(_WIN32)

namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string last_error_text() {
  const DWORD code = GetLastError();
  char buf[512] = {0};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                 sizeof buf, nullptr);
  std::string s(buf);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return "error " + std::to_string(code) + (s.empty() ? "" : ": " + s);
}

}  // namespace

void* open_library(const std::string& path, std::string* error) {
  HMODULE h = LoadLibraryW(widen(path).c_str());
  if (!h && error) *error = last_error_text();
  return reinterpret_cast<void*>(h);
}

void close_library(void* library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

GenericFunction find_function(void* library, const std::string& name) {
  FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(library), name.c_str());
  return reinterpret_cast<GenericFunction>(reinterpret_cast<void (*)(void)>(p));
}

std::vector<uint8_t> read_pipl_bytes(const std::string& path) {
  // Mapped as data: the resource is read before any of the module's code runs.
  HMODULE h = LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!h) throw LoadError(path + ": cannot open the module (" + last_error_text() + ")");
  std::vector<uint8_t> bytes;
  std::string problem;
  HRSRC res = FindResourceW(h, MAKEINTRESOURCEW(kPiplResourceId), L"PIPL");
  if (!res) {
    problem = "no PIPL resource with id 16000";
  } else {
    HGLOBAL data = LoadResource(h, res);
    const DWORD size = SizeofResource(h, res);
    const void* p = data ? LockResource(data) : nullptr;
    if (!p)
      problem = "the PIPL resource cannot be loaded";
    else
      bytes.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
  }
  FreeLibrary(h);
  if (!problem.empty()) throw LoadError(path + ": " + problem);
  return bytes;
}

#else

void* open_library(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const char* e = dlerror();
    *error = e ? e : "dlopen failed";
  }
  return h;
}

void close_library(void* library) {
  if (library) dlclose(library);
}

GenericFunction find_function(void* library, const std::string& name) {
  void* p = dlsym(library, name.c_str());
  return reinterpret_cast<GenericFunction>(p);
}

std::vector<uint8_t> read_pipl_bytes(const std::string& path) {
  return read_elf_section(path, kPiplSectionName);
}

#endif

}  // namespace hostsim::detail
