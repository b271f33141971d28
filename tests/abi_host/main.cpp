// veilmora-abi-host MODULE: a host written from the host's published byte offsets alone,
// without the module's interface header or the stand-in host. It drives the loaded module
// through About, global setup, parameter setup, sequence setup, an update of the parameter
// UI, smart pre-render and smart render of small frames in the three pixel formats (also
// with the layer iris), sequence and global setdown, and checks after every command that
// the module wrote nothing the host did not expect and called nothing the host did not
// fill. Prints every failure; exit code 0 when there is none, 1 otherwise, 2 for a wrong
// command line, 3 when the module faulted.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "layout.h"
#include "module_library.h"

namespace abi_host {
namespace {

namespace L = layout;

// Selectors.
enum : int32_t {
  kAbout = 0, kGlobalSetup = 1, kGlobalSetdown = 3, kParamsSetup = 4, kSequenceSetup = 5,
  kSequenceSetdown = 8, kUpdateParamsUi = 14, kSmartPreRender = 23, kSmartRender = 24,
};

constexpr int32_t kAfterEffects = 0x46585443;  // 'FXTC'

void expect(bool ok, const std::string& what) {
  if (!ok) host().fail(what);
}

class Session {
 public:
  explicit Session(EntryPoint entry) : entry_(entry), in_("PF_InData", L::in::kSize) {
    fill_in_data();
  }

  void run();

 private:
  // One command: out-data made afresh, every host block sealed, the module called, then
  // every block checked for writes outside `out_allowed` (and the in-data's sequence
  // handle where `sequence_may_change`).
  int32_t send(const char* name, int32_t cmd, std::vector<std::pair<size_t, size_t>> out_allowed,
               bool sequence_may_change, void** params, void* output, void* extra,
               std::vector<RawBlock*> more_blocks);
  void fill_in_data();
  std::unique_ptr<RawBlock> fresh_out_data();
  std::vector<std::unique_ptr<RawBlock>> param_array(bool with_values, std::vector<void*>& ptrs);

  void about();
  void global_setup();
  void params_setup();
  void check_definitions();
  void sequence_setup();
  void update_params_ui();
  void render_frame(Depth depth, double radius, bool layer_iris);
  void sequence_setdown();
  void global_setdown();

  EntryPoint entry_;
  RawBlock in_;
  std::unique_ptr<RawBlock> out_;
  void** global_ = nullptr;
  void** sequence_ = nullptr;
};

void Session::fill_in_data() {
  namespace I = L::in;
  put_interact_callbacks(in_);
  in_.put<void*>(I::kUtils, tables().utils.data());
  in_.put<void*>(I::kEffectRef, effect_ref());
  in_.put<int32_t>(I::kQuality, 1);
  in_.put<int16_t>(I::kVersion, 13);
  in_.put<int16_t>(I::kVersion + 2, 28);
  // The fields around the pica pointer: had the module read a pointer from any of them it
  // would find these numbers, not an address.
  in_.put<int32_t>(I::kSerialNum, 0x5E51A1);
  in_.put<int32_t>(I::kApplId, kAfterEffects);
  in_.put<int32_t>(I::kNumParams, 1);
  for (size_t f : {I::kReserved, I::kWhatCpu, I::kWhatFpu, I::kCurrentTime, I::kField,
                   I::kShutterAngle, I::kWidth, I::kHeight, I::kOutputOriginX, I::kOutputOriginY,
                   I::kInFlags, I::kStartSamp, I::kDurSamp, I::kTotalSamp, I::kPreEffectOriginX,
                   I::kPreEffectOriginY, I::kShutterPhase})
    in_.put<int32_t>(f, 0);
  in_.put<int32_t>(I::kTimeStep, 1);
  in_.put<int32_t>(I::kTotalTime, 10);
  in_.put<int32_t>(I::kLocalTimeStep, 1);
  in_.put<int32_t>(I::kTimeScale, 24);
  in_.fill(I::kExtentHint, 16, 0);
  for (size_t f : {I::kDownsampleX, I::kDownsampleY, I::kPixelAspect}) {
    in_.put<int32_t>(f, 1);
    in_.put<uint32_t>(f + 4, 1);
  }
  in_.put<void*>(I::kGlobalData, nullptr);
  in_.put<void*>(I::kSequenceData, nullptr);
  in_.put<void*>(I::kFrameData, nullptr);
  in_.put<void*>(I::kPicaBasic, tables().basic.data());
  // The sound world at 352 stays poison: this host hands over no audio.
}

std::unique_ptr<RawBlock> Session::fresh_out_data() {
  namespace O = L::out;
  auto out = std::make_unique<RawBlock>("PF_OutData", O::kSize);
  for (size_t f : {O::kMyVersion, O::kNumParams, O::kFlatSize, O::kWidth, O::kHeight, O::kOrigin,
                   O::kOrigin + 4, O::kOutFlags, O::kStartSamp, O::kDurSamp, O::kOutFlags2})
    out->put<int32_t>(f, 0);
  out->fill(O::kName, 32, 0);
  out->fill(O::kReturnMsg, O::kReturnMsgSize, 0);
  out->put<void*>(O::kGlobalData, global_);
  out->put<void*>(O::kSequenceData, sequence_);
  out->put<void*>(O::kFrameData, nullptr);
  // Padding and the sound world at 368 stay poison.
  return out;
}

int32_t Session::send(const char* name, int32_t cmd,
                      std::vector<std::pair<size_t, size_t>> out_allowed, bool sequence_may_change,
                      void** params, void* output, void* extra,
                      std::vector<RawBlock*> more_blocks) {
  out_ = fresh_out_data();
  out_allowed.emplace_back(L::out::kReturnMsg, L::out::kReturnMsgSize);
  out_allowed.emplace_back(L::out::kOutFlags, 4);  // an error message may be flagged
  std::vector<RawBlock*> blocks = tables().all();
  blocks.push_back(&in_);
  blocks.push_back(out_.get());
  blocks.insert(blocks.end(), more_blocks.begin(), more_blocks.end());
  for (RawBlock* b : blocks) b->seal();
  for (const auto& [offset, n] : out_allowed) out_->allow(offset, n);
  if (sequence_may_change) in_.allow(L::in::kSequenceData, 8);

  set_activity(name);
  const int32_t err = entry_(cmd, in_.data(), out_->data(), params, output, extra);
  set_activity("checking");
  expect(err == 0, std::string(name) + ": answered " + std::to_string(err) + " (" +
                       out_->get_string(L::out::kReturnMsg, L::out::kReturnMsgSize) + ")");
  for (RawBlock* b : blocks)
    for (const std::string& w : b->unexpected_writes())
      host().fail(std::string(name) + ": the module wrote where the host did not expect it: " + w);
  for (const auto& [suite, held] : host().suites_held)
    expect(held == 0, std::string(name) + ": \"" + suite + "\" still held after the command");
  expect(host().count("checked out") == 0, std::string(name) + ": parameters left checked out");
  std::printf("%-28s answered %d\n", name, err);
  return err;
}

std::vector<std::unique_ptr<RawBlock>> Session::param_array(bool with_values,
                                                            std::vector<void*>& ptrs) {
  std::vector<std::unique_ptr<RawBlock>> defs;
  // [0] the input layer: a layer parameter whose value is a world without pixels here.
  auto input = std::make_unique<RawBlock>("params[0]", L::param::kSize);
  input->fill(0, L::param::kSize, 0);
  input->put<int32_t>(L::param::kType, L::param::kLayer);
  defs.push_back(std::move(input));
  if (with_values) {
    for (size_t i = 0; i < host().declared.size(); ++i) {
      auto d = std::make_unique<RawBlock>("params[" + std::to_string(i + 1) + "]", L::param::kSize);
      d->put_bytes(0, host().declared[i].data(), L::param::kSize);
      defs.push_back(std::move(d));
    }
  }
  ptrs.clear();
  for (auto& d : defs) ptrs.push_back(d->data());
  return defs;
}

void Session::about() {
  send("About", kAbout, {}, false, nullptr, nullptr, nullptr, {});
  expect(host().count("sprintf") == 1, "About: sprintf (at 328 of the utility table) not called once");
  const std::string msg = out_->get_string(L::out::kReturnMsg, L::out::kReturnMsgSize);
  expect(msg == "Orvaneworks, v1.00\rImagination!", "About: return_msg is \"" + msg + "\"");
}

// The version word's fields, decoded by the host's encoding.
struct Version {
  uint32_t major, minor, bug, stage, build;
};
Version decode(uint32_t v) {
  return {((v >> 19) & 7u) | (((v >> 26) & 15u) << 3), (v >> 15) & 15u, (v >> 11) & 15u,
          (v >> 9) & 3u, v & 511u};
}

void Session::global_setup() {
  namespace O = L::out;
  send("Global setup", kGlobalSetup,
       {{O::kMyVersion, 4}, {O::kOutFlags2, 4}, {O::kGlobalData, 8}}, false, nullptr, nullptr,
       nullptr, {});
  const auto version = out_->get<uint32_t>(O::kMyVersion);
  const auto flags = out_->get<int32_t>(O::kOutFlags);
  const auto flags2 = out_->get<int32_t>(O::kOutFlags2);
  expect(version == VEILMORA_PIPL_VERSION, "Global setup: my_version at 0 is " +
                                               std::to_string(version) + ", the PiPL says " +
                                               std::to_string(VEILMORA_PIPL_VERSION));
  expect(flags == VEILMORA_PIPL_OUT_FLAGS, "Global setup: out_flags at 96 differ from the PiPL");
  expect(flags2 == VEILMORA_PIPL_OUT_FLAGS2, "Global setup: out_flags2 at 400 is " +
                                                 std::to_string(flags2) + ", the PiPL says " +
                                                 std::to_string(VEILMORA_PIPL_OUT_FLAGS2));
  // Version 1.0.0, release (stage 3), build 1; smart render (0x400) and float (0x1000).
  const Version v = decode(version);
  expect(v.major == 1 && v.minor == 0 && v.bug == 0 && v.stage == 3 && v.build == 1,
         "Global setup: my_version does not decode to 1.0.0 release build 1");
  expect((flags2 & 0x400) && (flags2 & 0x1000),
         "Global setup: smart render or float support not declared at 400");
  global_ = out_->get<void**>(O::kGlobalData);
  expect(global_ && host().live_handles.count(global_), "Global setup: no global handle of this host");
  expect(host().count("AEGP_RegisterWithAEGP") == 1, "Global setup: not registered (entry at 56)");
  in_.put<void*>(L::in::kGlobalData, global_);
}

void Session::params_setup() {
  std::vector<void*> ptrs;
  auto defs = param_array(false, ptrs);
  std::vector<RawBlock*> blocks;
  for (auto& d : defs) blocks.push_back(d.get());
  send("Parameter setup", kParamsSetup, {{L::out::kNumParams, 4}}, false, ptrs.data(), nullptr,
       nullptr, blocks);
  expect(out_->get<int32_t>(L::out::kNumParams) == 12, "Parameter setup: num_params at 48 is not 12");
  in_.put<int32_t>(L::in::kNumParams, 12);
  check_definitions();
}

// The eleven definitions, read at the published offsets and compared with the controls as
// the effect documents them.
void Session::check_definitions() {
  namespace P = L::param;
  expect(host().declared.size() == 11,
         "Parameter setup: " + std::to_string(host().declared.size()) + " definitions, not 11");
  if (host().declared.size() != 11) return;
  struct Expected {
    const char* name;
    int32_t type;
    double valid_min, valid_max, slider_min, slider_max, dephault;
    const char* choices;
  };
  const Expected expected[11] = {
      {"Radius", P::kFloatSlider, 0, 300, 0, 100, 0, nullptr},
      {"Weight", P::kFloatSlider, 0, 10, 0, 10, 2, nullptr},
      {"Specular Brightness", P::kFloatSlider, 1, 1.5, 1, 1.5, 1, nullptr},
      {"Specular Threshold", P::kSlider, 0, 255, 0, 255, 255, nullptr},
      {"Iris", P::kGroupStart, 0, 0, 0, 0, 0, nullptr},
      {"Shape", P::kPopup, 0, 0, 0, 0, 1, "Circle|Polygon|Layer"},
      {"Edges", P::kSlider, 3, 16, 3, 16, 8, nullptr},
      {"Phase", P::kAngle, 0, 0, 0, 0, 0, nullptr},
      {"Iris Layer", P::kLayer, 0, 0, 0, 0, 0, nullptr},
      {"", P::kGroupEnd, 0, 0, 0, 0, 0, nullptr},
      {"Outside", P::kPopup, 0, 0, 0, 0, 1, "Mirror|Edge"},
  };
  for (int i = 0; i < 11; ++i) {
    const std::vector<uint8_t>& d = host().declared[size_t(i)];
    auto i32 = [&](size_t at) { int32_t v; std::memcpy(&v, d.data() + at, 4); return v; };
    auto f32 = [&](size_t at) { float v; std::memcpy(&v, d.data() + at, 4); return double(v); };
    auto i16 = [&](size_t at) { int16_t v; std::memcpy(&v, d.data() + at, 2); return int32_t(v); };
    const Expected& e = expected[i];
    const std::string who = "definition " + std::to_string(i + 1) + " (" + e.name + "): ";
    std::string name(reinterpret_cast<const char*>(d.data() + P::kName), P::kNameSize);
    name = name.substr(0, name.find('\0'));
    expect(i32(P::kId) == i + 1, who + "id at 0 is " + std::to_string(i32(P::kId)));
    expect(i32(P::kType) == e.type, who + "type at 12 is " + std::to_string(i32(P::kType)));
    expect(name == e.name, who + "name at 16 is \"" + name + "\"");
    const size_t u = P::kU;
    if (e.type == P::kFloatSlider) {
      double value;
      std::memcpy(&value, d.data() + u + P::kFloatValue, 8);
      expect(f32(u + P::kFloatValidMin) == e.valid_min && f32(u + P::kFloatValidMax) == e.valid_max &&
                 f32(u + P::kFloatSliderMin) == e.slider_min &&
                 f32(u + P::kFloatSliderMax) == e.slider_max,
             who + "ranges at 48..60 of the float slider differ");
      expect(std::fabs(f32(u + P::kFloatDefault) - e.dephault) < 1e-6 &&
                 std::fabs(value - e.dephault) < 1e-6,
             who + "default at 64 or value at 0 differs");
      expect(i16(u + P::kFloatPrecision) == 2, who + "precision at 68 is not 2");
    } else if (e.type == P::kSlider) {
      expect(i32(u + P::kSliderValidMin) == e.valid_min && i32(u + P::kSliderValidMax) == e.valid_max &&
                 i32(u + P::kSliderSliderMin) == e.slider_min &&
                 i32(u + P::kSliderSliderMax) == e.slider_max &&
                 i32(u + P::kSliderDefault) == e.dephault && i32(u + P::kSliderValue) == e.dephault,
             who + "slider ranges at 68..84 or value at 0 differ");
    } else if (e.type == P::kPopup) {
      const char* names;
      std::memcpy(&names, d.data() + u + P::kPopupNames, sizeof names);
      const int choices = 1 + int(std::count(e.choices, e.choices + std::strlen(e.choices), '|'));
      expect(i16(u + P::kPopupChoices) == choices && i16(u + P::kPopupDefault) == e.dephault &&
                 i32(u + P::kPopupValue) == e.dephault,
             who + "popup choices at 4, default at 6 or value at 0 differ");
      expect(names && std::string(names) == e.choices, who + "choice names at 8 differ");
    } else if (e.type == P::kAngle) {
      expect(i32(u + P::kAngleValue) == 0 && i32(u + P::kAngleDefault) == 0,
             who + "angle value or default is not 0");
    } else if (e.type == P::kLayer) {
      expect(i32(u + P::kLayerDefault) == 0, who + "default layer at 116 is not none (0)");
    }
  }
}

void Session::sequence_setup() {
  send("Sequence setup", kSequenceSetup, {{L::out::kSequenceData, 8}}, true, nullptr, nullptr,
       nullptr, {});
  sequence_ = out_->get<void**>(L::out::kSequenceData);
  expect(sequence_ && host().live_handles.count(sequence_), "Sequence setup: no sequence handle");
  in_.put<void*>(L::in::kSequenceData, sequence_);
}

void Session::update_params_ui() {
  std::vector<void*> ptrs;
  auto defs = param_array(true, ptrs);
  std::vector<RawBlock*> blocks;
  for (auto& d : defs) blocks.push_back(d.get());
  void** before = sequence_;
  send("Update of the parameter UI", kUpdateParamsUi, {{L::out::kSequenceData, 8}}, true,
       ptrs.data(), nullptr, nullptr, blocks);
  // The one-byte record of sequence setup cannot be compared: the module pushes the state of
  // the iris controls and keeps a 16-byte snapshot instead.
  sequence_ = out_->get<void**>(L::out::kSequenceData);
  in_.put<void*>(L::in::kSequenceData, sequence_);
  expect(sequence_ != before && host().live_handles.count(sequence_) &&
             host().live_handles[sequence_] == 16 && !host().live_handles.count(before),
         "Update of the parameter UI: the sequence record was not replaced by a 16-byte snapshot");
  expect(host().count("PF_GetCurrentState") == 1, "Update of the parameter UI: no snapshot taken (entry at 8)");
  expect(!host().ui_pushes.empty(), "Update of the parameter UI: nothing pushed (entry at 0)");
  // Shape is Circle (its default): Edges, Phase and Iris Layer are pushed, all disabled.
  expect(host().ui_pushes.size() == 3, "Update of the parameter UI: not three pushes");
  for (const UiPush& p : host().ui_pushes) {
    int32_t declared_type;
    std::memcpy(&declared_type, host().declared[size_t(p.index) - 1].data() + L::param::kType, 4);
    expect(p.index >= 7 && p.index <= 9 && p.type == declared_type && (p.ui_flags & 0x20),
           "Update of the parameter UI: pushed index " + std::to_string(p.index) + " of type " +
               std::to_string(p.type) + " with ui_flags " + std::to_string(p.ui_flags));
  }
}

void Session::render_frame(Depth depth, double radius, bool layer_iris) {
  const std::string what = std::string(depth_name(depth)) + " frame, radius " +
                           std::to_string(int(radius)) + (layer_iris ? ", layer iris" : "");
  constexpr int32_t kW = 23, kH = 17;
  FrameWorld input("input world", depth, kW, kH, 3);
  FrameWorld output("output world", depth, kW, kH, 2);
  const double top = depth == Depth::k8 ? 255 : depth == Depth::k16 ? 32768 : 1.0;
  // Radius 0 gets a varied frame (copied exactly), any other radius a constant one (a blur
  // of a constant is that constant).
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c) {
        const double fraction = radius == 0 ? ((x * 7 + y * 13 + c * 5) % 17) / 16.0
                                            : (c == 0 ? 1.0 : 0.2 * c);
        double v = fraction * top;
        if (depth != Depth::kFloat) v = std::floor(v);
        input.set_channel(x, y, c, v);
      }
  const std::vector<uint8_t> input_pixels = input.pixels;
  std::unique_ptr<FrameWorld> iris;
  if (layer_iris) {
    iris = std::make_unique<FrameWorld>("iris layer world", depth, 9, 9, 1);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 9; ++x)
        for (int c = 0; c < 4; ++c) iris->set_channel(x, y, c, top);
  }
  host().input = &input;
  host().output = &output;
  host().iris_layer = iris.get();
  host().radius = radius;
  host().shape = layer_iris ? 3 : 1;
  ++host().generation;
  host().sampling_calls = 0;

  namespace I = L::in;
  in_.put<int32_t>(I::kWidth, kW);
  in_.put<int32_t>(I::kHeight, kH);
  const int32_t extent[4] = {0, 0, kW, kH};
  in_.put_bytes(I::kExtentHint, extent, sizeof extent);

  // The request: the whole frame, every channel.
  RawBlock pre_in("PF_PreRenderInput", L::pre_in::kSize);
  pre_in.put_bytes(L::pre_in::kRequest + L::request::kRect, extent, sizeof extent);
  pre_in.put<int32_t>(L::pre_in::kRequest + L::request::kField, 0);
  pre_in.put<int32_t>(L::pre_in::kRequest + L::request::kChannelMask, 0xF);
  pre_in.fill(L::pre_in::kRequest + L::request::kPreserve, 20, 0);
  pre_in.put<int16_t>(L::pre_in::kBitdepth, bitdepth_of(depth));
  pre_in.put<void*>(L::pre_in::kGpuData, nullptr);
  pre_in.put<int32_t>(L::pre_in::kWhatGpu, 0);
  pre_in.put<int32_t>(L::pre_in::kDeviceIndex, 0);
  RawBlock pre_out("PF_PreRenderOutput", L::pre_out::kSize);
  pre_out.fill(0, 36, 0);
  pre_out.put<void*>(L::pre_out::kPreRenderData, nullptr);
  pre_out.put<void*>(L::pre_out::kDeleteFunc, nullptr);
  pre_out.seal();
  RawBlock pre_extra("PF_PreRenderExtra", L::pre_extra::kSize);
  pre_extra.put<void*>(L::pre_extra::kInput, pre_in.data());
  pre_extra.put<void*>(L::pre_extra::kOutput, pre_out.data());
  pre_extra.put<void*>(L::pre_extra::kCb, tables().pre_render_cb.data());

  const std::string pre_name = "Smart pre-render (" + what + ")";
  send(pre_name.c_str(), kSmartPreRender, {}, false, nullptr, nullptr, pre_extra.data(),
       {&pre_in, &pre_extra, &input.record, &output.record});
  // The output record's fields are the module's to write; its padding at 36 is not.
  pre_out.allow(0, 36);
  pre_out.allow(L::pre_out::kPreRenderData, 16);
  for (const std::string& w : pre_out.unexpected_writes())
    host().fail(pre_name + ": the module wrote where the host did not expect it: " + w);
  int32_t result_rect[4];
  std::memcpy(result_rect, pre_out.data() + L::pre_out::kResultRect, sizeof result_rect);
  expect(std::memcmp(result_rect, extent, sizeof extent) == 0, pre_name + ": result_rect is not the frame");
  void* pre_render_data = pre_out.get<void*>(L::pre_out::kPreRenderData);
  auto delete_func = pre_out.get<void (*)(void*)>(L::pre_out::kDeleteFunc);
  expect(pre_render_data && delete_func, pre_name + ": no pre-render data or no function to delete it");
  expect(host().count("checkout_layer") >= 1, pre_name + ": input not checked out (entry at 0)");

  RawBlock sr_in("PF_SmartRenderInput", L::sr_in::kSize);
  sr_in.put_bytes(0, pre_in.data(), 48);  // the same request and depth (and padding)
  sr_in.put<void*>(L::sr_in::kPreRenderData, pre_render_data);
  sr_in.put<void*>(L::sr_in::kGpuData, nullptr);
  sr_in.put<int32_t>(L::sr_in::kWhatGpu, 0);
  sr_in.put<int32_t>(L::sr_in::kDeviceIndex, 0);
  RawBlock sr_extra("PF_SmartRenderExtra", L::sr_extra::kSize);
  sr_extra.put<void*>(L::sr_extra::kInput, sr_in.data());
  sr_extra.put<void*>(L::sr_extra::kCb, tables().smart_render_cb.data());
  const std::string name = "Smart render (" + what + ")";
  send(name.c_str(), kSmartRender, {}, false, nullptr, nullptr, sr_extra.data(),
       {&sr_in, &sr_extra, &input.record, &output.record});
  if (delete_func) {
    set_activity("the pre-render data's delete function");
    delete_func(pre_render_data);
  }

  expect(input.pixels == input_pixels, name + ": the input's pixels or row padding changed");
  bool padding_kept = true;
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t b = kW * pixel_bytes(depth); b < output.rowbytes; ++b)
      if (output.pixels[size_t(y) * output.rowbytes + size_t(b)] != kPoison) padding_kept = false;
  expect(padding_kept, name + ": the output's row padding was written");
  // Radius 0: an exact copy. Otherwise a constant frame stays constant: within one step in
  // 8 and 16 bits, within 1e-4 in float.
  const double tolerance = radius == 0 ? 0.0 : depth == Depth::kFloat ? 1e-4 : 1.0;
  double worst = 0;
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        worst = std::max(worst, std::fabs(output.channel(x, y, c) - input.channel(x, y, c)));
  expect(worst <= tolerance, name + ": output differs from the expected frame by " + std::to_string(worst));
  if (layer_iris)
    expect(host().sampling_calls > 0, name + ": the layer iris was never sampled (suite entry at 8)");
  expect(host().live_handles.size() == 2,
         name + ": " + std::to_string(host().live_handles.size()) +
             " handles live after the frame, not the global and sequence records");
  host().input = host().output = host().iris_layer = nullptr;
}

void Session::sequence_setdown() {
  send("Sequence setdown", kSequenceSetdown, {{L::out::kSequenceData, 8}}, true, nullptr, nullptr,
       nullptr, {});
  expect(!host().live_handles.count(sequence_), "Sequence setdown: the sequence record was not given back");
  sequence_ = nullptr;
  in_.put<void*>(L::in::kSequenceData, nullptr);
}

void Session::global_setdown() {
  send("Global setdown", kGlobalSetdown, {{L::out::kGlobalData, 8}}, false, nullptr, nullptr,
       nullptr, {});
  expect(host().live_handles.empty(),
         "Global setdown: " + std::to_string(host().live_handles.size()) + " handles never given back");
}

void Session::run() {
  about();
  global_setup();
  params_setup();
  sequence_setup();
  update_params_ui();
  for (Depth d : {Depth::k8, Depth::k16, Depth::kFloat}) {
    render_frame(d, 0, false);
    render_frame(d, 4, false);
    render_frame(d, 4, true);
  }
  sequence_setdown();
  global_setdown();
  std::printf("%lld handles made, %lld sampling calls in the last frame\n",
              static_cast<long long>(host().handles_made),
              static_cast<long long>(host().sampling_calls));
}

}  // namespace
}  // namespace abi_host

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: veilmora-abi-host MODULE\n");
    return 2;
  }
  abi_host::report_faults();
  try {
    abi_host::Session session(abi_host::load_entry_point(argv[1], "EntryPointFunc"));
    session.run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "FAIL: %s\n", e.what());
    return 1;
  }
  for (const std::string& f : abi_host::host().failures) std::fprintf(stderr, "FAIL: %s\n", f.c_str());
  std::printf("%s\n", abi_host::host().failures.empty() ? "every check passed" : "some checks failed");
  return abi_host::host().failures.empty() ? 0 : 1;
}
