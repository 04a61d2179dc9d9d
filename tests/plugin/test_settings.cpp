// marlix.ini: where it lives, what a fresh installation gets, what a save writes, how odd values load.
#include "plugin_fixture.h"

#include <filesystem>

using Settings = PluginTest;

TEST(SettingsPath, CutsAfterTheLastSeparatorOfEitherKind)
{
    const char* cases[][2] = {
        {"C:\\Program Files\\Winamp\\Plugins\\vis_marlix.dll", "C:\\Program Files\\Winamp\\Plugins\\marlix.ini"},
        {"/opt/m/build/plugins/vis_marlix.so", "/opt/m/build/plugins/marlix.ini"},
        {"C:\\dir.x\\sub/vis.so", "C:\\dir.x\\sub/marlix.ini"},
        {"vis_marlix.dll", "marlix.ini"},
        {"", "marlix.ini"},
    };
    char path[VIS_PATH_SIZE];
    for (const auto& c : cases) {
        VisSettingsPathFromModuleName(c[0], path);
        EXPECT_STREQ(path, c[1]);
    }
    // No room left for the file name in 260 characters: the current directory, never a cut path.
    VisSettingsPathFromModuleName(("/" + std::string(254, 'd') + "/v.so").c_str(), path);
    EXPECT_STREQ(path, "marlix.ini");
    VisSettingsPathFromModuleName(("/" + std::string(247, 'd') + "/v.so").c_str(), path);
    EXPECT_EQ(std::string(path), "/" + std::string(247, 'd') + "/marlix.ini");
}

TEST_F(Settings, FreshInstallationDefaultsAndTheSeventeenKeysSaved)
{
    visAnim.currentScene = 5;
    VisLoadSettings(&visModule);
    EXPECT_FALSE(std::filesystem::exists(IniPath()));  // loading writes nothing
    EXPECT_EQ(visAnim.currentScene, 0);
    EXPECT_EQ(visSettings.alwaysOnTop, 0);

    visSettings.alwaysOnTop = 1;
    VisSaveSettings(&visModule);
    const std::pair<std::string, std::string> want[17] = {
        {"SceneTime", "1200"}, {"DefaultScene", "0"}, {"MotionBlur", "192"}, {"CycleScenes", "1"},
        {"SongTitle", "1"}, {"ShowCustom", "1"}, {"FontScale", "0.50"}, {"CustomString", "Marlix Visualizer"},
        {"RenderDevice", "0"}, {"RenderHAL", "0"}, {"RunInWindow", "1"}, {"Use32Bit", "1"}, {"FullRes", "0"},
        {"Screen_x", "50"}, {"Screen_y", "50"}, {"Screen_width", "288"}, {"Screen_height", "256"},
    };
    auto entries = IniEntries();  // alwaysOnTop is not among them
    ASSERT_EQ(entries.size(), 17u);
    for (int i = 0; i < 17; i++)
        EXPECT_EQ(entries[i], want[i]);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", 0, IniPath().c_str()), 288u);
}

TEST_F(Settings, SavedValuesLoadBackAndFontScaleHasTwoDecimals)
{
    const struct {
        float scale;
        const char* text;
    } scales[] = {{1.0f, "1.00"}, {0.257f, "0.26"}, {12.5f, "12.50"}};
    for (const auto& c : scales) {
        visSettings.FontScale = c.scale;
        VisSaveSettings(&visModule);
        EXPECT_EQ(IniEntries().at(6).second, c.text);
    }
    visSettings.DefaultScene = 6;
    visSettings.MotionBlur = 300;
    strcpy(visSettings.CustomString, "Hello = world; [x]");
    visSettings.RunInWindow = 0;
    visSettings.Screen_x = -20;
    VisSaveSettings(&visModule);
    visSettings = VisSettings();
    VisLoadSettings(&visModule);
    EXPECT_EQ(visSettings.DefaultScene, 6);
    EXPECT_EQ(visAnim.currentScene, 6);
    EXPECT_EQ(visSettings.MotionBlur, 300);  // kept whole; only its low 8 bits are used
    EXPECT_STREQ(visSettings.CustomString, "Hello = world; [x]");
    EXPECT_EQ(visSettings.RunInWindow, 0);
    EXPECT_EQ(visSettings.Screen_x, -20);
    EXPECT_FLOAT_EQ(visSettings.FontScale, 12.5f);
}

TEST_F(Settings, OutOfRangeResolutionAndSceneFallBackToTheDefaults)
{
    const struct {
        const char* fullRes;
        const char* scene;
        int wantRes, wantScene;
    } cases[] = {{"4", "7", 4, 7}, {"5", "8", 0, 0}, {"-1", "-1", 0, 0}, {"99", "1000", 0, 0}};
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
    VisFullScreenSize(7, &width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
}

TEST_F(Settings, TextValuesAreCheckedOnLoad)
{
    // A scale reads as a plain decimal conversion would (letters give 0.0, as typed in the dialog),
    // except that nothing a float cannot hold gets through.
    const struct {
        const char* text;
        float want;
    } scales[] = {{"0.75", 0.75f}, {" 2.5x", 2.5f}, {"abc", 0.0f}, {"", 0.0f},
                  {"nan", 0.0f}, {"-inf", 0.0f}, {"1e300", 0.0f}};
    for (const auto& c : scales) {
        WriteIni(std::string("[Marlix Winamp Visualizer]\nFontScale=") + c.text + "\n");
        VisLoadSettings(&visModule);
        EXPECT_FLOAT_EQ(visSettings.FontScale, c.want) << c.text;
    }
    WriteIni("[Marlix Winamp Visualizer]\nCustomString=" + std::string(300, 'q') + "\n");
    VisLoadSettings(&visModule);
    EXPECT_EQ(std::string(visSettings.CustomString), std::string(127, 'q'));
}

TEST_F(Settings, MissingGeometryKeepsTheLastWindowOfTheProcess)
{
    WriteIni("[Marlix Winamp Visualizer]\nScreen_x=10\nScreen_height=200\nSceneTime=5\n");
    VisLoadSettings(&visModule);
    std::filesystem::remove(IniPath());
    VisLoadSettings(&visModule);
    EXPECT_EQ(visSettings.Screen_x, 10);
    EXPECT_EQ(visSettings.Screen_height, 200);
    EXPECT_EQ(visSettings.SceneTime, 1200);  // the other keys go back to their built-in values

    // A size of 0 or less is no size: it counts as missing, and the next save writes the kept one.
    const char* unusable[] = {"Screen_width=0\nScreen_height=-5\n", "Screen_width=-300\nScreen_height=0\n"};
    for (const char* lines : unusable) {
        WriteIni(std::string("[Marlix Winamp Visualizer]\n") + lines);
        VisLoadSettings(&visModule);
        EXPECT_EQ(visSettings.Screen_width, 288) << lines;
        EXPECT_EQ(visSettings.Screen_height, 200) << lines;
        VisSaveSettings(&visModule);
        EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", 0, IniPath().c_str()), 288u);
        EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_height", 0, IniPath().c_str()), 200u);
    }
    // Any positive size is taken as it is: the window keeps it within what a window can be.
    WriteIni("[Marlix Winamp Visualizer]\nScreen_width=1\nScreen_height=100000\n");
    VisLoadSettings(&visModule);
    EXPECT_EQ(visSettings.Screen_width, 1);
    EXPECT_EQ(visSettings.Screen_height, 100000);
}
