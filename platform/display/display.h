// The presentation back ends (SDL2 window, headless capture) as the Direct3D 8 stand-in sees them.
// Internal to marlix_platform: the engine and plug-in never include this.
#ifndef MARLIX_DISPLAY_H
#define MARLIX_DISPLAY_H

#include <windows.h>
#include <stdint.h>

// Shows one frame of X8R8G8B8 pixels (pitch in bytes) in the window: in its SDL window when the
// window has one, and kept as the window's last presented frame for capture in every case.
// The device has already scaled the frame to the window's client size.
void MarlixDisplayPresent(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes);

#endif
