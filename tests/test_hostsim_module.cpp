// The stand-in host as a module's host: PiPL parsing on hand-built bytes (malformed and
// truncated lists rejected), the ELF section reader, loading a small test module by its
// PiPL, and the command protocol driven against it, on one thread and on several.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/hostsim.h"

namespace {

using hostsim::LoadError;
using hostsim::World;

// ---------------------------------------------------------------------------------------
// PiPL bytes built by hand
// ---------------------------------------------------------------------------------------

struct Bytes {
  std::vector<uint8_t> b;
  void i16(int16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  void i32(int32_t v) {
    for (int i = 0; i < 4; ++i)
      b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  void fourcc(const char* s) { i32(pf_four_cc(s[0], s[1], s[2], s[3])); }
  void property(const char* key, const std::vector<uint8_t>& payload, int32_t length = -1) {
    fourcc("8BIM");
    fourcc(key);
    i32(0);
    i32(length < 0 ? static_cast<int32_t>(payload.size()) : length);
    b.insert(b.end(), payload.begin(), payload.end());
    while (b.size() % 4 != 2) b.push_back(0);  // properties start at 10: 4-aligned from there
  }
};

std::vector<uint8_t> payload_i32(int32_t v) {
  Bytes x;
  x.i32(v);
  return x.b;
}

// A four-property list like the real module's first properties, plus 'eINF' (2 bytes).
std::vector<uint8_t> sample_pipl() {
  Bytes p;
  p.i16(1);
  p.i32(0);
  p.i32(5);
  p.property("kind", payload_i32(pf_four_cc('e', 'F', 'K', 'T')));
  p.property("name", {8, 'V', 'e', 'i', 'l', 'm', 'o', 'r', 'a', 0, 0, 0});
  p.property("8664", {'E', 'n', 't', 'r', 'y', 'P', 'o', 'i', 'n', 't', 'F', 'u', 'n', 'c', 0, 0});
  p.property("eINF", {0, 0});
  p.property("ePVR", {2, 0, 0, 0});
  return p.b;
}

TEST(HostsimPipl, ParsesPropertiesInOrder) {
  const std::vector<uint8_t> bytes = sample_pipl();
  const hostsim::Pipl pipl = hostsim::parse_pipl(bytes);
  ASSERT_EQ(pipl.properties.size(), 5u);
  EXPECT_EQ(pipl.trailing_bytes, 0u);
  // Byte offsets worked out by hand: 10, then 16 + padded payload each.
  const uint32_t offsets[] = {10, 30, 58, 90, 110};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pipl.properties[i].offset, offsets[i]);
    EXPECT_EQ(pipl.properties[i].vendor, hostsim::kPiplVendor8BIM);
    EXPECT_EQ((pipl.properties[i].offset - 10) % 4, 0u);
  }
  EXPECT_EQ(pipl.find(hostsim::kPiplKeyKind)->as_int32(), hostsim::kPiplKindEffect);
  EXPECT_EQ(pipl.find(hostsim::kPiplKeyName)->as_short_string(), "Veilmora");
  EXPECT_EQ(pipl.find(hostsim::kPiplKeyCodeWin64X86)->as_c_string(), "EntryPointFunc");
  EXPECT_EQ(pipl.properties[3].payload.size(), 2u);
  EXPECT_EQ(pipl.properties[3].as_int16(), 0);
  EXPECT_EQ(pipl.properties[4].as_version(), (std::pair<int16_t, int16_t>{2, 0}));
  EXPECT_EQ(hostsim::fourcc_to_string(pipl.properties[3].key), "eINF");
  EXPECT_EQ(pipl.find(pf_four_cc('n', 'o', 'n', 'e')), nullptr);
  EXPECT_THROW(pipl.find(hostsim::kPiplKeyName)->as_int32(), LoadError);
}

void expect_rejected(const std::vector<uint8_t>& bytes, const std::string& words) {
  try {
    hostsim::parse_pipl(bytes);
    ADD_FAILURE() << "accepted; expected an error saying: " << words;
  } catch (const LoadError& e) {
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
  }
}

TEST(HostsimPipl, RejectsMalformedLists) {
  std::vector<uint8_t> b = sample_pipl();
  b[0] = 2;
  expect_rejected(b, "expected 1");
  b = sample_pipl();
  b[2] = 1;
  expect_rejected(b, "list version 1");
  b = sample_pipl();
  b[9] = 0x80;  // count negative
  expect_rejected(b, "negative");
  b = sample_pipl();
  b[6] = 200;  // more properties than the bytes can hold
  expect_rejected(b, "cannot fit");
  b = sample_pipl();
  b[10 + 12 + 3] = 0x80;  // first property's length negative
  expect_rejected(b, "negative length");
  b = sample_pipl();
  b[10 + 12] = 200;  // first property's length past the end
  expect_rejected(b, "runs past the end");
  b = sample_pipl();
  b[6] = 6;  // one property more than present (room for its header, though)
  b.resize(b.size() + 15);
  expect_rejected(b, "truncated");
  // A short string whose length byte points past its payload.
  b = sample_pipl();
  const hostsim::Pipl ok = hostsim::parse_pipl(b);
  hostsim::PiplProperty bad = *ok.find(hostsim::kPiplKeyName);
  bad.payload[0] = 20;
  EXPECT_THROW(bad.as_short_string(), LoadError);
  bad.payload.assign(4, 'x');
  EXPECT_THROW(bad.as_c_string(), LoadError);  // no NUL
}

TEST(HostsimPipl, EveryTruncationIsRejectedWithoutReadingPastIt) {
  const std::vector<uint8_t> full = sample_pipl();
  for (size_t n = 0; n < full.size(); ++n) {
    // An exact-size heap copy, so a read past `n` is a real out-of-bounds read (caught by the
    // address sanitizer build).
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(hostsim::parse_pipl(cut.data(), cut.size()), LoadError) << n << " bytes";
  }
  EXPECT_THROW(hostsim::parse_pipl(nullptr, 0), LoadError);
}

// ---------------------------------------------------------------------------------------
// ELF reading and loading
// ---------------------------------------------------------------------------------------

// The bytes the test module embeds (see tests/fixtures/hostsim_fake_module.cpp).
std::vector<uint8_t> fake_pipl(const char* kind, const std::string& entry) {
  Bytes p;
  p.i16(1);
  p.i32(0);
  p.i32(4);
  p.property("kind", {static_cast<uint8_t>(kind[3]), static_cast<uint8_t>(kind[2]),
                      static_cast<uint8_t>(kind[1]), static_cast<uint8_t>(kind[0])});
  p.property("name", {4, 'F', 'a', 'k', 'e', 0, 0, 0});
  std::vector<uint8_t> e(entry.begin(), entry.end());
  do e.push_back(0);
  while (e.size() % 4);
  p.property("8664", e);
  p.property("eINF", {0, 0});
  return p.b;
}

std::string temp_file(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = ::testing::TempDir() + "/hostsim_" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void expect_load_error(const std::string& path, const std::string& words) {
  try {
    hostsim::load_module(path);
    ADD_FAILURE() << path << " loaded; expected an error saying: " << words;
  } catch (const LoadError& e) {
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
  }
}

TEST(HostsimLoader, ReadsThePiplSectionOfAnElfFile) {
  EXPECT_EQ(hostsim::read_elf_section(HOSTSIM_FAKE_MODULE, hostsim::kPiplSectionName),
            fake_pipl("eFKT", "EntryPointFunc"));
  EXPECT_THROW(hostsim::read_elf_section(HOSTSIM_FAKE_MODULE, ".no_such_section"), LoadError);
}

TEST(HostsimLoader, DamagedFilesAreRejectedWithTheReason) {
  expect_load_error(::testing::TempDir() + "/hostsim_missing.so", "cannot open");
  expect_load_error(temp_file("empty.so", {}), "not an ELF");
  expect_load_error(temp_file("text.so", std::vector<uint8_t>(100, 'a')), "not an ELF");
  std::vector<uint8_t> elf = file_bytes(HOSTSIM_FAKE_MODULE);
  ASSERT_GT(elf.size(), 4096u);
  std::vector<uint8_t> b32 = elf;
  b32[4] = 1;
  expect_load_error(temp_file("elf32.so", b32), "not a 64-bit");
  // Cut at many places: the section table (at the end of the file) is then missing or
  // partial. Each gives an error, never a crash.
  for (size_t n : {size_t{64}, size_t{100}, elf.size() / 2, elf.size() - 100, elf.size() - 1}) {
    std::vector<uint8_t> cut(elf.begin(), elf.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(hostsim::read_module_pipl(temp_file("cut.so", cut)), LoadError) << n;
  }
  // A section table offset pointing far outside the file.
  std::vector<uint8_t> far = elf;
  for (int i = 0; i < 8; ++i) far[0x28 + i] = 0xFF;
  expect_load_error(temp_file("far.so", far), "section table");
}

TEST(HostsimLoader, LoadsByKindAndEntryName) {
  auto m = hostsim::load_module(HOSTSIM_FAKE_MODULE);
  EXPECT_EQ(m->entry_name, "EntryPointFunc");
  EXPECT_NE(m->entry, nullptr);
  EXPECT_EQ(m->pipl.find(hostsim::kPiplKeyName)->as_short_string(), "Fake");
  expect_load_error(HOSTSIM_BAD_KIND_MODULE, "not an effect");
  expect_load_error(HOSTSIM_BAD_ENTRY_MODULE, "'NoSuchEntry'");
}

// ---------------------------------------------------------------------------------------
// The protocol, against the test module
// ---------------------------------------------------------------------------------------

hostsim::Module& fake() {
  static std::unique_ptr<hostsim::Module> m = hostsim::load_module(HOSTSIM_FAKE_MODULE);
  return *m;
}

void fill(World& w, uint32_t seed) {
  for (int32_t y = 0; y < w.height(); ++y)
    for (int32_t x = 0; x < w.width(); ++x) {
      seed = seed * 1664525u + 1013904223u;
      w.write(x, y,
              {double(seed >> 24), double((seed >> 16) & 0xFF), double(x * 10 % 256), double(y)});
    }
}

class HostsimProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::reset();
    baseline_ = hostsim::handle_serial();
  }
  void TearDown() override { hostsim::clear_failures(); }
  // Nothing made since SetUp is still live, every suite is back, and nothing was misused.
  void expect_clean() {
    EXPECT_EQ(hostsim::live_handles_since(baseline_).size(), 0u);
    EXPECT_EQ(hostsim::outstanding_suites(), 0);
    for (const auto& f : hostsim::faults()) ADD_FAILURE() << f.name << ": " << f.detail;
  }
  uint64_t baseline_ = 0;
};

TEST_F(HostsimProtocol, LifecycleCarriesHandlesAndCollectsParameters) {
  hostsim::Instance fx(fake());
  const hostsim::CommandResult about = fx.about();
  EXPECT_EQ(about.message(), "Fake\r7");
  const hostsim::CommandResult started = fx.start();
  ASSERT_EQ(started.err, 0) << started.cmd;
  EXPECT_TRUE(hostsim::is_live_handle(fx.global_data()));
  ASSERT_EQ(fx.registrations().size(), 1u);
  EXPECT_EQ(fx.registrations()[0].plugin_name, "Fake");
  EXPECT_EQ(fx.num_params(), 5);
  const auto decls = fx.declared_params();
  ASSERT_EQ(decls.size(), 4u);
  EXPECT_STREQ(decls[3].name, "Iris Layer");
  EXPECT_EQ(fx.popup_choices(2), "A|B|C");
  // The UI update swapped the one-byte sequence record for a 16-byte snapshot.
  EXPECT_EQ(hostsim::utils()->host_get_handle_size(fx.sequence_data()), sizeof(PF_State));
  ASSERT_EQ(fx.ui_pushes().size(), 1u);
  EXPECT_EQ(fx.ui_pushes()[0].index, 2);
  EXPECT_EQ(fx.ui_pushes()[0].def.ui_flags & PF_PUI_DISABLED, PF_PUI_DISABLED);
  fx.set_float(1, 3.0);
  EXPECT_EQ(fx.user_changed_param().err, 0);
  EXPECT_EQ(fx.ui_pushes().back().def.ui_flags & PF_PUI_DISABLED, 0);
  EXPECT_EQ(fx.finish().err, 0);
  expect_clean();
}

TEST_F(HostsimProtocol, PremiereSkipsRegistration) {
  hostsim::Instance fx(fake());
  fx.settings.appl_id = PF_APPL_ID_PREMIERE;
  ASSERT_EQ(fx.start().err, 0);
  EXPECT_TRUE(fx.registrations().empty());
  EXPECT_EQ(hostsim::call_count("AcquireSuite:AEGP Utility Suite"), 0);
  fx.finish();
  expect_clean();
}

TEST_F(HostsimProtocol, FrameRendersThroughCheckoutsAndDeletesItsRecord) {
  hostsim::Instance fx(fake());
  ASSERT_EQ(fx.start().err, 0);
  fx.set_float(1, 7.0);
  World in(PF_PixelFormat_ARGB32, 9, 6, 48), out(PF_PixelFormat_ARGB32, 9, 6);
  fill(in, 3);
  const int64_t live_before = hostsim::handle_stats().live_count;
  hostsim::FrameRequest req;
  req.input = &in;
  req.output = &out;
  req.current_time = 4;
  const hostsim::FrameResult r = fx.render_frame(req);
  ASSERT_EQ(r.err, 0);
  ASSERT_TRUE(r.render.has_value());
  EXPECT_EQ(r.render->message(), "rendered 9x6");
  ASSERT_EQ(r.checkouts.size(), 1u);
  const hostsim::LayerCheckout& c = r.checkouts[0];
  EXPECT_EQ(c.index, 0);
  EXPECT_EQ(c.what_time, 4);
  EXPECT_EQ(c.request.preserve_rgb_of_zero_alpha, 1);
  EXPECT_EQ(c.result.result_rect.right, 9);
  EXPECT_EQ(c.result.result_rect.bottom, 6);
  EXPECT_EQ(r.pre_render_output.max_result_rect.right, 9);
  ASSERT_EQ(r.progress.size(), 1u);
  EXPECT_TRUE(r.pre_render_data_deleted);
  EXPECT_EQ(hostsim::handle_stats().live_count, live_before);
  EXPECT_EQ(hostsim::call_count("delete_pre_render_data_func"), 1);
  // The output is the input, with the checked-out radius painted into pixel (0, 0).
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      const PF_Pixel8 a = in.at<PF_Pixel8>(x, y), b = out.at<PF_Pixel8>(x, y);
      EXPECT_EQ(b.red, x == 0 && y == 0 ? 7 : a.red);
      EXPECT_EQ(std::memcmp(&a.green, &b.green, 2), 0);
    }
  fx.finish();
  expect_clean();
}

TEST_F(HostsimProtocol, PartialRequestGetsViewsOfInputAndOutput) {
  hostsim::Instance fx(fake());
  ASSERT_EQ(fx.start().err, 0);
  World in(PF_PixelFormat_ARGB64, 8, 8), out(PF_PixelFormat_ARGB64, 8, 8);
  fill(in, 9);
  hostsim::FrameRequest req;
  req.input = &in;
  req.output = &out;
  req.request_rect = PF_LRect{2, 3, 6, 20};  // reaches below the layer: clipped to 8
  const hostsim::FrameResult r = fx.render_frame(req);
  ASSERT_EQ(r.err, 0);
  EXPECT_EQ(r.render->message(), "rendered 4x5");
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 6 && y >= 3;
      EXPECT_EQ(out.read(x, y).red, inside ? in.read(x, y).red : 0) << x << "," << y;
    }
  fx.finish();
  expect_clean();
}

TEST_F(HostsimProtocol, FailedPreRenderStillDeletesItsDataAndSkipsTheRender) {
  hostsim::Instance fx(fake());
  ASSERT_EQ(fx.start().err, 0);
  World in(PF_PixelFormat_ARGB128, 4, 4), out(PF_PixelFormat_ARGB128, 4, 4);
  hostsim::inject_failure({"checkout_layer", 1, 4321});
  const hostsim::FrameResult r = fx.render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r.err, 4321);
  EXPECT_FALSE(r.render.has_value());
  EXPECT_TRUE(r.pre_render_data_deleted);
  // A checkout answered with no world: the module sees null and reports it.
  hostsim::clear_failures();
  hostsim::reset_calls();
  hostsim::inject_failure({"checkout_output", 1, 0, true});
  const hostsim::FrameResult r2 = fx.render_frame(hostsim::frame_request(in, out));
  EXPECT_EQ(r2.err, PF_Err_BAD_CALLBACK_PARAM);
  fx.finish();
  expect_clean();
}

TEST_F(HostsimProtocol, ExceptionOutOfTheEntryIsReportedNotPropagated) {
  hostsim::Instance fx(fake());
  hostsim::Command c = fx.prepare(100);
  EXPECT_EQ(fx.send(c).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  ASSERT_EQ(hostsim::faults().size(), 1u);
  EXPECT_EQ(hostsim::faults()[0].name, "EntryPointFunc");
}

// Every host call the test module makes for one frame is failed in turn: the failure
// reaches the command's result, nothing crashes, nothing leaks. (Calls whose failure means
// "the host did not release" are left out: there the leak is the point.)
TEST_F(HostsimProtocol, EveryCallOfAFrameCanBeFailedInTurn) {
  hostsim::Instance fx(fake());
  ASSERT_EQ(fx.start().err, 0);
  World in(PF_PixelFormat_ARGB32, 5, 5), out(PF_PixelFormat_ARGB32, 5, 5);
  hostsim::reset_calls();
  ASSERT_EQ(fx.render_frame(hostsim::frame_request(in, out)).err, 0);
  std::vector<std::pair<std::string, int64_t>> sites;
  for (const hostsim::CallRecord& rec : hostsim::calls())
    if (rec.failable && rec.name != "host_dispose_handle" && rec.name != "ReleaseSuite" &&
        rec.name != "host_unlock_handle")
      sites.emplace_back(rec.name, rec.k);
  ASSERT_GE(sites.size(), 10u);
  int failed_frames = 0;
  for (const auto& [name, k] : sites) {
    hostsim::clear_failures();
    hostsim::reset_calls();
    const uint64_t serial = hostsim::handle_serial();
    hostsim::inject_failure({name, k, 999});
    const hostsim::FrameResult r = fx.render_frame(hostsim::frame_request(in, out));
    EXPECT_EQ(hostsim::injected_failure_count(), 1) << name << " #" << k;
    if (r.err) ++failed_frames;
    EXPECT_EQ(hostsim::live_handles_since(serial).size(), 0u) << name << " #" << k;
    EXPECT_EQ(hostsim::outstanding_suites(), 0) << name << " #" << k;
    EXPECT_EQ(hostsim::fault_count(), 0) << name << " #" << k;
  }
  // Only sprintf's failure goes unnoticed by the test module (it ignores the result).
  EXPECT_EQ(failed_frames, static_cast<int>(sites.size()) - 1);
  hostsim::clear_failures();
  fx.finish();
}

TEST_F(HostsimProtocol, FramesOnSeveralThreadsShareOneInstance) {
  hostsim::Instance fx(fake());
  ASSERT_EQ(fx.start().err, 0);
  fx.set_float(1, 42.0);
  constexpr int kThreads = 4, kFrames = 12;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int f = 0; f < kFrames; ++f) {
        const auto fmt = (f % 3 == 0)   ? PF_PixelFormat_ARGB32
                         : (f % 3 == 1) ? PF_PixelFormat_ARGB64
                                        : PF_PixelFormat_ARGB128;
        World in(fmt, 16 + t, 8 + f),
            out(fmt, 16 + t, 8 + f, (16 + t + 2) * hostsim::pixel_size(fmt));
        fill(in, static_cast<uint32_t>(t * 100 + f));
        int reports = 0;
        hostsim::FrameRequest req;
        req.input = &in;
        req.output = &out;
        req.current_time = f;
        req.on_progress = [&](int32_t, int32_t) { ++reports; };
        const hostsim::FrameResult r = fx.render_frame(req);
        if (r.err || reports != 1 || r.checkouts.size() != 1 || !r.pre_render_data_deleted) ++bad;
        for (int32_t y = 0; y < in.height(); ++y)
          for (int32_t x = (y == 0 && fmt == PF_PixelFormat_ARGB32) ? 1 : 0; x < in.width(); ++x)
            if (in.read(x, y).red != out.read(x, y).red) ++bad;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(hostsim::call_count("delete_pre_render_data_func"), kThreads * kFrames);
  fx.finish();
  expect_clean();
}

}  // namespace
