// The help page: one file that opens from the disk with nothing to fetch, and that explains every
// option the configuration dialog shows and every key of the settings file.
#include "tools_fixture.h"

namespace {

std::string Page() {
    Bytes bytes = Read(MARLIX_HELP_SOURCE);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(HelpPage, SelfContained) {
    std::string page = Page();
    ASSERT_GT(page.size(), 1000u);
    for (const char* outside : {"http:", "https:", "src=", "<link", "<script", "url(", "@import", "file:"})
        EXPECT_EQ(std::string::npos, page.find(outside)) << outside;
    EXPECT_NE(std::string::npos, page.find("<meta charset=\"utf-8\">"));
}

TEST(HelpPage, ExplainsEveryOptionAndSetting) {
    std::string page = Page();
    const char* labels[] = {"3D Driver", "Full screen resolution", "Run In a Window", "Use 32 bit Color",
                            "Always on Top", "Motion Blur", "Automatically cycle scenes", "Time between scenes",
                            "Default Scene", "Show Song Title", "Show Custom Text", "Font Scale",
                            "Reset To Defaults", "View Documentation"};
    for (const char* label : labels) EXPECT_NE(std::string::npos, page.find(label)) << label;
    const char* keys[] = {"SceneTime", "DefaultScene", "MotionBlur", "CycleScenes", "SongTitle", "ShowCustom",
                          "FontScale", "CustomString", "RenderDevice", "RenderHAL", "RunInWindow", "Use32Bit",
                          "FullRes", "Screen_x", "Screen_y", "Screen_width", "Screen_height"};
    for (const char* key : keys) EXPECT_NE(std::string::npos, page.find("<code>" + std::string(key) + "</code>")) << key;
    const char* scenes[] = {"Flower Orbit", "New Age", "Bouncy Balls", "Tuba", "Popcorn", "Tuba+Popcorn",
                            "Tuba+Bouncy Balls", "Flowers+Popcorn"};
    for (const char* scene : scenes) EXPECT_NE(std::string::npos, page.find(scene)) << scene;
    for (const char* file : {"marlix.ini", "hose.kso", "sphere.kso", "flower.kso", "torus.kso", "multi.kso",
                             "back.jpg", "cartoon.pft"})
        EXPECT_NE(std::string::npos, page.find(file)) << file;
}
