// The effect's eleven controls, declared once as one table and appended to the host in
// index order. Their ids are what projects store: they never change.
#include <cstring>

#include "host/handlers.h"

namespace {

struct FloatRange {
  float valid_min, valid_max, slider_min, slider_max, dephault;
};
struct IntRange {
  int32_t valid_min, valid_max, slider_min, slider_max, dephault;
};
struct Choices {
  const char* names;  // choices separated by '|', 1-based in that order
  int16_t count;
  int16_t dephault;
};

struct ParamDeclaration {
  int32_t index;  // position in the host's array, also the persistent id
  const char* name;
  PF_ParamType type;
  FloatRange float_range;
  IntRange int_range;
  Choices choices;
};

constexpr int16_t kFloatPrecision = 2;
constexpr float kCurveTolerance = 0.05f;

constexpr ParamDeclaration kParams[] = {
    {1, "Radius", PF_Param_FLOAT_SLIDER, {0.0f, 300.0f, 0.0f, 100.0f, 0.0f}, {}, {}},
    {2, "Weight", PF_Param_FLOAT_SLIDER, {0.0f, 10.0f, 0.0f, 10.0f, 2.0f}, {}, {}},
    {3, "Specular Brightness", PF_Param_FLOAT_SLIDER, {1.0f, 1.5f, 1.0f, 1.5f, 1.0f}, {}, {}},
    {4, "Specular Threshold", PF_Param_SLIDER, {}, {0, 255, 0, 255, 255}, {}},
    {5, "Iris", PF_Param_GROUP_START, {}, {}, {}},
    {6, "Shape", PF_Param_POPUP, {}, {}, {"Circle|Polygon|Layer", 3, 1}},
    {7, "Edges", PF_Param_SLIDER, {}, {3, 16, 3, 16, 8}, {}},
    {8, "Phase", PF_Param_ANGLE, {}, {}, {}},
    {9, "Iris Layer", PF_Param_LAYER, {}, {}, {}},
    {10, nullptr, PF_Param_GROUP_END, {}, {}, {}},
    {11, "Outside", PF_Param_POPUP, {}, {}, {"Mirror|Edge", 2, 1}},
};

void fill_definition(const PF_InData* in_data, const ParamDeclaration& decl, PF_ParamDef& def) {
  std::memset(&def, 0, sizeof def);
  def.param_type = decl.type;
  if (decl.name != nullptr) in_data->utils->ansi.strcpy(def.name, decl.name);
  def.uu.id = decl.index;
  switch (decl.type) {
    case PF_Param_FLOAT_SLIDER: {
      PF_FloatSliderDef& fs = def.u.fs_d;
      fs.valid_min = decl.float_range.valid_min;
      fs.valid_max = decl.float_range.valid_max;
      fs.slider_min = decl.float_range.slider_min;
      fs.slider_max = decl.float_range.slider_max;
      fs.dephault = decl.float_range.dephault;
      fs.value = decl.float_range.dephault;
      fs.precision = kFloatPrecision;
      fs.display_flags = 0;
      fs.fs_flags = 0;
      fs.curve_tolerance = kCurveTolerance;
      break;
    }
    case PF_Param_SLIDER: {
      PF_SliderDef& sd = def.u.sd;
      sd.valid_min = decl.int_range.valid_min;
      sd.valid_max = decl.int_range.valid_max;
      sd.slider_min = decl.int_range.slider_min;
      sd.slider_max = decl.int_range.slider_max;
      sd.dephault = decl.int_range.dephault;
      sd.value = decl.int_range.dephault;
      break;
    }
    case PF_Param_POPUP:
      def.u.pd.num_choices = decl.choices.count;
      def.u.pd.dephault = decl.choices.dephault;
      def.u.pd.value = decl.choices.dephault;
      def.u.pd.u.namesptr = decl.choices.names;
      break;
    case PF_Param_ANGLE:
      def.u.ad.value = 0;
      def.u.ad.dephault = 0;
      break;
    case PF_Param_LAYER:
      def.u.ld.dephault = PF_LayerDefault_NONE;
      break;
    default:  // group start and end carry nothing but their type (and the start its name)
      break;
  }
}

}  // namespace

PF_Err params_setup(PF_InData* in_data, PF_OutData* out_data) {
  for (const ParamDeclaration& decl : kParams) {
    PF_ParamDef def;
    fill_definition(in_data, decl, def);
    // -1 appends after the parameters already declared.
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
  }
  out_data->num_params = 12;  // the input layer plus the eleven
  return PF_Err_NONE;
}
