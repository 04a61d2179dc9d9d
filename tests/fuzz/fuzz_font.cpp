// Texture-page font metrics (font.dat): the input is the metrics file. A file the parser accepts is
// measured and drawn glyph by glyph for every code, on pages without entities, so every size and
// page index the drawing reads comes from the file.
#include "fuzzing.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KSFont font;
    if (size > 1 << 16) return 0;
    memset(&font, 0, sizeof(font));
    if (!KS_ParseFontData(data, (int32_t)size, &font)) return 0;
    if (font.pageCount < 0 || font.pageCount > KS_FONT_MAX_PAGES) abort();
    static KSFontPage pages[KS_FONT_MAX_PAGES];
    memset(pages, 0, sizeof(pages));
    font.pages = pages;
    KS_SetFont(&font);
    KS_SetTextSpacing(1);
    KS_SetTextScale(1.0f);
    for (int code = 0; code < 512; code++) {
        int32_t height = KS_GetCharHeight(code);
        int32_t advance = KS_DrawChar(0, 0, 11.0f, code);
        // Coordinates lie in 0..1, so a glyph spans at most a page either way (a rectangle given
        // bottom-up draws mirrored, which is allowed).
        if (height < -257 || height > 256 || advance < -257 || advance > 257) abort();
    }
    char text[257];
    for (int i = 0; i < 256; i++) text[i] = (char)(i + 1);
    text[256] = 0;
    KS_DrawText(0, 0, text);
    KS_SetFont(nullptr);
    return 0;
}
