// Window classes and windows: creation and destruction with their messages, show states,
// rectangles, z-order, activation and focus, window text and longs, painting, and the
// default window procedure.
#include "w32_internal.h"

#include "../display/display.h"

#include <marlix_platform.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace w32 {
namespace {

struct State {
    std::recursive_mutex mutex;
    std::unordered_map<HWND, std::unique_ptr<Window>> windows;
    std::vector<HWND> topLevel;  // front first; topmost windows lead
    std::vector<std::unique_ptr<WindowClass>> classes;
    WindowClass desktopClass;
    uintptr_t nextHandle = 0x10020;
    unsigned nextAtom = 0;
    HWND active = nullptr;
    HWND focus = nullptr;
    int headlessWidth = 1600, headlessHeight = 1200;
};

State& S() {
    static State* state = new State;  // never destroyed: windows may outlive static destructors
    return *state;
}

const HWND kDesktop = (HWND)(uintptr_t)0x10010;

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

HINSTANCE ExeInstance() {
    static HINSTANCE exe = GetModuleHandleA(nullptr);
    return exe;
}

HINSTANCE InstanceOrExe(HINSTANCE instance) { return instance ? instance : ExeInstance(); }

// Finds a class as window creation does: the caller's own class first, then a global one.
WindowClass* LookupClass(LPCSTR name, HINSTANCE instance, bool allowGlobal) {
    if (!name) return nullptr;
    instance = InstanceOrExe(instance);
    WindowClass* global = nullptr;
    for (auto& c : S().classes) {
        bool nameMatches = IS_INTRESOURCE(name) ? c->atom == (ATOM)(uintptr_t)name : SameName(c->name, name);
        if (!nameMatches) continue;
        if (c->instance == instance) return c.get();
        if (allowGlobal && (c->style & CS_GLOBALCLASS) && !global) global = c.get();
    }
    return global;
}

void MoveToFront(HWND window) {
    auto& order = S().topLevel;
    auto it = std::find(order.begin(), order.end(), window);
    if (it == order.end()) return;
    order.erase(it);
    Window* w = Find(window);
    bool topmost = w && (w->exStyle & WS_EX_TOPMOST);
    auto pos = order.begin();
    if (!topmost) {
        while (pos != order.end()) {
            Window* o = Find(*pos);
            if (!o || !(o->exStyle & WS_EX_TOPMOST)) break;
            ++pos;
        }
    }
    order.insert(pos, window);
}

void MoveToBack(HWND window) {
    auto& order = S().topLevel;
    auto it = std::find(order.begin(), order.end(), window);
    if (it == order.end()) return;
    order.erase(it);
    order.push_back(window);
}

bool IsWithin(HWND inner, HWND outer) {
    for (Window* w = Find(inner); w; w = Find(w->parent)) {
        if (w->handle == outer) return true;
    }
    return false;
}

// Whether Windows gives the frame its raised outer edge (WS_EX_WINDOWEDGE).
bool NeedsWindowEdge(DWORD style, DWORD exStyle) {
    if (exStyle & WS_EX_DLGMODALFRAME) return true;
    if (style & WS_THICKFRAME) return true;
    DWORD caption = style & WS_CAPTION;
    return caption == WS_DLGFRAME || caption == WS_CAPTION;
}

// Windows keeps overlapped and sizing windows between their tracking sizes: at creation, in
// DefWindowProc's WM_WINDOWPOSCHANGING, and while the user drags the border.
bool TracksSize(DWORD style) { return (style & WS_THICKFRAME) || !(style & (WS_POPUP | WS_CHILD)); }

// The default limits, then what the window procedure makes of them (WM_GETMINMAXINFO). The message
// goes only to a window of the calling thread; another thread's window keeps the defaults.
MINMAXINFO MinMaxInfo(HWND window, DWORD windowThread) {
    MINMAXINFO info = {};
    info.ptMaxSize = {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)};
    info.ptMaxPosition = {-kFrame, -kFrame};
    info.ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
    info.ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXTRACK), GetSystemMetrics(SM_CYMAXTRACK)};
    if (windowThread == ThreadId()) Call(window, WM_GETMINMAXINFO, 0, (LPARAM)&info);
    return info;
}

// The maximum first, then the minimum: a minimum above the maximum wins, as on Windows.
void ClampToTracking(const MINMAXINFO& info, int* width, int* height) {
    *width = std::max((int)info.ptMinTrackSize.x, std::min(*width, (int)info.ptMaxTrackSize.x));
    *height = std::max((int)info.ptMinTrackSize.y, std::min(*height, (int)info.ptMaxTrackSize.y));
}

void ComputeInsets(Window& w) {
    w.insets = FrameInsets(w.style, w.exStyle, w.menu != nullptr && !(w.style & WS_CHILD),
                           (w.style & (WS_VSCROLL | WS_HSCROLL)) != 0);
    if (w.style & WS_VSCROLL) w.insets.right += kScrollBar;
    if (w.style & WS_HSCROLL) w.insets.bottom += kScrollBar;
}

void InvalidateAll(Window& w, bool erase) {
    RECT c = ClientInWindow(w);
    w.invalid = {0, 0, c.right - c.left, c.bottom - c.top};
    w.needsPaint = true;
    if (erase) w.needsErase = true;
}

display::WindowInfo InfoFor(const Window& w) {
    RECT c = ClientScreenRect(w);
    display::WindowInfo info;
    info.title = w.text.c_str();
    info.clientX = c.left;
    info.clientY = c.top;
    info.clientWidth = c.right - c.left;
    info.clientHeight = c.bottom - c.top;
    info.bordered = (w.style & WS_CAPTION) == WS_CAPTION;
    info.resizable = (w.style & WS_THICKFRAME) != 0;
    info.topmost = (w.exStyle & WS_EX_TOPMOST) != 0;
    return info;
}

// Whether the window gets a display window of its own when shown. Dialogs are shown by their own
// toolkit view (w32_dialog_gtk.cpp).
bool IsDisplayed(const Window& w) {
    return !(w.style & WS_CHILD) && !w.messageOnly && !w.desktop && !(w.cls && SameName(w.cls->name, "#32770"));
}

void SyncDisplayGeometry(HWND window) {
    display::WindowInfo info;
    bool shown;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || !IsDisplayed(*w)) return;
        shown = (w->style & WS_VISIBLE) != 0 && w->state != ShowState::Minimized;
        info = InfoFor(*w);
    }
    if (shown) display::Current().geometry(window, info.clientX, info.clientY, info.clientWidth, info.clientHeight);
}

// Tells the display that a window became visible, or that its look changed while visible.
void ShowOnDisplay(HWND window) {
    display::WindowInfo info;
    std::string title;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || !IsDisplayed(*w) || !(w->style & WS_VISIBLE)) return;
        info = InfoFor(*w);
        title = w->text;
    }
    info.title = title.c_str();
    display::Current().show(window, info);
}

HWND NextActivationCandidate(HWND leaving) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    for (HWND h : S().topLevel) {
        if (h == leaving) continue;
        Window* w = Find(h);
        if (w && (w->style & WS_VISIBLE) && !w->destroying && !(w->style & WS_DISABLED) &&
            w->state != ShowState::Minimized)
            return h;
    }
    return nullptr;
}

void SetFocusTo(HWND window);

// Makes a top-level window the active one, with WM_ACTIVATE to the old and the new window.
void Activate(HWND window) {
    HWND old;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (window && !Find(window)) return;
        old = S().active;
        if (old == window) return;
        S().active = window;
        if (window) MoveToFront(window);
    }
    if (old && IsWindow(old)) Call(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(old) ? 1 : 0), (LPARAM)window);
    if (window) {
        // The default procedure moves the focus here; if it stays elsewhere, it follows anyway.
        Call(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, IsIconic(window) ? 1 : 0), (LPARAM)old);
        display::Current().raise(window);
    }
    bool moveFocus;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        moveFocus = S().active == window && (!window || !S().focus || !IsWithin(S().focus, window));
    }
    if (moveFocus) SetFocusTo(window);
}

void SetFocusTo(HWND window) {
    HWND old;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        old = S().focus;
        if (old == window) return;
        S().focus = window;
    }
    if (old && IsWindow(old)) Call(old, WM_KILLFOCUS, (WPARAM)window, 0);
    if (window && IsWindow(window)) Call(window, WM_SETFOCUS, (WPARAM)old, 0);
}

// Sends WM_WINDOWPOSCHANGED with the flags Windows uses to say whether the client area moved or
// changed size; the default procedure turns them into WM_MOVE and WM_SIZE.
void SendPosChanged(HWND window, HWND insertAfter, UINT flags, const RECT& oldClient) {
    WINDOWPOS pos;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) return;
        RECT c = ClientScreenRect(*w);
        if (c.left == oldClient.left && c.top == oldClient.top) flags |= kSwpNoClientMove;
        if (c.right - c.left == oldClient.right - oldClient.left && c.bottom - c.top == oldClient.bottom - oldClient.top)
            flags |= kSwpNoClientSize;
        pos = {window, insertAfter, w->x, w->y, w->width, w->height, flags};
    }
    Call(window, WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
}

void ApplyShowState(HWND window, ShowState state) {
    RECT oldClient;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->state == state) return;
        oldClient = ClientScreenRect(*w);
        ShowState old = w->state;
        if (old == ShowState::Normal) {
            w->normalX = w->x;
            w->normalY = w->y;
            w->normalWidth = w->width;
            w->normalHeight = w->height;
        }
        if (state == ShowState::Minimized) {
            // The rectangle is kept (no parking at -32000), so callers that record the window
            // position on WM_MOVE never see a minimised window's icon position.
            w->restoreToMaximized = old == ShowState::Maximized;
        } else if (state == ShowState::Maximized) {
            int sw, sh;
            DesktopSize(&sw, &sh);
            int border = w->insets.left;
            w->x = -border;
            w->y = -border;
            // The border lies beyond the screen edges; the caption stays on the screen.
            w->width = sw + w->insets.left + w->insets.right;
            w->height = sh + border + w->insets.bottom;
        } else if (old == ShowState::Maximized || !w->restoreToMaximized) {
            w->x = w->normalX;
            w->y = w->normalY;
            w->width = w->normalWidth;
            w->height = w->normalHeight;
        }
        w->state = state;
        if (state != ShowState::Minimized) InvalidateAll(*w, true);
    }
    SendPosChanged(window, nullptr, SWP_NOZORDER | SWP_NOACTIVATE | kSwpStateChanged, oldClient);
    display::Current().showState(window, state);
    SyncDisplayGeometry(window);
}

void SendDestroyTree(HWND window) {
    Call(window, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (Window* w = Find(window)) children = w->children;
    }
    for (HWND c : children) SendDestroyTree(c);
}

void SendNcDestroyTree(HWND window) {
    std::vector<HWND> children;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (Window* w = Find(window)) children = w->children;
    }
    for (HWND c : children) SendNcDestroyTree(c);
    Call(window, WM_NCDESTROY, 0, 0);
}

void MarkDestroying(Window& w) {
    w.destroying = true;
    for (HWND c : w.children)
        if (Window* cw = Find(c)) MarkDestroying(*cw);
}

// Drops the records of a window and its children; caller holds the lock.
void RemoveTree(HWND window, std::vector<HWND>& removed) {
    Window* w = Find(window);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) RemoveTree(c, removed);
    if (w->cls) w->cls->windows--;
    if (Window* p = Find(w->parent)) {
        auto& sib = p->children;
        sib.erase(std::remove(sib.begin(), sib.end(), window), sib.end());
    }
    auto& order = S().topLevel;
    order.erase(std::remove(order.begin(), order.end(), window), order.end());
    if (S().focus == window) S().focus = nullptr;
    if (S().active == window) S().active = nullptr;
    DropMessagesFor(window);
    removed.push_back(window);
    S().windows.erase(window);
}

// The part of SetWindowPos after WM_WINDOWPOSCHANGING; fromDisplay: the display already shows it.
BOOL ApplyWindowPos(HWND window, WINDOWPOS pos, bool fromDisplay) {
    RECT oldClient;
    bool show = false, hide = false, activate = false, geometryChanged = false, topmostChanged = false;
    bool topmost = false;
    UINT flags = pos.flags;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        oldClient = ClientScreenRect(*w);
        int oldW = w->width, oldH = w->height, oldX = w->x, oldY = w->y;
        if (!(flags & SWP_NOMOVE)) {
            w->x = pos.x;
            w->y = pos.y;
        }
        if (!(flags & SWP_NOSIZE)) {
            w->width = std::max(0, pos.cx);
            w->height = std::max(0, pos.cy);
        }
        bool sized = w->width != oldW || w->height != oldH;
        if (sized || (flags & SWP_FRAMECHANGED)) ComputeInsets(*w);
        if ((sized || (flags & SWP_FRAMECHANGED)) && !(flags & SWP_NOREDRAW)) InvalidateAll(*w, true);
        geometryChanged = sized || w->x != oldX || w->y != oldY || (flags & SWP_FRAMECHANGED);
        if (!(flags & SWP_NOZORDER) && !(w->style & WS_CHILD)) {
            HWND after = pos.hwndInsertAfter;
            DWORD oldEx = w->exStyle;
            if (after == HWND_TOPMOST) {
                w->exStyle |= WS_EX_TOPMOST;
                MoveToFront(window);
            } else if (after == HWND_NOTOPMOST) {
                w->exStyle &= ~(DWORD)WS_EX_TOPMOST;
                MoveToFront(window);
            } else if (after == HWND_TOP) {
                MoveToFront(window);
            } else if (after == HWND_BOTTOM) {
                MoveToBack(window);
            } else if (Find(after) && after != window) {
                auto& order = S().topLevel;
                order.erase(std::remove(order.begin(), order.end(), window), order.end());
                auto it = std::find(order.begin(), order.end(), after);
                order.insert(it == order.end() ? order.end() : it + 1, window);
            }
            topmostChanged = oldEx != w->exStyle;
            topmost = (w->exStyle & WS_EX_TOPMOST) != 0;
        }
        if ((flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
            w->style |= WS_VISIBLE;
            InvalidateAll(*w, true);
            show = true;
        }
        if ((flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
            w->style &= ~(DWORD)WS_VISIBLE;
            hide = true;
        }
        activate = !(flags & SWP_NOACTIVATE) && !(w->style & WS_CHILD) && (w->style & WS_VISIBLE);
    }
    if (show) ShowOnDisplay(window);
    if (hide) display::Current().hide(window);
    if (topmostChanged) display::Current().topmost(window, topmost);
    if (geometryChanged && !fromDisplay) SyncDisplayGeometry(window);
    if (activate) Activate(window);
    SendPosChanged(window, pos.hwndInsertAfter, flags & ~(kSwpNoClientMove | kSwpNoClientSize), oldClient);
    return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shared helpers

std::recursive_mutex& Lock() { return S().mutex; }

std::unordered_map<HWND, std::unique_ptr<Window>>& Windows() { return S().windows; }
std::vector<HWND>& TopLevelOrder() { return S().topLevel; }

Window* Find(HWND window) {
    if (!window) return nullptr;
    auto& all = S().windows;
    if (window == kDesktop && all.find(kDesktop) == all.end()) {
        auto d = std::make_unique<Window>();
        d->handle = kDesktop;
        S().desktopClass.name = "#32769";
        d->cls = &S().desktopClass;
        d->style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        d->desktop = true;
        all[kDesktop] = std::move(d);
    }
    auto it = all.find(window);
    if (it == all.end()) return nullptr;
    Window* w = it->second.get();
    if (w->desktop) {
        DesktopSize(&w->width, &w->height);
        w->x = w->y = 0;
    }
    return w;
}

bool IsWithinWindow(HWND inner, HWND outer) { return IsWithin(inner, outer); }
HWND FocusWindow() { return S().focus; }
HWND ActiveWindow() { return S().active; }

DWORD ThreadId() {
    static thread_local DWORD id = (DWORD)syscall(SYS_gettid);
    return id;
}

RECT FrameInsets(DWORD style, DWORD exStyle, bool menu, bool) {
    // The outer frame as Windows draws it: a raised edge for dialog and sizing frames, the extra
    // sizing border, the thin line, then the caption and menu bar; the client edge lies inside.
    int adjust;
    if ((exStyle & (WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME)) == WS_EX_STATICEDGE) {
        adjust = kBorder;
    } else {
        adjust = 0;
        if ((exStyle & WS_EX_DLGMODALFRAME) || (style & (WS_THICKFRAME | WS_DLGFRAME))) adjust = 2;
    }
    if (style & WS_THICKFRAME) adjust += kFrame - kDlgFrame;
    if ((style & (WS_BORDER | WS_DLGFRAME)) || (exStyle & WS_EX_DLGMODALFRAME)) adjust++;
    RECT r = {adjust, adjust, adjust, adjust};
    if ((style & WS_CAPTION) == WS_CAPTION) r.top += (exStyle & WS_EX_TOOLWINDOW) ? kSmallCaption : kCaption;
    if (menu) r.top += kMenu;
    if (exStyle & WS_EX_CLIENTEDGE) {
        r.left += kEdge;
        r.top += kEdge;
        r.right += kEdge;
        r.bottom += kEdge;
    }
    return r;
}

RECT ClientInWindow(const Window& w) {
    // A minimised window's client area is empty but stays where it was.
    if (w.state == ShowState::Minimized) return {w.insets.left, w.insets.top, w.insets.left, w.insets.top};
    RECT r;
    r.left = std::min((LONG)w.width, w.insets.left);
    r.top = std::min((LONG)w.height, w.insets.top);
    r.right = std::max(r.left, (LONG)w.width - w.insets.right);
    r.bottom = std::max(r.top, (LONG)w.height - w.insets.bottom);
    return r;
}

POINT ParentClientOrigin(const Window& w) {
    POINT p = {0, 0};
    if (!(w.style & WS_CHILD)) return p;
    Window* parent = Find(w.parent);
    if (!parent) return p;
    RECT pc = ClientScreenRect(*parent);
    p.x = pc.left;
    p.y = pc.top;
    return p;
}

RECT ScreenRect(const Window& w) {
    POINT o = ParentClientOrigin(w);
    return {o.x + w.x, o.y + w.y, o.x + w.x + w.width, o.y + w.y + w.height};
}

RECT ClientScreenRect(const Window& w) {
    RECT s = ScreenRect(w);
    RECT c = ClientInWindow(w);
    return {s.left + c.left, s.top + c.top, s.left + c.right, s.top + c.bottom};
}

HWND TopLevelOf(HWND window) {
    Window* w = Find(window);
    while (w && (w->style & WS_CHILD)) {
        Window* p = Find(w->parent);
        if (!p) break;
        w = p;
    }
    return w ? w->handle : nullptr;
}

void DesktopSize(int* width, int* height) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    if (display::Current().desktopSize(width, height)) return;
    *width = S().headlessWidth;
    *height = S().headlessHeight;
}

bool InputMove(HWND window, int windowX, int windowY) {
    RECT oldClient;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) return false;
        oldClient = ClientScreenRect(*w);
        w->x = windowX;
        w->y = windowY;
        RECT c = ClientScreenRect(*w);
        if (c.left == oldClient.left && c.top == oldClient.top) return true;
        POINT o = ParentClientOrigin(*w);
        Post(window, WM_MOVE, 0, MAKELPARAM((short)(c.left - o.x), (short)(c.top - o.y)));
    }
    return true;
}

bool InputClientMove(HWND window, int clientScreenX, int clientScreenY) {
    int x, y;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) return false;
        RECT s = ScreenRect(*w), c = ClientScreenRect(*w);
        if (c.left == clientScreenX && c.top == clientScreenY) return true;
        POINT o = ParentClientOrigin(*w);
        x = clientScreenX - (c.left - s.left) - o.x;
        y = clientScreenY - (c.top - s.top) - o.y;
    }
    return InputMove(window, x, y);
}

bool InputSize(HWND window, int clientWidth, int clientHeight) {
    DWORD style, thread;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) return false;
        style = w->style;
        thread = w->thread;
    }
    MINMAXINFO limits = {};
    bool tracks = TracksSize(style);
    if (tracks) limits = MinMaxInfo(window, thread);
    bool clamped = false;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) return false;
        clientWidth = std::max(0, clientWidth);
        clientHeight = std::max(0, clientHeight);
        int width = clientWidth + w->insets.left + w->insets.right;
        int height = clientHeight + w->insets.top + w->insets.bottom;
        if (tracks && w->state == ShowState::Normal) {
            // The sizing border stops at the tracking sizes; the display is told where it stopped.
            int wanted = width, wantedHeight = height;
            ClampToTracking(limits, &width, &height);
            clamped = width != wanted || height != wantedHeight;
        }
        if (w->state != ShowState::Minimized && width == w->width && height == w->height) {
            if (!clamped) return true;
        } else {
            if (w->state == ShowState::Minimized) w->state = ShowState::Normal;
            w->width = width;
            w->height = height;
            InvalidateAll(*w, true);
            RECT c = ClientInWindow(*w);
            WPARAM kind = w->state == ShowState::Maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
            Post(window, WM_SIZE, kind, MAKELPARAM(c.right - c.left, c.bottom - c.top));
        }
    }
    if (clamped) SyncDisplayGeometry(window);
    return true;
}

bool InputClose(HWND window) {
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (!Find(window)) return false;
    }
    return Post(window, WM_CLOSE, 0, 0);
}

void InputActivate(HWND window) {
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->thread != ThreadId() || S().active == window) return;
    }
    Activate(window);
}

void InputShowState(HWND window, ShowState state) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || w->state == state) return;
    ShowState old = w->state;
    if (old == ShowState::Normal) {
        w->normalX = w->x;
        w->normalY = w->y;
        w->normalWidth = w->width;
        w->normalHeight = w->height;
    }
    w->state = state;
    RECT c = ClientInWindow(*w);
    WPARAM kind = state == ShowState::Minimized ? SIZE_MINIMIZED
                  : state == ShowState::Maximized ? SIZE_MAXIMIZED
                                                  : SIZE_RESTORED;
    if (state != ShowState::Minimized) InvalidateAll(*w, true);
    Post(window, WM_SIZE, kind, MAKELPARAM(c.right - c.left, c.bottom - c.top));
}

}  // namespace w32

using namespace w32;

// ---------------------------------------------------------------------------------------------
// Classes

extern "C" ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || !wc->lpszClassName || wc->cbSize != sizeof(WNDCLASSEXA) || wc->cbWndExtra < 0 ||
        wc->cbClsExtra < 0 || wc->cbWndExtra > 4096 || wc->cbClsExtra > 4096) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> g(Lock());
    if (IS_INTRESOURCE(wc->lpszClassName) || !wc->lpszClassName[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (LookupClass(wc->lpszClassName, wc->hInstance, false)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto c = std::make_unique<WindowClass>();
    c->name = wc->lpszClassName;
    c->atom = (ATOM)(0xC000 + (S().nextAtom++ % 0x3FFF));
    c->style = wc->style;
    c->proc = wc->lpfnWndProc;
    c->instance = InstanceOrExe(wc->hInstance);
    c->icon = wc->hIcon;
    c->cursor = wc->hCursor;
    c->background = wc->hbrBackground;
    c->classExtra = wc->cbClsExtra;
    c->windowExtra = wc->cbWndExtra;
    ATOM atom = c->atom;
    S().classes.push_back(std::move(c));
    return atom;
}

extern "C" ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXA ex;
    ex.cbSize = sizeof(ex);
    ex.style = wc->style;
    ex.lpfnWndProc = wc->lpfnWndProc;
    ex.cbClsExtra = wc->cbClsExtra;
    ex.cbWndExtra = wc->cbWndExtra;
    ex.hInstance = wc->hInstance;
    ex.hIcon = wc->hIcon;
    ex.hCursor = wc->hCursor;
    ex.hbrBackground = wc->hbrBackground;
    ex.lpszMenuName = wc->lpszMenuName;
    ex.lpszClassName = wc->lpszClassName;
    ex.hIconSm = nullptr;
    return RegisterClassExA(&ex);
}

extern "C" BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE instance) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    WindowClass* c = LookupClass(name, instance, false);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (c->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    auto& all = S().classes;
    all.erase(std::remove_if(all.begin(), all.end(), [c](const std::unique_ptr<WindowClass>& p) { return p.get() == c; }),
              all.end());
    return TRUE;
}

extern "C" BOOL WINAPI GetClassInfoA(HINSTANCE instance, LPCSTR name, LPWNDCLASSA out) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    WindowClass* c = LookupClass(name, instance, true);
    if (!c || !out) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    out->style = c->style;
    out->lpfnWndProc = c->proc;
    out->cbClsExtra = c->classExtra;
    out->cbWndExtra = c->windowExtra;
    out->hInstance = c->instance;
    out->hIcon = c->icon;
    out->hCursor = c->cursor;
    out->hbrBackground = c->background;
    out->lpszMenuName = nullptr;
    out->lpszClassName = name;
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

extern "C" HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                                       int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                       LPVOID param) {
    HWND handle;
    bool visible = (style & WS_VISIBLE) != 0;
    ShowState initial = (style & WS_MINIMIZE) ? ShowState::Minimized
                        : (style & WS_MAXIMIZE) ? ShowState::Maximized
                                                : ShowState::Normal;
    CREATESTRUCTA cs;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        WindowClass* cls = LookupClass(className, instance, true);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        bool messageOnly = parent == HWND_MESSAGE;
        if (messageOnly) parent = nullptr;
        if (style & WS_CHILD) {
            if (!Find(parent)) {
                SetLastError(parent ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TLW_WITH_WSCHILD);
                return nullptr;
            }
        } else if (parent && !Find(parent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        auto w = std::make_unique<Window>();
        handle = (HWND)S().nextHandle;
        S().nextHandle += 2;
        w->handle = handle;
        w->cls = cls;
        w->proc = cls->proc;
        w->instance = instance;
        w->messageOnly = messageOnly;
        w->thread = ThreadId();
        // What Windows adds by itself: overlapped windows always get a caption, top-level
        // windows clip their siblings, and the raised window edge follows the frame.
        style &= ~(DWORD)(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        if (!(style & WS_CHILD)) {
            style |= WS_CLIPSIBLINGS;
            if (!(style & WS_POPUP)) style |= WS_CAPTION;
        }
        if (NeedsWindowEdge(style, exStyle))
            exStyle |= WS_EX_WINDOWEDGE;
        else
            exStyle &= ~(DWORD)WS_EX_WINDOWEDGE;
        w->style = style;
        w->exStyle = exStyle;
        if (style & WS_CHILD) {
            w->parent = parent;
            w->id = (LONG_PTR)menu;
        } else {
            w->owner = parent ? TopLevelOf(parent) : nullptr;
            w->menu = menu;
        }
        bool overlapped = !(style & (WS_CHILD | WS_POPUP));
        int sw, sh;
        DesktopSize(&sw, &sh);
        if (x == CW_USEDEFAULT) {
            if (overlapped) {
                int slot = (int)(S().nextHandle / 2 % 8);
                x = 26 * slot;
                y = 26 * slot;
            } else {
                x = y = 0;
            }
        }
        if (width == CW_USEDEFAULT) {
            if (overlapped) {
                width = sw * 3 / 4;
                height = sh * 3 / 4;
            } else {
                width = height = 0;
            }
        }
        w->x = x;
        w->y = y;
        w->width = std::max(0, width);
        w->height = std::max(0, height);
        w->normalX = w->x;
        w->normalY = w->y;
        w->normalWidth = w->width;
        w->normalHeight = w->height;
        w->extra.assign((size_t)cls->windowExtra, 0);
        ComputeInsets(*w);
        cls->windows++;
        Window* raw = w.get();
        S().windows[handle] = std::move(w);
        if (raw->style & WS_CHILD) {
            Find(parent)->children.push_back(handle);
        } else if (!messageOnly) {
            // New windows go in front of the other windows of their band.
            auto pos = S().topLevel.begin();
            if (!(raw->exStyle & WS_EX_TOPMOST)) {
                while (pos != S().topLevel.end()) {
                    Window* o = Find(*pos);
                    if (!o || !(o->exStyle & WS_EX_TOPMOST)) break;
                    ++pos;
                }
            }
            S().topLevel.insert(pos, handle);
        }
        cs.lpCreateParams = param;
        cs.hInstance = instance;
        cs.hMenu = menu;
        cs.hwndParent = parent;
        cs.cy = raw->height;
        cs.cx = raw->width;
        cs.y = raw->y;
        cs.x = raw->x;
        cs.style = (LONG)raw->style;
        cs.lpszName = windowName;
        cs.lpszClass = className;
        cs.dwExStyle = raw->exStyle;
    }
    if (TracksSize((DWORD)cs.style)) {
        // The first message a window sees; the size it is created with obeys the answer.
        MINMAXINFO info = MinMaxInfo(handle, ThreadId());
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(handle);
        if (!w) return nullptr;
        ClampToTracking(info, &w->width, &w->height);
        w->normalWidth = w->width;
        w->normalHeight = w->height;
        cs.cx = w->width;
        cs.cy = w->height;
    }
    if (!Call(handle, WM_NCCREATE, 0, (LPARAM)&cs)) {
        // Refused before it existed: only WM_NCDESTROY follows.
        Call(handle, WM_NCDESTROY, 0, 0);
        std::lock_guard<std::recursive_mutex> g(Lock());
        std::vector<HWND> removed;
        RemoveTree(handle, removed);
        return nullptr;
    }
    if (!IsWindow(handle)) return nullptr;
    if (Call(handle, WM_CREATE, 0, (LPARAM)&cs) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (!IsWindow(handle)) return nullptr;
    {
        RECT c;
        POINT o;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(handle);
            if (!w) return nullptr;
            c = ClientScreenRect(*w);
            o = ParentClientOrigin(*w);
        }
        Call(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.right - c.left, c.bottom - c.top));
        Call(handle, WM_MOVE, 0, MAKELPARAM((short)(c.left - o.x), (short)(c.top - o.y)));
    }
    if (!IsWindow(handle)) return nullptr;
    if (initial != ShowState::Normal) ApplyShowState(handle, initial);
    if (visible) ShowWindow(handle, SW_SHOW);
    return IsWindow(handle) ? handle : nullptr;
}

extern "C" BOOL WINAPI DestroyWindow(HWND window) {
    std::vector<HWND> owned;
    bool wasVisible;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->desktop || w->thread != ThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying) return TRUE;
        MarkDestroying(*w);
        for (HWND h : S().topLevel) {
            Window* o = Find(h);
            if (o && o->owner == window && !o->destroying) owned.push_back(h);
        }
        wasVisible = (w->style & WS_VISIBLE) != 0;
        if (wasVisible) w->style &= ~(DWORD)WS_VISIBLE;
    }
    if (wasVisible) display::Current().hide(window);
    for (HWND h : owned) DestroyWindow(h);
    bool wasActive, focusInside;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        wasActive = S().active == window;
        focusInside = S().focus && IsWithin(S().focus, window);
    }
    if (wasActive) Activate(NextActivationCandidate(window));
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        focusInside = S().focus && IsWithin(S().focus, window);
    }
    if (focusInside) SetFocusTo(nullptr);
    SendDestroyTree(window);
    SendNcDestroyTree(window);
    std::vector<HWND> removed;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        RemoveTree(window, removed);
    }
    for (HWND h : removed) display::WindowDestroyed(h);
    return TRUE;
}

extern "C" BOOL WINAPI IsWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    return Find(window) != nullptr;
}

extern "C" BOOL WINAPI IsWindowVisible(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    for (Window* w = Find(window); w; w = (w->style & WS_CHILD) ? Find(w->parent) : nullptr) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
    }
    return Find(window) != nullptr;
}

extern "C" BOOL WINAPI IsIconic(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    return w && w->state == ShowState::Minimized;
}

extern "C" BOOL WINAPI IsZoomed(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    return w && w->state == ShowState::Maximized;
}

// ---------------------------------------------------------------------------------------------
// Show states

extern "C" BOOL WINAPI ShowWindow(HWND window, int command) {
    bool wasVisible, topLevel;
    ShowState current;
    bool restoreToMax;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) {
            SetLastError(w ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasVisible = (w->style & WS_VISIBLE) != 0;
        topLevel = !(w->style & WS_CHILD);
        current = w->state;
        restoreToMax = w->restoreToMaximized;
    }
    if (command == SW_HIDE) {
        if (!wasVisible) return FALSE;
        Call(window, WM_SHOWWINDOW, FALSE, 0);
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            if (Window* w = Find(window)) w->style &= ~(DWORD)WS_VISIBLE;
        }
        display::Current().hide(window);
        bool wasActive, focusInside;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            wasActive = S().active == window;
        }
        if (wasActive) Activate(NextActivationCandidate(window));
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            focusInside = S().focus && IsWithin(S().focus, window);
        }
        if (focusInside) SetFocusTo(nullptr);
        return TRUE;
    }
    ShowState target = current;
    bool activate = false;
    switch (command) {
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
        target = ShowState::Normal;
        activate = true;
        break;
    case SW_SHOWNOACTIVATE:
        target = ShowState::Normal;
        break;
    case SW_RESTORE:
        target = (current == ShowState::Minimized && restoreToMax) ? ShowState::Maximized : ShowState::Normal;
        activate = true;
        break;
    case SW_SHOWMINIMIZED:
        target = ShowState::Minimized;
        activate = true;
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        target = ShowState::Minimized;
        break;
    case SW_SHOWMAXIMIZED:
        target = ShowState::Maximized;
        activate = true;
        break;
    case SW_SHOW:
        activate = true;
        break;
    case SW_SHOWNA:
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!wasVisible) {
        Call(window, WM_SHOWWINDOW, TRUE, 0);
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w) return FALSE;
            w->style |= WS_VISIBLE;
            InvalidateAll(*w, true);
        }
        ShowOnDisplay(window);
    }
    if (target != current) ApplyShowState(window, target);
    if (topLevel) {
        if (activate) {
            Activate(window);
        } else if (target == ShowState::Minimized) {
            bool wasActive;
            {
                std::lock_guard<std::recursive_mutex> g(Lock());
                wasActive = S().active == window;
            }
            if (wasActive) Activate(NextActivationCandidate(window));
        }
    }
    return wasVisible ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------------
// Rectangles and positions

extern "C" BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || !rect) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT c = ClientInWindow(*w);
    *rect = {0, 0, c.right - c.left, c.bottom - c.top};
    return TRUE;
}

extern "C" BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || !rect) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = ScreenRect(*w);
    return TRUE;
}

extern "C" BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || !point) return FALSE;
    RECT c = ClientScreenRect(*w);
    point->x += c.left;
    point->y += c.top;
    return TRUE;
}

extern "C" BOOL WINAPI ScreenToClient(HWND window, LPPOINT point) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || !point) return FALSE;
    RECT c = ClientScreenRect(*w);
    point->x -= c.left;
    point->y -= c.top;
    return TRUE;
}

extern "C" BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) {
            SetLastError(w ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
    }
    WINDOWPOS pos = {window, insertAfter, x, y, cx, cy, flags & 0x7FFF & ~(kSwpNoClientMove | kSwpNoClientSize)};
    if (!(flags & SWP_NOSENDCHANGING)) Call(window, WM_WINDOWPOSCHANGING, 0, (LPARAM)&pos);
    pos.hwnd = window;
    return ApplyWindowPos(window, pos, false);
}

extern "C" BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

extern "C" BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (style & WS_MINIMIZE) return TRUE;
    RECT in = FrameInsets(style & ~(DWORD)(WS_HSCROLL | WS_VSCROLL), exStyle, menu != FALSE, false);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

extern "C" BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
    return AdjustWindowRectEx(rect, style, menu, 0);
}

extern "C" int WINAPI GetSystemMetrics(int index) {
    int sw, sh;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        DesktopSize(&sw, &sh);
    }
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
    case SM_CXFULLSCREEN:
        return sw;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
        return sh;
    case SM_CYFULLSCREEN:
        return sh - kCaption;
    case SM_CXMAXIMIZED:
        return sw + 2 * kFrame;
    case SM_CYMAXIMIZED:
        return sh + 2 * kFrame;
    case SM_XVIRTUALSCREEN:
    case SM_YVIRTUALSCREEN:
    case SM_CXPADDEDBORDER:
        return 0;
    case SM_CMONITORS:
    case SM_MOUSEPRESENT:
        return 1;
    case SM_CYCAPTION:
        return kCaption;
    case SM_CYSMCAPTION:
        return kSmallCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return kDlgFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return kFrame;
    case SM_CXEDGE:
    case SM_CYEDGE:
        return kEdge;
    case SM_CYMENU:
        return kMenu;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return kScrollBar;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CXSIZE:
    case SM_CYSIZE:
        return 18;
    case SM_CXMIN:
    case SM_CXMINTRACK:
        return 112;
    case SM_CYMIN:
    case SM_CYMINTRACK:
        return 27;
    // The largest window the sizing border reaches: the whole virtual screen plus the frame.
    case SM_CXMAXTRACK:
        return sw + 2 * kFrame;
    case SM_CYMAXTRACK:
        return sh + 2 * kFrame;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Window longs, relations

namespace {

bool ReadLong(HWND window, int index, LONG_PTR* value, size_t extraSize) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    switch (index) {
    case GWL_STYLE: *value = (LONG)w->style; return true;
    case GWL_EXSTYLE: *value = (LONG)w->exStyle; return true;
    case GWLP_WNDPROC: *value = (LONG_PTR)w->proc; return true;
    case GWLP_HINSTANCE: *value = (LONG_PTR)w->instance; return true;
    case GWLP_HWNDPARENT: *value = (LONG_PTR)((w->style & WS_CHILD) ? w->parent : w->owner); return true;
    case GWLP_ID: *value = w->id; return true;
    case GWLP_USERDATA: *value = w->userData; return true;
    default: break;
    }
    if (index < 0 || (size_t)index + extraSize > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return false;
    }
    if (extraSize == sizeof(LONG_PTR)) {
        memcpy(value, &w->extra[(size_t)index], sizeof(LONG_PTR));
    } else {
        LONG v;
        memcpy(&v, &w->extra[(size_t)index], sizeof(LONG));
        *value = v;
    }
    return true;
}

bool WriteLong(HWND window, int index, LONG_PTR value, size_t extraSize, LONG_PTR* old) {
    DWORD styleOld = 0, styleNew = 0;
    if (index == GWL_STYLE || index == GWL_EXSTYLE) {
        // Style changes go through WM_STYLECHANGING / WM_STYLECHANGED like on Windows.
        LONG_PTR current;
        if (!ReadLong(window, index, &current, extraSize)) return false;
        STYLESTRUCT ss = {(DWORD)current, (DWORD)value};
        Call(window, WM_STYLECHANGING, (WPARAM)index, (LPARAM)&ss);
        styleOld = (DWORD)current;
        styleNew = ss.styleNew;
        bool visibleChanged = false, nowVisible = false;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w) return false;
            if (index == GWL_STYLE) {
                visibleChanged = ((w->style ^ styleNew) & WS_VISIBLE) != 0;
                w->style = styleNew;
                nowVisible = (styleNew & WS_VISIBLE) != 0;
                if (nowVisible && visibleChanged) InvalidateAll(*w, true);
            } else {
                w->exStyle = (styleNew & ~(DWORD)WS_EX_TOPMOST) | (w->exStyle & WS_EX_TOPMOST);
            }
        }
        *old = (LONG)styleOld;
        if (visibleChanged && !nowVisible) display::Current().hide(window);
        if (nowVisible) ShowOnDisplay(window);
        STYLESTRUCT done = {styleOld, styleNew};
        Call(window, WM_STYLECHANGED, (WPARAM)index, (LPARAM)&done);
        return true;
    }
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    switch (index) {
    case GWLP_WNDPROC:
        if (!value) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        *old = (LONG_PTR)w->proc;
        w->proc = (WNDPROC)value;
        return true;
    case GWLP_HINSTANCE:
        *old = (LONG_PTR)w->instance;
        w->instance = (HINSTANCE)value;
        return true;
    case GWLP_HWNDPARENT:
        if (w->style & WS_CHILD) {
            *old = (LONG_PTR)w->parent;
            return true;
        }
        *old = (LONG_PTR)w->owner;
        w->owner = TopLevelOf((HWND)value);
        return true;
    case GWLP_ID:
        *old = w->id;
        w->id = value;
        return true;
    case GWLP_USERDATA:
        *old = w->userData;
        w->userData = value;
        return true;
    default:
        break;
    }
    if (index < 0 || (size_t)index + extraSize > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return false;
    }
    if (extraSize == sizeof(LONG_PTR)) {
        memcpy(old, &w->extra[(size_t)index], sizeof(LONG_PTR));
        memcpy(&w->extra[(size_t)index], &value, sizeof(LONG_PTR));
    } else {
        LONG o, v = (LONG)value;
        memcpy(&o, &w->extra[(size_t)index], sizeof(LONG));
        memcpy(&w->extra[(size_t)index], &v, sizeof(LONG));
        *old = o;
    }
    return true;
}

}  // namespace

extern "C" LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    LONG_PTR v = 0;
    return ReadLong(window, index, &v, sizeof(LONG_PTR)) ? v : 0;
}

extern "C" LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    LONG_PTR old = 0;
    return WriteLong(window, index, value, sizeof(LONG_PTR), &old) ? old : 0;
}

extern "C" LONG WINAPI GetWindowLongA(HWND window, int index) {
    LONG_PTR v = 0;
    return ReadLong(window, index, &v, sizeof(LONG)) ? (LONG)v : 0;
}

extern "C" LONG WINAPI SetWindowLongA(HWND window, int index, LONG value) {
    LONG_PTR old = 0;
    return WriteLong(window, index, value, sizeof(LONG), &old) ? (LONG)old : 0;
}

extern "C" HWND WINAPI GetParent(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (w->style & WS_CHILD) return w->parent;
    return (w->style & WS_POPUP) ? w->owner : nullptr;
}

extern "C" HWND WINAPI GetWindow(HWND window, UINT relation) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (relation == GW_OWNER) return (w->style & WS_CHILD) ? nullptr : w->owner;
    if (relation == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
    const std::vector<HWND>* siblings = &S().topLevel;
    if (w->style & WS_CHILD) {
        Window* p = Find(w->parent);
        if (!p) return nullptr;
        siblings = &p->children;
    }
    if (siblings->empty()) return nullptr;
    auto it = std::find(siblings->begin(), siblings->end(), window);
    switch (relation) {
    case GW_HWNDFIRST: return siblings->front();
    case GW_HWNDLAST: return siblings->back();
    case GW_HWNDNEXT: return (it == siblings->end() || it + 1 == siblings->end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV: return (it == siblings->end() || it == siblings->begin()) ? nullptr : *(it - 1);
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
    }
}

extern "C" DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD process) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (process) *process = (DWORD)getpid();
    return w->desktop ? 0 : w->thread;
}

extern "C" BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    bool wasDisabled, changed;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasDisabled = (w->style & WS_DISABLED) != 0;
        changed = wasDisabled == (enable != FALSE);
        if (enable)
            w->style &= ~(DWORD)WS_DISABLED;
        else
            w->style |= WS_DISABLED;
    }
    if (changed) {
        if (!enable) {
            bool focusInside;
            {
                std::lock_guard<std::recursive_mutex> g(Lock());
                focusInside = S().focus && IsWithin(S().focus, window);
            }
            if (focusInside) SetFocusTo(nullptr);
        }
        Call(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
    }
    return wasDisabled ? TRUE : FALSE;
}

extern "C" BOOL WINAPI IsWindowEnabled(HWND window) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    return w && !(w->style & WS_DISABLED);
}

// ---------------------------------------------------------------------------------------------
// Finding windows, window text

extern "C" HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    for (HWND h : S().topLevel) {
        Window* w = Find(h);
        if (!w || w->destroying) continue;
        if (className) {
            bool match = IS_INTRESOURCE(className) ? w->cls->atom == (ATOM)(uintptr_t)className
                                                   : SameName(w->cls->name, className);
            if (!match) continue;
        }
        if (windowName && !SameName(w->text, windowName)) continue;
        return h;
    }
    return nullptr;
}

extern "C" BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text) ? TRUE : FALSE;
}

extern "C" int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int maxCount) {
    if (!buffer || maxCount <= 0) return 0;
    buffer[0] = 0;
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LRESULT n = SendMessageA(window, WM_GETTEXT, (WPARAM)maxCount, (LPARAM)buffer);
    int length = (int)std::min<LRESULT>(std::max<LRESULT>(n, 0), maxCount - 1);
    buffer[length] = 0;  // whatever the procedure answered, the text ends inside the buffer
    return length;
}

extern "C" int WINAPI GetWindowTextLengthA(HWND window) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return (int)SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
}

extern "C" int WINAPI GetClassNameA(HWND window, LPSTR buffer, int maxCount) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w || !buffer || maxCount <= 0) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    int n = (int)std::min(w->cls->name.size(), (size_t)maxCount - 1);
    memcpy(buffer, w->cls->name.data(), (size_t)n);
    buffer[n] = 0;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Activation and focus

extern "C" HWND WINAPI SetFocus(HWND window) {
    HWND previous;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        previous = S().focus;
        if (window) {
            Window* w = Find(window);
            if (!w || w->desktop) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            if (w->style & WS_DISABLED) return nullptr;
        }
    }
    if (!window) {
        SetFocusTo(nullptr);
        return previous;
    }
    HWND top;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        top = TopLevelOf(window);
    }
    if (top && top != GetForegroundWindow()) Activate(top);
    SetFocusTo(window);
    return previous;
}

extern "C" HWND WINAPI GetFocus(void) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(S().focus);
    return (w && w->thread == ThreadId()) ? S().focus : nullptr;
}

extern "C" HWND WINAPI GetForegroundWindow(void) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    return S().active;
}

extern "C" HWND WINAPI GetActiveWindow(void) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(S().active);
    return (w && w->thread == ThreadId()) ? S().active : nullptr;
}

extern "C" HWND WINAPI SetActiveWindow(HWND window) {
    HWND previous = GetActiveWindow();
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || (w->style & WS_CHILD) || w->desktop) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }
    Activate(window);
    return previous;
}

extern "C" BOOL WINAPI SetForegroundWindow(HWND window) {
    HWND top;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) return FALSE;
        top = TopLevelOf(window);
    }
    Activate(top);
    return TRUE;
}

extern "C" BOOL WINAPI BringWindowToTop(HWND window) {
    bool child;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || w->desktop) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        child = (w->style & WS_CHILD) != 0;
        if (child) {
            if (Window* p = Find(w->parent)) {
                auto& sib = p->children;
                sib.erase(std::remove(sib.begin(), sib.end(), window), sib.end());
                sib.insert(sib.begin(), window);
            }
        } else {
            MoveToFront(window);
        }
    }
    // A top-level window brought to the top is activated as well.
    if (!child) {
        if (IsWindowVisible(window)) Activate(window);
        display::Current().raise(window);
    }
    return TRUE;
}

extern "C" HWND WINAPI GetDesktopWindow(void) { return kDesktop; }

// ---------------------------------------------------------------------------------------------
// Painting

extern "C" BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    if (!window) {
        for (auto& kv : S().windows)
            if (!kv.second->desktop) InvalidateAll(*kv.second, erase != FALSE);
        return TRUE;
    }
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT c = ClientInWindow(*w);
    RECT full = {0, 0, c.right - c.left, c.bottom - c.top};
    RECT r = rect ? *rect : full;
    r.left = std::max(r.left, full.left);
    r.top = std::max(r.top, full.top);
    r.right = std::min(r.right, full.right);
    r.bottom = std::min(r.bottom, full.bottom);
    if (r.right <= r.left || r.bottom <= r.top) return TRUE;
    if (w->needsPaint) {
        w->invalid.left = std::min(w->invalid.left, r.left);
        w->invalid.top = std::min(w->invalid.top, r.top);
        w->invalid.right = std::max(w->invalid.right, r.right);
        w->invalid.bottom = std::max(w->invalid.bottom, r.bottom);
    } else {
        w->invalid = r;
    }
    w->needsPaint = true;
    if (erase) w->needsErase = true;
    return TRUE;
}

extern "C" BOOL WINAPI ValidateRect(HWND window, const RECT* rect) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!rect || (rect->left <= w->invalid.left && rect->top <= w->invalid.top && rect->right >= w->invalid.right &&
                  rect->bottom >= w->invalid.bottom)) {
        w->needsPaint = false;
        w->needsErase = false;
    }
    return TRUE;
}

extern "C" BOOL WINAPI GetUpdateRect(HWND window, LPRECT rect, BOOL) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) return FALSE;
    if (rect) *rect = w->needsPaint ? w->invalid : RECT{0, 0, 0, 0};
    return w->needsPaint ? TRUE : FALSE;
}

extern "C" HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    bool erase;
    RECT area;
    HDC dc = (HDC)((uintptr_t)window + 0x1000000);  // a device context stands for its window
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w || !paint) {
            SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        erase = w->needsErase;
        area = w->needsPaint ? w->invalid : RECT{0, 0, 0, 0};
        w->needsPaint = false;
        w->needsErase = false;
    }
    memset(paint, 0, sizeof(*paint));
    paint->hdc = dc;
    paint->rcPaint = area;
    paint->fErase = TRUE;
    if (erase) paint->fErase = Call(window, WM_ERASEBKGND, (WPARAM)dc, 0) ? FALSE : TRUE;
    return dc;
}

extern "C" BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    (void)window;
    return paint ? TRUE : FALSE;
}

extern "C" BOOL WINAPI UpdateWindow(HWND window) {
    bool paint;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        paint = w->needsPaint && (w->style & WS_VISIBLE);
    }
    if (paint) Call(window, WM_PAINT, 0, 0);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// The default window procedure

extern "C" LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: {
        const CREATESTRUCTA* cs = (const CREATESTRUCTA*)lParam;
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (Window* w = Find(window)) w->text = (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) ? cs->lpszName : "";
        return TRUE;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(window, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(window, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(window, SW_MAXIMIZE); break;
        case SC_RESTORE: ShowWindow(window, SW_RESTORE); break;
        default: break;
        }
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 closes the window, as the system menu would.
        if (wParam == VK_F4 && (lParam & (1 << 29))) PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(window, &ps)) EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        return (w && w->cls && w->cls->background) ? 1 : 0;
    }
    case WM_SETCURSOR: {
        HWND parent = nullptr;
        HCURSOR cursor = nullptr;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w) return FALSE;
            if (w->style & WS_CHILD) parent = w->parent;
            cursor = w->cls ? w->cls->cursor : nullptr;
        }
        if (parent && SendMessageA(parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
        if (LOWORD(lParam) == HTCLIENT) {
            if (!cursor) return FALSE;
            SetCursor(cursor);
            return TRUE;
        }
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        return FALSE;
    }
    case WM_WINDOWPOSCHANGING: {
        WINDOWPOS* pos = (WINDOWPOS*)lParam;
        if (!pos || (pos->flags & SWP_NOSIZE)) return 0;
        DWORD style, thread;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w || w->state != ShowState::Normal) return 0;
            style = w->style;
            thread = w->thread;
        }
        if (TracksSize(style)) ClampToTracking(MinMaxInfo(window, thread), &pos->cx, &pos->cy);
        return 0;
    }
    case WM_WINDOWPOSCHANGED: {
        const WINDOWPOS* pos = (const WINDOWPOS*)lParam;
        if (!pos) return 0;
        RECT c;
        POINT o;
        ShowState state;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w) return 0;
            c = ClientScreenRect(*w);
            o = ParentClientOrigin(*w);
            state = w->state;
        }
        if (!(pos->flags & kSwpNoClientMove))
            SendMessageA(window, WM_MOVE, 0, MAKELPARAM((short)(c.left - o.x), (short)(c.top - o.y)));
        if (!(pos->flags & kSwpNoClientSize) || (pos->flags & kSwpStateChanged)) {
            WPARAM kind = state == ShowState::Minimized ? SIZE_MINIMIZED
                          : state == ShowState::Maximized ? SIZE_MAXIMIZED
                                                          : SIZE_RESTORED;
            SendMessageA(window, WM_SIZE, kind, MAKELPARAM(c.right - c.left, c.bottom - c.top));
        }
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) SetFocus(window);
        return 0;
    case WM_MOUSEACTIVATE:
        return MA_ACTIVATE;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_SETTEXT: {
        std::string text = lParam ? (const char*)lParam : "";
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            Window* w = Find(window);
            if (!w) return FALSE;
            w->text = text;
        }
        display::Current().title(window, text.c_str());
        return TRUE;
    }
    case WM_GETTEXT: {
        char* out = (char*)lParam;
        size_t max = (size_t)wParam;
        if (!out || max == 0) return 0;
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            out[0] = 0;
            return 0;
        }
        size_t n = std::min(w->text.size(), max - 1);
        memcpy(out, w->text.data(), n);
        out[n] = 0;
        return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        return w ? (LRESULT)w->text.size() : 0;
    }
    case WM_QUERYENDSESSION:
    case WM_QUERYOPEN:
        return TRUE;
    default:
        return 0;
    }
}

extern "C" LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!proc) return 0;
    return proc(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Test controls

extern "C" void MarlixSetDesktopSize(int width, int height) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    if (width > 0 && height > 0) {
        S().headlessWidth = width;
        S().headlessHeight = height;
    }
}

extern "C" int MarlixWindowCount(void) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    int n = 0;
    for (auto& kv : S().windows)
        if (!kv.second->desktop) n++;
    return n;
}

extern "C" void MarlixResetWindows(void) {
    std::vector<HWND> handles;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        for (auto& kv : S().windows)
            if (!kv.second->desktop) handles.push_back(kv.first);
        for (HWND h : handles) S().windows.erase(h);
        S().topLevel.clear();
        S().classes.clear();
        S().active = nullptr;
        S().focus = nullptr;
        ResetMessages();
    }
    for (HWND h : handles) display::WindowDestroyed(h);
    display::Reset();
    ResetInputState();
    ResetCursor();
    MarlixMessageBoxClear();
    MarlixMessageBoxSetAnswer(0);
    MarlixDebugOutputClear();
    ResetClock();
}
