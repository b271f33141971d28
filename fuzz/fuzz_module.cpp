// libFuzzer target for the effect module: one input is one applied instance driven through
// the stand-in host (setup, a few frames with parameter changes between them, setdown), with
// the host played (After Effects with smart rendering and requests for any part of the
// layer, or Premiere Pro with the classic render command), the world sizes, row padding,
// pixel formats and contents, parameter values (inside and outside their declared ranges),
// iris shape and layer, cancel points and injected host failures all taken from the input.
//
// After every command the host's books must balance: every handle made for the command is
// disposed (only the global and sequence data outlive a command), every suite acquired is
// released, no handle is left locked, and the host saw no misuse. The output's row padding
// must be untouched and a successful render must leave only pixels in the format's range
// (finite floats, alpha at most full scale). Any breach aborts, so libFuzzer reports it with
// the input that caused it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"

#ifndef VEILMORA_MODULE_PATH
#error "VEILMORA_MODULE_PATH must name the built module"
#endif

namespace {

enum : PF_ParamIndex {
  kRadius = 1,
  kWeight = 2,
  kSpecularBrightness = 3,
  kSpecularThreshold = 4,
  kShape = 6,
  kEdges = 7,
  kPhase = 8,
  kIrisLayer = 9,
  kOutside = 11,
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Host calls a failure can be injected into: every failable call the module makes, plain
// and with the qualifiers that single out one suite or one parameter.
const char* const kFailableCalls[] = {
    "host_new_handle",
    "host_lock_handle",
    "host_unlock_handle",
    "host_dispose_handle",
    "host_get_handle_size",
    "AcquireSuite",
    "ReleaseSuite",
    "AcquireSuite:PF World Suite",
    "ReleaseSuite:PF World Suite",
    "AcquireSuite:PF Handle Suite",
    "checkout_param",
    "checkout_param:9",
    "checkin_param",
    "add_param",
    "abort",
    "progress",
    "copy",
    "sprintf",
    "strcpy",
    "checkout_layer",
    "checkout_layer_pixels",
    "checkout_output",
    "subpixel_sample",
    "subpixel_sample16",
    "subpixel_sample_float",
    "PF_GetPixelFormat",
    "PF_UpdateParamUI",
    "PF_GetCurrentState",
    "PF_HasParamChanged",
    "AEGP_RegisterWithAEGP",
};

const PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                   PF_PixelFormat_ARGB128};
const PF_PixelFormat kClassicFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64};

// VEILMORA_FUZZ_VERBOSE=1 prints what each input does, for reading a finding.
bool verbose() {
  static const bool on = std::getenv("VEILMORA_FUZZ_VERBOSE") != nullptr;
  return on;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_module: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

hostsim::Module& module() {
  static std::unique_ptr<hostsim::Module> loaded = hostsim::load_module(VEILMORA_MODULE_PATH);
  return *loaded;
}

// A value usually drawn from [low, high], now and then one of `outliers`.
double pick_double(FuzzedDataProvider& in, double low, double high,
                   const std::vector<double>& outliers) {
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    return outliers[in.ConsumeIntegralInRange<size_t>(0, outliers.size() - 1)];
  }
  return low + (high - low) * in.ConsumeProbability<double>();
}

int32_t pick_int(FuzzedDataProvider& in, int32_t low, int32_t high,
                 const std::vector<int32_t>& outliers) {
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    return outliers[in.ConsumeIntegralInRange<size_t>(0, outliers.size() - 1)];
  }
  return in.ConsumeIntegralInRange<int32_t>(low, high);
}

// The blur radius. Most inputs stay at small radii (tile size 256 for small worlds); a
// radius that needs 1024 tiles costs a hundred times more, so only a rare input gets one.
double pick_radius(FuzzedDataProvider& in) {
  const int kind = in.ConsumeIntegralInRange<int>(0, 255);
  if (kind < 200) return 24.0 * in.ConsumeProbability<double>();
  if (kind < 240) {
    const double special[] = {0.0, 0.5, 1.0, 1e-300, 2.0, -1.0, -1e-9, kNaN, kInf, -kInf};
    return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
  }
  if (kind < 252) return 150.0 * in.ConsumeProbability<double>();
  // Tile sizes 512 and 1024 at their boundary, the top of the range and far beyond it
  // (held at the top by the module).
  const double rare[] = {99.99, 150.0, 150.5, 300.0, 1e9, 1e300};
  if (kind < 254) return rare[in.ConsumeIntegralInRange<size_t>(0, std::size(rare) - 1)];
  return 300.0 * in.ConsumeProbability<double>();
}

// Special channel values a float pixel may hold.
float special_float(FuzzedDataProvider& in) {
  const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(),
                          FLT_MAX,
                          -FLT_MAX,
                          1e30f,
                          -1e30f,
                          -1.0f,
                          FLT_MIN,
                          std::numeric_limits<float>::denorm_min(),
                          0.0f,
                          -0.0f,
                          1.0f,
                          4.0f,
                          1e-5f,
                          65504.0f};
  return values[in.ConsumeIntegralInRange<size_t>(0, std::size(values) - 1)];
}

// Fills a world: a pattern chosen by the input, then a few pixels set to extreme values.
// Integer channels may exceed the host's full scale (a 16-bit channel up to 65535).
void fill_world(FuzzedDataProvider& in, hostsim::World& world) {
  const int mode = in.ConsumeIntegralInRange<int>(0, 3);
  uint32_t state = in.ConsumeIntegral<uint32_t>();
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const float constant[4] = {in.ConsumeFloatingPointInRange<float>(-0.5f, 2.0f),
                             in.ConsumeFloatingPointInRange<float>(-0.5f, 4.0f),
                             in.ConsumeFloatingPointInRange<float>(-0.5f, 4.0f),
                             in.ConsumeFloatingPointInRange<float>(-0.5f, 4.0f)};
  for (int32_t y = 0; y < world.height(); ++y) {
    for (int32_t x = 0; x < world.width(); ++x) {
      for (int c = 0; c < 4; ++c) {
        const uint32_t r = next();
        switch (world.format()) {
          case PF_PixelFormat_ARGB32: {
            uint8_t* px = &world.at<PF_Pixel8>(x, y).alpha;
            px[c] = mode == 0 ? 255 : static_cast<uint8_t>(mode == 1 ? (x * 37 + y * 11 + c) : r);
            break;
          }
          case PF_PixelFormat_ARGB64: {
            uint16_t* px = &world.at<PF_Pixel16>(x, y).alpha;
            px[c] = mode == 0 ? 32768 : static_cast<uint16_t>(mode == 1 ? r % 32769 : r);
            break;
          }
          default: {
            float* px = &world.at<PF_PixelFloat>(x, y).alpha;
            px[c] = mode == 0   ? constant[c]
                    : mode == 1 ? static_cast<float>(r % 1000) / 999.0f
                    : mode == 2 ? static_cast<float>(r) / 1048576.0f - 4.0f
                                : (c == 0 ? 1.0f : static_cast<float>(r % 256) / 255.0f);
            break;
          }
        }
      }
    }
  }
  const int edits = in.ConsumeIntegralInRange<int>(0, 6);
  for (int e = 0; e < edits; ++e) {
    const int32_t x = in.ConsumeIntegralInRange<int32_t>(0, world.width() - 1);
    const int32_t y = in.ConsumeIntegralInRange<int32_t>(0, world.height() - 1);
    const int c = in.ConsumeIntegralInRange<int>(0, 3);
    switch (world.format()) {
      case PF_PixelFormat_ARGB32:
        (&world.at<PF_Pixel8>(x, y).alpha)[c] = in.ConsumeIntegral<uint8_t>();
        break;
      case PF_PixelFormat_ARGB64:
        (&world.at<PF_Pixel16>(x, y).alpha)[c] = in.ConsumeIntegral<uint16_t>();
        break;
      default:
        (&world.at<PF_PixelFloat>(x, y).alpha)[c] = special_float(in);
        break;
    }
  }
}

// Row bytes of a world `width` pixels wide with some padding pixels (often an odd number).
int32_t pick_rowbytes(FuzzedDataProvider& in, PF_PixelFormat format, int32_t width) {
  const int32_t padding = in.ConsumeIntegralInRange<int32_t>(0, 7);
  return (width + padding) * hostsim::pixel_size(format);
}

// The host's books for one input: the handle serial at its start, and the handles an
// injected failed disposal left live (those are the host's doing, not the module's).
struct Books {
  uint64_t start_serial = 0;
  std::set<PF_Handle> left_by_host;
  // Lock counts a refused unlock left on the global or sequence data.
  std::map<PF_Handle, int32_t> left_locked;
  std::vector<hostsim::Failure> armed;
};

// Invocation counts of the armed calls before a command.
std::vector<int64_t> armed_counts(const Books& books) {
  std::vector<int64_t> counts;
  for (const hostsim::Failure& f : books.armed) counts.push_back(hostsim::call_count(f.name));
  return counts;
}

// True if an armed failure of a call starting with `prefix` fired during the command.
bool fired_during(const Books& books, const std::vector<int64_t>& before, const char* prefix) {
  for (size_t i = 0; i < books.armed.size(); ++i) {
    const hostsim::Failure& f = books.armed[i];
    if (f.name.rfind(prefix, 0) != 0) continue;
    const int64_t after = hostsim::call_count(f.name);
    if (f.k == 0 ? after > before[i] : (before[i] < f.k && f.k <= after)) return true;
  }
  return false;
}

// Checks the books after a command; `before` are the armed calls' counts before it and
// `serial_before` the newest handle's serial then.
void check_books(const char* after, hostsim::Instance& fx, Books& books,
                 const std::vector<int64_t>& before, uint64_t serial_before) {
  if (hostsim::fault_count() != 0) {
    const std::vector<hostsim::CallRecord> faults = hostsim::faults();
    fail(std::string("after ") + after + ": the host saw a misuse: " +
         (faults.empty() ? std::string("(not logged)")
                         : faults.front().name + " " + faults.front().detail));
  }

  std::set<PF_Handle> kept = books.left_by_host;
  if (fx.global_data() != nullptr) kept.insert(fx.global_data());
  if (fx.sequence_data() != nullptr) kept.insert(fx.sequence_data());
  for (const hostsim::HandleInfo& h : hostsim::live_handles_since(books.start_serial)) {
    if (kept.count(h.handle) != 0) continue;
    // A disposal the host refused leaves its handle live, and so does a setdown that could
    // not get the handle suite to give back the data it was handed: the host's doing, not a
    // leak of the module. A handle made during the command must be given back regardless.
    if (fired_during(books, before, "host_dispose_handle") ||
        (h.serial <= serial_before && fired_during(books, before, "AcquireSuite"))) {
      books.left_by_host.insert(h.handle);
      continue;
    }
    fail(std::string("after ") + after + ": handle of " + std::to_string(h.size) +
         " bytes (serial " + std::to_string(h.serial) + ") left live");
  }
  for (PF_Handle h : {fx.global_data(), fx.sequence_data()}) {
    if (h == nullptr) continue;
    if (!hostsim::is_live_handle(h)) {
      fail(std::string("after ") + after + ": the host holds a handle that is not live");
    }
    const int32_t locks = hostsim::handle_lock_count(h);
    if (locks != 0 && fired_during(books, before, "host_unlock_handle")) {
      books.left_locked[h] = locks;  // the refused unlock is the host's doing
    }
    const auto allowed = books.left_locked.find(h);
    if (locks > (allowed == books.left_locked.end() ? 0 : allowed->second)) {
      fail(std::string("after ") + after + ": global or sequence handle left locked");
    }
  }
  if (hostsim::outstanding_suites() != 0) {
    if (fired_during(books, before, "ReleaseSuite")) {
      hostsim::reset_suite_counters();  // the refused release is the host's doing
    } else {
      fail(std::string("after ") + after + ": " + std::to_string(hostsim::outstanding_suites()) +
           " suite acquisitions not released");
    }
  }
}

// What a render may leave in the output: padding bytes untouched always; after a success,
// pixels in the format's range.
void check_output(const hostsim::World& output, const std::vector<uint8_t>& padding_before,
                  bool rendered) {
  std::vector<uint8_t> padding_after;
  for (int32_t y = 0; y < output.height(); ++y) {
    const uint8_t* p = output.padding(y);
    padding_after.insert(padding_after.end(), p, p + output.padding_bytes());
  }
  if (padding_after != padding_before) fail("the render wrote into the output's row padding");
  if (!rendered) return;
  for (int32_t y = 0; y < output.height(); ++y) {
    for (int32_t x = 0; x < output.width(); ++x) {
      switch (output.format()) {
        case PF_PixelFormat_ARGB64: {
          const PF_Pixel16& p = output.at<PF_Pixel16>(x, y);
          if (p.alpha > 32768 || p.red > 32768 || p.green > 32768 || p.blue > 32768) {
            fail("a 16-bit output channel above 32768");
          }
          break;
        }
        case PF_PixelFormat_ARGB128: {
          const PF_PixelFloat& p = output.at<PF_PixelFloat>(x, y);
          if (!std::isfinite(p.alpha) || !std::isfinite(p.red) || !std::isfinite(p.green) ||
              !std::isfinite(p.blue)) {
            fail("a float output channel is not finite at (" + std::to_string(x) + ", " +
                 std::to_string(y) + ")");
          }
          if (p.alpha < 0.0f || p.alpha > 1.0f) fail("a float output alpha outside 0..1");
          break;
        }
        default:
          break;
      }
    }
  }
}

std::vector<uint8_t> padding_of(const hostsim::World& world) {
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < world.height(); ++y) {
    const uint8_t* p = world.padding(y);
    bytes.insert(bytes.end(), p, p + world.padding_bytes());
  }
  return bytes;
}

// Parameter values for the next frame, inside and outside their declared ranges.
void set_parameters(FuzzedDataProvider& in, hostsim::Instance& fx) {
  fx.set_float(kRadius, pick_radius(in));
  // The ends of each range (Weight 0 turns the weighting off) and values beyond them.
  fx.set_float(kWeight,
               pick_double(in, 0.0, 10.0, {0.0, 10.0, -50.0, 1e6, kNaN, kInf, -kInf, -1e308}));
  fx.set_float(kSpecularBrightness,
               pick_double(in, 1.0, 1.5, {1.0, 1.5, 0.0, -1.0, 100.0, kNaN, kInf}));
  fx.set_int(kSpecularThreshold, pick_int(in, 0, 255, {0, 255, -1, 256, INT32_MIN, INT32_MAX}));
  fx.set_int(kShape, pick_int(in, 1, 3, {0, 4, -1, INT32_MAX}));
  fx.set_int(kEdges, pick_int(in, 3, 16, {0, 1, 2, -5, 17, 1000, INT32_MIN}));
  fx.set_angle(kPhase, in.ConsumeIntegral<int32_t>());
  fx.set_int(kOutside, pick_int(in, 1, 2, {0, 3, -7}));
}

std::shared_ptr<const hostsim::World> make_iris_layer(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange<int>(0, 2) == 0) return nullptr;
  const PF_PixelFormat format = in.PickValueInArray(kFormats);
  const int32_t w = in.ConsumeIntegralInRange<int32_t>(1, 24);
  const int32_t h = in.ConsumeIntegralInRange<int32_t>(1, 24);
  auto layer = std::make_shared<hostsim::World>(format, w, h, pick_rowbytes(in, format, w));
  fill_world(in, *layer);
  return layer;
}

hostsim::Failure pick_failure(FuzzedDataProvider& in) {
  hostsim::Failure f;
  f.name = in.PickValueInArray(kFailableCalls);
  // Mostly an early invocation; sometimes one deep inside a layer kernel's sampling, now and
  // then every invocation from the start.
  const int kind = in.ConsumeIntegralInRange<int>(0, 15);
  f.k = kind == 0 ? 0
                  : (kind == 1 ? in.ConsumeIntegralInRange<int64_t>(1, 70000)
                               : in.ConsumeIntegralInRange<int64_t>(1, 12));
  const PF_Err codes[] = {1234, PF_Interrupt_CANCEL, PF_Err_OUT_OF_MEMORY,
                          PF_Err_INTERNAL_STRUCT_DAMAGED, -1};
  f.code = in.PickValueInArray(codes);
  // Calls that hand back a pointer may also succeed with a null one (a checkout that yields
  // no world, a suite that is null). For the others a success that did nothing is not a
  // host's answer (an add_param that added nothing shifts every later parameter).
  const bool out_pointer = f.name.rfind("checkout_layer_pixels", 0) == 0 ||
                           f.name.rfind("checkout_output", 0) == 0 ||
                           f.name.rfind("AcquireSuite", 0) == 0;
  if (out_pointer && in.ConsumeIntegralInRange<int>(0, 3) == 0) {
    f.null_result = true;
    f.code = PF_Err_NONE;
  }
  return f;
}

// One command with the books checked after it.
template <typename Run>
void command(const char* name, hostsim::Instance& fx, Books& books, Run run) {
  const std::vector<int64_t> before = armed_counts(books);
  const uint64_t serial_before = hostsim::handle_serial();
  run();
  check_books(name, fx, books, before, serial_before);
}

void run_input(FuzzedDataProvider& in) {
  hostsim::clear_failures();
  hostsim::reset();
  Books books;
  books.start_serial = hostsim::handle_serial();

  auto fx = std::make_unique<hostsim::Instance>(module());
  // Premiere Pro's frames go through the classic render command; After Effects's through
  // smart rendering, now and then with Premiere's application code all the same.
  const bool premiere = in.ConsumeIntegralInRange<int>(0, 4) == 0;
  fx->settings.premiere = premiere;
  if (!premiere && in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    fx->settings.appl_id = PF_APPL_ID_PREMIERE;
  }
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    const int32_t nums[] = {0, 1, 2, 3, -1, 7};
    const uint32_t dens[] = {0, 1, 2, 3, 4};
    fx->settings.downsample_x = {in.PickValueInArray(nums), in.PickValueInArray(dens)};
    fx->settings.downsample_y = fx->settings.downsample_x;
  }

  const int failures = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? 0 : 1 + in.ConsumeBool();
  for (int i = 0; i < failures; ++i) {
    books.armed.push_back(pick_failure(in));
    hostsim::inject_failure(books.armed.back());
    if (verbose()) {
      const hostsim::Failure& f = books.armed.back();
      std::fprintf(stderr, "failure: %s #%lld code %d%s\n", f.name.c_str(),
                   static_cast<long long>(f.k), f.code, f.null_result ? " (null)" : "");
    }
  }

  bool ok = true;
  command("global setup", *fx, books, [&] { ok = fx->global_setup().err == PF_Err_NONE; });
  if (ok) command("params setup", *fx, books, [&] { ok = fx->params_setup().err == PF_Err_NONE; });
  if (ok) {
    command("sequence setup", *fx, books, [&] { ok = fx->sequence_setup().err == PF_Err_NONE; });
  }
  if (ok) command("update params UI", *fx, books, [&] { fx->update_params_ui(); });

  const int frames =
      !ok ? 0
          : (in.ConsumeIntegralInRange<int>(0, 3) == 0 ? in.ConsumeIntegralInRange<int>(2, 3) : 1);
  for (int frame = 0; frame < frames; ++frame) {
    set_parameters(in, *fx);
    fx->set_layer(kIrisLayer, make_iris_layer(in));
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      command("user changed param", *fx, books, [&] { fx->user_changed_param(); });
    }
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
      command("sequence resetup", *fx, books, [&] { fx->sequence_resetup(); });
    }

    // Premiere Pro hands effects 8-bit and 16-bit worlds only.
    const PF_PixelFormat format = premiere ? in.PickValueInArray(kClassicFormats)
                                           : in.PickValueInArray(kFormats);
    const bool large = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const int32_t w = in.ConsumeIntegralInRange<int32_t>(1, large ? 320 : 48);
    const int32_t h = in.ConsumeIntegralInRange<int32_t>(1, large ? 320 : 48);
    hostsim::World input(format, w, h, pick_rowbytes(in, format, w));
    fill_world(in, input);
    // Now and then an output whose height disagrees with the input's.
    const int32_t out_h =
        in.ConsumeIntegralInRange<int>(0, 15) == 0 ? in.ConsumeIntegralInRange<int32_t>(1, 64) : h;
    hostsim::World output(format, w, out_h, pick_rowbytes(in, format, w));
    const std::vector<uint8_t> padding_before = padding_of(output);

    hostsim::FrameRequest request = hostsim::frame_request(input, output, frame);
    // A part of the layer (Premiere Pro renders whole frames): inside it, across its edges,
    // beyond it, or empty.
    if (!premiere && in.ConsumeIntegralInRange<int>(0, 2) == 0) {
      request.request_rect = PF_LRect{in.ConsumeIntegralInRange<int32_t>(-8, w),
                                      in.ConsumeIntegralInRange<int32_t>(-8, out_h),
                                      in.ConsumeIntegralInRange<int32_t>(-8, w + 8),
                                      in.ConsumeIntegralInRange<int32_t>(-8, out_h + 8)};
    }
    // The user cancels after some number of abort/progress questions.
    const int cancel_after = in.ConsumeIntegralInRange<int>(0, 7) == 0
                                 ? in.ConsumeIntegralInRange<int>(0, 6)
                                 : std::numeric_limits<int>::max();
    int asked = 0;
    request.on_abort = [&asked, cancel_after]() -> PF_Err {
      return asked++ >= cancel_after ? PF_Interrupt_CANCEL : PF_Err_NONE;
    };

    if (verbose()) {
      const PF_ParamDef radius = fx->current_param(kRadius);
      const PF_ParamDef shape = fx->current_param(kShape);
      std::fprintf(stderr,
                   "frame %d: %s %d x %d (rowbytes %d), output height %d, radius %g, shape %d\n",
                   frame, hostsim::format_name(format), w, h, input.rowbytes(), out_h,
                   radius.u.fs_d.value, shape.u.pd.value);
    }
    hostsim::FrameResult result;
    command("frame", *fx, books, [&] { result = fx->render_frame(request); });
    if (verbose()) {
      std::fprintf(stderr, "  -> code %d, %zu progress reports\n", result.err,
                   result.progress.size());
    }
    // A zero radius is the host's plain copy, which passes every value through unchanged.
    check_output(output, padding_before, result.err == PF_Err_NONE && !result.progress.empty());
  }

  command("sequence setdown", *fx, books, [&] {
    if (fx->sequence_data() != nullptr) fx->sequence_setdown();
  });
  command("global setdown", *fx, books, [&] {
    if (fx->global_data() != nullptr) fx->global_setdown();
  });
  if (!hostsim::live_handles_since(books.start_serial).empty() && books.left_by_host.empty()) {
    fail("handles left live after global setdown");
  }

  // Give back what refused disposals left, so one input's leftovers do not pile up.
  hostsim::clear_failures();
  for (const hostsim::HandleInfo& h : hostsim::live_handles_since(books.start_serial)) {
    hostsim::utils()->host_dispose_handle(h.handle);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The counters are kept without the log: a layer kernel makes tens of thousands of calls.
  hostsim::set_call_log_limit(64);
  module();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  run_input(in);
  return 0;
}
