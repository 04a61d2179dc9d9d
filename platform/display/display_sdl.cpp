// The SDL2 back end: a real window for every shown top-level window, frames blitted through a
// streaming texture, and SDL's keyboard, mouse, move, size, state and close events turned into
// the window messages Windows would deliver. SDL starts when this back end is chosen, i.e. only
// when a display is present.
#include "display.h"

#include <SDL.h>

#include <stdio.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace sdl {
namespace {

struct Entry {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int textureWidth = 0, textureHeight = 0;
    int x = 0, y = 0, width = 0, height = 0;  // client geometry last set or reported
    w32::ShowState state = w32::ShowState::Normal;
    bool shown = false;
};

std::mutex g_mutex;  // never held while calling into the window layer
std::unordered_map<HWND, Entry> g_windows;
std::unordered_map<Uint32, HWND> g_byId;
bool g_started = false;
int g_desktopWidth = 0, g_desktopHeight = 0;

bool Start() {
    if (g_started) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "marlix: no display available (%s); running headless\n", SDL_GetError());
        return false;
    }
    g_started = true;
    SDL_ShowCursor(w32::CursorVisible() ? SDL_ENABLE : SDL_DISABLE);  // hidden before SDL started
    return true;
}

Entry* Lookup(HWND window) {
    auto it = g_windows.find(window);
    return it == g_windows.end() ? nullptr : &it->second;
}

HWND WindowOfEvent(Uint32 id) {
    auto it = g_byId.find(id);
    return it == g_byId.end() ? nullptr : it->second;
}

void Release(Entry& e) {
    if (e.texture) SDL_DestroyTexture(e.texture);
    if (e.renderer) SDL_DestroyRenderer(e.renderer);
    if (e.window) {
        g_byId.erase(SDL_GetWindowID(e.window));
        SDL_DestroyWindow(e.window);
    }
    e = Entry();
}

// Windows virtual-key code of an SDL key; 0 when Windows has none.
UINT VirtualKey(const SDL_Keysym& key) {
    SDL_Keycode k = key.sym;
    if (k >= SDLK_a && k <= SDLK_z) return (UINT)('A' + (k - SDLK_a));
    if (k >= SDLK_0 && k <= SDLK_9) return (UINT)('0' + (k - SDLK_0));
    if (k >= SDLK_F1 && k <= SDLK_F12) return (UINT)(VK_F1 + (k - SDLK_F1));
    switch (k) {
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_EQUALS: return VK_OEM_PLUS;
    case SDLK_LEFTBRACKET: return VK_OEM_4;
    case SDLK_RIGHTBRACKET: return VK_OEM_6;
    case SDLK_BACKSLASH: return VK_OEM_5;
    case SDLK_SEMICOLON: return VK_OEM_1;
    case SDLK_QUOTE: return VK_OEM_7;
    case SDLK_BACKQUOTE: return VK_OEM_3;
    case SDLK_COMMA: return VK_OEM_COMMA;
    case SDLK_PERIOD: return VK_OEM_PERIOD;
    case SDLK_SLASH: return VK_OEM_2;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_PRINTSCREEN: return VK_SNAPSHOT;
    case SDLK_SCROLLLOCK: return VK_SCROLL;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_HOME: return VK_HOME;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_END: return VK_END;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_UP: return VK_UP;
    case SDLK_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDLK_KP_DIVIDE: return VK_DIVIDE;
    case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_KP_1: return VK_NUMPAD1;
    case SDLK_KP_2: return VK_NUMPAD2;
    case SDLK_KP_3: return VK_NUMPAD3;
    case SDLK_KP_4: return VK_NUMPAD4;
    case SDLK_KP_5: return VK_NUMPAD5;
    case SDLK_KP_6: return VK_NUMPAD6;
    case SDLK_KP_7: return VK_NUMPAD7;
    case SDLK_KP_8: return VK_NUMPAD8;
    case SDLK_KP_9: return VK_NUMPAD9;
    case SDLK_KP_0: return VK_NUMPAD0;
    case SDLK_KP_PERIOD: return VK_DECIMAL;
    case SDLK_LCTRL: return VK_LCONTROL;
    case SDLK_RCTRL: return VK_RCONTROL;
    case SDLK_LSHIFT: return VK_LSHIFT;
    case SDLK_RSHIFT: return VK_RSHIFT;
    case SDLK_LALT: return VK_LMENU;
    case SDLK_RALT: return VK_RMENU;
    case SDLK_LGUI: return VK_LWIN;
    case SDLK_RGUI: return VK_RWIN;
    case SDLK_APPLICATION: return VK_APPS;
    default: break;
    }
    // Letters and digits of layouts whose key symbols lie outside ASCII: by key position.
    SDL_Scancode s = key.scancode;
    if (s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z) return (UINT)('A' + (s - SDL_SCANCODE_A));
    if (s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_9) return (UINT)('1' + (s - SDL_SCANCODE_1));
    if (s == SDL_SCANCODE_0) return '0';
    return 0;
}

WPARAM MouseKeys(Uint32 buttons) {
    WPARAM keys = 0;
    if (buttons & SDL_BUTTON_LMASK) keys |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK) keys |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK) keys |= MK_MBUTTON;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) keys |= MK_SHIFT;
    if (mod & KMOD_CTRL) keys |= MK_CONTROL;
    return keys;
}

void Blit(Entry& e) {
    if (!e.renderer || !e.texture) return;
    SDL_RenderClear(e.renderer);
    SDL_RenderCopy(e.renderer, e.texture, nullptr, nullptr);
    SDL_RenderPresent(e.renderer);
}

void Show(HWND window, const display::WindowInfo& info) {
    std::lock_guard<std::mutex> g(g_mutex);
    int w = info.clientWidth > 0 ? info.clientWidth : 1;
    int h = info.clientHeight > 0 ? info.clientHeight : 1;
    Entry* e = Lookup(window);
    if (!e) {
        Uint32 flags = SDL_WINDOW_SHOWN;
        if (info.resizable) flags |= SDL_WINDOW_RESIZABLE;
        if (!info.bordered) flags |= SDL_WINDOW_BORDERLESS;
        if (info.topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
        SDL_Window* sw = SDL_CreateWindow(info.title ? info.title : "", info.clientX, info.clientY, w, h, flags);
        if (!sw) {
            fprintf(stderr, "marlix: cannot open a window: %s\n", SDL_GetError());
            return;
        }
        Entry& n = g_windows[window];
        n.window = sw;
        g_byId[SDL_GetWindowID(sw)] = window;
        e = &n;
    } else {
        SDL_SetWindowBordered(e->window, info.bordered ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(e->window, info.resizable ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowAlwaysOnTop(e->window, info.topmost ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowTitle(e->window, info.title ? info.title : "");
        if (e->x != info.clientX || e->y != info.clientY) SDL_SetWindowPosition(e->window, info.clientX, info.clientY);
        if (e->width != w || e->height != h) SDL_SetWindowSize(e->window, w, h);
        SDL_ShowWindow(e->window);
    }
    e->x = info.clientX;
    e->y = info.clientY;
    e->width = info.clientWidth;
    e->height = info.clientHeight;
    e->shown = true;
}

void Hide(HWND window) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (Entry* e = Lookup(window)) {
        SDL_HideWindow(e->window);
        e->shown = false;
    }
}

void Destroy(HWND window) {
    std::lock_guard<std::mutex> g(g_mutex);
    Entry* e = Lookup(window);
    if (!e) return;
    Release(*e);
    g_windows.erase(window);
}

void DestroyAll() {
    std::lock_guard<std::mutex> g(g_mutex);
    for (auto& kv : g_windows) Release(kv.second);
    g_windows.clear();
    g_byId.clear();
}

void Geometry(HWND window, int clientX, int clientY, int clientWidth, int clientHeight) {
    std::lock_guard<std::mutex> g(g_mutex);
    Entry* e = Lookup(window);
    if (!e) return;
    if (e->x != clientX || e->y != clientY) SDL_SetWindowPosition(e->window, clientX, clientY);
    if ((e->width != clientWidth || e->height != clientHeight) && clientWidth > 0 && clientHeight > 0)
        SDL_SetWindowSize(e->window, clientWidth, clientHeight);
    e->x = clientX;
    e->y = clientY;
    e->width = clientWidth;
    e->height = clientHeight;
}

void Title(HWND window, const char* title) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (Entry* e = Lookup(window)) SDL_SetWindowTitle(e->window, title ? title : "");
}

void Raise(HWND window) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (Entry* e = Lookup(window))
        if (e->shown) SDL_RaiseWindow(e->window);
}

void Topmost(HWND window, bool topmost) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (Entry* e = Lookup(window)) SDL_SetWindowAlwaysOnTop(e->window, topmost ? SDL_TRUE : SDL_FALSE);
}

void ShowState(HWND window, w32::ShowState state) {
    std::lock_guard<std::mutex> g(g_mutex);
    Entry* e = Lookup(window);
    if (!e || e->state == state) return;
    e->state = state;
    if (state == w32::ShowState::Minimized)
        SDL_MinimizeWindow(e->window);
    else if (state == w32::ShowState::Maximized)
        SDL_MaximizeWindow(e->window);
    else
        SDL_RestoreWindow(e->window);
}

bool Has(HWND window) {
    std::lock_guard<std::mutex> g(g_mutex);
    Entry* e = Lookup(window);
    return e && e->shown;
}

void Present(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes) {
    std::lock_guard<std::mutex> g(g_mutex);
    Entry* e = Lookup(window);
    if (!e || !e->shown) return;
    if (!e->renderer) {
        e->renderer = SDL_CreateRenderer(e->window, -1, 0);
        if (!e->renderer) e->renderer = SDL_CreateRenderer(e->window, -1, SDL_RENDERER_SOFTWARE);
        if (!e->renderer) return;
    }
    if (!e->texture || e->textureWidth != width || e->textureHeight != height) {
        if (e->texture) SDL_DestroyTexture(e->texture);
        // X8R8G8B8 is SDL's RGB888: 32-bit words, the top byte unused.
        e->texture = SDL_CreateTexture(e->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        e->textureWidth = width;
        e->textureHeight = height;
        if (!e->texture) return;
    }
    SDL_UpdateTexture(e->texture, nullptr, pixels, pitchBytes);
    Blit(*e);
}

void Pump() {
    std::vector<SDL_Event> events;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        SDL_Event ev;
        while (SDL_PollEvent(&ev)) events.push_back(ev);
    }
    for (const SDL_Event& ev : events) {
        switch (ev.type) {
        case SDL_WINDOWEVENT: {
            HWND window;
            bool report = true;
            {
                std::lock_guard<std::mutex> g(g_mutex);
                window = WindowOfEvent(ev.window.windowID);
                Entry* e = window ? Lookup(window) : nullptr;
                if (!e) break;
                switch (ev.window.event) {
                case SDL_WINDOWEVENT_MOVED:
                    // Our own moves come back as events; only the user's count.
                    report = e->x != ev.window.data1 || e->y != ev.window.data2;
                    e->x = ev.window.data1;
                    e->y = ev.window.data2;
                    break;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    report = e->width != ev.window.data1 || e->height != ev.window.data2;
                    e->width = ev.window.data1;
                    e->height = ev.window.data2;
                    break;
                case SDL_WINDOWEVENT_MINIMIZED:
                    report = e->state != w32::ShowState::Minimized;
                    e->state = w32::ShowState::Minimized;
                    break;
                case SDL_WINDOWEVENT_MAXIMIZED:
                    report = e->state != w32::ShowState::Maximized;
                    e->state = w32::ShowState::Maximized;
                    break;
                case SDL_WINDOWEVENT_RESTORED:
                    report = e->state != w32::ShowState::Normal;
                    e->state = w32::ShowState::Normal;
                    break;
                case SDL_WINDOWEVENT_EXPOSED:
                    Blit(*e);
                    report = false;
                    break;
                default:
                    break;
                }
            }
            if (!window || !report) break;
            switch (ev.window.event) {
            case SDL_WINDOWEVENT_MOVED: w32::InputClientMove(window, ev.window.data1, ev.window.data2); break;
            case SDL_WINDOWEVENT_SIZE_CHANGED: w32::InputSize(window, ev.window.data1, ev.window.data2); break;
            case SDL_WINDOWEVENT_CLOSE: w32::InputClose(window); break;
            case SDL_WINDOWEVENT_FOCUS_GAINED: w32::InputActivate(window); break;
            case SDL_WINDOWEVENT_MINIMIZED: w32::InputShowState(window, w32::ShowState::Minimized); break;
            case SDL_WINDOWEVENT_MAXIMIZED: w32::InputShowState(window, w32::ShowState::Maximized); break;
            case SDL_WINDOWEVENT_RESTORED: w32::InputShowState(window, w32::ShowState::Normal); break;
            case SDL_WINDOWEVENT_EXPOSED: InvalidateRect(window, nullptr, FALSE); break;
            default: break;
            }
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            UINT vk = VirtualKey(ev.key.keysym);
            if (!vk) break;
            HWND window;
            {
                std::lock_guard<std::mutex> g(g_mutex);
                window = WindowOfEvent(ev.key.windowID);
            }
            // Keys go to the window with the focus when it lies in the SDL window's window.
            HWND target = window;
            {
                std::lock_guard<std::recursive_mutex> g(w32::Lock());
                HWND focus = w32::FocusWindow();
                if (focus && (!window || w32::IsWithinWindow(focus, window))) target = focus;
            }
            bool extended = ev.key.keysym.sym == SDLK_KP_ENTER;
            w32::InputKey(target, vk, ev.type == SDL_KEYDOWN, -1, extended);
            break;
        }
        case SDL_MOUSEMOTION:
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            HWND window;
            Uint32 id = ev.type == SDL_MOUSEMOTION ? ev.motion.windowID : ev.button.windowID;
            {
                std::lock_guard<std::mutex> g(g_mutex);
                window = WindowOfEvent(id);
            }
            if (!window) break;
            if (ev.type == SDL_MOUSEMOTION) {
                w32::InputMouse(window, WM_MOUSEMOVE, ev.motion.x, ev.motion.y, MouseKeys(ev.motion.state));
                break;
            }
            bool down = ev.type == SDL_MOUSEBUTTONDOWN;
            UINT message;
            switch (ev.button.button) {
            case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
            case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
            case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
            default: message = 0; break;
            }
            if (message) w32::InputMouse(window, message, ev.button.x, ev.button.y, MouseKeys(SDL_GetMouseState(nullptr, nullptr)));
            break;
        }
        case SDL_MOUSEWHEEL: {
            HWND window;
            {
                std::lock_guard<std::mutex> g(g_mutex);
                window = WindowOfEvent(ev.wheel.windowID);
            }
            if (!window) break;
            {
                std::lock_guard<std::recursive_mutex> g(w32::Lock());
                HWND focus = w32::FocusWindow();
                if (focus) window = focus;
            }
            int x, y;
            SDL_GetMouseState(&x, &y);
            int delta = ev.wheel.y * 120;  // WHEEL_DELTA per notch
            w32::InputMouse(window, WM_MOUSEWHEEL, x, y, MAKEWPARAM(MouseKeys(SDL_GetMouseState(nullptr, nullptr)), (short)delta));
            break;
        }
        default:
            break;
        }
    }
}

void Cursor(bool visible) {
    std::lock_guard<std::mutex> g(g_mutex);
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

bool DesktopSize(int* width, int* height) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (g_desktopWidth <= 0) {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0) return false;
        g_desktopWidth = mode.w;
        g_desktopHeight = mode.h;
    }
    *width = g_desktopWidth;
    *height = g_desktopHeight;
    return true;
}

int Box(HWND owner, const char* text, const char* caption, UINT style) {
    static const int buttonSets[][3] = {
        {IDOK, 0, 0},       {IDOK, IDCANCEL, 0}, {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO, 0},   {IDRETRY, IDCANCEL, 0}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
    };
    static const char* const labels[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No",
                                         "Close", "Help", "Try Again", "Continue"};
    UINT type = style & MB_TYPEMASK;
    if (type > 6) type = 0;
    UINT def = (style & MB_DEFMASK) >> 8;
    SDL_MessageBoxButtonData buttons[3];
    int count = 0;
    bool hasCancel = false;
    for (int i = 0; i < 3 && buttonSets[type][i]; i++) hasCancel = hasCancel || buttonSets[type][i] == IDCANCEL;
    for (int i = 0; i < 3 && buttonSets[type][i]; i++) {
        int id = buttonSets[type][i];
        Uint32 flags = 0;
        if ((UINT)i == def || (def >= 3 && i == 0)) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (id == IDCANCEL || (!hasCancel && buttonSets[type][1] == 0)) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        buttons[count++] = {flags, id, labels[id]};
    }
    Uint32 icon = SDL_MESSAGEBOX_INFORMATION;
    switch (style & MB_ICONMASK) {
    case MB_ICONHAND: icon = SDL_MESSAGEBOX_ERROR; break;
    case MB_ICONEXCLAMATION: icon = SDL_MESSAGEBOX_WARNING; break;
    default: break;
    }
    SDL_Window* parent = nullptr;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        if (Entry* e = Lookup(owner)) parent = e->shown ? e->window : nullptr;
    }
    SDL_MessageBoxData data = {icon, parent, caption, text, count, buttons, nullptr};
    int chosen = -1;
    if (SDL_ShowMessageBox(&data, &chosen) != 0) return -1;
    if (chosen < 0) return hasCancel ? IDCANCEL : buttonSets[type][0];
    return chosen;
}

}  // namespace
}  // namespace sdl

namespace display {

const Backend* SdlBackend() {
    static const Backend backend = {
        false,      sdl::Show,      sdl::Hide, sdl::Destroy, sdl::DestroyAll, sdl::Geometry,
        sdl::Title, sdl::Raise,     sdl::Topmost, sdl::ShowState, sdl::Has, sdl::Present,
        sdl::Pump,  sdl::Cursor,    sdl::DesktopSize, sdl::Box,
    };
    std::lock_guard<std::mutex> g(sdl::g_mutex);
    return sdl::Start() ? &backend : nullptr;
}

}  // namespace display
