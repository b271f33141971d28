// Checking `veilmora render` options against the effect's parameter ranges.
#include "cli/render_options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>
#include <thread>

#include "cli/cli_error.h"

namespace {

// "0", "1.5", "300" rather than "0.000000".
std::string number_text(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

bool parse_double(const std::string& text, double& value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

template <typename Int>
bool parse_integer(const std::string& text, Int& value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

double float_param(const std::string& option, const std::string& text, const char* name, double lo,
                   double hi) {
  double value = 0;
  if (!parse_double(text, value) || value < lo || value > hi) {
    throw bad_input(option + " " + text + ": \"" + name + "\" must be a number from " +
                    number_text(lo) + " to " + number_text(hi));
  }
  return value;
}

int32_t int_param(const std::string& option, const std::string& text, const char* name, int32_t lo,
                  int32_t hi) {
  int32_t value = 0;
  if (!parse_integer(text, value) || value < lo || value > hi) {
    throw bad_input(option + " " + text + ": \"" + name + "\" must be a whole number from " +
                    std::to_string(lo) + " to " + std::to_string(hi));
  }
  return value;
}

int32_t choice(const std::string& option, const std::string& text, const char* name,
               std::initializer_list<const char*> choices) {
  int32_t index = 1;
  std::string listed;
  for (const char* c : choices) {
    if (text == c) return index;
    listed += (index > 1 ? (index == static_cast<int32_t>(choices.size()) ? " or " : ", ") : "");
    listed += c;
    ++index;
  }
  throw bad_input(option + " " + text + ": \"" + name + "\" must be " + listed);
}

PF_RationalScale downsample_ratio(const std::string& text) {
  const std::string usage =
      "--downsample " + text + ": expected NUM/DEN with whole numbers NUM >= 0 and DEN > 0";
  size_t slash = text.find('/');
  int32_t num = 0;
  uint32_t den = 0;
  if (slash == std::string::npos || !parse_integer(text.substr(0, slash), num) ||
      !parse_integer(text.substr(slash + 1), den) || num < 0 || den == 0) {
    throw bad_input(usage);
  }
  return {num, den};
}

std::string region_text(const PictureRegion& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
         std::to_string(r.height);
}

// "X,Y,W,H": whole numbers, X and Y from 0, W and H from 1, the far edges within 32 bits.
PictureRegion picture_region(const std::string& text) {
  const std::string usage = "--region " + text +
                            ": expected X,Y,W,H (the top-left pixel and the size, whole numbers)";
  int32_t parts[4] = {0, 0, 0, 0};
  size_t begin = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = i < 3 ? text.find(',', begin) : text.size();
    if (comma == std::string::npos || !parse_integer(text.substr(begin, comma - begin), parts[i])) {
      throw bad_input(usage);
    }
    begin = comma + 1;
  }
  const PictureRegion region{parts[0], parts[1], parts[2], parts[3]};
  if (region.x < 0 || region.y < 0) {
    throw bad_input("--region " + text + ": X and Y must not be negative");
  }
  if (region.width < 1 || region.height < 1) {
    throw bad_input("--region " + text + ": the width and height must be at least 1 pixel");
  }
  if (int64_t{region.x} + region.width > INT32_MAX ||
      int64_t{region.y} + region.height > INT32_MAX) {
    throw bad_input("--region " + text + ": reaches beyond any picture");
  }
  return region;
}

HostKind host_kind(const std::string& text) {
  if (text == "after-effects") return HostKind::after_effects;
  if (text == "premiere") return HostKind::premiere;
  throw bad_input("--host " + text + ": must be after-effects or premiere");
}

}  // namespace

void check_region_inside(const PictureRegion& region, int32_t width, int32_t height) {
  if (int64_t{region.x} + region.width > width || int64_t{region.y} + region.height > height) {
    throw bad_input("--region " + region_text(region) + ": the region must lie inside the " +
                    std::to_string(width) + " x " + std::to_string(height) + " picture");
  }
}

PF_Fixed degrees_to_fixed(double degrees) {
  const double scaled = std::round(degrees * 65536.0);
  if (!std::isfinite(scaled) || scaled < std::numeric_limits<int32_t>::min() ||
      scaled > std::numeric_limits<int32_t>::max()) {
    throw bad_input("--phase " + number_text(degrees) +
                    ": \"Phase\" is sent as 16.16 fixed-point degrees and must lie between "
                    "-32768 and 32767.99998");
  }
  return static_cast<PF_Fixed>(scaled);
}

RenderOptions validate_render_args(const RenderArgs& args) {
  RenderOptions options;
  options.input = args.input;
  options.output = args.output;
  EffectValues& v = options.values;
  if (!args.radius.empty()) v.radius = float_param("--radius", args.radius, "Radius", 0, 300);
  if (!args.weight.empty()) v.weight = float_param("--weight", args.weight, "Weight", 0, 10);
  if (!args.specular_brightness.empty()) {
    v.specular_brightness = float_param("--specular-brightness", args.specular_brightness,
                                        "Specular Brightness", 1.0, 1.5);
  }
  if (!args.specular_threshold.empty()) {
    v.specular_threshold =
        int_param("--specular-threshold", args.specular_threshold, "Specular Threshold", 0, 255);
  }
  if (!args.shape.empty()) {
    v.shape = choice("--shape", args.shape, "Shape", {"circle", "polygon", "layer"});
  }
  if (!args.edges.empty()) v.edges = int_param("--edges", args.edges, "Edges", 3, 16);
  if (!args.phase.empty()) {
    double degrees = 0;
    if (!parse_double(args.phase, degrees)) {
      throw bad_input("--phase " + args.phase + ": \"Phase\" must be an angle in degrees");
    }
    v.phase = degrees_to_fixed(degrees);
  }
  if (!args.outside.empty()) {
    v.outside = choice("--outside", args.outside, "Outside", {"mirror", "edge"});
  }
  if (!args.downsample.empty()) v.downsample = downsample_ratio(args.downsample);
  // The module sizes its tiles for an effective radius of at most 300; a ratio above 1
  // would push it beyond that.
  const double effective = v.radius * v.downsample.num / static_cast<double>(v.downsample.den);
  if (effective > 300.0) {
    throw bad_input("--downsample " + args.downsample + ": the effective radius (Radius x " +
                    "NUM/DEN = " + number_text(effective) + ") must not exceed 300");
  }

  if (!args.iris_layer.empty()) options.iris_layer = args.iris_layer;
  if (v.shape == 3 && !options.iris_layer) {
    throw bad_input("--shape layer needs an iris image: give it with --iris-layer FILE");
  }

  if (!args.depth.empty()) {
    if (args.depth == "8") {
      options.depth = RenderDepth::k8;
    } else if (args.depth == "16") {
      options.depth = RenderDepth::k16;
    } else if (args.depth == "float") {
      options.depth = RenderDepth::kFloat;
    } else {
      throw bad_input("--depth " + args.depth + ": must be 8, 16 or float");
    }
  }
  if (!args.frames.empty()) options.frames = parse_frame_range(args.frames);
  if (!args.chunk.empty()) {
    options.chunk = parse_frame_chunk(args.chunk);
    if (!options.frames) {
      throw bad_input("--chunk " + args.chunk + " needs --frames A-B: it picks a part of them");
    }
  }
  options.skip_existing = args.skip_existing;
  options.linear = args.linear;
  if (!args.colorspace.empty()) {
    if (!args.linear) {
      throw bad_input("--colorspace " + args.colorspace +
                      " only applies with --linear (it names the colour space to decode)");
    }
    options.colorspace = args.colorspace;
  }

  if (args.jobs.empty()) {
    options.jobs = std::max(1u, std::thread::hardware_concurrency());
  } else {
    int32_t jobs = 0;
    if (!parse_integer(args.jobs, jobs) || jobs < 1 || jobs > 1024) {
      throw bad_input("--jobs " + args.jobs + ": must be a whole number from 1 to 1024");
    }
    options.jobs = static_cast<unsigned>(jobs);
  }
  if (!args.inject_failure.empty()) {
    const size_t colon = args.inject_failure.rfind(':');
    if (colon == std::string::npos || colon == 0 ||
        !parse_integer(args.inject_failure.substr(colon + 1), options.inject_failure_k) ||
        options.inject_failure_k < 0) {
      throw bad_input("--inject-failure " + args.inject_failure + ": expected NAME:K");
    }
    options.inject_failure_name = args.inject_failure.substr(0, colon);
  }
  if (!args.region.empty()) options.region = picture_region(args.region);
  if (!args.host.empty()) options.host = host_kind(args.host);
  if (options.host == HostKind::premiere && options.depth == RenderDepth::kFloat) {
    throw bad_input("--host premiere: Premiere Pro hands effects 8-bit and 16-bit pictures "
                    "only (--depth float is not one of them)");
  }
  if (options.linear && options.host == HostKind::premiere) {
    throw bad_input("--linear renders in float, and Premiere Pro (--host premiere) hands effects "
                    "8-bit and 16-bit pictures only");
  }
  if (options.region && options.host == HostKind::premiere) {
    throw bad_input("--region needs the smart-render host: Premiere Pro (--host premiere) "
                    "renders whole frames");
  }
  options.plugin = args.plugin;
  options.timing = args.timing;
  options.quiet = args.quiet;
  return options;
}
