// Opens the effect module as a host does and finds its entry function; reports a fault
// inside the module (a call or read through an unfilled slot) as a failure instead of a
// silent crash.
#pragma once

#include <cstdint>
#include <string>

namespace abi_host {

// The entry function as the host calls it: selector, in-data, out-data, parameter array,
// output world, extra record.
using EntryPoint = int32_t (*)(int32_t cmd, void* in_data, void* out_data, void** params,
                               void* output, void* extra);

// Throws std::runtime_error naming the file and the reason when it cannot be loaded.
EntryPoint load_entry_point(const std::string& path, const std::string& entry_name);

// From now on a fault in the process prints what the host was doing and exits with 3.
void report_faults();
void set_activity(const char* what);

}  // namespace abi_host
