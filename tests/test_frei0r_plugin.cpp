// The frei0r filter loaded as frei0r hosts load it (dlopen, the C functions): its exports,
// its descriptions, its parameters, and its frames, which equal the effect module's renders
// of the same pictures through the stand-in host byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dynamic_symbols.h"
#include "frei0r_test_support.h"

namespace {

using frei0r_test::filter;
using frei0r_test::Frame;
using frei0r_test::get_number;
using frei0r_test::get_string;
using frei0r_test::Instance;
using frei0r_test::module_render;
using frei0r_test::pattern_frame;
using frei0r_test::set_number;
using frei0r_test::set_string;
using frei0r_test::Setting;
using frei0r_test::settings;

// Every pixel of the frame set to one RGBA value.
Frame constant_frame(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  Frame frame(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = frame.pixel(x, y);
      p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
  }
  return frame;
}

Setting with_radius(Setting s, double radius01, double radius) {
  s.radius01 = radius01;
  s.radius = radius;
  return s;
}

TEST(Frei0rFile, ExportsExactlyTheFrei0rFunctions) {
  EXPECT_EQ(
      defined_dynamic_symbols(VEILMORA_FREI0R_PATH),
      (std::set<std::string>{"f0r_init", "f0r_deinit", "f0r_get_plugin_info", "f0r_get_param_info",
                             "f0r_construct", "f0r_destruct", "f0r_set_param_value",
                             "f0r_get_param_value", "f0r_update", "f0r_update2"}));
}

TEST(Frei0rDescription, IsAnRgbaFilterWithEightParameters) {
  f0r_plugin_info_t info{};
  filter().get_plugin_info(&info);
  EXPECT_STREQ(info.name, "veilmora");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_EQ(info.num_params, 8);
  ASSERT_NE(info.author, nullptr);
  ASSERT_NE(info.explanation, nullptr);
}

TEST(Frei0rDescription, ParametersInTheirOrderNamedAsTheEffectsWithTheirTypes) {
  const struct {
    const char* name;
    int type;
  } expected[] = {{"Radius", F0R_PARAM_DOUBLE},
                  {"Weight", F0R_PARAM_DOUBLE},
                  {"Specular Brightness", F0R_PARAM_DOUBLE},
                  {"Specular Threshold", F0R_PARAM_DOUBLE},
                  {"Shape", F0R_PARAM_STRING},
                  {"Edges", F0R_PARAM_DOUBLE},
                  {"Phase", F0R_PARAM_DOUBLE},
                  {"Outside", F0R_PARAM_STRING}};
  for (int i = 0; i < 8; ++i) {
    f0r_param_info_t info{};
    filter().get_param_info(&info, i);
    EXPECT_STREQ(info.name, expected[i].name) << "parameter " << i;
    EXPECT_EQ(info.type, expected[i].type) << "parameter " << i;
    EXPECT_NE(info.explanation, nullptr) << "parameter " << i;
  }
  // Indices that name no parameter leave the record as it was.
  for (int index : {-1, 8, 1000}) {
    f0r_param_info_t info{"untouched", 99, nullptr};
    filter().get_param_info(&info, index);
    EXPECT_STREQ(info.name, "untouched");
    EXPECT_EQ(info.type, 99);
  }
}

TEST(Frei0rParameters, StartAtTheEffectsDefaultsMappedOntoZeroToOne) {
  Instance fx(16, 8);
  ASSERT_NE(fx.handle, nullptr);
  EXPECT_EQ(get_number(fx.handle, 0), 0.0);         // Radius 0 of 0..300
  EXPECT_DOUBLE_EQ(get_number(fx.handle, 1), 0.2);  // Weight 2 of 0..10
  EXPECT_EQ(get_number(fx.handle, 2), 0.0);         // Specular Brightness 1.0 of 1.0..1.5
  EXPECT_EQ(get_number(fx.handle, 3), 1.0);         // Specular Threshold 255 of 0..255
  EXPECT_EQ(get_string(fx.handle, 4), "circle");
  EXPECT_DOUBLE_EQ(get_number(fx.handle, 5), 5.0 / 13.0);  // Edges 8 of 3..16
  EXPECT_EQ(get_number(fx.handle, 6), 0.0);                // Phase 0 of 0..360
  EXPECT_EQ(get_string(fx.handle, 7), "mirror");
}

TEST(Frei0rParameters, GetReturnsWhatSetSet) {
  Instance fx(16, 8);
  const double values[] = {0.3, 0.71, 0.0001, 0.999, 1.0, 0.5, 0.123};
  const int numbers[] = {0, 1, 2, 3, 5, 6};
  for (int index : numbers) {
    for (double v : values) {
      set_number(fx.handle, index, v);
      EXPECT_EQ(get_number(fx.handle, index), v) << "parameter " << index;
    }
  }
  set_string(fx.handle, 4, "polygon");
  EXPECT_EQ(get_string(fx.handle, 4), "polygon");
  set_string(fx.handle, 4, "circle");
  EXPECT_EQ(get_string(fx.handle, 4), "circle");
  set_string(fx.handle, 7, "edge");
  EXPECT_EQ(get_string(fx.handle, 7), "edge");
  set_string(fx.handle, 7, "mirror");
  EXPECT_EQ(get_string(fx.handle, 7), "mirror");
  // Letter case does not matter; the value reads back in the table's spelling.
  set_string(fx.handle, 4, "Polygon");
  EXPECT_EQ(get_string(fx.handle, 4), "polygon");
  set_string(fx.handle, 7, "EDGE");
  EXPECT_EQ(get_string(fx.handle, 7), "edge");
}

TEST(Frei0rParameters, NumbersOutsideZeroToOneAreClampedAndBadValuesKeepThePrevious) {
  Instance fx(16, 8);
  const double inf = std::numeric_limits<double>::infinity();
  set_number(fx.handle, 0, -0.5);
  EXPECT_EQ(get_number(fx.handle, 0), 0.0);
  set_number(fx.handle, 0, 7.0);
  EXPECT_EQ(get_number(fx.handle, 0), 1.0);
  set_number(fx.handle, 6, -inf);
  EXPECT_EQ(get_number(fx.handle, 6), 0.0);
  set_number(fx.handle, 6, inf);
  EXPECT_EQ(get_number(fx.handle, 6), 1.0);
  set_number(fx.handle, 1, 0.4);
  set_number(fx.handle, 1, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(get_number(fx.handle, 1), 0.4);

  set_string(fx.handle, 4, "polygon");
  for (const char* bad : {"hexagon", "", "polygonx", "layer"}) {
    set_string(fx.handle, 4, bad);
    EXPECT_EQ(get_string(fx.handle, 4), "polygon") << bad;
  }
  set_string(fx.handle, 4, nullptr);
  EXPECT_EQ(get_string(fx.handle, 4), "polygon");
  set_string(fx.handle, 7, "edge");
  set_string(fx.handle, 7, "wrap");
  EXPECT_EQ(get_string(fx.handle, 7), "edge");

  // Null pointers and indices that name no parameter change nothing and do not crash.
  filter().set_param_value(fx.handle, nullptr, 0);
  filter().get_param_value(fx.handle, nullptr, 0);
  double untouched = 0.25;
  filter().set_param_value(fx.handle, &untouched, 8);
  filter().set_param_value(fx.handle, &untouched, -1);
  filter().get_param_value(fx.handle, &untouched, 8);
  EXPECT_EQ(untouched, 0.25);
  filter().set_param_value(nullptr, &untouched, 0);
  filter().get_param_value(nullptr, &untouched, 0);
  EXPECT_EQ(get_number(fx.handle, 0), 1.0);
}

// The frames of every setting at 1 x 1, 7 x 5 (not a multiple of 8) and a small frame that
// takes more than one tile, against the module rendering the same picture.
TEST(Frei0rRender, FramesEqualTheModulesRendersForEverySettingAndSize) {
  const int sizes[][2] = {{1, 1}, {7, 5}, {61, 3}, {530, 37}};
  for (const Setting& s : settings()) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(s.label) + " " + std::to_string(size[0]) + "x" +
                   std::to_string(size[1]));
      const Frame in = pattern_frame(size[0], size[1], 7u + size[0]);
      Instance fx(size[0], size[1]);
      ASSERT_NE(fx.handle, nullptr);
      frei0r_test::apply(fx.handle, s);
      const Frame out = fx.render(in);
      EXPECT_TRUE(out == module_render(in, s));
      EXPECT_FALSE(out == in);
    }
  }
}

TEST(Frei0rRender, FullHdFramesEqualTheModulesRenders) {
  const Frame in = pattern_frame(1920, 1080, 3);
  // A margin above 150 takes the largest tiles.
  for (const Setting& s : {settings()[0], with_radius(settings()[3], 0.6, 180.0)}) {
    SCOPED_TRACE(s.label);
    Instance fx(1920, 1080);
    ASSERT_NE(fx.handle, nullptr);
    frei0r_test::apply(fx.handle, s);
    const Frame out = fx.render(in);
    EXPECT_TRUE(out == module_render(in, s));
  }
}

TEST(Frei0rRender, RadiusZeroGivesTheFrameUnchanged) {
  const Frame in = pattern_frame(23, 9, 11);
  Instance fx(23, 9);
  frei0r_test::apply(fx.handle, with_radius(settings()[0], 0.0, 0.0));
  EXPECT_TRUE(fx.render(in) == in);
  // A fresh instance starts at radius 0.
  Instance fresh(23, 9);
  EXPECT_TRUE(fresh.render(in) == in);
}

TEST(Frei0rRender, AnOpaqueConstantFrameStaysConstant) {
  // Every channel below the threshold, so the gain does not apply; any kernel with a non-zero
  // sum averages equal pixels into the same value.
  const Frame in = constant_frame(37, 21, 90, 140, 30, 255);
  for (const Setting& s : settings()) {
    SCOPED_TRACE(s.label);
    Setting below = s;
    below.threshold01 = 1.0;
    Instance fx(37, 21);
    frei0r_test::apply(fx.handle, below);
    EXPECT_TRUE(fx.render(in) == in);
  }
}

TEST(Frei0rRender, GainOnAnOpaqueConstantFrameIsTheWorkedValue) {
  // 200 at or above the threshold 128 with gain 1.5: floor(200 x 1.5 + 0.5) = 300, limited to
  // 255; 100 is below it and stays; 130 x 1.5 = 195.
  const Frame in = constant_frame(19, 13, 200, 100, 130, 255);
  Instance fx(19, 13);
  frei0r_test::apply(fx.handle, settings()[2]);  // gain 1.5, threshold 128
  EXPECT_TRUE(fx.render(in) == constant_frame(19, 13, 255, 100, 195, 255));
}

TEST(Frei0rRender, TransparentBlackStaysTransparentBlack) {
  const Frame in = constant_frame(12, 12, 0, 0, 0, 0);
  for (const Setting& s : settings()) {
    Instance fx(12, 12);
    frei0r_test::apply(fx.handle, s);
    EXPECT_TRUE(fx.render(in) == in) << s.label;
  }
}

TEST(Frei0rRender, AParameterChangedBetweenFramesTakesEffectOnTheNextFrame) {
  const Frame in = pattern_frame(7, 5, 21);
  Instance fx(7, 5);
  const Setting first = settings()[0];
  frei0r_test::apply(fx.handle, first);
  EXPECT_TRUE(fx.render(in) == module_render(in, first));
  // Tiles of 1024 (margin above 150), then of 256, then of 512 and 256 again: the planes are
  // laid out anew each time.
  const Setting later[] = {with_radius(first, 0.9, 270.0), with_radius(first, 0.01, 3.0),
                           with_radius(first, 0.5, 150.0), settings()[2]};
  for (const Setting& s : later) {
    frei0r_test::apply(fx.handle, s);
    EXPECT_TRUE(fx.render(in) == module_render(in, s)) << s.label << " radius " << s.radius;
  }
  set_string(fx.handle, 4, "circle");
  Setting circle = settings()[2];
  circle.shape_choice = 1;
  EXPECT_TRUE(fx.render(in) == module_render(in, circle));
}

TEST(Frei0rRender, TwoInstancesInTwoThreadsGiveTheFramesTheyGiveOneAfterTheOther) {
  const int w = 300, h = 40;
  std::vector<Frame> frames;
  for (uint32_t seed = 1; seed <= 3; ++seed) frames.push_back(pattern_frame(w, h, seed));
  const Setting a = settings()[0], b = settings()[3];
  auto render_all = [&](const Setting& s, std::vector<Frame>& out) {
    Instance fx(w, h);
    frei0r_test::apply(fx.handle, s);
    for (const Frame& f : frames) out.push_back(fx.render(f));
  };
  std::vector<Frame> sequential_a, sequential_b, parallel_a, parallel_b;
  render_all(a, sequential_a);
  render_all(b, sequential_b);
  std::thread first([&] { render_all(a, parallel_a); });
  std::thread second([&] { render_all(b, parallel_b); });
  first.join();
  second.join();
  ASSERT_EQ(parallel_a.size(), frames.size());
  ASSERT_EQ(parallel_b.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(parallel_a[i] == sequential_a[i]) << "frame " << i;
    EXPECT_TRUE(parallel_b[i] == sequential_b[i]) << "frame " << i;
  }
  // And the frames are the effect's, not merely repeatable.
  EXPECT_TRUE(sequential_b[1] == module_render(frames[1], b));
}

TEST(Frei0rRender, InPlaceAndSecondUpdateFunctionGiveTheSameFrame) {
  const Frame in = pattern_frame(33, 17, 5);
  Instance fx(33, 17);
  frei0r_test::apply(fx.handle, settings()[3]);
  const Frame expected = module_render(in, settings()[3]);
  Frame in_place = in;
  filter().update(fx.handle, 1.0, in_place.words.data(), in_place.words.data());
  EXPECT_TRUE(in_place == expected);
  Frame second(33, 17);
  filter().update2(fx.handle, 2.0, in.words.data(), nullptr, nullptr, second.words.data());
  EXPECT_TRUE(second == expected);
}

TEST(Frei0rInstances, MissingFramesAndInstancesChangeNothing) {
  Instance fx(8, 8);
  frei0r_test::apply(fx.handle, settings()[0]);
  const Frame in = pattern_frame(8, 8, 2);
  Frame out = constant_frame(8, 8, 1, 2, 3, 4);
  filter().update(fx.handle, 0.0, nullptr, out.words.data());
  EXPECT_TRUE(out == constant_frame(8, 8, 1, 2, 3, 4));
  filter().update(fx.handle, 0.0, in.words.data(), nullptr);
  filter().update(nullptr, 0.0, in.words.data(), out.words.data());
  EXPECT_TRUE(out == constant_frame(8, 8, 1, 2, 3, 4));
  filter().destruct(nullptr);
  // The instance still renders afterwards.
  EXPECT_TRUE(fx.render(in) == module_render(in, settings()[0]));
}

TEST(Frei0rInstances, SizesThatCannotBeRenderedAreRefused) {
  EXPECT_EQ(filter().construct(0, 5), nullptr);
  EXPECT_EQ(filter().construct(5, 0), nullptr);
  // More pixels than 32-bit pixel addressing reaches.
  EXPECT_EQ(filter().construct(65536, 65536), nullptr);
  EXPECT_EQ(filter().construct(0x80000000u, 1), nullptr);
  Instance one(1, 1);
  EXPECT_NE(one.handle, nullptr);
}

}  // namespace
