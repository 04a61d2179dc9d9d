// Frames per second of the eight scenes, headless on the virtual clock (so never capped at 60), with
// the real plug-in code and scene data, on a recorded spectrum: a synthetic track with a kick drum,
// a bass line, a sweeping melody and hi-hats, turned into 576 bins per frame once and replayed for
// every scene. A sampling profiler splits each scene's time between the plug-in, the engine and
// the device (the software Direct3D device and the rest of the platform stand-ins), and names the
// busiest functions of a scene that falls short. Beside the frames per second (wall clock) it gives
// the processor time per frame of all threads, which other work on a shared machine disturbs less.
//
//   bench_vis [frames per scene] [scene 1-8] [size: 1 288x256, 2 800x600, 3 1600x1200]
#include "vis.h"

#include <marlix_platform.h>

#include <dlfcn.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <ucontext.h>

#include <cxxabi.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------- Recorded spectrum

const int kTrackFrames = 960;   // 16 seconds at 60 frames a second

std::vector<std::vector<unsigned char>> RecordSpectrum()
{
    std::vector<std::vector<unsigned char>> track(kTrackFrames, std::vector<unsigned char>(576));
    unsigned seed = 12345;
    for (int f = 0; f < kTrackFrames; f++) {
        int beat = f % 30;                                   // 120 beats a minute
        float kick = expf(-beat / 4.0f);
        float hat = (f % 15 < 2) ? 1.0f : 0.0f;
        float melody = 20.0f + 40.0f * (0.5f + 0.5f * sinf(f * 0.05f));   // bin of the lead
        float bass = 8.0f + 4.0f * ((f / 60) % 4);
        for (int bin = 0; bin < 576; bin++) {
            seed = seed * 1103515245u + 12345u;
            float noise = (float)((seed >> 16) & 0x3F) / 63.0f;
            float v = 20.0f * noise;
            if (bin < 12)
                v += 230.0f * kick;
            v += 160.0f * expf(-fabsf(bin - bass) / 2.0f);
            v += 200.0f * expf(-fabsf(bin - melody) / 3.0f);
            if (bin > 40)
                v += 120.0f * hat * noise;
            track[f][bin] = (unsigned char)(v > 255.0f ? 255.0f : v);
        }
    }
    return track;
}

// ---------------------------------------------------------------------------- Sampling profiler

const int kMaxSamples = 1 << 20;
void* samples[kMaxSamples];
std::atomic<int> sampleCount{0};

void OnProfileTick(int, siginfo_t*, void* context)
{
    int i = sampleCount.fetch_add(1, std::memory_order_relaxed);
    if (i < kMaxSamples)
        samples[i] = (void*)((ucontext_t*)context)->uc_mcontext.gregs[REG_RIP];
}

void StartSampling()
{
    sampleCount = 0;
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_sigaction = OnProfileTick;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(SIGPROF, &action, nullptr);
    struct itimerval timer = {{0, 500}, {0, 500}};
    setitimer(ITIMER_PROF, &timer, nullptr);
}

void StopSampling()
{
    struct itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_PROF, &off, nullptr);
}

std::set<std::string> NamesIn(const std::string& file)
{
    std::set<std::string> names;
    FILE* pipe = popen(("nm --defined-only '" + file + "' 2>/dev/null").c_str(), "r");
    char line[4096];
    while (pipe && fgets(line, sizeof(line), pipe)) {
        char address[64], type[8], name[4000];
        if (sscanf(line, "%63s %7s %3999s", address, type, name) == 3 && (type[0] == 't' || type[0] == 'T'))
            names.insert(name);
    }
    if (pipe)
        pclose(pipe);
    return names;
}

// The functions of one file by address from its load address, local ones included (the
// device's are not exported, so dladdr alone cannot name them).
struct FileFunctions {
    std::vector<std::pair<uintptr_t, std::string>> functions;   // sorted by address

    void Load(const std::string& file)
    {
        FILE* pipe = popen(("nm --defined-only '" + file + "' 2>/dev/null").c_str(), "r");
        char line[4096];
        while (pipe && fgets(line, sizeof(line), pipe)) {
            unsigned long long address;
            char type[8], name[4000];
            if (sscanf(line, "%llx %7s %3999s", &address, type, name) == 3 && (type[0] == 't' || type[0] == 'T'))
                functions.emplace_back((uintptr_t)address, name);
        }
        if (pipe)
            pclose(pipe);
        std::sort(functions.begin(), functions.end());
    }

    const std::string* Function(uintptr_t offset) const
    {
        auto it = std::upper_bound(functions.begin(), functions.end(), std::make_pair(offset, std::string()),
                                   [](const auto& a, const auto& b) { return a.first < b.first; });
        if (it == functions.begin())
            return nullptr;
        return &(it - 1)->second;
    }
};

std::string Demangled(const std::string& name)
{
    int status = 0;
    char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    std::string out = status == 0 && text ? text : name;
    free(text);
    return out.size() > 100 ? out.substr(0, 97) + "..." : out;
}

// The program's functions by address, each marked as plug-in or engine, and the device's.
struct Symbols {
    FileFunctions program, device;
    std::set<std::string> plugin;
    uintptr_t base = 0, deviceBase = 0;

    void Load()
    {
        std::string objects = PLUGIN_OBJECTS;
        size_t start = 0;
        while (start <= objects.size()) {
            size_t end = objects.find(':', start);
            std::set<std::string> names = NamesIn(objects.substr(start, end - start));
            plugin.insert(names.begin(), names.end());
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        Dl_info self;
        dladdr((void*)&RecordSpectrum, &self);
        base = (uintptr_t)self.dli_fbase;
        program.Load("/proc/self/exe");
        Dl_info platform;
        if (dladdr((void*)&MarlixSetHeadless, &platform) && platform.dli_fname) {
            deviceBase = (uintptr_t)platform.dli_fbase;
            device.Load(platform.dli_fname);
        }
    }
};

struct Split {
    int plugin = 0, engine = 0, device = 0, system = 0;
    std::map<std::string, int> top;   // the busiest functions (or libraries) by samples
};

Split Classify(const Symbols& symbols)
{
    Split split;
    int n = std::min(sampleCount.load(), kMaxSamples);
    for (int i = 0; i < n; i++) {
        Dl_info info;
        std::string where = "?";
        if (dladdr(samples[i], &info) && info.dli_fname) {
            std::string file = info.dli_fname;
            if ((uintptr_t)info.dli_fbase == symbols.base) {
                const std::string* name = symbols.program.Function((uintptr_t)samples[i] - symbols.base);
                where = name ? *name : "?";
                if (name && symbols.plugin.count(*name))
                    split.plugin++;
                else
                    split.engine++;
            } else if ((uintptr_t)info.dli_fbase == symbols.deviceBase) {
                split.device++;
                const std::string* name = symbols.device.Function((uintptr_t)samples[i] - symbols.deviceBase);
                where = name ? *name : "libmarlix_platform";
            } else {
                split.system++;
                where = std::filesystem::path(file).filename().string();
            }
        }
        split.top[where]++;
    }
    return split;
}

// ---------------------------------------------------------------------------- The host's side

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

double Now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double ProcessorSeconds()
{
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Result {
    double fps = 0, cpuMs = 0;   // frames a second (wall clock), processor milliseconds a frame
    MarlixD3D8Counters work = {};   // the device's counts over the measured frames
    Split split;
};

Result RunScene(const std::string& dir, int scene, int width, int height, int frames,
                const std::vector<std::vector<unsigned char>>& track, const Symbols& symbols)
{
    char ini[256];
    snprintf(ini, sizeof(ini), "[Marlix Winamp Visualizer]\nDefaultScene=%d\nCycleScenes=0\nSongTitle=1\nShowCustom=1\n",
             scene);
    FILE* f = fopen((dir + "/marlix.ini").c_str(), "w");
    fputs(ini, f);
    fclose(f);
    if (VisInit(&visModule) != 0) {
        fprintf(stderr, "the run did not start\n");
        exit(1);
    }
    MarlixPostSize(visWindow, width, height);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);

    auto frame = [&](int i) {
        memcpy(visModule.spectrumData[0], track[i % kTrackFrames].data(), 576);
        MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY / 60);
        VisRender(&visModule);
    };
    for (int i = 0; i < 10; i++)
        frame(i);
    MarlixD3D8ResetCounters();
    StartSampling();
    double start = Now(), cpuStart = ProcessorSeconds();
    for (int i = 0; i < frames; i++)
        frame(10 + i);
    double seconds = Now() - start, cpu = ProcessorSeconds() - cpuStart;
    StopSampling();
    Result result;
    result.fps = frames / seconds;
    result.cpuMs = 1000.0 * cpu / frames;
    result.split = Classify(symbols);
    MarlixD3D8GetCounters(&result.work);
    VisQuit(&visModule);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    int frames = argc > 1 ? atoi(argv[1]) : 240;
    int only = argc > 2 ? atoi(argv[2]) - 1 : -1;
    int onlySize = argc > 3 ? atoi(argv[3]) - 1 : -1;
    if (frames < 1 || only >= VIS_SCENE_COUNT || onlySize > 2) {
        fprintf(stderr, "usage: bench_vis [frames per scene] [scene 1-%d] [size 1-3]\n", VIS_SCENE_COUNT);
        return 2;
    }
    MarlixSetHeadless(1);
    MarlixClockEnable(1);

    // The plug-in and its data as they are installed, in a folder of the bench's own, so the
    // settings file it writes stays out of the build.
    char pattern[] = "/tmp/marlix-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    std::string dir = pattern;
    std::filesystem::path built = std::filesystem::path(MARLIX_PLUGIN_FILE).parent_path();
    std::filesystem::copy_file(MARLIX_PLUGIN_FILE, dir + "/vis_marlix.so");
    std::filesystem::create_directory_symlink(built / "marlixdata", dir + "/marlixdata");
    HMODULE library = LoadLibraryA((dir + "/vis_marlix.so").c_str());

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = HostProc;
    windowClass.lpszClassName = VIS_HOST_WINDOW_CLASS;
    RegisterClassA(&windowClass);
    HWND host = CreateWindowExA(0, VIS_HOST_WINDOW_CLASS, "1. Bench Band - Steady Beat - Winamp", WS_OVERLAPPEDWINDOW,
                                0, 0, 300, 100, NULL, NULL, NULL, NULL);
    visModule.parentWindow = host;
    visModule.instance = (HINSTANCE)library;

    Symbols symbols;
    symbols.Load();
    std::vector<std::vector<unsigned char>> track = RecordSpectrum();
    const int sizes[][3] = {{288, 256, 500}, {800, 600, 0}, {1600, 1200, 60}};   // width, height, target fps
    const char* sizeNames[] = {"288x256", "800x600", "1600x1200"};

    printf("bench_vis: %d frames per scene, %d rasteriser threads, virtual clock (uncapped)\n", frames,
           MarlixD3D8GetThreads());
    printf("frames a second (wall clock) and processor milliseconds a frame (all threads)\n");
    printf("%-18s", "scene");
    for (int s = 0; s < 3; s++)
        if (onlySize < 0 || s == onlySize)
            printf(" %9s fps  cpu ms", sizeNames[s]);
    printf("   share: plug-in / engine / device / system\n");
    for (int scene = 0; scene < VIS_SCENE_COUNT; scene++) {
        if (only >= 0 && scene != only)
            continue;
        Result results[3];
        printf("%-18s", visCatalogue[scene].name);
        int last = 0;
        for (int s = 0; s < 3; s++) {
            if (onlySize >= 0 && s != onlySize)
                continue;
            results[s] = RunScene(dir, scene, sizes[s][0], sizes[s][1], frames, track, symbols);
            printf(" %13.1f %7.2f", results[s].fps, results[s].cpuMs);
            last = s;
        }
        const Split& big = results[last].split;
        double total = big.plugin + big.engine + big.device + big.system;
        if (total == 0)
            total = 1;
        printf("   %4.1f%% / %4.1f%% / %4.1f%% / %4.1f%% at %s\n", 100 * big.plugin / total, 100 * big.engine / total,
               100 * big.device / total, 100 * big.system / total, sizeNames[last]);
        for (int s = 0; s < 3; s++) {
            if (!sizes[s][2] || (onlySize >= 0 && s != onlySize) || results[s].fps >= sizes[s][2])
                continue;
            const Split& split = results[s].split;
            std::vector<std::pair<int, std::string>> top;
            for (const auto& entry : split.top)
                top.emplace_back(entry.second, entry.first);
            std::sort(top.rbegin(), top.rend());
            int all = split.plugin + split.engine + split.device + split.system;
            double whole = all ? all : 1;
            printf("    below %d fps at %s; where the time goes: plug-in %.1f%%, engine %.1f%%, device %.1f%%, "
                   "system %.1f%%; busiest:\n",
                   sizes[s][2], sizeNames[s], 100 * split.plugin / whole, 100 * split.engine / whole,
                   100 * split.device / whole, 100 * split.system / whole);
            const MarlixD3D8Counters& w = results[s].work;
            printf("      a frame: %llu draw calls, %llu vertices in, %llu lit, %llu triangles, %llu pixels shaded\n",
                   (unsigned long long)w.drawCalls / frames, (unsigned long long)w.verticesIn / frames,
                   (unsigned long long)w.verticesLit / frames, (unsigned long long)w.trianglesDrawn / frames,
                   (unsigned long long)w.pixelsShaded / frames);
            for (size_t i = 0; i < top.size() && i < 8; i++)
                printf("      %5.1f%%  %s\n", 100.0 * top[i].first / whole, Demangled(top[i].second).c_str());
        }
        fflush(stdout);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
