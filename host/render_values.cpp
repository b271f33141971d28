// Parameter values into the RenderRecord (render_values.h).
#include "host/render_values.h"

#include <cstring>

namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;

}  // namespace

double downsample_factor_of(const PF_InData* in_data) {
  return static_cast<double>(in_data->downsample_x.num) /
         static_cast<double>(in_data->downsample_x.den);
}

void record_parameter_values(const PF_InData* in_data,
                             const PF_ParamDef* const (&values)[kRecordedParamCount],
                             RenderRecord& record) {
  const auto dispose = record.dispose_own_handle;
  std::memset(&record, 0, sizeof record);
  record.dispose_own_handle = dispose;

  record.downsample_factor = downsample_factor_of(in_data);
  record.radius = values[0]->u.fs_d.value;
  record.weight_base = values[1]->u.fs_d.value * 0.01 + 1.0;
  record.specular_brightness = values[2]->u.fs_d.value;
  record.specular_threshold = values[3]->u.sd.value;
  record.shape = values[4]->u.pd.value;
  record.edges = values[5]->u.sd.value;
  record.phase = static_cast<double>(values[6]->u.ad.value) / 65536.0 * kDegreesToRadians;
  record.outside_mode = values[7]->u.pd.value;
}
