// How handlers reach host suites: SuiteCache acquires each suite once per command and gives
// everything back when the handler ends (also while a thrown error code unwinds through it);
// acquire_suite / release_suite are the explicit, message-reporting pair.
#pragma once

#include <cstdint>

#include "api/effect_api.h"

// Throws the plain error code 516 (PF_Err_BAD_CALLBACK_PARAM); the entry function catches it.
[[noreturn]] void suite_missing();

class SuiteCache {
 public:
  // A null basic suite throws 516 before anything is acquired.
  explicit SuiteCache(SPBasicSuite* basic);
  ~SuiteCache();
  SuiteCache(const SuiteCache&) = delete;
  SuiteCache& operator=(const SuiteCache&) = delete;

  // Each accessor acquires its suite on first use and never returns null (it throws 516).
  const PF_HandleSuite1* handle();
  const AEGP_UtilitySuite3* utility();
  const PF_ParamUtilsSuite1* param_utils();
  const PF_Sampling8Suite1* sampling8();
  const PF_Sampling16Suite1* sampling16();
  const PF_SamplingFloatSuite1* sampling_float();

 private:
  enum Slot { kHandle, kUtility, kParamUtils, kSampling8, kSampling16, kSamplingFloat, kSlots };
  const void* get(Slot slot);

  SPBasicSuite* basic_;
  const void* suites_[kSlots] = {};
};

// Acquires one suite outside any cache. Only the returned pointer counts, not the host's
// code. On failure: sets PF_OutFlag_DISPLAY_ERROR_MESSAGE, writes message (or "Not able to
// acquire AEFX Suite.") into return_msg and returns 516.
PF_Err acquire_suite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                     const char* message, const void** suite);

// Releases a suite taken with acquire_suite; 0 whatever the host answers, 516 with the
// message (or "Not able to release AEFX Suite.") when there is no basic suite.
PF_Err release_suite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                     const char* message);
