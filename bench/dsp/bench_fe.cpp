// Front end and spike remover per frame. Run: build/<dir>/bench/dsp/bench_fe
#include <benchmark/benchmark.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "dsp/zu_fe.h"
#include "dsp/zu_spike.h"

namespace {

// Deterministic noise with a tone, so every stage does real work.
std::vector<int16_t> test_signal(size_t n) {
    std::vector<int16_t> x(n);
    uint32_t r = 12345;
    for (size_t i = 0; i < n; i++) {
        r = r * 1664525u + 1013904223u;
        const int noise = (int)(r >> 20) - 2048;
        const int tone = (int)((i * 37) % 200) * 40 - 4000;
        x[i] = (int16_t)(noise + tone);
    }
    return x;
}

// zu_fe_process per frame of range(0) samples at 16 kHz.
void BM_zu_fe_process(benchmark::State &state) {
    const int32_t n = (int32_t)state.range(0);
    auto fe = std::make_unique<zu_fe>();
    if (zu_fe_init(fe.get(), 16000, n) != 0) {
        state.SkipWithError("zu_fe_init failed");
        return;
    }
    const std::vector<int16_t> x = test_signal((size_t)n * 64);
    size_t frame = 0;
    for (auto _ : state) {
        zu_fe_process(fe.get(), x.data() + frame * (size_t)n, 16000);
        frame = (frame + 1) % 64;
        benchmark::DoNotOptimize(fe->feature_ring[0][0]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_zu_fe_process)->Arg(128)->Arg(256)->Arg(512);

// wd_classify per frame of 256 samples. It edits in place, so a working copy of 64 frames
// is refreshed (untimed) whenever it has been used up.
void BM_wd_classify_256(benchmark::State &state) {
    wd_state *st = nullptr;
    if (wd_init(spike_template, spike_template_len, &st) != 0) {
        state.SkipWithError("wd_init failed");
        return;
    }
    const std::vector<int16_t> x = test_signal(256 * 64);
    std::vector<int16_t> buf = x;
    size_t frame = 0;
    for (auto _ : state) {
        wd_classify(st, buf.data() + frame * 256, 256);
        benchmark::DoNotOptimize(buf.data());
        if (++frame == 64) {
            state.PauseTiming();
            buf = x;
            frame = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_wd_classify_256);

}  // namespace

BENCHMARK_MAIN();
