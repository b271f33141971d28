// Loading a module as a host does: the PiPL first (without running the module's code), then
// the library, then the entry function by the name the PiPL gives.
#include "hostsim/module.h"

#include "hostsim/platform_library.h"

namespace hostsim {

Module::~Module() { detail::close_library(library); }

Pipl read_module_pipl(const std::string& path) {
  const std::vector<uint8_t> bytes = detail::read_pipl_bytes(path);
  try {
    return parse_pipl(bytes);
  } catch (const LoadError& e) {
    throw LoadError(path + ": " + e.what());
  }
}

std::unique_ptr<Module> load_module(const std::string& path) {
  auto m = std::make_unique<Module>();
  m->path = path;
  m->pipl = read_module_pipl(path);

  const PiplProperty* kind = m->pipl.find(kPiplKeyKind);
  if (!kind) throw LoadError(path + ": the PiPL has no 'kind' property");
  if (kind->payload.size() != 4 || kind->as_int32() != kPiplKindEffect)
    throw LoadError(path + ": the PiPL kind is '" +
                    (kind->payload.size() == 4 ? fourcc_to_string(kind->as_int32()) : "?") +
                    "', not an effect ('eFKT')");
  const PiplProperty* code = m->pipl.find(kPiplKeyCodeWin64X86);
  if (!code) throw LoadError(path + ": the PiPL names no entry function (no '8664' property)");
  try {
    m->entry_name = code->as_c_string();
  } catch (const LoadError& e) {
    throw LoadError(path + ": " + e.what());
  }
  if (m->entry_name.empty()) throw LoadError(path + ": the PiPL's entry function name is empty");

  std::string error;
  m->library = detail::open_library(path, &error);
  if (!m->library) throw LoadError(path + ": cannot load the library: " + error);
  detail::GenericFunction f = detail::find_function(m->library, m->entry_name);
  if (!f)
    throw LoadError(path + ": the entry function '" + m->entry_name +
                    "' named by the PiPL is not exported");
  m->entry = reinterpret_cast<PF_EntryPointFunc>(f);
  return m;
}

}  // namespace hostsim
