// The eleven declared controls as the host received them through add_param, and the stop
// at the first failing declaration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

using namespace module_test;

class Params : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    fx_ = std::make_unique<hostsim::Instance>(module());
  }
  std::unique_ptr<hostsim::Instance> fx_;
};

TEST_F(Params, ElevenDeclarationsInOrderWithTypesNamesAndIds) {
  const hostsim::CommandResult setup = fx_->params_setup();
  ASSERT_EQ(setup.err, PF_Err_NONE);
  EXPECT_EQ(setup.out_data.num_params, 12);
  const std::vector<PF_ParamDef> defs = fx_->declared_params();
  ASSERT_EQ(defs.size(), 11u);
  const struct {
    PF_ParamType type;
    const char* name;
  } expected[] = {{10, "Radius"},
                  {10, "Weight"},
                  {10, "Specular Brightness"},
                  {1, "Specular Threshold"},
                  {13, "Iris"},
                  {7, "Shape"},
                  {1, "Edges"},
                  {3, "Phase"},
                  {0, "Iris Layer"},
                  {14, ""},
                  {7, "Outside"}};
  for (size_t i = 0; i < defs.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(defs[i].param_type, expected[i].type);
    EXPECT_EQ(std::string(defs[i].name), expected[i].name);
    EXPECT_EQ(defs[i].uu.id, static_cast<int32_t>(i + 1));
    EXPECT_EQ(defs[i].ui_flags, 0);
    EXPECT_EQ(defs[i].flags, 0);
    EXPECT_EQ(defs[i].ui_width, 0);
    EXPECT_EQ(defs[i].ui_height, 0);
  }
}

TEST_F(Params, FloatSlidersCarryRangesDefaultsAndTwoDecimals) {
  ASSERT_EQ(fx_->params_setup().err, PF_Err_NONE);
  const std::vector<PF_ParamDef> defs = fx_->declared_params();
  ASSERT_EQ(defs.size(), 11u);
  const struct {
    float valid_min, valid_max, slider_min, slider_max, dephault;
  } expected[] = {{0.0f, 300.0f, 0.0f, 100.0f, 0.0f},
                  {0.0f, 10.0f, 0.0f, 10.0f, 2.0f},
                  {1.0f, 1.5f, 1.0f, 1.5f, 1.0f}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(defs[i].name);
    const PF_FloatSliderDef& fs = defs[i].u.fs_d;
    EXPECT_EQ(fs.valid_min, expected[i].valid_min);
    EXPECT_EQ(fs.valid_max, expected[i].valid_max);
    EXPECT_EQ(fs.slider_min, expected[i].slider_min);
    EXPECT_EQ(fs.slider_max, expected[i].slider_max);
    EXPECT_EQ(fs.dephault, expected[i].dephault);
    EXPECT_EQ(fs.value, static_cast<double>(expected[i].dephault));
    EXPECT_EQ(fs.precision, 2);
    EXPECT_EQ(fs.display_flags, 0);
    EXPECT_EQ(fs.fs_flags, 0u);
    EXPECT_EQ(fs.curve_tolerance, 0.05f);
  }
}

TEST_F(Params, IntegerSlidersPopupsAngleAndLayer) {
  ASSERT_EQ(fx_->params_setup().err, PF_Err_NONE);
  const std::vector<PF_ParamDef> defs = fx_->declared_params();
  ASSERT_EQ(defs.size(), 11u);
  const PF_SliderDef& threshold = defs[kSpecularThreshold - 1].u.sd;
  EXPECT_EQ(threshold.valid_min, 0);
  EXPECT_EQ(threshold.valid_max, 255);
  EXPECT_EQ(threshold.slider_min, 0);
  EXPECT_EQ(threshold.slider_max, 255);
  EXPECT_EQ(threshold.dephault, 255);
  EXPECT_EQ(threshold.value, 255);
  EXPECT_EQ(threshold.value_str[0], '\0');
  EXPECT_EQ(threshold.value_desc[0], '\0');

  const PF_SliderDef& edges = defs[kEdges - 1].u.sd;
  EXPECT_EQ(edges.valid_min, 3);
  EXPECT_EQ(edges.valid_max, 16);
  EXPECT_EQ(edges.slider_min, 3);
  EXPECT_EQ(edges.slider_max, 16);
  EXPECT_EQ(edges.dephault, 8);
  EXPECT_EQ(edges.value, 8);

  const PF_PopupDef& shape = defs[kShape - 1].u.pd;
  EXPECT_EQ(shape.num_choices, 3);
  EXPECT_EQ(shape.dephault, 1);
  EXPECT_EQ(shape.value, 1);
  EXPECT_EQ(fx_->popup_choices(kShape), "Circle|Polygon|Layer");
  const PF_PopupDef& outside = defs[kOutside - 1].u.pd;
  EXPECT_EQ(outside.num_choices, 2);
  EXPECT_EQ(outside.dephault, 1);
  EXPECT_EQ(outside.value, 1);
  EXPECT_EQ(fx_->popup_choices(kOutside), "Mirror|Edge");

  EXPECT_EQ(defs[kPhase - 1].u.ad.value, 0);
  EXPECT_EQ(defs[kPhase - 1].u.ad.dephault, 0);
  EXPECT_EQ(defs[kIrisLayer - 1].u.ld.dephault, PF_LayerDefault_NONE);
  EXPECT_EQ(defs[kIrisLayer - 1].u.ld.data, nullptr);
}

TEST_F(Params, AFreshInstanceChecksOutTheDefaults) {
  ASSERT_EQ(fx_->params_setup().err, PF_Err_NONE);
  EXPECT_EQ(fx_->current_param(kRadius).u.fs_d.value, 0.0);
  EXPECT_EQ(fx_->current_param(kWeight).u.fs_d.value, 2.0);
  EXPECT_EQ(fx_->current_param(kSpecularBrightness).u.fs_d.value, 1.0);
  EXPECT_EQ(fx_->current_param(kSpecularThreshold).u.sd.value, 255);
  EXPECT_EQ(fx_->current_param(kShape).u.pd.value, 1);
  EXPECT_EQ(fx_->current_param(kEdges).u.sd.value, 8);
  EXPECT_EQ(fx_->current_param(kPhase).u.ad.value, 0);
  EXPECT_EQ(fx_->current_param(kOutside).u.pd.value, 1);
}

TEST_F(Params, AFailingAddParamStopsTheDeclarationsAndLeavesNumParams) {
  hostsim::inject_failure({.name = "add_param", .k = 4, .code = 33});
  hostsim::Command command = fx_->prepare(PF_Cmd_PARAMS_SETUP);
  command.out_data.num_params = 5;
  const hostsim::CommandResult setup = fx_->send(command);
  EXPECT_EQ(setup.err, 33);
  EXPECT_EQ(setup.out_data.num_params, 5);
  EXPECT_EQ(hostsim::call_count("add_param"), 4);
  EXPECT_EQ(setup.out_data.return_msg[0], '\0');
}

}  // namespace
