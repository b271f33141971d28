// The host's record layout, held at compile time: the size of every record and table of
// effect_api.h and the offset of every field and entry the module or the stand-in host
// touches, as the host lays them out on 64-bit Windows and macOS. A record that drifts by a
// byte stops the Linux and the Windows build alike. Included at the end of effect_api.h.
#pragma once

#include <cstddef>

static_assert(sizeof(void*) == 8, "the host's records are laid out for 64-bit code");

#define PF_LAYOUT_SIZE(type, bytes) \
  static_assert(sizeof(type) == (bytes), #type " must be " #bytes " bytes as in the host")
#define PF_LAYOUT_AT(type, field, offset)           \
  static_assert(offsetof(type, field) == (offset), \
                #type "::" #field " must lie at byte " #offset " as in the host")

// Scalars
PF_LAYOUT_SIZE(PF_Boolean, 1);
PF_LAYOUT_SIZE(PF_Fixed, 4);
PF_LAYOUT_SIZE(SPBoolean, 4);
static_assert(static_cast<PF_Boolean>(-1) < 0, "PF_Boolean is a signed char in the host");

// In-data
PF_LAYOUT_SIZE(PF_InData, 408);
PF_LAYOUT_AT(PF_InData, inter, 0);
PF_LAYOUT_AT(PF_InData, utils, 176);
PF_LAYOUT_AT(PF_InData, effect_ref, 184);
PF_LAYOUT_AT(PF_InData, quality, 192);
PF_LAYOUT_AT(PF_InData, version, 196);
PF_LAYOUT_AT(PF_InData, serial_num, 200);
PF_LAYOUT_AT(PF_InData, appl_id, 204);
PF_LAYOUT_AT(PF_InData, num_params, 208);
PF_LAYOUT_AT(PF_InData, reserved, 212);
PF_LAYOUT_AT(PF_InData, what_cpu, 216);
PF_LAYOUT_AT(PF_InData, what_fpu, 220);
PF_LAYOUT_AT(PF_InData, current_time, 224);
PF_LAYOUT_AT(PF_InData, time_step, 228);
PF_LAYOUT_AT(PF_InData, total_time, 232);
PF_LAYOUT_AT(PF_InData, local_time_step, 236);
PF_LAYOUT_AT(PF_InData, time_scale, 240);
PF_LAYOUT_AT(PF_InData, field, 244);
PF_LAYOUT_AT(PF_InData, shutter_angle, 248);
PF_LAYOUT_AT(PF_InData, width, 252);
PF_LAYOUT_AT(PF_InData, height, 256);
PF_LAYOUT_AT(PF_InData, extent_hint, 260);
PF_LAYOUT_AT(PF_InData, output_origin_x, 276);
PF_LAYOUT_AT(PF_InData, output_origin_y, 280);
PF_LAYOUT_AT(PF_InData, downsample_x, 284);
PF_LAYOUT_AT(PF_InData, downsample_y, 292);
PF_LAYOUT_AT(PF_InData, pixel_aspect_ratio, 300);
PF_LAYOUT_AT(PF_InData, in_flags, 308);
PF_LAYOUT_AT(PF_InData, global_data, 312);
PF_LAYOUT_AT(PF_InData, sequence_data, 320);
PF_LAYOUT_AT(PF_InData, frame_data, 328);
PF_LAYOUT_AT(PF_InData, start_sampL, 336);
PF_LAYOUT_AT(PF_InData, dur_sampL, 340);
PF_LAYOUT_AT(PF_InData, total_sampL, 344);
PF_LAYOUT_AT(PF_InData, src_snd, 352);
PF_LAYOUT_AT(PF_InData, pica_basicP, 384);
PF_LAYOUT_AT(PF_InData, pre_effect_source_origin_x, 392);
PF_LAYOUT_AT(PF_InData, pre_effect_source_origin_y, 396);
PF_LAYOUT_AT(PF_InData, shutter_phase, 400);

// Out-data
PF_LAYOUT_SIZE(PF_OutData, 408);
PF_LAYOUT_AT(PF_OutData, my_version, 0);
PF_LAYOUT_AT(PF_OutData, name, 4);
PF_LAYOUT_AT(PF_OutData, global_data, 40);
PF_LAYOUT_AT(PF_OutData, num_params, 48);
PF_LAYOUT_AT(PF_OutData, sequence_data, 56);
PF_LAYOUT_AT(PF_OutData, flat_sdata_size, 64);
PF_LAYOUT_AT(PF_OutData, frame_data, 72);
PF_LAYOUT_AT(PF_OutData, width, 80);
PF_LAYOUT_AT(PF_OutData, height, 84);
PF_LAYOUT_AT(PF_OutData, origin, 88);
PF_LAYOUT_AT(PF_OutData, out_flags, 96);
PF_LAYOUT_AT(PF_OutData, return_msg, 100);
PF_LAYOUT_AT(PF_OutData, start_sampL, 356);
PF_LAYOUT_AT(PF_OutData, dur_sampL, 360);
PF_LAYOUT_AT(PF_OutData, dest_snd, 368);
PF_LAYOUT_AT(PF_OutData, out_flags2, 400);

PF_LAYOUT_SIZE(PF_SpecVersion, 4);
PF_LAYOUT_AT(PF_SpecVersion, minor, 2);
PF_LAYOUT_SIZE(PF_Point, 8);
PF_LAYOUT_AT(PF_Point, v, 4);
PF_LAYOUT_SIZE(PF_SoundFormatInfo, 16);
PF_LAYOUT_AT(PF_SoundFormatInfo, num_channels, 8);
PF_LAYOUT_AT(PF_SoundFormatInfo, format, 10);
PF_LAYOUT_AT(PF_SoundFormatInfo, sample_size, 12);
PF_LAYOUT_SIZE(PF_SoundWorld, 32);
PF_LAYOUT_AT(PF_SoundWorld, num_samples, 16);
PF_LAYOUT_AT(PF_SoundWorld, dataP, 24);

// Callback tables inside the in-data
PF_LAYOUT_SIZE(PF_InteractCallbacks, 176);
PF_LAYOUT_AT(PF_InteractCallbacks, checkout_param, 0);
PF_LAYOUT_AT(PF_InteractCallbacks, checkin_param, 8);
PF_LAYOUT_AT(PF_InteractCallbacks, add_param, 16);
PF_LAYOUT_AT(PF_InteractCallbacks, abort, 24);
PF_LAYOUT_AT(PF_InteractCallbacks, progress, 32);
PF_LAYOUT_AT(PF_InteractCallbacks, register_ui, 40);
PF_LAYOUT_AT(PF_InteractCallbacks, get_audio_data, 64);
PF_LAYOUT_AT(PF_InteractCallbacks, reserved_str, 72);
PF_LAYOUT_AT(PF_InteractCallbacks, reserved, 96);

PF_LAYOUT_SIZE(PF_UtilCallbacks, 552);
PF_LAYOUT_AT(PF_UtilCallbacks, begin_sampling, 0);
PF_LAYOUT_AT(PF_UtilCallbacks, subpixel_sample, 8);
PF_LAYOUT_AT(PF_UtilCallbacks, copy, 64);
PF_LAYOUT_AT(PF_UtilCallbacks, transform_world, 152);
PF_LAYOUT_AT(PF_UtilCallbacks, host_new_handle, 160);
PF_LAYOUT_AT(PF_UtilCallbacks, host_lock_handle, 168);
PF_LAYOUT_AT(PF_UtilCallbacks, host_unlock_handle, 176);
PF_LAYOUT_AT(PF_UtilCallbacks, host_dispose_handle, 184);
PF_LAYOUT_AT(PF_UtilCallbacks, get_callback_addr, 192);
PF_LAYOUT_AT(PF_UtilCallbacks, app, 200);
PF_LAYOUT_AT(PF_UtilCallbacks, ansi, 208);
PF_LAYOUT_AT(PF_UtilCallbacks, colorCB, 368);
PF_LAYOUT_AT(PF_UtilCallbacks, get_platform_data, 432);
PF_LAYOUT_AT(PF_UtilCallbacks, host_get_handle_size, 440);
PF_LAYOUT_AT(PF_UtilCallbacks, host_resize_handle, 464);
PF_LAYOUT_AT(PF_UtilCallbacks, get_pixel_data16, 536);
PF_LAYOUT_AT(PF_UtilCallbacks, reserved, 544);

PF_LAYOUT_SIZE(PF_ANSICallbacks, 160);
PF_LAYOUT_AT(PF_ANSICallbacks, atan, 0);
PF_LAYOUT_AT(PF_ANSICallbacks, atan2, 8);
PF_LAYOUT_AT(PF_ANSICallbacks, ceil, 16);
PF_LAYOUT_AT(PF_ANSICallbacks, cos, 24);
PF_LAYOUT_AT(PF_ANSICallbacks, exp, 32);
PF_LAYOUT_AT(PF_ANSICallbacks, fabs, 40);
PF_LAYOUT_AT(PF_ANSICallbacks, floor, 48);
PF_LAYOUT_AT(PF_ANSICallbacks, fmod, 56);
PF_LAYOUT_AT(PF_ANSICallbacks, hypot, 64);
PF_LAYOUT_AT(PF_ANSICallbacks, log, 72);
PF_LAYOUT_AT(PF_ANSICallbacks, log10, 80);
PF_LAYOUT_AT(PF_ANSICallbacks, pow, 88);
PF_LAYOUT_AT(PF_ANSICallbacks, sin, 96);
PF_LAYOUT_AT(PF_ANSICallbacks, sqrt, 104);
PF_LAYOUT_AT(PF_ANSICallbacks, tan, 112);
PF_LAYOUT_AT(PF_ANSICallbacks, sprintf, 120);
PF_LAYOUT_AT(PF_ANSICallbacks, strcpy, 128);
PF_LAYOUT_AT(PF_ANSICallbacks, asin, 136);
PF_LAYOUT_AT(PF_ANSICallbacks, acos, 144);
PF_LAYOUT_AT(PF_ANSICallbacks, ansi_procs, 152);

PF_LAYOUT_SIZE(PF_ColorCallbacks, 64);
PF_LAYOUT_AT(PF_ColorCallbacks, Saturation, 56);

// Parameters and worlds
PF_LAYOUT_SIZE(PF_ParamDef, 176);
PF_LAYOUT_AT(PF_ParamDef, uu, 0);
PF_LAYOUT_AT(PF_ParamDef, ui_flags, 4);
PF_LAYOUT_AT(PF_ParamDef, ui_width, 8);
PF_LAYOUT_AT(PF_ParamDef, ui_height, 10);
PF_LAYOUT_AT(PF_ParamDef, param_type, 12);
PF_LAYOUT_AT(PF_ParamDef, name, 16);
PF_LAYOUT_AT(PF_ParamDef, flags, 48);
PF_LAYOUT_AT(PF_ParamDef, unused, 52);
PF_LAYOUT_AT(PF_ParamDef, u, 56);
PF_LAYOUT_SIZE(PF_ParamDefUnion, 120);

PF_LAYOUT_SIZE(PF_LayerDef, 120);
PF_LAYOUT_AT(PF_LayerDef, reserved0, 0);
PF_LAYOUT_AT(PF_LayerDef, reserved1, 8);
PF_LAYOUT_AT(PF_LayerDef, world_flags, 16);
PF_LAYOUT_AT(PF_LayerDef, data, 24);
PF_LAYOUT_AT(PF_LayerDef, rowbytes, 32);
PF_LAYOUT_AT(PF_LayerDef, width, 36);
PF_LAYOUT_AT(PF_LayerDef, height, 40);
PF_LAYOUT_AT(PF_LayerDef, extent_hint, 44);
PF_LAYOUT_AT(PF_LayerDef, platform_ref, 64);
PF_LAYOUT_AT(PF_LayerDef, reserved_long1, 72);
PF_LAYOUT_AT(PF_LayerDef, reserved_long4, 80);
PF_LAYOUT_AT(PF_LayerDef, pix_aspect_ratio, 88);
PF_LAYOUT_AT(PF_LayerDef, reserved_long2, 96);
PF_LAYOUT_AT(PF_LayerDef, origin_x, 104);
PF_LAYOUT_AT(PF_LayerDef, origin_y, 108);
PF_LAYOUT_AT(PF_LayerDef, reserved_long3, 112);
PF_LAYOUT_AT(PF_LayerDef, dephault, 116);

PF_LAYOUT_SIZE(PF_SliderDef, 88);
PF_LAYOUT_AT(PF_SliderDef, value, 0);
PF_LAYOUT_AT(PF_SliderDef, value_str, 4);
PF_LAYOUT_AT(PF_SliderDef, value_desc, 36);
PF_LAYOUT_AT(PF_SliderDef, valid_min, 68);
PF_LAYOUT_AT(PF_SliderDef, valid_max, 72);
PF_LAYOUT_AT(PF_SliderDef, slider_min, 76);
PF_LAYOUT_AT(PF_SliderDef, slider_max, 80);
PF_LAYOUT_AT(PF_SliderDef, dephault, 84);

PF_LAYOUT_SIZE(PF_FloatSliderDef, 88);
PF_LAYOUT_AT(PF_FloatSliderDef, value, 0);
PF_LAYOUT_AT(PF_FloatSliderDef, phase, 8);
PF_LAYOUT_AT(PF_FloatSliderDef, value_desc, 16);
PF_LAYOUT_AT(PF_FloatSliderDef, valid_min, 48);
PF_LAYOUT_AT(PF_FloatSliderDef, valid_max, 52);
PF_LAYOUT_AT(PF_FloatSliderDef, slider_min, 56);
PF_LAYOUT_AT(PF_FloatSliderDef, slider_max, 60);
PF_LAYOUT_AT(PF_FloatSliderDef, dephault, 64);
PF_LAYOUT_AT(PF_FloatSliderDef, precision, 68);
PF_LAYOUT_AT(PF_FloatSliderDef, display_flags, 70);
PF_LAYOUT_AT(PF_FloatSliderDef, fs_flags, 72);
PF_LAYOUT_AT(PF_FloatSliderDef, curve_tolerance, 76);
PF_LAYOUT_AT(PF_FloatSliderDef, useExponent, 80);
PF_LAYOUT_AT(PF_FloatSliderDef, exponent, 84);

PF_LAYOUT_SIZE(PF_AngleDef, 16);
PF_LAYOUT_AT(PF_AngleDef, value, 0);
PF_LAYOUT_AT(PF_AngleDef, dephault, 4);
PF_LAYOUT_AT(PF_AngleDef, valid_min, 8);
PF_LAYOUT_AT(PF_AngleDef, valid_max, 12);

PF_LAYOUT_SIZE(PF_PopupDef, 16);
PF_LAYOUT_AT(PF_PopupDef, value, 0);
PF_LAYOUT_AT(PF_PopupDef, num_choices, 4);
PF_LAYOUT_AT(PF_PopupDef, dephault, 6);
PF_LAYOUT_AT(PF_PopupDef, u, 8);

PF_LAYOUT_SIZE(PF_State, 16);
PF_LAYOUT_SIZE(PF_LRect, 16);
PF_LAYOUT_AT(PF_LRect, top, 4);
PF_LAYOUT_AT(PF_LRect, right, 8);
PF_LAYOUT_AT(PF_LRect, bottom, 12);
PF_LAYOUT_SIZE(PF_RationalScale, 8);
PF_LAYOUT_AT(PF_RationalScale, den, 4);
PF_LAYOUT_SIZE(PF_Pixel8, 4);
PF_LAYOUT_AT(PF_Pixel8, red, 1);
PF_LAYOUT_AT(PF_Pixel8, green, 2);
PF_LAYOUT_AT(PF_Pixel8, blue, 3);
PF_LAYOUT_SIZE(PF_Pixel16, 8);
PF_LAYOUT_AT(PF_Pixel16, red, 2);
PF_LAYOUT_AT(PF_Pixel16, green, 4);
PF_LAYOUT_AT(PF_Pixel16, blue, 6);
PF_LAYOUT_SIZE(PF_PixelFloat, 16);
PF_LAYOUT_AT(PF_PixelFloat, red, 4);
PF_LAYOUT_AT(PF_PixelFloat, green, 8);
PF_LAYOUT_AT(PF_PixelFloat, blue, 12);

// Smart pre-render and render
PF_LAYOUT_SIZE(PF_RenderRequest, 44);
PF_LAYOUT_AT(PF_RenderRequest, rect, 0);
PF_LAYOUT_AT(PF_RenderRequest, field, 16);
PF_LAYOUT_AT(PF_RenderRequest, channel_mask, 20);
PF_LAYOUT_AT(PF_RenderRequest, preserve_rgb_of_zero_alpha, 24);
PF_LAYOUT_AT(PF_RenderRequest, unused, 25);
PF_LAYOUT_AT(PF_RenderRequest, reserved, 28);

PF_LAYOUT_SIZE(PF_CheckoutResult, 76);
PF_LAYOUT_AT(PF_CheckoutResult, result_rect, 0);
PF_LAYOUT_AT(PF_CheckoutResult, max_result_rect, 16);
PF_LAYOUT_AT(PF_CheckoutResult, par, 32);
PF_LAYOUT_AT(PF_CheckoutResult, solid, 40);
PF_LAYOUT_AT(PF_CheckoutResult, reservedB, 41);
PF_LAYOUT_AT(PF_CheckoutResult, ref_width, 44);
PF_LAYOUT_AT(PF_CheckoutResult, ref_height, 48);
PF_LAYOUT_AT(PF_CheckoutResult, reserved, 52);

PF_LAYOUT_SIZE(PF_PreRenderInput, 64);
PF_LAYOUT_AT(PF_PreRenderInput, output_request, 0);
PF_LAYOUT_AT(PF_PreRenderInput, bitdepth, 44);
PF_LAYOUT_AT(PF_PreRenderInput, gpu_data, 48);
PF_LAYOUT_AT(PF_PreRenderInput, what_gpu, 56);
PF_LAYOUT_AT(PF_PreRenderInput, device_index, 60);

PF_LAYOUT_SIZE(PF_PreRenderOutput, 56);
PF_LAYOUT_AT(PF_PreRenderOutput, result_rect, 0);
PF_LAYOUT_AT(PF_PreRenderOutput, max_result_rect, 16);
PF_LAYOUT_AT(PF_PreRenderOutput, solid, 32);
PF_LAYOUT_AT(PF_PreRenderOutput, reserved, 33);
PF_LAYOUT_AT(PF_PreRenderOutput, flags, 34);
PF_LAYOUT_AT(PF_PreRenderOutput, pre_render_data, 40);
PF_LAYOUT_AT(PF_PreRenderOutput, delete_pre_render_data_func, 48);

PF_LAYOUT_SIZE(PF_PreRenderCallbacks, 16);
PF_LAYOUT_AT(PF_PreRenderCallbacks, checkout_layer, 0);
PF_LAYOUT_AT(PF_PreRenderCallbacks, GuidMixInPtr, 8);

PF_LAYOUT_SIZE(PF_PreRenderExtra, 24);
PF_LAYOUT_AT(PF_PreRenderExtra, input, 0);
PF_LAYOUT_AT(PF_PreRenderExtra, output, 8);
PF_LAYOUT_AT(PF_PreRenderExtra, cb, 16);

PF_LAYOUT_SIZE(PF_SmartRenderInput, 72);
PF_LAYOUT_AT(PF_SmartRenderInput, output_request, 0);
PF_LAYOUT_AT(PF_SmartRenderInput, bitdepth, 44);
PF_LAYOUT_AT(PF_SmartRenderInput, pre_render_data, 48);
PF_LAYOUT_AT(PF_SmartRenderInput, gpu_data, 56);
PF_LAYOUT_AT(PF_SmartRenderInput, what_gpu, 64);
PF_LAYOUT_AT(PF_SmartRenderInput, device_index, 68);

PF_LAYOUT_SIZE(PF_SmartRenderCallbacks, 24);
PF_LAYOUT_AT(PF_SmartRenderCallbacks, checkout_layer_pixels, 0);
PF_LAYOUT_AT(PF_SmartRenderCallbacks, checkin_layer_pixels, 8);
PF_LAYOUT_AT(PF_SmartRenderCallbacks, checkout_output, 16);

PF_LAYOUT_SIZE(PF_SmartRenderExtra, 16);
PF_LAYOUT_AT(PF_SmartRenderExtra, input, 0);
PF_LAYOUT_AT(PF_SmartRenderExtra, cb, 8);

// Sampling
PF_LAYOUT_SIZE(PF_SampPB, 104);
PF_LAYOUT_AT(PF_SampPB, x_radius, 0);
PF_LAYOUT_AT(PF_SampPB, y_radius, 4);
PF_LAYOUT_AT(PF_SampPB, area, 8);
PF_LAYOUT_AT(PF_SampPB, src, 16);
PF_LAYOUT_AT(PF_SampPB, samp_behave, 24);
PF_LAYOUT_AT(PF_SampPB, allow_asynch, 28);
PF_LAYOUT_AT(PF_SampPB, motion_blur, 32);
PF_LAYOUT_AT(PF_SampPB, comp_mode, 36);
PF_LAYOUT_AT(PF_SampPB, mask0, 48);
PF_LAYOUT_AT(PF_SampPB, fcm_table, 56);
PF_LAYOUT_AT(PF_SampPB, fcd_table, 64);
PF_LAYOUT_AT(PF_SampPB, reserved, 72);
PF_LAYOUT_SIZE(PF_CompositeMode, 12);
PF_LAYOUT_AT(PF_CompositeMode, rand_seed, 4);
PF_LAYOUT_AT(PF_CompositeMode, opacity, 8);
PF_LAYOUT_AT(PF_CompositeMode, rgb_only, 9);
PF_LAYOUT_AT(PF_CompositeMode, opacitySu, 10);

// Suites
PF_LAYOUT_SIZE(SPBasicSuite, 56);
PF_LAYOUT_AT(SPBasicSuite, AcquireSuite, 0);
PF_LAYOUT_AT(SPBasicSuite, ReleaseSuite, 8);
PF_LAYOUT_AT(SPBasicSuite, IsEqual, 16);
PF_LAYOUT_AT(SPBasicSuite, AllocateBlock, 24);
PF_LAYOUT_AT(SPBasicSuite, FreeBlock, 32);
PF_LAYOUT_AT(SPBasicSuite, ReallocateBlock, 40);
PF_LAYOUT_AT(SPBasicSuite, Undefined, 48);

PF_LAYOUT_SIZE(PF_HandleSuite1, 48);
PF_LAYOUT_AT(PF_HandleSuite1, host_new_handle, 0);
PF_LAYOUT_AT(PF_HandleSuite1, host_lock_handle, 8);
PF_LAYOUT_AT(PF_HandleSuite1, host_unlock_handle, 16);
PF_LAYOUT_AT(PF_HandleSuite1, host_dispose_handle, 24);
PF_LAYOUT_AT(PF_HandleSuite1, host_get_handle_size, 32);
PF_LAYOUT_AT(PF_HandleSuite1, host_resize_handle, 40);

PF_LAYOUT_SIZE(AEGP_UtilitySuite3, 200);
PF_LAYOUT_AT(AEGP_UtilitySuite3, AEGP_RegisterWithAEGP, 56);
PF_LAYOUT_AT(AEGP_UtilitySuite3, entries_9_to_25, 64);

PF_LAYOUT_SIZE(PF_ParamUtilsSuite1, 80);
PF_LAYOUT_AT(PF_ParamUtilsSuite1, PF_UpdateParamUI, 0);
PF_LAYOUT_AT(PF_ParamUtilsSuite1, PF_GetCurrentState, 8);
PF_LAYOUT_AT(PF_ParamUtilsSuite1, PF_HasParamChanged, 16);
PF_LAYOUT_AT(PF_ParamUtilsSuite1, PF_KeyIndexToTime, 72);

PF_LAYOUT_SIZE(PF_WorldSuite2, 24);
PF_LAYOUT_AT(PF_WorldSuite2, PF_GetPixelFormat, 16);

PF_LAYOUT_SIZE(PF_Sampling8Suite1, 24);
PF_LAYOUT_AT(PF_Sampling8Suite1, subpixel_sample, 8);
PF_LAYOUT_SIZE(PF_Sampling16Suite1, 24);
PF_LAYOUT_AT(PF_Sampling16Suite1, subpixel_sample16, 8);
PF_LAYOUT_SIZE(PF_SamplingFloatSuite1, 24);
PF_LAYOUT_AT(PF_SamplingFloatSuite1, subpixel_sample_float, 8);

// Constants whose values the host fixes.
static_assert(PF_ParamIndex_NONE == -1 && PF_ParamIndex_CHECK_ALL == -2 &&
              PF_ParamIndex_CHECK_ALL_EXCEPT_LAYER_PARAMS == -3 &&
              PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE == -4);
static_assert(PF_WorldFlag_DEEP == 1 && PF_WorldFlag_WRITEABLE == 2);
static_assert(PF_OutFlag2_SUPPORTS_THREADED_RENDERING == 0x08000000);

#undef PF_LAYOUT_SIZE
#undef PF_LAYOUT_AT
