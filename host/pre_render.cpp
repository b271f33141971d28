// Smart pre-render: records the frame's parameter values in a new RenderRecord handed to the
// host as the frame's pre-render data, checks out the input over the requested area grown by
// the blur's reach (so that the pixels near the request's edges are blurred with the layer's
// real neighbours, and a frame rendered in parts equals the whole), and reports the area the
// output covers: the request, as far as the layer reaches. The "Outside" rule of the tile
// stage then applies only at the layer's own edges.
#include <cstring>

#include "host/handlers.h"
#include "host/render_region.h"
#include "host/render_values.h"
#include "host/suite_cache.h"
#include "render/render_record.h"

namespace {

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

  PF_ParamDef values[kRecordedParamCount];
  std::memset(values, 0, sizeof values);
  int checked_out = 0;
  for (; checked_out < kRecordedParamCount && err == PF_Err_NONE; ++checked_out) {
    err = in_data->inter.checkout_param(in_data->effect_ref, kRecordedParams[checked_out],
                                        in_data->current_time, in_data->time_step,
                                        in_data->time_scale, &values[checked_out]);
    if (err != PF_Err_NONE) break;
  }

  PF_CheckoutResult checkout;
  if (err == PF_Err_NONE) {
    // The blur reaches this far from every output pixel (the render's own radius and
    // margin); the host clips the grown request to the layer.
    const double radius = effective_radius(values[0].u.fs_d.value, downsample_factor_of(in_data));
    layer_request.rect = grow_request(layer_request.rect, margin_of(radius));
    layer_request.preserve_rgb_of_zero_alpha = 1;
    std::memset(&checkout, 0, sizeof checkout);
    err =
        extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &layer_request, in_data->current_time,
                                  in_data->time_step, in_data->time_scale, &checkout);
  }
  if (err == PF_Err_NONE) {
    const PF_ParamDef* const recorded[kRecordedParamCount] = {
        &values[0], &values[1], &values[2], &values[3],
        &values[4], &values[5], &values[6], &values[7]};
    record_parameter_values(in_data, recorded, *record);
    // The output covers the request as far as the layer can deliver it; the input the
    // render receives reaches beyond it by the margins noted in the record.
    const PF_LRect result =
        intersect_rects(extra->input->output_request.rect, checkout.result_rect);
    place_output_in_input(result, checkout.result_rect, *record);
    union_rect(result, extra->output->result_rect);
    union_rect(checkout.max_result_rect, extra->output->max_result_rect);
  }

  // The values are copied into the record; the host gets its parameter records back.
  for (int i = 0; i < checked_out; ++i)
    in_data->inter.checkin_param(in_data->effect_ref, &values[i]);
  return err;
}
