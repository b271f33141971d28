// Reading and writing the raw picture files of the Windows test program.
#include "wintest/raw_image.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wintest {

const char* format_tag(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
      return "8bit";
    case PF_PixelFormat_ARGB64:
      return "16bit";
    case PF_PixelFormat_ARGB128:
      return "float";
    default:
      return "unknown";
  }
}

void write_raw(const std::string& path, const hostsim::World& world) {
  const std::string word = format_tag(world.format());
  if (word == "unknown") throw std::runtime_error(path + ": unknown pixel format");
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error(path + ": cannot be created");
  file << "VMRAW " << word << ' ' << world.width() << ' ' << world.height() << '\n';
  const size_t row = static_cast<size_t>(world.width()) * hostsim::pixel_size(world.format());
  const PF_EffectWorld* def = world.effect_world();
  for (int32_t y = 0; y < world.height(); ++y) {
    file.write(static_cast<const char*>(def->data) + static_cast<ptrdiff_t>(y) * def->rowbytes,
               static_cast<std::streamsize>(row));
  }
  file.flush();
  if (!file) throw std::runtime_error(path + ": write failed");
}

std::unique_ptr<hostsim::World> read_raw(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(path + ": cannot be opened");
  std::string header;
  std::getline(file, header);
  std::istringstream fields(header);
  std::string magic, word;
  int32_t width = -1, height = -1;
  fields >> magic >> word >> width >> height;
  PF_PixelFormat format = PF_PixelFormat_INVALID;
  for (PF_PixelFormat f : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    if (word == format_tag(f)) format = f;
  }
  if (magic != "VMRAW" || format == PF_PixelFormat_INVALID || width <= 0 || height <= 0 ||
      width > 1 << 15 || height > 1 << 15) {
    throw std::runtime_error(path + ": not a VMRAW picture (header \"" + header + "\")");
  }
  auto world = std::make_unique<hostsim::World>(format, width, height);
  const size_t row = static_cast<size_t>(width) * hostsim::pixel_size(format);
  PF_EffectWorld* def = world->effect_world();
  for (int32_t y = 0; y < height; ++y) {
    file.read(static_cast<char*>(def->data) + static_cast<ptrdiff_t>(y) * def->rowbytes,
              static_cast<std::streamsize>(row));
    if (!file)
      throw std::runtime_error(path + ": ends before row " + std::to_string(y) + " is complete");
  }
  if (file.peek() != std::ifstream::traits_type::eof())
    throw std::runtime_error(path + ": has bytes after the last row");
  return world;
}

}  // namespace wintest
