// The small lifecycle commands: About, global setup and setdown, sequence setup, resetup and
// setdown. The global and sequence handles are the only state that outlives a command.
#include <cstdint>

#include "host/handlers.h"
#include "host/suite_cache.h"
#include "pipl_values.h"  // generated from the property list, so both always agree

PF_Err about(PF_InData* in_data, PF_OutData* out_data) {
  in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d%d\r%s", "Orvaneworks", 1, 0, 0,
                               "Imagination!");
  return PF_Err_NONE;
}

PF_Err global_setup(PF_InData* in_data, PF_OutData* out_data) {
  PF_Err err = PF_Err_NONE;
  SuiteCache suites(in_data->pica_basicP);

  out_data->my_version = kPiplEffectVersion;
  out_data->out_flags = kPiplGlobalOutFlags;
  out_data->out_flags2 |= kPiplGlobalOutFlags2;

  const PF_HandleSuite1* handles = suites.handle();
  PF_Handle global = handles->host_new_handle(sizeof(GlobalRecord));
  if (global == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;

  bool stored = false;
  auto* record = static_cast<GlobalRecord*>(handles->host_lock_handle(global));
  if (record != nullptr) {
    record->initialized = 1;
    if (in_data->appl_id != PF_APPL_ID_PREMIERE) {
      // The Utility suite is fetched here, with the handle still unstored: a missing suite
      // must not leak it, so its error is taken as the result instead of unwinding past it.
      const AEGP_UtilitySuite3* utility = nullptr;
      try {
        utility = suites.utility();
      } catch (PF_Err& thrown) {
        err = thrown;
      }
      if (utility != nullptr) {
        err = utility->AEGP_RegisterWithAEGP(nullptr, "Error!", &record->plugin_id);
      }
    }
    if (err == PF_Err_NONE) {
      out_data->global_data = global;
      stored = true;
    }
  }
  // Only a lock that was granted is undone: unlocking a handle never locked unbalances the
  // host's lock count.
  if (record != nullptr) handles->host_unlock_handle(global);
  // Nobody else will ever see a handle that was not stored: give it back.
  if (!stored) handles->host_dispose_handle(global);
  return err;
}

PF_Err global_setdown(PF_InData* in_data, PF_OutData* /*out_data*/) {
  SuiteCache suites(in_data->pica_basicP);
  if (in_data->global_data != nullptr) suites.handle()->host_dispose_handle(in_data->global_data);
  return PF_Err_NONE;
}

PF_Err sequence_setdown(PF_InData* in_data, PF_OutData* /*out_data*/) {
  if (in_data->sequence_data == nullptr) return PF_Err_NONE;
  SuiteCache suites(in_data->pica_basicP);
  suites.handle()->host_dispose_handle(in_data->sequence_data);
  return PF_Err_NONE;
}

PF_Err sequence_setup(PF_InData* in_data, PF_OutData* out_data) {
  // Until the old record is disposed it is still ours: should anything fail before then,
  // the host keeps it (and disposes it at setdown) instead of losing it.
  out_data->sequence_data = in_data->sequence_data;
  SuiteCache suites(in_data->pica_basicP);

  PF_Handle previous = in_data->sequence_data;
  PF_Err err = sequence_setdown(in_data, out_data);
  if (err != PF_Err_NONE) return err;
  if (previous != nullptr) {
    // The old record is gone; should no new one be made, the host must not be handed the
    // disposed handle back.
    in_data->sequence_data = nullptr;
    if (out_data->sequence_data == previous) out_data->sequence_data = nullptr;
  }

  const PF_HandleSuite1* handles = suites.handle();
  PF_Handle sequence = handles->host_new_handle(1);
  if (sequence == nullptr) return PF_Err_OUT_OF_MEMORY;
  if (auto* flag = static_cast<uint8_t*>(handles->host_lock_handle(sequence))) {
    *flag = 0;
    out_data->sequence_data = sequence;
    handles->host_unlock_handle(sequence);
  } else {
    // Not stored, so never seen again: give it back rather than leak it.
    handles->host_dispose_handle(sequence);
  }
  return PF_Err_NONE;
}
