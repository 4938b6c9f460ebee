// fft_real per call at the front end's transform sizes (twice the frame length).
#include "dsp/zu_fft.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

void BM_fft_real(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    std::vector<int16_t> in(N);
    std::mt19937 rng(1);
    for (auto &v : in)
        v = static_cast<int16_t>(static_cast<int32_t>(rng()) >> 18);  // 14 bits, signed
    std::vector<zu_cplx16> out(N / 2 + 1);
    for (auto _ : state) {
        fft_real(out.data(), in.data(), N);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * N);  // samples
}

BENCHMARK(BM_fft_real)->Arg(256)->Arg(512)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
