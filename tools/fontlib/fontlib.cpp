// Builds the visualizer's text font, the font library "cartoon.pft":
//
//     marlix_fontlib FONT-FILE FALLBACK-FONT-FILE OUT.pft
//
// Every character code 32..255 of the Windows-1252 code page (song titles carry accented letters)
// is rasterised with FreeType from a rounded outline font (the few characters it lacks come from
// the fallback font), given a dark outline so that it stays legible over moving pictures, and
// packed into 256 x 256 pages. The library holds the metrics file
// "font.dat" and the pages "fontp0.tga", "fontp1.tga", ... as 32-bit top-down TGA images, written
// with the engine's library writer.
//
// A glyph's cell is the whole box the text draws it into: its advance (widened where the outlined
// ink reaches beyond it) by the common line height, the baseline at the same row of every cell, so
// that glyphs drawn at one y line up and the height of any letter is the line height. The texel
// colour is white inside the letter and black in the outline; the text colour tints the white. Each
// cell carries one transparent column on its right and one row below it, which the font's metrics
// count (a cell of w + 1 texels stands for a glyph w texels wide) and which keep a filtered sample
// from picking up a neighbour's ink.
#include <kestra.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H

#include <algorithm>
#include <iconv.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// font.dat, little-endian: name, page count, first and last code, 256 glyph records of page and
// the texture rectangle left, top, right, bottom in 0..1.
const int kNameSize = 128;
const int kGlyphRecord = 20;
const int kFontDatSize = kNameSize + 12 + 256 * kGlyphRecord;  // 5260
const char kFontName[] = "cartoon";
const int kFirst = 32;
const int kLast = 255;

const int kPage = 256;              // page texels; the font's metrics assume this width
const int kPixelSize = 32;          // FreeType pixel size of the em
const int kOutline = 160;           // outline radius in 26.6 pixels (2.5 texels)
const int32_t kLibrarySeed = 1964;  // seed of the library's name scrambling

struct Bitmap {
    int left = 0, top = 0;          // of the first texel, pixels right of the pen and above the baseline
    int width = 0, rows = 0;
    std::vector<uint8_t> coverage;  // 0..255, rows top to bottom
};

struct Glyph {
    bool present = false;  // the code has a character in the code page
    Bitmap fill, outline;
    int advance = 0;       // pixels
};

struct Cell {
    int page, x, y, width, height;  // texels, gutters included
};

// The Unicode character of each Windows-1252 code, through the C library's converter; 0 for the
// five codes the code page leaves undefined.
uint32_t CodePageCharacter(iconv_t converter, int code) {
    char in = (char)code;
    uint32_t out = 0;
    char* inPointer = &in;
    size_t inLeft = 1;
    char* outPointer = (char*)&out;
    size_t outLeft = sizeof(out);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == (size_t)-1 || outLeft != 0) return 0;
    return out;
}

bool ToBitmap(FT_Glyph glyph, Bitmap* out) {
    if (FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) return false;
    FT_BitmapGlyph bitmapGlyph = (FT_BitmapGlyph)glyph;
    const FT_Bitmap& b = bitmapGlyph->bitmap;
    out->left = bitmapGlyph->left;
    out->top = bitmapGlyph->top;
    out->width = (int)b.width;
    out->rows = (int)b.rows;
    out->coverage.assign((size_t)out->width * out->rows, 0);
    for (int y = 0; y < out->rows; y++)
        for (int x = 0; x < out->width; x++)
            out->coverage[(size_t)y * out->width + x] = b.buffer[(ptrdiff_t)y * b.pitch + x];
    FT_Done_Glyph(glyph);
    return true;
}

// The glyph of one character: its fill and the outline stroked around it. The main font draws
// every character it has; the fallback the ones it lacks; neither having it, the main font's
// missing-glyph box stands in.
bool RenderGlyph(FT_Face main, FT_Face fallback, FT_Stroker stroker, uint32_t character, Glyph* out) {
    FT_Face face = main;
    FT_UInt index = FT_Get_Char_Index(main, character);
    if (index == 0 && character != 0 && FT_Get_Char_Index(fallback, character) != 0) {
        face = fallback;
        index = FT_Get_Char_Index(fallback, character);
    }
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0) return false;
    out->advance = (int)((face->glyph->advance.x + 32) >> 6);
    FT_Glyph fill = nullptr, border = nullptr;
    if (FT_Get_Glyph(face->glyph, &fill) != 0) return false;
    if (FT_Glyph_Copy(fill, &border) != 0) {
        FT_Done_Glyph(fill);
        return false;
    }
    bool ok = FT_Glyph_StrokeBorder(&border, stroker, 0, 1) == 0;
    ok = ok && ToBitmap(fill, &out->fill);      // both consume their glyph
    ok = ok && ToBitmap(border, &out->outline);
    return ok;
}

void PutInt32(std::vector<uint8_t>& bytes, size_t offset, int32_t value) {
    uint32_t v = (uint32_t)value;
    for (int i = 0; i < 4; i++) bytes[offset + i] = (uint8_t)(v >> (8 * i));
}

void PutFloat(std::vector<uint8_t>& bytes, size_t offset, float value) {
    uint32_t v;
    memcpy(&v, &value, sizeof(v));
    PutInt32(bytes, offset, (int32_t)v);
}

// A 32-bit uncompressed true-colour TGA, rows top to bottom (descriptor: 8 alpha bits, top origin).
std::vector<uint8_t> Tga(const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> bytes(18 + rgba.size());
    bytes[2] = 2;  // uncompressed true colour
    bytes[12] = (uint8_t)(kPage & 0xFF);
    bytes[13] = (uint8_t)(kPage >> 8);
    bytes[14] = (uint8_t)(kPage & 0xFF);
    bytes[15] = (uint8_t)(kPage >> 8);
    bytes[16] = 32;
    bytes[17] = 0x28;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        bytes[18 + i + 0] = rgba[i + 2];
        bytes[18 + i + 1] = rgba[i + 1];
        bytes[18 + i + 2] = rgba[i + 0];
        bytes[18 + i + 3] = rgba[i + 3];
    }
    return bytes;
}

// Lays the white fill over the black outline at (x, y) of a page, the baseline `baseline` rows
// below y and the pen `pen` columns right of x.
void Compose(std::vector<uint8_t>& page, const Glyph& g, int x, int y, int pen, int baseline) {
    auto coverage = [](const Bitmap& b, int px, int py) -> float {
        int bx = px - b.left, by = b.top - py - 1;
        if (bx < 0 || by < 0 || bx >= b.width || by >= b.rows) return 0.0f;
        return b.coverage[(size_t)by * b.width + bx] / 255.0f;
    };
    int x0 = std::min(g.fill.left, g.outline.left), x1 = std::max(g.fill.left + g.fill.width, g.outline.left + g.outline.width);
    int y0 = std::max(g.fill.top, g.outline.top), y1 = std::min(g.fill.top - g.fill.rows, g.outline.top - g.outline.rows);
    for (int py = y0 - 1; py >= y1; py--) {
        for (int px = x0; px < x1; px++) {
            float f = coverage(g.fill, px, py), o = coverage(g.outline, px, py);
            float alpha = f + o * (1.0f - f);
            if (alpha <= 0.0f) continue;
            int tx = x + pen + px, ty = y + baseline - 1 - py;
            uint8_t* t = &page[((size_t)ty * kPage + tx) * 4];
            uint8_t grey = (uint8_t)lrintf(255.0f * f / alpha);
            t[0] = t[1] = t[2] = grey;
            t[3] = (uint8_t)lrintf(255.0f * alpha);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s FONT-FILE FALLBACK-FONT-FILE OUT.pft\n", argv[0]);
        return 2;
    }
    FT_Library library;
    FT_Face faces[2];
    FT_Stroker stroker;
    if (FT_Init_FreeType(&library) != 0) {
        fprintf(stderr, "FreeType does not start\n");
        return 1;
    }
    for (int i = 0; i < 2; i++) {
        if (FT_New_Face(library, argv[1 + i], 0, &faces[i]) != 0 || FT_Set_Pixel_Sizes(faces[i], 0, kPixelSize) != 0) {
            fprintf(stderr, "%s: not a font FreeType can read\n", argv[1 + i]);
            return 1;
        }
    }
    FT_Stroker_New(library, &stroker);
    FT_Stroker_Set(stroker, kOutline, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    iconv_t converter = iconv_open("UTF-32LE", "CP1252");
    if (converter == (iconv_t)-1) {
        perror("iconv CP1252");
        return 1;
    }

    // Rasterise every code. The five codes the code page leaves undefined get the missing-glyph box,
    // so a damaged title shows where it is damaged.
    std::vector<Glyph> glyphs(256);
    int ascent = 0, descent = 0;  // ink rows above and below the baseline over all glyphs
    for (int code = kFirst; code <= kLast; code++) {
        Glyph& g = glyphs[code];
        uint32_t character = CodePageCharacter(converter, code);
        if (!RenderGlyph(faces[0], faces[1], stroker, character, &g)) {
            fprintf(stderr, "%s: cannot render U+%04X\n", argv[1], character);
            return 1;
        }
        g.present = true;
        for (const Bitmap* b : {&g.fill, &g.outline}) {
            if (b->rows == 0) continue;
            ascent = std::max(ascent, b->top);
            descent = std::max(descent, b->rows - b->top);
        }
    }
    iconv_close(converter);

    // Cells, packed row by row into pages; the first column of a page stays empty so that the
    // leftmost cell has a clear neighbour too.
    const int cellHeight = ascent + descent + 1;
    std::vector<Cell> cells(256);
    std::vector<int> pens(256);
    int page = 0, x = 1, y = 0;
    for (int code = kFirst; code <= kLast; code++) {
        const Glyph& g = glyphs[code];
        int left = 0, right = g.advance;
        for (const Bitmap* b : {&g.fill, &g.outline}) {
            if (b->width == 0) continue;
            left = std::min(left, b->left);
            right = std::max(right, b->left + b->width);
        }
        int width = right - left + 1;
        if (width > kPage - 1 || cellHeight > kPage) {
            fprintf(stderr, "%s: the glyph of code %d does not fit on a page\n", argv[1], code);
            return 1;
        }
        if (x + width > kPage) {
            x = 1;
            y += cellHeight;
        }
        if (y + cellHeight > kPage) {
            page++;
            y = 0;
        }
        cells[code] = {page, x, y, width, cellHeight};
        pens[code] = -left;
        x += width;
    }
    const int pageCount = page + 1;

    std::vector<std::vector<uint8_t>> pages(pageCount, std::vector<uint8_t>((size_t)kPage * kPage * 4, 0));
    std::vector<uint8_t> fontDat(kFontDatSize, 0);
    memcpy(&fontDat[0], kFontName, sizeof(kFontName));
    PutInt32(fontDat, kNameSize, pageCount);
    PutInt32(fontDat, kNameSize + 4, kFirst);
    PutInt32(fontDat, kNameSize + 8, kLast);
    for (int code = kFirst; code <= kLast; code++) {
        const Cell& c = cells[code];
        Compose(pages[c.page], glyphs[code], c.x, c.y, pens[code], ascent);
        size_t record = kNameSize + 12 + (size_t)code * kGlyphRecord;
        PutInt32(fontDat, record, c.page);
        PutFloat(fontDat, record + 4, (float)c.x / kPage);
        PutFloat(fontDat, record + 8, (float)c.y / kPage);
        PutFloat(fontDat, record + 12, (float)(c.x + c.width) / kPage);
        PutFloat(fontDat, record + 16, (float)(c.y + c.height) / kPage);
    }

    std::vector<std::vector<uint8_t>> images;
    std::vector<std::string> names;
    for (int i = 0; i < pageCount; i++) {
        images.push_back(Tga(pages[i]));
        names.push_back("fontp" + std::to_string(i) + ".tga");
    }
    std::vector<KSLibraryEntry> entries;
    entries.push_back({"font.dat", fontDat.data(), (int32_t)fontDat.size()});
    for (int i = 0; i < pageCount; i++) entries.push_back({names[i].c_str(), images[i].data(), (int32_t)images[i].size()});
    int32_t result = KS_WriteLibrary(argv[3], kLibrarySeed, "cartoon font", entries.data(), (int32_t)entries.size());

    FT_Stroker_Done(stroker);
    FT_Done_Face(faces[0]);
    FT_Done_Face(faces[1]);
    FT_Done_FreeType(library);
    if (result != 1) {
        fprintf(stderr, "%s: cannot write the font library\n", argv[3]);
        return 1;
    }
    return 0;
}
