// Messages: sent messages run the procedure at once; posted messages wait in the queue of the
// window's thread (first in, first out) until PeekMessageA/GetMessageA take them, after which
// WM_QUIT and then WM_PAINT are generated as Windows does. Keyboard and mouse input from the
// display and the test controls arrive here as posted messages.
#include "w32_internal.h"

#include "../display/display.h"

#include <marlix_platform.h>

#include <atomic>
#include <chrono>
#include <cctype>

namespace w32 {
namespace {

struct Queues {
    std::unordered_map<DWORD, std::unique_ptr<ThreadQueue>> byThread;
    std::unordered_map<DWORD, uint64_t> generation;  // bumped whenever a queue gains something
};

Queues& Q() {
    static Queues* q = new Queues;
    return *q;
}

thread_local DWORD t_messageTime = 0;

// Keyboard state as the messages were generated: down flags and toggles (Caps Lock etc.).
struct KeyState {
    bool down[256] = {};
    bool toggled[256] = {};
};
KeyState g_keys;
std::mutex g_keyMutex;

struct CursorState {
    HCURSOR cursor = (HCURSOR)(uintptr_t)(0x30000 + 32512);  // the arrow, as at start-up
    int showCount = 0;
    POINT position = {0, 0};
    bool positionKnown = false;
};
CursorState g_cursor;
std::mutex g_cursorMutex;

void Bump(DWORD thread) {
    Q().generation[thread]++;
    if (ThreadQueue* q = ExistingQueue(thread)) q->wake.notify_all();
}

bool Matches(const MSG& m, HWND filter, UINT low, UINT high) {
    if (filter == (HWND)-1) {
        if (m.hwnd) return false;
    } else if (filter) {
        if (!m.hwnd || !IsWithinWindow(m.hwnd, filter)) return false;
    }
    if (low == 0 && high == 0) return true;
    return m.message >= low && m.message <= high;
}

bool RangeIncludes(UINT message, UINT low, UINT high) {
    return (low == 0 && high == 0) || (message >= low && message <= high);
}

bool PaintPending(HWND window, HWND filter, HWND* found) {
    Window* w = Find(window);
    if (!w || !(w->style & WS_VISIBLE)) return false;
    if (w->needsPaint && w->thread == ThreadId() && (!filter || IsWithinWindow(window, filter))) {
        *found = window;
        return true;
    }
    for (HWND c : w->children)
        if (PaintPending(c, filter, found)) return true;
    return false;
}

POINT CursorPosition() {
    {
        std::lock_guard<std::mutex> g(g_cursorMutex);
        if (g_cursor.positionKnown) return g_cursor.position;
    }
    int w, h;  // not under the cursor lock: the desktop size may ask the display
    DesktopSize(&w, &h);
    return {w / 2, h / 2};
}

// One look at the queue, under the lock; the generation seen is kept for waiting.
bool PeekOnce(LPMSG msg, HWND filter, UINT low, UINT high, UINT remove, uint64_t* seen) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    DWORD thread = ThreadId();
    ThreadQueue& q = QueueOf(thread);
    if (seen) *seen = Q().generation[thread];
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (!Matches(*it, filter, low, high)) continue;
        *msg = *it;
        if (remove & PM_REMOVE) q.posted.erase(it);
        t_messageTime = msg->time;
        return true;
    }
    if (q.quit && (!filter || filter == (HWND)-1) && RangeIncludes(WM_QUIT, low, high)) {
        *msg = MSG{nullptr, WM_QUIT, (WPARAM)(intptr_t)q.quitCode, 0, TickNow(), CursorPosition()};
        if (remove & PM_REMOVE) q.quit = false;
        t_messageTime = msg->time;
        return true;
    }
    if (filter != (HWND)-1 && RangeIncludes(WM_PAINT, low, high)) {
        HWND found = nullptr;
        for (HWND top : TopLevelOrder()) {
            if (PaintPending(top, filter, &found)) break;
        }
        if (found) {
            // WM_PAINT stays until the window is validated (BeginPaint), even with PM_REMOVE.
            *msg = MSG{found, WM_PAINT, 0, 0, TickNow(), CursorPosition()};
            t_messageTime = msg->time;
            return true;
        }
    }
    return false;
}

void WaitForMessages(uint64_t seen) {
    std::unique_lock<std::recursive_mutex> lk(Lock());
    DWORD thread = ThreadId();
    ThreadQueue& q = QueueOf(thread);
    auto changed = [&] { return Q().generation[thread] != seen; };
    if (display::Current().headless) {
        q.wake.wait(lk, changed);
    } else {
        // The display's events arrive by polling, so wake up now and then to pump them.
        q.wake.wait_for(lk, std::chrono::milliseconds(5), changed);
    }
}

int CharFor(UINT vk, bool shift, bool caps, bool ctrl) {
    if (vk >= 'A' && vk <= 'Z') {
        if (ctrl) return (int)(vk - 'A' + 1);
        return (shift != caps) ? (int)vk : (int)(vk - 'A' + 'a');
    }
    if (ctrl) return -1;
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : (int)vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return (int)('0' + vk - VK_NUMPAD0);
    switch (vk) {
    case VK_SPACE: return ' ';
    case VK_RETURN: return '\r';
    case VK_ESCAPE: return 27;
    case VK_BACK: return 8;
    case VK_TAB: return '\t';
    case VK_OEM_1: return shift ? ':' : ';';
    case VK_OEM_PLUS: return shift ? '+' : '=';
    case VK_OEM_COMMA: return shift ? '<' : ',';
    case VK_OEM_MINUS: return shift ? '_' : '-';
    case VK_OEM_PERIOD: return shift ? '>' : '.';
    case VK_OEM_2: return shift ? '?' : '/';
    case VK_OEM_3: return shift ? '~' : '`';
    case VK_OEM_4: return shift ? '{' : '[';
    case VK_OEM_5: return shift ? '|' : '\\';
    case VK_OEM_6: return shift ? '}' : ']';
    case VK_OEM_7: return shift ? '"' : '\'';
    case VK_MULTIPLY: return '*';
    case VK_ADD: return '+';
    case VK_SUBTRACT: return '-';
    case VK_DECIMAL: return '.';
    case VK_DIVIDE: return '/';
    default: return -1;
    }
}

}  // namespace

ThreadQueue* ExistingQueue(DWORD thread) {
    auto it = Q().byThread.find(thread);
    return it == Q().byThread.end() ? nullptr : it->second.get();
}

ThreadQueue& QueueOf(DWORD thread) {
    auto& slot = Q().byThread[thread];
    if (!slot) slot = std::make_unique<ThreadQueue>();
    return *slot;
}

LRESULT Call(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        proc = w->proc;
    }
    if (!proc) return DefWindowProcA(window, message, wParam, lParam);
    return proc(window, message, wParam, lParam);
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    ThreadQueue& q = QueueOf(w->thread);
    if (q.posted.size() >= kQueueLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    q.posted.push_back(MSG{window, message, wParam, lParam, TickNow(), CursorPosition()});
    Bump(w->thread);
    return true;
}

void DropMessagesFor(HWND window) {
    for (auto& kv : Q().byThread) {
        auto& posted = kv.second->posted;
        for (auto it = posted.begin(); it != posted.end();) {
            if (it->hwnd == window)
                it = posted.erase(it);
            else
                ++it;
        }
    }
}

void ResetMessages() {
    for (auto& kv : Q().byThread) {
        kv.second->posted.clear();
        kv.second->quit = false;
        kv.second->quitCode = 0;
    }
}

void ResetInputState() {
    std::lock_guard<std::mutex> g(g_keyMutex);
    g_keys = KeyState();
}

void ResetCursor() {
    {
        std::lock_guard<std::mutex> g(g_cursorMutex);
        g_cursor = CursorState();
    }
    display::Current().cursor(CursorVisible());
}

bool CursorVisible() {
    std::lock_guard<std::mutex> g(g_cursorMutex);
    return g_cursor.cursor && g_cursor.showCount >= 0;
}

UINT ScanCodeOf(UINT vk, bool* extended) {
    *extended = false;
    static const unsigned char letters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                              0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                              0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
    if (vk >= 'A' && vk <= 'Z') return letters[vk - 'A'];
    if (vk >= '1' && vk <= '9') return 0x02 + (vk - '1');
    if (vk == '0') return 0x0B;
    if (vk >= VK_F1 && vk <= VK_F10) return 0x3B + (vk - VK_F1);
    switch (vk) {
    case VK_ESCAPE: return 0x01;
    case VK_OEM_MINUS: return 0x0C;
    case VK_OEM_PLUS: return 0x0D;
    case VK_BACK: return 0x0E;
    case VK_TAB: return 0x0F;
    case VK_OEM_4: return 0x1A;
    case VK_OEM_6: return 0x1B;
    case VK_RETURN: return 0x1C;
    case VK_CONTROL: case VK_LCONTROL: return 0x1D;
    case VK_RCONTROL: *extended = true; return 0x1D;
    case VK_OEM_1: return 0x27;
    case VK_OEM_7: return 0x28;
    case VK_OEM_3: return 0x29;
    case VK_SHIFT: case VK_LSHIFT: return 0x2A;
    case VK_OEM_5: return 0x2B;
    case VK_OEM_COMMA: return 0x33;
    case VK_OEM_PERIOD: return 0x34;
    case VK_OEM_2: return 0x35;
    case VK_RSHIFT: return 0x36;
    case VK_MULTIPLY: return 0x37;
    case VK_MENU: case VK_LMENU: return 0x38;
    case VK_RMENU: *extended = true; return 0x38;
    case VK_SPACE: return 0x39;
    case VK_CAPITAL: return 0x3A;
    case VK_NUMLOCK: return 0x45;
    case VK_SCROLL: return 0x46;
    case VK_NUMPAD7: return 0x47;
    case VK_NUMPAD8: return 0x48;
    case VK_NUMPAD9: return 0x49;
    case VK_SUBTRACT: return 0x4A;
    case VK_NUMPAD4: return 0x4B;
    case VK_NUMPAD5: return 0x4C;
    case VK_NUMPAD6: return 0x4D;
    case VK_ADD: return 0x4E;
    case VK_NUMPAD1: return 0x4F;
    case VK_NUMPAD2: return 0x50;
    case VK_NUMPAD3: return 0x51;
    case VK_NUMPAD0: return 0x52;
    case VK_DECIMAL: return 0x53;
    case VK_OEM_102: return 0x56;
    case VK_F11: return 0x57;
    case VK_F12: return 0x58;
    case VK_PAUSE: return 0x45;
    case VK_DIVIDE: *extended = true; return 0x35;
    case VK_SNAPSHOT: *extended = true; return 0x37;
    case VK_HOME: *extended = true; return 0x47;
    case VK_UP: *extended = true; return 0x48;
    case VK_PRIOR: *extended = true; return 0x49;
    case VK_LEFT: *extended = true; return 0x4B;
    case VK_RIGHT: *extended = true; return 0x4D;
    case VK_END: *extended = true; return 0x4F;
    case VK_DOWN: *extended = true; return 0x50;
    case VK_NEXT: *extended = true; return 0x51;
    case VK_INSERT: *extended = true; return 0x52;
    case VK_DELETE: *extended = true; return 0x53;
    case VK_LWIN: *extended = true; return 0x5B;
    case VK_RWIN: *extended = true; return 0x5C;
    case VK_APPS: *extended = true; return 0x5D;
    default: return 0;
    }
}

bool InputKey(HWND window, UINT vk, bool down, int scanCode, bool extended) {
    vk &= 0xFF;
    if (!vk) return false;
    HWND target;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        target = window ? window : (FocusWindow() ? FocusWindow() : ActiveWindow());
        if (!Find(target)) return false;
    }
    // Messages carry the generic code of a left or right modifier; the state keeps both.
    UINT messageVk = vk;
    UINT sideVk = 0;
    switch (vk) {
    case VK_LSHIFT: case VK_RSHIFT: messageVk = VK_SHIFT; sideVk = vk; break;
    case VK_LCONTROL: case VK_RCONTROL: messageVk = VK_CONTROL; sideVk = vk; break;
    case VK_LMENU: case VK_RMENU: messageVk = VK_MENU; sideVk = vk; break;
    case VK_SHIFT: sideVk = VK_LSHIFT; break;
    case VK_CONTROL: sideVk = VK_LCONTROL; break;
    case VK_MENU: sideVk = VK_LMENU; break;
    default: break;
    }
    bool previous, alt, ctrl;
    {
        std::lock_guard<std::mutex> g(g_keyMutex);
        previous = g_keys.down[messageVk];
        if (down && !previous) g_keys.toggled[messageVk] = !g_keys.toggled[messageVk];
        g_keys.down[messageVk] = down;
        if (sideVk) g_keys.down[sideVk] = down;
        alt = g_keys.down[VK_MENU];
        ctrl = g_keys.down[VK_CONTROL];
    }
    bool sys = (messageVk == VK_MENU || alt) ? !ctrl : messageVk == VK_F10;
    UINT message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    if (scanCode < 0) {
        bool ext = false;
        scanCode = (int)ScanCodeOf(sideVk && sideVk != VK_LSHIFT && sideVk != VK_LCONTROL && sideVk != VK_LMENU ? sideVk
                                                                                                            : vk,
                                   &ext);
        extended = extended || ext;
    }
    DWORD bits = 1u | ((DWORD)(scanCode & 0xFF) << 16) | (extended ? 1u << 24 : 0u);
    if (sys && (alt || messageVk == VK_MENU)) bits |= 1u << 29;
    if (!down || previous) bits |= 1u << 30;
    if (!down) bits |= 1u << 31;
    return Post(target, message, messageVk, (LPARAM)bits);
}

void InputMouse(HWND window, UINT message, int clientX, int clientY, WPARAM keys) {
    bool sameThread;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        Window* w = Find(window);
        if (!w) return;
        sameThread = w->thread == ThreadId();
        RECT c = ClientScreenRect(*w);
        std::lock_guard<std::mutex> cg(g_cursorMutex);
        g_cursor.position = {c.left + clientX, c.top + clientY};
        g_cursor.positionKnown = true;
    }
    if (message == WM_MOUSEWHEEL) {
        POINT p = CursorPosition();
        Post(window, message, keys, MAKELPARAM((short)p.x, (short)p.y));
        return;
    }
    // Windows asks the window under the mouse for its cursor on every mouse message.
    if (sameThread) Call(window, WM_SETCURSOR, (WPARAM)window, MAKELPARAM(HTCLIENT, message));
    Post(window, message, keys, MAKELPARAM((short)clientX, (short)clientY));
}

DWORD TickNow() { return GetTickCount(); }

}  // namespace w32

using namespace w32;

extern "C" LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == HWND_BROADCAST) {
        std::vector<HWND> targets;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            targets = TopLevelOrder();
        }
        for (HWND h : targets)
            if (IsWindow(h)) Call(h, message, wParam, lParam);
        return 0;
    }
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Call(window, message, wParam, lParam);
}

extern "C" BOOL WINAPI PostThreadMessageA(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    ThreadQueue* q = thread == ThreadId() ? &QueueOf(thread) : ExistingQueue(thread);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (q->posted.size() >= kQueueLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    q->posted.push_back(MSG{nullptr, message, wParam, lParam, TickNow(), CursorPosition()});
    Bump(thread);
    return TRUE;
}

extern "C" BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window) return PostThreadMessageA(ThreadId(), message, wParam, lParam);
    if (window == HWND_BROADCAST) {
        std::vector<HWND> targets;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            targets = TopLevelOrder();
        }
        for (HWND h : targets) Post(h, message, wParam, lParam);
        return TRUE;
    }
    return Post(window, message, wParam, lParam) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI PeekMessageA(LPMSG msg, HWND filter, UINT low, UINT high, UINT remove) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    display::Current().pump();
    return PeekOnce(msg, filter, low, high, remove, nullptr) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI GetMessageA(LPMSG msg, HWND filter, UINT low, UINT high) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (filter && filter != (HWND)-1 && !IsWindow(filter)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    for (;;) {
        display::Current().pump();
        uint64_t seen = 0;
        if (PeekOnce(msg, filter, low, high, PM_REMOVE, &seen)) return msg->message != WM_QUIT;
        WaitForMessages(seen);
    }
}

extern "C" BOOL WINAPI WaitMessage(void) {
    for (;;) {
        display::Current().pump();
        uint64_t seen;
        {
            std::lock_guard<std::recursive_mutex> g(Lock());
            ThreadQueue& q = QueueOf(ThreadId());
            if (!q.posted.empty() || q.quit) return TRUE;
            seen = Q().generation[ThreadId()];
        }
        WaitForMessages(seen);
        std::lock_guard<std::recursive_mutex> g(Lock());
        if (Q().generation[ThreadId()] != seen) return TRUE;
    }
}

extern "C" BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg) return FALSE;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN && msg->message != WM_KEYUP &&
        msg->message != WM_SYSKEYUP)
        return FALSE;
    if (msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP) return TRUE;
    bool shift, caps, ctrl, alt;
    {
        std::lock_guard<std::mutex> g(g_keyMutex);
        shift = g_keys.down[VK_SHIFT];
        caps = g_keys.toggled[VK_CAPITAL];
        ctrl = g_keys.down[VK_CONTROL];
        alt = g_keys.down[VK_MENU];
    }
    int ch = CharFor((UINT)msg->wParam, shift, caps, ctrl && !alt);
    if (ch >= 0 && msg->hwnd)
        Post(msg->hwnd, msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR, (WPARAM)ch, msg->lParam);
    return TRUE;
}

extern "C" LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        TIMERPROC proc = (TIMERPROC)msg->lParam;
        proc(msg->hwnd, WM_TIMER, (UINT_PTR)msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;
    if (!IsWindow(msg->hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Call(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

extern "C" void WINAPI PostQuitMessage(int exitCode) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    ThreadQueue& q = QueueOf(ThreadId());
    q.quit = true;
    q.quitCode = exitCode;
    Bump(ThreadId());
}

extern "C" LONG WINAPI GetMessageTime(void) { return (LONG)t_messageTime; }

// ---------------------------------------------------------------------------------------------
// Keyboard state, cursor, stock objects

extern "C" short WINAPI GetKeyState(int vk) {
    if (vk < 0 || vk > 255) return 0;
    std::lock_guard<std::mutex> g(g_keyMutex);
    return (short)((g_keys.down[vk] ? 0x8000 : 0) | (g_keys.toggled[vk] ? 1 : 0));
}

extern "C" short WINAPI GetAsyncKeyState(int vk) {
    if (vk < 0 || vk > 255) return 0;
    std::lock_guard<std::mutex> g(g_keyMutex);
    return (short)(g_keys.down[vk] ? 0x8000 : 0);
}

extern "C" HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    HCURSOR old;
    {
        std::lock_guard<std::mutex> g(g_cursorMutex);
        old = g_cursor.cursor;
        g_cursor.cursor = cursor;
    }
    if (old != cursor) display::Current().cursor(CursorVisible());
    return old;
}

extern "C" HCURSOR WINAPI GetCursor(void) {
    std::lock_guard<std::mutex> g(g_cursorMutex);
    return g_cursor.cursor;
}

extern "C" int WINAPI ShowCursor(BOOL show) {
    int count;
    {
        std::lock_guard<std::mutex> g(g_cursorMutex);
        g_cursor.showCount += show ? 1 : -1;
        count = g_cursor.showCount;
    }
    display::Current().cursor(CursorVisible());
    return count;
}

extern "C" BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (!point) return FALSE;
    *point = CursorPosition();
    return TRUE;
}

extern "C" BOOL WINAPI SetCursorPos(int x, int y) {
    std::lock_guard<std::mutex> g(g_cursorMutex);
    g_cursor.position = {x, y};
    g_cursor.positionKnown = true;
    return TRUE;
}

// The system's own cursors and icons exist without resources; a module has none.
extern "C" HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    uintptr_t id = (uintptr_t)name;
    if (!instance && IS_INTRESOURCE(name) && id >= 32512 && id <= 32651) return (HCURSOR)(0x30000 + id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

extern "C" HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    uintptr_t id = (uintptr_t)name;
    if (!instance && IS_INTRESOURCE(name) && id >= 32512 && id <= 32518) return (HICON)(0x38000 + id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

extern "C" HGDIOBJ WINAPI GetStockObject(int index) {
    if (index < 0 || index > 19 || index == 9) return nullptr;
    return (HGDIOBJ)(uintptr_t)(0x50000 + index);
}

extern "C" BOOL WINAPI MessageBeep(UINT) { return TRUE; }

// ---------------------------------------------------------------------------------------------
// Test controls: injected input

extern "C" BOOL MarlixPostKey(HWND window, UINT virtualKey, BOOL down) {
    return InputKey(window, virtualKey, down != FALSE, -1, false) ? TRUE : FALSE;
}

static HWND OrActive(HWND window) {
    if (window) return window;
    std::lock_guard<std::recursive_mutex> g(Lock());
    return ActiveWindow();
}

extern "C" BOOL MarlixPostMove(HWND window, int x, int y) { return InputMove(OrActive(window), x, y) ? TRUE : FALSE; }

extern "C" BOOL MarlixPostSize(HWND window, int clientWidth, int clientHeight) {
    return InputSize(OrActive(window), clientWidth, clientHeight) ? TRUE : FALSE;
}

extern "C" BOOL MarlixPostClose(HWND window) { return InputClose(OrActive(window)) ? TRUE : FALSE; }
