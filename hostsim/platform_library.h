// The platform's dynamic library calls, kept in one place: open, close, look up a function,
// and read the PiPL bytes of a module file (Linux: an ELF section; Windows: a resource).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostsim::detail {

using GenericFunction = void (*)();

// Opens the library; on failure returns null and sets `error` to the platform's reason.
void* open_library(const std::string& path, std::string* error);
void close_library(void* library);
// The exported function `name`, or null.
GenericFunction find_function(void* library, const std::string& name);
// The PiPL bytes of the module file at `path`, read without running its code. Throws
// LoadError.
std::vector<uint8_t> read_pipl_bytes(const std::string& path);

}  // namespace hostsim::detail
