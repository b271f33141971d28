// Decoding to and encoding from linear light through OpenImageIO's colour processors.
#include "cli/colour_space.h"

#include <algorithm>
#include <cctype>

#include "cli/cli_error.h"

namespace {

// OpenImageIO's own name for linear light; what every other space is converted to and from.
constexpr const char* kLinear = "linear";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string unknown_space_text(const std::string& space) {
  return "the colour space \"" + space +
         "\" is not known to OpenImageIO (known: linear, sRGB, Rec709, GammaX.Y, or the spaces "
         "of the OpenColorIO configuration $OCIO names)";
}

}  // namespace

LinearLight::LinearLight(std::optional<std::string> named_space)
    : named_space_(std::move(named_space)) {
  config_.geterror();  // "no OpenColorIO configuration" is expected without $OCIO
  if (named_space_ && !is_linear(*named_space_) &&
      !config_.createColorProcessor(*named_space_, kLinear)) {
    config_.geterror();
    throw bad_input("--colorspace " + *named_space_ + ": " + unknown_space_text(*named_space_));
  }
}

std::string LinearLight::input_space(const LoadedImage& loaded) const {
  if (named_space_) return *named_space_;
  if (!loaded.color_space.empty()) return loaded.color_space;
  const FileSampleType type = loaded.layout.sample_type;
  return type == FileSampleType::kUint8 || type == FileSampleType::kUint16 ? "sRGB" : kLinear;
}

bool LinearLight::is_linear(const std::string& space) const {
  // OpenEXR files call themselves "Linear"; OpenColorIO configurations say which of theirs are.
  const std::string name = lower(space);
  return name == kLinear || name == "scene_linear" || config_.isColorSpaceLinear(space);
}

const OIIO::ColorProcessor& LinearLight::processor(const std::string& from, const std::string& to,
                                                   const std::string& role,
                                                   const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  OIIO::ColorProcessorHandle& handle = processors_[{from, to}];
  if (!handle) handle = config_.createColorProcessor(from, to);
  if (!handle) {
    config_.geterror();
    const std::string unknown = from == kLinear ? to : from;
    throw bad_input(role + " " + path + ": " + unknown_space_text(unknown) +
                    "; give the file's space with --colorspace");
  }
  return *handle;
}

namespace {

// Red, green and blue of every pixel, leaving alpha (the first float of each pixel) alone.
void apply_to_colour(const OIIO::ColorProcessor& processor, HostImage& image) {
  auto* pixels = reinterpret_cast<PF_PixelFloat*>(image.pixels.data());
  processor.apply(&pixels[0].red, image.width, image.height, 3, sizeof(float),
                  sizeof(PF_PixelFloat), static_cast<OIIO::stride_t>(row_bytes(image)));
}

}  // namespace

void LinearLight::decode(HostImage& image, const std::string& space, const std::string& role,
                         const std::string& path) {
  apply_to_colour(processor(space, kLinear, role, path), image);
}

void LinearLight::encode(HostImage& image, const std::string& space, const std::string& role,
                         const std::string& path) {
  apply_to_colour(processor(kLinear, space, role, path), image);
}
