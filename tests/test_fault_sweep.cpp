// The fault sweep: every host call a command makes in a clean run is made to fail, one at a
// time. The command must return the code its failure rules give, write the message they
// name (and no other), give back every handle it allocated except those that outlive it by
// design, and release every suite it acquired exactly once.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

using namespace module_test;

// A code no step of the module produces itself, so a passed-through host code is told apart.
constexpr PF_Err kHostCode = 1234;

struct Fault {
  std::string name;  // plain call name
  int64_t k = 0;     // invocation number under it
  std::string qualified;
  bool null_variant = false;  // succeed with a null out pointer instead of a code
};

struct Expected {
  PF_Err code = PF_Err_NONE;
  std::string message;  // "" when none may be written
};

bool has_out_pointer(const std::string& name) {
  return name == "checkout_layer_pixels" || name == "checkout_output" || name == "AcquireSuite";
}

// Distinct failable calls of a clean run; the sampling calls of a layer kernel only at their
// first, second, middle and last invocation.
std::vector<Fault> enumerate(const std::vector<hostsim::CallRecord>& calls) {
  int64_t samples = 0;
  for (const hostsim::CallRecord& c : calls) {
    if (c.name.rfind("subpixel_sample", 0) == 0) ++samples;
  }
  const std::set<int64_t> sample_ks = {1, 2, samples / 2, samples};
  std::vector<Fault> faults;
  for (const hostsim::CallRecord& c : calls) {
    if (!c.failable) continue;
    if (c.name.rfind("subpixel_sample", 0) == 0 && !sample_ks.count(c.k)) continue;
    faults.push_back({c.name, c.k, c.qualified, false});
    if (has_out_pointer(c.name)) faults.push_back({c.name, c.k, c.qualified, true});
  }
  return faults;
}

std::string describe(const Fault& f) {
  return (f.qualified.empty() ? f.name : f.qualified) + " #" + std::to_string(f.k) +
         (f.null_variant ? " (null)" : "");
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// What one command scenario does: prepare the instance, run the command, and the outcome
// each fault must have. `kept` lists the handles that may outlive the command.
struct Scenario {
  std::string title;
  std::function<void(hostsim::Instance&)> prepare;
  std::function<hostsim::CommandResult(hostsim::Instance&)> run;
  std::function<Expected(const Fault&)> expect;
  std::function<std::set<PF_Handle>(hostsim::Instance&)> kept;
  std::function<void(hostsim::Instance&)> after;  // frame end etc.
  hostsim::InstanceSettings settings{};           // the host the instance plays
};

// Returns the number of faults injected.
int sweep(const Scenario& scenario, bool start_instance = true) {
  auto fresh = [&] {
    auto fx = start_instance ? started_instance(scenario.settings)
                             : std::make_unique<hostsim::Instance>(module());
    scenario.prepare(*fx);
    return fx;
  };
  std::vector<Fault> faults;
  {
    hostsim::reset();
    auto fx = fresh();
    hostsim::reset_calls();
    const hostsim::CommandResult clean = scenario.run(*fx);
    EXPECT_EQ(clean.err, PF_Err_NONE) << scenario.title << ": clean run";
    EXPECT_EQ(hostsim::dropped_call_records(), 0u) << "the call log must hold the whole run";
    faults = enumerate(hostsim::calls());
    if (scenario.after) scenario.after(*fx);
    fx->finish();
  }
  EXPECT_FALSE(faults.empty());
  int injected = 0;
  for (const Fault& fault : faults) {
    SCOPED_TRACE(scenario.title + ": " + describe(fault));
    hostsim::reset();
    const int64_t live_at_start = hostsim::handle_stats().live_count;
    const uint64_t serial_at_start = hostsim::handle_serial();
    auto fx = fresh();
    hostsim::reset_calls();
    hostsim::reset_suite_counters();
    hostsim::inject_failure({.name = fault.name,
                             .k = fault.k,
                             .code = fault.null_variant ? PF_Err_NONE : kHostCode,
                             .null_result = fault.null_variant});
    const uint64_t serial = hostsim::handle_serial();
    const hostsim::CommandResult result = scenario.run(*fx);
    EXPECT_EQ(hostsim::injected_failure_count(), 1);
    hostsim::clear_failures();
    ++injected;

    const Expected expected = scenario.expect(fault);
    EXPECT_EQ(result.err, expected.code);
    EXPECT_EQ(result.message(), expected.message);
    if (!expected.message.empty()) {
      EXPECT_NE(result.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    }

    // A disposal the host refused leaves its handle live; a refused release, its suite.
    const bool refused_dispose = fault.name == "host_dispose_handle";
    const bool refused_release = fault.name == "ReleaseSuite";
    std::set<PF_Handle> kept = scenario.kept(*fx);
    int64_t leaked = 0;
    for (const hostsim::HandleInfo& h : hostsim::live_handles_since(serial)) {
      if (!kept.count(h.handle)) ++leaked;
    }
    EXPECT_LE(leaked, refused_dispose ? 1 : 0);
    EXPECT_EQ(hostsim::outstanding_suites(), refused_release ? 1 : 0);
    for (const hostsim::SuiteStats& s : hostsim::suite_stats()) {
      EXPECT_LE(s.releases, s.acquires) << s.name;
    }
    EXPECT_EQ(hostsim::fault_count(), 0);

    if (scenario.after) scenario.after(*fx);
    fx->finish();
    fx.reset();
    EXPECT_EQ(hostsim::handle_stats().live_count, live_at_start + (refused_dispose ? 1 : 0));
    if (refused_dispose) {
      // Give the refused handle back so the next fault starts clean.
      for (const hostsim::HandleInfo& h : hostsim::live_handles_since(serial_at_start)) {
        hostsim::utils()->host_dispose_handle(h.handle);
      }
    }
  }
  std::printf("[ fault sweep ] %s: %d injected faults covered\n", scenario.title.c_str(), injected);
  return injected;
}

void report_total(const char* test, int injected) {
  std::printf("[ fault sweep ] %s: %d injected faults in all\n", test, injected);
  EXPECT_GT(injected, 0);
}

// ---- Render: one frame, pre-rendered cleanly, then the smart render under the fault.

struct FrameScenario {
  PF_PixelFormat format;
  int32_t shape;
  std::unique_ptr<hostsim::World> in, out;
  std::shared_ptr<hostsim::World> iris;
  std::unique_ptr<hostsim::Frame> frame;

  // The parameters, a patterned 12 x 8 input (and a 5 x 4 iris layer for the layer shape),
  // and a frame begun on them: what both render calls are swept on.
  void begin(hostsim::Instance& fx, double radius) {
    fx.set_float(kRadius, radius);
    fx.set_int(kShape, shape);
    in = std::make_unique<hostsim::World>(format, 12, 8);
    out = std::make_unique<hostsim::World>(format, 12, 8);
    fill_pattern(*in, 8);
    if (shape == 3) {
      iris = std::make_shared<hostsim::World>(format, 5, 4);
      fill_pattern(*iris, 2);
      fx.set_layer(kIrisLayer, iris);
    }
    frame = fx.begin_frame({.input = in.get(), .output = out.get()});
  }
};

Expected render_expectation(const Fault& f) {
  const std::string& q = f.qualified;
  if (f.name == "AcquireSuite") {
    if (q == "AcquireSuite:" kPFWorldSuite) return {516, "Couldn't load suite."};
    return {516, ""};  // the handle suite or a sampling suite, from the cache
  }
  if (f.name == "host_lock_handle")
    return f.k == 1 ? Expected{516, ""} : Expected{512, "Memory Error!"};
  if (f.name == "host_new_handle") return {512, "Memory Error!"};
  if (f.name == "checkout_layer_pixels" || f.name == "checkout_output" ||
      f.name == "PF_GetPixelFormat") {
    return {516, ""};
  }
  if (f.name == "progress" || f.name == "abort" || starts_with(f.name, "checkout_param") ||
      starts_with(f.name, "subpixel_sample") || f.name == "copy") {
    return {kHostCode, ""};
  }
  // Check-in, releases and disposals: their results never replace the code.
  return {PF_Err_NONE, ""};
}

int sweep_render(PF_PixelFormat format, int32_t shape, double radius) {
  auto state = std::make_shared<FrameScenario>();
  state->format = format;
  state->shape = shape;
  Scenario s;
  s.title = std::string(hostsim::format_name(format)) + " shape " + std::to_string(shape) +
            " radius " + std::to_string(radius);
  s.prepare = [state, radius](hostsim::Instance& fx) {
    state->begin(fx, radius);
    ASSERT_EQ(fx.pre_render(*state->frame).err, PF_Err_NONE);
  };
  s.run = [state](hostsim::Instance& fx) { return fx.smart_render(*state->frame); };
  s.expect = render_expectation;
  s.kept = [state](hostsim::Instance&) {
    return std::set<PF_Handle>{
        static_cast<PF_Handle>(state->frame->pre_render_output().pre_render_data)};
  };
  s.after = [state](hostsim::Instance& fx) {
    fx.end_frame(*state->frame);
    EXPECT_TRUE(state->frame->pre_render_data_deleted());
    state->frame.reset();
    fx.set_layer(kIrisLayer, nullptr);
  };
  return sweep(s);
}

TEST(FaultSweep, RenderIn8Bit) {
  report_total("render 8-bit", sweep_render(PF_PixelFormat_ARGB32, 2, 2.0));
}
TEST(FaultSweep, RenderIn16Bit) {
  report_total("render 16-bit", sweep_render(PF_PixelFormat_ARGB64, 1, 2.0));
}
TEST(FaultSweep, RenderInFloat) {
  report_total("render float", sweep_render(PF_PixelFormat_ARGB128, 1, 2.0));
}
TEST(FaultSweep, RenderWithALayerIris) {
  int injected = 0;
  for (PF_PixelFormat format :
       {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    injected += sweep_render(format, 3, 2.0);
  }
  report_total("render with a layer iris", injected);
}
TEST(FaultSweep, RenderAtRadiusZero) {
  report_total("render at radius 0", sweep_render(PF_PixelFormat_ARGB32, 1, 0.0));
}

// ---- The classic render command (Premiere Pro): one frame, set up cleanly, then the render
// under the fault. It locks no record and asks for no World suite, so every refused lock is
// a working buffer's.

Expected classic_render_expectation(const Fault& f) {
  if (f.name == "AcquireSuite") return {516, ""};  // a sampling suite, from the cache
  if (f.name == "host_new_handle" || f.name == "host_lock_handle") return {512, "Memory Error!"};
  if (f.name == "progress" || f.name == "abort" || starts_with(f.name, "checkout_param") ||
      starts_with(f.name, "subpixel_sample") || f.name == "copy") {
    return {kHostCode, ""};
  }
  return {PF_Err_NONE, ""};
}

int sweep_classic_render(PF_PixelFormat format, int32_t shape, double radius) {
  auto state = std::make_shared<FrameScenario>();
  state->format = format;
  state->shape = shape;
  Scenario s;
  s.title = std::string("classic render, ") + hostsim::format_name(format) + " shape " +
            std::to_string(shape) + " radius " + std::to_string(radius);
  s.settings.premiere = true;
  s.prepare = [state, radius](hostsim::Instance& fx) {
    state->begin(fx, radius);
    ASSERT_EQ(fx.frame_setup(*state->frame).err, PF_Err_NONE);
  };
  s.run = [state](hostsim::Instance& fx) { return fx.classic_render(*state->frame); };
  s.expect = classic_render_expectation;
  s.kept = [](hostsim::Instance&) { return std::set<PF_Handle>{}; };
  s.after = [state](hostsim::Instance& fx) {
    EXPECT_EQ(fx.frame_setdown(*state->frame).err, PF_Err_NONE);
    fx.end_frame(*state->frame);
    state->frame.reset();
    fx.set_layer(kIrisLayer, nullptr);
  };
  return sweep(s);
}

TEST(FaultSweep, ClassicRender) {
  int injected = 0;
  for (PF_PixelFormat format : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64}) {
    injected += sweep_classic_render(format, 2, 2.0);
    injected += sweep_classic_render(format, 3, 2.0);
  }
  injected += sweep_classic_render(PF_PixelFormat_ARGB32, 1, 0.0);
  report_total("classic render", injected);
}

// ---- Pre-render.

TEST(FaultSweep, PreRender) {
  auto frame = std::make_shared<std::unique_ptr<hostsim::Frame>>();
  auto in = std::make_shared<hostsim::World>(PF_PixelFormat_ARGB32, 10, 6);
  auto out = std::make_shared<hostsim::World>(PF_PixelFormat_ARGB32, 10, 6);
  Scenario s;
  s.title = "pre-render";
  s.prepare = [=](hostsim::Instance& fx) {
    fx.set_float(kRadius, 3.0);
    *frame = fx.begin_frame({.input = in.get(), .output = out.get()});
  };
  s.run = [=](hostsim::Instance& fx) { return fx.pre_render(**frame); };
  s.expect = [](const Fault& f) -> Expected {
    if (f.name == "AcquireSuite") return {516, ""};
    if (f.name == "host_new_handle" || f.name == "host_lock_handle") return {4, ""};
    if (f.name == "checkout_param" || f.name == "checkout_layer") return {kHostCode, ""};
    return {PF_Err_NONE, ""};
  };
  s.kept = [=](hostsim::Instance&) {
    return std::set<PF_Handle>{
        static_cast<PF_Handle>((*frame)->pre_render_output().pre_render_data)};
  };
  s.after = [=](hostsim::Instance& fx) {
    fx.end_frame(**frame);
    frame->reset();
  };
  report_total("pre-render", sweep(s));
}

// ---- Lifecycle commands.

TEST(FaultSweep, GlobalSetup) {
  Scenario s;
  s.title = "global setup";
  s.prepare = [](hostsim::Instance&) {};
  s.run = [](hostsim::Instance& fx) { return fx.global_setup(); };
  s.expect = [](const Fault& f) -> Expected {
    if (f.name == "AcquireSuite") return {516, ""};
    if (f.name == "host_new_handle") return {512, ""};
    if (f.name == "AEGP_RegisterWithAEGP") return {kHostCode, ""};
    return {PF_Err_NONE, ""};  // a refused lock stores nothing; refused unlocks and releases
  };
  s.kept = [](hostsim::Instance& fx) { return std::set<PF_Handle>{fx.global_data()}; };
  report_total("global setup", sweep(s, false));
}

TEST(FaultSweep, SequenceResetup) {
  Scenario s;
  s.title = "sequence resetup";
  s.prepare = [](hostsim::Instance&) {};
  s.run = [](hostsim::Instance& fx) { return fx.sequence_resetup(); };
  s.expect = [](const Fault& f) -> Expected {
    if (f.name == "AcquireSuite") return {516, ""};
    if (f.name == "host_new_handle") return {4, ""};
    return {PF_Err_NONE, ""};
  };
  s.kept = [](hostsim::Instance& fx) { return std::set<PF_Handle>{fx.sequence_data()}; };
  report_total("sequence resetup", sweep(s));
}

Expected ui_expectation(const Fault& f, int32_t shape) {
  if (f.name == "AcquireSuite") return {516, ""};
  if (f.name == "PF_HasParamChanged" || f.name == "PF_GetCurrentState") {
    return {kHostCode, "ERROR"};
  }
  if (f.name == "PF_UpdateParamUI") return {kHostCode, shape == 1 || shape == 3 ? "" : "ERROR"};
  return {PF_Err_NONE, ""};
}

int sweep_ui(int32_t shape, bool from_one_byte_record) {
  Scenario s;
  s.title = "UI update, shape " + std::to_string(shape) +
            (from_one_byte_record ? ", after sequence setup" : ", after a change");
  s.prepare = [shape, from_one_byte_record](hostsim::Instance& fx) {
    fx.set_int(kShape, shape);
    fx.set_float(kWeight, 3.0);
    if (from_one_byte_record) {
      ASSERT_EQ(fx.sequence_resetup().err, PF_Err_NONE);
    }
  };
  s.run = [](hostsim::Instance& fx) { return fx.update_params_ui(); };
  s.expect = [shape](const Fault& f) { return ui_expectation(f, shape); };
  s.kept = [](hostsim::Instance& fx) { return std::set<PF_Handle>{fx.sequence_data()}; };
  return sweep(s);
}

TEST(FaultSweep, UiUpdate) {
  int injected = 0;
  for (int32_t shape : {1, 2, 3}) {
    injected += sweep_ui(shape, false);
    injected += sweep_ui(shape, true);
  }
  report_total("UI update", injected);
}

}  // namespace
