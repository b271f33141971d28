// The render, by either command: smart render (After Effects) completes the frame's
// RenderRecord from the checked-out images; the classic render command (Premiere Pro) makes
// the record from the parameter array and the worlds it is handed. From there both plan the
// tiles, take the working planes from host memory, have the iris kernel built and the tile
// stage run, and give everything back before they return. Pixel work lives in render/.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/handlers.h"
#include "host/render_region.h"
#include "host/render_values.h"
#include "host/suite_cache.h"
#include "render/convolve_tiles.h"
#include "render/iris_kernel.h"
#include "render/render_record.h"
#include "render/tile_size.h"

namespace {

constexpr PF_ParamIndex kIrisLayer = 9;

struct PlaneHandles {
  PF_Handle rows = nullptr;  // row table, locked
  PF_Handle data = nullptr;  // n x 2n doubles, reached through the handle without a lock
};

// Everything the render must give back, whatever way it leaves.
struct Borrowed {
  bool world_suite_held = false;
  PlaneHandles rg, ba, kernel;
  PF_Handle fft_work = nullptr;
  PF_Handle fft_table = nullptr;
  PF_Handle colour_table = nullptr;  // 16-bit only: the tile stage's per-render colour values
};

// Values out of their declared ranges (a damaged project) must not make the tiling endless,
// the kernel overflow its plane or a logarithm base vanish; in-range values pass unchanged.
double clamped(double value, double low, double high, double if_not_finite) {
  if (!std::isfinite(value)) return if_not_finite;
  return value < low ? low : (value > high ? high : value);
}
int32_t clamped(int32_t value, int32_t low, int32_t high) {
  return value < low ? low : (value > high ? high : value);
}

void sanitise_parameters(RenderRecord& record) {
  record.edges = clamped(record.edges, 3, 16);
  record.weight_base = clamped(record.weight_base, 1.0, 1.1, 1.0);
  record.specular_brightness = clamped(record.specular_brightness, 1.0, 1.5, 1.0);
  record.specular_threshold = clamped(record.specular_threshold, 0, 255);
  if (record.shape != kShapeCircle && record.shape != kShapePolygon &&
      record.shape != kShapeLayer) {
    record.shape = kShapeCircle;
  }
}

// The host is told a rounded tile count; the walk visits ceil((W + P) / step) per direction
// of the output, so counts may pass this total, which the host tolerates.
int32_t progress_estimate(const RenderRecord& record, int32_t n, double radius,
                          const PF_ANSICallbacks& ansi) {
  const double across = ansi.floor(output_width_of(record) / (n - 2.0 * radius) + 0.5);
  const double down = ansi.floor(output_height_of(record) / (n - 2.0 * radius) + 0.5);
  return static_cast<int32_t>(across * down) + 1;
}

int32_t pixel_size_of(int8_t format) {
  return format == kPixelFormatFloat ? 16 : (format == kPixelFormat16 ? 8 : 4);
}

// Checks the worlds and stores their description in the record. 255 for worlds whose rows or
// heights do not fit each other or the place pre-render gave the output inside the input,
// or whose sizes could not be addressed in 32 bits.
PF_Err describe_worlds(PF_EffectWorld* input, PF_EffectWorld* output, int8_t format,
                       RenderRecord& record) {
  const int32_t pixel_size = pixel_size_of(format);
  record.input_world = input;
  record.output_world = output;
  record.width = input->width;
  record.height = input->height;
  record.input_stride = input->rowbytes / pixel_size;
  record.output_stride = output->rowbytes / pixel_size;
  switch (format) {
    case kPixelFormat8:
      record.input_pixels8 = static_cast<PF_Pixel8*>(input->data);
      record.output_pixels8 = static_cast<PF_Pixel8*>(output->data);
      break;
    case kPixelFormat16:
      record.input_pixels16 = static_cast<PF_Pixel16*>(input->data);
      record.output_pixels16 = static_cast<PF_Pixel16*>(output->data);
      break;
    default:
      record.input_pixels_float = static_cast<PF_PixelFloat*>(input->data);
      record.output_pixels_float = static_cast<PF_PixelFloat*>(output->data);
      break;
  }
  // The output is the input less the margins pre-render found around it (none when the
  // request covered the input); worlds that do not agree with them are not rendered.
  if (record.width < 0 || record.height < 0) return PF_Err_IMAGE_BUFFERS_DONT_FIT;
  const int64_t output_width = int64_t{record.width} - record.input_beyond_left -
                               record.input_beyond_right;
  const int64_t output_height = int64_t{record.height} - record.input_beyond_top -
                                record.input_beyond_bottom;
  if (output_width < 0 || output_height < 0) return PF_Err_IMAGE_BUFFERS_DONT_FIT;
  // Computed in 64 bits: a damaged world must not wrap around into a plausible slack.
  const int64_t input_slack = static_cast<int64_t>(record.input_stride) - record.width;
  const int64_t output_slack = static_cast<int64_t>(record.output_stride) - output_width;
  record.input_slack = static_cast<int32_t>(input_slack);
  record.output_slack = static_cast<int32_t>(output_slack);
  if (input_slack < 0 || output_slack < 0) return PF_Err_IMAGE_BUFFERS_DONT_FIT;
  if (output->height != output_height) return PF_Err_IMAGE_BUFFERS_DONT_FIT;
  // The tile stage addresses pixels as y x stride + x in 32-bit arithmetic.
  const int64_t last_row = record.height > 0 ? record.height - 1 : 0;
  const int64_t wider_stride =
      record.input_stride > record.output_stride ? record.input_stride : record.output_stride;
  if (last_row * wider_stride + wider_stride > INT32_MAX) return PF_Err_IMAGE_BUFFERS_DONT_FIT;
  return PF_Err_NONE;
}

int8_t format_from_code(PF_PixelFormat code) {
  switch (code) {
    case PF_PixelFormat_ARGB128:
      return kPixelFormatFloat;
    case PF_PixelFormat_ARGB64:
      return kPixelFormat16;
    case PF_PixelFormat_ARGB32:
      return kPixelFormat8;
    default:
      return -1;
  }
}

// A row table (locked at once) and its data block; false when the host has no memory.
bool allocate_plane(const PF_UtilCallbacks& utils, int32_t n, PlaneHandles& handles,
                    ComplexPlane& plane) {
  handles.rows = utils.host_new_handle(sizeof(double*) * static_cast<uint64_t>(n));
  if (handles.rows == nullptr) return false;
  plane.rows = static_cast<double**>(utils.host_lock_handle(handles.rows));
  if (plane.rows == nullptr) return false;
  handles.data = utils.host_new_handle(sizeof(double) * plane_block_doubles(n));
  if (handles.data == nullptr || *handles.data == nullptr) return false;
  double* data = plane_first_row(static_cast<double*>(*handles.data));
  for (int32_t r = 0; r < n; ++r) plane.rows[r] = data + static_cast<int64_t>(2) * n * r;
  return true;
}

bool allocate_working_storage(const PF_UtilCallbacks& utils, int32_t n, int8_t format,
                              Borrowed& borrowed, WorkingPlanes& planes) {
  if (!allocate_plane(utils, n, borrowed.rg, planes.rg)) return false;
  if (!allocate_plane(utils, n, borrowed.ba, planes.ba)) return false;
  if (!allocate_plane(utils, n, borrowed.kernel, planes.kernel)) return false;
  borrowed.fft_work = utils.host_new_handle(sizeof(int32_t) * fft_work_entries(n));
  if (borrowed.fft_work == nullptr || *borrowed.fft_work == nullptr) return false;
  planes.fft_work = static_cast<int32_t*>(*borrowed.fft_work);
  planes.fft_work[0] = 0;  // no table yet: the kernel's transform builds it
  borrowed.fft_table = utils.host_new_handle(sizeof(double) * fft_table_entries(n));
  if (borrowed.fft_table == nullptr || *borrowed.fft_table == nullptr) return false;
  planes.fft_table = static_cast<double*>(*borrowed.fft_table);
  if (const int32_t entries = colour_table_entries(format); entries > 0) {
    borrowed.colour_table = utils.host_new_handle(sizeof(double) * entries);
    if (borrowed.colour_table == nullptr || *borrowed.colour_table == nullptr) return false;
    planes.colour_table = static_cast<double*>(*borrowed.colour_table);
  }
  return true;
}

void dispose(const PF_UtilCallbacks& utils, PF_Handle& handle) {
  if (handle != nullptr) utils.host_dispose_handle(handle);
  handle = nullptr;
}

void give_back_working_storage(const PF_UtilCallbacks& utils, Borrowed& borrowed) {
  dispose(utils, borrowed.colour_table);
  dispose(utils, borrowed.fft_work);
  dispose(utils, borrowed.fft_table);
  dispose(utils, borrowed.kernel.rows);
  dispose(utils, borrowed.kernel.data);
  dispose(utils, borrowed.ba.rows);
  dispose(utils, borrowed.ba.data);
  dispose(utils, borrowed.rg.rows);
  dispose(utils, borrowed.rg.data);
}

// The sampler of the render's pixel format. A missing suite is taken as the render's error
// here, not thrown past the working storage and the acquired World suite.
PF_Err fetch_sampler(SuiteCache& suites, int8_t format, IrisSampler& sampler) {
  try {
    if (format == kPixelFormat8) sampler.sampling8 = suites.sampling8();
    if (format == kPixelFormat16) sampler.sampling16 = suites.sampling16();
    if (format == kPixelFormatFloat) sampler.sampling_float = suites.sampling_float();
  } catch (PF_Err& thrown) {
    return thrown;
  }
  return PF_Err_NONE;
}

// What a render keeps track of until it has given everything back: what it borrowed, whether
// the frame went through the tile stage, and the progress count and total.
struct RenderState {
  Borrowed borrowed;
  bool walked = false;
  int32_t progress_count = 0;
  int32_t progress_total = 0;
};

PF_Err render_worlds(PF_InData* in_data, PF_OutData* out_data, SuiteCache& suites,
                     RenderRecord& record, PF_EffectWorld* input, PF_EffectWorld* output,
                     int8_t format, RenderState& state);

// Smart render up to the worlds: the checkouts and the pixel format the World suite reports.
PF_Err render_smart_frame(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra,
                          SuiteCache& suites, RenderRecord& record, RenderState& state) {
  Borrowed& borrowed = state.borrowed;
  PF_Err err = PF_Err_NONE;

  PF_EffectWorld* input = nullptr;
  PF_EffectWorld* output = nullptr;
  err = extra->cb->checkout_layer_pixels(in_data->effect_ref, 0, &input);
  if (err == PF_Err_NONE) err = extra->cb->checkout_output(in_data->effect_ref, &output);
  const PF_WorldSuite2* world_suite = nullptr;
  if (err == PF_Err_NONE) {
    err = acquire_suite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                        "Couldn't load suite.", reinterpret_cast<const void**>(&world_suite));
    borrowed.world_suite_held = err == PF_Err_NONE;
  }
  PF_PixelFormat format_code = PF_PixelFormat_INVALID;
  if (err == PF_Err_NONE && input != nullptr) {
    err = world_suite->PF_GetPixelFormat(input, &format_code);
  }
  // A failed checkout, acquisition or query leaves the invalid code and ends here too.
  const int8_t format = format_from_code(format_code);
  if (format < 0) return PF_Err_BAD_CALLBACK_PARAM;
  return render_worlds(in_data, out_data, suites, record, input, output, format, state);
}

// The render from the worlds on, the same for both commands. Whatever it borrows is noted in
// the state for the caller to give back.
PF_Err render_worlds(PF_InData* in_data, PF_OutData* out_data, SuiteCache& suites,
                     RenderRecord& record, PF_EffectWorld* input, PF_EffectWorld* output,
                     int8_t format, RenderState& state) {
  const PF_UtilCallbacks& utils = *in_data->utils;
  Borrowed& borrowed = state.borrowed;
  int32_t& progress_count = state.progress_count;
  int32_t& progress_total = state.progress_total;
  PF_Err err = PF_Err_NONE;
  // A checkout that succeeded without a world or without pixels cannot be rendered.
  if (input == nullptr || output == nullptr || input->data == nullptr || output->data == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  record.pixel_format = format;
  if (PF_Err fit = describe_worlds(input, output, format, record)) return fit;

  PF_ParamDef iris_layer;
  std::memset(&iris_layer, 0, sizeof iris_layer);

  // Only the horizontal ratio enters; it scales both directions.
  const double radius = effective_radius(record.radius, record.downsample_factor);
  const int32_t output_width = output_width_of(record);
  const int32_t output_height = output_height_of(record);
  if (radius == 0.0) {
    // Pre-render grows no request for a radius of 0, so the input is the output's area;
    // should it reach further all the same, the output's part of it is copied.
    if (record.input_beyond_left == 0 && record.input_beyond_top == 0 &&
        record.input_beyond_right == 0 && record.input_beyond_bottom == 0) {
      return utils.copy(in_data->effect_ref, input, output, nullptr, nullptr);
    }
    PF_Rect part{record.input_beyond_left, record.input_beyond_top,
                 record.input_beyond_left + output_width, record.input_beyond_top + output_height};
    return utils.copy(in_data->effect_ref, input, output, &part, nullptr);
  }
  // Nothing to write, and the outside rules need at least one pixel to fold onto.
  if (output_width == 0 || output_height == 0) return PF_Err_NONE;
  sanitise_parameters(record);

  const auto margin = static_cast<int32_t>(utils.ansi.ceil(radius));
  const int32_t n =
      tile_size_for(output_width > output_height ? output_width : output_height, margin);
  progress_total = progress_estimate(record, n, radius, utils.ansi);
  progress_count = 0;
  err = in_data->inter.progress(in_data->effect_ref, 0, progress_total);

  WorkingPlanes planes{};
  if (err == PF_Err_NONE && !allocate_working_storage(utils, n, format, borrowed, planes)) {
    utils.ansi.strcpy(out_data->return_msg, "Memory Error!");
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }

  bool layer_checked_out = false;
  if (err == PF_Err_NONE) {
    err = in_data->inter.checkout_param(in_data->effect_ref, kIrisLayer, in_data->current_time,
                                        in_data->time_step, in_data->time_scale, &iris_layer);
    layer_checked_out = true;
  }
  if (err == PF_Err_NONE) err = in_data->inter.abort(in_data->effect_ref);

  double kernel_sum = 0.0;
  if (err == PF_Err_NONE) {
    const bool layer_iris = record.shape == kShapeLayer && iris_layer.u.ld.data != nullptr;
    IrisSampler sampler{in_data->effect_ref, nullptr, nullptr, nullptr};
    if (layer_iris) err = fetch_sampler(suites, format, sampler);
    if (err == PF_Err_NONE) {
      const KernelRequest request{radius,
                                  n,
                                  layer_iris ? kShapeLayer : record.shape,
                                  record.edges,
                                  record.phase,
                                  format,
                                  &iris_layer.u.ld};
      err = build_kernel(request, sampler, utils.ansi, planes.kernel, kernel_sum);
    }
  }
  // Given back whether or not the checkout succeeded; its result does not matter.
  if (layer_checked_out) in_data->inter.checkin_param(in_data->effect_ref, &iris_layer);

  // With an error pending the tile stage would neither transform nor walk anything.
  if (err != PF_Err_NONE) return err;
  const TileHost host{in_data->effect_ref, in_data->inter.progress, &utils.ansi};
  state.walked = true;
  return convolve_tiles(record, n, margin, planes, kernel_sum, progress_count, progress_total, host,
                        err);
}

// Gives back what the render borrowed and makes the final progress report. Clean-up errors
// never replace the code already being returned.
PF_Err finish_render(PF_InData* in_data, PF_OutData* out_data, RenderState& state, PF_Err err) {
  if (state.borrowed.world_suite_held) {
    const PF_Err released = release_suite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                                          "Couldn't release suite.");
    if (err == PF_Err_NONE) err = released;
  }
  give_back_working_storage(*in_data->utils, state.borrowed);
  if (state.walked) {
    state.progress_count = state.progress_total;
    if (err == PF_Err_NONE) {
      err = in_data->inter.progress(in_data->effect_ref, state.progress_total,
                                    state.progress_total);
    }
  }
  return err;
}

// The classic render is handed worlds without a pixel format code: a deep world is 16-bit,
// any other 8-bit (a host using this command has no float worlds in this interface).
int8_t format_from_world_flags(const PF_EffectWorld& world) {
  return (world.world_flags & PF_WorldFlag_DEEP) != 0 ? kPixelFormat16 : kPixelFormat8;
}

}  // namespace

PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
  if (extra == nullptr || extra->input == nullptr || extra->cb == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  SuiteCache suites(in_data->pica_basicP);
  auto record_handle = static_cast<PF_Handle>(extra->input->pre_render_data);
  if (record_handle == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  auto* record = static_cast<RenderRecord*>(suites.handle()->host_lock_handle(record_handle));
  if (record == nullptr) return PF_Err_BAD_CALLBACK_PARAM;

  RenderState state;
  const PF_Err err = render_smart_frame(in_data, out_data, extra, suites, *record, state);
  return finish_render(in_data, out_data, state, err);
}

PF_Err classic_render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output) {
  // The array must hold the input layer and every declared parameter (the last, "Outside",
  // is index 11).
  constexpr int32_t kArrayLength = 12;
  if (params == nullptr || output == nullptr || in_data->num_params < kArrayLength ||
      params[0] == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const PF_ParamDef* recorded[kRecordedParamCount];
  for (int i = 0; i < kRecordedParamCount; ++i) {
    recorded[i] = params[kRecordedParams[i]];
    if (recorded[i] == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  }
  SuiteCache suites(in_data->pica_basicP);
  // The frame's record lives for this command only: the whole frame is rendered, so the
  // output covers the input and the record's margins stay 0.
  RenderRecord record{};
  record_parameter_values(in_data, recorded, record);
  PF_EffectWorld* input = &params[0]->u.ld;

  RenderState state;
  const PF_Err err = render_worlds(in_data, out_data, suites, record, input, output,
                                   format_from_world_flags(*input), state);
  return finish_render(in_data, out_data, state, err);
}
