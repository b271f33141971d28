// The module as a file: it exports exactly one dynamic symbol, the entry function, and the
// stand-in host finds that function by the name its property list gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "dynamic_symbols.h"
#include "module_test_support.h"

namespace {

TEST(ModuleFile, ExportsExactlyTheEntryFunction) {
  EXPECT_EQ(defined_dynamic_symbols(module_test::module_path()),
            std::set<std::string>{"EntryPointFunc"});
}

TEST(ModuleFile, LoadsAsAnEffectWithItsEntryFoundByThePropertyListName) {
  const hostsim::Module& loaded = module_test::module();
  const hostsim::PiplProperty* kind = loaded.pipl.find(hostsim::kPiplKeyKind);
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind->as_int32(), hostsim::kPiplKindEffect);
  EXPECT_EQ(loaded.entry_name, "EntryPointFunc");
  ASSERT_NE(loaded.entry, nullptr);
  const hostsim::PiplProperty* name = loaded.pipl.find(hostsim::kPiplKeyName);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->as_short_string(), "Veilmora");
  const hostsim::PiplProperty* match = loaded.pipl.find(hostsim::kPiplKeyMatchName);
  ASSERT_NE(match, nullptr);
  EXPECT_EQ(match->as_short_string(), "Veilmora by Dunsmoor");
}

TEST(ModuleFile, AFullInstanceLifetimeRendersAndGivesEverythingBack) {
  hostsim::reset();
  const int64_t live_before = hostsim::handle_stats().live_count;
  {
    auto fx = module_test::started_instance();
    fx->set_float(module_test::kRadius, 4.0);
    hostsim::World in(PF_PixelFormat_ARGB32, 20, 12), out(PF_PixelFormat_ARGB32, 20, 12);
    module_test::fill_pattern(in, 3);
    const hostsim::FrameResult frame = fx->render_frame({.input = &in, .output = &out});
    EXPECT_EQ(frame.err, PF_Err_NONE);
    EXPECT_TRUE(frame.pre_render_data_deleted);
    EXPECT_EQ(fx->finish().err, PF_Err_NONE);
  }
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

}  // namespace
