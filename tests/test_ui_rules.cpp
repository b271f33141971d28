// The iris controls' enabled state follows Shape (Circle: none; Polygon: Edges and Phase;
// Layer: the layer), the parameter-state snapshot in the sequence data, and the error path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

using namespace module_test;

struct Pushed {
  PF_ParamIndex index;
  PF_ParamType type;
  std::string name;
  bool disabled;
  bool operator==(const Pushed&) const = default;
};

std::vector<Pushed> pushes(const hostsim::Instance& fx) {
  std::vector<Pushed> out;
  for (const hostsim::ParamPush& p : fx.ui_pushes()) {
    out.push_back({p.index, p.def.param_type, p.def.name, (p.def.ui_flags & PF_PUI_DISABLED) != 0});
  }
  return out;
}

std::vector<Pushed> expected_pushes(bool edges_disabled, bool phase_disabled, bool layer_disabled) {
  return {{7, PF_Param_SLIDER, "Edges", edges_disabled},
          {8, PF_Param_ANGLE, "Phase", phase_disabled},
          {9, PF_Param_LAYER, "Layer", layer_disabled}};
}

class UiRules : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    live_before_ = hostsim::handle_stats().live_count;
    fx_ = started_instance();
    fx_->clear_ui_pushes();
    hostsim::reset_calls();  // failures below count calls from here
  }
  void TearDown() override {
    hostsim::clear_failures();
    EXPECT_EQ(fx_->finish().err, PF_Err_NONE);
    fx_.reset();
    EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    EXPECT_EQ(hostsim::fault_count(), 0);
  }
  int64_t live_before_ = 0;
  std::unique_ptr<hostsim::Instance> fx_;
};

TEST_F(UiRules, EachShapeEnablesTheControlsItUses) {
  const struct {
    int32_t shape;
    std::vector<Pushed> expected;
  } cases[] = {
      {1, expected_pushes(true, true, true)},    // Circle uses none of them
      {2, expected_pushes(false, false, true)},  // Polygon: Edges and Phase
      {3, expected_pushes(true, true, false)},   // Layer: the layer only
      {0, expected_pushes(false, false, true)},  // values the popup cannot hold
      {17, expected_pushes(false, false, true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    fx_->set_int(kShape, c.shape);
    fx_->clear_ui_pushes();
    const hostsim::CommandResult ui = fx_->update_params_ui();
    EXPECT_EQ(ui.err, PF_Err_NONE);
    EXPECT_EQ(pushes(*fx_), c.expected);
    EXPECT_EQ(ui.out_data.out_flags, PF_OutFlag_REFRESH_UI);
    EXPECT_EQ(ui.message(), "");
  }
}

TEST_F(UiRules, UserChangedParamAndUpdateParamsUiPushTheSame) {
  for (int32_t shape : {1, 2, 3}) {
    SCOPED_TRACE(shape);
    fx_->set_int(kShape, shape);
    fx_->clear_ui_pushes();
    ASSERT_EQ(fx_->user_changed_param().err, PF_Err_NONE);
    const std::vector<Pushed> changed = pushes(*fx_);
    fx_->clear_ui_pushes();
    ASSERT_EQ(fx_->update_params_ui().err, PF_Err_NONE);
    EXPECT_EQ(pushes(*fx_), changed);
    EXPECT_EQ(changed.size(), 3u);
  }
}

TEST_F(UiRules, AReportedChangeReplacesTheSnapshotAndDisposesTheOldOnce) {
  PF_Handle before = fx_->sequence_data();
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(before), sizeof(PF_State));

  hostsim::reset_calls();
  ASSERT_EQ(fx_->update_params_ui().err, PF_Err_NONE);  // nothing changed
  EXPECT_EQ(fx_->sequence_data(), before);
  EXPECT_EQ(hostsim::call_count("host_new_handle"), 0);
  EXPECT_EQ(hostsim::call_count("PF_HasParamChanged"), 1);
  // The module asks for every parameter but the layers: index -3 in the host's numbering.
  for (const hostsim::CallRecord& r : hostsim::calls())
    if (r.name == "PF_HasParamChanged") {
      EXPECT_EQ(r.detail.rfind("index=-3 ", 0), 0u) << r.detail;
    }

  fx_->set_float(kRadius, 12.0);
  hostsim::reset_calls();
  ASSERT_EQ(fx_->update_params_ui().err, PF_Err_NONE);
  PF_Handle after = fx_->sequence_data();
  EXPECT_NE(after, before);
  EXPECT_FALSE(hostsim::is_live_handle(before));
  EXPECT_TRUE(hostsim::is_live_handle(after));
  EXPECT_EQ(hostsim::call_count("host_dispose_handle"), 1);
  const PF_State now = fx_->current_state();
  EXPECT_EQ(std::memcmp(*after, &now, sizeof now), 0);
}

TEST_F(UiRules, TheOneByteRecordOfSequenceSetupCountsAsChangedWithoutBeingRead) {
  ASSERT_EQ(fx_->sequence_resetup().err, PF_Err_NONE);
  PF_Handle one_byte = fx_->sequence_data();
  ASSERT_EQ(hostsim::utils()->host_get_handle_size(one_byte), 1u);
  hostsim::reset_calls();
  ASSERT_EQ(fx_->update_params_ui().err, PF_Err_NONE);
  EXPECT_EQ(hostsim::call_count("PF_HasParamChanged"), 0);
  EXPECT_EQ(hostsim::call_count("PF_GetCurrentState"), 1);
  EXPECT_FALSE(hostsim::is_live_handle(one_byte));
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(fx_->sequence_data()), sizeof(PF_State));
}

TEST_F(UiRules, AFailedChangeTestShowsERRORAndSkipsEveryPush) {
  PF_Handle before = fx_->sequence_data();
  fx_->set_int(kShape, 3);
  hostsim::inject_failure({.name = "PF_HasParamChanged", .k = 1, .code = 61});
  const hostsim::CommandResult ui = fx_->update_params_ui();
  EXPECT_EQ(ui.err, 61);
  EXPECT_EQ(ui.message(), "ERROR");
  EXPECT_EQ(ui.out_data.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE | PF_OutFlag_REFRESH_UI);
  EXPECT_TRUE(fx_->ui_pushes().empty());
  EXPECT_EQ(fx_->sequence_data(), before);
}

TEST_F(UiRules, AFailedSnapshotKeepsTheOldSequenceDataAndLeaksNothing) {
  PF_Handle before = fx_->sequence_data();
  fx_->set_float(kWeight, 4.0);
  hostsim::inject_failure({.name = "PF_GetCurrentState", .k = 1, .code = 62});
  const int64_t live = hostsim::handle_stats().live_count;
  const hostsim::CommandResult ui = fx_->update_params_ui();
  EXPECT_EQ(ui.err, 62);
  EXPECT_EQ(ui.message(), "ERROR");
  EXPECT_EQ(ui.out_data.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE | PF_OutFlag_REFRESH_UI);
  EXPECT_EQ(fx_->sequence_data(), before);
  EXPECT_TRUE(hostsim::is_live_handle(before));
  EXPECT_EQ(hostsim::handle_stats().live_count, live);
}

TEST_F(UiRules, NoSnapshotMemoryIsNotAnError) {
  PF_Handle before = fx_->sequence_data();
  fx_->set_float(kWeight, 4.0);
  hostsim::inject_failure({.name = "host_new_handle", .k = 1});
  const hostsim::CommandResult ui = fx_->update_params_ui();
  EXPECT_EQ(ui.err, PF_Err_NONE);
  EXPECT_EQ(fx_->sequence_data(), before);
  EXPECT_EQ(fx_->ui_pushes().size(), 3u);
}

TEST_F(UiRules, AFailedPushShowsERROROnlyInTheLayerDisabledOutcome) {
  const struct {
    int32_t shape;
    bool error_shown;
  } cases[] = {{1, false}, {2, true}, {3, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    fx_->set_int(kShape, c.shape);
    fx_->clear_ui_pushes();
    hostsim::reset_calls();
    hostsim::clear_failures();
    hostsim::inject_failure({.name = "PF_UpdateParamUI", .k = 2, .code = 63});
    const hostsim::CommandResult ui = fx_->update_params_ui();
    EXPECT_EQ(ui.err, 63);
    EXPECT_EQ(hostsim::call_count("PF_UpdateParamUI"), 2);  // the third is skipped
    EXPECT_EQ(ui.message(), c.error_shown ? "ERROR" : "");
    EXPECT_EQ(ui.out_data.out_flags, c.error_shown
                                         ? PF_OutFlag_DISPLAY_ERROR_MESSAGE | PF_OutFlag_REFRESH_UI
                                         : PF_OutFlag_REFRESH_UI);
  }
}

TEST_F(UiRules, WithoutGlobalDataNothingIsTestedOrPushed) {
  PF_Handle global = fx_->global_data();
  fx_->set_global_data(nullptr);
  fx_->set_int(kShape, 2);
  hostsim::reset_calls();
  const hostsim::CommandResult ui = fx_->update_params_ui();
  EXPECT_EQ(ui.err, PF_Err_NONE);
  EXPECT_EQ(ui.out_data.out_flags, PF_OutFlag_REFRESH_UI);
  EXPECT_TRUE(fx_->ui_pushes().empty());
  EXPECT_EQ(hostsim::call_count("PF_HasParamChanged"), 0);
  fx_->set_global_data(global);
}

}  // namespace
