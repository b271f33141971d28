// `veilmora render`: one image, or a sequence of frames rendered by a pool of threads against
// one module instance, each frame read whole, rendered, and written through a temporary file.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "cli/cli_error.h"
#include "cli/colour_space.h"
#include "cli/commands.h"
#include "cli/frame_chunk.h"
#include "cli/frame_pattern.h"
#include "cli/image_files.h"
#include "cli/module_session.h"
#include "cli/progress_display.h"

namespace fs = std::filesystem;

namespace {

constexpr PF_ParamIndex kIrisLayer = 9;

struct FrameJob {
  int frame = 0;
  std::string input;
  std::string output;
};

FramePattern require_pattern(const std::string& path, const char* which) {
  std::optional<FramePattern> pattern = parse_frame_pattern(path);
  if (!pattern) {
    throw bad_input(std::string("--frames needs ") + which +
                    " to be a file name pattern with a frame field (%04d or ####): " + path);
  }
  return *pattern;
}

std::vector<FrameJob> plan_frames(const RenderOptions& options) {
  if (!options.frames) {
    std::error_code ec;
    if (!fs::exists(options.input, ec)) {
      // A pattern given without --frames is most likely a forgotten option.
      std::optional<FramePattern> pattern;
      try {
        pattern = parse_frame_pattern(options.input);
      } catch (const CliError&) {
      }
      if (pattern) {
        throw bad_input("input " + options.input +
                        ": no such file (to render a sequence, give --frames A-B)");
      }
    }
    return {{0, options.input, options.output}};
  }
  const FramePattern in = require_pattern(options.input, "INPUT");
  const FramePattern out = require_pattern(options.output, "OUTPUT");
  std::optional<FrameRange> range = *options.frames;
  if (options.chunk) range = chunk_frames(*options.frames, *options.chunk);
  std::vector<FrameJob> jobs;
  if (!range) return jobs;  // more chunks than frames: this one has none
  for (int f = range->first; f <= range->last; ++f) {
    jobs.push_back({f, frame_path(in, f), frame_path(out, f)});
  }
  return jobs;
}

// Outputs appear only complete (see safe_output.h), so an existing output is a finished
// frame; whatever is there is left alone, its input is not even looked at.
void drop_finished_frames(std::vector<FrameJob>& jobs) {
  std::erase_if(jobs, [](const FrameJob& job) {
    std::error_code ec;
    return fs::exists(job.output, ec);
  });
}

// Everything that can be checked without reading pixels, before any frame is rendered, so a
// missing frame 57 does not surface after 56 frames of work.
void precheck(const std::vector<FrameJob>& jobs) {
  std::set<std::string> checked_folders;
  for (const FrameJob& job : jobs) {
    std::error_code ec;
    if (!fs::exists(job.input, ec)) throw bad_input("input " + job.input + ": no such file");
    const std::string folder = fs::path(job.output).parent_path().string();
    if (checked_folders.insert(folder).second) check_output_file(job.output);
  }
}

std::string format_ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

}  // namespace

int run_render(const RenderOptions& options) {
  std::vector<FrameJob> jobs = plan_frames(options);
  if (options.skip_existing) drop_finished_frames(jobs);
  if (jobs.empty()) return kExitSuccess;
  precheck(jobs);
  const unsigned threads =
      static_cast<unsigned>(std::min<size_t>(options.jobs, std::max<size_t>(jobs.size(), 1)));

  std::shared_ptr<const hostsim::World> iris;
  if (options.iris_layer) {
    LoadedImage loaded = read_image_file(*options.iris_layer, "iris layer", std::nullopt);
    if (loaded.non_finite_samples > 0) {
      std::cerr << "veilmora: warning: iris layer " << *options.iris_layer << ": "
                << loaded.non_finite_samples << " samples are NaN or infinite; they are used as 0"
                << std::endl;
    }
    iris = world_from_image(loaded.image);
  }

  // The whole range's length, also for a chunk or a rerun, so every part of a sequence is
  // rendered with the same sequence settings as an uninterrupted local render.
  const int total_frames = options.frames ? options.frames->last + 1 : 1;
  ModuleSession session =
      open_session(options.plugin, options.values.downsample, total_frames, options.host);
  apply_values(*session.instance, options.values);
  session.instance->set_layer(kIrisLayer, iris);
  if (!options.inject_failure_name.empty()) {
    hostsim::reset_calls();
    hostsim::inject_failure({options.inject_failure_name, options.inject_failure_k});
  }

  std::optional<LinearLight> linear_light;
  if (options.linear) linear_light.emplace(options.colorspace);

  ProgressDisplay display(static_cast<int>(jobs.size()), !options.quiet && ::isatty(STDERR_FILENO));

  auto render_one = [&](const FrameJob& job) {
    display.frame_started(job.frame);
    // Linear light is rendered in float whatever the file's depth; the output gets the
    // input's depth back (or --depth).
    LoadedImage loaded = read_image_file(
        job.input, "input", options.linear ? std::optional(RenderDepth::kFloat) : options.depth,
        threads);
    if (loaded.non_finite_samples > 0) {
      display.print_message("veilmora: warning: input " + job.input + ": " +
                            std::to_string(loaded.non_finite_samples) +
                            " samples are NaN or infinite; they are rendered as 0");
    }
    check_output_file(job.output);
    if (options.region) {
      check_region_inside(*options.region, loaded.image.width, loaded.image.height);
    }
    if (options.host == HostKind::premiere && loaded.image.depth == RenderDepth::kFloat) {
      throw bad_input("--host premiere: Premiere Pro hands effects 8-bit and 16-bit pictures "
                      "only; " + job.input + " would render in float (give --depth 8 or 16)");
    }
    std::optional<std::string> encoded_space;
    if (linear_light) {
      std::string space = linear_light->input_space(loaded);
      if (!linear_light->is_linear(space)) {
        linear_light->decode(loaded.image, space, "input", job.input);
        encoded_space = std::move(space);
      }
    }
    std::unique_ptr<hostsim::World> input = world_from_image(loaded.image);
    std::vector<unsigned char>().swap(loaded.image.pixels);  // the world holds them now
    hostsim::World output(input->format(), input->width(), input->height());
    FrameTiming timing = render_frame(
        *session.instance, *input, output, job.frame,
        [&](int32_t current, int32_t total) { display.frame_progress(job.frame, current, total); },
        options.region);
    input.reset();
    HostImage result =
        options.region ? image_from_world(output, *options.region) : image_from_world(output);
    if (encoded_space) linear_light->encode(result, *encoded_space, "input", job.input);
    write_image_file(job.output, result, loaded.layout,
                     output_sample_type(loaded.layout, options.depth));
    display.frame_finished(job.frame);
    if (options.timing) {
      const char* command = options.host == HostKind::premiere ? "render" : "smart render";
      display.print_line("frame " + std::to_string(job.frame) + ": " + command + " " +
                         format_ms(timing.render_ms) + " ms");
    }
  };

  // Frames are independent: each worker takes the next frame, runs its pre-render and render
  // on its own thread, and stops taking frames once any frame failed.
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex error_mutex;
  std::optional<std::pair<size_t, CliError>> first_error;
  auto worker = [&] {
    while (!failed.load()) {
      const size_t i = next.fetch_add(1);
      if (i >= jobs.size()) break;
      std::optional<CliError> error;
      try {
        render_one(jobs[i]);
      } catch (const CliError& e) {
        error = e;
      } catch (const std::exception& e) {
        error = CliError(kExitModuleFailure,
                         "frame " + std::to_string(jobs[i].frame) + ": " + e.what());
      }
      if (error) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!first_error || i < first_error->first) first_error.emplace(i, *error);
        failed.store(true);
      }
    }
  };
  if (threads <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }
  display.clear();
  if (first_error) throw first_error->second;
  close_session(session);
  return kExitSuccess;
}
