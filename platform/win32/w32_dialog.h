// Dialogs of the Win32 stand-in as their toolkit view sees them. Internal to marlix_platform.
#ifndef MARLIX_W32_DIALOG_H
#define MARLIX_W32_DIALOG_H

#include <windows.h>

#include <string>
#include <vector>

namespace w32 {

enum class ControlKind { PushButton, CheckBox, GroupBox, Edit, Label, Picture, ComboBox, UpDown, Other };

// What a view shows of one control, read after every change.
struct ControlView {
    HWND handle = nullptr;
    int id = 0;
    ControlKind kind = ControlKind::Other;
    RECT rect = {0, 0, 0, 0};  // in the dialog's client area, pixels
    std::string text;
    bool defaultButton = false;
    bool checked = false;
    bool editable = false;  // combo box with an edit field
    bool digitsOnly = false;
    std::vector<std::string> items;
    int selection = -1;
    const unsigned char* bitmap = nullptr;  // picture: the bitmap resource (header, colours, bits)
    size_t bitmapSize = 0;
};

struct DialogView {
    std::string title;
    std::string fontName;  // the template's font; empty: the system font
    int pointSize = 0;
    int clientWidth = 0, clientHeight = 0;
    std::vector<ControlView> controls;
};

DialogView ViewOf(HWND dialog);

// What the user does, from a view or a script; each as Windows delivers it. FALSE when the control
// cannot take it (no such control, wrong kind, disabled, index out of range).
BOOL DialogClick(HWND dialog, int id);
BOOL DialogType(HWND dialog, int id, const char* text);
BOOL DialogPick(HWND dialog, int id, int index);
BOOL DialogKey(HWND dialog, UINT virtualKey);
// One press of the up-down control's arrow: +1 up, -1 down.
BOOL DialogSpin(HWND dialog, int id, int direction);
bool DialogEnded(HWND dialog);
// Delivers the messages posted while the dialog is open; false once WM_QUIT came.
bool DialogPump(HWND dialog);

// Runs the dialog shown by a toolkit until it ends; false when no view can be shown (then the
// caller treats the dialog as headless).
bool RunDialogView(HWND dialog);

}  // namespace w32

#endif
