// The display as the window layer and the device see it: the headless choice, the frames kept
// per window, and the hand-over to the SDL back end when a display is present.
#include "display.h"

#include "display_sdl.h"

#include <marlix_platform.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

std::mutex g_headlessMutex;
int g_headlessOverride = -1;
int g_headlessFromEnvironment = -1;

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

}  // namespace

namespace w32 {

bool Headless() {
    std::lock_guard<std::mutex> g(g_headlessMutex);
    if (g_headlessOverride >= 0) return g_headlessOverride == 1 || sdl::Failed();
    if (g_headlessFromEnvironment < 0) {
        const char* forced = getenv("MARLIX_HEADLESS");
        const char* x11 = getenv("DISPLAY");
        const char* wayland = getenv("WAYLAND_DISPLAY");
        bool noDisplay = (!x11 || !*x11) && (!wayland || !*wayland);
        g_headlessFromEnvironment = ((forced && strcmp(forced, "1") == 0) || noDisplay) ? 1 : 0;
    }
    return g_headlessFromEnvironment == 1 || sdl::Failed();
}

}  // namespace w32

namespace display {

void WindowShown(HWND window, const WindowInfo& info) {
    if (!w32::Headless()) sdl::Show(window, info);
}

void WindowHidden(HWND window) {
    if (!w32::Headless()) sdl::Hide(window);
}

void WindowDestroyed(HWND window) {
    sdl::Destroy(window);  // harmless when it never had one
    std::lock_guard<std::mutex> g(F().mutex);
    F().byWindow.erase(window);
}

void WindowGeometry(HWND window, int clientX, int clientY, int clientWidth, int clientHeight) {
    if (!w32::Headless()) sdl::Geometry(window, clientX, clientY, clientWidth, clientHeight);
}

void WindowTitle(HWND window, const char* title) {
    if (!w32::Headless()) sdl::Title(window, title);
}

void WindowRaise(HWND window) {
    if (!w32::Headless()) sdl::Raise(window);
}

void WindowTopmost(HWND window, bool topmost) {
    if (!w32::Headless()) sdl::Topmost(window, topmost);
}

void WindowShowState(HWND window, w32::ShowState state) {
    if (!w32::Headless()) sdl::ShowState(window, state);
}

bool HasWindow(HWND window) { return !w32::Headless() && sdl::Has(window); }

void Pump() {
    if (!w32::Headless()) sdl::Pump();
}

void CursorChanged() {
    if (!w32::Headless()) sdl::Cursor(w32::CursorVisible());
}

bool RealDesktopSize(int* width, int* height) { return !w32::Headless() && sdl::DesktopSize(width, height); }

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
    if (w32::Headless()) return -1;
    HWND top;
    {
        std::lock_guard<std::recursive_mutex> g(w32::Lock());
        top = w32::TopLevelOf(owner);
    }
    return sdl::Box(top, text, caption, style);
}

void Reset() {
    sdl::DestroyAll();
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
    if (!w32::Headless()) sdl::Present(window, pixels, width, height, pitchBytes);
    if (hook) hook(window, stored, width, height, user);
}

extern "C" void MarlixSetHeadless(int mode) {
    std::lock_guard<std::mutex> g(g_headlessMutex);
    g_headlessOverride = mode < 0 ? -1 : (mode ? 1 : 0);
}

extern "C" int MarlixIsHeadless(void) { return w32::Headless() ? 1 : 0; }

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

extern "C" int MarlixWindowHasDisplay(HWND window) { return display::HasWindow(window) ? 1 : 0; }
