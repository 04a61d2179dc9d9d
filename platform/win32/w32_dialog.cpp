// Modal dialogs from compiled templates: DialogBoxParamA builds the dialog window and its controls
// (buttons, check boxes, edits, labels, pictures, combo boxes, the up-down control) from the
// module's template, sends WM_INITDIALOG, and runs the modal loop until EndDialog. The controls
// are real child windows with their own procedures, so the dialog procedure talks to them through
// messages as on Windows. With a display a toolkit view shows the dialog; headless a script set by
// a test acts as the user.
#include "w32_dialog.h"

#include "w32_internal.h"
#include "w32_resource.h"

#include <commctrl.h>
#include <marlix_platform.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace w32 {

namespace {

constexpr WORD kTypeBitmap = 2;
constexpr WORD kTypeDialog = 5;
constexpr char kDialogClass[] = "#32770";

struct Control {
    ControlKind kind = ControlKind::Other;
    std::vector<std::string> items;
    int selection = -1;
    int check = BST_UNCHECKED;
    int lower = 100, upper = 0, position = 0;  // the up-down control's default range runs 100 to 0
    HWND buddy = nullptr;
    const uint8_t* bitmap = nullptr;
    size_t bitmapSize = 0;
};

struct Dialog {
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    int defaultId = IDOK;
    int baseX = 8, baseY = 16;  // pixels per 4 horizontal and 8 vertical dialog units
    std::string fontName;
    int pointSize = 0;
};

struct State {
    std::mutex mutex;
    std::map<HWND, Control> controls;
    std::map<HWND, Dialog> dialogs;
    MarlixDialogScript script = nullptr;
    void* scriptUser = nullptr;
};

State& D() {
    static State* s = new State;
    return *s;
}

int MulDivRound(int value, int numerator, int denominator) {
    long long p = (long long)value * numerator;
    return (int)((p >= 0 ? p + denominator / 2 : p - denominator / 2) / denominator);
}

// The dialog font's character cell on the classic desktop at 96 dots per inch: the height of the
// font with its leading, and its average character width (8 points gives 6 x 13 pixels).
void BaseUnits(WORD pointSize, int* x, int* y) {
    int height = MulDivRound(pointSize, 96, 72) + 2;
    *y = height;
    *x = (height * 6 + 6) / 13;
}

Control* ControlOf(HWND window) {  // caller holds D().mutex
    auto it = D().controls.find(window);
    return it == D().controls.end() ? nullptr : &it->second;
}

Dialog* DialogOf(HWND window) {  // caller holds D().mutex
    auto it = D().dialogs.find(window);
    return it == D().dialogs.end() ? nullptr : &it->second;
}

ControlKind KindOf(HWND window) {
    std::lock_guard<std::mutex> g(D().mutex);
    Control* c = ControlOf(window);
    return c ? c->kind : ControlKind::Other;
}

void Notify(HWND control, WORD code) {
    HWND parent = GetParent(control);
    if (parent) SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code), (LPARAM)control);
}

DWORD StyleOf(HWND window) { return (DWORD)GetWindowLongA(window, GWL_STYLE); }

ControlKind ButtonKind(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON: return ControlKind::PushButton;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: return ControlKind::CheckBox;
    case BS_GROUPBOX: return ControlKind::GroupBox;
    default: return ControlKind::Other;
    }
}

// Window procedure of every control class; the kind is fixed at creation from class and style.
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA* cs = (const CREATESTRUCTA*)lParam;
        char name[64] = "";
        GetClassNameA(window, name, sizeof(name));
        DWORD style = (DWORD)cs->style;
        Control c;
        if (!strcasecmp(name, "Button"))
            c.kind = ButtonKind(style);
        else if (!strcasecmp(name, "Edit"))
            c.kind = ControlKind::Edit;
        else if (!strcasecmp(name, "Static"))
            c.kind = (style & SS_TYPEMASK) == SS_BITMAP ? ControlKind::Picture : ControlKind::Label;
        else if (!strcasecmp(name, "ComboBox"))
            c.kind = ControlKind::ComboBox;
        else if (!strcasecmp(name, UPDOWN_CLASSA))
            c.kind = ControlKind::UpDown;
        std::lock_guard<std::mutex> g(D().mutex);
        D().controls[window] = c;  // handles may come back after a reset of the window table
    } else if (message == WM_NCDESTROY) {
        std::lock_guard<std::mutex> g(D().mutex);
        D().controls.erase(window);
        return DefWindowProcA(window, message, wParam, lParam);
    }

    ControlKind kind = KindOf(window);
    switch (kind) {
    case ControlKind::CheckBox:
        if (message == BM_GETCHECK) {
            std::lock_guard<std::mutex> g(D().mutex);
            return ControlOf(window)->check;
        }
        if (message == BM_SETCHECK) {
            std::lock_guard<std::mutex> g(D().mutex);
            ControlOf(window)->check = wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
            return 0;
        }
        [[fallthrough]];
    case ControlKind::PushButton:
        if (message == BM_CLICK) {
            if ((StyleOf(window) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
                std::lock_guard<std::mutex> g(D().mutex);
                Control* c = ControlOf(window);
                c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            }
            Notify(window, BN_CLICKED);
            return 0;
        }
        break;
    case ControlKind::Edit:
        if (message == WM_SETTEXT) {
            LRESULT done = DefWindowProcA(window, message, wParam, lParam);
            Notify(window, EN_CHANGE);
            return done;
        }
        break;
    case ControlKind::ComboBox: {
        std::unique_lock<std::mutex> g(D().mutex);
        Control* c = ControlOf(window);
        int count = (int)c->items.size();
        switch (message) {
        case CB_ADDSTRING:
        case CB_INSERTSTRING: {
            if (!lParam) return CB_ERR;
            int at = message == CB_ADDSTRING || (int)wParam < 0 ? count : (int)wParam;
            if (at > count) return CB_ERR;
            c->items.insert(c->items.begin() + at, (const char*)lParam);
            if (c->selection >= at) c->selection++;
            return at;
        }
        case CB_DELETESTRING: {
            int at = (int)wParam;
            if (at < 0 || at >= count) return CB_ERR;
            c->items.erase(c->items.begin() + at);
            if (c->selection == at) c->selection = -1;
            else if (c->selection > at) c->selection--;
            return count - 1;
        }
        case CB_RESETCONTENT:
            c->items.clear();
            c->selection = -1;
            g.unlock();
            DefWindowProcA(window, WM_SETTEXT, 0, (LPARAM)"");
            return 0;
        case CB_GETCOUNT: return count;
        case CB_GETCURSEL: return c->selection;
        case CB_SETCURSEL: {
            int at = (int)wParam;
            bool valid = at >= 0 && at < count;
            c->selection = valid ? at : -1;
            std::string text = valid ? c->items[(size_t)at] : std::string();
            g.unlock();
            DefWindowProcA(window, WM_SETTEXT, 0, (LPARAM)text.c_str());
            return valid ? at : CB_ERR;
        }
        case CB_GETLBTEXTLEN: {
            int at = (int)wParam;
            return at >= 0 && at < count ? (LRESULT)c->items[(size_t)at].size() : CB_ERR;
        }
        case CB_GETLBTEXT: {
            int at = (int)wParam;
            if (at < 0 || at >= count || !lParam) return CB_ERR;
            const std::string& item = c->items[(size_t)at];
            memcpy((char*)lParam, item.c_str(), item.size() + 1);
            return (LRESULT)item.size();
        }
        case CB_FINDSTRINGEXACT: {
            if (!lParam) return CB_ERR;
            int start = (int)wParam < -1 || (int)wParam >= count ? -1 : (int)wParam;
            for (int k = 1; k <= count; k++) {
                int i = (start + k) % count;
                if (!strcasecmp(c->items[(size_t)i].c_str(), (const char*)lParam)) return i;
            }
            return CB_ERR;
        }
        default: break;
        }
        break;
    }
    case ControlKind::UpDown: {
        std::lock_guard<std::mutex> g(D().mutex);
        Control* c = ControlOf(window);
        switch (message) {
        case UDM_SETRANGE:
            c->upper = (short)LOWORD(lParam);
            c->lower = (short)HIWORD(lParam);
            return 0;
        case UDM_GETRANGE: return MAKELONG(c->upper, c->lower);
        case UDM_SETPOS: {
            int old = c->position;
            c->position = (short)LOWORD(lParam);
            return old;
        }
        case UDM_GETPOS: return MAKELONG(c->position, 0);
        case UDM_SETBUDDY: {
            HWND old = c->buddy;
            c->buddy = (HWND)wParam;
            return (LRESULT)old;
        }
        case UDM_GETBUDDY: return (LRESULT)c->buddy;
        default: break;
        }
        break;
    }
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// One press of an up-down arrow (+1 up, -1 down): from the buddy's number when it shows one,
// towards the upper end of the range for up, clamped (or wrapped) at its ends.
void Spin(HWND updown, int direction) {
    DWORD style = StyleOf(updown);
    HWND buddy;
    int position, lower, upper;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        Control* c = ControlOf(updown);
        if (!c) return;
        buddy = c->buddy;
        position = c->position;
        lower = c->lower;
        upper = c->upper;
    }
    if ((style & UDS_SETBUDDYINT) && buddy) {
        char text[32];
        GetWindowTextA(buddy, text, sizeof(text));
        char* end;
        long shown = strtol(text, &end, 10);
        if (end != text) position = (int)std::max<long>(-32768, std::min<long>(32767, shown));
    }
    int low = std::min(lower, upper), high = std::max(lower, upper);
    position += upper >= lower ? direction : -direction;
    if (position < low) position = (style & UDS_WRAP) ? high : low;
    if (position > high) position = (style & UDS_WRAP) ? low : high;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        if (Control* c = ControlOf(updown)) c->position = position;
    }
    if ((style & UDS_SETBUDDYINT) && buddy) {
        char text[16];
        snprintf(text, sizeof(text), "%d", position);
        SetWindowTextA(buddy, text);
    }
}

// The up-down control whose buddy this is, or null.
HWND UpDownOf(HWND buddy) {
    std::lock_guard<std::mutex> g(D().mutex);
    for (auto& entry : D().controls)
        if (entry.second.kind == ControlKind::UpDown && entry.second.buddy == buddy) return entry.first;
    return nullptr;
}

void RegisterControlClass(const char* name) {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = ControlProc;
    wc.lpszClassName = name;
    if (GetClassInfoA(nullptr, name, &wc)) return;
    RegisterClassA(&wc);
}

// The predefined classes, present as on Windows from the start (again after a reset of the table).
void RegisterSystemClasses() {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    if (!GetClassInfoA(nullptr, kDialogClass, &wc)) {
        wc.style = CS_GLOBALCLASS;
        wc.lpfnWndProc = DefDlgProcA;
        wc.lpszClassName = kDialogClass;
        RegisterClassA(&wc);
    }
    for (const char* name : {"Button", "Edit", "Static", "ComboBox"}) RegisterControlClass(name);
}

HWND CreateFromTemplate(HINSTANCE instance, const ModuleResources& res, const DialogTemplate& t, HWND owner,
                        DLGPROC proc, std::string* error) {
    int baseX = 8, baseY = 16;  // the system font without DS_SETFONT
    if (t.style & DS_SETFONT) BaseUnits(t.pointSize, &baseX, &baseY);

    DWORD style = t.style & ~(DWORD)(WS_VISIBLE | WS_CHILD);
    DWORD exStyle = t.exStyle | ((t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0) | WS_EX_CONTROLPARENT;
    RECT r = {0, 0, MulDivRound(t.cx, baseX, 4), MulDivRound(t.cy, baseY, 8)};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    // The template's place counts from the owner's client area.
    POINT origin = {0, 0};
    if (owner) ClientToScreen(owner, &origin);
    int x = origin.x + MulDivRound(t.x, baseX, 4), y = origin.y + MulDivRound(t.y, baseY, 8);
    HWND dialog = CreateWindowExA(exStyle, kDialogClass, t.title.c_str(), style, x, y, r.right - r.left,
                                  r.bottom - r.top, owner, nullptr, instance, nullptr);
    if (!dialog) {
        *error = "the dialog window could not be created";
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> g(D().mutex);
        Dialog d;
        d.proc = proc;
        d.baseX = baseX;
        d.baseY = baseY;
        if (t.style & DS_SETFONT) {
            d.fontName = t.fontName;
            d.pointSize = t.pointSize;
        }
        D().dialogs[dialog] = d;
    }
    HWND previous = nullptr;
    for (const DialogItem& item : t.items) {
        const char* text = item.text.isNumber ? (LPCSTR)MAKEINTRESOURCE(item.text.number) : item.text.text.c_str();
        HWND control = CreateWindowExA(item.exStyle, item.className.c_str(), text, item.style | WS_CHILD,
                                       MulDivRound(item.x, baseX, 4), MulDivRound(item.y, baseY, 8),
                                       MulDivRound(item.cx, baseX, 4), MulDivRound(item.cy, baseY, 8), dialog,
                                       (HMENU)(uintptr_t)item.id, instance,
                                       item.creationData.empty() ? nullptr : (LPVOID)item.creationData.data());
        if (!control) {
            *error = "dialog control of class \"" + item.className + "\" could not be created";
            DestroyWindow(dialog);
            return nullptr;
        }
        ControlKind kind = KindOf(control);
        if (kind == ControlKind::Picture && item.text.isNumber) {
            // A picture control takes the size of its bitmap.
            const ResEntry* e = FindResourceEntry(res, kTypeBitmap, MAKEINTRESOURCE(item.text.number));
            int width, height;
            std::string why;
            if (e && ParseBitmapResource(res.bytes.data() + e->offset, e->size, &width, &height, &why)) {
                SetWindowPos(control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
                std::lock_guard<std::mutex> g(D().mutex);
                Control* c = ControlOf(control);
                c->bitmap = res.bytes.data() + e->offset;
                c->bitmapSize = e->size;
            }
        }
        if (kind == ControlKind::UpDown && (item.style & UDS_AUTOBUDDY) && previous)
            SendMessageA(control, UDM_SETBUDDY, (WPARAM)previous, 0);
        if (kind == ControlKind::PushButton && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            std::lock_guard<std::mutex> g(D().mutex);
            DialogOf(dialog)->defaultId = item.id;
        }
        previous = control;
    }
    return dialog;
}

// The controls in template order.
std::vector<HWND> ChildrenOf(HWND dialog) {
    std::vector<HWND> children;
    for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) children.push_back(h);
    return children;
}

bool TakesFocus(HWND control) {
    DWORD style = StyleOf(control);
    return (style & WS_TABSTOP) && !(style & WS_DISABLED);
}

HWND FirstTabStop(HWND dialog) {
    for (HWND h : ChildrenOf(dialog))
        if (TakesFocus(h)) return h;
    return nullptr;
}

void MoveFocus(HWND dialog, bool backwards) {
    std::vector<HWND> stops;
    for (HWND h : ChildrenOf(dialog))
        if (TakesFocus(h)) stops.push_back(h);
    if (stops.empty()) return;
    auto it = std::find(stops.begin(), stops.end(), GetFocus());
    size_t at = it == stops.end() ? 0 : (size_t)(it - stops.begin());
    size_t next = it == stops.end() ? (backwards ? stops.size() - 1 : 0)
                                    : (backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size());
    SetFocus(stops[next]);
}

void Command(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

}  // namespace

bool DialogPump(HWND dialog) {
    MSG msg;
    while (!DialogEnded(dialog) && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);  // for the caller's loop, as Windows' modal loop does
            return false;
        }
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

DialogView ViewOf(HWND dialog) {
    DialogView view;
    char text[1024];
    GetWindowTextA(dialog, text, sizeof(text));
    view.title = text;
    RECT client;
    GetClientRect(dialog, &client);
    view.clientWidth = client.right;
    view.clientHeight = client.bottom;
    int defaultId;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        Dialog* d = DialogOf(dialog);
        defaultId = d ? d->defaultId : IDOK;
        if (d) {
            view.fontName = d->fontName;
            view.pointSize = d->pointSize;
        }
    }
    for (HWND h : ChildrenOf(dialog)) {
        ControlView c;
        c.handle = h;
        c.id = GetDlgCtrlID(h);
        RECT r;
        GetWindowRect(h, &r);
        POINT topLeft = {r.left, r.top};
        ScreenToClient(dialog, &topLeft);
        c.rect = {topLeft.x, topLeft.y, topLeft.x + r.right - r.left, topLeft.y + r.bottom - r.top};
        GetWindowTextA(h, text, sizeof(text));
        c.text = text;
        DWORD style = StyleOf(h);
        {
            std::lock_guard<std::mutex> g(D().mutex);
            Control* k = ControlOf(h);
            if (!k) continue;
            c.kind = k->kind;
            c.checked = k->check == BST_CHECKED;
            c.items = k->items;
            c.selection = k->selection;
            c.bitmap = k->bitmap;
            c.bitmapSize = k->bitmapSize;
        }
        c.defaultButton = c.kind == ControlKind::PushButton && c.id == defaultId;
        c.editable = c.kind == ControlKind::ComboBox && (style & 3) != CBS_DROPDOWNLIST;
        c.digitsOnly = (style & ES_NUMBER) != 0;
        view.controls.push_back(c);
    }
    return view;
}

bool DialogEnded(HWND dialog) {
    std::lock_guard<std::mutex> g(D().mutex);
    Dialog* d = DialogOf(dialog);
    return !d || d->ended;
}

BOOL DialogClick(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    ControlKind kind = KindOf(control);
    if (!control || !IsWindowEnabled(control) || (kind != ControlKind::PushButton && kind != ControlKind::CheckBox))
        return FALSE;
    SetFocus(control);
    SendMessageA(control, BM_CLICK, 0, 0);
    return TRUE;
}

BOOL DialogType(HWND dialog, int id, const char* text) {
    HWND control = GetDlgItem(dialog, id);
    ControlKind kind = KindOf(control);
    if (!control || !text || !IsWindowEnabled(control)) return FALSE;
    DWORD style = StyleOf(control);
    if (kind == ControlKind::Edit) {
        SetFocus(control);
        std::string typed;
        for (const char* p = text; *p; p++)
            if (!(style & ES_NUMBER) || (*p >= '0' && *p <= '9')) typed.push_back(*p);  // digits-only refuses the rest
        SetWindowTextA(control, typed.c_str());
        return TRUE;
    }
    if (kind == ControlKind::ComboBox && (style & 3) != CBS_DROPDOWNLIST) {
        SetFocus(control);
        // The list follows the edit field: the entry with exactly this text, else none.
        int match = (int)SendMessageA(control, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
        {
            std::lock_guard<std::mutex> g(D().mutex);
            ControlOf(control)->selection = match;
        }
        DefWindowProcA(control, WM_SETTEXT, 0, (LPARAM)text);
        Notify(control, CBN_EDITCHANGE);
        return TRUE;
    }
    return FALSE;
}

BOOL DialogPick(HWND dialog, int id, int index) {
    HWND control = GetDlgItem(dialog, id);
    if (!control || KindOf(control) != ControlKind::ComboBox || !IsWindowEnabled(control)) return FALSE;
    if (index < 0 || index >= (int)SendMessageA(control, CB_GETCOUNT, 0, 0)) return FALSE;
    SetFocus(control);
    SendMessageA(control, CB_SETCURSEL, (WPARAM)index, 0);
    Notify(control, CBN_SELCHANGE);
    return TRUE;
}

BOOL DialogSpin(HWND dialog, int id, int direction) {
    HWND control = GetDlgItem(dialog, id);
    if (!control || KindOf(control) != ControlKind::UpDown || !IsWindowEnabled(control)) return FALSE;
    Spin(control, direction > 0 ? 1 : -1);
    return TRUE;
}

BOOL DialogKey(HWND dialog, UINT virtualKey) {
    if (!IsWindow(dialog)) return FALSE;
    MSG msg;
    memset(&msg, 0, sizeof(msg));
    HWND focus = GetFocus();
    msg.hwnd = focus && (focus == dialog || GetParent(focus) == dialog) ? focus : dialog;
    msg.message = WM_KEYDOWN;
    msg.wParam = virtualKey;
    msg.lParam = 1;
    if (!IsDialogMessageA(dialog, &msg)) DispatchMessageA(&msg);
    return TRUE;
}

}  // namespace w32

using namespace w32;

extern "C" void WINAPI InitCommonControls(void) { RegisterControlClass(UPDOWN_CLASSA); }

extern "C" LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        if (Dialog* d = DialogOf(dialog)) proc = d->proc;
    }
    if (message == WM_NCCREATE || message == WM_NCDESTROY) {
        // Handles may come back after a reset of the window table: a new dialog starts clean.
        std::lock_guard<std::mutex> g(D().mutex);
        D().dialogs.erase(dialog);
        if (message == WM_NCCREATE) proc = nullptr;
    }
    if (proc) {
        INT_PTR handled = proc(dialog, message, wParam, lParam);
        if (handled) return message == WM_INITDIALOG ? handled : TRUE;
    }
    switch (message) {
    case WM_CLOSE:
        // The close box means Cancel to a dialog; only its procedure can end it.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
        return 0;
    case DM_GETDEFID: {
        std::lock_guard<std::mutex> g(D().mutex);
        Dialog* d = DialogOf(dialog);
        return d ? MAKELONG(d->defaultId, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
        std::lock_guard<std::mutex> g(D().mutex);
        if (Dialog* d = DialogOf(dialog)) d->defaultId = (int)wParam;
        return TRUE;
    }
    default: return DefWindowProcA(dialog, message, wParam, lParam);
    }
}

extern "C" BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (!msg || !IsWindow(dialog)) return FALSE;
    if (msg->hwnd != dialog && GetParent(msg->hwnd) != dialog) return FALSE;
    if (msg->message != WM_KEYDOWN) {
        TranslateMessage(msg);
        DispatchMessageA(msg);
        return TRUE;
    }
    HWND focus = GetFocus();
    ControlKind focusKind = focus && GetParent(focus) == dialog ? KindOf(focus) : ControlKind::Other;
    switch (msg->wParam) {
    case VK_ESCAPE: Command(dialog, IDCANCEL); return TRUE;
    case VK_RETURN: {
        int id = focusKind == ControlKind::PushButton ? GetDlgCtrlID(focus)
                                                      : LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0));
        Command(dialog, id);
        return TRUE;
    }
    case VK_TAB: MoveFocus(dialog, GetKeyState(VK_SHIFT) < 0); return TRUE;
    case VK_SPACE:
        if (focusKind == ControlKind::PushButton || focusKind == ControlKind::CheckBox) {
            SendMessageA(focus, BM_CLICK, 0, 0);
            return TRUE;
        }
        break;
    case VK_UP:
    case VK_DOWN:
        // The up-down control answers the arrow keys in its buddy.
        if (HWND updown = focus ? UpDownOf(focus) : nullptr) {
            if (StyleOf(updown) & UDS_ARROWKEYS) {
                Spin(updown, msg->wParam == VK_UP ? 1 : -1);
                return TRUE;
            }
        }
        break;
    default: break;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

extern "C" INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    RegisterSystemClasses();
    std::string error;
    const ModuleResources* res = ResourcesOf(instance, &error);
    const ResEntry* entry = res ? FindResourceEntry(*res, kTypeDialog, name) : nullptr;
    DialogTemplate t;
    if (res && !entry) error = res->path + ": no dialog template " + (IS_INTRESOURCE(name) ? std::to_string((uintptr_t)name) : name);
    HWND dialog = nullptr;
    if (entry && ParseDialogTemplate(res->bytes.data() + entry->offset, entry->size, &t, &error))
        dialog = CreateFromTemplate(instance, *res, t, owner, proc, &error);
    if (!dialog) {
        fprintf(stderr, "DialogBoxParamA: %s\n", error.c_str());
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }

    // Modal: the owner takes no input while the dialog is open.
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    HWND first = FirstTabStop(dialog);
    if (SendMessageA(dialog, WM_INITDIALOG, (WPARAM)first, param) && first) SetFocus(first);
    if (!DialogEnded(dialog)) ShowWindow(dialog, SW_SHOWNORMAL);

    MarlixDialogScript script;
    void* user;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        script = D().script;
        user = D().scriptUser;
    }
    if (!DialogEnded(dialog)) {
        if (script) {
            script(dialog, user);
            DialogPump(dialog);
        } else if (MarlixIsHeadless() || !RunDialogView(dialog)) {
            DialogPump(dialog);
        }
    }
    INT_PTR result = -1;
    {
        std::lock_guard<std::mutex> g(D().mutex);
        Dialog* d = DialogOf(dialog);
        if (d && d->ended) result = d->result;
    }
    if (!DialogEnded(dialog)) fprintf(stderr, "DialogBoxParamA: nobody left to answer \"%s\"; closed with -1\n", t.title.c_str());
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    DestroyWindow(dialog);
    return result;
}

extern "C" BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    std::lock_guard<std::mutex> g(D().mutex);
    Dialog* d = DialogOf(dialog);
    if (!d) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    d->ended = true;
    d->result = result;
    return TRUE;
}

extern "C" HWND WINAPI GetDlgItem(HWND dialog, int id) {
    for (HWND h : ChildrenOf(dialog))
        if (GetDlgCtrlID(h) == id) return h;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

extern "C" int WINAPI GetDlgCtrlID(HWND window) {
    if (!IsWindow(window) || !(StyleOf(window) & WS_CHILD)) return 0;
    return (int)(WORD)GetWindowLongPtrA(window, GWLP_ID);
}

extern "C" BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextA(control, text) : FALSE;
}

extern "C" UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    if (!text || size <= 0) return 0;
    text[0] = 0;
    HWND control = GetDlgItem(dialog, id);
    return control ? (UINT)GetWindowTextA(control, text, size) : 0;
}

extern "C" BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

extern "C" UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? (UINT)SendMessageA(control, BM_GETCHECK, 0, 0) : 0;
}

extern "C" LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

extern "C" BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
    std::lock_guard<std::mutex> g(D().mutex);
    Dialog* d = DialogOf(dialog);
    if (!d || !rect) return FALSE;
    rect->left = MulDivRound(rect->left, d->baseX, 4);
    rect->right = MulDivRound(rect->right, d->baseX, 4);
    rect->top = MulDivRound(rect->top, d->baseY, 8);
    rect->bottom = MulDivRound(rect->bottom, d->baseY, 8);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Test controls

extern "C" void MarlixSetDialogScript(MarlixDialogScript script, void* user) {
    std::lock_guard<std::mutex> g(D().mutex);
    D().script = script;
    D().scriptUser = user;
}

extern "C" BOOL MarlixDialogClick(HWND dialog, int id) { return DialogClick(dialog, id); }
extern "C" BOOL MarlixDialogType(HWND dialog, int id, const char* text) { return DialogType(dialog, id, text); }
extern "C" BOOL MarlixDialogPick(HWND dialog, int id, int index) { return DialogPick(dialog, id, index); }
extern "C" BOOL MarlixDialogKey(HWND dialog, UINT virtualKey) { return DialogKey(dialog, virtualKey); }

extern "C" BOOL MarlixDialogEnded(HWND dialog, INT_PTR* result) {
    std::lock_guard<std::mutex> g(D().mutex);
    Dialog* d = DialogOf(dialog);
    if (!d || !d->ended) return FALSE;
    if (result) *result = d->result;
    return TRUE;
}
