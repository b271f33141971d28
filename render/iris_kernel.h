// The iris kernels: circle, regular polygon and the image of another layer, drawn into the
// kernel plane at the render's effective radius.
#pragma once

#include <cstdint>

#include "api/effect_api.h"
#include "render/render_record.h"

// The sampling routine of the render's pixel format, as handed over by the driver (only
// the one matching pixel_format is used and needs to be set).
struct IrisSampler {
  PF_ProgPtr effect_ref;
  const PF_Sampling8Suite1* sampling8;
  const PF_Sampling16Suite1* sampling16;
  const PF_SamplingFloatSuite1* sampling_float;
};

struct KernelRequest {
  double radius;  // effective radius R in pixels
  int32_t n;      // tile size
  int32_t shape;  // kShapeCircle, kShapePolygon or kShapeLayer
  int32_t edges;  // polygon corners
  double phase;   // polygon rotation, radians
  int8_t pixel_format;
  const PF_EffectWorld* iris_layer;  // null, or a world whose data may be null (no layer)
};

// Fills every element of the kernel plane and adds every value to kernel_sum, in fill order.
// A "Layer" request without layer pixels draws the circle. Returns 0 or the first error of a
// sampling call. A request that cannot be drawn (n not a power of two, a negative or
// non-finite radius, an unknown shape, a polygon of fewer than 3 edges or a non-finite phase,
// a layer without a sampler for its pixel format) gives PF_Err_BAD_CALLBACK_PARAM and leaves
// the plane and kernel_sum untouched. The ANSI math entries may be null: the platform's
// routines of the same meaning are used then.
PF_Err build_kernel(const KernelRequest& request, const IrisSampler& sampler,
                    const PF_ANSICallbacks& ansi, const ComplexPlane& kernel, double& kernel_sum);
