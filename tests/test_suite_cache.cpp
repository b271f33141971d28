// Suite access: the per-command cache acquires each suite once and gives back exactly what
// it acquired (also when a missing suite unwinds through it), and the explicit helper
// reports failures with its messages. Counted by the stand-in host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/suite_cache.h"
#include "module_test_support.h"

namespace {

class SuiteAccess : public ::testing::Test {
 protected:
  void SetUp() override { hostsim::reset(); }
  void TearDown() override { hostsim::clear_failures(); }
};

TEST_F(SuiteAccess, EachSuiteIsAcquiredOnceAndReleasedOncePerCache) {
  {
    SuiteCache cache(hostsim::basic_suite());
    const PF_HandleSuite1* first = cache.handle();
    EXPECT_EQ(cache.handle(), first);
    EXPECT_EQ(cache.handle(), first);
    EXPECT_NE(cache.param_utils(), nullptr);
    EXPECT_NE(cache.param_utils(), nullptr);
    EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).acquires, 1);
    EXPECT_EQ(hostsim::suite_stats(kPFParamUtilsSuite).acquires, 1);
    EXPECT_EQ(hostsim::outstanding_suites(), 2);
  }
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).releases, 1);
  EXPECT_EQ(hostsim::suite_stats(kPFParamUtilsSuite).releases, 1);
  // Never asked for, never acquired nor released.
  EXPECT_EQ(hostsim::call_count("AcquireSuite:" kAEGPUtilitySuite), 0);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite:" kAEGPUtilitySuite), 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

TEST_F(SuiteAccess, AMissingSuiteThrows516AndTheOthersAreReleasedOnce) {
  hostsim::inject_failure({.name = "AcquireSuite:" kPFSampling16Suite, .k = 1});
  PF_Err thrown = PF_Err_NONE;
  try {
    SuiteCache cache(hostsim::basic_suite());
    cache.handle();
    cache.sampling16();
  } catch (PF_Err& err) {
    thrown = err;
  }
  EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).releases, 1);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite:" kPFSampling16Suite), 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

TEST_F(SuiteAccess, ANullSuiteTableCountsAsMissing) {
  hostsim::inject_failure(
      {.name = "AcquireSuite:" kPFSamplingFloatSuite, .k = 1, .code = 0, .null_result = true});
  PF_Err thrown = PF_Err_NONE;
  try {
    SuiteCache cache(hostsim::basic_suite());
    cache.sampling_float();
  } catch (PF_Err& err) {
    thrown = err;
  }
  EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
}

TEST_F(SuiteAccess, ANullBasicSuiteThrowsAtConstruction) {
  PF_Err thrown = PF_Err_NONE;
  try {
    SuiteCache cache(nullptr);
  } catch (PF_Err& err) {
    thrown = err;
  }
  EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
}

PF_InData in_data_without_basic_suite() {
  PF_InData in{};
  in.utils = hostsim::utils();
  in.pica_basicP = nullptr;
  return in;
}

TEST_F(SuiteAccess, HelperWithoutBasicSuiteReportsTheDefaultMessages) {
  PF_InData in = in_data_without_basic_suite();
  PF_OutData out{};
  const void* suite = &out;
  EXPECT_EQ(acquire_suite(&in, &out, kPFWorldSuite, 2, nullptr, &suite), 516);
  EXPECT_EQ(suite, nullptr);
  EXPECT_EQ(std::string(out.return_msg), "Not able to acquire AEFX Suite.");
  EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);

  PF_OutData out2{};
  out2.out_flags = PF_OutFlag_REFRESH_UI;  // OR-ed in, not assigned
  EXPECT_EQ(release_suite(&in, &out2, kPFWorldSuite, 2, nullptr), 516);
  EXPECT_EQ(std::string(out2.return_msg), "Not able to release AEFX Suite.");
  EXPECT_EQ(out2.out_flags, PF_OutFlag_REFRESH_UI | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST_F(SuiteAccess, HelperTrustsOnlyThePointerAndGivesItsOwnMessage) {
  PF_InData in{};
  in.utils = hostsim::utils();
  in.pica_basicP = hostsim::basic_suite();
  PF_OutData out{};
  const void* suite = nullptr;
  ASSERT_EQ(acquire_suite(&in, &out, kPFWorldSuite, 2, "Couldn't load suite.", &suite), 0);
  EXPECT_NE(suite, nullptr);
  EXPECT_EQ(out.out_flags, 0);
  EXPECT_EQ(release_suite(&in, &out, kPFWorldSuite, 2, "Couldn't release suite."), 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);

  hostsim::inject_failure(
      {.name = "AcquireSuite:" kPFWorldSuite, .k = 2, .code = 0, .null_result = true});
  EXPECT_EQ(acquire_suite(&in, &out, kPFWorldSuite, 2, "Couldn't load suite.", &suite), 516);
  EXPECT_EQ(std::string(out.return_msg), "Couldn't load suite.");
  EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);

  // A release the host refuses is not the helper's failure.
  PF_OutData quiet{};
  ASSERT_EQ(acquire_suite(&in, &quiet, kPFWorldSuite, 2, nullptr, &suite), 0);
  hostsim::inject_failure({.name = "ReleaseSuite:" kPFWorldSuite, .k = 2, .code = 9});
  EXPECT_EQ(release_suite(&in, &quiet, kPFWorldSuite, 2, nullptr), 0);
  EXPECT_EQ(quiet.out_flags, 0);
}

// Through the loaded module: the UI update asks for the Param Utils suite for the change
// test, the snapshot and three pushes, and for the handle suite twice.
TEST_F(SuiteAccess, ACommandAcquiresEachSuiteOnceHoweverOftenItUsesIt) {
  auto fx = module_test::started_instance();
  fx->set_int(module_test::kShape, 2);
  hostsim::reset();
  ASSERT_EQ(fx->update_params_ui().err, PF_Err_NONE);
  EXPECT_GE(hostsim::call_count("PF_UpdateParamUI"), 3);
  EXPECT_EQ(hostsim::call_count("AcquireSuite:" kPFParamUtilsSuite), 1);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite:" kPFParamUtilsSuite), 1);
  EXPECT_EQ(hostsim::call_count("AcquireSuite:" kPFHandleSuite), 1);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite:" kPFHandleSuite), 1);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
}

TEST_F(SuiteAccess, TheSecondOfTwoSuitesFailingReleasesTheFirstOnce) {
  auto fx = module_test::started_instance();
  fx->set_int(module_test::kShape, 3);  // a change, so both suites are wanted
  hostsim::reset();
  hostsim::inject_failure({.name = "AcquireSuite:" kPFParamUtilsSuite, .k = 1});
  const hostsim::CommandResult ui = fx->update_params_ui();
  EXPECT_EQ(ui.err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).acquires, 1);
  EXPECT_EQ(hostsim::suite_stats(kPFHandleSuite).releases, 1);
  EXPECT_EQ(hostsim::suite_stats(kPFParamUtilsSuite).acquires, 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  EXPECT_EQ(ui.message(), "");  // the cache writes no message
  hostsim::clear_failures();
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);
}

TEST_F(SuiteAccess, AboutAndParameterSetupTouchNoSuite) {
  hostsim::Instance fx(module_test::module());
  EXPECT_EQ(fx.about().err, PF_Err_NONE);
  EXPECT_EQ(fx.params_setup().err, PF_Err_NONE);
  EXPECT_EQ(hostsim::call_count("AcquireSuite"), 0);
  EXPECT_EQ(hostsim::call_count("ReleaseSuite"), 0);
}

}  // namespace
