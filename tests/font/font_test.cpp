// Texture-page fonts: font.dat checks, glyph sizes and advances, pages made and returned, glyph
// quads placed and textured, the drawing colour restored.
#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include "engine_start.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = (uint8_t)(v >> (8 * i));
}

void PutFloat(Bytes& b, size_t at, float f)
{
    uint32_t bits;
    memcpy(&bits, &f, 4);
    Put32(b, at, bits);
}

struct GlyphRecord {
    int32_t page;
    float left, top, right, bottom;
};

// font.dat laid out field by field: name, page count, first, last, 256 glyph records of 20 bytes.
Bytes FontData(const char* name, int32_t pages, int32_t first, int32_t last,
               const std::vector<std::pair<int, GlyphRecord>>& glyphs)
{
    Bytes b(5260, 0);
    strncpy((char*)b.data(), name, 127);
    Put32(b, 128, (uint32_t)pages);
    Put32(b, 132, (uint32_t)first);
    Put32(b, 136, (uint32_t)last);
    for (const auto& g : glyphs) {
        size_t at = 140 + 20 * (size_t)g.first;
        Put32(b, at, (uint32_t)g.second.page);
        PutFloat(b, at + 4, g.second.left);
        PutFloat(b, at + 8, g.second.top);
        PutFloat(b, at + 12, g.second.right);
        PutFloat(b, at + 16, g.second.bottom);
    }
    return b;
}

// An uncompressed 32-bit TGA (image type 2, origin top left) of one colour.
Bytes PageImage(int width, int height)
{
    Bytes b(18 + (size_t)width * height * 4, 0xFF);
    memset(b.data(), 0, 18);
    b[2] = 2;
    b[12] = (uint8_t)width;
    b[13] = (uint8_t)(width >> 8);
    b[14] = (uint8_t)height;
    b[15] = (uint8_t)(height >> 8);
    b[16] = 32;
    b[17] = 0x28;
    return b;
}

const GlyphRecord quarter = {0, 0.0f, 0.0f, 0.25f, 0.125f};   // 63 x 31 texels

TEST(FontData, RefusesWhatWouldBeReadOutOfPlace)
{
    KSFont font;
    Bytes good = FontData("f", 1, 65, 90, {{65, quarter}});
    for (int c = 66; c <= 90; c++)
        PutFloat(good, 140 + 20 * c + 12, 0.1f);
    EXPECT_EQ(1, KS_ParseFontData(good.data(), (int32_t)good.size(), &font));
    EXPECT_EQ(0, KS_ParseFontData(good.data(), 5259, &font)) << "short file";

    Bytes b = good;
    Put32(b, 128, (uint32_t)-1);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font)) << "negative page count";
    Put32(b, 128, KS_FONT_MAX_PAGES + 1);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font)) << "page count beyond the limit";

    b = good;
    Put32(b, 140 + 20 * 70, 1);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font)) << "glyph on a page the font lacks";
    b = good;
    PutFloat(b, 140 + 20 * 65 + 12, NAN);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font)) << "coordinate not a number";
    b = good;
    PutFloat(b, 140 + 20 * 90 + 16, 1.5f);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font)) << "coordinate off the page";

    // Glyphs outside first..last are never used, so whatever they hold is accepted.
    b = good;
    Put32(b, 140 + 20 * 10, 99);
    PutFloat(b, 140 + 20 * 200 + 4, -7.0f);
    memset(b.data(), 'x', 128);
    EXPECT_EQ(1, KS_ParseFontData(b.data(), 5260, &font));
    // first and last beyond 0..255 make every record one to check.
    Put32(b, 132, (uint32_t)-5);
    Put32(b, 136, 1000);
    EXPECT_EQ(0, KS_ParseFontData(b.data(), 5260, &font));
    Put32(b, 140 + 20 * 10, 0);
    PutFloat(b, 140 + 20 * 200 + 4, 0.0f);
    EXPECT_EQ(1, KS_ParseFontData(b.data(), 5260, &font));
    EXPECT_EQ(0, font.name[127]) << "the name is always terminated";
}

TEST(FontMetrics, SizesAndAdvancesFollowScaleAndSpacing)
{
    KSFont font;
    memset(&font, 0, sizeof(font));
    font.first = 32;
    font.last = 126;
    font.pageCount = 1;
    font.glyphs['W'] = {0, 0.0f, 0.0f, 0.25f, 0.5f};
    font.glyphs['G'] = {0, 0.5f, 0.25f, 0.75f, 0.41015625f};   // 40 texels tall
    KSFontPage page;
    memset(&page, 0, sizeof(page));   // no entity: measured, never drawn
    font.pages = &page;

    KS_SetFont(&font);
    KS_SetTextSpacing(1);
    KS_SetTextScale(1.0f);
    EXPECT_EQ(64, KS_DrawChar(0, 0, 11.0f, 'W')) << "63 texels wide, plus one of spacing";
    KS_SetTextScale(0.5f);
    EXPECT_EQ(32, KS_DrawChar(0, 0, 11.0f, 'W')) << "trunc(31.5 + 1)";
    EXPECT_EQ(40, KS_GetCharHeight('G'));
    EXPECT_EQ(40, KS_GetCharHeight('G' + 256)) << "codes are taken modulo 256";
    EXPECT_EQ(0, KS_GetCharHeight(127)) << "above last";
    EXPECT_EQ(0, KS_DrawChar(0, 0, 11.0f, 31)) << "below first";
    // A scale no int could follow (a settings file may hold one) gives the coordinate limit.
    KS_SetTextScale(3e38f);
    EXPECT_EQ(1 << 24, KS_DrawChar(0, 0, 11.0f, 'W'));
    KS_SetTextScale(-3e38f);
    EXPECT_EQ(-(1 << 24), KS_DrawChar(0, 0, 11.0f, 'W'));
    EXPECT_EQ(0, KS_TextCoordinate(NAN));
    EXPECT_EQ(-7, KS_TextCoordinate(-7.9f)) << "towards zero";
    KS_SetFont(nullptr);
    EXPECT_EQ(0, KS_GetCharHeight('G'));
    EXPECT_EQ(0, KS_DrawChar(0, 0, 11.0f, 'W'));
    KS_DrawText(0, 0, "no font, nothing drawn");
}

// The quad a page entity was last drawn with: its corners on the screen, depth and face coordinates.
struct DrawnQuad {
    float x1, y1, x2, y2, depth;
    float u[6], v[6];
};

DrawnQuad LastQuad(const KSFontPage& page)
{
    KSSegment* s = &page.entity->object->segments[0];
    DrawnQuad q;
    q.x1 = s->work[1].sx;   // vertex 1 is the bottom-left corner
    q.y2 = s->work[1].sy;
    q.x2 = s->work[3].sx;   // vertex 3 the top-right
    q.y1 = s->work[3].sy;
    q.depth = s->work[1].z;
    for (int f = 0; f < 2; f++)
        for (int c = 0; c < 3; c++) {
            q.u[3 * f + c] = s->faces[f].u[c];
            q.v[3 * f + c] = s->faces[f].v[c];
        }
    return q;
}

// A windowed engine with tables for materials and textures, in a scratch directory holding the
// font library under test.
class PageFont : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/marlix-font-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        directory = pattern;
        ASSERT_TRUE(StartTestEngine(TestEngineOptions("KSFontTest", "font"), &window, &viewport));
        KS_AllocMaterials(132);
        KSGFX_AllocTextures(132);
        baseline = KS_MemoryBlockCount();
    }
    void TearDown() override
    {
        KS_SetFont(nullptr);
        KSGFX_FreeTextures();
        KS_FreeMaterials();
        StopTestEngine(window);
        MarlixClockEnable(0);
        EXPECT_EQ(0, system(("rm -rf '" + directory + "'").c_str()));
    }
    std::string WriteLibrary(const std::vector<std::pair<std::string, Bytes>>& files)
    {
        std::vector<KSLibraryEntry> entries;
        for (const auto& f : files)
            entries.push_back(KSLibraryEntry{f.first.c_str(), f.second.data(), (int32_t)f.second.size()});
        std::string path = directory + "/test.pft";
        EXPECT_EQ(1, KS_WriteLibrary(path.c_str(), 7, "font", entries.data(), (int32_t)entries.size()));
        return path;
    }

    std::string directory;
    HWND window = nullptr;
    KSViewport viewport;
    int baseline = 0;
};

TEST_F(PageFont, LoadsPagesAndGivesEverythingBack)
{
    Bytes data = FontData("toy", 2, 'A', 'C',
                          {{'A', quarter}, {'B', {1, 0.25f, 0.0f, 0.5f, 0.25f}}, {'C', quarter}});
    std::string path = WriteLibrary({{"font.dat", data}, {"fontp0.tga", PageImage(64, 64)},
                                     {"fontp1.tga", PageImage(64, 64)}});
    KSFont* font = KS_LoadFont(path.c_str());
    ASSERT_NE(nullptr, font);
    EXPECT_EQ(0, KS_LibraryIsOpen());
    EXPECT_STREQ("toy", font->name);
    ASSERT_EQ(2, font->pageCount);
    for (int i = 0; i < 2; i++) {
        const KSFontPage& page = font->pages[i];
        ASSERT_NE(nullptr, page.entity) << i;
        std::string texture = "toytp" + std::to_string(i) + ".tga";
        std::string material = "toymat" + std::to_string(i);
        EXPECT_EQ(page.texture, KS_FindTexture(texture.c_str()));
        EXPECT_EQ(page.material, KS_FindMaterial(material.c_str()));
        EXPECT_EQ(page.texture, ksMaterials[page.material].textures[0]);
    }
    KS_FreeFont(font);
    EXPECT_LT(KS_FindTexture("toytp0.tga"), 0);
    EXPECT_LT(KS_FindTexture("toytp1.tga"), 0);
    EXPECT_LT(KS_FindMaterial("toymat1"), 0);
    EXPECT_EQ(baseline, KS_MemoryBlockCount());
}

TEST_F(PageFont, AMissingPageLeavesItsGlyphsUndrawnButSpaced)
{
    Bytes data = FontData("half", 2, 'A', 'B', {{'A', quarter}, {'B', {1, 0.0f, 0.0f, 0.25f, 0.125f}}});
    std::string path = WriteLibrary({{"font.dat", data}, {"fontp0.tga", PageImage(64, 64)}});
    KSFont* font = KS_LoadFont(path.c_str());
    ASSERT_NE(nullptr, font);
    EXPECT_NE(nullptr, font->pages[0].entity);
    EXPECT_EQ(nullptr, font->pages[1].entity);
    EXPECT_LT(font->pages[1].texture, 0);
    KS_SetFont(font);
    KS_SetTextScale(1.0f);
    KS_SetTextSpacing(1);
    // The last quad of the loaded page is the A, one B's advance in: the B after it, on the
    // missing page, was not drawn there.
    KS_DrawText(0, 0, "BAB");
    EXPECT_EQ(64.0f, LastQuad(font->pages[0]).x1);
    KS_FreeFont(font);
    EXPECT_EQ(nullptr, ksText.font) << "freeing the current font unselects it";
    EXPECT_EQ(baseline, KS_MemoryBlockCount());
}

TEST_F(PageFont, RefusedOrMissingMetricsLeaveNothingBehind)
{
    std::string path = WriteLibrary({{"fontp0.tga", PageImage(8, 8)}});
    EXPECT_EQ(nullptr, KS_LoadFont(path.c_str()));
    EXPECT_EQ(0, KS_LibraryIsOpen());
    Bytes bad = FontData("bad", 1, 'A', 'A', {{'A', {3, 0, 0, 0.1f, 0.1f}}});
    path = WriteLibrary({{"font.dat", bad}, {"fontp0.tga", PageImage(8, 8)}});
    EXPECT_EQ(nullptr, KS_LoadFont(path.c_str()));
    EXPECT_EQ(0, KS_LibraryIsOpen());
    EXPECT_EQ(baseline, KS_MemoryBlockCount());
    EXPECT_LT(KS_FindTexture("badtp0.tga"), 0);
}

TEST_F(PageFont, TextPlacesTexturedQuadsAndRestoresTheAmbientColour)
{
    const GlyphRecord glyphB = {0, 0.25f, 0.5f, 0.375f, 0.625f};   // 31 x 31
    Bytes data = FontData("q", 1, 'A', 'Z', {{'A', quarter}, {'B', glyphB}});
    std::string path = WriteLibrary({{"font.dat", data}, {"fontp0.tga", PageImage(256, 256)}});
    KSFont* font = KS_LoadFont(path.c_str());
    ASSERT_NE(nullptr, font);
    KS_SetFont(font);
    KS_SetTextScale(2.0f);
    KS_SetTextSpacing(3);
    KS_SetTextDepth(11.0f);
    KS_SetTextColor(255, 192, 0);
    ksGlobal.ambient[0] = 12.7f;
    ksGlobal.ambient[1] = 300.0f;
    ksGlobal.ambient[2] = -4.0f;

    EXPECT_EQ(126 + 3, KS_DrawChar(10, 20, 11.0f, 'A'));
    DrawnQuad a = LastQuad(font->pages[0]);
    EXPECT_EQ(10.0f, a.x1);
    EXPECT_EQ(20.0f, a.y1);
    EXPECT_EQ(10.0f + 126.0f, a.x2) << "63 texels at scale 2";
    EXPECT_EQ(20.0f + 62.0f, a.y2);
    EXPECT_EQ(11.0f, a.depth);

    // '@' lies below first: skipped without a gap, so B follows A by A's advance.
    KS_DrawText(10, 20, "A@B");
    DrawnQuad b = LastQuad(font->pages[0]);
    EXPECT_EQ(10.0f + 126.0f + 3.0f, b.x1) << "advance trunc(63 x 2 + 3)";
    EXPECT_EQ(10.0f + 129.0f + 62.0f, b.x2);
    // Face 1 (right, bottom) (left, bottom) (right, top); face 2 (right, top) (left, bottom) (left, top).
    const float u[6] = {0.375f, 0.25f, 0.375f, 0.375f, 0.25f, 0.25f};
    const float v[6] = {0.625f, 0.625f, 0.5f, 0.5f, 0.625f, 0.5f};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(u[i], b.u[i]) << i;
        EXPECT_EQ(v[i], b.v[i]) << i;
    }
    EXPECT_EQ(12.0f, ksGlobal.ambient[0]) << "restored as a whole number";
    EXPECT_EQ(255.0f, ksGlobal.ambient[1]);
    EXPECT_EQ(0.0f, ksGlobal.ambient[2]);
    KS_FreeFont(font);
}

}  // namespace
