// Fonts. This holds the bitmap font: one bit per pixel glyphs in the "ZUK Font File" format,
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
