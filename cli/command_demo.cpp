// `veilmora demo OUTPUT_DIR`: writes the generated night scene and a star iris, renders the
// scene with a circle, a hexagon and the star as iris, and says where the pictures are.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <utility>
#include <vector>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/demo_scene.h"
#include "cli/image_files.h"
#include "cli/module_session.h"
#include "cli/progress_display.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kSceneWidth = 640;
constexpr int32_t kSceneHeight = 360;
constexpr int32_t kIrisSize = 64;
constexpr PF_ParamIndex kIrisLayer = 9;

struct DemoRender {
  const char* file;
  const char* description;
  EffectValues values;
  bool star_iris;
};

}  // namespace

int run_demo(const std::string& output_dir, const std::string& plugin, bool quiet) {
  std::error_code ec;
  fs::create_directories(output_dir, ec);
  if (ec || !fs::is_directory(output_dir)) {
    throw bad_input("demo folder " + output_dir + ": cannot be created" +
                    (ec ? ": " + ec.message() : ""));
  }
  const fs::path dir(output_dir);
  const FileLayout rgba8{3, true, FileSampleType::kUint8};

  const HostImage scene = make_night_scene(kSceneWidth, kSceneHeight, RenderDepth::k8);
  const HostImage star = make_star_iris(kIrisSize, RenderDepth::k8);
  write_image_file((dir / "scene.png").string(), scene, rgba8, FileSampleType::kUint8);
  write_image_file((dir / "iris-star.png").string(), star, rgba8, FileSampleType::kUint8);

  // Highlights boosted and weighted strongly so the lights bloom into clear iris shapes.
  EffectValues base;
  base.radius = 12.0;
  base.weight = 3.0;
  base.specular_brightness = 1.5;
  base.specular_threshold = 200;
  EffectValues hexagon = base;
  hexagon.shape = 2;
  hexagon.edges = 6;
  hexagon.phase = 30 * 65536;  // a flat top, as most lens irises show
  EffectValues layer = base;
  layer.shape = 3;
  const DemoRender renders[] = {
      {"circle.png", "circle iris", base, false},
      {"hexagon.png", "hexagon iris (polygon, 6 edges)", hexagon, false},
      {"layer.png", "star iris (the layer iris-star.png)", layer, true},
  };

  ModuleSession session = open_session(plugin, base.downsample, 1);
  std::unique_ptr<hostsim::World> input = world_from_image(scene);
  std::shared_ptr<const hostsim::World> star_world = world_from_image(star);
  ProgressDisplay display(3, !quiet && ::isatty(STDERR_FILENO));
  int frame = 0;
  for (const DemoRender& demo : renders) {
    apply_values(*session.instance, demo.values);
    session.instance->set_layer(kIrisLayer, demo.star_iris ? star_world : nullptr);
    hostsim::World output(input->format(), input->width(), input->height());
    display.frame_started(frame);
    render_frame(*session.instance, *input, output, 0, [&](int32_t current, int32_t total) {
      display.frame_progress(frame, current, total);
    });
    display.frame_finished(frame);
    write_image_file((dir / demo.file).string(), image_from_world(output), rgba8,
                     FileSampleType::kUint8);
    ++frame;
  }
  display.clear();
  close_session(session);

  std::vector<std::pair<std::string, std::string>> listing = {
      {(dir / "scene.png").string(), "the generated scene (night lights)"},
      {(dir / "iris-star.png").string(), "the iris image of the layer iris"}};
  for (const DemoRender& demo : renders) {
    listing.emplace_back((dir / demo.file).string(), demo.description);
  }
  size_t width = 0;
  for (const auto& [path, what] : listing) width = std::max(width, path.size());
  std::cout << "Demo pictures in " << output_dir << ":\n";
  for (const auto& [path, what] : listing) {
    std::cout << "  " << path << std::string(width + 2 - path.size(), ' ') << what << "\n";
  }
  return kExitSuccess;
}
