// Keeps the enabled state of the iris controls (Edges, Phase, Iris Layer) in step with
// Shape, and keeps a snapshot of the parameter state in the sequence data while doing so.
#include <cstdint>

#include "host/handlers.h"
#include "host/suite_cache.h"

namespace {

constexpr PF_ParamIndex kShapeIndex = 6;
constexpr PF_ParamIndex kFirstIrisIndex = 7;  // Edges, Phase, Iris Layer follow in order
constexpr int kIrisCount = 3;

struct IrisControl {
  PF_ParamType type;
  const char* name;
};
constexpr IrisControl kIrisControls[kIrisCount] = {
    {PF_Param_SLIDER, "Edges"}, {PF_Param_ANGLE, "Phase"}, {PF_Param_LAYER, "Layer"}};

// Which controls Shape leaves disabled: Edges and Phase matter only to the polygon, the
// layer only to the layer-shaped iris.
enum class Outcome { kAllDisabled, kLayerEnabled, kLayerDisabled };

Outcome outcome_for(int32_t shape, PF_Err err) {
  if (err != PF_Err_NONE) return Outcome::kLayerDisabled;
  if (shape == 1) return Outcome::kAllDisabled;
  if (shape == 3) return Outcome::kLayerEnabled;
  return Outcome::kLayerDisabled;  // Polygon, and any value the popup should not hold
}

// The change test. A record too short for a PF_State (the one-byte record of sequence
// setup, or none at all) cannot be compared and counts as changed. The host's version 2 of
// the suite checks every parameter whatever index it is given; -3 asks for all but layers
// from a host that honours it.
PF_Err test_for_change(const PF_InData* in_data, SuiteCache& suites, PF_Boolean& changed) {
  changed = 0;
  PF_Handle sequence = in_data->sequence_data;
  if (sequence == nullptr || *sequence == nullptr ||
      suites.handle()->host_get_handle_size(sequence) < sizeof(PF_State)) {
    changed = 1;
    return PF_Err_NONE;
  }
  return suites.param_utils()->PF_HasParamChanged(
      in_data->effect_ref, static_cast<const PF_State*>(*sequence),
      PF_ParamIndex_CHECK_ALL_EXCEPT_LAYER_PARAMS, &changed);
}

// Replaces the sequence data by a fresh snapshot. A handle that cannot be had is not an
// error; one whose snapshot fails is given back and the old sequence data stays.
PF_Err take_snapshot(PF_InData* in_data, PF_OutData* out_data, SuiteCache& suites) {
  // Both suites are fetched before the allocation: a missing one unwinds from here, and
  // must not strand the fresh handle.
  const PF_HandleSuite1* handles = suites.handle();
  const PF_ParamUtilsSuite1* param_utils = suites.param_utils();
  PF_Handle fresh = in_data->utils->host_new_handle(sizeof(PF_State));
  if (fresh == nullptr) return PF_Err_NONE;
  if (*fresh == nullptr) {
    handles->host_dispose_handle(fresh);
    return PF_Err_NONE;
  }
  PF_Err err = param_utils->PF_GetCurrentState(in_data->effect_ref, static_cast<PF_State*>(*fresh));
  if (err != PF_Err_NONE) {
    handles->host_dispose_handle(fresh);
    return err;
  }
  if (in_data->sequence_data != nullptr) handles->host_dispose_handle(in_data->sequence_data);
  out_data->sequence_data = fresh;
  in_data->sequence_data = fresh;
  return PF_Err_NONE;
}

}  // namespace

PF_Err update_params_ui(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]) {
  PF_Err err = PF_Err_NONE;
  GlobalRecord* global =
      in_data->global_data != nullptr ? static_cast<GlobalRecord*>(*in_data->global_data) : nullptr;
  SuiteCache suites(in_data->pica_basicP);

  if (params == nullptr || params[kShapeIndex] == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  PF_ParamDef copies[kIrisCount];
  for (int i = 0; i < kIrisCount; ++i) {
    if (params[kFirstIrisIndex + i] == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    copies[i] = *params[kFirstIrisIndex + i];
  }

  if (global != nullptr) {
    PF_Boolean changed = 0;
    err = test_for_change(in_data, suites, changed);
    if (err == PF_Err_NONE && (changed || global->initialized == 0)) {
      err = take_snapshot(in_data, out_data, suites);
    }

    const Outcome outcome = outcome_for(params[kShapeIndex]->u.pd.value, err);
    for (int i = 0; i < kIrisCount; ++i) {
      const bool disabled =
          outcome == Outcome::kAllDisabled || (outcome == Outcome::kLayerEnabled ? i < 2 : i == 2);
      PF_ParamDef& copy = copies[i];
      copy.param_type = kIrisControls[i].type;
      in_data->utils->ansi.strcpy(copy.name, kIrisControls[i].name);
      if (disabled) {
        copy.ui_flags |= PF_PUI_DISABLED;
      } else {
        copy.ui_flags &= ~PF_PUI_DISABLED;
      }
      if (err == PF_Err_NONE) {
        err =
            suites.param_utils()->PF_UpdateParamUI(in_data->effect_ref, kFirstIrisIndex + i, &copy);
      }
    }
    if (outcome == Outcome::kLayerDisabled && err != PF_Err_NONE) {
      in_data->utils->ansi.strcpy(out_data->return_msg, "ERROR");
      out_data->out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    }
    if (err == PF_Err_NONE) global->initialized = 1;
  }

  out_data->out_flags |= PF_OutFlag_REFRESH_UI;
  return err;
}
