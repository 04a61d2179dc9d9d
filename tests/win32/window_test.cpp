// Window classes, windows and messages: the Windows behaviour the plug-in and the host rely on.
#include <gtest/gtest.h>

#include <marlix_platform.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <string>
#include <vector>

// The device's hand-over of a frame (platform/display/display.h).
void MarlixDisplayPresent(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes);

namespace {

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Seen> g_seen;
LRESULT g_createResult = 0;
POINT g_minTrack = {0, 0};  // a minimum tracking size the procedure asks for; 0: the default
std::vector<UINT> g_ignore = {WM_GETTEXT, WM_GETTEXTLENGTH, WM_SETCURSOR, WM_NCHITTEST};

std::vector<UINT> Messages(HWND window = nullptr) {
    std::vector<UINT> out;
    for (const Seen& s : g_seen)
        if (!window || s.window == window) out.push_back(s.message);
    return out;
}

const Seen* Last(UINT message) {
    for (auto it = g_seen.rbegin(); it != g_seen.rend(); ++it)
        if (it->message == message) return &*it;
    return nullptr;
}

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (std::find(g_ignore.begin(), g_ignore.end(), message) == g_ignore.end())
        g_seen.push_back({window, message, wParam, lParam});
    if (message == WM_CREATE) return g_createResult;
    if (message == WM_GETMINMAXINFO && g_minTrack.x > 0) {
        ((MINMAXINFO*)lParam)->ptMinTrackSize = g_minTrack;
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(7);
    if (message == WM_USER) return (LRESULT)wParam * 2;
    return DefWindowProcA(window, message, wParam, lParam);
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        MarlixSetHeadless(1);
        MarlixResetWindows();
        g_seen.clear();
        g_createResult = 0;
        g_minTrack = {0, 0};
        instance = (HINSTANCE)(uintptr_t)0x400000;
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = Recorder;
        wc.hInstance = instance;
        wc.lpszClassName = "Marlix";
        ASSERT_TRUE(RegisterClassA(&wc));
    }
    void TearDown() override { MarlixResetWindows(); }
    HWND Make(DWORD ex, DWORD style, int x = 50, int y = 50, int w = 288, int h = 256, HWND owner = nullptr) {
        return CreateWindowExA(ex, "Marlix", "Marlix Winamp Visualizer", style, x, y, w, h, owner, NULL, instance, NULL);
    }
    void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    HINSTANCE instance;
};

TEST_F(Windows, ClassesRegisterOnceAndUnregisterOnlyWithoutWindows) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Recorder;
    wc.hInstance = instance;
    wc.lpszClassName = "MARLIX";  // names do not depend on case
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);

    HWND w = Make(0x300, 0x000C0000);
    ASSERT_TRUE(w);
    EXPECT_FALSE(UnregisterClassA("Marlix", instance));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_HAS_WINDOWS);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(UnregisterClassA("marlix", instance));
    EXPECT_FALSE(UnregisterClassA("Marlix", instance));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);

    // A second run registers, creates, destroys and unregisters again.
    wc.lpszClassName = "Marlix";
    ASSERT_TRUE(RegisterClassA(&wc));
    w = Make(0x300, 0x000C0000);
    ASSERT_TRUE(w);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(UnregisterClassA("Marlix", instance));

    EXPECT_FALSE(Make(0, WS_POPUP));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(Windows, CreationSendsItsMessagesAndMinusOneFromCreateFails) {
    HWND w = Make(0x300, 0x000C0000);
    ASSERT_TRUE(w);
    // A sizing window is asked for its tracking sizes before anything else; a popup is not.
    std::vector<UINT> expected = {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE};
    EXPECT_EQ(Messages(w), expected);
    char title[64];
    EXPECT_EQ(GetWindowTextA(w, title, sizeof(title)), 24);
    EXPECT_STREQ(title, "Marlix Winamp Visualizer");

    g_seen.clear();
    g_createResult = -1;
    EXPECT_FALSE(Make(0, WS_POPUP));
    expected = {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(MarlixWindowCount(), 1);
}

// Sizes no sizing window can have (from a settings file, a program, the user's drag) end at the
// tracking sizes: 112 by 27 at least, the screen plus its frame at most. Popups take any size.
TEST_F(Windows, SizingWindowsStayBetweenTheirTrackingSizes) {
    MarlixSetDesktopSize(1024, 768);
    auto Size = [](HWND w) {
        RECT r;
        GetWindowRect(w, &r);
        return std::make_pair((int)(r.right - r.left), (int)(r.bottom - r.top));
    };
    HWND small = Make(0x300, 0x000C0000, 50, 50, 0, -5);
    ASSERT_TRUE(small);
    EXPECT_EQ(Size(small), std::make_pair(112, 27));
    RECT client;
    GetClientRect(small, &client);
    EXPECT_EQ(client.right, 100);  // 112 less two frames of 6
    EXPECT_EQ(client.bottom, 0);   // caption, frame and edges take 31
    HWND big = Make(0x300, 0x000C0000, 0, 0, 100000, 100000);
    EXPECT_EQ(Size(big), std::make_pair(1032, 776));
    EXPECT_EQ(Size(Make(0, WS_POPUP, 0, 0, 4, 2)), std::make_pair(4, 2));
    EXPECT_EQ(Size(Make(0, WS_POPUP, 0, 0, 5000, 3000)), std::make_pair(5000, 3000));
    // An overlapped window without a sizing border is kept in bounds as well.
    EXPECT_EQ(Size(Make(0, WS_OVERLAPPED | WS_SYSMENU, 0, 0, 10, 10)), std::make_pair(112, 27));

    // Program moves go through DefWindowProc's WM_WINDOWPOSCHANGING.
    ASSERT_TRUE(MoveWindow(big, 0, 0, 20, 3000, FALSE));
    EXPECT_EQ(Size(big), std::make_pair(112, 776));
    // The user's drag stops at the limits too; the size message tells the size it stopped at.
    ASSERT_TRUE(MarlixPostSize(big, 5000, 100));
    EXPECT_EQ(Size(big), std::make_pair(1032, 131));
    Drain();
    EXPECT_EQ(Last(WM_SIZE)->lParam, MAKELPARAM(1020, 100));

    // The window procedure's own limits win over the defaults.
    g_minTrack = {300, 200};
    HWND own = Make(0x300, 0x000C0000, 0, 0, 100, 100);
    EXPECT_EQ(Size(own), std::make_pair(300, 200));
    ASSERT_TRUE(SetWindowPos(own, NULL, 0, 0, 250, 400, SWP_NOZORDER | SWP_NOMOVE));
    EXPECT_EQ(Size(own), std::make_pair(300, 400));
}

TEST_F(Windows, PlugInWindowedStylesGiveAFramedClientArea) {
    HWND w = Make(0x300, 0x000C0000);
    ASSERT_TRUE(w);
    // Windows adds the caption and sibling clipping to an overlapped window.
    EXPECT_EQ((DWORD)GetWindowLongA(w, GWL_STYLE), (DWORD)(WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_THICKFRAME));
    EXPECT_EQ((DWORD)GetWindowLongA(w, GWL_EXSTYLE), 0x300u);
    RECT wr, cr;
    ASSERT_TRUE(GetWindowRect(w, &wr));
    ASSERT_TRUE(GetClientRect(w, &cr));
    EXPECT_EQ(wr.left, 50);
    EXPECT_EQ(wr.top, 50);
    EXPECT_EQ(wr.right, 338);
    EXPECT_EQ(wr.bottom, 306);
    EXPECT_EQ(cr.left, 0);
    EXPECT_EQ(cr.top, 0);
    EXPECT_LT(cr.right, 288);
    EXPECT_LT(cr.bottom, 256 - GetSystemMetrics(SM_CYCAPTION));
    // The frame is what AdjustWindowRectEx adds for the same styles.
    POINT origin = {0, 0};
    ASSERT_TRUE(ClientToScreen(w, &origin));
    RECT back = {origin.x, origin.y, origin.x + cr.right, origin.y + cr.bottom};
    ASSERT_TRUE(AdjustWindowRectEx(&back, (DWORD)GetWindowLongA(w, GWL_STYLE), FALSE, 0x300));
    EXPECT_EQ(back.left, wr.left);
    EXPECT_EQ(back.top, wr.top);
    EXPECT_EQ(back.right, wr.right);
    EXPECT_EQ(back.bottom, wr.bottom);
    // WM_SIZE carried the client size and WM_MOVE the client area's screen position.
    EXPECT_EQ(LOWORD(Last(WM_SIZE)->lParam), cr.right);
    EXPECT_EQ(HIWORD(Last(WM_SIZE)->lParam), cr.bottom);
    EXPECT_EQ((short)LOWORD(Last(WM_MOVE)->lParam), origin.x);
    EXPECT_EQ((short)HIWORD(Last(WM_MOVE)->lParam), origin.y);
}

TEST_F(Windows, PlugInFullScreenPopupHasNoFrame) {
    HWND w = Make(WS_EX_TOPMOST, WS_POPUP, 0, 0, 640, 480);
    ASSERT_TRUE(w);
    RECT wr, cr;
    GetWindowRect(w, &wr);
    GetClientRect(w, &cr);
    EXPECT_EQ(cr.right, 640);
    EXPECT_EQ(cr.bottom, 480);
    EXPECT_EQ(wr.right - wr.left, 640);
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE((DWORD)GetWindowLongA(w, GWL_STYLE) & WS_CAPTION);
    // Topmost windows lead the z-order that FindWindowA searches.
    HWND other = Make(0, WS_POPUP);
    EXPECT_EQ(GetWindow(other, GW_HWNDFIRST), w);
}

TEST_F(Windows, PostedMessagesArriveInOrderAndSentOnesRunAtOnce) {
    HWND w = Make(0, WS_POPUP);
    g_seen.clear();
    for (UINT i = 0; i < 5; i++) ASSERT_TRUE(PostMessageA(w, WM_APP + i, i, 0));
    EXPECT_TRUE(g_seen.empty());  // nothing runs until the messages are taken
    EXPECT_EQ(SendMessageA(w, WM_USER, 21, 0), 42);
    ASSERT_EQ(g_seen.size(), 1u);
    MSG msg;
    for (UINT i = 0; i < 5; i++) {
        ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP + i);
        EXPECT_EQ(msg.hwnd, w);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(Messages().back(), WM_APP + 4);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
}

TEST_F(Windows, PeekFiltersAndKeepsWithNoRemove) {
    HWND a = Make(0, WS_POPUP);
    HWND b = Make(0, WS_POPUP);
    PostMessageA(a, WM_APP + 1, 0, 0);
    PostMessageA(b, WM_APP + 2, 0, 0);
    PostMessageA(a, WM_KEYDOWN, VK_ESCAPE, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 3, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_KEYDOWN);
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_APP + 2);
    ASSERT_TRUE(PeekMessageA(&msg, (HWND)-1, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_APP + 3);
    EXPECT_EQ(msg.hwnd, (HWND)NULL);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_APP + 1);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_KEYDOWN);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
}

TEST_F(Windows, QuitComesAfterThePostedMessages) {
    HWND w = Make(0, WS_POPUP);
    PostQuitMessage(3);
    PostMessageA(w, WM_APP, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, (UINT)WM_APP);
    EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), FALSE);
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));  // taken once
    // A window filter does not see the thread's quit message.
    PostQuitMessage(4);
    EXPECT_FALSE(PeekMessageA(&msg, w, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 4u);
}

TEST_F(Windows, CloseByDefaultDestroysOwnedWindowsFirst) {
    HWND owner = Make(0, WS_POPUP);
    HWND owned = Make(0x300, 0x000C0000, 50, 50, 288, 256, owner);
    ASSERT_TRUE(owned);
    g_seen.clear();
    PostMessageA(owner, WM_CLOSE, 0, 0);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) DispatchMessageA(&msg);
    EXPECT_EQ(msg.wParam, 7u);  // WM_DESTROY posted the quit message
    EXPECT_FALSE(IsWindow(owner));
    EXPECT_FALSE(IsWindow(owned));
    std::vector<Seen> order;
    for (const Seen& s : g_seen)
        if (s.message == WM_DESTROY || s.message == WM_NCDESTROY) order.push_back(s);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0].window, owned);
    EXPECT_EQ(order[0].message, (UINT)WM_DESTROY);
    EXPECT_EQ(order[1].window, owned);
    EXPECT_EQ(order[1].message, (UINT)WM_NCDESTROY);
    EXPECT_EQ(order[2].window, owner);
    EXPECT_EQ(order[3].message, (UINT)WM_NCDESTROY);
    EXPECT_EQ(MarlixWindowCount(), 0);
    EXPECT_FALSE(DestroyWindow(owner));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windows, ShowStatesAndTheirMessages) {
    HWND w = Make(0x300, 0x000C0000);
    RECT normal;
    GetClientRect(w, &normal);
    g_seen.clear();
    EXPECT_FALSE(ShowWindow(w, SW_SHOWNORMAL));  // it was hidden
    EXPECT_TRUE(IsWindowVisible(w));
    ASSERT_TRUE(Last(WM_SHOWWINDOW));
    EXPECT_EQ(Last(WM_SHOWWINDOW)->wParam, (WPARAM)TRUE);
    EXPECT_EQ(GetFocus(), w);  // shown, activated and given the focus
    EXPECT_TRUE(Last(WM_SETFOCUS));
    EXPECT_TRUE(ShowWindow(w, SW_SHOWNORMAL));

    g_seen.clear();
    ShowWindow(w, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(w));
    ASSERT_TRUE(Last(WM_SIZE));
    EXPECT_EQ(Last(WM_SIZE)->wParam, (WPARAM)SIZE_MINIMIZED);
    EXPECT_EQ(Last(WM_SIZE)->lParam, 0);
    EXPECT_FALSE(Last(WM_MOVE));  // a minimised window keeps its place
    RECT r;
    GetClientRect(w, &r);
    EXPECT_EQ(r.right, 0);

    g_seen.clear();
    ShowWindow(w, SW_RESTORE);
    EXPECT_FALSE(IsIconic(w));
    EXPECT_EQ(Last(WM_SIZE)->wParam, (WPARAM)SIZE_RESTORED);
    EXPECT_EQ(Last(WM_SIZE)->lParam, MAKELPARAM(normal.right, normal.bottom));

    ShowWindow(w, SW_MAXIMIZE);
    EXPECT_TRUE(IsZoomed(w));
    GetClientRect(w, &r);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(Last(WM_SIZE)->wParam, (WPARAM)SIZE_MAXIMIZED);
    ShowWindow(w, SW_SHOWNORMAL);
    GetClientRect(w, &r);
    EXPECT_EQ(r.right, normal.right);

    g_seen.clear();
    EXPECT_TRUE(ShowWindow(w, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(Last(WM_SHOWWINDOW)->wParam, (WPARAM)FALSE);
    EXPECT_EQ(GetFocus(), (HWND)NULL);
}

TEST_F(Windows, MovingAndSizingSendPackedPositions) {
    HWND w = Make(0, WS_POPUP, 10, 20, 100, 80);
    g_seen.clear();
    ASSERT_TRUE(MoveWindow(w, -30, 40, 100, 80, TRUE));
    ASSERT_TRUE(Last(WM_MOVE));
    EXPECT_EQ((short)LOWORD(Last(WM_MOVE)->lParam), -30);  // negative positions stay signed
    EXPECT_EQ((short)HIWORD(Last(WM_MOVE)->lParam), 40);
    EXPECT_FALSE(Last(WM_SIZE));
    g_seen.clear();
    ASSERT_TRUE(SetWindowPos(w, NULL, 0, 0, 320, 200, SWP_NOMOVE | SWP_NOZORDER));
    EXPECT_FALSE(Last(WM_MOVE));
    ASSERT_TRUE(Last(WM_SIZE));
    EXPECT_EQ(Last(WM_SIZE)->lParam, MAKELPARAM(320, 200));
    RECT r;
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, -30);
    EXPECT_EQ(r.right, 290);
    ASSERT_TRUE(SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

LRESULT CALLBACK NoDefaultPosChanged(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_WINDOWPOSCHANGED) return 0;  // handled: no WM_SIZE/WM_MOVE follow, as on Windows
    return Recorder(w, m, wp, lp);
}

TEST_F(Windows, SizeMessagesComeFromTheDefaultPositionHandler) {
    HWND w = Make(0, WS_POPUP);
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)NoDefaultPosChanged);
    g_seen.clear();
    MoveWindow(w, 1, 2, 30, 40, TRUE);
    EXPECT_FALSE(Last(WM_SIZE));
    EXPECT_FALSE(Last(WM_MOVE));
}

TEST_F(Windows, WindowLongsHoldPointersAndCheckTheirIndex) {
    HWND w = Make(0, WS_POPUP);
    static int record;
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, (LONG_PTR)&record), 0);
    EXPECT_EQ((int*)GetWindowLongPtrA(w, GWLP_USERDATA), &record);
    EXPECT_EQ(SetWindowLongPtrA(w, GWL_USERDATA, 5), (LONG_PTR)&record);
    EXPECT_EQ(GetWindowLongA(w, GWL_USERDATA), 5);
    EXPECT_EQ((WNDPROC)GetWindowLongPtrA(w, GWLP_WNDPROC), Recorder);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(w, 0), 0);  // the class has no extra bytes
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_INDEX);
    EXPECT_EQ(GetWindowLongA((HWND)(uintptr_t)0x1234, GWL_STYLE), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windows, FindWindowAndWindowText) {
    HWND w = Make(0, WS_POPUP);
    EXPECT_EQ(FindWindowA("marlix", NULL), w);
    EXPECT_EQ(FindWindowA(NULL, "MARLIX WINAMP VISUALIZER"), w);
    EXPECT_EQ(FindWindowA("Winamp v1.x", NULL), (HWND)NULL);
    g_seen.clear();
    ASSERT_TRUE(SetWindowTextA(w, "1. Artist - Title - Winamp"));
    ASSERT_TRUE(Last(WM_SETTEXT));  // the text goes through the window procedure
    EXPECT_EQ(GetWindowTextLengthA(w), 26);
    char small[6];
    EXPECT_EQ(GetWindowTextA(w, small, sizeof(small)), 5);
    EXPECT_STREQ(small, "1. Ar");
    EXPECT_EQ(FindWindowA("Marlix", "1. artist - title - winamp"), w);
}

TEST_F(Windows, FocusMessagesGoToOldAndNewWindow) {
    HWND a = Make(0, WS_POPUP | WS_VISIBLE);
    HWND b = Make(0, WS_POPUP | WS_VISIBLE);
    EXPECT_EQ(GetFocus(), b);
    g_seen.clear();
    EXPECT_EQ(SetFocus(a), b);
    EXPECT_EQ(GetFocus(), a);
    const Seen* kill = Last(WM_KILLFOCUS);
    const Seen* set = Last(WM_SETFOCUS);
    ASSERT_TRUE(kill && set);
    EXPECT_EQ(kill->window, b);
    EXPECT_EQ((HWND)kill->wParam, a);
    EXPECT_EQ(set->window, a);
    EXPECT_EQ((HWND)set->wParam, b);
    EXPECT_LT(kill, set);
    EXPECT_EQ(GetForegroundWindow(), a);
    EXPECT_TRUE(BringWindowToTop(b));
    EXPECT_EQ(GetForegroundWindow(), b);
}

TEST_F(Windows, PaintIsGeneratedUntilValidated) {
    HWND w = Make(0, WS_POPUP | WS_VISIBLE);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_PAINT);
    EXPECT_EQ(msg.hwnd, w);
    // Not taken from the queue: it stays until the window is painted.
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_PAINT);
    g_seen.clear();
    DispatchMessageA(&msg);  // the default procedure paints
    EXPECT_TRUE(Last(WM_ERASEBKGND));
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    InvalidateRect(w, NULL, FALSE);
    PostMessageA(w, WM_APP, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_APP);  // posted messages come before painting
    ValidateRect(w, NULL);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
}

TEST_F(Windows, InjectedKeysCarryWindowsKeyData) {
    HWND w = Make(0, WS_POPUP | WS_VISIBLE);
    Drain();
    ASSERT_TRUE(MarlixPostKey(NULL, VK_ESCAPE, TRUE));
    ASSERT_TRUE(MarlixPostKey(NULL, VK_ESCAPE, TRUE));  // held: a repeat
    ASSERT_TRUE(MarlixPostKey(NULL, VK_ESCAPE, FALSE));
    ASSERT_TRUE(MarlixPostKey(w, VK_UP, TRUE));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.message, (UINT)WM_KEYDOWN);
    EXPECT_EQ(msg.wParam, (WPARAM)VK_ESCAPE);
    EXPECT_EQ((DWORD)msg.lParam, 0x00010001u);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ((DWORD)msg.lParam, 0x40010001u);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_KEYUP);
    EXPECT_EQ((DWORD)msg.lParam, 0xC0010001u);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, (WPARAM)VK_UP);
    EXPECT_EQ((DWORD)msg.lParam, 0x01480001u);  // extended key
    MarlixPostKey(w, VK_UP, FALSE);
    Drain();

    // Alt makes system keys; the character comes from TranslateMessage.
    MarlixPostKey(w, 'Z', TRUE);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    TranslateMessage(&msg);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_CHAR);
    EXPECT_EQ(msg.wParam, (WPARAM)'z');
    MarlixPostKey(w, 'Z', FALSE);
    MarlixPostKey(w, VK_MENU, TRUE);
    MarlixPostKey(w, VK_F4, TRUE);
    g_seen.clear();
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(w));  // Alt+F4 closed it through the default procedure
}

TEST_F(Windows, InjectedMoveSizeAndCloseArriveAsMessages) {
    HWND w = Make(0x300, 0x000C0000);
    RECT before, client;
    GetWindowRect(w, &before);
    g_seen.clear();
    ASSERT_TRUE(MarlixPostMove(w, 200, 150));
    RECT r;
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.right - r.left, before.right - before.left);
    EXPECT_TRUE(g_seen.empty());  // posted, not sent
    ASSERT_TRUE(MarlixPostSize(w, 400, 300));
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    Drain();
    POINT origin = {0, 0};
    ClientToScreen(w, &origin);
    ASSERT_TRUE(Last(WM_MOVE));
    EXPECT_EQ(Last(WM_MOVE)->lParam, MAKELPARAM(origin.x, origin.y));
    EXPECT_EQ(Last(WM_SIZE)->lParam, MAKELPARAM(400, 300));
    ASSERT_TRUE(MarlixPostClose(w));
    Drain();
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(Windows, PresentedFramesAreKept) {
    HWND w = Make(0, WS_POPUP, 0, 0, 4, 2);
    MarlixFrame f;
    EXPECT_FALSE(MarlixGetFrame(w, &f));
    uint32_t pixels[2][6] = {{1, 2, 3, 4, 0xDEAD, 0xDEAD}, {5, 6, 7, 8, 0xDEAD, 0xDEAD}};  // pitch of 6 pixels
    int hooked = 0;
    MarlixSetPresentHook([](HWND, const uint32_t* p, int width, int, void* user) {
        *(int*)user += (int)p[width];  // first pixel of the second row
    }, &hooked);
    MarlixDisplayPresent(w, &pixels[0][0], 4, 2, 6 * 4);
    MarlixDisplayPresent(w, &pixels[0][0], 4, 2, 6 * 4);
    MarlixSetPresentHook(NULL, NULL);
    EXPECT_EQ(hooked, 10);
    ASSERT_TRUE(MarlixGetFrame(w, &f));
    EXPECT_EQ(f.width, 4);
    EXPECT_EQ(f.height, 2);
    EXPECT_EQ(f.counter, 2u);
    EXPECT_EQ(f.pixels[4], 5u);  // rows packed at width * 4 bytes
    EXPECT_EQ(f.pixels[7], 8u);
    DestroyWindow(w);
    EXPECT_FALSE(MarlixGetFrame(w, &f));
    ASSERT_TRUE(MarlixGetFrame(NULL, &f));  // the last frame outlives its window
    EXPECT_EQ(f.pixels[3], 4u);
    MarlixDisplayPresent(w, &pixels[0][0], 4, 2, 16);  // no longer a window: ignored
    ASSERT_TRUE(MarlixGetFrame(NULL, &f));
    EXPECT_EQ(f.counter, 2u);
}

TEST_F(Windows, GetMessageWaitsForAnotherThreadsPost) {
    HWND w = Make(0, WS_POPUP);
    std::thread poster([w] {
        for (int i = 0; i < 100; i++) PostMessageA(w, WM_APP, (WPARAM)i, 0);
    });
    MSG msg;
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
        EXPECT_EQ(msg.wParam, (WPARAM)i);
    }
    poster.join();
    // The other thread has no queue of its own unless it makes one.
    DWORD other = 0;
    std::thread([&other] { other = GetCurrentThreadId(); }).join();
    EXPECT_FALSE(PostThreadMessageA(other, WM_APP, 0, 0));
}

TEST_F(Windows, ChildWindowsSitInTheirParentsClientArea) {
    HWND parent = Make(0x300, 0x000C0000, 100, 100, 300, 200);
    HWND child = CreateWindowExA(0, "Marlix", "c", WS_CHILD | WS_VISIBLE, 10, 20, 50, 40, parent, (HMENU)5, instance, NULL);
    ASSERT_TRUE(child);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetWindowLongA(child, GWL_ID), 5);
    POINT origin = {0, 0};
    ClientToScreen(parent, &origin);
    RECT r;
    GetWindowRect(child, &r);
    EXPECT_EQ(r.left, origin.x + 10);
    EXPECT_EQ(r.top, origin.y + 20);
    EXPECT_FALSE(IsWindowVisible(child));  // its parent is hidden
    EXPECT_FALSE(CreateWindowExA(0, "Marlix", "c", WS_CHILD, 0, 0, 1, 1, NULL, NULL, instance, NULL));
    g_seen.clear();
    DestroyWindow(parent);
    std::vector<std::pair<HWND, UINT>> order;
    for (const Seen& s : g_seen)
        if (s.message == WM_DESTROY || s.message == WM_NCDESTROY) order.push_back({s.window, s.message});
    std::vector<std::pair<HWND, UINT>> expected = {
        {parent, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(Windows, StyleChangesGoThroughTheProcedure) {
    HWND w = Make(0, WS_POPUP);
    g_seen.clear();
    LONG old = SetWindowLongA(w, GWL_STYLE, (LONG)(WS_POPUP | WS_VISIBLE));
    EXPECT_EQ((DWORD)old, (DWORD)(WS_POPUP | WS_CLIPSIBLINGS));
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_STYLECHANGING, WM_STYLECHANGED}));
    EXPECT_TRUE(IsWindowVisible(w));
    // The topmost flag changes only through SetWindowPos.
    SetWindowLongA(w, GWL_EXSTYLE, WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

}  // namespace
