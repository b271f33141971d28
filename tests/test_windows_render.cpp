// The Windows module at work: the Windows test program (wintest/) ran it under wine (the
// windows_wine_run test, this program's fixture) and left its transcript and pictures in a
// folder; here the same session runs against the Linux module and the two are compared.
// Both builds compute in double precision from the same source, but where a step goes
// through the C library (pow, log, cos, ...) mingw-w64's and glibc's results may differ in
// the last bit. 8- and 16-bit channels may then be one unit apart and float channels a
// millionth relative; anything more is a fault. (The highlight weighting multiplies bright
// values by up to 1e8 before the transforms, so a last-bit difference there reaches dim
// float pixels near highlights as far more than a millionth: only results computed the same
// way on both platforms pass in float.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "hostsim/hostsim.h"
#include "wintest/raw_image.h"
#include "wintest/session.h"

namespace {

constexpr char kRenders[] = VEILMORA_WINE_RENDERS;
constexpr char kLinuxModule[] = VEILMORA_LINUX_MODULE;

std::string render_file(const std::string& name) {
  return (std::filesystem::path(kRenders) / name).string();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    throw std::runtime_error(path +
                             " is missing: the windows_wine_run test writes it (run it first)");
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

wintest::SessionResult linux_session() {
  const auto module = hostsim::load_module(kLinuxModule);
  return wintest::run_session(*module);
}

struct Difference {
  double largest = 0;  // units for 8/16-bit, relative for float
  double largest_absolute = 0;
  int64_t channels_differing = 0;
  int64_t channels_out_of_tolerance = 0;
  std::string where;  // the first channel out of tolerance
};

// Channel by channel: integer formats in units (tolerance 1), float relative to the larger
// magnitude (tolerance 1e-6). Float values below a millionth of full scale are compared as
// if they had that magnitude: there, a relative measure would weigh rounding noise of the
// transforms around zero as if it were the picture.
Difference compare(const hostsim::World& windows, const hostsim::World& on_linux) {
  Difference d;
  const bool is_float = windows.format() == PF_PixelFormat_ARGB128;
  for (int32_t y = 0; y < windows.height(); ++y) {
    for (int32_t x = 0; x < windows.width(); ++x) {
      const hostsim::Pixel a = windows.read(x, y), b = on_linux.read(x, y);
      const double pa[4] = {a.alpha, a.red, a.green, a.blue};
      const double pb[4] = {b.alpha, b.red, b.green, b.blue};
      for (int c = 0; c < 4; ++c) {
        if (pa[c] == pb[c]) continue;
        ++d.channels_differing;
        const double diff =
            is_float ? std::abs(pa[c] - pb[c]) / std::max({std::abs(pa[c]), std::abs(pb[c]), 1e-6})
                     : std::abs(pa[c] - pb[c]);
        d.largest = std::max(d.largest, diff);
        d.largest_absolute = std::max(d.largest_absolute, std::abs(pa[c] - pb[c]));
        if (diff > (is_float ? 1e-6 : 1.0)) {
          if (d.channels_out_of_tolerance++ == 0) {
            // Appended, not `"(" + ...`: GCC 12 at -O3 warns of an overlap (-Wrestrict).
            for (const std::string& piece :
                 {std::string("("), std::to_string(x), std::string(", "), std::to_string(y),
                  std::string(") channel "), std::string(1, "ARGB"[c]),
                  std::string(": windows "), std::to_string(pa[c]), std::string(", linux "),
                  std::to_string(pb[c])})
              d.where += piece;
          }
        }
      }
    }
  }
  return d;
}

TEST(WindowsModuleUnderWine, AnswersEveryCommandAsTheLinuxModuleDoes) {
  const std::vector<std::string> windows = read_lines(render_file("protocol.txt"));
  const wintest::SessionResult on_linux = linux_session();
  EXPECT_TRUE(on_linux.ok);

  // The values the host must see, from the module's own description.
  ASSERT_FALSE(windows.empty());
  EXPECT_EQ(windows.front(),
            "global_setup err=0 my_version=0x00080601 out_flags=0x06000440 "
            "out_flags2=0x00001400 global_data=set");
  EXPECT_NE(std::find(windows.begin(), windows.end(),
                      "about err=0 message=Orvaneworks, v1.00\\rImagination!"),
            windows.end());
  EXPECT_NE(std::find(windows.begin(), windows.end(), "params_setup err=0 num_params=12"),
            windows.end());
  EXPECT_EQ(windows.back(), "host live_handles=0 handle_faults=0 outstanding_suites=0 faults=0");
  const auto frames = std::count_if(windows.begin(), windows.end(), [](const std::string& l) {
    return l.rfind("frame ", 0) == 0 && l.find(" pre_render=0 render=0 ") != std::string::npos;
  });
  EXPECT_EQ(frames, static_cast<long>(wintest::render_cases().size()));

  // And everything else the same as on Linux, line by line.
  ASSERT_EQ(windows.size(), on_linux.transcript.size());
  for (size_t i = 0; i < windows.size(); ++i) EXPECT_EQ(windows[i], on_linux.transcript[i]);
}

TEST(WindowsModuleUnderWine, GeneratesTheScenesTheLinuxTwinDoes) {
  // The generated input must match to the bit, so differences in the renders are the
  // module's own.
  for (PF_PixelFormat format :
       {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    const std::string tag = wintest::format_tag(format);
    SCOPED_TRACE(tag);
    const auto windows = wintest::read_raw(render_file("scene-" + tag + ".raw"));
    const auto on_linux = wintest::make_scene(format);
    ASSERT_EQ(windows->format(), format);
    ASSERT_EQ(windows->width(), on_linux->width());
    ASSERT_EQ(windows->height(), on_linux->height());
    const size_t bytes = static_cast<size_t>(on_linux->rowbytes()) * on_linux->height();
    EXPECT_EQ(std::memcmp(windows->effect_world()->data, on_linux->effect_world()->data, bytes), 0);
  }
}

TEST(WindowsModuleUnderWine, RendersEveryCaseAsTheLinuxModuleDoes) {
  const wintest::SessionResult on_linux = linux_session();
  const std::vector<wintest::RenderCase> cases = wintest::render_cases();
  ASSERT_EQ(on_linux.outputs.size(), cases.size());
  double largest_units = 0, largest_relative = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const wintest::RenderCase& c = cases[i];
    SCOPED_TRACE(c.name);
    ASSERT_NE(on_linux.outputs[i], nullptr) << "the Linux module failed this frame";
    std::unique_ptr<hostsim::World> windows;
    ASSERT_NO_THROW(windows = wintest::read_raw(render_file(c.name + ".raw")));
    ASSERT_EQ(windows->format(), c.format);
    ASSERT_EQ(windows->width(), on_linux.outputs[i]->width());
    ASSERT_EQ(windows->height(), on_linux.outputs[i]->height());

    const Difference d = compare(*windows, *on_linux.outputs[i]);
    const bool is_float = c.format == PF_PixelFormat_ARGB128;
    std::cout << c.name << ": " << d.channels_differing << " channels differ, largest " << d.largest
              << (is_float ? " relative" : " units") << " (absolute " << d.largest_absolute
              << ")\n";
    (is_float ? largest_relative : largest_units) =
        std::max(is_float ? largest_relative : largest_units, d.largest);
    EXPECT_EQ(d.channels_out_of_tolerance, 0) << "first: " << d.where;
  }
  std::cout << "largest difference: " << largest_units << " units (8/16-bit), " << largest_relative
            << " relative (float)\n";
}

}  // namespace
