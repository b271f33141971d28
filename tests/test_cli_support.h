// Helpers for the veilmora command's tests: running the built binary as a subprocess,
// scratch folders, and writing and reading test images with OpenImageIO.
#pragma once

#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace cli_test {

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
struct ScratchDir {
  fs::path path;
  ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "veilmora-cli-XXXXXX").string();
    path = ::mkdtemp(templ.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  // The names of the files in the folder, hidden ones (temporary files) included.
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(path)) {
      result.push_back(entry.path().filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
  }
};

// Runs `program` with `args`; stdout and stderr are captured through files so a chatty child
// cannot block on a full pipe.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args) {
  ScratchDir capture;
  const std::string out_path = capture / "stdout", err_path = capture / "stderr";
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int null_in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(null_in, 0);
    std::vector<std::string> argv_strings;
    argv_strings.push_back(program);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

// Runs the built command.
inline RunResult run_cli(const std::vector<std::string>& args) {
  return run_program(VEILMORA_CLI_PATH, args);
}

// An image in memory: interleaved float samples in the file's nominal range (integers
// normalised to 0..1 as OpenImageIO does).
struct TestImage {
  int width = 0, height = 0, channels = 0;
  OIIO::TypeDesc format = OIIO::TypeDesc::UINT8;
  std::vector<float> samples;
  float& at(int x, int y, int c) {
    return samples[(static_cast<size_t>(y) * width + x) * channels + c];
  }
  float at(int x, int y, int c) const {
    return samples[(static_cast<size_t>(y) * width + x) * channels + c];
  }
};

inline TestImage make_image(int width, int height, int channels, OIIO::TypeDesc format,
                            const std::function<float(int x, int y, int c)>& value) {
  TestImage image{width, height, channels, format,
                  std::vector<float>(static_cast<size_t>(width) * height * channels)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) image.at(x, y, c) = value(x, y, c);
    }
  }
  return image;
}

// Writes with straight (unassociated) alpha, as the command reads it.
inline void write_image(const std::string& path, const TestImage& image) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, image.format);
  if (image.channels == 2 || image.channels == 4) {
    image_spec.alpha_channel = image.channels - 1;
    image_spec.attribute("oiio:UnassociatedAlpha", 1);
  }
  if (path.size() > 4 && path.substr(path.size() - 4) == ".jpg") {
    image_spec.attribute("Compression", "jpeg:90");
  }
  ASSERT_TRUE(out->open(path, image_spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, image.samples.data())) << out->geterror();
  ASSERT_TRUE(out->close()) << out->geterror();
}

// Reads the file's samples as floats (integers normalised), alpha as stored; `file_format`
// is the file's own sample type.
inline TestImage read_image(const std::string& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  TestImage image;
  if (!in) {
    ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
    return image;
  }
  const OIIO::ImageSpec& image_spec = in->spec();
  image.width = image_spec.width;
  image.height = image_spec.height;
  image.channels = image_spec.nchannels;
  image.format = image_spec.format;
  image.samples.resize(static_cast<size_t>(image_spec.width) * image_spec.height *
                       image_spec.nchannels);
  EXPECT_TRUE(
      in->read_image(0, 0, 0, image_spec.nchannels, OIIO::TypeDesc::FLOAT, image.samples.data()))
      << in->geterror();
  return image;
}

// The worst difference between two images of the same shape, in file steps of `scale`
// (255 for 8-bit, 65535 for 16-bit, 1 for float).
inline double max_difference(const TestImage& a, const TestImage& b, double scale) {
  EXPECT_EQ(a.samples.size(), b.samples.size());
  double worst = 0;
  for (size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i) {
    worst = std::max(worst, std::abs(static_cast<double>(a.samples[i]) - b.samples[i]) * scale);
  }
  return worst;
}

// A reproducible pseudo-random value in [0, 1) for pixel (x, y) channel c.
inline float noise(int x, int y, int c, uint32_t seed = 1) {
  uint32_t h = seed * 0x9E3779B9u ^ (static_cast<uint32_t>(x) * 0x85EBCA6Bu) ^
               (static_cast<uint32_t>(y) * 0xC2B2AE35u) ^ (static_cast<uint32_t>(c) * 0x27D4EB2Fu);
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return static_cast<float>(h >> 8) / 16777216.0f;
}

// CRC-32 as PNG uses it (polynomial 0xEDB88320), for hand-made chunks.
inline uint32_t png_crc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

inline std::string png_chunk(const std::string& type, const std::string& data) {
  return be32(static_cast<uint32_t>(data.size())) + type + data + be32(png_crc(type + data));
}

// A well-formed PNG header claiming width x height RGBA pixels, with a token of image data:
// what a hostile or damaged file looks like to a reader before it decodes anything.
inline std::string png_claiming(uint32_t width, uint32_t height) {
  const std::string signature("\x89PNG\r\n\x1a\n", 8);
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x06\x00\x00\x00", 5);
  const std::string idat("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
  return signature + png_chunk("IHDR", ihdr) + png_chunk("IDAT", idat) + png_chunk("IEND", "");
}

}  // namespace cli_test
