// Loading an effect module the way a host does: open the library, read its PiPL, check that
// it is an effect, and find the entry function by the name the PiPL gives.
#pragma once

#include <memory>
#include <string>

#include "api/effect_api.h"
#include "hostsim/pipl.h"

namespace hostsim {

// A loaded module. Closing it (destruction) unloads the library: nothing the module handed
// out (popup strings, functions such as delete_pre_render_data_func) may be used after that.
struct Module {
  std::string path;
  Pipl pipl;
  std::string entry_name;  // from the '8664' property
  PF_EntryPointFunc entry = nullptr;
  void* library = nullptr;  // the platform's library handle

  Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module();
};

// Loads the module at `path` (UTF-8).
// Linux: the PiPL is read from the file's kPiplSectionName ELF section before the library is
// opened (dlopen, RTLD_NOW | RTLD_LOCAL). Windows: LoadLibraryW, then the "PIPL" 16000
// resource through FindResource/LoadResource. Then: the 'kind' property must be 'eFKT', the
// '8664' property names the entry function, which is looked up with dlsym/GetProcAddress.
// Throws LoadError naming the file and the problem (missing file, not a library, no PiPL,
// malformed PiPL, not an effect, no entry name, entry function not exported).
std::unique_ptr<Module> load_module(const std::string& path);

// Reads and parses a module file's PiPL without loading its code (Linux: the ELF section;
// Windows: the resource, with the file mapped as data). Throws LoadError.
Pipl read_module_pipl(const std::string& path);

}  // namespace hostsim
