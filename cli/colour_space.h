// Linear light for --linear: a defocus spreads light, so it must be computed on values
// proportional to light, not on sRGB code values (blurring those darkens bokeh and the rims of
// bright shapes). Inputs whose values are encoded in a non-linear colour space are decoded to
// linear float before the render and encoded back afterwards; the conversions are
// OpenImageIO's (its built-in sRGB, Rec709 and GammaX.Y spaces, or the OpenColorIO
// configuration $OCIO names). Alpha is never converted: it is coverage, not light.
#pragma once

#include <OpenImageIO/color.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cli/host_image.h"
#include "cli/image_files.h"

class LinearLight {
 public:
  // `named_space` is --colorspace: it overrides what files say about themselves.
  explicit LinearLight(std::optional<std::string> named_space);

  // The colour space the file's values are encoded in: --colorspace, else the file's own
  // colour-space metadata, else sRGB for 8- and 16-bit integer files and linear for half and
  // float files.
  std::string input_space(const LoadedImage& loaded) const;

  // Whether values in `space` are already proportional to light.
  bool is_linear(const std::string& space) const;

  // Converts the red, green and blue of a float image from `space` to linear, and back.
  // `path` and `role` name the file in the CliError (exit 2) thrown for an unknown space.
  void decode(HostImage& image, const std::string& space, const std::string& role,
              const std::string& path);
  void encode(HostImage& image, const std::string& space, const std::string& role,
              const std::string& path);

 private:
  const OIIO::ColorProcessor& processor(const std::string& from, const std::string& to,
                                        const std::string& role, const std::string& path);

  std::optional<std::string> named_space_;
  OIIO::ColorConfig config_;
  std::mutex mutex_;  // frames are converted from several threads; processors are made once
  std::map<std::pair<std::string, std::string>, OIIO::ColorProcessorHandle> processors_;
};
