// Image files in and out through OpenImageIO: PNG, JPEG, TIFF, OpenEXR and whatever else the
// library reads. Files are converted to the host's straight ARGB in one of its three depths
// and back; what the file held (channel count, alpha, sample type) is kept so the output can
// be written in the same shape.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/host_image.h"

enum class FileSampleType { kUint8, kUint16, kHalf, kFloat };

// The shape of a file's pixels: 1 colour channel for grey images, up to 3 for colour, and an
// alpha channel or not.
struct FileLayout {
  int color_channels = 3;
  bool has_alpha = false;
  FileSampleType sample_type = FileSampleType::kUint8;
};

struct LoadedImage {
  HostImage image;
  FileLayout layout;
  // Samples of a float file that were NaN or infinite. They are read as 0: one such value
  // would otherwise spread through a whole tile's transform and ruin pixels far beyond the
  // blur's reach.
  uint64_t non_finite_samples = 0;
  // The colour space the file says its values are in ("sRGB", "Linear", ...), or empty.
  std::string color_space;
};

// The render depth a file of this sample type is rendered in unless --depth says otherwise:
// 8-bit files in 8-bit, 16-bit in 16-bit, everything else (half, float, 32-bit integers) in
// float.
RenderDepth natural_depth(FileSampleType type);

// The sample type written for a render: the input file's unless a depth was asked for.
FileSampleType output_sample_type(const FileLayout& input, std::optional<RenderDepth> forced);

// Reads the whole first subimage of `path` into a HostImage of `depth` (or the file's natural
// depth). `role` names the file in messages ("input", "iris layer"). Images without alpha get
// full alpha; alpha is read as the file holds it, never premultiplied on the way in.
// Before any pixel memory is taken the image's size is checked against the memory available,
// assuming `concurrent_images` such images are in memory at once. Every failure throws a
// CliError with exit code 2 naming the file and the reason.
LoadedImage read_image_file(const std::string& path, const std::string& role,
                            std::optional<RenderDepth> depth, unsigned concurrent_images = 1);

// Checks that an image can be written to `path`: the folder exists and accepts files, and the
// file name's extension names a format OpenImageIO can write. Throws a CliError (exit 2).
void check_output_file(const std::string& path);

// Writes `image` to `path` in `layout`'s channels and the given sample type, through a
// temporary file renamed into place when complete (see safe_output.h). Alpha is dropped for
// formats that cannot hold it (JPEG).
void write_image_file(const std::string& path, const HostImage& image, const FileLayout& layout,
                      FileSampleType sample_type);

// Bytes of memory available to this process now: the kernel's MemAvailable, lowered by a
// cgroup memory limit when one applies.
uint64_t available_memory_bytes();
