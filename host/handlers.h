// The command handlers the entry function dispatches to, and the global record they share.
#pragma once

#include <cstdint>

#include "api/effect_api.h"

// The content of the global-data handle, from global setup to global setdown.
struct GlobalRecord {
  uint8_t initialized;      // 1 from global setup on; 0 makes the UI rules take a snapshot
  AEGP_PluginID plugin_id;  // written by the AEGP registration (not under Premiere Pro)
};

PF_Err about(PF_InData* in_data, PF_OutData* out_data);
PF_Err global_setup(PF_InData* in_data, PF_OutData* out_data);
PF_Err global_setdown(PF_InData* in_data, PF_OutData* out_data);
PF_Err sequence_setup(PF_InData* in_data, PF_OutData* out_data);
PF_Err sequence_setdown(PF_InData* in_data, PF_OutData* out_data);
PF_Err params_setup(PF_InData* in_data, PF_OutData* out_data);
PF_Err update_params_ui(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);
PF_Err smart_pre_render(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);
PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);
// The render command of hosts without smart rendering (Premiere Pro): the parameter values
// from the array, the input layer as parameter 0, the output world as `output`.
PF_Err classic_render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output);
