// The parameter values a render works from, as both render paths take them into the
// RenderRecord: smart pre-render from its checkouts, the classic render from the parameter
// array the host hands over. One conversion, so both paths render the same frame alike.
#pragma once

#include "api/effect_api.h"
#include "render/render_record.h"

// The parameters the record holds, in the order pre-render checks them out: "Radius",
// "Weight", "Specular Brightness", "Specular Threshold", "Shape", "Edges", "Phase", "Outside".
constexpr PF_ParamIndex kRecordedParams[] = {1, 2, 3, 4, 6, 7, 8, 11};
constexpr int kRecordedParamCount = sizeof kRecordedParams / sizeof kRecordedParams[0];

// The host's horizontal downsample ratio as a factor.
double downsample_factor_of(const PF_InData* in_data);

// Clears the record to zero (keeping only dispose_own_handle) and fills its parameter fields
// from the values of kRecordedParams, in that order, and the in-data's downsample ratio.
void record_parameter_values(const PF_InData* in_data,
                             const PF_ParamDef* const (&values)[kRecordedParamCount],
                             RenderRecord& record);
