// The bitmap font: the built-in 8 x 8 font, glyph lookup through the offset table, and a reader for
// font files in the same format.
#define KS_MODULE "ksfont"
#include "kestra.h"

#include <stdio.h>
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

// ---------------------------------------------------------------------------- Texture-page fonts

KSTextState ksText = {nullptr, 1.0f, 0, 0.0f, {255, 255, 255}};

static int32_t ReadI32(const uint8_t* p) {
    return (int32_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
}

static float ReadF32(const uint8_t* p) {
    uint32_t bits = (uint32_t)ReadI32(p);
    float value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

static int CoordinateOk(float value) {
    return value >= 0.0f && value <= 1.0f;   // false for NaN too
}

int32_t KS_ParseFontData(const uint8_t* data, int32_t size, KSFont* font) {
    if (!data || !font || size < KS_FONT_DATA_SIZE) return 0;
    memcpy(font->name, data, KS_FONT_NAME_SIZE);
    font->name[KS_FONT_NAME_SIZE - 1] = 0;
    font->pageCount = ReadI32(data + 128);
    font->first = ReadI32(data + 132);
    font->last = ReadI32(data + 136);
    const uint8_t* record = data + 140;
    for (int i = 0; i < KS_FONT_GLYPHS; i++, record += 20) {
        KSFontGlyph* glyph = &font->glyphs[i];
        glyph->page = ReadI32(record);
        glyph->left = ReadF32(record + 4);
        glyph->top = ReadF32(record + 8);
        glyph->right = ReadF32(record + 12);
        glyph->bottom = ReadF32(record + 16);
    }
    if (font->pageCount < 0 || font->pageCount > KS_FONT_MAX_PAGES) return 0;
    // Only the glyphs of first..last are ever drawn or measured; those must name a page of the font
    // and stay on it, so sizes and texture coordinates are sane whatever the file holds.
    int32_t first = font->first < 0 ? 0 : font->first;
    int32_t last = font->last > KS_FONT_GLYPHS - 1 ? KS_FONT_GLYPHS - 1 : font->last;
    for (int32_t c = first; c <= last; c++) {
        const KSFontGlyph* glyph = &font->glyphs[c];
        if (glyph->page < 0 || glyph->page >= font->pageCount) return 0;
        if (!CoordinateOk(glyph->left) || !CoordinateOk(glyph->top) || !CoordinateOk(glyph->right) ||
            !CoordinateOk(glyph->bottom))
            return 0;
    }
    return 1;
}

// Makes page i: its image as a texture and the overlay material, sprite object and entity on it.
static void LoadFontPage(KSFont* font, int32_t i) {
    KS_SetTextureStage(0);
    KS_SetTextureFormat(4);
    char name[KS_FONT_NAME_SIZE + 32];
    snprintf(name, sizeof(name), "fontp%i.tga", (int)i);
    int32_t width = 0, height = 0;
    uint8_t* pixels = KS_LoadTGA(name, &width, &height);
    if (!pixels) return;
    snprintf(name, sizeof(name), "%stp%i.tga", font->name, (int)i);
    int32_t texture = KS_AddTextureRGBA(name, pixels, width, height);
    if (texture < 0) return;
    font->pages[i].texture = texture;

    KSOverlaySet set;
    memset(&set, 0, sizeof(set));
    memcpy(set.name, font->name, sizeof(set.name) - 1);
    set.count = font->pageCount;
    set.entries = font->pages;
    KS_MakeOverlayMaterial(&set, i);
}

KSFont* KS_LoadFont(const char* path) {
    if (!path) return nullptr;
    KS_OpenLibrary(path);
    KSFile* file = KS_OpenFile("font.dat");
    if (!file) {
        KS_CloseLibrary();
        return nullptr;
    }
    KSFont* font = (KSFont*)KS_ALLOC(sizeof(KSFont));
    if (!font) {
        KS_CloseFile(file);
        KS_CloseLibrary();
        KS_FatalError("Cannot allocate font buffer", " ");
    }
    int32_t parsed = KS_ParseFontData(file->data, file->size, font);
    KS_CloseFile(file);
    if (parsed && font->pageCount > 0)
        font->pages = (KSFontPage*)KS_ALLOC(sizeof(KSFontPage) * font->pageCount);
    if (!parsed || (font->pageCount > 0 && !font->pages)) {
        KS_LogError("Font file refused", path);
        KS_FREE(font);
        KS_CloseLibrary();
        return nullptr;
    }
    for (int32_t i = 0; i < font->pageCount; i++) {
        font->pages[i].texture = -1;   // no texture until its image loads
        LoadFontPage(font, i);
    }
    KS_CloseLibrary();
    return font;
}

void KS_FreeFont(KSFont* font) {
    if (!font) return;
    if (ksText.font == font) ksText.font = nullptr;
    for (int32_t i = 0; i < font->pageCount && font->pages; i++) {
        KSFontPage* page = &font->pages[i];
        // The entity before the object it places.
        KS_FreeEntity(page->entity);
        if (page->object) KS_FreeObject(page->object);
        // By index: material names are cut to 19 characters, so two pages of a long font name
        // could share one.
        KSMaterial* material = page->entity ? KS_GetMaterial(page->material) : nullptr;
        if (material) material->name[0] = 0;
        if (page->texture >= 0 && ksTextures && page->texture < ksTextureCount && ksTextures[page->texture].name)
            KS_DeleteTexture(ksTextures[page->texture].name);
    }
    KS_FREE(font->pages);
    KS_FREE(font);
}

void KS_SetFont(KSFont* font) { ksText.font = font; }
void KS_SetTextScale(float scale) { ksText.scale = scale; }
void KS_SetTextSpacing(int32_t spacing) { ksText.spacing = spacing; }
void KS_SetTextDepth(float depth) { ksText.depth = depth; }

void KS_SetTextColor(uint8_t red, uint8_t green, uint8_t blue) {
    ksText.colour[0] = red;
    ksText.colour[1] = green;
    ksText.colour[2] = blue;
}

// The glyph of code & 0xFF in the current font, or null outside first..last.
static const KSFontGlyph* FindGlyph(int32_t code) {
    const KSFont* font = ksText.font;
    code &= 0xFF;
    if (!font || code < font->first || code > font->last) return nullptr;
    return &font->glyphs[code];
}

int32_t KS_TextCoordinate(float value) {
    const float limit = 16777216.0f;
    if (!(value > -limit)) return value != value ? 0 : -(int32_t)limit;
    if (value > limit) return (int32_t)limit;
    return (int32_t)value;
}

int32_t KS_GetCharHeight(int32_t code) {
    const KSFontGlyph* glyph = FindGlyph(code);
    return glyph ? (int32_t)(256.0f * (glyph->bottom - glyph->top)) - 1 : 0;
}

int32_t KS_DrawChar(int32_t x, int32_t y, float depth, int32_t code) {
    const KSFontGlyph* glyph = FindGlyph(code);
    if (!glyph) return 0;
    float scale = ksText.scale;
    int32_t width = (int32_t)(256.0f * (glyph->right - glyph->left)) - 1;
    int32_t height = (int32_t)(256.0f * (glyph->bottom - glyph->top)) - 1;
    const KSFontPage* page = &ksText.font->pages[glyph->page];
    KSEntity* entity = page->entity;
    if (entity) {
        // The two faces of the page quad take the glyph's rectangle of the page.
        KSFace* faces = entity->object->segments[0].faces;
        const float u1[3] = {glyph->right, glyph->left, glyph->right};
        const float v1[3] = {glyph->bottom, glyph->bottom, glyph->top};
        const float u2[3] = {glyph->right, glyph->left, glyph->left};
        const float v2[3] = {glyph->top, glyph->bottom, glyph->top};
        memcpy(faces[0].u, u1, sizeof(u1));
        memcpy(faces[0].v, v1, sizeof(v1));
        memcpy(faces[1].u, u2, sizeof(u2));
        memcpy(faces[1].v, v2, sizeof(v2));
        KS_DrawSprite(entity, (float)x, (float)y, (float)KS_TextCoordinate((float)x + (float)width * scale),
                      (float)KS_TextCoordinate((float)y + (float)height * scale), depth);
    }
    return KS_TextCoordinate((float)width * scale + (float)ksText.spacing);
}

void KS_DrawText(int32_t x, int32_t y, const char* text) {
    if (!text) return;
    // The page materials are black, so a face-lit glyph quad takes exactly the ambient colour:
    // that is the drawing colour of the text while it is drawn.
    float saved[3];
    memcpy(saved, ksGlobal.ambient, sizeof(saved));
    for (int i = 0; i < 3; i++) ksGlobal.ambient[i] = (float)ksText.colour[i];
    // The pen stops at the coordinate limit instead of running past what an int holds.
    for (const unsigned char* c = (const unsigned char*)text; *c; c++)
        x = KS_TextCoordinate((float)x + (float)KS_DrawChar(x, y, ksText.depth, *c));
    for (int i = 0; i < 3; i++) {
        float value = saved[i] < 0.0f ? 0.0f : (saved[i] > 255.0f ? 255.0f : saved[i]);
        ksGlobal.ambient[i] = (float)(int32_t)value;
    }
}
