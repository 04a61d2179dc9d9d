// The configuration dialog (template 101 in resources/marlix.rc): it shows the settings in memory
// and writes them back on OK; VisConfig loads the file before and saves it after. To list the
// display adapters it starts the engine, and shuts it down again on OK.
#include "vis.h"

#include "kestra.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const resolutionNames[VIS_FULLRES_COUNT] = {
    "640x480", "800x600", "1024x768", "1280x1024", "1600x1200",
};

static const char* const sceneNames[VIS_SCENE_COUNT] = {
    "Flower Orbit", "New Age", "Bouncy Balls", "Tuba", "Popcorn", "Tuba+Popcorn", "Tuba+Bouncy Balls", "Flowers+Popcorn",
};

static const char defaultCustomString[] = "Marlix Visualizer";
static const char helpPage[] = "marlixhelp\\index.htm";

// Numbers are read from at most this many typed characters.
#define VIS_NUMBER_CHARS 9

static void ShowInt(HWND dialog, int id, int value)
{
    char text[16];
    wsprintfA(text, "%i", value);
    SetDlgItemTextA(dialog, id, text);
}

static void ShowScale(HWND dialog, float value)
{
    char text[64];
    snprintf(text, sizeof(text), "%4.2f", (double)value);
    SetDlgItemTextA(dialog, IDC_FONTSCALE, text);
}

static void ReadNumberText(HWND dialog, int id, char* text)
{
    GetDlgItemTextA(dialog, id, text, VIS_NUMBER_CHARS + 1);
}

static int ReadInt(HWND dialog, int id)
{
    char text[VIS_NUMBER_CHARS + 1];
    ReadNumberText(dialog, id, text);
    return (int)strtol(text, NULL, 10);
}

// The selected entry of a list. Text typed into an editable list that names no entry selects
// none, which no setting can hold: it reads as the first entry.
static int ReadSelection(HWND dialog, int id)
{
    int selected = (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return selected < 0 ? 0 : selected;
}

static void FillList(HWND dialog, int id, const char* const* names, int count, int selected)
{
    for (int i = 0; i < count; i++)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, (LPARAM)names[i]);
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, (WPARAM)selected, 0);
}

static void InitDialog(HWND dialog)
{
    ksGlobal.runWindowed = 1;
    ksChooseDeviceHook = VisChooseDevice;
    KS_UseDirect3D();
    KS_InitEngine(7000);
    KS_SelectDriver();

    // Always the first adapter, whatever RenderDevice holds.
    for (int i = 0; i < ksGlobal.adapterCount; i++)
        SendDlgItemMessageA(dialog, IDC_ADAPTER, CB_ADDSTRING, 0, (LPARAM)ksGlobal.adapters[i].identifier.Description);
    SendDlgItemMessageA(dialog, IDC_ADAPTER, CB_SETCURSEL, 0, 0);

    VisBuildDeviceTypes();

    FillList(dialog, IDC_FULLRES, resolutionNames, VIS_FULLRES_COUNT, visSettings.FullRes);
    FillList(dialog, IDC_DEFAULTSCENE, sceneNames, VIS_SCENE_COUNT, visSettings.DefaultScene);

    CheckDlgButton(dialog, IDC_RUNINWINDOW, visSettings.RunInWindow ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_USE32BIT, visSettings.Use32Bit ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ALWAYSONTOP, visSettings.alwaysOnTop ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_CYCLESCENES, visSettings.CycleScenes ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SONGTITLE, visSettings.SongTitle ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SHOWCUSTOM, visSettings.ShowCustom ? BST_CHECKED : BST_UNCHECKED);

    SetDlgItemTextA(dialog, IDC_CUSTOMSTRING, visSettings.CustomString);
    ShowInt(dialog, IDC_SCENETIME, visSettings.SceneTime);
    ShowInt(dialog, IDC_MOTIONBLUR, visSettings.MotionBlur);
    ShowScale(dialog, visSettings.FontScale);
    // The arrows step the blur through its whole range; the control's own range (100 down to 0)
    // would throw the default 192 back to 100 at the first press.
    SendDlgItemMessageA(dialog, IDC_MOTIONBLUR_SPIN, UDM_SETRANGE, 0, MAKELPARAM(255, 0));
}

static void Accept(HWND dialog)
{
    visSettings.RenderDevice = ReadSelection(dialog, IDC_ADAPTER);
    visSettings.FullRes = ReadSelection(dialog, IDC_FULLRES);
    visSettings.DefaultScene = ReadSelection(dialog, IDC_DEFAULTSCENE);
    visSettings.RunInWindow = IsDlgButtonChecked(dialog, IDC_RUNINWINDOW) == BST_CHECKED;
    visSettings.Use32Bit = IsDlgButtonChecked(dialog, IDC_USE32BIT) == BST_CHECKED;
    visSettings.alwaysOnTop = IsDlgButtonChecked(dialog, IDC_ALWAYSONTOP) == BST_CHECKED;
    visSettings.CycleScenes = IsDlgButtonChecked(dialog, IDC_CYCLESCENES) == BST_CHECKED;
    visSettings.SongTitle = IsDlgButtonChecked(dialog, IDC_SONGTITLE) == BST_CHECKED;
    visSettings.ShowCustom = IsDlgButtonChecked(dialog, IDC_SHOWCUSTOM) == BST_CHECKED;
    GetDlgItemTextA(dialog, IDC_CUSTOMSTRING, visSettings.CustomString, VIS_CUSTOM_STRING_SIZE);
    visSettings.MotionBlur = ReadInt(dialog, IDC_MOTIONBLUR);
    char scale[VIS_NUMBER_CHARS + 1];
    ReadNumberText(dialog, IDC_FONTSCALE, scale);
    visSettings.FontScale = VisParseFontScale(scale);
    visSettings.SceneTime = ReadInt(dialog, IDC_SCENETIME);

    // Ends with the device shut-down: the engine was only started to list the adapters.
    KS_FreeEngineBuffers();
    EndDialog(dialog, 1);
}

static void ResetToDefaults(HWND dialog)
{
    SendDlgItemMessageA(dialog, IDC_ADAPTER, CB_SETCURSEL, 0, 0);
    visSettings.CycleScenes = 1;
    visSettings.RunInWindow = 1;
    visSettings.Use32Bit = 1;
    visSettings.SceneTime = 1200;
    visSettings.MotionBlur = 192;
    visSettings.FontScale = 0.5f;
    visSettings.alwaysOnTop = 0;
    snprintf(visSettings.CustomString, VIS_CUSTOM_STRING_SIZE, "%s", defaultCustomString);

    ShowInt(dialog, IDC_SCENETIME, 1200);
    ShowInt(dialog, IDC_MOTIONBLUR, visSettings.MotionBlur);
    ShowScale(dialog, visSettings.FontScale);
    CheckDlgButton(dialog, IDC_CYCLESCENES, visSettings.CycleScenes ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SONGTITLE, BST_CHECKED);
    CheckDlgButton(dialog, IDC_SHOWCUSTOM, BST_CHECKED);
    CheckDlgButton(dialog, IDC_RUNINWINDOW, visSettings.RunInWindow ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_USE32BIT, visSettings.Use32Bit ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ALWAYSONTOP, visSettings.alwaysOnTop ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(dialog, IDC_CUSTOMSTRING, visSettings.CustomString);
}

// The help page beside the library, shown by the desktop's opener. Beside the library, not in the
// current directory: before the first run the host's own directory is current.
static void ViewDocumentation(HWND dialog)
{
    char moduleName[VIS_PATH_SIZE];
    char page[VIS_PATH_SIZE];
    VisModuleFileName(&visModule, moduleName);
#ifdef _WIN32
    VisPathBesideModule(moduleName, helpPage, page);
#else
    char localPage[sizeof(helpPage)];
    memcpy(localPage, helpPage, sizeof(helpPage));
    for (char* p = localPage; *p; p++)
        if (*p == '\\')
            *p = '/';
    VisPathBesideModule(moduleName, localPage, page);
#endif
    FILE* file = fopen(page, "rb");
    if (!file) {
        char text[VIS_PATH_SIZE + 64];
        snprintf(text, sizeof(text), "The documentation was not found:\n%s", page);
        MessageBoxA(dialog, text, "View Documentation", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    fclose(file);

    char command[2 * VIS_PATH_SIZE + 64];
#ifdef _WIN32
    snprintf(command, sizeof(command), "explorer \"%s\"", page);
#else
    // Quoted for the shell (a quote in the path closes, escapes and reopens), and in the
    // background so that the dialog does not wait for the browser.
    size_t at = (size_t)snprintf(command, sizeof(command), "xdg-open '");
    for (const char* p = page; *p && at + 8 < sizeof(command); p++) {
        if (*p == '\'') {
            memcpy(command + at, "'\\''", 4);
            at += 4;
        } else {
            command[at++] = *p;
        }
    }
    snprintf(command + at, sizeof(command) - at, "' >/dev/null 2>&1 &");
#endif
    if (system(command) == -1)
        MessageBoxA(dialog, "The documentation could not be opened.", "View Documentation", MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK VisConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        InitDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return 0;
    switch (LOWORD(wParam)) {
    case IDOK:
        Accept(dialog);
        return TRUE;
    case IDC_RESET:
        ResetToDefaults(dialog);
        return 0;
    case IDC_DOCUMENTATION:
        ViewDocumentation(dialog);
        return 0;
    default:
        // No Cancel: Escape and the close request do nothing, OK is the only way out.
        return 0;
    }
}
