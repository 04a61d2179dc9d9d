// The configuration dialog driven through the stand-in's dialog controls as a user would: what it
// shows, what OK stores, Reset To Defaults, typed text, the keyboard, the engine it starts for
// the adapter list, the help page, and the compiled template it is built from.
#include "plugin_fixture.h"

#include <marlix_platform.h>

#include "kestra.h"
#include "resource.h"

#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Script = std::function<void(HWND)>;

void RunScript(HWND dialog, void* user)
{
    (*(Script*)user)(dialog);
}

std::string Text(HWND dialog, int id)
{
    char text[512];
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

std::vector<std::string> Entries(HWND dialog, int id)
{
    std::vector<std::string> entries;
    int count = (int)SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[512];
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, (WPARAM)i, (LPARAM)text);
        entries.push_back(text);
    }
    return entries;
}

int Selection(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
}

// A control's rectangle in the dialog's client area.
RECT PlaceOf(HWND dialog, int id)
{
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    POINT topLeft = {r.left, r.top};
    ScreenToClient(dialog, &topLeft);
    return RECT{topLeft.x, topLeft.y, topLeft.x + r.right - r.left, topLeft.y + r.bottom - r.top};
}

// A template's x, y, width and height in pixels: each converted on its own, as the dialog is built.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height)
{
    RECT r = {x, y, width, height};
    MapDialogRect(dialog, &r);
    return RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class Dialog : public PluginTest {
protected:
    void TearDown() override
    {
        MarlixSetDialogScript(nullptr, nullptr);
        MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
        PluginTest::TearDown();
    }

    // VisConfig with the script as the user; the dialog's result, or -2 when the script never ran.
    INT_PTR Configure(Script script)
    {
        INT_PTR result = -2;
        Script whole = [&](HWND dialog) {
            script(dialog);
            if (!MarlixDialogEnded(dialog, &result))
                result = -3;
        };
        MarlixSetDialogScript(RunScript, &whole);
        VisConfig(&visModule);
        MarlixSetDialogScript(nullptr, nullptr);
        return result;
    }

    std::string IniValue(const char* key) const
    {
        for (auto& entry : IniEntries())
            if (entry.first == key)
                return entry.second;
        return "(missing)";
    }
};

}  // namespace

TEST_F(Dialog, ShowsTheSettingsAndAlwaysSelectsTheFirstOfTwoAdapters)
{
    MarlixD3D8SetProfile(MARLIX_PROFILE_TWO_ADAPTERS);
    WriteIni("[Marlix Winamp Visualizer]\nRenderDevice=1\nFullRes=3\nDefaultScene=6\nSceneTime=900\nMotionBlur=77\n"
             "FontScale=0.75\nCustomString=Hello there\nRunInWindow=0\nUse32Bit=0\nCycleScenes=0\nSongTitle=1\n"
             "ShowCustom=0\n");
    visSettings.alwaysOnTop = 1;
    std::vector<std::string> adapterNames;
    INT_PTR result = Configure([&](HWND dialog) {
        for (int i = 0; i < ksGlobal.adapterCount; i++)
            adapterNames.push_back(ksGlobal.adapters[i].identifier.Description);
        EXPECT_EQ(Entries(dialog, IDC_ADAPTER), adapterNames);
        EXPECT_EQ(Selection(dialog, IDC_ADAPTER), 0);
        EXPECT_EQ(Entries(dialog, IDC_FULLRES),
                  (std::vector<std::string>{"640x480", "800x600", "1024x768", "1280x1024", "1600x1200"}));
        EXPECT_EQ(Selection(dialog, IDC_FULLRES), 3);
        EXPECT_EQ(Entries(dialog, IDC_DEFAULTSCENE),
                  (std::vector<std::string>{"Flower Orbit", "New Age", "Bouncy Balls", "Tuba", "Popcorn", "Tuba+Popcorn",
                                            "Tuba+Bouncy Balls", "Flowers+Popcorn"}));
        EXPECT_EQ(Selection(dialog, IDC_DEFAULTSCENE), 6);
        EXPECT_EQ(Text(dialog, IDC_DEFAULTSCENE), "Tuba+Bouncy Balls");
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RUNINWINDOW), (UINT)BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_USE32BIT), (UINT)BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ALWAYSONTOP), (UINT)BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CYCLESCENES), (UINT)BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SONGTITLE), (UINT)BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SHOWCUSTOM), (UINT)BST_UNCHECKED);
        EXPECT_EQ(Text(dialog, IDC_CUSTOMSTRING), "Hello there");
        EXPECT_EQ(Text(dialog, IDC_SCENETIME), "900");
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "77");
        EXPECT_EQ(Text(dialog, IDC_FONTSCALE), "0.75");
        EXPECT_TRUE(MarlixDialogClick(dialog, IDOK));
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(adapterNames.size(), 2u);
    EXPECT_NE(adapterNames[0], adapterNames[1]);
    // OK stores what was shown: the first adapter, the rest unchanged, and the file has it.
    EXPECT_EQ(visSettings.RenderDevice, 0);
    EXPECT_EQ(IniValue("RenderDevice"), "0");
    EXPECT_EQ(IniValue("FullRes"), "3");
    EXPECT_EQ(IniValue("DefaultScene"), "6");
    EXPECT_EQ(IniValue("SceneTime"), "900");
    EXPECT_EQ(IniValue("MotionBlur"), "77");
    EXPECT_EQ(IniValue("FontScale"), "0.75");
    EXPECT_EQ(IniValue("CustomString"), "Hello there");
    EXPECT_EQ(IniValue("RunInWindow"), "0");
    EXPECT_EQ(visSettings.alwaysOnTop, 1);
}

TEST_F(Dialog, ResetToDefaultsThenOkStoresTheDefaultsAndKeepsResolutionAndScene)
{
    WriteIni("[Marlix Winamp Visualizer]\nSceneTime=60\nMotionBlur=3\nFontScale=2.50\nCustomString=mine\n"
             "RunInWindow=0\nUse32Bit=0\nCycleScenes=0\nSongTitle=0\nShowCustom=0\n");
    visSettings.alwaysOnTop = 1;
    INT_PTR result = Configure([&](HWND dialog) {
        EXPECT_TRUE(MarlixDialogPick(dialog, IDC_FULLRES, 4));
        EXPECT_TRUE(MarlixDialogPick(dialog, IDC_DEFAULTSCENE, 5));
        EXPECT_TRUE(MarlixDialogClick(dialog, IDC_RESET));
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        EXPECT_EQ(Text(dialog, IDC_SCENETIME), "1200");
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "192");
        EXPECT_EQ(Text(dialog, IDC_FONTSCALE), "0.50");
        EXPECT_EQ(Text(dialog, IDC_CUSTOMSTRING), "Marlix Visualizer");
        for (int id : {IDC_CYCLESCENES, IDC_SONGTITLE, IDC_SHOWCUSTOM, IDC_RUNINWINDOW, IDC_USE32BIT})
            EXPECT_EQ(IsDlgButtonChecked(dialog, id), (UINT)BST_CHECKED) << id;
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ALWAYSONTOP), (UINT)BST_UNCHECKED);
        EXPECT_EQ(Selection(dialog, IDC_FULLRES), 4);
        EXPECT_EQ(Selection(dialog, IDC_DEFAULTSCENE), 5);
        EXPECT_TRUE(MarlixDialogClick(dialog, IDOK));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(IniValue("SceneTime"), "1200");
    EXPECT_EQ(IniValue("MotionBlur"), "192");
    EXPECT_EQ(IniValue("FontScale"), "0.50");
    EXPECT_EQ(IniValue("CustomString"), "Marlix Visualizer");
    for (const char* key : {"RunInWindow", "Use32Bit", "CycleScenes", "SongTitle", "ShowCustom"})
        EXPECT_EQ(IniValue(key), "1") << key;
    EXPECT_EQ(visSettings.alwaysOnTop, 0);
    EXPECT_EQ(IniValue("FullRes"), "4");
    EXPECT_EQ(IniValue("DefaultScene"), "5");
}

TEST_F(Dialog, TypedTextIsReadAsTheSettingsHoldIt)
{
    struct Case {
        const char* scale;
        const char* sceneTime;
        const char* blur;
        const char* scene;
        float wantScale;
        int wantTime, wantBlur, wantScene;
    };
    const Case cases[] = {
        // Letters are no number: 0.0 and 0.
        {"big", "soon", "", "Tuba", 0.0f, 0, 0, 3},
        // At most nine characters count: 123456789012 reads 123456789, 0.1234567891 reads 0.1234567.
        {"0.1234567891", "123456789012", "4567890123", "tuba+popcorn", 0.1234567f, 123456789, 456789012, 5},
        // The digits-only blur field refuses the letters as they are typed; a scene name that names
        // no entry selects none, which reads as the first scene.
        {"1.5x", "30s", "2a5b5", "Waltz", 1.5f, 30, 255, 0},
    };
    for (const Case& c : cases) {
        visSettings.DefaultScene = 2;
        INT_PTR result = Configure([&](HWND dialog) {
            EXPECT_TRUE(MarlixDialogType(dialog, IDC_FONTSCALE, c.scale));
            EXPECT_TRUE(MarlixDialogType(dialog, IDC_SCENETIME, c.sceneTime));
            EXPECT_TRUE(MarlixDialogType(dialog, IDC_MOTIONBLUR, c.blur));
            EXPECT_TRUE(MarlixDialogType(dialog, IDC_DEFAULTSCENE, c.scene));
            EXPECT_TRUE(MarlixDialogType(dialog, IDC_ADAPTER, "a card that is not there"));
            EXPECT_FALSE(MarlixDialogType(dialog, IDC_FULLRES, "800x600"));  // a list without an edit field
            EXPECT_TRUE(MarlixDialogClick(dialog, IDOK));
        });
        EXPECT_EQ(result, 1);
        EXPECT_FLOAT_EQ(visSettings.FontScale, c.wantScale) << c.scale;
        EXPECT_EQ(visSettings.SceneTime, c.wantTime) << c.sceneTime;
        EXPECT_EQ(visSettings.MotionBlur, c.wantBlur) << c.blur;
        EXPECT_EQ(visSettings.DefaultScene, c.wantScene) << c.scene;
        EXPECT_EQ(visSettings.RenderDevice, 0);
    }

    // The custom text keeps at most 127 characters.
    Configure([&](HWND dialog) {
        MarlixDialogType(dialog, IDC_CUSTOMSTRING, std::string(300, 'q').c_str());
        MarlixDialogClick(dialog, IDOK);
    });
    EXPECT_EQ(std::string(visSettings.CustomString), std::string(127, 'q'));
}

TEST_F(Dialog, OnlyOkClosesItAndOkShutsTheEngineDown)
{
    INT_PTR result = Configure([&](HWND dialog) {
        // The engine runs while the dialog is open, only to list the adapters.
        EXPECT_NE(ksGlobal.d3d, nullptr);
        EXPECT_EQ(ksGlobal.polygonCapacity, 7000);
        EXPECT_EQ(ksGlobal.runWindowed, 1);
        EXPECT_GT(MarlixD3D8LiveObjects(), 0);

        EXPECT_TRUE(MarlixDialogKey(dialog, VK_ESCAPE));
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        PostMessageA(dialog, WM_CLOSE, 0, 0);  // the close request becomes Cancel, which does nothing
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            if (!IsDialogMessageA(dialog, &msg))
                DispatchMessageA(&msg);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        EXPECT_TRUE(MarlixDialogClick(dialog, IDC_RESET));
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        EXPECT_NE(ksGlobal.d3d, nullptr);

        // Enter in an edit field presses the default button, OK.
        EXPECT_TRUE(MarlixDialogType(dialog, IDC_SCENETIME, "600"));
        EXPECT_TRUE(MarlixDialogKey(dialog, VK_RETURN));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(visSettings.SceneTime, 600);
    EXPECT_EQ(ksGlobal.d3d, nullptr);
    EXPECT_EQ(ksGlobal.polygonCapacity, 0);
    EXPECT_EQ(MarlixD3D8LiveObjects(), 0);
    EXPECT_TRUE(IsWindowEnabled(hostWindow));  // the owner takes input again
}

TEST_F(Dialog, TheKeyboardWalksTheTabStopsAndSpaceAndEnterPressTheFocusedButton)
{
    visSettings.RunInWindow = 1;
    WriteIni("[Marlix Winamp Visualizer]\nRunInWindow=1\nSceneTime=77\n");
    std::vector<int> order;
    Configure([&](HWND dialog) {
        for (int i = 0; i < 20; i++) {
            order.push_back(GetDlgCtrlID(GetFocus()));
            MarlixDialogKey(dialog, VK_TAB);
        }
        // Space on the check box that has the focus clicks it.
        while (GetFocus() != GetDlgItem(dialog, IDC_RUNINWINDOW))
            MarlixDialogKey(dialog, VK_TAB);
        MarlixDialogKey(dialog, VK_SPACE);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RUNINWINDOW), (UINT)BST_UNCHECKED);
        // Enter on a push button presses that button, not the default one.
        while (GetFocus() != GetDlgItem(dialog, IDC_RESET))
            MarlixDialogKey(dialog, VK_TAB);
        MarlixDialogKey(dialog, VK_RETURN);
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        EXPECT_EQ(Text(dialog, IDC_SCENETIME), "1200");
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RUNINWINDOW), (UINT)BST_CHECKED);  // reset windowed
        MarlixDialogKey(dialog, VK_TAB);
        MarlixDialogKey(dialog, VK_TAB);
        MarlixDialogKey(dialog, VK_SPACE);  // on the adapter list: nothing to click
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        MarlixDialogClick(dialog, IDOK);
    });
    // Template order, labels, frames and the picture left out, then round again from OK.
    const std::vector<int> stops = {IDOK, IDC_RESET, IDC_DOCUMENTATION, IDC_ADAPTER, IDC_FULLRES, IDC_RUNINWINDOW,
                                    IDC_USE32BIT, IDC_ALWAYSONTOP, IDC_MOTIONBLUR, IDC_CYCLESCENES, IDC_SCENETIME,
                                    IDC_DEFAULTSCENE, IDC_SONGTITLE, IDC_SHOWCUSTOM, IDC_CUSTOMSTRING, IDC_FONTSCALE};
    ASSERT_EQ(order.size(), 20u);
    for (size_t i = 0; i < order.size(); i++)
        EXPECT_EQ(order[i], stops[i % stops.size()]) << i;
}

TEST_F(Dialog, TheArrowsStepTheBlurThroughItsWholeRange)
{
    visSettings.MotionBlur = 192;
    WriteIni("[Marlix Winamp Visualizer]\nMotionBlur=192\n");
    Configure([&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_MOTIONBLUR_SPIN, UDM_GETBUDDY, 0, 0),
                  (LRESULT)GetDlgItem(dialog, IDC_MOTIONBLUR));
        MarlixDialogType(dialog, IDC_MOTIONBLUR, "192");  // the focus is in the blur field
        MarlixDialogKey(dialog, VK_UP);
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "193");
        MarlixDialogKey(dialog, VK_DOWN);
        MarlixDialogKey(dialog, VK_DOWN);
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "191");
        MarlixDialogType(dialog, IDC_MOTIONBLUR, "255");
        MarlixDialogKey(dialog, VK_UP);
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "255");
        MarlixDialogType(dialog, IDC_MOTIONBLUR, "0");
        MarlixDialogKey(dialog, VK_DOWN);
        EXPECT_EQ(Text(dialog, IDC_MOTIONBLUR), "0");
        MarlixDialogKey(dialog, VK_UP);
        MarlixDialogClick(dialog, IDOK);
    });
    EXPECT_EQ(visSettings.MotionBlur, 1);
}

TEST_F(Dialog, AMissingHelpPageIsReportedAndTheDialogStaysOpen)
{
    MarlixMessageBoxClear();
    Configure([&](HWND dialog) {
        EXPECT_TRUE(MarlixDialogClick(dialog, IDC_DOCUMENTATION));
        EXPECT_FALSE(MarlixDialogEnded(dialog, nullptr));
        MarlixDialogClick(dialog, IDOK);
    });
    ASSERT_EQ(MarlixMessageBoxCount(), 1);
    std::string text = MarlixMessageBoxText(0);
    EXPECT_NE(text.find("not found"), std::string::npos) << text;
    EXPECT_NE(text.find(dir + "/marlixhelp/index.htm"), std::string::npos) << text;
}

TEST_F(Dialog, IsBuiltFromTheCompiledTemplate)
{
    Configure([&](HWND dialog) {
        char title[64];
        GetWindowTextA(dialog, title, sizeof(title));
        EXPECT_STREQ(title, "Marlix Visualizer");
        DWORD style = (DWORD)GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_SYSMENU), (DWORD)(WS_POPUP | WS_CAPTION | DS_MODALFRAME));
        // 8-point dialog units: 6 x 13 pixels per 4 x 8 units.
        RECT client;
        GetClientRect(dialog, &client);
        EXPECT_EQ(client.right, 554);
        EXPECT_EQ(client.bottom, 471);
        struct Place {
            int id, x, y, width, height;
        };
        const Place places[] = {
            {IDOK, 135, 270, 90, 14},           {IDC_RESET, 270, 270, 90, 14},
            {IDC_DOCUMENTATION, 40, 190, 105, 14}, {IDC_ADAPTER, 230, 20, 120, 40},
            {IDC_FULLRES, 265, 41, 85, 60},     {IDC_MOTIONBLUR, 245, 115, 25, 14},
            {IDC_MOTIONBLUR_SPIN, 275, 110, 11, 25}, {IDC_SCENETIME, 275, 155, 40, 14},
            {IDC_DEFAULTSCENE, 255, 175, 95, 70}, {IDC_FONTSCALE, 285, 230, 40, 14},
        };
        for (const Place& p : places)
            EXPECT_TRUE(SameRect(PlaceOf(dialog, p.id), DialogUnits(dialog, p.x, p.y, p.width, p.height))) << p.id;
        EXPECT_EQ(LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)), IDOK);
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_MOTIONBLUR), GWL_STYLE) & ES_NUMBER);
        EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, IDC_FULLRES), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
        EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, IDC_ADAPTER), GWL_STYLE) & 3, CBS_DROPDOWN);
        EXPECT_EQ(GetDlgItem(dialog, IDCANCEL), nullptr);

        // The logo: the picture control takes the size of bitmap 103, its 161 x 111 units.
        HWND logo = NULL;
        for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if ((GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
                logo = h;
        ASSERT_NE(logo, nullptr);
        RECT place = DialogUnits(dialog, 13, 7, 161, 111);
        RECT shown;
        GetWindowRect(logo, &shown);
        EXPECT_EQ(shown.right - shown.left, place.right - place.left);
        EXPECT_EQ(shown.bottom - shown.top, place.bottom - place.top);

        // The keyboard starts on OK, the template's first control that takes it.
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDOK));
        MarlixDialogClick(dialog, IDOK);
    });
}

TEST_F(Dialog, WithoutItsTemplateNothingOpensAndNothingStarts)
{
    std::filesystem::remove(dir + "/vis_marlix.res");
    EXPECT_EQ(Configure([](HWND) { ADD_FAILURE() << "a dialog opened without a template"; }), -2);
    EXPECT_EQ(ksGlobal.d3d, nullptr);
    EXPECT_EQ(MarlixD3D8LiveObjects(), 0);
    EXPECT_TRUE(IsWindowEnabled(hostWindow));
    EXPECT_EQ(IniValue("SceneTime"), "1200");  // the settings are saved as loaded
}

TEST(Resources, DamagedResourceFilesAreRefusedWithAReason)
{
    std::string path = std::filesystem::path(MARLIX_PLUGIN_FILE).replace_extension(".res").string();
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> res((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(res.size(), 1000u);
    char error[256] = "";
    EXPECT_EQ(MarlixParseResources(res.data(), res.size(), error, sizeof(error)), 2) << error;  // bitmap and dialog

    // Every cut either parses fewer entries or is refused; none reads past the end.
    int refused = 0;
    for (size_t size = 0; size < res.size(); size += size < 2000 ? 1 : 97) {
        std::vector<unsigned char> cut(res.begin(), res.begin() + (long)size);
        int n = MarlixParseResources(cut.data(), cut.size(), error, sizeof(error));
        EXPECT_LE(n, 1) << size;
        if (n < 0) {
            refused++;
            EXPECT_NE(error[0], 0);
        }
    }
    EXPECT_GT(refused, 0);

    // A header size beyond the file, a data size beyond the file.
    std::vector<unsigned char> damaged = res;
    damaged[39] = 0x7F;  // header size of the first real entry
    EXPECT_EQ(MarlixParseResources(damaged.data(), damaged.size(), error, sizeof(error)), -1);
    EXPECT_NE(std::string(error).find("header size"), std::string::npos) << error;
    damaged = res;
    damaged[35] = 0x7F;  // its data size
    EXPECT_EQ(MarlixParseResources(damaged.data(), damaged.size(), error, sizeof(error)), -1);
    EXPECT_NE(std::string(error).find("past the end"), std::string::npos) << error;
}
