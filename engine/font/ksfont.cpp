// The bitmap font: the built-in 8 x 8 font, glyph lookup through the offset table, and a reader for
// font files in the same format.
#define KS_MODULE "ksfont"
#include "kestra.h"

#include <string.h>

static const uint8_t builtinFontData[] = {
#include "ksfont8x8.inc"
};

static const KSBitmapFont builtinFont = {
    builtinFontData, (int32_t)sizeof(builtinFontData), 1553, 128, 0};

static uint16_t ReadU16(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

const KSBitmapFont* KS_BuiltinBitmapFont(void) {
    return &builtinFont;
}

int KS_GetBitmapGlyph(const KSBitmapFont* font, int code, KSBitmapGlyph* glyph) {
    if (!font || code < 0 || code >= font->glyphCount) return 0;
    int32_t entry = font->tableOffset + 2 * code;
    if (entry + 2 > font->size) return 0;
    int32_t offset = ReadU16(font->data + entry);
    if (offset + 4 > font->size) return 0;
    int32_t width = ReadU16(font->data + offset);
    int32_t height = ReadU16(font->data + offset + 2);
    if (width > KS_BITMAPFONT_MAX_WIDTH) return 0;
    int32_t bytesPerRow = (width + 7) / 8;
    if (offset + 4 + height * bytesPerRow > font->size) return 0;
    glyph->width = width;
    glyph->height = height;
    glyph->bytesPerRow = bytesPerRow;
    glyph->rows = font->data + offset + 4;
    return 1;
}

KSBitmapFont* KS_MakeBitmapFont(const uint8_t* data, int32_t size) {
    if (!data || size < KS_BITMAPFONT_MAGIC_SIZE + 2) return nullptr;
    if (memcmp(data, KS_BITMAPFONT_MAGIC, KS_BITMAPFONT_MAGIC_SIZE) != 0) return nullptr;
    int32_t table = ReadU16(data + KS_BITMAPFONT_MAGIC_SIZE);
    if (table < KS_BITMAPFONT_MAGIC_SIZE + 2 || table > size) return nullptr;
    int32_t count = (size - table) / 2;
    if (count > KS_BITMAPFONT_MAX_GLYPHS) count = KS_BITMAPFONT_MAX_GLYPHS;

    KSBitmapFont* font = (KSBitmapFont*)KS_ALLOC(sizeof(KSBitmapFont));
    uint8_t* copy = (uint8_t*)KS_ALLOC(size);
    if (!font || !copy) {
        if (font) KS_FREE(font);
        if (copy) KS_FREE(copy);
        return nullptr;
    }
    memcpy(copy, data, size);
    font->data = copy;
    font->size = size;
    font->tableOffset = table;
    font->glyphCount = count;
    font->owned = 1;
    return font;
}

KSBitmapFont* KS_LoadBitmapFont(const char* name) {
    KSFile* file = KS_OpenFile(name);
    if (!file) return nullptr;
    KSBitmapFont* font = KS_MakeBitmapFont(file->data, file->size);
    KS_CloseFile(file);
    return font;
}

void KS_FreeBitmapFont(KSBitmapFont* font) {
    if (!font || font == &builtinFont) return;
    if (ksGlobal.bitmapFont == font) ksGlobal.bitmapFont = nullptr;
    if (font->owned) KS_FREE((void*)font->data);
    KS_FREE(font);
}

void KS_SetBitmapFont(const KSBitmapFont* font) {
    ksGlobal.bitmapFont = font;
}
