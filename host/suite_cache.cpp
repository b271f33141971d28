// The per-command suite cache and the explicit suite helper.
#include "host/suite_cache.h"

namespace {

struct SuiteName {
  const char* name;
  int32_t version;
};

// Indexed by SuiteCache::Slot.
constexpr SuiteName kSuiteNames[] = {
    {kPFHandleSuite, kPFHandleSuiteVersion2},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion2},
    {kPFSampling8Suite, kPFSampling8SuiteVersion1},
    {kPFSampling16Suite, kPFSampling16SuiteVersion1},
    {kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1},
};

// The message is the whole text: it carries no conversions, so it is safe as a format.
void report_suite_failure(PF_InData* in_data, PF_OutData* out_data, const char* message) {
  if (out_data == nullptr) return;
  out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
  if (in_data != nullptr && in_data->utils != nullptr && in_data->utils->ansi.sprintf != nullptr) {
    in_data->utils->ansi.sprintf(out_data->return_msg, message);
  }
}

}  // namespace

void suite_missing() { throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM); }

SuiteCache::SuiteCache(SPBasicSuite* basic) : basic_(basic) {
  if (basic_ == nullptr) suite_missing();
}

SuiteCache::~SuiteCache() {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (suites_[slot] != nullptr) {
      basic_->ReleaseSuite(kSuiteNames[slot].name, kSuiteNames[slot].version);
    }
  }
}

const void* SuiteCache::get(Slot slot) {
  if (suites_[slot] != nullptr) return suites_[slot];
  const void* suite = nullptr;
  if (basic_->AcquireSuite(kSuiteNames[slot].name, kSuiteNames[slot].version, &suite) != 0 ||
      suite == nullptr) {
    // A failed acquisition is never stored, so it is never released either.
    suite_missing();
  }
  suites_[slot] = suite;
  return suite;
}

const PF_HandleSuite1* SuiteCache::handle() {
  return static_cast<const PF_HandleSuite1*>(get(kHandle));
}
const AEGP_UtilitySuite3* SuiteCache::utility() {
  return static_cast<const AEGP_UtilitySuite3*>(get(kUtility));
}
const PF_ParamUtilsSuite1* SuiteCache::param_utils() {
  return static_cast<const PF_ParamUtilsSuite1*>(get(kParamUtils));
}
const PF_Sampling8Suite1* SuiteCache::sampling8() {
  return static_cast<const PF_Sampling8Suite1*>(get(kSampling8));
}
const PF_Sampling16Suite1* SuiteCache::sampling16() {
  return static_cast<const PF_Sampling16Suite1*>(get(kSampling16));
}
const PF_SamplingFloatSuite1* SuiteCache::sampling_float() {
  return static_cast<const PF_SamplingFloatSuite1*>(get(kSamplingFloat));
}

PF_Err acquire_suite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                     const char* message, const void** suite) {
  *suite = nullptr;
  if (in_data != nullptr && in_data->pica_basicP != nullptr) {
    in_data->pica_basicP->AcquireSuite(name, version, suite);
    if (*suite != nullptr) return PF_Err_NONE;
  }
  report_suite_failure(in_data, out_data,
                       message != nullptr ? message : "Not able to acquire AEFX Suite.");
  return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err release_suite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                     const char* message) {
  if (in_data != nullptr && in_data->pica_basicP != nullptr) {
    in_data->pica_basicP->ReleaseSuite(name, version);
    return PF_Err_NONE;
  }
  report_suite_failure(in_data, out_data,
                       message != nullptr ? message : "Not able to release AEFX Suite.");
  return PF_Err_BAD_CALLBACK_PARAM;
}
