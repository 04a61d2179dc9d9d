// Shared state and seams of the Win32 stand-in: window and class records, per-thread message
// queues, and the calls between the window layer and the display back ends.
// Internal to marlix_platform.
#ifndef MARLIX_W32_INTERNAL_H
#define MARLIX_W32_INTERNAL_H

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace w32 {

// Flags Windows keeps inside WINDOWPOS.flags of WM_WINDOWPOSCHANGED to say what moved.
constexpr UINT kSwpNoClientSize = 0x0800;
constexpr UINT kSwpNoClientMove = 0x1000;
constexpr UINT kSwpStateChanged = 0x8000;

// Classic non-client metrics, the values a Windows desktop of that era reports.
constexpr int kCaption = 19;
constexpr int kSmallCaption = 15;
constexpr int kBorder = 1;
constexpr int kDlgFrame = 3;
constexpr int kFrame = 4;
constexpr int kEdge = 2;
constexpr int kMenu = 19;
constexpr int kScrollBar = 16;

constexpr size_t kQueueLimit = 10000;  // posted messages per thread, as on Windows

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    int classExtra = 0;
    int windowExtra = 0;
    int windows = 0;  // live windows of this class
};

enum class ShowState { Normal, Minimized, Maximized };

struct Window {
    HWND handle = nullptr;
    WindowClass* cls = nullptr;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    // Window rectangle in the parent's client coordinates (the screen for top-level windows).
    int x = 0, y = 0, width = 0, height = 0;
    RECT insets = {0, 0, 0, 0};  // non-client thickness on each side
    std::string text;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    HWND owner = nullptr;
    HWND parent = nullptr;
    HINSTANCE instance = nullptr;
    HMENU menu = nullptr;
    std::vector<unsigned char> extra;
    std::vector<HWND> children;  // z-order, front first
    ShowState state = ShowState::Normal;
    int normalX = 0, normalY = 0, normalWidth = 0, normalHeight = 0;  // restore rectangle
    bool restoreToMaximized = false;
    bool needsPaint = false;
    bool needsErase = false;
    RECT invalid = {0, 0, 0, 0};
    bool destroying = false;
    bool messageOnly = false;
    bool desktop = false;
    DWORD thread = 0;
};

struct ThreadQueue {
    std::deque<MSG> posted;
    bool quit = false;
    int quitCode = 0;
    std::condition_variable_any wake;
};

// One lock guards every record here. Window procedures are never called while it is held.
std::recursive_mutex& Lock();
Window* Find(HWND window);  // caller holds Lock(); NULL when not a window
ThreadQueue& QueueOf(DWORD thread);  // caller holds Lock(); created on first use
ThreadQueue* ExistingQueue(DWORD thread);
std::unordered_map<HWND, std::unique_ptr<Window>>& Windows();
std::vector<HWND>& TopLevelOrder();  // z-order of top-level windows, front first
DWORD ThreadId();
DWORD TickNow();

// Calls the window's procedure without the lock; 0 when the window is gone.
LRESULT Call(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DropMessagesFor(HWND window);  // caller holds Lock()
void ResetMessages();               // caller holds Lock()
void ResetInputState();
void ResetClock();  // virtual clock off and back at zero

// Geometry helpers; caller holds Lock().
RECT ClientInWindow(const Window& w);      // client rectangle relative to the window rectangle
POINT ParentClientOrigin(const Window& w);  // screen position of the parent's client area
RECT ScreenRect(const Window& w);
RECT ClientScreenRect(const Window& w);
HWND TopLevelOf(HWND window);
bool IsWithinWindow(HWND inner, HWND outer);  // inner is outer or one of its descendants
HWND FocusWindow();   // whichever thread it belongs to
HWND ActiveWindow();
RECT FrameInsets(DWORD style, DWORD exStyle, bool menu, bool scrollBars);
void DesktopSize(int* width, int* height);

// Input from the display back ends and from the test controls.
bool InputKey(HWND window, UINT vk, bool down, int scanCode, bool extended);
bool InputMove(HWND window, int windowX, int windowY);
bool InputClientMove(HWND window, int clientScreenX, int clientScreenY);
bool InputSize(HWND window, int clientWidth, int clientHeight);
bool InputClose(HWND window);
void InputActivate(HWND window);
void InputShowState(HWND window, ShowState state);
void InputMouse(HWND window, UINT message, int clientX, int clientY, WPARAM keys);
UINT ScanCodeOf(UINT vk, bool* extended);

// Cursor state, shared with the display.
bool CursorVisible();
void ResetCursor();

}  // namespace w32


#endif
