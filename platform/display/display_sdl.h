// The SDL2 back end: one SDL window per shown top-level window. Used only when a display is
// present; nothing here is called headless. Internal to marlix_platform.
#ifndef MARLIX_DISPLAY_SDL_H
#define MARLIX_DISPLAY_SDL_H

#include "../win32/w32_internal.h"

#include <stdint.h>

namespace sdl {

void Show(HWND window, const display::WindowInfo& info);
void Hide(HWND window);
void Destroy(HWND window);
void Geometry(HWND window, int clientX, int clientY, int clientWidth, int clientHeight);
void Title(HWND window, const char* title);
void Raise(HWND window);
void Topmost(HWND window, bool topmost);
void ShowState(HWND window, w32::ShowState state);
bool Has(HWND window);
void Present(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes);
void Pump();
void Cursor(bool visible);
bool DesktopSize(int* width, int* height);
int Box(HWND owner, const char* text, const char* caption, UINT style);
void DestroyAll();
bool Failed();  // SDL could not start: the display falls back to headless

}  // namespace sdl

#endif
