// The command table and the lifecycle commands, through the loaded module: About, global
// setup and setdown (with and without Premiere Pro's registration skip), sequence setup,
// resetup and setdown, the selectors that do nothing, and the thrown 516.
#include <gtest/gtest.h>

#include <cstring>

#include "module_test_support.h"

namespace {

// The global record as the module lays it out: a byte, then the plug-in id.
struct GlobalRecordView {
  uint8_t initialized;
  int32_t plugin_id;
};

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    live_before_ = hostsim::handle_stats().live_count;
  }
  void TearDown() override {
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    EXPECT_EQ(hostsim::fault_count(), 0);
  }
  int64_t live_before_ = 0;
};

TEST_F(Dispatch, AboutWritesMakerVersionAndClosingWordWithACarriageReturn) {
  hostsim::Instance fx(module_test::module());
  fx.settings.pass_basic_suite = false;  // About touches no suite
  const hostsim::CommandResult about = fx.about();
  EXPECT_EQ(about.err, PF_Err_NONE);
  EXPECT_EQ(about.message(), "Orvaneworks, v1.00\rImagination!");
  EXPECT_EQ(hostsim::call_count("AcquireSuite"), 0);
}

TEST_F(Dispatch, UnhandledSelectorsDoNothingAndLeaveOutDataUntouched) {
  hostsim::Instance fx(module_test::module());
  for (PF_Cmd cmd : {2, 7, 9, 10, 12, 15, 16, 20, 22, 25, 1000, -1, -24}) {
    SCOPED_TRACE(cmd);
    hostsim::Command command = fx.prepare(cmd);
    std::memset(&command.out_data, 0xA5, sizeof command.out_data);
    PF_OutData before;
    std::memcpy(&before, &command.out_data, sizeof before);
    hostsim::reset_calls();
    command.adopt_handles = false;
    EXPECT_EQ(fx.send(command).err, PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&before, &command.out_data, sizeof before), 0);
    EXPECT_TRUE(hostsim::calls().empty());
  }
}

// The render command (11) renders (tests/test_classic_render.cpp); sent without an output
// world or the parameter array, it is refused before any host call, out-data untouched.
TEST_F(Dispatch, TheRenderCommandWithoutWorldsIsRefusedUntouched) {
  hostsim::Instance fx(module_test::module());
  hostsim::Command command = fx.prepare(PF_Cmd_RENDER);
  std::memset(&command.out_data, 0xA5, sizeof command.out_data);
  PF_OutData before;
  std::memcpy(&before, &command.out_data, sizeof before);
  hostsim::reset_calls();
  command.adopt_handles = false;
  EXPECT_EQ(fx.send(command).err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(std::memcmp(&before, &command.out_data, sizeof before), 0);
  EXPECT_TRUE(hostsim::calls().empty());
}

TEST_F(Dispatch, GlobalSetupUnderAfterEffectsRegistersAndStoresTheRecord) {
  hostsim::Instance fx(module_test::module());
  const hostsim::CommandResult setup = fx.global_setup();
  ASSERT_EQ(setup.err, PF_Err_NONE);
  ASSERT_NE(setup.out_data.global_data, nullptr);
  const auto* record = static_cast<const GlobalRecordView*>(*setup.out_data.global_data);
  EXPECT_EQ(record->initialized, 1);
  ASSERT_EQ(fx.registrations().size(), 1u);
  EXPECT_EQ(fx.registrations()[0].plugin_name, "Error!");
  EXPECT_EQ(record->plugin_id, fx.registrations()[0].plugin_id);
  EXPECT_EQ(hostsim::suite_stats(kAEGPUtilitySuite).acquires, 1);
  EXPECT_EQ(hostsim::handle_lock_count(setup.out_data.global_data), 0);  // unlocked again

  EXPECT_EQ(fx.global_setdown().err, PF_Err_NONE);
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
}

TEST_F(Dispatch, GlobalSetupUnderPremiereMakesNoRegistration) {
  hostsim::Instance fx(module_test::module());
  fx.settings.appl_id = PF_APPL_ID_PREMIERE;
  hostsim::inject_failure({.name = "AcquireSuite:" kAEGPUtilitySuite, .k = 0});
  const hostsim::CommandResult setup = fx.global_setup();
  EXPECT_EQ(setup.err, PF_Err_NONE);
  ASSERT_NE(setup.out_data.global_data, nullptr);
  const auto* record = static_cast<const GlobalRecordView*>(*setup.out_data.global_data);
  EXPECT_EQ(record->initialized, 1);
  EXPECT_EQ(record->plugin_id, 0);  // the host's block starts zeroed and stays so
  EXPECT_TRUE(fx.registrations().empty());
  EXPECT_EQ(hostsim::call_count("AcquireSuite:" kAEGPUtilitySuite), 0);
  EXPECT_EQ(hostsim::call_count("AEGP_RegisterWithAEGP"), 0);
  hostsim::clear_failures();
  EXPECT_EQ(fx.global_setdown().err, PF_Err_NONE);
}

TEST_F(Dispatch, FailedRegistrationReturnsItsCodeStoresNothingAndLeaksNothing) {
  hostsim::Instance fx(module_test::module());
  hostsim::inject_failure({.name = "AEGP_RegisterWithAEGP", .k = 1, .code = 77});
  const hostsim::CommandResult setup = fx.global_setup();
  EXPECT_EQ(setup.err, 77);
  EXPECT_EQ(setup.out_data.global_data, nullptr);
  // Set before the allocation, so they stand even though a later step failed.
  EXPECT_EQ(setup.out_data.my_version, 525825u);
  EXPECT_EQ(setup.out_data.out_flags, 0x06000440);
  EXPECT_EQ(setup.out_data.out_flags2, 0x1400);
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
}

TEST_F(Dispatch, GlobalSetupWithoutMemoryReturns512) {
  hostsim::Instance fx(module_test::module());
  hostsim::inject_failure({.name = "host_new_handle", .k = 1});
  const hostsim::CommandResult setup = fx.global_setup();
  EXPECT_EQ(setup.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(setup.out_data.global_data, nullptr);
  EXPECT_EQ(setup.out_data.return_msg[0], '\0');
  EXPECT_EQ(setup.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
}

TEST_F(Dispatch, AMissingBasicSuiteIs516ExceptForAboutAndParameterSetup) {
  hostsim::Instance fx(module_test::module());
  fx.settings.pass_basic_suite = false;
  const hostsim::CommandResult setup = fx.global_setup();
  EXPECT_EQ(setup.err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(setup.out_data.my_version, 0u);
  EXPECT_EQ(setup.out_data.out_flags, 0);
  EXPECT_EQ(setup.out_data.out_flags2, 0);
  EXPECT_EQ(fx.params_setup().err, PF_Err_NONE);
  EXPECT_EQ(fx.about().err, PF_Err_NONE);
  // Global setdown builds its cache even with nothing to dispose.
  EXPECT_EQ(fx.global_setdown().err, PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Dispatch, SequenceSetupStoresAOneByteZeroRecordAndResetupReplacesIt) {
  hostsim::Instance fx(module_test::module());
  ASSERT_EQ(fx.global_setup().err, PF_Err_NONE);
  const hostsim::CommandResult setup = fx.sequence_setup();
  ASSERT_EQ(setup.err, PF_Err_NONE);
  PF_Handle first = fx.sequence_data();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(first), 1u);
  EXPECT_EQ(*static_cast<const uint8_t*>(*first), 0);
  EXPECT_EQ(hostsim::handle_lock_count(first), 0);

  ASSERT_EQ(fx.sequence_resetup().err, PF_Err_NONE);
  PF_Handle second = fx.sequence_data();
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(hostsim::is_live_handle(first));
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(second), 1u);
  EXPECT_EQ(*static_cast<const uint8_t*>(*second), 0);

  EXPECT_EQ(fx.sequence_setdown().err, PF_Err_NONE);
  EXPECT_FALSE(hostsim::is_live_handle(second));
  EXPECT_EQ(fx.global_setdown().err, PF_Err_NONE);
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
}

TEST_F(Dispatch, SequenceSetdownWithoutDataTouchesNoSuite) {
  hostsim::Instance fx(module_test::module());
  hostsim::Command command = fx.prepare(PF_Cmd_SEQUENCE_SETDOWN);
  command.in_data.sequence_data = nullptr;
  command.in_data.pica_basicP = nullptr;
  EXPECT_EQ(fx.send(command).err, PF_Err_NONE);
  EXPECT_EQ(hostsim::call_count("AcquireSuite"), 0);
}

TEST_F(Dispatch, SequenceSetupWithoutMemoryReturns4AndHandsNoStaleHandleBack) {
  hostsim::Instance fx(module_test::module());
  ASSERT_EQ(fx.sequence_setup().err, PF_Err_NONE);
  PF_Handle old = fx.sequence_data();
  hostsim::reset_calls();
  hostsim::inject_failure({.name = "host_new_handle", .k = 1});
  hostsim::Command command = fx.prepare(PF_Cmd_SEQUENCE_RESETUP);
  command.adopt_handles = false;
  EXPECT_EQ(fx.send(command).err, PF_Err_OUT_OF_MEMORY);
  EXPECT_FALSE(hostsim::is_live_handle(old));
  EXPECT_EQ(command.out_data.sequence_data, nullptr);
  fx.set_sequence_data(nullptr);
}

TEST_F(Dispatch, AMissingSuiteIsThrownAs516AndWhatWasAcquiredIsReleased) {
  hostsim::Instance fx(module_test::module());
  ASSERT_EQ(fx.global_setup().err, PF_Err_NONE);
  hostsim::reset_suite_counters();
  hostsim::reset_calls();
  hostsim::inject_failure({.name = "AcquireSuite:" kAEGPUtilitySuite, .k = 1});
  hostsim::Command command = fx.prepare(PF_Cmd_GLOBAL_SETUP);
  command.adopt_handles = false;
  EXPECT_EQ(fx.send(command).err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(command.out_data.global_data, nullptr);
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).acquires, 1);
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).releases, 1);
  hostsim::clear_failures();
  EXPECT_EQ(fx.global_setdown().err, PF_Err_NONE);
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before_);
}

}  // namespace
