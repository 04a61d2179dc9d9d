// MessageBoxA: every box is written to the message-box log; headless it goes to standard error
// and is answered with its default button (or the answer a test chose), with a display it is a
// real box.
#include "w32_internal.h"

#include "../display/display.h"

#include <marlix_platform.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

struct Entry {
    std::string text;
    std::string caption;
    bool captionGiven;
    UINT style;
    HWND owner;
};

struct Log {
    std::mutex mutex;
    std::vector<Entry> entries;
    int answer = 0;
    bool answerChosen = false;
};

Log& L() {
    static Log* log = new Log;
    return *log;
}

constexpr size_t kLogLimit = 1000;  // oldest entries go first beyond this
thread_local std::string t_text;
thread_local std::string t_caption;

// The answer of the button that has the focus when the box opens.
int DefaultAnswer(UINT style) {
    static const int buttons[][3] = {
        {IDOK, 0, 0},                      // MB_OK
        {IDOK, IDCANCEL, 0},               // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},      // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},           // MB_YESNOCANCEL
        {IDYES, IDNO, 0},                  // MB_YESNO
        {IDRETRY, IDCANCEL, 0},            // MB_RETRYCANCEL
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE} // MB_CANCELTRYCONTINUE
    };
    UINT type = style & MB_TYPEMASK;
    if (type > 6) type = 0;
    UINT index = (style & MB_DEFMASK) >> 8;
    if (index > 2 || !buttons[type][index]) index = 0;
    return buttons[type][index];
}

const Entry* At(int index) {
    if (index < 0 || (size_t)index >= L().entries.size()) return nullptr;
    return &L().entries[(size_t)index];
}

}  // namespace

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    Entry e{text ? text : "", caption ? caption : "Error", caption != nullptr, style, owner};
    int chosen = 0;
    bool answerChosen;
    {
        std::lock_guard<std::mutex> g(L().mutex);
        if (L().entries.size() >= kLogLimit) L().entries.erase(L().entries.begin());
        L().entries.push_back(e);
        answerChosen = L().answerChosen;
        chosen = L().answer;
    }
    if (owner && !IsWindow(owner)) {
        // Windows refuses a box whose owner is not a window.
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const display::Backend& shown = display::Current();
    if (shown.headless) {
        fprintf(stderr, "[message box] %s: %s\n", e.caption.c_str(), e.text.c_str());
        fflush(stderr);
    } else if (!answerChosen) {
        HWND top;
        {
            std::lock_guard<std::recursive_mutex> g(w32::Lock());
            top = w32::TopLevelOf(owner);
        }
        int answer = shown.box(top, e.text.c_str(), e.caption.c_str(), style);
        if (answer > 0) return answer;
    }
    return answerChosen ? chosen : DefaultAnswer(style);
}

extern "C" int MarlixMessageBoxCount(void) {
    std::lock_guard<std::mutex> g(L().mutex);
    return (int)L().entries.size();
}

// Texts are copied for the calling thread so that later boxes cannot move them.
extern "C" const char* MarlixMessageBoxText(int index) {
    std::lock_guard<std::mutex> g(L().mutex);
    const Entry* e = At(index);
    if (!e) return nullptr;
    t_text = e->text;
    return t_text.c_str();
}

extern "C" const char* MarlixMessageBoxCaption(int index) {
    std::lock_guard<std::mutex> g(L().mutex);
    const Entry* e = At(index);
    if (!e) return nullptr;
    t_caption = e->caption;
    return t_caption.c_str();
}

extern "C" int MarlixMessageBoxCaptionGiven(int index) {
    std::lock_guard<std::mutex> g(L().mutex);
    const Entry* e = At(index);
    return e && e->captionGiven ? 1 : 0;
}

extern "C" UINT MarlixMessageBoxStyle(int index) {
    std::lock_guard<std::mutex> g(L().mutex);
    const Entry* e = At(index);
    return e ? e->style : 0;
}

extern "C" HWND MarlixMessageBoxOwner(int index) {
    std::lock_guard<std::mutex> g(L().mutex);
    const Entry* e = At(index);
    return e ? e->owner : nullptr;
}

extern "C" void MarlixMessageBoxClear(void) {
    std::lock_guard<std::mutex> g(L().mutex);
    L().entries.clear();
}

extern "C" void MarlixMessageBoxSetAnswer(int answer) {
    std::lock_guard<std::mutex> g(L().mutex);
    L().answer = answer;
    L().answerChosen = answer != 0;
}
