// The frei0r filter's working memory: taken with the C++ allocator when an instance is made
// and when a frame first needs larger tiles, never frame after frame. The program replaces
// the global allocation functions, which the loaded filter's allocations reach too, and
// counts the calls made inside f0r_update.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "frei0r_test_support.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using frei0r_test::Frame;
using frei0r_test::Instance;
using frei0r_test::Setting;

// The allocations made while the instance renders one frame.
long allocations_in_update(Instance& fx, const Frame& in, Frame& out) {
  const long before = allocations.load();
  frei0r_test::filter().update(fx.handle, 0.0, in.words.data(), out.words.data());
  return allocations.load() - before;
}

TEST(Frei0rMemory, NoAllocationFrameAfterFrameOnlyForATileLargerThanAnyBefore) {
  const Frame in = frei0r_test::pattern_frame(320, 180, 6);
  Frame out(320, 180);
  Instance fx(320, 180);
  ASSERT_NE(fx.handle, nullptr);
  Setting s = frei0r_test::settings()[0];
  frei0r_test::apply(fx.handle, s);  // radius 18.75: tiles of 512

  EXPECT_GT(allocations_in_update(fx, in, out), 0) << "the first frame lays out its planes";
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(allocations_in_update(fx, in, out), 0) << "frame " << frame;
  }
  frei0r_test::set_number(fx.handle, 0, 0.9);  // radius 270: tiles of 1024
  EXPECT_GT(allocations_in_update(fx, in, out), 0);
  EXPECT_EQ(allocations_in_update(fx, in, out), 0);
  // Back to smaller tiles and up again: the memory taken for the largest serves them all.
  frei0r_test::set_number(fx.handle, 0, s.radius01);
  EXPECT_EQ(allocations_in_update(fx, in, out), 0);
  frei0r_test::set_number(fx.handle, 0, 0.9);
  EXPECT_EQ(allocations_in_update(fx, in, out), 0);
  // A change of shape or weighting needs no memory either.
  frei0r_test::apply(fx.handle, frei0r_test::settings()[3]);
  EXPECT_EQ(allocations_in_update(fx, in, out), 0);
}

}  // namespace
