// veilmora-wintest MODULE OUTPUT_FOLDER: the Windows build of the stand-in host loading the
// Windows module as a host does (LoadLibrary, the "PIPL" resource, the entry function by the
// name the PiPL gives) and running the whole command protocol and the render cases. It writes
//   protocol.txt         the transcript of the commands and frames
//   scene-<format>.raw   the generated input scene, as handed to the module
//   <case>.raw           each rendered frame
// for the Linux test to compare with the Linux module. Exit code 0 when every command
// answered 0 and nothing leaked, 1 otherwise, 2 for a wrong command line.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "wintest/raw_image.h"
#include "wintest/session.h"

namespace fs = std::filesystem;

namespace {

int run(const std::string& module_path, const fs::path& folder) {
  std::unique_ptr<hostsim::Module> module = hostsim::load_module(module_path);
  const hostsim::PiplProperty* name = module->pipl.find(hostsim::kPiplKeyName);
  std::cout << "loaded " << module_path << ": effect \""
            << (name ? name->as_short_string() : std::string("?")) << "\", entry "
            << module->entry_name << "\n";

  fs::create_directories(folder);
  for (PF_PixelFormat format :
       {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    wintest::write_raw(
        (folder / ("scene-" + std::string(wintest::format_tag(format)) + ".raw")).string(),
        *wintest::make_scene(format));
  }

  const wintest::SessionResult session = wintest::run_session(*module);
  // Binary, so the lines end in '\n' as on Linux.
  std::ofstream transcript(folder / "protocol.txt", std::ios::binary | std::ios::trunc);
  for (const std::string& line : session.transcript) {
    transcript << line << '\n';
    std::cout << line << '\n';
  }
  if (!transcript.flush())
    throw std::runtime_error((folder / "protocol.txt").string() + ": write failed");

  const std::vector<wintest::RenderCase> cases = wintest::render_cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    if (session.outputs[i])
      wintest::write_raw((folder / (cases[i].name + ".raw")).string(), *session.outputs[i]);
  }
  std::cout << (session.ok ? "all commands succeeded\n" : "some commands failed\n");
  return session.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: veilmora-wintest MODULE OUTPUT_FOLDER\n";
    return 2;
  }
  try {
    return run(argv[1], fs::path(argv[2]));
  } catch (const std::exception& e) {
    std::cerr << "veilmora-wintest: " << e.what() << "\n";
    return 1;
  }
}
