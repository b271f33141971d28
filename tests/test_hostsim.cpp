// The stand-in host on its own: handle accounting, suite counting, bilinear sampling, world
// copy with row padding, failure injection, the parameter store with its checkouts, the
// state snapshot, UI pushes, and the bounded string callbacks. Module code is played by
// small entry functions in this file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "hostsim/hostsim.h"

namespace {

using hostsim::Instance;
using hostsim::World;

// The entry function of an in-process "module": runs whatever the test put in `script`.
std::function<PF_Err(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, void*)> script;

PF_Err scripted_entry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                      PF_LayerDef*, void* extra) {
  return script ? script(cmd, in, out, params, extra) : PF_Err_NONE;
}

class HostsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    script = nullptr;
    baseline_ = hostsim::handle_serial();
  }
  void TearDown() override {
    script = nullptr;
    hostsim::clear_failures();
  }
  uint64_t baseline_ = 0;
};

// ---------------------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------------------

TEST_F(HostsimTest, HandlesAreCountedLockedAndSized) {
  PF_UtilCallbacks* u = hostsim::utils();
  const hostsim::HandleStats before = hostsim::handle_stats();
  PF_Handle a = u->host_new_handle(24);
  PF_Handle b = u->host_new_handle(1000);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // Zero-filled, reachable without a lock through the master pointer.
  const auto* bytes = static_cast<const uint8_t*>(*b);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(bytes[i], 0);
  EXPECT_EQ(u->host_get_handle_size(a), 24u);
  EXPECT_EQ(u->host_get_handle_size(b), 1000u);

  hostsim::HandleStats s = hostsim::handle_stats();
  EXPECT_EQ(s.live_count, before.live_count + 2);
  EXPECT_EQ(s.live_bytes, before.live_bytes + 1024);
  EXPECT_EQ(s.allocations, 2);

  void* p = u->host_lock_handle(a);
  EXPECT_EQ(p, *a);
  u->host_lock_handle(a);
  EXPECT_EQ(hostsim::handle_lock_count(a), 2);
  EXPECT_EQ(hostsim::handle_stats().locked_count, before.locked_count + 1);
  u->host_unlock_handle(a);
  u->host_unlock_handle(a);
  EXPECT_EQ(hostsim::handle_lock_count(a), 0);

  const auto since = hostsim::live_handles_since(baseline_);
  ASSERT_EQ(since.size(), 2u);
  EXPECT_EQ(since[0].handle, a);
  EXPECT_EQ(since[1].size, 1000u);

  u->host_dispose_handle(a);
  u->host_dispose_handle(b);
  s = hostsim::handle_stats();
  EXPECT_EQ(s.live_count, before.live_count);
  EXPECT_EQ(s.live_bytes, before.live_bytes);
  EXPECT_EQ(s.disposals, 2);
  EXPECT_EQ(s.faults, 0);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

// Large blocks are kept for the next handle of their size (as a render takes the same planes
// every frame): a handle made after one of its size was written and disposed still starts
// zero-filled, whether or not it got the same memory, and only live handles are counted.
TEST_F(HostsimTest, LargeHandlesStartZeroFilledAfterReuse) {
  PF_UtilCallbacks* u = hostsim::utils();
  const hostsim::HandleStats before = hostsim::handle_stats();
  constexpr uint64_t kSizes[] = {uint64_t{3} << 20, uint64_t{5} << 20};
  for (int round = 0; round < 3; ++round) {
    PF_Handle made[2];
    for (int i = 0; i < 2; ++i) {
      made[i] = u->host_new_handle(kSizes[i]);
      ASSERT_NE(made[i], nullptr);
      auto* bytes = static_cast<uint8_t*>(*made[i]);
      uint64_t nonzero = 0;
      for (uint64_t k = 0; k < kSizes[i]; ++k) nonzero += bytes[k] != 0;
      EXPECT_EQ(nonzero, 0u) << "round " << round << ", handle " << i;
      EXPECT_EQ(u->host_get_handle_size(made[i]), kSizes[i]);
      std::memset(bytes, 0xA5, kSizes[i]);
    }
    EXPECT_EQ(hostsim::handle_stats().live_bytes, before.live_bytes + kSizes[0] + kSizes[1]);
    for (PF_Handle h : made) u->host_dispose_handle(h);
    EXPECT_EQ(hostsim::handle_stats().live_bytes, before.live_bytes);
  }
  // A size nothing kept fits is served too, zero-filled.
  PF_Handle other = u->host_new_handle(uint64_t{4} << 20);
  ASSERT_NE(other, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(*other);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[(uint64_t{4} << 20) - 1], 0);
  u->host_dispose_handle(other);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

TEST_F(HostsimTest, HandleMisuseIsLoggedAsFaultNotCrash) {
  PF_UtilCallbacks* u = hostsim::utils();
  PF_Handle h = u->host_new_handle(16);
  u->host_dispose_handle(h);
  EXPECT_FALSE(hostsim::is_live_handle(h));
  EXPECT_EQ(*h, nullptr);  // the stale cell reaches null, not freed memory

  u->host_dispose_handle(h);  // twice
  void* not_a_block = nullptr;
  u->host_dispose_handle(&not_a_block);  // never a handle
  u->host_dispose_handle(nullptr);
  EXPECT_EQ(u->host_lock_handle(h), nullptr);
  PF_Handle g = u->host_new_handle(4);
  u->host_unlock_handle(g);  // not locked
  EXPECT_EQ(u->host_get_handle_size(h), 0u);
  u->host_dispose_handle(g);

  EXPECT_EQ(hostsim::handle_stats().faults, 6);
  const auto faults = hostsim::faults();
  ASSERT_EQ(faults.size(), 6u);
  EXPECT_EQ(faults[0].name, "host_dispose_handle");
  EXPECT_NE(faults[0].detail.find("already disposed"), std::string::npos);
  EXPECT_NE(faults[2].detail.find("null handle"), std::string::npos);
  EXPECT_EQ(faults[3].name, "host_lock_handle");
  EXPECT_EQ(faults[4].name, "host_unlock_handle");
  EXPECT_NE(faults[4].detail.find("not locked"), std::string::npos);
}

TEST_F(HostsimTest, OversizedHandleRequestAnswersNull) {
  hostsim::set_handle_size_limit(1 << 20);
  EXPECT_EQ(hostsim::utils()->host_new_handle((1 << 20) + 1), nullptr);
  PF_Handle ok = hostsim::utils()->host_new_handle(1 << 20);
  EXPECT_NE(ok, nullptr);
  hostsim::utils()->host_dispose_handle(ok);
  hostsim::set_handle_size_limit(uint64_t{8} << 30);
  EXPECT_EQ(hostsim::utils()->host_new_handle(~uint64_t{0}), nullptr);
  EXPECT_EQ(hostsim::live_handles_since(baseline_).size(), 0u);
}

// ---------------------------------------------------------------------------------------
// Suites
// ---------------------------------------------------------------------------------------

TEST_F(HostsimTest, SuitesAreServedByNameAndVersionAndCounted) {
  SPBasicSuite* sp = hostsim::basic_suite();
  const struct {
    const char* name;
    int32_t version;
  } known[] = {{"PF Handle Suite", 2},       {"AEGP Utility Suite", 7}, {"PF Param Utils Suite", 2},
               {"PF World Suite", 2},        {"PF Sampling8 Suite", 1}, {"PF Sampling16 Suite", 1},
               {"PF SamplingFloat Suite", 1}};
  for (const auto& k : known) {
    const void* suite = nullptr;
    EXPECT_EQ(sp->AcquireSuite(k.name, k.version, &suite), 0) << k.name;
    EXPECT_NE(suite, nullptr) << k.name;
  }
  const void* again = nullptr;
  sp->AcquireSuite("PF World Suite", 2, &again);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").acquires, 2);
  EXPECT_EQ(hostsim::outstanding_suites(), 8);
  for (const auto& k : known) EXPECT_EQ(sp->ReleaseSuite(k.name, k.version), 0) << k.name;
  EXPECT_EQ(hostsim::outstanding_suites(), 1);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").outstanding(), 1);
  sp->ReleaseSuite("PF World Suite", 2);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
  for (const auto& s : hostsim::suite_stats()) EXPECT_EQ(s.releases, s.acquires) << s.name;

  // The handle suite's table reaches the same handles as the utility callbacks.
  const PF_HandleSuite1* hs = nullptr;
  sp->AcquireSuite("PF Handle Suite", 2, reinterpret_cast<const void**>(&hs));
  PF_Handle h = hs->host_new_handle(3);
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(h), 3u);
  hostsim::utils()->host_dispose_handle(h);
  sp->ReleaseSuite("PF Handle Suite", 2);
  EXPECT_EQ(hostsim::fault_count(), 0);
}

TEST_F(HostsimTest, UnknownSuitesAndUnbalancedReleasesAreRefused) {
  SPBasicSuite* sp = hostsim::basic_suite();
  const void* suite = &suite;
  EXPECT_EQ(sp->AcquireSuite("PF World Suite", 1, &suite), hostsim::kSPSuiteNotFoundError);
  EXPECT_EQ(suite, nullptr);
  suite = &suite;
  EXPECT_EQ(sp->AcquireSuite("PF Worlds Suite", 2, &suite), hostsim::kSPSuiteNotFoundError);
  EXPECT_EQ(suite, nullptr);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").failed_acquires, 1);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").acquires, 0);
  // Released without being acquired: refused, logged, not counted.
  EXPECT_NE(sp->ReleaseSuite("PF World Suite", 2), 0);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").releases, 0);
  EXPECT_EQ(hostsim::fault_count(), 1);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
}

// ---------------------------------------------------------------------------------------
// Worlds, copy and sampling
// ---------------------------------------------------------------------------------------

// An effect_ref of a live command, for callbacks that need one.
struct Ref {
  Instance fx{scripted_entry};
  hostsim::Command cmd = fx.prepare(PF_Cmd_ABOUT);
  PF_ProgPtr ref() const { return cmd.in_data.effect_ref; }
};

void fill_ramp(World& w, double scale) {
  for (int32_t y = 0; y < w.height(); ++y)
    for (int32_t x = 0; x < w.width(); ++x)
      w.write(x, y,
              {scale * (x + 1) / 16.0, scale * (y + 1) / 16.0, scale * ((x * 3 + y) % 5) / 5.0,
               scale * 0.25});
}

TEST_F(HostsimTest, WorldRejectsBadGeometry) {
  EXPECT_THROW(World(PF_PixelFormat_INVALID, 2, 2), std::invalid_argument);
  EXPECT_THROW(World(PF_PixelFormat_ARGB32, -1, 2), std::invalid_argument);
  EXPECT_THROW(World(PF_PixelFormat_ARGB32, 4, 2, 12), std::invalid_argument);  // < 16
  EXPECT_THROW(World(PF_PixelFormat_ARGB64, 4, 2, 36), std::invalid_argument);  // not x 8
  World w(PF_PixelFormat_ARGB128, 3, 2, 80);
  EXPECT_EQ(w.padding_bytes(), 32);
  EXPECT_THROW(w.at<PF_Pixel8>(0, 0), std::out_of_range);
  EXPECT_THROW(w.read(3, 0), std::out_of_range);
}

TEST_F(HostsimTest, WorldsAreMarkedWritableAndSixteenBitOnesDeep) {
  // The host's flags: 1 a deep (16-bit) world, 2 a writable one.
  EXPECT_EQ(World(PF_PixelFormat_ARGB32, 2, 2).effect_world()->world_flags, 2);
  EXPECT_EQ(World(PF_PixelFormat_ARGB64, 2, 2).effect_world()->world_flags, 3);
  EXPECT_EQ(World(PF_PixelFormat_ARGB128, 2, 2).effect_world()->world_flags, 2);
}

TEST_F(HostsimTest, SlotsTheModuleNeverCallsAreFilledAndLogAFault) {
  // The host's tables have no holes: an entry the module is not meant to call answers with a
  // logged fault instead of a jump through a null pointer.
  PF_UtilCallbacks* u = hostsim::utils();
  ASSERT_NE(u->subpixel_sample, nullptr);   // at 8 of the utility table
  ASSERT_NE(u->get_pixel_data16, nullptr);  // at 536, the last entry
  ASSERT_NE(u->colorCB.Hue, nullptr);
  u->subpixel_sample();
  u->colorCB.Hue();
  EXPECT_EQ(hostsim::fault_count(), 2);
  const PF_HandleSuite1* hs = nullptr;
  ASSERT_EQ(hostsim::basic_suite()->AcquireSuite(kPFHandleSuite, kPFHandleSuiteVersion2,
                                                 reinterpret_cast<const void**>(&hs)),
            0);
  ASSERT_NE(hs->host_resize_handle, nullptr);
  hs->host_resize_handle();
  EXPECT_EQ(hostsim::fault_count(), 3);
  hostsim::basic_suite()->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion2);
  PF_InteractCallbacks inter = hostsim::interact_callbacks();
  ASSERT_NE(inter.get_audio_data, nullptr);
  inter.get_audio_data();
  EXPECT_EQ(hostsim::fault_count(), 4);
}

TEST_F(HostsimTest, CopyHonoursRowbytesInEveryFormat) {
  Ref r;
  for (PF_PixelFormat f : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    const int32_t ps = hostsim::pixel_size(f);
    World src(f, 5, 4, 5 * ps + 3 * ps);
    World dst(f, 5, 4, 5 * ps + 1 * ps);
    fill_ramp(src, hostsim::full_scale(f));
    // Sentinels in the destination's padding must survive the copy.
    for (int32_t y = 0; y < 4; ++y)
      std::memset(const_cast<uint8_t*>(dst.padding(y)), 0xCD, static_cast<size_t>(ps));
    ASSERT_EQ(
        hostsim::utils()->copy(r.ref(), src.effect_world(), dst.effect_world(), nullptr, nullptr),
        PF_Err_NONE);
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        const hostsim::Pixel a = src.read(x, y), b = dst.read(x, y);
        EXPECT_EQ(a.alpha, b.alpha);
        EXPECT_EQ(a.red, b.red);
        EXPECT_EQ(a.green, b.green);
        EXPECT_EQ(a.blue, b.blue);
      }
      for (int32_t i = 0; i < ps; ++i) EXPECT_EQ(dst.padding(y)[i], 0xCD);
    }

    // A rectangle to a rectangle of the same size.
    World small(f, 2, 2);
    PF_Rect sr{1, 2, 3, 4}, dr{0, 0, 2, 2};
    ASSERT_EQ(hostsim::utils()->copy(r.ref(), src.effect_world(), small.effect_world(), &sr, &dr),
              PF_Err_NONE);
    EXPECT_EQ(small.read(1, 1).red, src.read(2, 3).red);
    EXPECT_EQ(small.read(0, 0).alpha, src.read(1, 2).alpha);
  }
  EXPECT_EQ(hostsim::fault_count(), 0);
}

TEST_F(HostsimTest, CopyRefusesWhatItCannotDo) {
  Ref r;
  World a(PF_PixelFormat_ARGB32, 4, 4), b(PF_PixelFormat_ARGB64, 4, 4),
      c(PF_PixelFormat_ARGB32, 4, 4);
  PF_Rect big{0, 0, 5, 4}, two{0, 0, 2, 2}, three{0, 0, 3, 3};
  PF_EffectWorld foreign = *a.effect_world();
  foreign.data = &foreign;  // pixels no host world has
  auto copy = hostsim::utils()->copy;
  EXPECT_EQ(copy(r.ref(), a.effect_world(), b.effect_world(), nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(copy(r.ref(), a.effect_world(), c.effect_world(), &big, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(copy(r.ref(), a.effect_world(), c.effect_world(), &two, &three),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(copy(r.ref(), &foreign, c.effect_world(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(copy(nullptr, a.effect_world(), c.effect_world(), nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::fault_count(), 5);
}

TEST_F(HostsimTest, WorldSuiteKnowsOnlyHostWorlds) {
  const PF_WorldSuite2* ws = nullptr;
  hostsim::basic_suite()->AcquireSuite("PF World Suite", 2, reinterpret_cast<const void**>(&ws));
  World w8(PF_PixelFormat_ARGB32, 2, 2), w16(PF_PixelFormat_ARGB64, 2, 2, 24),
      wf(PF_PixelFormat_ARGB128, 1, 1);
  PF_PixelFormat f = 0;
  EXPECT_EQ(ws->PF_GetPixelFormat(w8.effect_world(), &f), 0);
  EXPECT_EQ(f, PF_PixelFormat_ARGB32);
  EXPECT_EQ(ws->PF_GetPixelFormat(w16.effect_world(), &f), 0);
  EXPECT_EQ(f, PF_PixelFormat_ARGB64);
  EXPECT_EQ(ws->PF_GetPixelFormat(wf.effect_world(), &f), 0);
  EXPECT_EQ(f, PF_PixelFormat_ARGB128);
  // A copy of a host world's record (as a layer parameter carries) is still recognised.
  PF_EffectWorld copy = *w16.effect_world();
  EXPECT_EQ(ws->PF_GetPixelFormat(&copy, &f), 0);
  EXPECT_EQ(f, PF_PixelFormat_ARGB64);
  PF_EffectWorld unknown{};
  f = 7;
  EXPECT_EQ(ws->PF_GetPixelFormat(&unknown, &f), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(f, 7);
  hostsim::basic_suite()->ReleaseSuite("PF World Suite", 2);
}

// Values worked out by hand for a 2 x 2 layer:
//   (0,0) = a 200 r 100 g 0 b 40     (1,0) = a 100 r 0 g 50 b 40
//   (0,1) = a 0   r 0   g 0 b 0      (1,1) = a 255 r 255 g 255 b 40
TEST_F(HostsimTest, SubpixelSampleIsBilinearWithTransparentOutside) {
  Ref r;
  World w(PF_PixelFormat_ARGB32, 2, 2, 16);
  w.write(0, 0, {200, 100, 0, 40});
  w.write(1, 0, {100, 0, 50, 40});
  w.write(0, 1, {0, 0, 0, 0});
  w.write(1, 1, {255, 255, 255, 40});
  const PF_Sampling8Suite1* s8 = nullptr;
  hostsim::basic_suite()->AcquireSuite("PF Sampling8 Suite", 1,
                                       reinterpret_cast<const void**>(&s8));
  PF_SampPB pb{};
  pb.src = w.effect_world();
  auto at = [&](double x, double y) {
    PF_Pixel8 p{1, 1, 1, 1};
    EXPECT_EQ(s8->subpixel_sample(r.ref(), static_cast<PF_Fixed>(std::lround(x * 65536)),
                                  static_cast<PF_Fixed>(std::lround(y * 65536)), &pb, &p),
              0);
    return p;
  };
  PF_Pixel8 p = at(1, 1);  // a pixel centre: exactly that pixel
  EXPECT_EQ(p.alpha, 255);
  EXPECT_EQ(p.blue, 40);
  p = at(0.5, 0);  // halfway between (0,0) and (1,0)
  EXPECT_EQ(p.alpha, 150);
  EXPECT_EQ(p.red, 50);
  EXPECT_EQ(p.green, 25);
  // (0.25, 0.5): weights 0.375 (0,0), 0.125 (1,0), 0.375 (0,1), 0.125 (1,1).
  // alpha = 75 + 12.5 + 0 + 31.875 = 119.375 -> 119; red = 37.5 + 0 + 31.875 = 69.375 -> 69;
  // green = 6.25 + 31.875 = 38.125 -> 38; blue = 15 + 5 + 5 = 25.
  p = at(0.25, 0.5);
  EXPECT_EQ(p.alpha, 119);
  EXPECT_EQ(p.red, 69);
  EXPECT_EQ(p.green, 38);
  EXPECT_EQ(p.blue, 25);
  // Half a pixel left of (0,0): half of it, half transparent black.
  p = at(-0.5, 0);
  EXPECT_EQ(p.alpha, 100);
  EXPECT_EQ(p.red, 50);
  EXPECT_EQ(p.blue, 20);
  // A pixel or more outside: transparent black, on every side and far away.
  for (auto [x, y] :
       {std::pair{-1.0, 0.0}, {2.0, 0.0}, {0.0, -1.0}, {1.0, 2.0}, {-30000.0, 30000.0}}) {
    p = at(x, y);
    EXPECT_EQ(p.alpha + p.red + p.green + p.blue, 0) << x << "," << y;
  }
  hostsim::basic_suite()->ReleaseSuite("PF Sampling8 Suite", 1);
}

TEST_F(HostsimTest, SubpixelSample16AndFloatMatchTheSameRule) {
  Ref r;
  World w16(PF_PixelFormat_ARGB64, 2, 1);
  w16.write(0, 0, {32768, 1000, 0, 3});
  w16.write(1, 0, {0, 2000, 32768, 4});
  World wf(PF_PixelFormat_ARGB128, 2, 1, 48);
  wf.write(0, 0, {1.0, 0.5, -2.0, 8.0});
  wf.write(1, 0, {0.0, 1.5, 2.0, 0.0});
  const PF_Sampling16Suite1* s16 = nullptr;
  const PF_SamplingFloatSuite1* sf = nullptr;
  hostsim::basic_suite()->AcquireSuite("PF Sampling16 Suite", 1,
                                       reinterpret_cast<const void**>(&s16));
  hostsim::basic_suite()->AcquireSuite("PF SamplingFloat Suite", 1,
                                       reinterpret_cast<const void**>(&sf));
  PF_SampPB pb{};
  pb.src = w16.effect_world();
  PF_Pixel16 p16{};
  // x = 0.75: 0.25 of (0,0) and 0.75 of (1,0). alpha 8192, red 1750, green 24576, blue 3.75->4.
  ASSERT_EQ(s16->subpixel_sample16(r.ref(), 3 << 14, 0, &pb, &p16), 0);
  EXPECT_EQ(p16.alpha, 8192);
  EXPECT_EQ(p16.red, 1750);
  EXPECT_EQ(p16.green, 24576);
  EXPECT_EQ(p16.blue, 4);
  pb.src = wf.effect_world();
  PF_PixelFloat pf{};
  // x = 0.5, y = 0.5: the row below is outside, so each value is half the row's average.
  ASSERT_EQ(sf->subpixel_sample_float(r.ref(), 1 << 15, 1 << 15, &pb, &pf), 0);
  EXPECT_FLOAT_EQ(pf.alpha, 0.25f);
  EXPECT_FLOAT_EQ(pf.red, 0.5f);
  EXPECT_FLOAT_EQ(pf.green, 0.0f);
  EXPECT_FLOAT_EQ(pf.blue, 2.0f);
  // The wrong suite for a world's format is refused.
  EXPECT_EQ(s16->subpixel_sample16(r.ref(), 0, 0, &pb, &p16), PF_Err_BAD_CALLBACK_PARAM);
  pb.src = nullptr;
  EXPECT_EQ(sf->subpixel_sample_float(r.ref(), 0, 0, &pb, &pf), PF_Err_BAD_CALLBACK_PARAM);
  hostsim::basic_suite()->ReleaseSuite("PF Sampling16 Suite", 1);
  hostsim::basic_suite()->ReleaseSuite("PF SamplingFloat Suite", 1);
}

TEST_F(HostsimTest, ConversionScalesBetweenFullScales) {
  World w(PF_PixelFormat_ARGB32, 1, 1);
  w.write(0, 0, {255, 128, 0, 1});
  auto w16 = w.converted(PF_PixelFormat_ARGB64);
  const hostsim::Pixel p = w16->read(0, 0);
  EXPECT_EQ(p.alpha, 32768);
  EXPECT_EQ(p.red, 16448);  // 128 x 32768 / 255 = 16448.25
  EXPECT_EQ(p.blue, 129);   // 128.5 rounds up
  auto wf = w.converted(PF_PixelFormat_ARGB128);
  EXPECT_FLOAT_EQ(static_cast<float>(wf->read(0, 0).red), 128.0f / 255.0f);
}

// ---------------------------------------------------------------------------------------
// Failure injection and the log
// ---------------------------------------------------------------------------------------

TEST_F(HostsimTest, InjectedFailureFiresOnTheKthCallOnly) {
  PF_UtilCallbacks* u = hostsim::utils();
  hostsim::inject_failure({"host_new_handle", 3});
  PF_Handle h[5];
  for (auto& x : h) x = u->host_new_handle(8);
  EXPECT_NE(h[0], nullptr);
  EXPECT_NE(h[1], nullptr);
  EXPECT_EQ(h[2], nullptr);
  EXPECT_NE(h[3], nullptr);
  EXPECT_NE(h[4], nullptr);
  EXPECT_EQ(hostsim::injected_failure_count(), 1);
  EXPECT_EQ(hostsim::call_count("host_new_handle"), 5);
  const auto log = hostsim::calls();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_TRUE(log[2].injected);
  EXPECT_EQ(log[2].k, 3);
  EXPECT_FALSE(log[3].injected);
  for (auto x : h)
    if (x) u->host_dispose_handle(x);

  // Counting starts again after reset_calls(), and the rule fires again.
  hostsim::reset_calls();
  for (int i = 0; i < 2; ++i) u->host_dispose_handle(u->host_new_handle(1));
  EXPECT_EQ(u->host_new_handle(1), nullptr);
  EXPECT_EQ(hostsim::injected_failure_count(), 2);
  EXPECT_EQ(hostsim::live_handles_since(baseline_).size(), 0u);
}

TEST_F(HostsimTest, InjectedSuiteFailureByQualifiedName) {
  SPBasicSuite* sp = hostsim::basic_suite();
  hostsim::inject_failure({"AcquireSuite:PF World Suite", 2, 1234});
  const void* s = nullptr;
  EXPECT_EQ(sp->AcquireSuite("PF Handle Suite", 2, &s), 0);  // other suites count apart
  EXPECT_EQ(sp->AcquireSuite("PF World Suite", 2, &s), 0);
  s = &s;
  EXPECT_EQ(sp->AcquireSuite("PF World Suite", 2, &s), 1234);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(sp->AcquireSuite("PF World Suite", 2, &s), 0);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").acquires, 2);
  EXPECT_EQ(hostsim::suite_stats("PF World Suite").failed_acquires, 1);
  EXPECT_EQ(hostsim::call_count("AcquireSuite"), 4);
  EXPECT_EQ(hostsim::call_count("AcquireSuite:PF World Suite"), 3);
  sp->ReleaseSuite("PF Handle Suite", 2);
  sp->ReleaseSuite("PF World Suite", 2);
  sp->ReleaseSuite("PF World Suite", 2);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);

  // k = 0: every call from now on; with null_result and code 0, success with a null suite.
  hostsim::inject_failure({"AcquireSuite:PF Sampling8 Suite", 0, 0, true});
  for (int i = 0; i < 3; ++i) {
    s = &s;
    EXPECT_EQ(sp->AcquireSuite("PF Sampling8 Suite", 1, &s), 0);
    EXPECT_EQ(s, nullptr);
  }
  EXPECT_EQ(hostsim::suite_stats("PF Sampling8 Suite").acquires, 0);
}

// ---------------------------------------------------------------------------------------
// Parameters, snapshot and UI pushes, through an in-process module
// ---------------------------------------------------------------------------------------

// Declares: 1 float slider "Radius" (default 0), 2 slider "Threshold" (255), 3 popup "Shape"
// (1 of "Circle|Polygon|Layer"), 4 angle "Phase", 5 layer "Iris Layer".
PF_Err declare(PF_InData* in, PF_OutData* out) {
  PF_ParamDef d{};
  d.param_type = PF_Param_FLOAT_SLIDER;
  std::strcpy(d.name, "Radius");
  d.u.fs_d.valid_max = 300;
  d.u.fs_d.precision = 2;
  PF_Err err = in->inter.add_param(in->effect_ref, -1, &d);
  d = PF_ParamDef{};
  d.param_type = PF_Param_SLIDER;
  std::strcpy(d.name, "Threshold");
  d.u.sd.valid_max = 255;
  d.u.sd.value = d.u.sd.dephault = 255;
  if (!err) err = in->inter.add_param(in->effect_ref, -1, &d);
  d = PF_ParamDef{};
  d.param_type = PF_Param_POPUP;
  std::strcpy(d.name, "Shape");
  d.u.pd.num_choices = 3;
  d.u.pd.value = d.u.pd.dephault = 1;
  std::string choices = "Circle|Polygon|Layer";  // gone when this function returns
  d.u.pd.u.namesptr = choices.c_str();
  if (!err) err = in->inter.add_param(in->effect_ref, -1, &d);
  d = PF_ParamDef{};
  d.param_type = PF_Param_ANGLE;
  std::strcpy(d.name, "Phase");
  if (!err) err = in->inter.add_param(in->effect_ref, 4, &d);  // explicit next index
  d = PF_ParamDef{};
  d.param_type = PF_Param_LAYER;
  std::strcpy(d.name, "Iris Layer");
  if (!err) err = in->inter.add_param(in->effect_ref, -1, &d);
  if (!err) out->num_params = 6;
  return err;
}

class ParamTest : public HostsimTest {
 protected:
  void SetUp() override {
    HostsimTest::SetUp();
    script = [](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
      return cmd == PF_Cmd_PARAMS_SETUP ? declare(in, out) : PF_Err_NONE;
    };
    ASSERT_EQ(fx.params_setup().err, 0);
  }
  Instance fx{scripted_entry};
};

TEST_F(ParamTest, DeclarationsAreCollectedInOrder) {
  EXPECT_EQ(fx.num_params(), 6);
  const auto decls = fx.declared_params();
  ASSERT_EQ(decls.size(), 5u);
  EXPECT_STREQ(decls[0].name, "Radius");
  EXPECT_EQ(decls[2].param_type, PF_Param_POPUP);
  // The host keeps its own copy of the popup string.
  EXPECT_STREQ(decls[2].u.pd.u.namesptr, "Circle|Polygon|Layer");
  EXPECT_EQ(fx.popup_choices(3), "Circle|Polygon|Layer");
  EXPECT_EQ(decls[4].param_type, PF_Param_LAYER);

  // A failing add_param: the declarations stop there and num_params keeps its value.
  hostsim::reset_calls();
  hostsim::inject_failure({"add_param", 2, 77});
  const hostsim::CommandResult r = fx.params_setup();
  EXPECT_EQ(r.err, 77);
  EXPECT_EQ(fx.declared_params().size(), 1u);
  EXPECT_EQ(fx.num_params(), 6);
}

TEST_F(ParamTest, CheckoutAnswersTypedValuesFromTheStore) {
  fx.set_float(1, 12.5);
  fx.set_int(2, 17);
  fx.set_int(3, 2);
  fx.set_angle(4, -90 * 65536);
  hostsim::Command c = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
  auto checkout = [&](PF_ParamIndex i) {
    PF_ParamDef d{};
    EXPECT_EQ(c.in_data.inter.checkout_param(c.in_data.effect_ref, i, 0, 1, 30, &d), 0) << i;
    return d;
  };
  PF_ParamDef d = checkout(1);
  EXPECT_EQ(d.param_type, PF_Param_FLOAT_SLIDER);
  EXPECT_STREQ(d.name, "Radius");
  EXPECT_EQ(d.u.fs_d.value, 12.5);
  EXPECT_EQ(d.u.fs_d.valid_max, 300.0f);  // the declared ranges come along
  EXPECT_EQ(checkout(2).u.sd.value, 17);
  EXPECT_EQ(checkout(3).u.pd.value, 2);
  EXPECT_EQ(checkout(4).u.ad.value, -90 * 65536);
  // No layer chosen: a layer definition whose world has no pixels.
  d = checkout(5);
  EXPECT_EQ(d.param_type, PF_Param_LAYER);
  EXPECT_EQ(d.u.ld.data, nullptr);

  auto layer = std::make_shared<World>(PF_PixelFormat_ARGB32, 7, 3);
  fx.set_layer(5, layer);
  hostsim::Command c2 = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
  PF_ParamDef l{};
  ASSERT_EQ(c2.in_data.inter.checkout_param(c2.in_data.effect_ref, 5, 0, 1, 30, &l), 0);
  EXPECT_EQ(l.u.ld.data, layer->effect_world()->data);
  EXPECT_EQ(l.u.ld.width, 7);
  // The parameter array handed to the command holds the same values.
  EXPECT_EQ(c2.param_defs.size(), 6u);
  EXPECT_EQ(c2.param_defs[1].u.fs_d.value, 12.5);
  EXPECT_EQ(c2.param_defs[5].u.ld.height, 3);

  PF_ParamDef none{};
  EXPECT_EQ(c.in_data.inter.checkout_param(c.in_data.effect_ref, 6, 0, 1, 30, &none),
            PF_Err_INVALID_INDEX);
  EXPECT_EQ(c.in_data.inter.checkout_param(nullptr, 1, 0, 1, 30, &none), PF_Err_BAD_CALLBACK_PARAM);

  // Wrong types and undeclared indices are refused with the parameter named.
  try {
    fx.set_int(1, 3);
    FAIL() << "set_int on a float slider was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("\"Radius\""), std::string::npos) << e.what();
  }
  EXPECT_THROW(fx.set_float(9, 1.0), std::invalid_argument);
  EXPECT_THROW(fx.set_layer(0, nullptr), std::invalid_argument);
  fx.reset_param(1);
  EXPECT_EQ(fx.current_param(1).u.fs_d.value, 0.0);
}

TEST_F(ParamTest, StaleEffectRefIsRefused) {
  PF_ProgPtr stale = nullptr;
  {
    hostsim::Command c = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
    stale = c.in_data.effect_ref;
  }
  hostsim::Command fresh = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
  EXPECT_NE(fresh.in_data.effect_ref, stale);  // never handed out again
  PF_ParamDef d{};
  EXPECT_EQ(fresh.in_data.inter.checkout_param(stale, 1, 0, 1, 30, &d), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(fresh.in_data.inter.progress(stale, 1, 2), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::fault_count(), 2);
}

// In a frame, a layer parameter shows in the frame's pixel format, through checkout_param
// and through checkout_layer / checkout_layer_pixels alike; ids never checked out are refused.
TEST_F(ParamTest, LayerFollowsTheFramesPixelFormat) {
  auto layer = std::make_shared<World>(PF_PixelFormat_ARGB32, 3, 2);
  layer->write(2, 1, {255, 51, 0, 255});
  fx.set_layer(5, layer);
  script = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, void* extra) -> PF_Err {
    if (cmd == PF_Cmd_SMART_PRE_RENDER) {
      auto* pre = static_cast<PF_PreRenderExtra*>(extra);
      PF_CheckoutResult r{};
      PF_Err err =
          pre->cb->checkout_layer(in->effect_ref, 0, 0, &pre->input->output_request, 0, 1, 30, &r);
      if (!err)
        err = pre->cb->checkout_layer(in->effect_ref, 5, 1, &pre->input->output_request, 0, 1, 30,
                                      &r);
      return err;
    }
    if (cmd != PF_Cmd_SMART_RENDER) return PF_Err_NONE;
    auto* sr = static_cast<PF_SmartRenderExtra*>(extra);
    PF_ParamDef d{};
    PF_Err err = in->inter.checkout_param(in->effect_ref, 5, 0, 1, 30, &d);
    const PF_WorldSuite2* ws = nullptr;
    in->pica_basicP->AcquireSuite("PF World Suite", 2, reinterpret_cast<const void**>(&ws));
    PF_PixelFormat f = 0;
    if (!err) err = ws->PF_GetPixelFormat(&d.u.ld, &f);
    in->pica_basicP->ReleaseSuite("PF World Suite", 2);
    if (!err && f != PF_PixelFormat_ARGB128) err = 1001;
    const auto* row1 = reinterpret_cast<const PF_PixelFloat*>(
        static_cast<const uint8_t*>(d.u.ld.data) + d.u.ld.rowbytes);
    if (!err && (row1[2].red != 0.2f || row1[2].alpha != 1.0f)) err = 1002;
    PF_EffectWorld* w = nullptr;
    if (!err) err = sr->cb->checkout_layer_pixels(in->effect_ref, 1, &w);
    if (!err && (!w || w->data != d.u.ld.data)) err = 1003;  // the same converted world
    if (!err && sr->cb->checkout_layer_pixels(in->effect_ref, 7, &w) != PF_Err_BAD_CALLBACK_PARAM)
      err = 1004;
    return err;
  };
  World in(PF_PixelFormat_ARGB128, 3, 2), out(PF_PixelFormat_ARGB128, 3, 2);
  const hostsim::FrameResult r = fx.render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r.err, PF_Err_NONE);
  ASSERT_EQ(r.checkouts.size(), 2u);
  EXPECT_EQ(r.checkouts[1].result.max_result_rect.right, 3);
  EXPECT_EQ(hostsim::fault_count(), 1);  // the id never checked out
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
}

TEST_F(ParamTest, CheckoutFailureByIndex) {
  hostsim::inject_failure({"checkout_param:3", 1, PF_Interrupt_CANCEL});
  hostsim::Command c = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
  PF_ParamDef d{};
  d.u.pd.value = 99;
  EXPECT_EQ(c.in_data.inter.checkout_param(c.in_data.effect_ref, 2, 0, 1, 30, &d), 0);
  d.u.pd.value = 99;
  EXPECT_EQ(c.in_data.inter.checkout_param(c.in_data.effect_ref, 3, 0, 1, 30, &d),
            PF_Interrupt_CANCEL);
  EXPECT_EQ(d.u.pd.value, 99);  // untouched
  EXPECT_EQ(c.in_data.inter.checkout_param(c.in_data.effect_ref, 3, 0, 1, 30, &d), 0);
  EXPECT_EQ(d.u.pd.value, 1);
}

TEST_F(ParamTest, StateSnapshotChangesWithAnyValue) {
  hostsim::Command c = fx.prepare(PF_Cmd_USER_CHANGED_PARAM);
  const PF_ParamUtilsSuite1* pu = nullptr;
  hostsim::basic_suite()->AcquireSuite("PF Param Utils Suite", 2,
                                       reinterpret_cast<const void**>(&pu));
  PF_State s0{};
  ASSERT_EQ(pu->PF_GetCurrentState(c.in_data.effect_ref, &s0), 0);
  auto changed = [&](const PF_State& s, PF_ParamIndex i) {
    PF_Boolean b = 7;
    EXPECT_EQ(pu->PF_HasParamChanged(c.in_data.effect_ref, &s, i, &b), 0);
    return b;
  };
  EXPECT_EQ(changed(s0, -3), 0);
  fx.set_int(2, 255);  // the declared value: no change
  EXPECT_EQ(changed(s0, -2), 0);
  fx.set_int(2, 100);
  // The host's version 2 ignores the index: whatever is asked, a change of parameter 2 is
  // seen, also when asking about parameter 1 or about one that does not exist.
  for (PF_ParamIndex i : {-4, -3, -2, -1, 1, 2, 99}) EXPECT_EQ(changed(s0, i), 1) << i;
  PF_State s1{};
  pu->PF_GetCurrentState(c.in_data.effect_ref, &s1);
  EXPECT_NE(std::memcmp(&s0, &s1, sizeof s0), 0);
  for (PF_ParamIndex i : {-4, -3, -2, -1, 1, 2, 99}) EXPECT_EQ(changed(s1, i), 0) << i;
  // Only a layer changes: the all-but-layers index -3 sees it too, as no index is honoured.
  auto layer = std::make_shared<World>(PF_PixelFormat_ARGB32, 1, 1);
  fx.set_layer(5, layer);
  EXPECT_EQ(changed(s1, -3), 1);
  EXPECT_EQ(changed(s1, 1), 1);
  // A record that is not a snapshot of ours counts as changed.
  PF_State zero{};
  EXPECT_EQ(changed(zero, 1), 1);

  // A state record in a handle too short for a PF_State is refused, not read past.
  PF_Handle one = hostsim::utils()->host_new_handle(1);
  PF_Boolean b = 0;
  EXPECT_EQ(pu->PF_HasParamChanged(c.in_data.effect_ref, static_cast<PF_State*>(*one), -3, &b),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(pu->PF_GetCurrentState(c.in_data.effect_ref, static_cast<PF_State*>(*one)),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(hostsim::fault_count(), 2);
  hostsim::utils()->host_dispose_handle(one);
  hostsim::basic_suite()->ReleaseSuite("PF Param Utils Suite", 2);
}

TEST_F(ParamTest, UpdateParamUiRecordsPushesAndTheirFlags) {
  hostsim::Command c = fx.prepare(PF_Cmd_UPDATE_PARAMS_UI);
  const PF_ParamUtilsSuite1* pu = nullptr;
  hostsim::basic_suite()->AcquireSuite("PF Param Utils Suite", 2,
                                       reinterpret_cast<const void**>(&pu));
  PF_ParamDef d = c.param_defs[4];
  d.ui_flags |= PF_PUI_DISABLED;
  std::strcpy(d.name, "Angle");
  ASSERT_EQ(pu->PF_UpdateParamUI(c.in_data.effect_ref, 4, &d), 0);
  PF_ParamDef wrong = c.param_defs[1];
  EXPECT_EQ(pu->PF_UpdateParamUI(c.in_data.effect_ref, 2, &wrong), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(pu->PF_UpdateParamUI(c.in_data.effect_ref, 6, &d), PF_Err_INVALID_INDEX);
  const auto pushes = fx.ui_pushes();
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].index, 4);
  EXPECT_STREQ(pushes[0].def.name, "Angle");
  EXPECT_EQ(pushes[0].def.ui_flags, PF_PUI_DISABLED);
  // The host shows the control disabled from now on; its declared name stays.
  EXPECT_EQ(fx.current_param(4).ui_flags, PF_PUI_DISABLED);
  EXPECT_STREQ(fx.current_param(4).name, "Phase");
  hostsim::basic_suite()->ReleaseSuite("PF Param Utils Suite", 2);
}

// ---------------------------------------------------------------------------------------
// Strings, registration, progress, data carried between commands
// ---------------------------------------------------------------------------------------

TEST_F(HostsimTest, SprintfAndStrcpyNeverOverrunReturnMsg) {
  Instance fx(scripted_entry);
  const std::string long_text(400, 'x');
  script = [&](PF_Cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) {
    std::memset(out->return_msg, 'q', sizeof out->return_msg);
    in->utils->ansi.sprintf(out->return_msg + 200, "%s-%d", long_text.c_str(), 5);
    in->utils->ansi.strcpy(out->return_msg, long_text.c_str());
    return in->utils->ansi.sprintf(out->return_msg + 10, "%s %d", "ok", 42) == 5 ? 0 : 1;
  };
  hostsim::CommandResult r = fx.about();
  EXPECT_EQ(r.err, 0);
  EXPECT_EQ(r.message(), std::string(10, 'x') + "ok 42");
  EXPECT_EQ(r.out_data.return_msg[255], '\0');
  // Both the sprintf and the strcpy were cut at the end of the buffer, and said so.
  EXPECT_EQ(hostsim::fault_count(), 2);
  EXPECT_EQ(r.out_data.start_sampL, 0);  // the field after return_msg is untouched
}

TEST_F(HostsimTest, RegistrationAndCarriedHandles) {
  Instance fx(scripted_entry);
  script = [](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
    if (cmd == PF_Cmd_GLOBAL_SETUP) {
      const AEGP_UtilitySuite3* us = nullptr;
      in->pica_basicP->AcquireSuite("AEGP Utility Suite", 7, reinterpret_cast<const void**>(&us));
      AEGP_PluginID id = 0;
      const PF_Err err = us->AEGP_RegisterWithAEGP(nullptr, "Tester", &id);
      in->pica_basicP->ReleaseSuite("AEGP Utility Suite", 7);
      out->global_data = in->utils->host_new_handle(static_cast<uint64_t>(id));
      return err;
    }
    if (cmd == PF_Cmd_SEQUENCE_SETUP) out->sequence_data = in->utils->host_new_handle(1);
    if (cmd == PF_Cmd_SEQUENCE_SETDOWN) in->utils->host_dispose_handle(in->sequence_data);
    if (cmd == PF_Cmd_GLOBAL_SETDOWN) in->utils->host_dispose_handle(in->global_data);
    if (cmd == PF_Cmd_ABOUT && (!in->global_data || !in->sequence_data)) return 99;
    return PF_Err_NONE;
  };
  EXPECT_EQ(fx.global_setup().err, 0);
  const auto regs = fx.registrations();
  ASSERT_EQ(regs.size(), 1u);
  EXPECT_EQ(regs[0].plugin_name, "Tester");
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(fx.global_data()),
            static_cast<uint64_t>(regs[0].plugin_id));
  EXPECT_EQ(fx.sequence_setup().err, 0);
  EXPECT_NE(fx.sequence_data(), nullptr);
  EXPECT_EQ(fx.about().err, 0);  // both handles came back in the in-data
  EXPECT_EQ(fx.finish().err, 0);
  EXPECT_EQ(fx.global_data(), nullptr);
  EXPECT_EQ(fx.sequence_data(), nullptr);
  EXPECT_EQ(hostsim::live_handles_since(baseline_).size(), 0u);
  EXPECT_EQ(hostsim::fault_count(), 0);
  EXPECT_EQ(hostsim::outstanding_suites(), 0);
}

TEST_F(HostsimTest, SequenceDataIsNeverCarriedDeadNorForgottenAlive) {
  Instance fx(scripted_entry);
  int fail_setup = 0;
  script = [&](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, void*) -> PF_Err {
    if (cmd == PF_Cmd_SEQUENCE_SETUP) {
      if (fail_setup) return PF_Err_BAD_CALLBACK_PARAM;  // fails before touching anything
      out->sequence_data = in->utils->host_new_handle(1);
    }
    if (cmd == PF_Cmd_UPDATE_PARAMS_UI) in->utils->host_dispose_handle(in->sequence_data);
    if (cmd == PF_Cmd_SEQUENCE_SETDOWN) in->utils->host_dispose_handle(in->sequence_data);
    return PF_Err_NONE;
  };
  ASSERT_EQ(fx.sequence_setup().err, 0);
  const PF_Handle first = fx.sequence_data();
  fail_setup = 1;
  EXPECT_NE(fx.sequence_setup().err, 0);
  EXPECT_EQ(fx.sequence_data(), first);  // still alive: kept
  EXPECT_EQ(fx.update_params_ui().err, 0);
  EXPECT_EQ(fx.sequence_data(), nullptr);  // disposed without a replacement: dropped
  ASSERT_EQ(hostsim::faults().size(), 1u);
  EXPECT_NE(hostsim::faults()[0].detail.find("sequence data"), std::string::npos);
  EXPECT_EQ(hostsim::live_handles_since(baseline_).size(), 0u);
}

TEST_F(HostsimTest, ProgressAndAbortReachTheHooks) {
  Instance fx(scripted_entry);
  script = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, void*) -> PF_Err {
    if (cmd != PF_Cmd_SMART_RENDER) return PF_Err_NONE;
    PF_Err err = PF_Err_NONE;
    for (int i = 0; i <= 4 && !err; ++i) err = in->inter.progress(in->effect_ref, i, 3);
    return err ? err : in->inter.abort(in->effect_ref);
  };
  World in(PF_PixelFormat_ARGB32, 2, 2), out(PF_PixelFormat_ARGB32, 2, 2);
  std::vector<std::pair<int, int>> seen;
  int asked = 0;
  hostsim::FrameRequest req;
  req.input = &in;
  req.output = &out;
  req.on_progress = [&](int32_t c, int32_t t) { seen.emplace_back(c, t); };
  req.on_abort = [&]() -> PF_Err { return ++asked == 3 ? PF_Interrupt_CANCEL : PF_Err_NONE; };
  hostsim::FrameResult r = fx.render_frame(req);
  EXPECT_EQ(r.err, PF_Interrupt_CANCEL);
  ASSERT_EQ(r.progress.size(), 3u);  // the third report was answered with the cancel
  EXPECT_EQ(r.progress[2].current, 2);
  EXPECT_EQ(r.progress[2].total, 3);
  EXPECT_EQ(seen.size(), 3u);
}

}  // namespace

namespace {

// Premiere mode: 'PrMr' whatever appl_id says, no AEGP suite served (the others are), and
// frames as frame setup, the classic render with the input as parameter 0 and the output
// world as the output argument, and frame setdown.
PF_LayerDef* last_output = nullptr;
PF_Err output_recording_entry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                              PF_LayerDef* output, void* extra) {
  last_output = output;
  return script ? script(cmd, in, out, params, extra) : PF_Err_NONE;
}

TEST_F(HostsimTest, PremiereModeServesNoAegpSuiteAndSendsTheClassicFrameCommands) {
  for (const bool premiere : {false, true}) {
    SCOPED_TRACE(premiere ? "premiere" : "after effects");
    Instance fx(output_recording_entry);
    fx.settings.premiere = premiere;
    std::vector<PF_Cmd> seen;
    SPErr utility = -1, handle = -1;
    script = [&](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef** params, void*) -> PF_Err {
      seen.push_back(cmd);
      if (cmd == PF_Cmd_GLOBAL_SETUP) {
        EXPECT_EQ(in->appl_id, premiere ? PF_APPL_ID_PREMIERE : hostsim::kApplIdAfterEffects);
        const void* suite = nullptr;
        utility = in->pica_basicP->AcquireSuite(kAEGPUtilitySuite, 7, &suite);
        if (utility == 0) in->pica_basicP->ReleaseSuite(kAEGPUtilitySuite, 7);
        handle = in->pica_basicP->AcquireSuite(kPFHandleSuite, 2, &suite);
        if (handle == 0) in->pica_basicP->ReleaseSuite(kPFHandleSuite, 2);
      }
      if (cmd == PF_Cmd_RENDER) {
        EXPECT_NE(params, nullptr);
        EXPECT_EQ(params[0]->u.ld.width, 5);
        EXPECT_EQ(params[0]->u.ld.height, 3);
        EXPECT_EQ(params[0]->u.ld.world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);
      }
      return PF_Err_NONE;
    };
    EXPECT_EQ(fx.global_setup().err, PF_Err_NONE);
    EXPECT_EQ(utility, premiere ? hostsim::kSPSuiteNotFoundError : 0);
    EXPECT_EQ(handle, 0);
    World in(PF_PixelFormat_ARGB64, 5, 3), out(PF_PixelFormat_ARGB64, 5, 3);
    seen.clear();
    last_output = nullptr;
    const hostsim::FrameResult r = fx.render_frame(hostsim::frame_request(in, out));
    EXPECT_EQ(r.err, PF_Err_NONE);
    if (premiere) {
      EXPECT_EQ(seen,
                (std::vector<PF_Cmd>{PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER, PF_Cmd_FRAME_SETDOWN}));
      EXPECT_EQ(last_output, out.effect_world());
    } else {
      EXPECT_EQ(seen, (std::vector<PF_Cmd>{PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}));
    }
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    script = nullptr;
  }
}

}  // namespace
