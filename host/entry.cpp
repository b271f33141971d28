// The module's only exported function: the command table, and the one place where an error
// code thrown by a suite cache becomes the command's result.
#include "api/effect_api.h"
#include "host/handlers.h"

namespace {

PF_Err dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
  // Every handled command reads the in-data and writes the out-data; a host that hands over
  // neither gets an error instead of a crash.
  const bool handled = cmd == PF_Cmd_ABOUT || cmd == PF_Cmd_GLOBAL_SETUP ||
                       cmd == PF_Cmd_GLOBAL_SETDOWN || cmd == PF_Cmd_PARAMS_SETUP ||
                       cmd == PF_Cmd_SEQUENCE_SETUP || cmd == PF_Cmd_SEQUENCE_RESETUP ||
                       cmd == PF_Cmd_SEQUENCE_SETDOWN || cmd == PF_Cmd_USER_CHANGED_PARAM ||
                       cmd == PF_Cmd_UPDATE_PARAMS_UI || cmd == PF_Cmd_SMART_PRE_RENDER ||
                       cmd == PF_Cmd_SMART_RENDER || cmd == PF_Cmd_RENDER;
  if (!handled) return PF_Err_NONE;
  if (in_data == nullptr || out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;

  switch (cmd) {
    case PF_Cmd_ABOUT:
      return about(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
      return global_setup(in_data, out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
      return global_setdown(in_data, out_data);
    case PF_Cmd_PARAMS_SETUP:
      return params_setup(in_data, out_data);
    case PF_Cmd_SEQUENCE_SETUP:
    case PF_Cmd_SEQUENCE_RESETUP:
      return sequence_setup(in_data, out_data);
    case PF_Cmd_SEQUENCE_SETDOWN:
      return sequence_setdown(in_data, out_data);
    case PF_Cmd_USER_CHANGED_PARAM:
    case PF_Cmd_UPDATE_PARAMS_UI:
      return update_params_ui(in_data, out_data, params);
    case PF_Cmd_SMART_PRE_RENDER:
      return smart_pre_render(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
      return smart_render(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    case PF_Cmd_RENDER:
      return classic_render(in_data, out_data, params, output);
    default:
      return PF_Err_NONE;
  }
}

}  // namespace

PF_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  try {
    return dispatch(cmd, in_data, out_data, params, output, extra);
  } catch (PF_Err& thrown) {
    // Only the suite cache throws, and only this plain code; its unwinding has already
    // given back the suites of the failed handler.
    return thrown;
  }
}
