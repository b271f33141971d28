// The region arithmetic shared by pre-render and the render: the effective blur radius and
// its margin, the input request grown by that margin, and where the output lies inside the
// input the host delivers. Pure functions of the rectangles and the record's values.
#pragma once

#include <cstdint>

#include "api/effect_api.h"
#include "render/render_record.h"

// The largest effective radius the tiling supports: at 1024 a margin of 300 still leaves a
// tile step of 424, and the kernel's rim stays inside the plane.
constexpr double kMaxEffectiveRadius = 300.0;

// Radius x downsample factor, limited to 0..300 (0 when not finite): the blur radius in
// pixels of this render. Only the horizontal ratio enters; it scales both directions.
double effective_radius(double radius, double downsample_factor);

// ceil(radius) as an integer: how far the blur reaches from a pixel.
int32_t margin_of(double radius);

bool rect_empty(const PF_LRect& r);
PF_LRect intersect_rects(const PF_LRect& a, const PF_LRect& b);

// The request grown by margin on every side (limited to the 32-bit range). An empty request
// stays as it is: nothing asked for needs no neighbours.
PF_LRect grow_request(const PF_LRect& request, int32_t margin);

// How far the input rectangle reaches beyond the output rectangle on each side, stored in
// the record's input_beyond_* fields. An empty output, or one not inside the input, gives
// zeros (there is nothing to place).
void place_output_in_input(const PF_LRect& output, const PF_LRect& input, RenderRecord& record);
