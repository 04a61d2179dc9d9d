// The display as the window layer and the Direct3D 8 stand-in see it: a presentation back end (an
// SDL2 window per shown top-level window, or none when headless) chosen once, and the frames kept
// per window for capture. Internal to marlix_platform: the engine and plug-in never include this.
#ifndef MARLIX_DISPLAY_H
#define MARLIX_DISPLAY_H

#include "../win32/w32_internal.h"

#include <stdint.h>

namespace display {

struct WindowInfo {
    const char* title;
    int clientX, clientY, clientWidth, clientHeight;  // client area on the screen
    bool bordered, resizable, topmost;
};

// A presentation back end: one record of functions, like the engine's procedure table. The
// headless one does nothing, has no windows, no desktop and no boxes.
struct Backend {
    bool headless;
    void (*show)(HWND window, const WindowInfo& info);  // creates, or shows again, the window's own
    void (*hide)(HWND window);
    void (*destroy)(HWND window);
    void (*destroyAll)(void);
    void (*geometry)(HWND window, int clientX, int clientY, int clientWidth, int clientHeight);
    void (*title)(HWND window, const char* title);
    void (*raise)(HWND window);
    void (*topmost)(HWND window, bool topmost);
    void (*showState)(HWND window, w32::ShowState state);
    bool (*has)(HWND window);
    void (*present)(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes);
    void (*pump)(void);  // turns pending events into window input
    void (*cursor)(bool visible);
    bool (*desktopSize)(int* width, int* height);
    int (*box)(HWND owner, const char* text, const char* caption, UINT style);  // -1: none shown
};

// The back end in use. Chosen at the first call: headless when MARLIX_HEADLESS=1, when there is no
// DISPLAY or WAYLAND_DISPLAY, or when SDL cannot start; MarlixSetHeadless chooses again.
const Backend& Current();

// The SDL back end with SDL started, or null when it cannot start (display_sdl.cpp).
const Backend* SdlBackend();

// A window is gone: its display window and its kept frame go too.
void WindowDestroyed(HWND window);
// Every display window and every kept frame goes (MarlixResetWindows).
void Reset();

}  // namespace display

// Shows one frame of X8R8G8B8 pixels (pitch in bytes) in the window: in its display window when it
// has one, and kept as the window's last presented frame for capture in every case. The device has
// already scaled the frame to the window's client size.
void MarlixDisplayPresent(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes);

#endif
