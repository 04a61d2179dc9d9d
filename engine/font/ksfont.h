// Fonts. The engine has two kinds.
//
// The texture-page font: glyphs are rectangles on one or more texture pages, shipped in a library
// file together with a metrics file "font.dat"; each glyph is drawn as a textured screen quad
// through its page's overlay entity. font.dat (little-endian, 5260 bytes): 128 bytes font name,
// int32 page count, int32 first and last character code, then 256 glyph records of int32 page and
// float left, top, right, bottom (texture coordinates 0..1). Pages are "fontp%i.tga".
//
// The bitmap font: one bit per pixel glyphs in the "ZUK Font File" format,
// drawn into the frame buffer by KSGFX_DrawString. The engine carries one such font built in
// (128 glyphs of 8 x 8 for codes 0..127); others can be read from files.
//
// File layout (little-endian): 15 bytes "ZUK Font File  ", u16 offset of the glyph offset table,
// glyph records, then the table: one u16 record offset per character code. A record is u16 width
// (pixels, at most 64), u16 height (rows), then height rows of ceil(width / 8) bytes, most
// significant bit leftmost, a set bit is ink.
#ifndef KSFONT_H
#define KSFONT_H

#include <stdint.h>

struct KSOverlay;

// ---- Texture-page fonts ----

#define KS_FONT_NAME_SIZE 128
#define KS_FONT_GLYPHS 256
#define KS_FONT_DATA_SIZE 5260
#define KS_FONT_MAX_PAGES 64      // far beyond any texture table the engine is given

struct KSFontGlyph {
    int32_t page;
    float left, top, right, bottom;
};

// A page: texture, material, sprite object and entity, as an overlay set entry makes them.
typedef KSOverlay KSFontPage;

struct KSFont {
    char name[KS_FONT_NAME_SIZE];   // always terminated
    int32_t pageCount;
    int32_t first;
    int32_t last;
    KSFontGlyph glyphs[KS_FONT_GLYPHS];
    KSFontPage* pages;              // pageCount entries; a page whose image did not load is empty
};

// The engine-wide text state that KS_DrawText reads.
struct KSTextState {
    KSFont* font;
    float scale;
    int32_t spacing;      // pixels added to every advance
    float depth;          // camera-space depth of the glyph quads
    uint8_t colour[3];    // red, green, blue
};
extern KSTextState ksText;

// Reads font.dat into the font record (pages left alone). Returns 1, or 0 when the data is short,
// the page count is negative or above KS_FONT_MAX_PAGES, or a glyph of first..last names a page
// outside the font or has a coordinate that is not a number in 0..1.
int32_t KS_ParseFontData(const uint8_t* data, int32_t size, KSFont* font);
// Loads a texture-page font from a library file; null when font.dat is missing or refused.
KSFont* KS_LoadFont(const char* path);
void KS_FreeFont(KSFont* font);

void KS_SetFont(KSFont* font);
void KS_SetTextScale(float scale);
void KS_SetTextSpacing(int32_t spacing);
void KS_SetTextDepth(float depth);
void KS_SetTextColor(uint8_t red, uint8_t green, uint8_t blue);

// A text position or advance in whole pixels: truncated towards zero, kept within +-2^24 (far off
// any screen) so that a huge scale or size still makes a coordinate an int can hold; NaN gives 0.
int32_t KS_TextCoordinate(float value);

// Glyph height in page texels of code & 0xFF in the current font, trunc(256 * (bottom - top)) - 1;
// 0 when there is no font or the code is outside first..last.
int32_t KS_GetCharHeight(int32_t code);
// Draws one glyph with its top-left corner at (x, y); returns the advance, 0 for a code outside
// first..last. A glyph on a page without an entity is not drawn but still advances.
int32_t KS_DrawChar(int32_t x, int32_t y, float depth, int32_t code);
// Draws a terminated string in the text colour; codes outside first..last are skipped.
void KS_DrawText(int32_t x, int32_t y, const char* text);

#define KS_BITMAPFONT_MAGIC "ZUK Font File  "
#define KS_BITMAPFONT_MAGIC_SIZE 15
#define KS_BITMAPFONT_MAX_WIDTH 64
#define KS_BITMAPFONT_MAX_GLYPHS 256

// A bitmap font in memory. glyphCount is the number of table entries that lie inside the data
// (at most 256); codes at or above it have no glyph.
struct KSBitmapFont {
    const uint8_t* data;
    int32_t size;
    int32_t tableOffset;
    int32_t glyphCount;
    int32_t owned;        // data was allocated by the reader and is freed with the font
};

// One glyph as found through the offset table.
struct KSBitmapGlyph {
    int32_t width;          // pixels, also the advance
    int32_t height;         // rows
    int32_t bytesPerRow;
    const uint8_t* rows;    // height * bytesPerRow bytes
};

// The built-in font (never freed).
const KSBitmapFont* KS_BuiltinBitmapFont(void);

// Looks up a code: 1 with the glyph filled, or 0 when the code is negative, at or above the
// font's glyph count, or its record does not fit in the data (width above 64 included).
int KS_GetBitmapGlyph(const KSBitmapFont* font, int code, KSBitmapGlyph* glyph);

// Checks and copies a font image; null when it is not a bitmap font (bad magic, table outside).
KSBitmapFont* KS_MakeBitmapFont(const uint8_t* data, int32_t size);
// Reads a bitmap-font file through the engine's file layer (KS_OpenFile); null on failure.
KSBitmapFont* KS_LoadBitmapFont(const char* name);
void KS_FreeBitmapFont(KSBitmapFont* font);

// The font KSGFX_DrawString uses; null selects the built-in one.
void KS_SetBitmapFont(const KSBitmapFont* font);

#endif
