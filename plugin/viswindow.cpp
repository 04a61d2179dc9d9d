// The output window: its class, its creation in either mode, and the keys it takes for itself.
#include "vis.h"

#include "kestra.h"

int VisRegisterWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = VisWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = NULL;
    windowClass.hCursor = NULL;
    windowClass.hbrBackground = NULL;
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = VIS_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

HWND VisCreateOutputWindow(VisModule* module)
{
    DWORD exStyle;
    DWORD style;
    if (visSettings.RunInWindow) {
        exStyle = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
        if (visSettings.alwaysOnTop)
            exStyle |= WS_EX_TOPMOST;
        style = WS_OVERLAPPED | WS_SYSMENU | WS_THICKFRAME;
    } else {
        exStyle = WS_EX_TOPMOST;
        style = WS_POPUP;
    }
    return CreateWindowExA(exStyle, VIS_WINDOW_CLASS, module->description, style,
                           visSettings.Screen_x, visSettings.Screen_y,
                           visSettings.Screen_width, visSettings.Screen_height,
                           module->parentWindow, NULL, module->instance, NULL);
}

// Keys the plug-in keeps: Enter and the arrows work the playlist browser, 1 to 8 pick a scene.
// Everything else, Escape included, also goes to the host so its own shortcuts keep working.
static int IsPluginKey(WPARAM key)
{
    return key == VK_RETURN || key == VK_UP || key == VK_DOWN || (key >= '1' && key <= '8');
}

static void KeyDown(HWND window, VisModule* module, WPARAM key)
{
    VisPlaylist* list = &visPlaylist;
    switch (key) {
    case VK_RETURN:
        if (list->timer > 0 && module)
            VisHostPlayEntry(module, list->cursor);
        break;
    case VK_ESCAPE:
        PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    case VK_UP:
    case VK_DOWN:
        if (list->timer > 0) {
            if (key == VK_UP && list->cursor > 0)
                list->cursor -= 1;
            if (key == VK_DOWN && list->cursor < list->count - 1)
                list->cursor += 1;
        } else if (module) {
            // Opening the browser starts it at the title the host is playing.
            list->playing = VisHostPlaylistPosition(module);
            list->cursor = list->playing;
        }
        list->timer = VIS_PLAYLIST_SHOW_TICKS;
        break;
    default:
        if (key >= '1' && key <= '8')
            visAnim.currentScene = (int)(key - '1');
        break;
    }
}

LRESULT CALLBACK VisWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Null until VisInit has stored it, i.e. for the messages sent while the window is created.
    VisModule* module = (VisModule*)GetWindowLongPtrA(window, GWLP_USERDATA);

    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_MOVE: {
        RECT rect;
        if (GetWindowRect(window, &rect)) {
            visSettings.Screen_x = rect.left;
            visSettings.Screen_y = rect.top;
        }
        break;
    }
    case WM_SIZE:
    case WM_DISPLAYCHANGE:
        // Only during a run: the flag is the last run's while the next window is being created.
        if (running && ksGlobal.runWindowed) {
            RECT client;
            if (GetClientRect(window, &client)) {
                ksGlobal.clientRect[0] = client;
                ksGlobal.clientRect[1] = client;
                VisResize(client.right, client.bottom);
            }
        }
        break;
    case WM_PAINT: {
        // The engine paints the whole client area; validating it stops further WM_PAINTs.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 0;
    case WM_SETCURSOR:
        if (!visSettings.RunInWindow)
            SetCursor(NULL);
        break;
    case WM_KEYDOWN:
        KeyDown(window, module, wParam);
        if (!IsPluginKey(wParam) && module)
            VisForwardKey(module, message, wParam, lParam);
        return 0;
    case WM_KEYUP:
        if (!IsPluginKey(wParam) && module)
            VisForwardKey(module, message, wParam, lParam);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
