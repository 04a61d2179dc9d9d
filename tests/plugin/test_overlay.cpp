// The text overlay's layout: song title and custom text with their shadows, the playlist browser's
// rows and colours.
#include "plugin_fixture.h"

#include <string.h>

namespace {

struct Expected {
    const char* text;
    int x, y;
    int r, g, b;
};

void ExpectDraws(const VisTextDraw* draws, int count, const std::vector<Expected>& expected)
{
    ASSERT_EQ(count, (int)expected.size());
    for (int i = 0; i < count; i++) {
        EXPECT_STREQ(draws[i].text, expected[i].text) << i;
        EXPECT_EQ(draws[i].x * 10000 + draws[i].y, expected[i].x * 10000 + expected[i].y) << i;
        EXPECT_EQ(draws[i].colour[0] * 65536 + draws[i].colour[1] * 256 + draws[i].colour[2],
                  expected[i].r * 65536 + expected[i].g * 256 + expected[i].b) << i;
    }
}

class Overlay : public PluginTest {
protected:
    void SetTitles(std::vector<const char*> titles)
    {
        VisFreePlaylist();
        for (size_t i = 0; i < titles.size(); i++)
            visPlaylist.titles[i] = titles[i] ? strdup(titles[i]) : nullptr;
        visPlaylist.count = (int)titles.size();
    }
    VisTextDraw draws[VIS_PLAYLIST_DRAWS];
};

TEST_F(Overlay, CaptionsDrawAShadowFirstAndFollowTheirSwitches)
{
    strcpy(songTitle, "Song");
    strcpy(visSettings.CustomString, "Custom");
    visSettings.SongTitle = 1;
    visSettings.ShowCustom = 1;
    visSettings.FontScale = 0.5f;
    // A glyph height of 40 at scale 0.5 puts the white custom text at height - 30.
    int n = VisLayoutCaptions(256.0f, 40, draws);
    ExpectDraws(draws, n, {{"Song", 12, 12, 0, 0, 0}, {"Song", 10, 10, 255, 255, 255},
                           {"Custom", 12, 228, 0, 0, 0}, {"Custom", 10, 226, 255, 255, 255}});
    // Fractions are cut after the additions: 255.5 - 10 * 1.25 - 10 = 233.0, 235.0.
    visSettings.FontScale = 1.25f;
    visSettings.SongTitle = 0;
    n = VisLayoutCaptions(255.5f, 10, draws);
    ExpectDraws(draws, n, {{"Custom", 12, 235, 0, 0, 0}, {"Custom", 10, 233, 255, 255, 255}});
    // A scale far beyond the screen puts the text far above it, at a position an int holds.
    visSettings.FontScale = 3e38f;
    n = VisLayoutCaptions(256.0f, 40, draws);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(draws[1].y, -(1 << 24));
    visSettings.ShowCustom = 0;
    EXPECT_EQ(VisLayoutCaptions(256.0f, 40, draws), 0);
    songTitle[0] = 0;
}

TEST_F(Overlay, BrowserRowsAroundTheCursorWithTheirColours)
{
    SetTitles({"one", "two", "three", "four"});
    visPlaylist.cursor = 1;
    visPlaylist.playing = 3;
    int n = VisLayoutPlaylist(256.0f, 20, draws);
    ExpectDraws(draws, n, {{"one", 12, 110, 0, 0, 0}, {"one", 10, 108, 255, 255, 255},
                           {"two", 12, 130, 0, 0, 0}, {"two", 10, 128, 255, 192, 0},
                           {"three", 12, 150, 0, 0, 0}, {"three", 10, 148, 255, 255, 255}});
    // The playing title is light blue also under the cursor; the last row has nothing below it.
    visPlaylist.cursor = 3;
    n = VisLayoutPlaylist(256.0f, 20, draws);
    ExpectDraws(draws, n, {{"three", 12, 110, 0, 0, 0}, {"three", 10, 108, 255, 255, 255},
                           {"four", 12, 130, 0, 0, 0}, {"four", 10, 128, 0, 192, 255}});
}

TEST_F(Overlay, BrowserOfOneTitleAndOfTitlesTheHostCouldNotName)
{
    SetTitles({"only"});
    visPlaylist.cursor = 0;
    visPlaylist.playing = 0;
    int n = VisLayoutPlaylist(100.0f, 30, draws);
    ExpectDraws(draws, n, {{"only", 12, 52, 0, 0, 0}, {"only", 10, 50, 0, 192, 255}});

    // A host that answered a title request with a null address gives an empty row.
    host.titles = {"a"};
    host.claimedLength = 2;
    VisReadPlaylist(&visModule);
    visPlaylist.cursor = 1;
    visPlaylist.playing = 0;
    n = VisLayoutPlaylist(100.0f, 30, draws);
    ExpectDraws(draws, n, {{"a", 12, 22, 0, 0, 0}, {"a", 10, 20, 0, 192, 255},
                           {"", 12, 52, 0, 0, 0}, {"", 10, 50, 255, 192, 0}});
    SetTitles({nullptr});
    visPlaylist.cursor = 0;
    n = VisLayoutPlaylist(100.0f, 30, draws);
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(draws[1].text, "");
}

}  // namespace
