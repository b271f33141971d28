// The subcommands of the veilmora command. Each returns the exit code or throws a CliError.
#pragma once

#include <string>

#include "cli/render_options.h"

int run_render(const RenderOptions& options);
int run_about(const std::string& plugin);
int run_info(const std::string& plugin);
int run_params(const std::string& plugin);
int run_demo(const std::string& output_dir, const std::string& plugin, bool quiet);
