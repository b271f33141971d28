// The filter's parameters as frei0r hosts see them: eight controls in a fixed order, the
// numbers as doubles in [0, 1] mapped linearly onto the effect's own ranges, the two popups
// as strings. Knows nothing of frei0r.h, so it can be tested on its own.
#pragma once

#include <cstdint>

#include "render/render_record.h"

enum FilterParam : int {
  kParamRadius = 0,
  kParamWeight = 1,
  kParamSpecularBrightness = 2,
  kParamSpecularThreshold = 3,
  kParamShape = 4,
  kParamEdges = 5,
  kParamPhase = 6,
  kParamOutside = 7,
  kFilterParamCount = 8,
};

enum class ParamKind { number, choice };

struct ParamDescription {
  const char* name;  // the effect's own parameter name
  ParamKind kind;
  const char* explanation;
};

// The description of parameter `index`, or null outside 0..kFilterParamCount - 1.
const ParamDescription* param_description(int index);

// What a host has set, as it set it (after clamping): the numbers in [0, 1] indexed by
// FilterParam (the two choice slots unused), the choices as the record's codes.
struct FilterSettings {
  double number[kFilterParamCount];
  int32_t shape;    // kShapeCircle or kShapePolygon
  int32_t outside;  // kOutsideMirror or kOutsideEdge
};

// The effect's defaults: Radius 0, Weight 2, Specular Brightness 1.0, Specular Threshold 255,
// circle, 8 edges, phase 0, mirror.
FilterSettings default_settings();

// Stores a number: clamped into [0, 1]; not a number, or not a number parameter, changes
// nothing.
void set_number(FilterSettings& settings, int index, double value);
// Stores a choice by its name ("circle"/"polygon", "mirror"/"edge", in any letter case); a
// null or unknown name, or not a choice parameter, changes nothing.
void set_choice(FilterSettings& settings, int index, const char* name);
// The stored number, or 0 for an index that is not a number parameter.
double number_of(const FilterSettings& settings, int index);
// The stored choice's name (a string that lives as long as the program), or null for an index
// that is not a choice parameter.
const char* choice_of(const FilterSettings& settings, int index);

// The effect's values of the settings, as the module's parameters would hold them.
struct EffectValues {
  double radius;               // 0..300 pixels
  double weight;               // 0..10
  double specular_brightness;  // 1.0..1.5
  int32_t specular_threshold;  // 0..255
  int32_t shape;
  int32_t edges;        // 3..16
  int32_t phase_fixed;  // 0..360 degrees in 16.16 fixed point
  int32_t outside;
};
EffectValues effect_values(const FilterSettings& settings);

// The record's parameter fields for these values, filled as the module's pre-render fills
// them at full resolution (downsample 1).
void fill_parameters(const EffectValues& values, RenderRecord& record);
