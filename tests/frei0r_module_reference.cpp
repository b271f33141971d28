// The reference renders of the frei0r tests: the effect module loaded by the stand-in host,
// its parameters set in the effect's own units, an 8-bit ARGB world in and out.
#include "frei0r_test_support.h"
#include "module_test_support.h"

namespace frei0r_test {

Frame module_render(const Frame& in, const Setting& s) {
  auto fx = module_test::started_instance();
  fx->set_float(module_test::kRadius, s.radius);
  fx->set_float(module_test::kWeight, s.weight);
  fx->set_float(module_test::kSpecularBrightness, s.brightness);
  fx->set_int(module_test::kSpecularThreshold, s.threshold);
  fx->set_int(module_test::kShape, s.shape_choice);
  fx->set_int(module_test::kEdges, s.edges);
  fx->set_angle(module_test::kPhase, static_cast<PF_Fixed>(s.phase_degrees * 65536.0));
  fx->set_int(module_test::kOutside, s.outside_choice);

  hostsim::World input(PF_PixelFormat_ARGB32, in.width, in.height);
  hostsim::World output(PF_PixelFormat_ARGB32, in.width, in.height);
  Frame source = in;
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const uint8_t* p = source.pixel(x, y);
      input.at<PF_Pixel8>(x, y) = PF_Pixel8{p[3], p[0], p[1], p[2]};
    }
  }
  const hostsim::FrameResult result = fx->render_frame(hostsim::frame_request(input, output));
  EXPECT_EQ(result.err, PF_Err_NONE);
  EXPECT_EQ(fx->finish().err, PF_Err_NONE);

  Frame out(in.width, in.height);
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const PF_Pixel8& q = output.at<PF_Pixel8>(x, y);
      uint8_t* p = out.pixel(x, y);
      p[0] = q.red;
      p[1] = q.green;
      p[2] = q.blue;
      p[3] = q.alpha;
    }
  }
  return out;
}

}  // namespace frei0r_test
