// The text over every scene: the song title top left, the user's text bottom left and, for two
// seconds after an arrow key, the three-line playlist browser. Every text is drawn twice, a black
// copy 2 pixels right and down under the coloured one. Each frame first lays the texts out, then
// draws the list.
#include "vis.h"

static void Put(VisTextDraw* out, int* n, const char* text, int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    VisTextDraw* draw = &out[(*n)++];
    draw->text = text;
    draw->x = x;
    draw->y = y;
    draw->colour[0] = r;
    draw->colour[1] = g;
    draw->colour[2] = b;
}

int VisLayoutCaptions(float height, int lineHeight, VisTextDraw* out)
{
    int n = 0;
    if (visSettings.SongTitle) {
        Put(out, &n, songTitle, 12, 12, 0, 0, 0);
        Put(out, &n, songTitle, 10, 10, 255, 255, 255);
    }
    if (visSettings.ShowCustom) {
        float y = height - (float)lineHeight * visSettings.FontScale - 10.0f;
        Put(out, &n, visSettings.CustomString, 12, KS_TextCoordinate(y + 2.0f), 0, 0, 0);
        Put(out, &n, visSettings.CustomString, 10, KS_TextCoordinate(y), 255, 255, 255);
    }
    return n;
}

int VisLayoutPlaylist(float height, int step, VisTextDraw* out)
{
    int n = 0;
    float middle = height * 0.5f;
    for (int d = -1; d <= 1; d++) {
        int row = visPlaylist.cursor + d;
        if (row < 0 || row >= visPlaylist.count)
            continue;
        // A title whose copy could not be made is an empty row.
        const char* title = visPlaylist.titles[row] ? visPlaylist.titles[row] : "";
        float y = middle + (float)d * (float)step;
        Put(out, &n, title, 12, KS_TextCoordinate(y + 2.0f), 0, 0, 0);
        // The playing title is light blue even where the cursor stands.
        if (row == visPlaylist.playing)
            Put(out, &n, title, 10, KS_TextCoordinate(y), 0, 192, 255);
        else if (d == 0)
            Put(out, &n, title, 10, KS_TextCoordinate(y), 255, 192, 0);
        else
            Put(out, &n, title, 10, KS_TextCoordinate(y), 255, 255, 255);
    }
    return n;
}

static void DrawTexts(const VisTextDraw* draws, int count)
{
    for (int i = 0; i < count; i++) {
        KS_SetTextColor(draws[i].colour[0], draws[i].colour[1], draws[i].colour[2]);
        KS_DrawText(draws[i].x, draws[i].y, draws[i].text);
    }
}

static void SetTextState(void)
{
    KS_SetTextSpacing(1);
    KS_SetTextDepth(visScene.camera->nearDist + 1.0f);
    KS_SetFont(visScene.font);
    KS_SetTextScale(visSettings.FontScale);
}

void VisDrawOverlay(VisModule* module)
{
    SetTextState();
    KS_SetTextColor(255, 255, 255);
    VisReadSongTitle();
    VisTextDraw draws[VIS_CAPTION_DRAWS];
    DrawTexts(draws, VisLayoutCaptions(ksGlobal.viewport.height, KS_GetCharHeight('G'), draws));
    if (visPlaylist.timer > 0)
        VisDrawPlaylist(module);
}

void VisDrawPlaylist(VisModule* module)
{
    SetTextState();
    int step = KS_TextCoordinate((float)KS_GetCharHeight('G') * visSettings.FontScale);
    visPlaylist.playing = VisHostPlaylistPosition(module);
    VisTextDraw draws[VIS_PLAYLIST_DRAWS];
    DrawTexts(draws, VisLayoutPlaylist(ksGlobal.viewport.height, step, draws));
}
