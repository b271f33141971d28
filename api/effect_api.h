// The host's effect interface as this module and our stand-in host use it: error codes,
// command selectors, flags, parameter records, effect worlds, pixel types, the smart
// pre-render/render records and the host's callback tables. Our own layer, with the host's
// names and numeric values, and every record laid out as the host lays it out in memory
// (64-bit Windows and macOS): entries the module never calls keep their places as opaque
// pointers, reserved space as arrays of its size. The static_asserts at the end hold every
// size and offset to the host's numbers, so a record that drifts stops the build.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PF_EXPORT extern "C" __declspec(dllexport)
#else
#define PF_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// ---------------------------------------------------------------------------------------
// Scalars
// ---------------------------------------------------------------------------------------

typedef int32_t PF_Err;
typedef int32_t PF_Fixed;  // 16.16 signed fixed point
typedef int8_t PF_Boolean;  // a signed char in the host
typedef int32_t PF_ParamIndex;
typedef int32_t PF_ParamType;
typedef int32_t PF_ParamUIFlags;
typedef int32_t PF_ParamFlags;
typedef int32_t PF_Cmd;
typedef int32_t PF_OutFlags;
typedef int32_t PF_OutFlags2;
typedef int32_t PF_PixelFormat;
typedef int32_t PF_Field;
typedef int32_t PF_ChannelMask;
typedef void** PF_Handle;  // a master pointer: *handle reaches the block without a lock
typedef struct PF_ProgressInfo* PF_ProgPtr;  // opaque; the host's reference to the frame

// Four-character codes are stored with the first character in the most significant byte.
constexpr int32_t pf_four_cc(char a, char b, char c, char d) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
                              static_cast<uint32_t>(static_cast<uint8_t>(d)));
}

constexpr int32_t PF_APPL_ID_PREMIERE = pf_four_cc('P', 'r', 'M', 'r');  // 0x50724D72

// ---------------------------------------------------------------------------------------
// Error codes
// ---------------------------------------------------------------------------------------

enum : PF_Err {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
};

// The render's own code for input and output images whose rows or heights do not fit.
constexpr PF_Err PF_Err_IMAGE_BUFFERS_DONT_FIT = 255;

// ---------------------------------------------------------------------------------------
// Command selectors
// ---------------------------------------------------------------------------------------

enum : PF_Cmd {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
  PF_Cmd_SMART_PRE_RENDER = 23,
  PF_Cmd_SMART_RENDER = 24,
};

// ---------------------------------------------------------------------------------------
// Flags
// ---------------------------------------------------------------------------------------

enum : PF_OutFlags {
  PF_OutFlag_NONE = 0,
  PF_OutFlag_USE_OUTPUT_EXTENT = 0x40,
  PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100,
  PF_OutFlag_PIX_INDEPENDENT = 0x400,
  PF_OutFlag_REFRESH_UI = 0x20000,
  PF_OutFlag_DEEP_COLOR_AWARE = 0x2000000,
  PF_OutFlag_SEND_UPDATE_PARAMS_UI = 0x4000000,
};

enum : PF_OutFlags2 {
  PF_OutFlag2_NONE = 0,
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x400,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 0x1000,
  PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1 << 27,
};

enum : PF_ParamUIFlags { PF_PUI_NONE = 0, PF_PUI_DISABLED = 0x20 };

// Version encoding: the low three bits of the major version in bits 19-21 and its higher
// bits in 26-29, minor 15-18, bug fix 11-14, stage 9-10, build 0-8; each field is cut to its
// width, so an out-of-range part cannot spill into its neighbour.
enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };
constexpr uint32_t pf_version(uint32_t major, uint32_t minor, uint32_t bug, uint32_t stage,
                              uint32_t build) {
  return ((major & 0x7u) << 19) | (((major >> 3) & 0xFu) << 26) | ((minor & 0xFu) << 15) |
         ((bug & 0xFu) << 11) | ((stage & 0x3u) << 9) | (build & 0x1FFu);
}

// ---------------------------------------------------------------------------------------
// Geometry, pixels and worlds
// ---------------------------------------------------------------------------------------

struct PF_LRect {
  int32_t left, top, right, bottom;
};
typedef PF_LRect PF_Rect;

struct PF_RationalScale {
  int32_t num;
  uint32_t den;
};

struct PF_Point {
  int32_t h, v;
};

// The interface version the host speaks, major first.
struct PF_SpecVersion {
  int16_t major;
  int16_t minor;
};

struct PF_Pixel8 {
  uint8_t alpha, red, green, blue;
};
typedef PF_Pixel8 PF_Pixel;

struct PF_Pixel16 {
  uint16_t alpha, red, green, blue;
};

struct PF_PixelFloat {
  float alpha, red, green, blue;
};

constexpr int32_t PF_MAX_CHAN8 = 255;
constexpr int32_t PF_MAX_CHAN16 = 32768;

// Pixel-format codes: the four bytes in memory order spell "argb", "ae16", "ae32".
enum : PF_PixelFormat {
  PF_PixelFormat_ARGB32 = 0x62677261,
  PF_PixelFormat_ARGB64 = 0x36316561,
  PF_PixelFormat_ARGB128 = 0x32336561,
  PF_PixelFormat_INVALID = 0x66646162,
};

typedef int32_t PF_WorldFlags;
enum : PF_WorldFlags { PF_WorldFlag_DEEP = 1, PF_WorldFlag_WRITEABLE = 2 };  // DEEP: 16-bit

// A layer or world: the input, the output, and the layer parameter's value all use it.
struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  void* data;        // first pixel of the first row; null when no layer is present
  int32_t rowbytes;  // bytes from one row to the next (may exceed width x pixel size)
  int32_t width;
  int32_t height;
  PF_LRect extent_hint;
  void* platform_ref;
  int32_t reserved_long1;
  void* reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void* reserved_long2;
  int32_t origin_x;
  int32_t origin_y;
  int32_t reserved_long3;
  int32_t dephault;  // as a parameter: the default layer (PF_LayerDefault_NONE)
};
typedef PF_LayerDef PF_EffectWorld;

constexpr int32_t PF_LayerDefault_MYSELF = -1;
constexpr int32_t PF_LayerDefault_NONE = 0;

// ---------------------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------------------

enum : PF_ParamType {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_FLOAT_SLIDER = 10,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
};

constexpr PF_ParamIndex PF_ParamIndex_NONE = -1;
constexpr PF_ParamIndex PF_ParamIndex_CHECK_ALL = -2;
constexpr PF_ParamIndex PF_ParamIndex_CHECK_ALL_EXCEPT_LAYER_PARAMS = -3;
constexpr PF_ParamIndex PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE = -4;

constexpr int PF_MAX_EFFECT_PARAM_NAME_LEN = 31;
constexpr int PF_MAX_PARAM_DESCRIPTION_LEN = 31;
constexpr int PF_MAX_PARAM_VALUE_LEN = 31;

struct PF_SliderDef {
  int32_t value;
  char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
  char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
  int32_t valid_min, valid_max;
  int32_t slider_min, slider_max;
  int32_t dephault;
};

struct PF_FloatSliderDef {
  double value;
  double phase;
  char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
  float valid_min, valid_max;
  float slider_min, slider_max;
  float dephault;
  int16_t precision;
  int16_t display_flags;
  uint32_t fs_flags;
  float curve_tolerance;
  PF_Boolean useExponent;
  float exponent;
};

struct PF_AngleDef {
  PF_Fixed value;  // degrees, 16.16
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
};

struct PF_PopupDef {
  int32_t value;  // 1-based choice
  int16_t num_choices;
  int16_t dephault;
  union {
    int32_t id;
    const char* namesptr;  // the choices separated by '|'
  } u;
};

union PF_ParamDefUnion {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FloatSliderDef fs_d;
  PF_AngleDef ad;
  PF_PopupDef pd;
};

struct PF_ParamDef {
  union {
    int32_t id;  // the persistent identifier stored in projects
    int32_t change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  int16_t ui_width;
  int16_t ui_height;
  PF_ParamType param_type;
  char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
  PF_ParamFlags flags;
  int32_t unused;
  PF_ParamDefUnion u;
};
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

// The host's snapshot of the parameter state: four opaque words.
struct PF_State {
  int32_t reserved[4];
};

// ---------------------------------------------------------------------------------------
// Callback tables handed over inside the in-data
// ---------------------------------------------------------------------------------------

// An entry the module never calls: present only to keep later entries in their places.
typedef void (*PF_UnusedCallback)(void);

struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, int32_t what_time,
                           int32_t time_step, uint32_t time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, int32_t current, int32_t total);
  PF_UnusedCallback register_ui;
  PF_UnusedCallback checkout_layer_audio;
  PF_UnusedCallback checkin_layer_audio;
  PF_UnusedCallback get_audio_data;
  void* reserved_str[3];
  void* reserved[10];
};

struct PF_ANSICallbacks {
  double (*atan)(double);
  double (*atan2)(double y, double x);
  double (*ceil)(double);
  double (*cos)(double);
  double (*exp)(double);
  double (*fabs)(double);
  double (*floor)(double);
  double (*fmod)(double, double);
  double (*hypot)(double, double);
  double (*log)(double);
  double (*log10)(double);
  double (*pow)(double, double);
  double (*sin)(double);
  double (*sqrt)(double);
  double (*tan)(double);
  int (*sprintf)(char* buffer, const char* format, ...);
  char* (*strcpy)(char* dest, const char* src);
  double (*asin)(double);
  double (*acos)(double);
  int32_t ansi_procs;
};

struct PF_ColorCallbacks {
  PF_UnusedCallback RGBtoHLS;
  PF_UnusedCallback HLStoRGB;
  PF_UnusedCallback RGBtoYIQ;
  PF_UnusedCallback YIQtoRGB;
  PF_UnusedCallback Luminance;
  PF_UnusedCallback Hue;
  PF_UnusedCallback Lightness;
  PF_UnusedCallback Saturation;
};

struct PF_UtilCallbacks {
  PF_UnusedCallback begin_sampling;
  PF_UnusedCallback subpixel_sample;
  PF_UnusedCallback area_sample;
  PF_UnusedCallback get_batch_func_is_deprecated;
  PF_UnusedCallback end_sampling;
  PF_UnusedCallback composite_rect;
  PF_UnusedCallback blend;
  PF_UnusedCallback convolve;
  PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                 PF_Rect* src_r, PF_Rect* dst_r);
  PF_UnusedCallback fill;
  PF_UnusedCallback gaussian_kernel;
  PF_UnusedCallback iterate;
  PF_UnusedCallback premultiply;
  PF_UnusedCallback premultiply_color;
  PF_UnusedCallback new_world;
  PF_UnusedCallback dispose_world;
  PF_UnusedCallback iterate_origin;
  PF_UnusedCallback iterate_lut;
  PF_UnusedCallback transfer_rect;
  PF_UnusedCallback transform_world;
  PF_Handle (*host_new_handle)(uint64_t size);
  void* (*host_lock_handle)(PF_Handle handle);
  void (*host_unlock_handle)(PF_Handle handle);
  void (*host_dispose_handle)(PF_Handle handle);
  PF_UnusedCallback get_callback_addr;
  void* app;
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
  PF_UnusedCallback get_platform_data;
  uint64_t (*host_get_handle_size)(PF_Handle handle);
  PF_UnusedCallback iterate_origin_non_clip_src;
  PF_UnusedCallback iterate_generic;
  PF_UnusedCallback host_resize_handle;
  PF_UnusedCallback subpixel_sample16;
  PF_UnusedCallback area_sample16;
  PF_UnusedCallback fill16;
  PF_UnusedCallback premultiply_color16;
  PF_UnusedCallback iterate16;
  PF_UnusedCallback iterate_origin16;
  PF_UnusedCallback iterate_origin_non_clip_src16;
  PF_UnusedCallback get_pixel_data8;
  PF_UnusedCallback get_pixel_data16;
  int32_t reserved;
};

// ---------------------------------------------------------------------------------------
// PICA basic suite and the host suites
// ---------------------------------------------------------------------------------------

typedef int32_t SPErr;
typedef int32_t SPBoolean;  // 32 bits in the Windows host (one byte on macOS)
typedef int32_t A_Err;
typedef int32_t AEGP_PluginID;
typedef void* AEGP_GlobalRefcon;

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t new_size, void** new_block);
  SPErr (*Undefined)(void);
};

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion2 2
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
#define kPFSampling8Suite "PF Sampling8 Suite"
#define kPFSampling8SuiteVersion1 1
#define kPFSampling16Suite "PF Sampling16 Suite"
#define kPFSampling16SuiteVersion1 1
#define kPFSamplingFloatSuite "PF SamplingFloat Suite"
#define kPFSamplingFloatSuiteVersion1 1

// A suite entry the module never calls: present only to keep later entries in their places.
typedef PF_UnusedCallback PF_SuitePlaceholder;

// "PF Handle Suite" version 2.
struct PF_HandleSuite1 {
  PF_Handle (*host_new_handle)(uint64_t size);
  void* (*host_lock_handle)(PF_Handle handle);
  void (*host_unlock_handle)(PF_Handle handle);
  void (*host_dispose_handle)(PF_Handle handle);
  uint64_t (*host_get_handle_size)(PF_Handle handle);
  PF_SuitePlaceholder host_resize_handle;
};

// "AEGP Utility Suite" version 7: twenty-five entries, of which the module calls the eighth.
// Before it: ReportInfo, GetDriverPluginInitFuncVersion, GetDriverImplementationVersion,
// StartQuietErrors, EndQuietErrors, StartUndoGroup, EndUndoGroup. After it: GetMainHWND,
// ShowHideAllFloaters, the four paint palette and five character palette colour entries,
// ConvertFpLongToHSFRatio, ConvertHSFRatioToFpLong, CauseIdleRoutinesToBeCalled,
// GetSuppressInteractiveUI, WriteToOSConsole, WriteToDebugLog.
struct AEGP_UtilitySuite3 {
  PF_SuitePlaceholder entries_1_to_7[7];
  A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const char* plugin_name,
                                 AEGP_PluginID* plugin_id);
  PF_SuitePlaceholder entries_9_to_25[17];
};

// "PF Param Utils Suite" version 2. Its change test ignores the index it is given and
// always checks every parameter except those excluded from the check.
struct PF_ParamUtilsSuite1 {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                             const PF_ParamDef* def);
  PF_Err (*PF_GetCurrentState)(PF_ProgPtr effect_ref, PF_State* state);
  PF_Err (*PF_HasParamChanged)(PF_ProgPtr effect_ref, const PF_State* state,
                               PF_ParamIndex param_index, PF_Boolean* changed);
  PF_SuitePlaceholder PF_HaveInputsChangedOverTimeSpan;
  PF_SuitePlaceholder PF_IsIdenticalCheckout;
  PF_SuitePlaceholder PF_FindKeyframeTime;
  PF_SuitePlaceholder PF_GetKeyframeCount;
  PF_SuitePlaceholder PF_CheckoutKeyframe;
  PF_SuitePlaceholder PF_CheckinKeyframe;
  PF_SuitePlaceholder PF_KeyIndexToTime;
};

struct PF_WorldSuite2 {
  PF_SuitePlaceholder new_world;
  PF_SuitePlaceholder dispose_world;
  PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* format);
};

struct PF_CompositeMode {
  int32_t xfer;
  int32_t rand_seed;
  uint8_t opacity;
  PF_Boolean rgb_only;
  uint16_t opacitySu;
};

// Sampling parameter block: the module fills only the source world; the rest stays zero.
struct PF_SampPB {
  PF_Fixed x_radius;
  PF_Fixed y_radius;
  PF_Fixed area;
  PF_EffectWorld* src;
  int32_t samp_behave;
  int32_t allow_asynch;
  int32_t motion_blur;
  PF_CompositeMode comp_mode;
  void* mask0;
  void* fcm_table;
  void* fcd_table;
  int32_t reserved[8];
};

struct PF_Sampling8Suite1 {
  PF_SuitePlaceholder nn_sample;
  PF_Err (*subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                            const PF_SampPB* params, PF_Pixel8* dst_pixel);
  PF_SuitePlaceholder area_sample;
};

struct PF_Sampling16Suite1 {
  PF_SuitePlaceholder nn_sample16;
  PF_Err (*subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                              const PF_SampPB* params, PF_Pixel16* dst_pixel);
  PF_SuitePlaceholder area_sample16;
};

struct PF_SamplingFloatSuite1 {
  PF_SuitePlaceholder nn_sample_float;
  PF_Err (*subpixel_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                  const PF_SampPB* params, PF_PixelFloat* dst_pixel);
  PF_SuitePlaceholder area_sample_float;
};

// ---------------------------------------------------------------------------------------
// In-data and out-data
// ---------------------------------------------------------------------------------------

// Audio the host may hand over with a command; this effect has none, but the records keep
// their places.
struct PF_SoundFormatInfo {
  double rateF;
  int16_t num_channels;
  int16_t format;
  int16_t sample_size;
};

struct PF_SoundWorld {
  PF_SoundFormatInfo fi;
  int32_t num_samples;
  void* dataP;
};

struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  int32_t quality;
  PF_SpecVersion version;
  int32_t serial_num;
  int32_t appl_id;  // four-character code of the host application ('PrMr': Premiere Pro)
  int32_t num_params;
  int32_t reserved;
  int32_t what_cpu;
  int32_t what_fpu;
  int32_t current_time;
  int32_t time_step;
  int32_t total_time;
  int32_t local_time_step;
  uint32_t time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  int32_t width;
  int32_t height;
  PF_Rect extent_hint;
  int32_t output_origin_x;
  int32_t output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  int32_t in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  int32_t start_sampL;
  int32_t dur_sampL;
  int32_t total_sampL;
  PF_SoundWorld src_snd;
  SPBasicSuite* pica_basicP;
  int32_t pre_effect_source_origin_x;
  int32_t pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
};

constexpr int PF_MAX_EFFECT_MSG_LEN = 255;

struct PF_OutData {
  uint32_t my_version;
  char name[32];
  PF_Handle global_data;
  int32_t num_params;
  PF_Handle sequence_data;
  int32_t flat_sdata_size;
  PF_Handle frame_data;
  int32_t width;
  int32_t height;
  PF_Point origin;
  PF_OutFlags out_flags;
  char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
  int32_t start_sampL;
  int32_t dur_sampL;
  PF_SoundWorld dest_snd;
  PF_OutFlags2 out_flags2;
};

// ---------------------------------------------------------------------------------------
// Smart pre-render and smart render
// ---------------------------------------------------------------------------------------

struct PF_RenderRequest {
  PF_LRect rect;
  PF_Field field;
  PF_ChannelMask channel_mask;
  PF_Boolean preserve_rgb_of_zero_alpha;
  char unused[3];
  int32_t reserved[4];
};

struct PF_CheckoutResult {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_RationalScale par;
  PF_Boolean solid;
  PF_Boolean reservedB[3];
  int32_t ref_width;
  int32_t ref_height;
  int32_t reserved[6];
};

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

struct PF_PreRenderInput {
  PF_RenderRequest output_request;
  int16_t bitdepth;
  const void* gpu_data;
  int32_t what_gpu;
  uint32_t device_index;
};

struct PF_PreRenderOutput {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_Boolean solid;
  PF_Boolean reserved;
  int16_t flags;
  void* pre_render_data;  // the module's per-frame record, handed back to the render
  PF_DeletePreRenderDataFunc delete_pre_render_data_func;
};

struct PF_PreRenderCallbacks {
  PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, int32_t checkout_id,
                           const PF_RenderRequest* req, int32_t what_time, int32_t time_step,
                           uint32_t time_scale, PF_CheckoutResult* result);
  PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, uint32_t buf_size, const void* buf);
};

struct PF_PreRenderExtra {
  PF_PreRenderInput* input;
  PF_PreRenderOutput* output;
  PF_PreRenderCallbacks* cb;
};

struct PF_SmartRenderInput {
  PF_RenderRequest output_request;
  int16_t bitdepth;
  void* pre_render_data;
  const void* gpu_data;
  int32_t what_gpu;
  uint32_t device_index;
};

struct PF_SmartRenderCallbacks {
  PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, int32_t checkout_id,
                                  PF_EffectWorld** pixels);
  PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, int32_t checkout_id);
  PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
};

struct PF_SmartRenderExtra {
  PF_SmartRenderInput* input;
  PF_SmartRenderCallbacks* cb;
};

// ---------------------------------------------------------------------------------------
// The entry point
// ---------------------------------------------------------------------------------------

typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#include "api/effect_api_layout.h"
