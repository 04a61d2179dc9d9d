#include "hostcontrols.h"
#include "host.h"

#include <marlix_platform.h>

#include <stdio.h>

bool HostDisplayMissing(void)
{
    return MarlixIsHeadless() != 0;
}

void HostUseHeadless(void)
{
    MarlixSetHeadless(1);
    MarlixClockEnable(1);
}

void HostAdvanceClock(double seconds)
{
    MarlixClockAdvance((int64_t)(seconds * (double)MARLIX_CLOCK_FREQUENCY + 0.5));
}

void HostResizeWindow(HWND window, int width, int height)
{
    if (window)
        MarlixPostSize(window, width, height);
}

bool HostLastFrame(const uint32_t** pixels, int* width, int* height)
{
    MarlixFrame frame;
    if (!MarlixGetFrame(NULL, &frame))
        return false;
    *pixels = frame.pixels;
    *width = frame.width;
    *height = frame.height;
    return true;
}

static void WriteFrame(HWND window, const uint32_t* pixels, int width, int height, void* user)
{
    (void)window;
    HostCapture* capture = (HostCapture*)user;
    char name[32];
    snprintf(name, sizeof(name), "/frame-%05d.png", capture->written);
    if (HostWritePng(capture->dir + name, pixels, width, height, width * 4))
        capture->written++;
    else
        capture->failed = true;
}

void HostBeginCapture(HostCapture* capture, const std::string& dir)
{
    capture->dir = dir;
    capture->written = 0;
    capture->failed = false;
    if (!dir.empty())
        MarlixSetPresentHook(WriteFrame, capture);
}

bool HostEndCapture(HostCapture* capture)
{
    if (!capture->dir.empty())
        MarlixSetPresentHook(NULL, NULL);
    return !capture->failed;
}
