// The font library: the same bytes on every build, read back through the engine's library reader
// and TGA loader. The metrics file is checked against its documented layout, the pages against the
// TGA header fields of the format's standard, and the glyph cells against the ink on the pages:
// every glyph inside its cell, cells apart, one baseline, the letters of Windows-1252 where they
// belong.
#include "tools_fixture.h"

#include <kestra.h>

#include <string.h>

#include <algorithm>
#include <map>

#define KS_MODULE "fontlib_test"

namespace {

const int kPage = 256;

struct GlyphCell {
    int32_t page;
    float left, top, right, bottom;
    int X0() const { return (int)(left * kPage); }
    int Y0() const { return (int)(top * kPage); }
    int X1() const { return (int)(right * kPage); }   // exclusive
    int Y1() const { return (int)(bottom * kPage); }  // exclusive
};

struct Font {
    std::string name;
    int32_t pages = 0, first = 0, last = 0;
    GlyphCell cells[256];
    std::vector<Bytes> tga;                  // the page files as stored
    std::vector<std::vector<uint8_t>> rgba;  // the pages as the engine decodes them
};

int32_t Int32At(const Bytes& b, size_t offset) {
    return (int32_t)((uint32_t)b[offset] | (uint32_t)b[offset + 1] << 8 | (uint32_t)b[offset + 2] << 16 |
                     (uint32_t)b[offset + 3] << 24);
}

float FloatAt(const Bytes& b, size_t offset) {
    uint32_t bits = (uint32_t)Int32At(b, offset);
    float value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

class FontLibraryTest : public BuilderTest {
protected:
    void SetUp() override {
        BuilderTest::SetUp();
        KS_MemoryInit();
        KS_ClearLibraryHandlers();
        KS_RegisterLibraryHandlers();
    }
    void TearDown() override {
        if (KS_LibraryIsOpen()) KS_CloseLibrary();
        EXPECT_EQ(0, KS_MemoryBlockCount());
        KS_MemoryShutdown();
        BuilderTest::TearDown();
    }
    std::string Build(const std::string& name) {
        return Run(MARLIX_FONTLIB_TOOL, MARLIX_FONT_FILES, name);
    }
    static Bytes Entry(const char* name) {
        Bytes bytes;
        KSFile* file = KS_OpenFile(name);
        if (file) {
            bytes.assign(file->data, file->data + file->size);
            KS_CloseFile(file);
        }
        return bytes;
    }
    // Reads the library the way the engine's font loader does.
    void Load(const std::string& path, Font* font) {
        KS_OpenLibrary(path.c_str());
        Bytes dat = Entry("font.dat");
        ASSERT_EQ(5260u, dat.size());
        font->name.assign((const char*)dat.data(), strnlen((const char*)dat.data(), 128));
        font->pages = Int32At(dat, 128);
        font->first = Int32At(dat, 132);
        font->last = Int32At(dat, 136);
        for (int c = 0; c < 256; c++) {
            size_t r = 140 + 20 * (size_t)c;
            font->cells[c] = {Int32At(dat, r), FloatAt(dat, r + 4), FloatAt(dat, r + 8), FloatAt(dat, r + 12),
                              FloatAt(dat, r + 16)};
        }
        ASSERT_GE(font->pages, 1);
        ASSERT_LE(font->pages, 16);
        for (int i = 0; i < font->pages; i++) {
            std::string name = "fontp" + std::to_string(i) + ".tga";
            font->tga.push_back(Entry(name.c_str()));
            int32_t width = 0, height = 0;
            uint8_t* texels = KS_LoadTGA(name.c_str(), &width, &height);
            ASSERT_NE(nullptr, texels) << name;
            ASSERT_EQ(kPage, width);
            ASSERT_EQ(kPage, height);
            font->rgba.emplace_back(texels, texels + kPage * kPage * 4);
            KS_FREE(texels);
        }
        // Nothing else in the library: one metrics file and its pages.
        EXPECT_EQ(1 + font->pages, KS_LibraryEntryCount());
        KS_CloseLibrary();
    }
    static const uint8_t* Texel(const Font& f, int page, int x, int y) {
        return &f.rgba[page][((size_t)y * kPage + x) * 4];
    }
    // The first and last rows of a cell that hold ink; -1, -1 for an empty cell.
    static std::pair<int, int> InkRows(const Font& f, int code) {
        const GlyphCell& c = f.cells[code];
        int top = -1, bottom = -1;
        for (int y = c.Y0(); y < c.Y1(); y++)
            for (int x = c.X0(); x < c.X1(); x++)
                if (Texel(f, c.page, x, y)[3] > 128) {
                    if (top < 0) top = y - c.Y0();
                    bottom = y - c.Y0();
                }
        return {top, bottom};
    }
    static bool SameInk(const Font& f, int a, int b) {
        const GlyphCell &ca = f.cells[a], &cb = f.cells[b];
        if (ca.X1() - ca.X0() != cb.X1() - cb.X0()) return false;
        for (int y = 0; y < ca.Y1() - ca.Y0(); y++)
            for (int x = 0; x < ca.X1() - ca.X0(); x++)
                if (Texel(f, ca.page, ca.X0() + x, ca.Y0() + y)[3] != Texel(f, cb.page, cb.X0() + x, cb.Y0() + y)[3])
                    return false;
        return true;
    }
};

}  // namespace

TEST_F(FontLibraryTest, SameBytesOnEveryBuild) {
    Bytes first = Read(Build("a.pft"));
    Bytes second = Read(Build("b.pft"));
    ASSERT_GT(first.size(), 5260u);
    EXPECT_TRUE(first == second);
}

TEST_F(FontLibraryTest, MetricsAndPagesFollowTheirFormats) {
    Font font;
    ASSERT_NO_FATAL_FAILURE(Load(Build("cartoon.pft"), &font));
    EXPECT_EQ("cartoon", font.name);
    EXPECT_EQ(32, font.first);
    EXPECT_EQ(255, font.last);
    for (int i = 0; i < font.pages; i++) {
        const Bytes& t = font.tga[i];
        ASSERT_EQ(18u + kPage * kPage * 4, t.size());
        EXPECT_EQ(0, t[0]);                        // no image id
        EXPECT_EQ(0, t[1]);                        // no colour map
        EXPECT_EQ(2, t[2]);                        // uncompressed true colour
        EXPECT_EQ(kPage, t[12] | t[13] << 8);      // width
        EXPECT_EQ(kPage, t[14] | t[15] << 8);      // height
        EXPECT_EQ(32, t[16]);                      // bits per pixel
        EXPECT_EQ(8, t[17] & 0x0F);                // alpha bits
        EXPECT_EQ(0x20, t[17] & 0x30);             // first row at the top, left to right
    }
    // Codes below the first are never drawn: their records stay empty.
    for (int c = 0; c < 32; c++) EXPECT_EQ(0.0f, font.cells[c].right) << c;
    int lineHeight = (int)(256 * (font.cells['G'].bottom - font.cells['G'].top)) - 1;
    EXPECT_GE(lineHeight, 30);  // about 20 pixels at the default text scale of one half
    EXPECT_LE(lineHeight, 60);
    for (int c = 32; c <= 255; c++) {
        const GlyphCell& g = font.cells[c];
        ASSERT_GE(g.page, 0) << c;
        ASSERT_LT(g.page, font.pages) << c;
        // Whole texels inside the page, and the glyph sizes the engine derives from them.
        ASSERT_EQ(g.left * kPage, (float)g.X0()) << c;
        ASSERT_EQ(g.right * kPage, (float)g.X1()) << c;
        ASSERT_TRUE(g.X0() >= 0 && g.X1() <= kPage && g.Y0() >= 0 && g.Y1() <= kPage) << c;
        EXPECT_GE((int)(256 * (g.right - g.left)) - 1, 4) << c;
        EXPECT_EQ(lineHeight, (int)(256 * (g.bottom - g.top)) - 1) << c;
    }
}

TEST_F(FontLibraryTest, EveryGlyphInItsOwnCell) {
    Font font;
    ASSERT_NO_FATAL_FAILURE(Load(Build("cartoon.pft"), &font));
    std::vector<std::vector<int>> owner(font.pages, std::vector<int>(kPage * kPage, -1));
    for (int c = 32; c <= 255; c++) {
        const GlyphCell& g = font.cells[c];
        for (int y = g.Y0(); y < g.Y1(); y++)
            for (int x = g.X0(); x < g.X1(); x++) {
                ASSERT_EQ(-1, owner[g.page][y * kPage + x]) << "cells of " << c << " and " << owner[g.page][y * kPage + x] << " overlap";
                owner[g.page][y * kPage + x] = c;
                // The last column and row of a cell stay clear, so a neighbour's ink never shows.
                if (x == g.X1() - 1 || y == g.Y1() - 1) {
                    ASSERT_EQ(0, Texel(font, g.page, x, y)[3]) << c;
                }
            }
    }
    for (int p = 0; p < font.pages; p++)
        for (int i = 0; i < kPage * kPage; i++)
            if (owner[p][i] < 0) {
                ASSERT_EQ(0, font.rgba[p][i * 4 + 3]) << "ink outside every cell on page " << p;
            }
    // Letters are white with a dark outline, so the text colour tints them and they stay legible.
    const GlyphCell& g = font.cells['O'];
    int fill = 0, outline = 0;
    for (int y = g.Y0(); y < g.Y1(); y++)
        for (int x = g.X0(); x < g.X1(); x++) {
            const uint8_t* t = Texel(font, g.page, x, y);
            fill += t[3] == 255 && t[0] == 255 && t[1] == 255 && t[2] == 255;
            outline += t[3] == 255 && t[0] < 32 && t[1] < 32 && t[2] < 32;
        }
    EXPECT_GT(fill, 40);
    EXPECT_GT(outline, 40);
}

TEST_F(FontLibraryTest, LettersOfTheCodePageShareOneBaseline) {
    Font font;
    ASSERT_NO_FATAL_FAILURE(Load(Build("cartoon.pft"), &font));
    EXPECT_EQ(-1, InkRows(font, ' ').first);
    EXPECT_EQ(-1, InkRows(font, 0xA0).first);  // no-break space
    int baseline = InkRows(font, 'x').second;
    for (int c : std::vector<int>{'A', 'B', 'H', 'a', 'm', 'z', '1', 0xC9 /* E acute */, 0xDF /* sharp s */})
        EXPECT_NEAR(baseline, InkRows(font, c).second, 1) << c;
    EXPECT_GT(InkRows(font, 'g').second, baseline + 4);
    // Accented letters carry their marks above the plain ones: the codes are read as Windows-1252.
    const std::map<int, int> accented = {{0xE9, 'e'}, {0xC4, 'A'}, {0xF1, 'n'}, {0x9F, 'Y'}, {0x8A, 'S'}, {0x9A, 's'}};
    for (const auto& pair : accented) {
        EXPECT_LT(InkRows(font, pair.first).first, InkRows(font, pair.second).first - 2) << pair.first;
        EXPECT_FALSE(SameInk(font, pair.first, pair.second)) << pair.first;
    }
    // 0x80 is the euro sign, a letter of its own. The codes the code page leaves empty, and the
    // control code 127, show the missing-glyph box; no character of the code page does, not even
    // those the main font lacks (the dagger, per mille, florin).
    EXPECT_NE(-1, InkRows(font, 0x80).first);
    EXPECT_FALSE(SameInk(font, 0x80, 'C'));
    const std::vector<int> empty = {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D};
    for (int c = 32; c <= 255; c++) {
        bool box = std::find(empty.begin(), empty.end(), c) != empty.end();
        EXPECT_EQ(box, SameInk(font, c, 0x81)) << c;
    }
}
