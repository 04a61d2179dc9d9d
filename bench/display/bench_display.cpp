// Figures of the 2D frame-buffer operations on the software device: fills, lines, bitmap-font
// text, 32-bit images and pixel resampling, on a 640 x 480 32-bit window.
#include <benchmark/benchmark.h>
#include <kestra.h>
#include <marlix_platform.h>

#include "engine_start.h"

#include <string.h>

#include <vector>

namespace {

struct Engine {
    HWND window = nullptr;
    KSViewport viewport;
    Engine() {
        TestEngineOptions options("KSDisplayBench", "bench");
        options.width = 640;
        options.height = 480;
        options.virtualClock = false;   // the figures are of real time
        options.chooseDevice = nullptr;
        StartTestEngine(options, &window, &viewport);
    }
    ~Engine() { StopTestEngine(window); }
};

Engine& TheEngine() {
    static Engine engine;
    return engine;
}

void BM_FillRect(benchmark::State& state) {
    TheEngine();
    int size = (int)state.range(0);
    KSGFX_SetColour(KSGFX_MakeColour(200, 100, 50));
    // The device may queue clears; the lock makes each fill complete inside its iteration.
    for (auto _ : state) {
        KSGFX_FillRect(10, 10, 10 + size - 1, 10 + size - 1);
        KSGFX_LockFrame();
        KSGFX_UnlockFrame();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(BM_FillRect)->Arg(8)->Arg(64)->Arg(400)->UseRealTime();  // the device fills on its own threads

void BM_DrawLine(benchmark::State& state) {
    TheEngine();
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 0));
    for (auto _ : state) KSGFX_DrawLine(0, 0, 639, 479);
    state.SetItemsProcessed(state.iterations() * 640);
}
BENCHMARK(BM_DrawLine);

void BM_DrawString(benchmark::State& state) {
    TheEngine();
    const char* text = "The quick brown fox jumps over the lazy dog";
    KS_SetTextColours(KSGFX_MakeColour(255, 255, 255), KSGFX_MakeColour(0, 0, 0), (int32_t)state.range(0));
    for (auto _ : state) KSGFX_DrawString(8, 100, text);
    state.SetItemsProcessed(state.iterations() * (int64_t)strlen(text));
}
BENCHMARK(BM_DrawString)->Arg(0)->Arg(2);

void BM_PutBitmap32(benchmark::State& state) {
    TheEngine();
    int size = (int)state.range(0);
    std::vector<uint8_t> image((size_t)size * size * 4, 0x80);
    for (auto _ : state) KSGFX_PutBitmap32(0, 0, image.data(), size, size, 1);
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(BM_PutBitmap32)->Arg(64)->Arg(256);

void BM_ResizePixels(benchmark::State& state) {
    TheEngine();
    std::vector<uint32_t> source(256 * 256, 0x00112233);
    for (auto _ : state) {
        uint32_t* out = KS_ResizePixels(512, 512, source.data(), 256, 256);
        benchmark::DoNotOptimize(out);
        KS_Free(out, "bench", 0);
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(BM_ResizePixels);

void BM_ClearAndShow(benchmark::State& state) {
    TheEngine();
    KSGFX_SetColour(KSGFX_MakeColour(0, 0, 64));
    for (auto _ : state) {
        KSGFX_ClearScreen();
        KSGFX_ShowFrame();
    }
}
BENCHMARK(BM_ClearAndShow)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
