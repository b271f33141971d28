// Test helpers for the rendering core: working planes laid out as the driver lays them out
// (one row table into one block per plane), images with row padding in the three pixel
// formats, and a progress recorder.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "api/effect_api.h"
#include "render/render_record.h"

struct TestPlanes {
  explicit TestPlanes(int32_t size)
      : n(size),
        rg(2 * static_cast<size_t>(size) * size),
        ba(rg.size()),
        kernel(rg.size()),
        work(fft_work_entries(size), 0),
        table(fft_table_entries(size), 0.0),
        colour(kColour16Entries, -1.0) {
    for (int32_t r = 0; r < n; ++r) {
      rg_rows.push_back(rg.data() + 2 * static_cast<size_t>(n) * r);
      ba_rows.push_back(ba.data() + 2 * static_cast<size_t>(n) * r);
      kernel_rows.push_back(kernel.data() + 2 * static_cast<size_t>(n) * r);
    }
  }
  // With or without the 16-bit colour table, as a driver may hand it over or not.
  WorkingPlanes planes(bool with_colour_table = true) {
    return {{rg_rows.data()}, {ba_rows.data()}, {kernel_rows.data()},
            work.data(),      table.data(),     with_colour_table ? colour.data() : nullptr};
  }
  // Real part of kernel element [a][b].
  double& kernel_at(int32_t a, int32_t b) { return kernel[2 * (static_cast<size_t>(a) * n + b)]; }
  double& kernel_imag(int32_t a, int32_t b) {
    return kernel[2 * (static_cast<size_t>(a) * n + b) + 1];
  }

  int32_t n;
  std::vector<double> rg, ba, kernel;
  std::vector<int32_t> work;
  std::vector<double> table;
  std::vector<double> colour;
  std::vector<double*> rg_rows, ba_rows, kernel_rows;
};

template <typename Pixel>
struct TestImage {
  TestImage(int32_t w, int32_t h, int32_t row_stride, Pixel fill = Pixel{})
      : width(w),
        height(h),
        stride(row_stride),
        pixels(static_cast<size_t>(row_stride) * h, fill) {}
  Pixel& at(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * stride + x]; }
  const Pixel& at(int32_t x, int32_t y) const {
    return pixels[static_cast<size_t>(y) * stride + x];
  }
  int32_t width, height, stride;
  std::vector<Pixel> pixels;
};

inline void attach_images(RenderRecord& rec, TestImage<PF_Pixel8>& in, TestImage<PF_Pixel8>& out) {
  rec.pixel_format = kPixelFormat8;
  rec.input_pixels8 = in.pixels.data();
  rec.output_pixels8 = out.pixels.data();
}
inline void attach_images(RenderRecord& rec, TestImage<PF_Pixel16>& in,
                          TestImage<PF_Pixel16>& out) {
  rec.pixel_format = kPixelFormat16;
  rec.input_pixels16 = in.pixels.data();
  rec.output_pixels16 = out.pixels.data();
}
inline void attach_images(RenderRecord& rec, TestImage<PF_PixelFloat>& in,
                          TestImage<PF_PixelFloat>& out) {
  rec.pixel_format = kPixelFormatFloat;
  rec.input_pixels_float = in.pixels.data();
  rec.output_pixels_float = out.pixels.data();
}

// Records every progress call; answers fail_code from call number fail_at on (1-based).
struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;
  size_t fail_at = 0;
  PF_Err fail_code = PF_Err_NONE;
  PF_ProgPtr ref() { return reinterpret_cast<PF_ProgPtr>(this); }
};

inline PF_Err record_progress(PF_ProgPtr effect_ref, int32_t current, int32_t total) {
  auto* log = reinterpret_cast<ProgressLog*>(effect_ref);
  log->calls.emplace_back(current, total);
  if (log->fail_at != 0 && log->calls.size() >= log->fail_at) return log->fail_code;
  return PF_Err_NONE;
}
