// The host's published byte offsets and sizes (64-bit), written down here on their own so
// this host depends on nothing of the module's interface header. Only the numbers this host
// fills or reads are named.
#pragma once

#include <cstddef>

namespace abi_host::layout {

// PF_InData, 408 bytes; the interaction callbacks are embedded at its start.
namespace in {
constexpr size_t kSize = 408, kInter = 0, kUtils = 176, kEffectRef = 184, kQuality = 192,
                 kVersion = 196, kSerialNum = 200, kApplId = 204, kNumParams = 208,
                 kReserved = 212, kWhatCpu = 216, kWhatFpu = 220, kCurrentTime = 224,
                 kTimeStep = 228, kTotalTime = 232, kLocalTimeStep = 236, kTimeScale = 240,
                 kField = 244, kShutterAngle = 248, kWidth = 252, kHeight = 256,
                 kExtentHint = 260, kOutputOriginX = 276, kOutputOriginY = 280,
                 kDownsampleX = 284, kDownsampleY = 292, kPixelAspect = 300, kInFlags = 308,
                 kGlobalData = 312, kSequenceData = 320, kFrameData = 328, kStartSamp = 336,
                 kDurSamp = 340, kTotalSamp = 344, kSrcSnd = 352, kPicaBasic = 384,
                 kPreEffectOriginX = 392, kPreEffectOriginY = 396, kShutterPhase = 400;
}  // namespace in

// PF_InteractCallbacks, 176 bytes.
namespace inter {
constexpr size_t kSize = 176, kCheckoutParam = 0, kCheckinParam = 8, kAddParam = 16,
                 kAbort = 24, kProgress = 32;
}

// PF_UtilCallbacks, 552 bytes, with the ANSI table embedded at 208.
namespace util {
constexpr size_t kSize = 552, kCopy = 64, kNewHandle = 160, kLockHandle = 168,
                 kUnlockHandle = 176, kDisposeHandle = 184, kAnsi = 208,
                 kGetHandleSize = 440;
}
namespace ansi {
constexpr size_t kAtan = 0, kAtan2 = 8, kCeil = 16, kCos = 24, kExp = 32, kFabs = 40,
                 kFloor = 48, kFmod = 56, kHypot = 64, kLog = 72, kLog10 = 80, kPow = 88,
                 kSin = 96, kSqrt = 104, kTan = 112, kSprintf = 120, kStrcpy = 128,
                 kAsin = 136, kAcos = 144;
}

// PF_OutData, 408 bytes.
namespace out {
constexpr size_t kSize = 408, kMyVersion = 0, kName = 4, kGlobalData = 40, kNumParams = 48,
                 kSequenceData = 56, kFlatSize = 64, kFrameData = 72, kWidth = 80,
                 kHeight = 84, kOrigin = 88, kOutFlags = 96, kReturnMsg = 100,
                 kReturnMsgSize = 256, kStartSamp = 356, kDurSamp = 360, kDestSnd = 368,
                 kOutFlags2 = 400;
}

// PF_ParamDef, 176 bytes; the value record is a union at 56.
namespace param {
constexpr size_t kSize = 176, kId = 0, kUiFlags = 4, kUiWidth = 8, kUiHeight = 10,
                 kType = 12, kName = 16, kNameSize = 32, kFlags = 48, kUnused = 52, kU = 56,
                 kUSize = 120;
// Offsets inside the union, by record.
constexpr size_t kFloatValue = 0, kFloatValidMin = 48, kFloatValidMax = 52,
                 kFloatSliderMin = 56, kFloatSliderMax = 60, kFloatDefault = 64,
                 kFloatPrecision = 68;
constexpr size_t kSliderValue = 0, kSliderValidMin = 68, kSliderValidMax = 72,
                 kSliderSliderMin = 76, kSliderSliderMax = 80, kSliderDefault = 84;
constexpr size_t kAngleValue = 0, kAngleDefault = 4;
constexpr size_t kPopupValue = 0, kPopupChoices = 4, kPopupDefault = 6, kPopupNames = 8;
constexpr size_t kLayerDefault = 116;
// Parameter types.
constexpr int kLayer = 0, kSlider = 1, kAngle = 3, kPopup = 7, kFloatSlider = 10,
              kGroupStart = 13, kGroupEnd = 14;
}  // namespace param

// PF_LayerDef (a world), 120 bytes.
namespace world {
constexpr size_t kSize = 120, kWorldFlags = 16, kData = 24, kRowbytes = 32, kWidth = 36,
                 kHeight = 40, kExtentHint = 44, kPixAspect = 88, kOriginX = 104,
                 kOriginY = 108;
}

// Smart pre-render and render records.
namespace request {  // PF_RenderRequest, 44 bytes
constexpr size_t kSize = 44, kRect = 0, kField = 16, kChannelMask = 20, kPreserve = 24;
}
namespace checkout {  // PF_CheckoutResult, 76 bytes
constexpr size_t kSize = 76, kResultRect = 0, kMaxResultRect = 16, kPar = 32, kSolid = 40,
                 kRefWidth = 44, kRefHeight = 48;
}
namespace pre_in {  // PF_PreRenderInput, 64 bytes
constexpr size_t kSize = 64, kRequest = 0, kBitdepth = 44, kGpuData = 48, kWhatGpu = 56,
                 kDeviceIndex = 60;
}
namespace pre_out {  // PF_PreRenderOutput, 56 bytes
constexpr size_t kSize = 56, kResultRect = 0, kMaxResultRect = 16, kSolid = 32,
                 kReserved = 33, kFlags = 34, kPreRenderData = 40, kDeleteFunc = 48;
}
namespace pre_cb {  // PF_PreRenderCallbacks, 16 bytes
constexpr size_t kSize = 16, kCheckoutLayer = 0, kGuidMixIn = 8;
}
namespace pre_extra {  // PF_PreRenderExtra, 24 bytes
constexpr size_t kSize = 24, kInput = 0, kOutput = 8, kCb = 16;
}
namespace sr_in {  // PF_SmartRenderInput, 72 bytes
constexpr size_t kSize = 72, kRequest = 0, kBitdepth = 44, kPreRenderData = 48,
                 kGpuData = 56, kWhatGpu = 64, kDeviceIndex = 68;
}
namespace sr_cb {  // PF_SmartRenderCallbacks, 24 bytes
constexpr size_t kSize = 24, kCheckoutLayerPixels = 0, kCheckinLayerPixels = 8,
                 kCheckoutOutput = 16;
}
namespace sr_extra {  // PF_SmartRenderExtra, 16 bytes
constexpr size_t kSize = 16, kInput = 0, kCb = 8;
}

// PF_SampPB, 104 bytes: the source world at 16.
namespace samp {
constexpr size_t kSize = 104, kSrc = 16;
}

// Suite tables.
namespace basic {  // SPBasicSuite, 56 bytes
constexpr size_t kSize = 56, kAcquire = 0, kRelease = 8, kIsEqual = 16, kAllocate = 24,
                 kFree = 32, kReallocate = 40, kUndefined = 48;
}
namespace handle_suite {  // PF_HandleSuite1, 48 bytes
constexpr size_t kSize = 48, kNew = 0, kLock = 8, kUnlock = 16, kDispose = 24, kGetSize = 32;
}
namespace utility_suite {  // AEGP_UtilitySuite3, 200 bytes
constexpr size_t kSize = 200, kRegisterWithAegp = 56;
}
namespace param_utils {  // PF_ParamUtilsSuite1, 80 bytes
constexpr size_t kSize = 80, kUpdateParamUi = 0, kGetCurrentState = 8, kHasParamChanged = 16;
}
namespace world_suite {  // PF_WorldSuite2, 24 bytes
constexpr size_t kSize = 24, kGetPixelFormat = 16;
}
namespace sampling {  // the three sampling suites, 24 bytes each
constexpr size_t kSize = 24, kSubpixel = 8;
}

}  // namespace abi_host::layout
