// The frei0r filter run by the real tools that load it, ffmpeg and melt, on pictures written
// to files: every frame they produce equals the veilmora command's render of the same picture
// with the same parameters (the module through the stand-in host), byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frei0r_test_support.h"
#include "test_cli_support.h"

namespace {

using cli_test::RunResult;
using cli_test::ScratchDir;
using frei0r_test::Frame;
using frei0r_test::pattern_frame;
using frei0r_test::Setting;
using frei0r_test::settings;

const char* const kFfmpeg = "/usr/bin/ffmpeg";
const char* const kMelt = "/usr/bin/melt";

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// Straight (unassociated) 8-bit RGBA, as the files hold it.
void write_png(const std::string& path, const Frame& frame) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  OIIO::ImageSpec image_spec(frame.width, frame.height, 4, OIIO::TypeDesc::UINT8);
  image_spec.alpha_channel = 3;
  image_spec.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path, image_spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, frame.bytes())) << out->geterror();
  ASSERT_TRUE(out->close()) << out->geterror();
}

Frame read_png(const std::string& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
    return Frame(0, 0);
  }
  const OIIO::ImageSpec& image_spec = in->spec();
  EXPECT_EQ(image_spec.nchannels, 4) << path;
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT8) << path;
  Frame frame(image_spec.width, image_spec.height);
  if (image_spec.nchannels == 4) {
    EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, frame.bytes())) << in->geterror();
  }
  return frame;
}

// The command's options for a setting, in the effect's units.
std::vector<std::string> command_options(const Setting& s) {
  return {"--radius",
          number(s.radius),
          "--weight",
          number(s.weight),
          "--specular-brightness",
          number(s.brightness),
          "--specular-threshold",
          std::to_string(s.threshold),
          "--shape",
          s.shape_choice == 1 ? "circle" : "polygon",
          "--edges",
          std::to_string(s.edges),
          "--phase",
          number(s.phase_degrees),
          "--outside",
          s.outside_choice == 1 ? "mirror" : "edge",
          "--quiet"};
}

Frame command_render(const ScratchDir& dir, const std::string& input, const Setting& s) {
  const std::string output = dir / "reference.png";
  std::vector<std::string> args = {"render", input, output};
  for (const std::string& option : command_options(s)) args.push_back(option);
  const RunResult run = cli_test::run_cli(args);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return read_png(output);
}

// ffmpeg's frei0r filter takes the eight values in their order, separated by '|'.
std::string ffmpeg_filter(const Setting& s) {
  return "frei0r=filter_name=veilmora:filter_params=" + number(s.radius01) + "|" +
         number(s.weight01) + "|" + number(s.brightness01) + "|" + number(s.threshold01) + "|" +
         s.shape + "|" + number(s.edges01) + "|" + number(s.phase01) + "|" + s.outside;
}

// Sets an environment variable for the lifetime of the object, then puts back what was there.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    had_ = std::getenv(name) != nullptr;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (had_) {
      ::setenv(name_, previous_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::string previous_;
  bool had_ = false;
};

// The tools find the filter through FREI0R_PATH, the folder the build puts it in. In a
// sanitized build the filter is instrumented and the tools are not: they get the sanitizer's
// runtime preloaded, with leak checks off for them (their own leaks are not the filter's).
RunResult run_tool(const char* tool, const std::vector<std::string>& args) {
  const ScopedEnvironment path("FREI0R_PATH", VEILMORA_FREI0R_DIR);
#ifdef VEILMORA_TOOL_PRELOAD
  const char* options = std::getenv("ASAN_OPTIONS");
  const ScopedEnvironment preload("LD_PRELOAD", VEILMORA_TOOL_PRELOAD);
  const ScopedEnvironment asan("ASAN_OPTIONS",
                               std::string(options != nullptr ? options : "") + ":detect_leaks=0");
#endif
  return cli_test::run_program(tool, args);
}

// Debian 12's ffmpeg hands a frei0r filter its frames with the rows padded to 64 bytes, so its
// pictures here are 16 pixels wide or a multiple of that; melt takes any width.
constexpr int kFfmpegWidth = 528;  // with a radius of 18.75, two tiles of 512 across
constexpr int kFfmpegHeight = 77;

TEST(Frei0rFfmpeg, APictureEqualsTheCommandsRenderForEverySetting) {
  ScratchDir dir;
  const std::string input = dir / "picture.png";
  const Frame picture = pattern_frame(kFfmpegWidth, kFfmpegHeight, 4);
  write_png(input, picture);
  for (const Setting& s : settings()) {
    SCOPED_TRACE(s.label);
    const std::string output = dir / "ffmpeg.png";
    const RunResult run = run_tool(
        kFfmpeg, {"-hide_banner", "-loglevel", "error", "-y", "-i", input, "-vf", ffmpeg_filter(s),
                  "-pix_fmt", "rgba", "-frames:v", "1", "-update", "1", output});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Frame rendered = read_png(output);
    EXPECT_TRUE(rendered == command_render(dir, input, s));
    EXPECT_FALSE(rendered == picture);
  }
}

TEST(Frei0rFfmpeg, EveryFrameOfAClipInALosslessCodecEqualsTheCommandsRender) {
  ScratchDir dir;
  constexpr int kFrames = 4;
  for (int f = 1; f <= kFrames; ++f) {
    write_png(dir / ("frame" + std::to_string(f) + ".png"),
              pattern_frame(kFfmpegWidth, kFfmpegHeight, 40u + f));
  }
  for (const Setting& s : {settings()[0], settings()[3]}) {
    SCOPED_TRACE(s.label);
    const std::string clip = dir / "clip.mkv";
    RunResult run = run_tool(kFfmpeg, {"-hide_banner", "-loglevel", "error", "-y", "-framerate",
                                       "25", "-i", dir / "frame%d.png", "-vf", ffmpeg_filter(s),
                                       "-c:v", "ffv1", "-pix_fmt", "bgra", clip});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    run = run_tool(kFfmpeg, {"-hide_banner", "-loglevel", "error", "-y", "-i", clip, "-pix_fmt",
                             "rgba", dir / "decoded%d.png"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (int f = 1; f <= kFrames; ++f) {
      const std::string name = dir / ("decoded" + std::to_string(f) + ".png");
      ASSERT_TRUE(std::filesystem::exists(name)) << "frame " << f << " missing";
      EXPECT_TRUE(read_png(name) ==
                  command_render(dir, dir / ("frame" + std::to_string(f) + ".png"), s))
          << "frame " << f;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / ("decoded" + std::to_string(kFrames + 1) + ".png")));
  }
}

// melt renders in the frame size of its profile: one written for the picture, square pixels.
std::string write_profile(const ScratchDir& dir, int w, int h) {
  const std::string path = dir / "profile";
  cli_test::write_file(path,
                       "description=picture\nframe_rate_num=25\nframe_rate_den=1\n"
                       "width=" +
                           std::to_string(w) + "\nheight=" + std::to_string(h) +
                           "\nprogressive=1\nsample_aspect_num=1\nsample_aspect_den=1\n"
                           "display_aspect_num=" +
                           std::to_string(w) + "\ndisplay_aspect_den=" + std::to_string(h) +
                           "\ncolorspace=709\n");
  return path;
}

// melt with the filter and its parameters by name; `source` names the picture's producer
// (and the profile, when one is given).
Frame melt_render(const ScratchDir& dir, const std::vector<std::string>& source, const Setting& s) {
  const std::string output = dir / "melt.png";
  std::vector<std::string> args = source;
  const std::vector<std::string> filter = {"-silent",
                                           "in=0",
                                           "out=0",
                                           "-filter",
                                           "frei0r.veilmora",
                                           "Radius=" + number(s.radius01),
                                           "Weight=" + number(s.weight01),
                                           "Specular Brightness=" + number(s.brightness01),
                                           "Specular Threshold=" + number(s.threshold01),
                                           std::string("Shape=") + s.shape,
                                           "Edges=" + number(s.edges01),
                                           "Phase=" + number(s.phase01),
                                           std::string("Outside=") + s.outside,
                                           "-consumer",
                                           "avformat:" + output,
                                           "vcodec=png",
                                           "pix_fmt=rgba",
                                           "update=1",
                                           "real_time=0"};
  args.insert(args.end(), filter.begin(), filter.end());
  // melt 7.12 can end before its consumer has written the one frame of so short a run (seen
  // on a loaded machine: exit 0 and no file). Such a run is tried again, at most three times;
  // the old output is removed first so that it can never stand in for a frame not written.
  std::filesystem::remove(output);
  for (int attempt = 0; attempt < 3 && !std::filesystem::exists(output); ++attempt) {
    const RunResult run = run_tool(kMelt, args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
  }
  return read_png(output);
}

TEST(Frei0rMelt, APictureWithParametersByNameEqualsTheCommandsRender) {
  ScratchDir dir;
  // Neither width nor height a multiple of 8.
  const int w = 97, h = 61;
  const std::string input = dir / "picture.png";
  const Frame picture = pattern_frame(w, h, 9);
  write_png(input, picture);
  const std::string profile = write_profile(dir, w, h);
  for (const Setting& s : settings()) {
    SCOPED_TRACE(s.label);
    const Frame rendered = melt_render(dir, {"-profile", profile, "avformat:" + input}, s);
    EXPECT_TRUE(rendered == command_render(dir, input, s));
    EXPECT_FALSE(rendered == picture);
  }
  // Without a profile, melt takes its frame size from what ffmpeg's decoder reports.
  for (const Setting& s : {settings()[1], settings()[2]}) {
    SCOPED_TRACE(std::string("no profile ") + s.label);
    EXPECT_TRUE(melt_render(dir, {"avformat:" + input}, s) == command_render(dir, input, s));
  }
#ifndef VEILMORA_TOOL_PRELOAD
  // MLT's own image reader (gdk-pixbuf). Not in a sanitized tree: with the sanitizer's
  // runtime preloaded it hangs before any frame, with or without a filter.
  for (const Setting& s : {settings()[0], settings()[3]}) {
    SCOPED_TRACE(std::string("pixbuf ") + s.label);
    EXPECT_TRUE(melt_render(dir, {"-profile", profile, "pixbuf:" + input}, s) ==
                command_render(dir, input, s));
  }
#endif
}

}  // namespace
