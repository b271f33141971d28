// fft_2d against FFTW's in-place complex 2-D transform (FFTW_MEASURE, one thread) on N x N
// planes. One iteration is one forward plus one inverse transform, as a tile of the render
// takes; the input is refreshed (untimed) before each iteration so values do not grow.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "fft/fft2d.h"
#include "render/render_record.h"

namespace {

constexpr int kRepetitions = 9;

std::vector<double> random_plane(int n) {
  std::vector<double> v(2 * static_cast<size_t>(n) * n);
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (double& x : v) x = u(rng);
  return v;
}

// The plane as the render holds it: one block from the host's allocator (plain malloc in
// the stand-in host, so usually 16 bytes into a cache line) with the render's room to start
// the rows on a cache line, row r 2N x r doubles after the first, with a row table and work
// arrays of the render's sizes.
void bm_veilmora(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> input = random_plane(n);
  const size_t bytes = input.size() * sizeof(double);
  double* allocated = static_cast<double*>(std::malloc(sizeof(double) * plane_block_doubles(n)));
  double* block = plane_first_row(allocated);
  std::vector<double*> rows(n);
  for (int r = 0; r < n; ++r) rows[r] = block + 2 * static_cast<size_t>(n) * r;
  std::vector<int32_t> work(34, 0);
  std::vector<double> table(n / 2 + 2 * n);
  std::memcpy(block, input.data(), bytes);
  fft_2d(n, 2 * n, 1, rows.data(), work.data(), table.data());  // builds the table
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(block, input.data(), bytes);
    state.ResumeTiming();
    fft_2d(n, 2 * n, 1, rows.data(), work.data(), table.data());
    fft_2d(n, 2 * n, -1, rows.data(), work.data(), table.data());
    benchmark::DoNotOptimize(block[0]);
  }
  std::free(allocated);
}

// FFTW on its own aligned allocation, as FFTW's users allocate.
void bm_fftw(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> input = random_plane(n);
  const size_t bytes = input.size() * sizeof(double);
  auto* block = static_cast<fftw_complex*>(fftw_malloc(bytes));
  fftw_plan forward = fftw_plan_dft_2d(n, n, block, block, FFTW_FORWARD, FFTW_MEASURE);
  fftw_plan inverse = fftw_plan_dft_2d(n, n, block, block, FFTW_BACKWARD, FFTW_MEASURE);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(block, input.data(), bytes);
    state.ResumeTiming();
    fftw_execute(forward);
    fftw_execute(inverse);
    benchmark::DoNotOptimize(block[0][0]);
  }
  fftw_destroy_plan(forward);
  fftw_destroy_plan(inverse);
  fftw_free(block);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(256)->Arg(512)->Arg(1024);
  b->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(bm_veilmora)->Name("fft_2d/veilmora")->Apply(sizes);
BENCHMARK(bm_fftw)->Name("fft_2d/fftw")->Apply(sizes);

}  // namespace
