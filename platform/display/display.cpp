// The display as the window layer and the device see it: the choice of the back end, the frames
// kept per window, and the hand-over of each presented frame to the back end.
#include "display.h"

#include <marlix_platform.h>

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

std::mutex g_headlessMutex;
int g_headlessOverride = -1;

struct Frame {
    std::shared_ptr<std::vector<uint32_t>> pixels;
    std::shared_ptr<std::vector<uint32_t>> spare;
    int width = 0;
    int height = 0;
    uint32_t counter = 0;
};

struct Frames {
    std::mutex mutex;
    std::unordered_map<HWND, Frame> byWindow;
    Frame last;  // shares its pixels with the window it came from
    uint32_t total = 0;
    MarlixPresentHook hook = nullptr;
    void* hookUser = nullptr;
};

Frames& F() {
    static Frames* f = new Frames;
    return *f;
}

constexpr int kMaxSide = 16384;

const display::Backend kHeadless = {
    true,
    [](HWND, const display::WindowInfo&) {},
    [](HWND) {},
    [](HWND) {},
    [] {},
    [](HWND, int, int, int, int) {},
    [](HWND, const char*) {},
    [](HWND) {},
    [](HWND, bool) {},
    [](HWND, w32::ShowState) {},
    [](HWND) { return false; },
    [](HWND, const uint32_t*, int, int, int) {},
    [] {},
    [](bool) {},
    [](int*, int*) { return false; },
    [](HWND, const char*, const char*, UINT) { return -1; },
};

std::atomic<const display::Backend*> g_backend{nullptr};

}  // namespace

namespace display {

const Backend& Current() {
    if (const Backend* chosen = g_backend.load()) return *chosen;
    std::lock_guard<std::mutex> g(g_headlessMutex);
    if (!g_backend.load()) {
        bool headless;
        if (g_headlessOverride >= 0) {
            headless = g_headlessOverride == 1;
        } else {
            const char* forced = getenv("MARLIX_HEADLESS");
            const char* x11 = getenv("DISPLAY");
            const char* wayland = getenv("WAYLAND_DISPLAY");
            bool noDisplay = (!x11 || !*x11) && (!wayland || !*wayland);
            headless = (forced && strcmp(forced, "1") == 0) || noDisplay;
        }
        const Backend* sdl = headless ? nullptr : SdlBackend();
        g_backend.store(sdl ? sdl : &kHeadless);
    }
    return *g_backend.load();
}

void WindowDestroyed(HWND window) {
    Current().destroy(window);
    std::lock_guard<std::mutex> g(F().mutex);
    F().byWindow.erase(window);
}

void Reset() {
    Current().destroyAll();
    std::lock_guard<std::mutex> g(F().mutex);
    F().byWindow.clear();
    F().last = Frame();
    F().total = 0;
}

}  // namespace display

void MarlixDisplayPresent(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes) {
    if (!pixels || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        pitchBytes < width * (int)sizeof(uint32_t) || !IsWindow(window))
        return;
    const uint32_t* stored;
    MarlixPresentHook hook;
    void* user;
    {
        std::lock_guard<std::mutex> g(F().mutex);
        Frame& f = F().byWindow[window];
        // Two buffers take turns, so the last-frame record's pixels stay intact meanwhile.
        if (!f.pixels || f.pixels.use_count() > 1) {
            if (f.spare && f.spare.use_count() == 1) {
                std::swap(f.pixels, f.spare);
            } else {
                f.spare = f.pixels;
                f.pixels = std::make_shared<std::vector<uint32_t>>();
            }
        }
        f.pixels->resize((size_t)width * (size_t)height);
        const unsigned char* src = (const unsigned char*)pixels;
        for (int y = 0; y < height; y++)
            memcpy(f.pixels->data() + (size_t)y * (size_t)width, src + (size_t)y * (size_t)pitchBytes,
                   (size_t)width * sizeof(uint32_t));
        f.width = width;
        f.height = height;
        f.counter++;
        F().total++;
        F().last = f;
        F().last.spare.reset();
        F().last.counter = F().total;
        stored = f.pixels->data();
        hook = F().hook;
        user = F().hookUser;
    }
    display::Current().present(window, pixels, width, height, pitchBytes);
    if (hook) hook(window, stored, width, height, user);
}

extern "C" void MarlixSetHeadless(int mode) {
    // The back end is chosen again at its next use; windows of the one left behind close now.
    const display::Backend* old;
    {
        std::lock_guard<std::mutex> g(g_headlessMutex);
        g_headlessOverride = mode < 0 ? -1 : (mode ? 1 : 0);
        old = g_backend.exchange(nullptr);
    }
    if (old) old->destroyAll();
}

extern "C" int MarlixIsHeadless(void) { return display::Current().headless ? 1 : 0; }

extern "C" BOOL MarlixGetFrame(HWND window, MarlixFrame* frame) {
    if (!frame) return FALSE;
    std::lock_guard<std::mutex> g(F().mutex);
    const Frame* f = nullptr;
    if (!window) {
        f = &F().last;
    } else {
        auto it = F().byWindow.find(window);
        if (it != F().byWindow.end()) f = &it->second;
    }
    if (!f || !f->pixels || f->counter == 0) return FALSE;
    frame->width = f->width;
    frame->height = f->height;
    frame->pixels = f->pixels->data();
    frame->counter = f->counter;
    return TRUE;
}

extern "C" void MarlixSetPresentHook(MarlixPresentHook hook, void* user) {
    std::lock_guard<std::mutex> g(F().mutex);
    F().hook = hook;
    F().hookUser = user;
}

extern "C" int MarlixWindowHasDisplay(HWND window) { return display::Current().has(window) ? 1 : 0; }
