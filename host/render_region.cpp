// Region arithmetic of pre-render and the render (render_region.h).
#include "host/render_region.h"

#include <cmath>

double effective_radius(double radius_value, double downsample_factor) {
  const double radius = radius_value * downsample_factor;
  if (!std::isfinite(radius)) return 0.0;
  return radius < 0.0 ? 0.0 : (radius > kMaxEffectiveRadius ? kMaxEffectiveRadius : radius);
}

int32_t margin_of(double radius) { return static_cast<int32_t>(std::ceil(radius)); }

bool rect_empty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

PF_LRect intersect_rects(const PF_LRect& a, const PF_LRect& b) {
  return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
          a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}

namespace {

int32_t shifted(int32_t edge, int64_t by) {
  const int64_t v = int64_t{edge} + by;
  return v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v));
}

}  // namespace

PF_LRect grow_request(const PF_LRect& request, int32_t margin) {
  if (rect_empty(request) || margin <= 0) return request;
  return {shifted(request.left, -margin), shifted(request.top, -margin),
          shifted(request.right, margin), shifted(request.bottom, margin)};
}

void place_output_in_input(const PF_LRect& output, const PF_LRect& input, RenderRecord& record) {
  record.input_beyond_left = record.input_beyond_top = 0;
  record.input_beyond_right = record.input_beyond_bottom = 0;
  if (rect_empty(output) || rect_empty(input)) return;
  if (output.left < input.left || output.top < input.top || output.right > input.right ||
      output.bottom > input.bottom) {
    return;
  }
  // Differences of edges inside one another fit in 32 bits only when the input's own size
  // does; a larger input cannot be addressed by the render anyway and is refused there.
  const int64_t left = int64_t{output.left} - input.left;
  const int64_t top = int64_t{output.top} - input.top;
  const int64_t right = int64_t{input.right} - output.right;
  const int64_t bottom = int64_t{input.bottom} - output.bottom;
  if (left > INT32_MAX || top > INT32_MAX || right > INT32_MAX || bottom > INT32_MAX) return;
  record.input_beyond_left = static_cast<int32_t>(left);
  record.input_beyond_top = static_cast<int32_t>(top);
  record.input_beyond_right = static_cast<int32_t>(right);
  record.input_beyond_bottom = static_cast<int32_t>(bottom);
}
