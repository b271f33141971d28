// The filter's parameter table and the mapping from a host's [0, 1] numbers onto the
// effect's ranges.
#include "frei0r/parameters.h"

#include <cmath>
#include <cstring>

namespace {

constexpr ParamDescription kParams[kFilterParamCount] = {
    {"Radius", ParamKind::number, "Blur radius: 0..1 is 0..300 pixels"},
    {"Weight", ParamKind::number, "How strongly bright pixels dominate the blur: 0..1 is 0..10"},
    {"Specular Brightness", ParamKind::number,
     "Gain for channels at or above the threshold: 0..1 is 1.0..1.5"},
    {"Specular Threshold", ParamKind::number,
     "Channel value from which the gain applies: 0..1 is 0..255"},
    {"Shape", ParamKind::choice, "Iris shape: circle or polygon"},
    {"Edges", ParamKind::number, "Corners of the polygon: 0..1 is 3..16"},
    {"Phase", ParamKind::number, "Rotation of the polygon: 0..1 is 0..360 degrees"},
    {"Outside", ParamKind::choice, "Pixels beyond the border: mirror or edge"},
};

struct ChoiceName {
  int32_t code;
  const char* name;
};
constexpr ChoiceName kShapes[] = {{kShapeCircle, "circle"}, {kShapePolygon, "polygon"}};
constexpr ChoiceName kOutsides[] = {{kOutsideMirror, "mirror"}, {kOutsideEdge, "edge"}};

bool is_kind(int index, ParamKind kind) {
  const ParamDescription* description = param_description(index);
  return description != nullptr && description->kind == kind;
}

bool same_letters(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

// The choice list and stored code of a choice parameter.
template <size_t count>
void pick(const ChoiceName (&choices)[count], const char* name, int32_t& code) {
  for (const ChoiceName& choice : choices) {
    if (same_letters(name, choice.name)) code = choice.code;
  }
}
template <size_t count>
const char* name_of(const ChoiceName (&choices)[count], int32_t code) {
  for (const ChoiceName& choice : choices) {
    if (choice.code == code) return choice.name;
  }
  return choices[0].name;
}

// v in [0, 1] onto [low, high].
double onto(double v, double low, double high) { return low + v * (high - low); }
// The value in [0, 1] that maps onto `value` of [low, high].
double from(double value, double low, double high) { return (value - low) / (high - low); }

constexpr double kDegreesToRadians = 0.017453292519943295;

}  // namespace

const ParamDescription* param_description(int index) {
  if (index < 0 || index >= kFilterParamCount) return nullptr;
  return &kParams[index];
}

FilterSettings default_settings() {
  FilterSettings settings{};
  settings.number[kParamRadius] = 0.0;
  settings.number[kParamWeight] = from(2.0, 0.0, 10.0);
  settings.number[kParamSpecularBrightness] = 0.0;
  settings.number[kParamSpecularThreshold] = 1.0;
  settings.number[kParamEdges] = from(8.0, 3.0, 16.0);
  settings.number[kParamPhase] = 0.0;
  settings.shape = kShapeCircle;
  settings.outside = kOutsideMirror;
  return settings;
}

void set_number(FilterSettings& settings, int index, double value) {
  if (!is_kind(index, ParamKind::number) || std::isnan(value)) return;
  settings.number[index] = value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value);
}

void set_choice(FilterSettings& settings, int index, const char* name) {
  if (!is_kind(index, ParamKind::choice) || name == nullptr) return;
  if (index == kParamShape) pick(kShapes, name, settings.shape);
  if (index == kParamOutside) pick(kOutsides, name, settings.outside);
}

double number_of(const FilterSettings& settings, int index) {
  return is_kind(index, ParamKind::number) ? settings.number[index] : 0.0;
}

const char* choice_of(const FilterSettings& settings, int index) {
  if (index == kParamShape) return name_of(kShapes, settings.shape);
  if (index == kParamOutside) return name_of(kOutsides, settings.outside);
  return nullptr;
}

EffectValues effect_values(const FilterSettings& settings) {
  const double* v = settings.number;
  EffectValues values{};
  values.radius = onto(v[kParamRadius], 0.0, 300.0);
  values.weight = onto(v[kParamWeight], 0.0, 10.0);
  values.specular_brightness = onto(v[kParamSpecularBrightness], 1.0, 1.5);
  values.specular_threshold =
      static_cast<int32_t>(std::round(onto(v[kParamSpecularThreshold], 0.0, 255.0)));
  values.shape = settings.shape;
  values.edges = static_cast<int32_t>(std::round(onto(v[kParamEdges], 3.0, 16.0)));
  // Angles travel as 16.16 fixed-point degrees, as the effect's angle control holds them.
  values.phase_fixed = static_cast<int32_t>(std::round(onto(v[kParamPhase], 0.0, 360.0) * 65536.0));
  values.outside = settings.outside;
  return values;
}

void fill_parameters(const EffectValues& values, RenderRecord& record) {
  record.radius = values.radius;
  record.downsample_factor = 1.0;
  record.weight_base = values.weight * 0.01 + 1.0;
  record.specular_brightness = values.specular_brightness;
  record.specular_threshold = values.specular_threshold;
  record.shape = values.shape;
  record.edges = values.edges;
  record.phase = static_cast<double>(values.phase_fixed) / 65536.0 * kDegreesToRadians;
  record.outside_mode = values.outside;
}
