// The file form in which the Windows test program hands its pictures to the Linux test: a
// one-line header "VMRAW <format> <width> <height>" (format: 8bit, 16bit or float), then the
// pixels exactly as the effect world holds them (ARGB, rows packed, little-endian channels).
#pragma once

#include <memory>
#include <string>

#include "hostsim/world.h"

namespace wintest {

// "8bit", "16bit" or "float" (the header's word); "unknown" for any other format.
const char* format_tag(PF_PixelFormat format);

// Throws std::runtime_error naming the file when it cannot be written.
void write_raw(const std::string& path, const hostsim::World& world);
// Throws std::runtime_error naming the file and the problem (missing, bad header, short).
std::unique_ptr<hostsim::World> read_raw(const std::string& path);

}  // namespace wintest
