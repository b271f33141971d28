// The veilmora command: renders image files and sequences through the Veilmora effect module,
// driven by the stand-in host, and reports what the module says about itself.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/render_options.h"
#include "cli/safe_output.h"

namespace {

int run(int argc, char** argv) {
  CLI::App app{"Renders image files and image sequences through the Veilmora defocus effect.",
               "veilmora"};
  app.set_version_flag("--version", std::string("veilmora ") + VEILMORA_VERSION,
                       "print the version and exit");
  app.require_subcommand(1);
  app.fallthrough(false);

  RenderArgs args;
  CLI::App* render = app.add_subcommand("render", "Render INPUT into OUTPUT through the effect.");
  render
      ->add_option("INPUT", args.input, "Input image, or a pattern with %04d or #### and --frames")
      ->required();
  render
      ->add_option("OUTPUT", args.output, "Output image or pattern; its extension picks the format")
      ->required();
  render->add_option("--radius", args.radius, "\"Radius\", 0 to 300 (default 0: a plain copy)");
  render->add_option("--weight", args.weight, "\"Weight\", 0 to 10 (default 2)");
  render->add_option("--specular-brightness", args.specular_brightness,
                     "\"Specular Brightness\", 1.0 to 1.5 (default 1.0)");
  render->add_option("--specular-threshold", args.specular_threshold,
                     "\"Specular Threshold\", 0 to 255 (default 255)");
  render->add_option("--shape", args.shape, "circle|polygon|layer (default circle)");
  render->add_option("--edges", args.edges, "\"Edges\" of the polygon, 3 to 16 (default 8)");
  render->add_option("--phase", args.phase, "\"Phase\" in degrees, any angle (default 0)");
  render->add_option("--iris-layer", args.iris_layer,
                     "the image used as the iris with --shape layer");
  render->add_option("--outside", args.outside, "mirror|edge (default mirror)");
  render->add_option("--downsample", args.downsample,
                     "NUM/DEN: the horizontal downsample ratio the host reports (default 1/1)");
  render->add_option(
      "--depth", args.depth,
      "8|16|float: pixel format of the render and the output (default: the input's)");
  render->add_option("--frames", args.frames, "A-B: render frames A to B of INPUT/OUTPUT patterns");
  render->add_option("--chunk", args.chunk,
                     "K/N: render only the K-th of N equal consecutive parts of --frames");
  render->add_flag("--skip-existing", args.skip_existing,
                   "leave frames whose output file exists as they are");
  render->add_flag("--linear", args.linear,
                   "decode sRGB-encoded inputs to linear light, render in float, encode back");
  render->add_option("--colorspace", args.colorspace,
                     "with --linear: the input's colour space where the file does not say it");
  render->add_option("--region", args.region,
                     "X,Y,W,H: render only this rectangle of the picture (the output holds it)");
  render->add_option("--host", args.host,
                     "after-effects|premiere: the host the command plays (default after-effects: "
                     "smart render; premiere: the classic render command)");
  render->add_option("--jobs", args.jobs, "frames rendered at once (default: number of cores)");
  render->add_option("--plugin", args.plugin,
                     "the module to load (default: Veilmora.so beside veilmora, else "
                     "../lib/veilmora/Veilmora.so from its folder)");
  render->add_option("--inject-failure", args.inject_failure)->group("");  // tests only
  render->add_flag("--timing", args.timing,
                   "print \"frame F: smart render T ms\" per frame (\"render\" with --host premiere)");
  render->add_flag("--quiet", args.quiet, "no progress bar");

  std::string plugin;
  CLI::App* about = app.add_subcommand("about", "Print the module's About text.");
  about->add_option("--plugin", plugin, "the module to load");
  CLI::App* info = app.add_subcommand(
      "info", "Print the module's PiPL and whether it matches what global setup reports.");
  info->add_option("--plugin", plugin, "the module to load");
  CLI::App* params = app.add_subcommand("params", "Print the parameters the module declares.");
  params->add_option("--plugin", plugin, "the module to load");
  std::string demo_dir;
  bool demo_quiet = false;
  CLI::App* demo = app.add_subcommand(
      "demo", "Write a generated night scene and render it with circle, hexagon and star irises.");
  demo->add_option("OUTPUT_DIR", demo_dir, "folder for the pictures (created if missing)")
      ->required();
  demo->add_option("--plugin", plugin, "the module to load");
  demo->add_flag("--quiet", demo_quiet, "no progress bar");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "veilmora: " << e.what() << " (see veilmora --help)\n";
    return kExitBadInput;
  }

  if (*render) return run_render(validate_render_args(args));
  if (*about) return run_about(plugin);
  if (*info) return run_info(plugin);
  if (*params) return run_params(plugin);
  if (*demo) return run_demo(demo_dir, plugin, demo_quiet);
  return kExitBadInput;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// A reader that fails mid-file inside OpenImageIO unwinds past its own cleanup and leaks a few
// bytes; that is the library's, not ours, and must not fail a sanitizer run of the command.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOpenImageIO.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

int main(int argc, char** argv) {
  install_temp_file_cleanup();
  try {
    return run(argc, argv);
  } catch (const CliError& e) {
    std::cout.flush();
    std::cerr << "veilmora: " << e.what() << "\n";
    return e.exit_code;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "veilmora: unexpected failure: " << e.what() << "\n";
    return kExitModuleFailure;
  }
}
