// Controls of the Linux stand-ins for tests, benchmarks and the host only (never the engine or
// the plug-in): headless switch, virtual clock, message-box and debug-output logs, injected
// input, the frames presented to each window, and a reset of the window state between tests.
#ifndef MARLIX_PLATFORM_CONTROLS_H
#define MARLIX_PLATFORM_CONTROLS_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------------------------
// Display or headless. By default headless when MARLIX_HEADLESS=1 or when neither DISPLAY nor
// WAYLAND_DISPLAY is set; decided at the first use. The control overrides it: 1 headless,
// 0 use the display when there is one, -1 back to the environment's choice. Switch before the
// first window is shown.
void MarlixSetHeadless(int mode);
int MarlixIsHeadless(void);
// Size of the headless desktop (GetSystemMetrics SM_CXSCREEN/SM_CYSCREEN); 1600 x 1200 unless set.
void MarlixSetDesktopSize(int width, int height);

// ---------------------------------------------------------------------------------------------
// Virtual clock. While enabled, QueryPerformanceCounter, GetTickCount and GetMessageTime read
// it, and Sleep advances it instead of sleeping. Every QueryPerformanceCounter read also
// advances it by the step, so loops that wait for the counter to move always end.
// Units are counts of MARLIX_CLOCK_FREQUENCY per second, which QueryPerformanceFrequency reports
// with or without the virtual clock.
#define MARLIX_CLOCK_FREQUENCY 10000000LL
// Enabling starts the clock at one second (a zero counter is a value callers may treat as unset);
// enabling it again keeps its time. The step is reset to its default of 10 counts (1 us).
void MarlixClockEnable(int enable);
int MarlixClockEnabled(void);
void MarlixClockSetStep(int64_t countsPerRead);
void MarlixClockAdvance(int64_t counts);
// The clock's value now, without the per-read step.
int64_t MarlixClockRead(void);

// ---------------------------------------------------------------------------------------------
// Message boxes. Every MessageBoxA call is logged (oldest first) whatever the display; the
// caption logged is the title shown ("Error" when the caller gave none). The answer control
// chooses what MessageBoxA returns (IDOK, IDYES, ...) and keeps real boxes from opening; 0 goes
// back to answering with the box's default button.
int MarlixMessageBoxCount(void);
const char* MarlixMessageBoxText(int index);
const char* MarlixMessageBoxCaption(int index);
// 1 when the caller passed a caption, 0 when it passed NULL.
int MarlixMessageBoxCaptionGiven(int index);
UINT MarlixMessageBoxStyle(int index);
HWND MarlixMessageBoxOwner(int index);
void MarlixMessageBoxClear(void);
void MarlixMessageBoxSetAnswer(int answer);

// ---------------------------------------------------------------------------------------------
// Debug output (OutputDebugStringA): the last 256 strings are kept here, oldest first; they go
// to standard error as well when MARLIX_DEBUG_OUTPUT is set.
int MarlixDebugOutputCount(void);
const char* MarlixDebugOutputText(int index);
void MarlixDebugOutputClear(void);

// ---------------------------------------------------------------------------------------------
// Injected input, as the display would deliver it: the messages are posted to the window's
// thread queue and arrive through PeekMessageA/GetMessageA. window NULL means the window with the
// keyboard focus (for keys) or the active window. FALSE when there is no such window.
// A key press or release of a Windows virtual-key code: WM_KEYDOWN/WM_KEYUP (WM_SYSKEYDOWN/UP
// while Alt is held, or for F10) with repeat count 1, the key's scan code and the previous-state
// and transition bits; a press of a key that is already down counts as a repeat.
BOOL MarlixPostKey(HWND window, UINT virtualKey, BOOL down);
// The user moved the window so that its top-left corner (window rectangle) is at x, y: the
// rectangle changes at once and WM_MOVE (client origin) is posted.
BOOL MarlixPostMove(HWND window, int x, int y);
// The user resized the window's client area to width x height: WM_SIZE (SIZE_RESTORED) posted.
BOOL MarlixPostSize(HWND window, int clientWidth, int clientHeight);
// The user clicked the close box: WM_CLOSE posted.
BOOL MarlixPostClose(HWND window);

// ---------------------------------------------------------------------------------------------
// Presented frames. The device hands every presented frame to the window's display; the last
// one of each window is kept until the window is destroyed. window NULL means the last frame
// presented to any window, kept even after that window is gone. pixels are X8R8G8B8, width * 4
// bytes a row, valid until the next present to that window (or its destruction). counter counts
// the presents to that window (for NULL: to all windows). FALSE when nothing was presented.
typedef struct MarlixFrame {
    int width;
    int height;
    const uint32_t* pixels;
    uint32_t counter;
} MarlixFrame;
BOOL MarlixGetFrame(HWND window, MarlixFrame* frame);
// Called on every present after the frame is stored (NULL removes it); used to write frames out.
typedef void (*MarlixPresentHook)(HWND window, const uint32_t* pixels, int width, int height, void* user);
void MarlixSetPresentHook(MarlixPresentHook hook, void* user);

// ---------------------------------------------------------------------------------------------
// Dialogs. DialogBoxParamA builds its dialog from the compiled template beside the module (the
// .res windres writes: "vis_marlix.so" has "vis_marlix.res"). When a script is set it runs once the
// dialog is initialised and shown, and acts as the user through the controls below; otherwise a
// display shows the dialog with GTK, and headless there is nobody to answer it. A dialog still
// open when its script returns (or headless without one) is closed with the result -1.
typedef void (*MarlixDialogScript)(HWND dialog, void* user);
void MarlixSetDialogScript(MarlixDialogScript script, void* user);
// A click on a push button or check box: the focus moves to it, an automatic check box toggles,
// and the dialog gets BN_CLICKED.
BOOL MarlixDialogClick(HWND dialog, int id);
// Typing that replaces the text of an edit or of a combo box's edit field. A digits-only edit
// refuses every other character; a combo box selects the entry whose text matches exactly
// (without regard to case), else none.
BOOL MarlixDialogType(HWND dialog, int id, const char* text);
// Choosing entry `index` from a combo box's list.
BOOL MarlixDialogPick(HWND dialog, int id, int index);
// A key pressed in the dialog, through its keyboard handling: Escape is Cancel, Enter the default
// button (or the focused push button), Tab the next control, Space clicks, the arrows step an
// up-down control from its buddy.
BOOL MarlixDialogKey(HWND dialog, UINT virtualKey);
// TRUE once EndDialog was called, with its result.
BOOL MarlixDialogEnded(HWND dialog, INT_PTR* result);
// Parses every entry of a .res image and every dialog template and bitmap in it as DialogBoxParamA
// would: the number of entries, or -1 with the reason in `error`.
int MarlixParseResources(const void* data, size_t size, char* error, size_t errorSize);

// ---------------------------------------------------------------------------------------------
// Window state for tests.
// Number of windows alive (not counting the desktop).
int MarlixWindowCount(void);
// 1 when the window has a real display window (SDL), 0 headless or hidden.
int MarlixWindowHasDisplay(HWND window);
// Drops every window, window class, posted message and quit request, the focus, the active
// window, the key states, the cursor state, the logs and the virtual clock, without sending any
// message; the headless choice and the desktop size stay.
void MarlixResetWindows(void);

#ifdef __cplusplus
}
#endif

#if defined(__has_include)
#if __has_include("marlix_d3d8.h")
#include "marlix_d3d8.h"
#endif
#endif

#endif
