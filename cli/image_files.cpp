// OpenImageIO reading and writing, converting between a file's channels and sample type and
// the host's straight ARGB pixels.
#include "cli/image_files.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <vector>

#include "cli/cli_error.h"
#include "cli/quiet_stderr.h"
#include "cli/safe_output.h"

namespace fs = std::filesystem;

namespace {

// Rows reach the module as PF_LayerDef rowbytes, a signed 32-bit count of bytes: a row of
// float pixels must fit in it.
constexpr int64_t kMaxWidth = std::numeric_limits<int32_t>::max() / 16;

// What one render takes besides the images themselves: three complex planes of up to
// 1024 x 1024 and the transform's tables.
constexpr uint64_t kRenderWorkingBytes = 64ull << 20;

std::string human_bytes(uint64_t bytes) {
  std::ostringstream out;
  out.precision(1);
  out << std::fixed;
  if (bytes >= (1ull << 30)) {
    out << static_cast<double>(bytes) / static_cast<double>(1ull << 30) << " GiB";
  } else {
    out << static_cast<double>(bytes) / static_cast<double>(1ull << 20) << " MiB";
  }
  return out.str();
}

FileSampleType sample_type_of(const OIIO::TypeDesc& format) {
  switch (format.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8:
      return FileSampleType::kUint8;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16:
      return FileSampleType::kUint16;
    case OIIO::TypeDesc::HALF:
      return FileSampleType::kHalf;
    default:
      return FileSampleType::kFloat;
  }
}

OIIO::TypeDesc type_desc_of(FileSampleType type) {
  switch (type) {
    case FileSampleType::kUint8:
      return OIIO::TypeDesc::UINT8;
    case FileSampleType::kUint16:
      return OIIO::TypeDesc::UINT16;
    case FileSampleType::kHalf:
      return OIIO::TypeDesc::HALF;
    case FileSampleType::kFloat:
      return OIIO::TypeDesc::FLOAT;
  }
  return OIIO::TypeDesc::FLOAT;
}

// Which file channels feed alpha, red, green and blue.
struct ChannelMap {
  int alpha = -1;
  int color[3] = {0, 0, 0};
  int color_count = 0;
};

ChannelMap channel_map(const OIIO::ImageSpec& image_spec) {
  ChannelMap map;
  map.alpha = image_spec.alpha_channel;
  // Two- and four-channel files that do not name their alpha still carry it last (grey+alpha,
  // RGBA); anything else without a named alpha is colour only.
  if (map.alpha < 0 && (image_spec.nchannels == 2 || image_spec.nchannels == 4))
    map.alpha = image_spec.nchannels - 1;
  for (int c = 0; c < image_spec.nchannels && map.color_count < 3; ++c) {
    if (c != map.alpha) map.color[map.color_count++] = c;
  }
  // Grey feeds all three; two colour channels feed red and green, and green again for blue.
  for (int i = map.color_count; i < 3; ++i) map.color[i] = map.color[map.color_count - 1];
  return map;
}

// Converts `count` pixels of `nch` interleaved samples of type T into host pixels.
template <typename T, typename Pixel, typename Convert>
void to_host(const T* src, int nch, const ChannelMap& map, size_t count, Pixel* dst,
             Convert convert, decltype(Pixel::alpha) full_alpha) {
  for (size_t i = 0; i < count; ++i, src += nch) {
    dst[i].alpha = map.alpha >= 0 ? convert(src[map.alpha]) : full_alpha;
    dst[i].red = convert(src[map.color[0]]);
    dst[i].green = convert(src[map.color[1]]);
    dst[i].blue = convert(src[map.color[2]]);
  }
}

template <typename T>
T clamp_round(float v, double full_scale) {
  if (!(v > 0.0f)) return 0;
  return static_cast<T>(std::lround(std::min(static_cast<double>(v), 1.0) * full_scale));
}

void check_input_file(const std::string& path, const std::string& role) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) throw bad_input(role + " " + path + ": no such file");
  if (fs::is_directory(status)) {
    throw bad_input(role + " " + path + ": is a folder, not an image file");
  }
  if (!fs::is_regular_file(status)) {
    throw bad_input(role + " " + path + ": not a regular file");
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    throw bad_input(role + " " + path + ": cannot be read: " + std::strerror(err));
  }
  ::close(fd);
  uintmax_t size = fs::file_size(path, ec);
  if (!ec && size == 0) throw bad_input(role + " " + path + ": the file is empty (0 bytes)");
}

// The first line of a library's error text: readers that fail mid-file add lines that only
// repeat it ("PNG read error: ...", "PNG library error").
std::string trimmed(std::string text) {
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

uint64_t read_meminfo_available() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t value = 0;
  std::string unit;
  while (meminfo >> key >> value >> unit) {
    if (key == "MemAvailable:") return value * 1024;
  }
  long pages = ::sysconf(_SC_AVPHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && page_size > 0 ? static_cast<uint64_t>(pages) * page_size
                                    : std::numeric_limits<uint64_t>::max();
}

// The room left under a cgroup v2 memory limit, if the process runs under one.
uint64_t read_cgroup_available() {
  std::ifstream cgroup("/proc/self/cgroup");
  std::string line;
  while (std::getline(cgroup, line)) {
    if (line.rfind("0::", 0) != 0) continue;
    std::string dir = "/sys/fs/cgroup" + line.substr(3);
    std::ifstream max_file(dir + "/memory.max");
    std::ifstream current_file(dir + "/memory.current");
    std::string max_text;
    uint64_t current = 0;
    if (!(max_file >> max_text) || max_text == "max" || !(current_file >> current)) break;
    uint64_t limit = std::stoull(max_text);
    return limit > current ? limit - current : 0;
  }
  return std::numeric_limits<uint64_t>::max();
}

}  // namespace

uint64_t available_memory_bytes() {
  return std::min(read_meminfo_available(), read_cgroup_available());
}

RenderDepth natural_depth(FileSampleType type) {
  switch (type) {
    case FileSampleType::kUint8:
      return RenderDepth::k8;
    case FileSampleType::kUint16:
      return RenderDepth::k16;
    default:
      return RenderDepth::kFloat;
  }
}

FileSampleType output_sample_type(const FileLayout& input, std::optional<RenderDepth> forced) {
  if (!forced) {
    // Files whose samples we render as float but cannot write back as such (32-bit integers,
    // doubles) were mapped to float on reading; float is what they get back.
    return input.sample_type;
  }
  switch (*forced) {
    case RenderDepth::k8:
      return FileSampleType::kUint8;
    case RenderDepth::k16:
      return FileSampleType::kUint16;
    case RenderDepth::kFloat:
      return FileSampleType::kFloat;
  }
  return FileSampleType::kFloat;
}

namespace {

// A file's samples as read, before conversion to host pixels.
struct FileSamples {
  int32_t width = 0, height = 0;
  int nchannels = 0;
  ChannelMap map;
  FileLayout layout;
  RenderDepth depth = RenderDepth::k8;
  OIIO::TypeDesc read_type = OIIO::TypeDesc::FLOAT;
  std::string color_space;
  std::vector<unsigned char> samples;
};

// Opens, checks and reads the first subimage. Runs with stderr quieted (see quiet_stderr.h).
FileSamples read_samples(const std::string& path, const std::string& role,
                         std::optional<RenderDepth> depth, unsigned concurrent_images) {
  // Keep alpha as the file holds it: without this hint PNG and TIFF readers premultiply.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    std::string why = trimmed(OIIO::geterror());
    throw bad_input(role + " " + path + ": not an image file that can be read" +
                    (why.empty() ? "" : " (" + why + ")"));
  }
  const OIIO::ImageSpec image_spec = in->spec();
  if (image_spec.deep) throw bad_input(role + " " + path + ": deep images are not supported");
  if (image_spec.width <= 0 || image_spec.height <= 0 || image_spec.nchannels <= 0) {
    throw bad_input(role + " " + path + ": the image has no pixels");
  }
  if (image_spec.depth > 1)
    throw bad_input(role + " " + path + ": volume images are not supported");
  if (image_spec.width > kMaxWidth) {
    throw bad_input(role + " " + path + ": the image is " + std::to_string(image_spec.width) +
                    " pixels wide; at most " + std::to_string(kMaxWidth) + " can be rendered");
  }

  FileSamples file;
  file.width = image_spec.width;
  file.height = image_spec.height;
  file.nchannels = image_spec.nchannels;
  file.map = channel_map(image_spec);
  file.color_space = image_spec.get_string_attribute("oiio:ColorSpace");
  file.layout.color_channels = file.map.color_count;
  file.layout.has_alpha = file.map.alpha >= 0;
  file.layout.sample_type = sample_type_of(image_spec.format);
  file.depth = depth ? *depth : natural_depth(file.layout.sample_type);
  if (file.depth == RenderDepth::k8 && file.layout.sample_type == FileSampleType::kUint8) {
    file.read_type = OIIO::TypeDesc::UINT8;
  } else if (file.depth == RenderDepth::k16 && file.layout.sample_type == FileSampleType::kUint16) {
    file.read_type = OIIO::TypeDesc::UINT16;
  }

  // Refuse images that cannot fit before taking any memory for them: the file's samples, the
  // image in host pixels, the input and output worlds, the samples written back, and the
  // render's working planes.
  const uint64_t pixel_count = static_cast<uint64_t>(image_spec.width) * image_spec.height;
  const uint64_t per_pixel = static_cast<uint64_t>(image_spec.nchannels) * file.read_type.size() +
                             3 * pixel_size(file.depth) +
                             static_cast<uint64_t>(image_spec.nchannels) * 4;
  const long double needed =
      (static_cast<long double>(pixel_count) * per_pixel + kRenderWorkingBytes) *
      std::max(1u, concurrent_images);
  const uint64_t available = available_memory_bytes();
  if (needed > static_cast<long double>(available)) {
    std::string need_text = needed > 1e18L ? std::string("more than an exabyte")
                                           : "about " + human_bytes(static_cast<uint64_t>(needed));
    throw bad_input(role + " " + path + ": the image is " + std::to_string(image_spec.width) +
                    " x " + std::to_string(image_spec.height) + " pixels; rendering it needs " +
                    need_text + " of memory but only " + human_bytes(available) + " is available");
  }

  file.samples.resize(pixel_count * image_spec.nchannels * file.read_type.size());
  if (!in->read_image(0, 0, 0, image_spec.nchannels, file.read_type, file.samples.data())) {
    std::string why = trimmed(in->geterror());
    in->close();
    in->geterror();  // whatever closing a broken stream adds is not news
    throw bad_input(role + " " + path + ": cannot read the image" +
                    (why.empty() ? "" : ": " + why));
  }
  in->close();
  in->geterror();
  return file;
}

}  // namespace

LoadedImage read_image_file(const std::string& path, const std::string& role,
                            std::optional<RenderDepth> depth, unsigned concurrent_images) {
  check_input_file(path, role);
  FileSamples file;
  try {
    QuietStderr quiet;
    file = read_samples(path, role, depth, concurrent_images);
  } catch (const CliError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw bad_input(role + " " + path + ": not enough memory to read the image");
  } catch (const std::exception& e) {
    // Readers of damaged files sometimes throw instead of reporting.
    throw bad_input(role + " " + path + ": not an image file that can be read (" + e.what() + ")");
  }

  LoadedImage loaded;
  loaded.layout = file.layout;
  loaded.color_space = file.color_space;
  if (file.read_type == OIIO::TypeDesc::FLOAT) {
    float* samples = reinterpret_cast<float*>(file.samples.data());
    const size_t count = file.samples.size() / sizeof(float);
    for (size_t i = 0; i < count; ++i) {
      if (!std::isfinite(samples[i])) {
        samples[i] = 0.0f;
        ++loaded.non_finite_samples;
      }
    }
  }
  try {
    loaded.image = make_host_image(file.width, file.height, file.depth);
  } catch (const std::bad_alloc&) {
    throw bad_input(role + " " + path + ": not enough memory to read the image");
  }
  const size_t pixel_count = static_cast<size_t>(file.width) * static_cast<size_t>(file.height);
  const int nch = file.nchannels;
  const ChannelMap& map = file.map;
  void* dst = loaded.image.pixels.data();
  if (file.read_type == OIIO::TypeDesc::UINT8) {
    to_host(
        file.samples.data(), nch, map, pixel_count, static_cast<PF_Pixel8*>(dst),
        [](uint8_t v) { return v; }, uint8_t{255});
  } else if (file.read_type == OIIO::TypeDesc::UINT16) {
    to_host(
        reinterpret_cast<const uint16_t*>(file.samples.data()), nch, map, pixel_count,
        static_cast<PF_Pixel16*>(dst), [](uint16_t v) { return file16_to_host16(v); },
        uint16_t{PF_MAX_CHAN16});
  } else {
    const float* src = reinterpret_cast<const float*>(file.samples.data());
    switch (file.depth) {
      case RenderDepth::k8:
        to_host(
            src, nch, map, pixel_count, static_cast<PF_Pixel8*>(dst),
            [](float v) { return clamp_round<uint8_t>(v, PF_MAX_CHAN8); }, uint8_t{255});
        break;
      case RenderDepth::k16:
        to_host(
            src, nch, map, pixel_count, static_cast<PF_Pixel16*>(dst),
            [](float v) { return clamp_round<uint16_t>(v, PF_MAX_CHAN16); },
            uint16_t{PF_MAX_CHAN16});
        break;
      case RenderDepth::kFloat:
        to_host(
            src, nch, map, pixel_count, static_cast<PF_PixelFloat*>(dst), [](float v) { return v; },
            1.0f);
        break;
    }
  }
  return loaded;
}

void check_output_file(const std::string& path) {
  check_output_folder(path);
  QuietStderr quiet;
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    OIIO::geterror();  // consumed so the library does not print it at exit
    std::string ext = fs::path(path).extension().string();
    throw bad_input("output " + path + ": no image format is known for the extension \"" + ext +
                    "\" (use .png, .jpg, .tif or .exr)");
  }
}

namespace {

// Host pixels to interleaved file samples of `nch` channels (colour then alpha).
template <typename Pixel, typename T, typename Convert>
void from_host(const Pixel* src, size_t count, int color_channels, bool alpha, T* dst,
               Convert convert) {
  const int nch = color_channels + (alpha ? 1 : 0);
  for (size_t i = 0; i < count; ++i, dst += nch) {
    const Pixel& p = src[i];
    if (color_channels == 1) {
      // Grey came in as red = green = blue; their mean is exact for grey and fair otherwise.
      dst[0] = convert((static_cast<double>(p.red) + p.green + p.blue) / 3.0);
    } else {
      dst[0] = convert(p.red);
      dst[1] = convert(p.green);
      if (color_channels > 2) dst[2] = convert(p.blue);
    }
    if (alpha) dst[color_channels] = convert(p.alpha);
  }
}

// The closest sample type a format can store when it cannot store the one asked for: PNG
// keeps float renders in 16 bits rather than the 8 a plain conversion would give, OpenEXR
// keeps 16-bit integer renders in float (half would lose low bits).
FileSampleType writable_sample_type(const std::string& format, FileSampleType wanted) {
  const bool is_float = wanted == FileSampleType::kHalf || wanted == FileSampleType::kFloat;
  if (format == "png" && is_float) return FileSampleType::kUint16;
  if (format == "openexr" && wanted == FileSampleType::kUint8) return FileSampleType::kHalf;
  if (format == "openexr" && wanted == FileSampleType::kUint16) return FileSampleType::kFloat;
  return wanted;
}

}  // namespace

void write_image_file(const std::string& path, const HostImage& image, const FileLayout& layout,
                      FileSampleType sample_type) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    OIIO::geterror();
    throw bad_input("output " + path + ": no image format is known for this file name");
  }
  const bool alpha = layout.has_alpha && out->supports("alpha");
  const int color_channels = std::clamp(layout.color_channels, 1, 3);
  const int nch = color_channels + (alpha ? 1 : 0);

  OIIO::ImageSpec image_spec(image.width, image.height, nch,
                             type_desc_of(writable_sample_type(out->format_name(), sample_type)));
  image_spec.channelnames.clear();
  static const char* const kColorNames[3][3] = {{"Y"}, {"R", "G"}, {"R", "G", "B"}};
  for (int c = 0; c < color_channels; ++c) {
    image_spec.channelnames.emplace_back(kColorNames[color_channels - 1][c]);
  }
  if (alpha) {
    image_spec.channelnames.emplace_back("A");
    image_spec.alpha_channel = color_channels;
    // Our pixels are straight; tell the writer so it stores them as they are.
    image_spec.attribute("oiio:UnassociatedAlpha", 1);
  }

  const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  std::vector<unsigned char> samples;
  OIIO::TypeDesc buffer_type;
  try {
    switch (image.depth) {
      case RenderDepth::k8:
        buffer_type = OIIO::TypeDesc::UINT8;
        samples.resize(count * nch);
        from_host(reinterpret_cast<const PF_Pixel8*>(image.pixels.data()), count, color_channels,
                  alpha, samples.data(),
                  [](double v) { return static_cast<uint8_t>(std::lround(v)); });
        break;
      case RenderDepth::k16:
        buffer_type = OIIO::TypeDesc::UINT16;
        samples.resize(count * nch * 2);
        from_host(reinterpret_cast<const PF_Pixel16*>(image.pixels.data()), count, color_channels,
                  alpha, reinterpret_cast<uint16_t*>(samples.data()),
                  [](double v) { return host16_to_file16(static_cast<uint32_t>(std::lround(v))); });
        break;
      case RenderDepth::kFloat:
        buffer_type = OIIO::TypeDesc::FLOAT;
        samples.resize(count * nch * 4);
        from_host(reinterpret_cast<const PF_PixelFloat*>(image.pixels.data()), count,
                  color_channels, alpha, reinterpret_cast<float*>(samples.data()),
                  [](double v) { return static_cast<float>(v); });
        break;
    }
  } catch (const std::bad_alloc&) {
    throw bad_input("output " + path + ": not enough memory to write the image");
  }

  // Formats that can write through an I/O proxy are encoded into memory and the bytes written
  // by write_file_atomically, which checks every write: some of OpenImageIO's writers (PNG,
  // JPEG) ignore failed writes, and a full disk would leave a truncated file reported as
  // written.
  if (out->supports("ioproxy")) {
    std::vector<unsigned char> encoded;
    {
      OIIO::Filesystem::IOVecOutput proxy(encoded);
      OIIO::Filesystem::IOProxy* proxy_pointer = &proxy;
      image_spec.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy_pointer);
      QuietStderr quiet;
      if (!out->open(path, image_spec) || !out->write_image(buffer_type, samples.data()) ||
          !out->close()) {
        std::string why = trimmed(out->geterror());
        throw write_failure("output " + path + ": cannot encode the image" +
                            (why.empty() ? "" : ": " + why));
      }
    }
    std::vector<unsigned char>().swap(samples);
    write_file_atomically(path, encoded);
    return;
  }
  replace_file_atomically(path, [&](const std::string& temp_path) {
    QuietStderr quiet;
    if (!out->open(temp_path, image_spec) || !out->write_image(buffer_type, samples.data()) ||
        !out->close()) {
      std::string why = trimmed(out->geterror());
      throw write_failure("output " + path + ": cannot write the image" +
                          (why.empty() ? "" : ": " + why));
    }
  });
}
