// The protocol driver: one applied instance of an effect module, driven through the
// commands a host sends (global setup, parameter setup, sequence setup, update-params-UI,
// then per frame smart pre-render + smart render, then sequence and global setdown), with
// the parameter store the module checks its values out of. In Premiere mode each frame is
// frame setup, the classic render command and frame setdown instead.
//
// Each command gets fresh out-data and an effect_ref of its own; the global and sequence
// data handles the module hands back are carried into later commands as a host does. Frames
// may be rendered on several threads at once against one instance (multi-frame rendering):
// each frame has its own context (worlds, checkouts, progress) reached through its
// effect_ref, and everything shared is guarded by hostsim's mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/effect_api.h"
#include "hostsim/host_state.h"
#include "hostsim/world.h"

namespace hostsim {

struct Module;
namespace detail {
struct Context;
struct InstanceState;
}  // namespace detail

// What a command answered.
struct CommandResult {
  PF_Cmd cmd = 0;
  PF_Err err = PF_Err_NONE;
  PF_OutData out_data{};
  // out_data.return_msg as a string (up to its first NUL, never past its 256 bytes).
  std::string message() const;
};

// How the host presents itself and its time line to the module. Set before starting; the
// values are read when each command's in-data is made.
struct InstanceSettings {
  int32_t appl_id = kApplIdAfterEffects;  // PF_APPL_ID_PREMIERE ('PrMr') for Premiere Pro
  uint32_t time_scale = 30;               // time units per second
  int32_t time_step = 1;                  // one frame, in time units
  int32_t total_time = 30;                // the layer's duration, in time units
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};
  int32_t quality = 1;
  bool pass_basic_suite = true;  // false hands the module a null pica_basicP
  // Premiere Pro: the application code is 'PrMr' (whatever appl_id says), frames are sent as
  // frame setup, render (PF_Cmd_RENDER, the values and the input layer in the parameter
  // array, the output world as the output argument) and frame setdown, the smart commands
  // are never sent, the AEGP suites are not served, and frames are 8-bit or 16-bit only.
  bool premiere = false;
};

// One `PF_UpdateParamUI` push: the index and a copy of the definition pushed.
struct ParamPush {
  PF_ParamIndex index = 0;
  PF_ParamDef def{};
};

// One `checkout_layer` made in pre-render, and the host's answer: result_rect is the layer's
// bounds (0, 0, width, height) intersected with the request's rectangle, max_result_rect the
// layer's whole bounds (what the layer could give at most). A layer that is absent (an iris
// layer parameter with no layer) gives empty rectangles.
struct LayerCheckout {
  PF_ParamIndex index = 0;
  int32_t checkout_id = 0;
  PF_RenderRequest request{};
  int32_t what_time = 0;
  int32_t time_step = 0;
  uint32_t time_scale = 0;
  PF_CheckoutResult result{};
  PF_Err err = PF_Err_NONE;
};

struct ProgressReport {
  int32_t current = 0;
  int32_t total = 0;
};

// An `AEGP_RegisterWithAEGP` call: the name the module gave and the id hostsim wrote.
struct Registration {
  std::string plugin_name;
  AEGP_PluginID plugin_id = 0;
};

// One frame to render.
struct FrameRequest {
  const World* input = nullptr;  // the effect's own layer (parameter 0); must outlive the frame
  World* output = nullptr;       // the output world; must outlive the frame
  int32_t current_time = 0;      // in time units (frame number x time_step)
  // The rectangle the host asks the effect for; default: the output's whole bounds.
  std::optional<PF_LRect> request_rect{};
  // Called for every `progress` report of this frame (after it is recorded), on the thread
  // rendering the frame.
  std::function<void(int32_t current, int32_t total)> on_progress{};
  // Asked by `abort` and `progress`: a non-zero code (PF_Interrupt_CANCEL) is what those
  // callbacks answer, which is how a host stops the work.
  std::function<PF_Err()> on_abort{};
};

// A request for the whole of `output` at `current_time`, without hooks.
inline FrameRequest frame_request(const World& input, World& output, int32_t current_time = 0) {
  FrameRequest r;
  r.input = &input;
  r.output = &output;
  r.current_time = current_time;
  return r;
}

// The context of one frame: the effect_ref of its smart pre-render and smart render, the
// extras handed to them, and what the module did with them.
class Frame {
 public:
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  PF_ProgPtr effect_ref() const;
  uint64_t id() const;

  // The extras as the host hands them; tests may edit them between begin_frame() and the
  // command (for example to pre-fill the output rectangles).
  PF_PreRenderExtra* pre_render_extra();
  PF_SmartRenderExtra* smart_render_extra();
  // What pre-render left in its output record (pre_render_data, rectangles, delete func).
  PF_PreRenderOutput pre_render_output() const;

  std::vector<LayerCheckout> checkouts() const;
  std::vector<ProgressReport> progress() const;
  // True once hostsim has called the registered delete_pre_render_data_func.
  bool pre_render_data_deleted() const;

 private:
  friend class Instance;
  Frame() = default;
  std::shared_ptr<detail::Context> ctx_;
};

// What render_frame() did.
struct FrameResult {
  // Smart frames: pre-render's code when non-zero, else the render's. Premiere frames: frame
  // setup's, else the render's, else frame setdown's.
  PF_Err err = PF_Err_NONE;
  CommandResult pre_render;  // smart frames only
  // The smart render, or the classic render of a Premiere frame. Absent when pre-render or
  // frame setup failed or the request was empty (no render is run).
  std::optional<CommandResult> render;
  std::optional<CommandResult> frame_setup, frame_setdown;  // Premiere frames only
  PF_PreRenderOutput pre_render_output{};
  std::vector<LayerCheckout> checkouts;
  std::vector<ProgressReport> progress;
  bool pre_render_data_deleted = false;
};

// A raw command: in-data and out-data prepared as the host would, which a test may change
// before sending. The effect_ref is valid while the Command lives.
class Command {
 public:
  PF_Cmd cmd = 0;
  PF_InData in_data{};
  PF_OutData out_data{};
  // The parameter array (index 0 the input layer, then the declared parameters with their
  // current values); passed to the module as `params` (null when empty).
  std::vector<PF_ParamDef> param_defs;
  std::vector<PF_ParamDef*> params;
  PF_LayerDef* output = nullptr;
  void* extra = nullptr;
  // After the command, take out_data's global_data / sequence_data as a host does.
  bool adopt_handles = true;

  Command();
  ~Command();
  Command(Command&&) noexcept;
  Command& operator=(Command&&) noexcept;

 private:
  friend class Instance;
  std::shared_ptr<detail::Context> ctx_;
};

class Instance {
 public:
  // The module must stay loaded while the instance (and any Frame or Command made from it)
  // lives. Destroying an instance sends no command: call finish() first, as a host would.
  explicit Instance(PF_EntryPointFunc entry);
  explicit Instance(const Module& module);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  InstanceSettings settings;

  // ---- Lifecycle commands. Each returns the module's code and out-data.
  CommandResult about();               // PF_Cmd_ABOUT
  CommandResult global_setup();        // PF_Cmd_GLOBAL_SETUP; keeps out_data.global_data
  CommandResult params_setup();        // PF_Cmd_PARAMS_SETUP; collects the add_param calls
  CommandResult sequence_setup();      // PF_Cmd_SEQUENCE_SETUP; keeps out_data.sequence_data
  CommandResult sequence_resetup();    // PF_Cmd_SEQUENCE_RESETUP
  CommandResult update_params_ui();    // PF_Cmd_UPDATE_PARAMS_UI
  CommandResult user_changed_param();  // PF_Cmd_USER_CHANGED_PARAM
  CommandResult sequence_setdown();    // PF_Cmd_SEQUENCE_SETDOWN; forgets the sequence data
  CommandResult global_setdown();      // PF_Cmd_GLOBAL_SETDOWN; forgets the global data
  // Global setup, parameter setup, sequence setup and update-params-UI, stopping at the
  // first non-zero code (returned with the command that gave it).
  CommandResult start();
  // Sequence setdown then global setdown (each only if its data is set, as a host does);
  // the first non-zero code wins.
  CommandResult finish();

  // ---- Frames.
  // Smart pre-render, then smart render if pre-render returned 0 and the request's
  // rectangle is not empty (nothing asked for, nothing rendered), then the frame's end
  // (end_frame). In Premiere mode: frame setup, the classic render if setup returned 0, and
  // frame setdown after a setup that returned 0; the request rectangle must then be absent
  // or the whole output (Premiere renders whole frames). Safe to call from several threads
  // at once.
  FrameResult render_frame(const FrameRequest& request);
  // The same in steps, for tests: a frame context, each command, and its end. begin_frame
  // throws std::invalid_argument for a Premiere frame in float or with a partial request.
  std::unique_ptr<Frame> begin_frame(const FrameRequest& request);
  // The smart commands; std::logic_error in Premiere mode, which never sends them.
  CommandResult pre_render(Frame& frame);    // PF_Cmd_SMART_PRE_RENDER
  CommandResult smart_render(Frame& frame);  // PF_Cmd_SMART_RENDER
  // The classic commands of a frame: the parameter array with the frame's input as index 0,
  // the frame's output world as the output argument.
  CommandResult frame_setup(Frame& frame);     // PF_Cmd_FRAME_SETUP
  CommandResult classic_render(Frame& frame);  // PF_Cmd_RENDER
  CommandResult frame_setdown(Frame& frame);   // PF_Cmd_FRAME_SETDOWN
  // Calls the delete_pre_render_data_func pre-render registered, once, with its
  // pre_render_data (when both are set), as a host does once a frame's render has
  // returned or when the render will not be run. Destroying a Frame does the same.
  void end_frame(Frame& frame);

  // ---- Raw commands.
  // In-data as for any command (a frame's effect_ref and extras when `frame` is given and
  // `cmd` is a smart command), fresh out-data, the parameter array.
  Command prepare(PF_Cmd cmd, Frame* frame = nullptr);
  CommandResult send(Command& command);

  // ---- Parameter store. Values are typed as the declarations say; they are not clamped to
  // the declared ranges (a host's sliders would, but tests need values outside them). A
  // setter whose type does not match a declared parameter, or an index that is not
  // declared, throws std::invalid_argument naming the parameter; values set before the
  // parameter setup are checked when they are checked out (a mismatch answers
  // PF_Err_BAD_CALLBACK_PARAM and is logged as a fault).
  void set_float(PF_ParamIndex index, double value);      // PF_Param_FLOAT_SLIDER
  void set_int(PF_ParamIndex index, int32_t value);       // slider, popup (1-based), checkbox
  void set_angle(PF_ParamIndex index, PF_Fixed degrees);  // PF_Param_ANGLE, 16.16 degrees
  // PF_Param_LAYER: the world shown for the layer (null: no layer). When a frame's input is
  // in another pixel format, checkout gives the layer converted to it, as a host keeps all
  // layers of a render in one depth.
  void set_layer(PF_ParamIndex index, std::shared_ptr<const World> layer);
  // Back to the declared default.
  void reset_param(PF_ParamIndex index);

  // The definitions add_param received, in order (index 1 first). Popup name pointers point
  // at hostsim's own copies of the strings.
  std::vector<PF_ParamDef> declared_params() const;
  // The popup choices string ("Circle|Polygon|Layer") of a declared popup, else "".
  std::string popup_choices(PF_ParamIndex index) const;
  // What checkout_param answers for `index` (outside a frame): the declared definition with
  // the current value and UI flags. Throws std::invalid_argument for an undeclared index.
  PF_ParamDef current_param(PF_ParamIndex index) const;
  // num_params as the parameter setup reported it (0 before).
  int32_t num_params() const;

  // The pushes of PF_UpdateParamUI, in order.
  std::vector<ParamPush> ui_pushes() const;
  void clear_ui_pushes();
  // The snapshot PF_GetCurrentState gives now: a generation counter (bumped by every value
  // change), a hash of every value, and a marker word.
  PF_State current_state() const;

  std::vector<Registration> registrations() const;

  // The global and sequence data the host carries between commands.
  PF_Handle global_data() const;
  PF_Handle sequence_data() const;
  void set_global_data(PF_Handle handle);
  void set_sequence_data(PF_Handle handle);

 private:
  std::shared_ptr<detail::InstanceState> state_;
};

}  // namespace hostsim
