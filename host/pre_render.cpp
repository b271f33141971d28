// Smart pre-render: records the frame's parameter values in a new RenderRecord handed to the
// host as the frame's pre-render data, checks out the input over exactly the requested area
// and reports the area the output covers. The request is never grown by the radius: pixels
// beyond the input come from the "Outside" rule of the tile stage.
#include <cstring>

#include "host/handlers.h"
#include "host/suite_cache.h"
#include "render/render_record.h"

namespace {

// Parameter indices, as declared at parameter setup.
enum : PF_ParamIndex {
  kRadius = 1,
  kWeight = 2,
  kSpecularBrightness = 3,
  kSpecularThreshold = 4,
  kShape = 6,
  kEdges = 7,
  kPhase = 8,
  kOutside = 11,
};
constexpr PF_ParamIndex kCheckedOut[] = {
    kRadius, kWeight, kSpecularBrightness, kSpecularThreshold, kShape, kEdges, kPhase, kOutside};
constexpr int kParamCount = sizeof kCheckedOut / sizeof kCheckedOut[0];

constexpr double kDegreesToRadians = 0.017453292519943295;

bool rect_empty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

// Merges source into destination: an empty destination takes the source as it is, an empty
// source changes nothing, otherwise the bounding box of both.
void union_rect(const PF_LRect& source, PF_LRect& destination) {
  if (rect_empty(destination)) {
    destination = source;
  } else if (!rect_empty(source)) {
    if (source.left < destination.left) destination.left = source.left;
    if (source.top < destination.top) destination.top = source.top;
    if (source.right > destination.right) destination.right = source.right;
    if (source.bottom > destination.bottom) destination.bottom = source.bottom;
  }
}

// The host calls this once the frame is done with its pre-render data (the record's handle).
void dispose_render_record(void* pre_render_data) {
  auto handle = static_cast<PF_Handle>(pre_render_data);
  if (handle == nullptr || *handle == nullptr) return;
  auto* record = static_cast<RenderRecord*>(*handle);
  if (record->dispose_own_handle != nullptr) record->dispose_own_handle(handle);
}

void fill_record(const PF_InData* in_data, const PF_ParamDef (&values)[kParamCount],
                 RenderRecord& record) {
  const auto dispose = record.dispose_own_handle;
  std::memset(&record, 0, sizeof record);
  record.dispose_own_handle = dispose;

  record.downsample_factor = static_cast<double>(in_data->downsample_x.num) /
                             static_cast<double>(in_data->downsample_x.den);
  record.radius = values[0].u.fs_d.value;
  record.weight_base = values[1].u.fs_d.value * 0.01 + 1.0;
  record.specular_brightness = values[2].u.fs_d.value;
  record.specular_threshold = values[3].u.sd.value;
  record.shape = values[4].u.pd.value;
  record.edges = values[5].u.sd.value;
  record.phase = static_cast<double>(values[6].u.ad.value) / 65536.0 * kDegreesToRadians;
  record.outside_mode = values[7].u.pd.value;
}

}  // namespace

PF_Err smart_pre_render(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
  if (extra == nullptr || extra->input == nullptr || extra->output == nullptr ||
      extra->cb == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  PF_Err err = PF_Err_NONE;
  PF_RenderRequest layer_request = extra->input->output_request;

  SuiteCache suites(in_data->pica_basicP);
  const PF_HandleSuite1* handles = suites.handle();
  PF_Handle record_handle = handles->host_new_handle(sizeof(RenderRecord));
  if (record_handle == nullptr) return PF_Err_OUT_OF_MEMORY;
  auto* record = static_cast<RenderRecord*>(handles->host_lock_handle(record_handle));
  if (record == nullptr) {
    // Never handed over, so nobody else could give it back.
    handles->host_dispose_handle(record_handle);
    return PF_Err_OUT_OF_MEMORY;
  }

  // From here on the record travels with the frame; the host gives it back through
  // dispose_render_record once the frame's render has returned.
  record->dispose_own_handle = handles->host_dispose_handle;
  extra->output->pre_render_data = record_handle;
  extra->output->delete_pre_render_data_func = dispose_render_record;

  PF_ParamDef values[kParamCount];
  std::memset(values, 0, sizeof values);
  int checked_out = 0;
  for (; checked_out < kParamCount && err == PF_Err_NONE; ++checked_out) {
    err = in_data->inter.checkout_param(in_data->effect_ref, kCheckedOut[checked_out],
                                        in_data->current_time, in_data->time_step,
                                        in_data->time_scale, &values[checked_out]);
    if (err != PF_Err_NONE) break;
  }

  PF_CheckoutResult checkout;
  if (err == PF_Err_NONE) {
    layer_request.preserve_rgb_of_zero_alpha = 1;
    std::memset(&checkout, 0, sizeof checkout);
    err =
        extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &layer_request, in_data->current_time,
                                  in_data->time_step, in_data->time_scale, &checkout);
  }
  if (err == PF_Err_NONE) {
    fill_record(in_data, values, *record);
    union_rect(checkout.result_rect, extra->output->result_rect);
    union_rect(checkout.max_result_rect, extra->output->max_result_rect);
  }

  // The values are copied into the record; the host gets its parameter records back.
  for (int i = 0; i < checked_out; ++i)
    in_data->inter.checkin_param(in_data->effect_ref, &values[i]);
  return err;
}
