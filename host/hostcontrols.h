// What the host asks of the platform stand-ins beyond Win32: headless windows, the virtual clock,
// and the frames the plug-in presents.
#ifndef MARLIX_HOSTCONTROLS_H
#define MARLIX_HOSTCONTROLS_H

#include <windows.h>

#include <stdint.h>
#include <string>

// Virtual windows and the virtual clock, for a run without a display.
bool HostDisplayMissing(void);
void HostUseHeadless(void);
void HostAdvanceClock(double seconds);

// The user resized a window's client area (the plug-in follows it with its device).
void HostResizeWindow(HWND window, int width, int height);
// The last frame presented to any window: X8R8G8B8, width * 4 bytes a row. False before the first.
bool HostLastFrame(const uint32_t** pixels, int* width, int* height);

// Writes every presented frame as DIR/frame-NNNNN.png (NNNNN counts the presents from 0) while active.
struct HostCapture {
    std::string dir;
    int written = 0;
    bool failed = false;
};
void HostBeginCapture(HostCapture* capture, const std::string& dir);
// False when a frame could not be written. Ends the capture.
bool HostEndCapture(HostCapture* capture);

#endif
