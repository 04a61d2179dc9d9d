// marlix.ini: where it lives, what a fresh installation gets, what a save writes, how odd values load.
#include "plugin_fixture.h"

#include <algorithm>
#include <filesystem>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

using Settings = PluginTest;

static const char* const keyOrder[17] = {
    "SceneTime", "DefaultScene", "MotionBlur", "CycleScenes", "SongTitle", "ShowCustom",
    "FontScale", "CustomString", "RenderDevice", "RenderHAL", "RunInWindow", "Use32Bit",
    "FullRes", "Screen_x", "Screen_y", "Screen_width", "Screen_height",
};

TEST(SettingsPath, CutsAfterTheLastSeparator)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPathFromModuleName("C:\\Program Files\\Winamp\\Plugins\\vis_marlix.dll", path);
    EXPECT_STREQ(path, "C:\\Program Files\\Winamp\\Plugins\\marlix.ini");
    VisSettingsPathFromModuleName("/opt/marlix/build/plugins/vis_marlix.so", path);
    EXPECT_STREQ(path, "/opt/marlix/build/plugins/marlix.ini");
    VisSettingsPathFromModuleName("C:\\dir.with.dots\\sub/vis.so", path);
    EXPECT_STREQ(path, "C:\\dir.with.dots\\sub/marlix.ini");
    VisSettingsPathFromModuleName("vis_marlix.dll", path);
    EXPECT_STREQ(path, "marlix.ini");
    VisSettingsPathFromModuleName("", path);
    EXPECT_STREQ(path, "marlix.ini");
}

TEST(SettingsPath, DirectoryTooLongForTheNameFallsBackToTheCurrentDirectory)
{
    // A directory of 255 characters leaves no room for "marlix.ini" in 260: a cut path would name
    // some other file.
    std::string name = "/" + std::string(254, 'd') + "/v.so";
    char path[VIS_PATH_SIZE + 16];
    memset(path, 'x', sizeof(path));
    VisSettingsPathFromModuleName(name.c_str(), path);
    EXPECT_STREQ(path, "marlix.ini");
    std::string fits = "/" + std::string(200, 'd') + "/v.so";
    VisSettingsPathFromModuleName(fits.c_str(), path);
    EXPECT_EQ(std::string(path), "/" + std::string(200, 'd') + "/marlix.ini");
}

TEST_F(Settings, PathIsBesideTheLoadedLibrary)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPath(&visModule, path);
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    EXPECT_EQ(std::string(path), std::string(real) + "/marlix.ini");
}

TEST_F(Settings, FreshInstallationGetsTheDefaults)
{
    visAnim.currentScene = 5;
    VisLoadSettings(&visModule);
    const VisSettings& s = visSettings;
    EXPECT_EQ(s.SceneTime, 1200);
    EXPECT_EQ(s.DefaultScene, 0);
    EXPECT_EQ(s.MotionBlur, 192);
    EXPECT_EQ(s.CycleScenes, 1);
    EXPECT_EQ(s.SongTitle, 1);
    EXPECT_EQ(s.ShowCustom, 1);
    EXPECT_FLOAT_EQ(s.FontScale, 0.5f);
    EXPECT_STREQ(s.CustomString, "Marlix Visualizer");
    EXPECT_EQ(s.RenderDevice, 0);
    EXPECT_EQ(s.RenderHAL, 0);
    EXPECT_EQ(s.RunInWindow, 1);
    EXPECT_EQ(s.Use32Bit, 1);
    EXPECT_EQ(s.FullRes, 0);
    EXPECT_EQ(s.Screen_x, 50);
    EXPECT_EQ(s.Screen_y, 50);
    EXPECT_EQ(s.Screen_width, 288);
    EXPECT_EQ(s.Screen_height, 256);
    EXPECT_EQ(s.alwaysOnTop, 0);
    EXPECT_EQ(visAnim.currentScene, 0);
    // Loading alone writes nothing.
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(Settings, SaveWritesTheSeventeenKeysInOrder)
{
    VisLoadSettings(&visModule);
    visSettings.alwaysOnTop = 1;
    VisSaveSettings(&visModule);

    std::string text = ReadIni();
    EXPECT_EQ(text.find("[Marlix Winamp Visualizer]"), 0u) << text;
    auto entries = IniEntries();
    ASSERT_EQ(entries.size(), 17u) << text;
    for (int i = 0; i < 17; i++)
        EXPECT_EQ(entries[i].first, keyOrder[i]);
    const char* values[17] = {"1200", "0", "192", "1", "1", "1", "0.50", "Marlix Visualizer",
                              "0", "0", "1", "1", "0", "50", "50", "288", "256"};
    for (int i = 0; i < 17; i++)
        EXPECT_EQ(entries[i].second, values[i]) << keyOrder[i];
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(lower.find("alwaysontop"), std::string::npos);
}

TEST_F(Settings, FontScaleIsWrittenWithTwoDecimals)
{
    const struct {
        float scale;
        const char* text;
    } cases[] = {{0.5f, "0.50"}, {1.0f, "1.00"}, {0.257f, "0.26"}, {12.5f, "12.50"}};
    for (const auto& c : cases) {
        visSettings.FontScale = c.scale;
        VisSaveSettings(&visModule);
        auto entries = IniEntries();
        ASSERT_EQ(entries.size(), 17u);
        EXPECT_EQ(entries[6].second, c.text);
    }
}

TEST_F(Settings, SavedValuesLoadBack)
{
    visSettings.SceneTime = 600;
    visSettings.DefaultScene = 6;
    visSettings.MotionBlur = 300;
    visSettings.CycleScenes = 0;
    visSettings.SongTitle = 0;
    visSettings.ShowCustom = 0;
    visSettings.FontScale = 0.75f;
    strcpy(visSettings.CustomString, "Hello = world; [x]");
    visSettings.RenderDevice = 1;
    visSettings.RunInWindow = 0;
    visSettings.Use32Bit = 0;
    visSettings.FullRes = 4;
    visSettings.Screen_x = -20;
    visSettings.Screen_y = 700;
    visSettings.Screen_width = 640;
    visSettings.Screen_height = 480;
    VisSaveSettings(&visModule);

    visSettings = VisSettings();
    VisLoadSettings(&visModule);
    const VisSettings& s = visSettings;
    EXPECT_EQ(s.SceneTime, 600);
    EXPECT_EQ(s.DefaultScene, 6);
    EXPECT_EQ(s.MotionBlur, 300);  // kept whole; only its low 8 bits are used
    EXPECT_EQ(s.CycleScenes, 0);
    EXPECT_EQ(s.SongTitle, 0);
    EXPECT_EQ(s.ShowCustom, 0);
    EXPECT_FLOAT_EQ(s.FontScale, 0.75f);
    EXPECT_STREQ(s.CustomString, "Hello = world; [x]");
    EXPECT_EQ(s.RenderDevice, 1);
    EXPECT_EQ(s.RunInWindow, 0);
    EXPECT_EQ(s.Use32Bit, 0);
    EXPECT_EQ(s.FullRes, 4);
    EXPECT_EQ(s.Screen_x, -20);
    EXPECT_EQ(s.Screen_y, 700);
    EXPECT_EQ(s.Screen_width, 640);
    EXPECT_EQ(s.Screen_height, 480);
    EXPECT_EQ(visAnim.currentScene, 6);
}

TEST_F(Settings, SaveKeepsOtherSectionsOfTheFile)
{
    WriteIni("[Other]\r\nkey=1\r\n");
    VisSaveSettings(&visModule);
    EXPECT_EQ(GetPrivateProfileIntA("Other", "key", 0, IniPath().c_str()), 1u);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", 0, IniPath().c_str()), 288u);
}

TEST_F(Settings, OutOfRangeResolutionAndSceneFallBackToTheDefaults)
{
    const struct {
        const char* fullRes;
        const char* scene;
        int wantRes;
        int wantScene;
    } cases[] = {
        {"4", "7", 4, 7}, {"5", "8", 0, 0}, {"-1", "-1", 0, 0}, {"99", "1000", 0, 0}, {"2", "3", 2, 3},
    };
    for (const auto& c : cases) {
        WriteIni(std::string("[Marlix Winamp Visualizer]\nFullRes=") + c.fullRes + "\nDefaultScene=" + c.scene + "\n");
        VisLoadSettings(&visModule);
        EXPECT_EQ(visSettings.FullRes, c.wantRes) << c.fullRes;
        EXPECT_EQ(visSettings.DefaultScene, c.wantScene) << c.scene;
        EXPECT_EQ(visAnim.currentScene, c.wantScene) << c.scene;
    }
    int width = 0, height = 0;
    VisFullScreenSize(4, &width, &height);
    EXPECT_EQ(width, 1600);
    EXPECT_EQ(height, 1200);
    VisFullScreenSize(1, &width, &height);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
}

TEST_F(Settings, TextValuesAreCheckedOnLoad)
{
    const struct {
        const char* text;
        float want;
    } scales[] = {{"0.75", 0.75f}, {"2", 2.0f}, {"abc", 0.5f}, {"nan", 0.5f}, {"inf", 0.5f}, {"", 0.5f}};
    for (const auto& c : scales) {
        WriteIni(std::string("[Marlix Winamp Visualizer]\nFontScale=") + c.text + "\n");
        VisLoadSettings(&visModule);
        EXPECT_FLOAT_EQ(visSettings.FontScale, c.want) << c.text;
    }
    // The custom text holds at most 127 characters.
    WriteIni("[Marlix Winamp Visualizer]\nCustomString=" + std::string(300, 'q') + "\n");
    VisLoadSettings(&visModule);
    EXPECT_EQ(std::string(visSettings.CustomString), std::string(127, 'q'));
}

TEST_F(Settings, MissingGeometryKeepsTheLastWindowOfTheProcess)
{
    WriteIni("[Marlix Winamp Visualizer]\nScreen_x=10\nScreen_y=20\nScreen_width=300\nScreen_height=200\n");
    VisLoadSettings(&visModule);
    std::filesystem::remove(IniPath());
    VisLoadSettings(&visModule);
    EXPECT_EQ(visSettings.Screen_x, 10);
    EXPECT_EQ(visSettings.Screen_y, 20);
    EXPECT_EQ(visSettings.Screen_width, 300);
    EXPECT_EQ(visSettings.Screen_height, 200);
    // The other keys return to their built-in values.
    WriteIni("[Marlix Winamp Visualizer]\nSceneTime=5\nRunInWindow=0\n");
    VisLoadSettings(&visModule);
    std::filesystem::remove(IniPath());
    VisLoadSettings(&visModule);
    EXPECT_EQ(visSettings.SceneTime, 1200);
    EXPECT_EQ(visSettings.RunInWindow, 1);
}
