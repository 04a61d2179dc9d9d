// Everything the plug-in says to the host's main window: playlist requests, play commands,
// forwarded keys, the end-of-run notice, and the song title read from the window's text.
#include "vis.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

VisPlaylist visPlaylist;
char songTitle[VIS_SONG_TITLE_SIZE];

static int MatchesNoCase(const char* text, const char* pattern, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (tolower((unsigned char)text[i]) != tolower((unsigned char)pattern[i]))
            return 0;
    return 1;
}

static LRESULT HostRequest(VisModule* module, WPARAM wParam, LPARAM code)
{
    return SendMessageA(module->parentWindow, WM_USER, wParam, code);
}

void VisTitleFromWindowText(const char* text, char* title, size_t titleSize)
{
    static const char suffix[] = "- Winamp";
    const size_t suffixLength = sizeof(suffix) - 1;
    size_t length = 0;
    while (length < VIS_HOST_TITLE_SIZE && text[length])
        length++;
    size_t found = 0;
    // From the end towards the start, so the last occurrence wins; one at position 0 leaves no title.
    for (size_t i = length >= suffixLength ? length - suffixLength : 0; i > 0; i--) {
        if (MatchesNoCase(text + i, suffix, suffixLength)) {
            found = i;
            break;
        }
    }
    size_t end = found;
    while (end > 0 && text[end - 1] == ' ')
        end--;
    if (titleSize == 0)
        return;
    if (end >= titleSize)
        end = titleSize - 1;  // long titles are cut to the buffer
    memcpy(title, text, end);
    title[end] = 0;
}

void VisReadSongTitle(void)
{
    HWND host = FindWindowA(VIS_HOST_WINDOW_CLASS, NULL);
    if (!host)
        return;
    char text[VIS_HOST_TITLE_SIZE];
    int length = GetWindowTextA(host, text, sizeof(text));
    if (length < 0)
        length = 0;
    text[length < (int)sizeof(text) ? length : (int)sizeof(text) - 1] = 0;
    VisTitleFromWindowText(text, songTitle, sizeof(songTitle));
}

void VisFreePlaylist(void)
{
    for (int i = 0; i < VIS_PLAYLIST_MAX; i++) {
        free(visPlaylist.titles[i]);
        visPlaylist.titles[i] = NULL;
    }
    visPlaylist.count = 0;
}

void VisReadPlaylist(VisModule* module)
{
    LRESULT length = HostRequest(module, 0, VIS_HOST_PLAYLIST_LENGTH);
    if (length < 0)
        length = 0;
    if (length > VIS_PLAYLIST_MAX)
        length = VIS_PLAYLIST_MAX;
    VisFreePlaylist();
    for (int i = 0; i < (int)length; i++) {
        const char* hostTitle = (const char*)HostRequest(module, (WPARAM)i, VIS_HOST_ENTRY_TITLE);
        // An entry the host cannot name becomes an empty title rather than a read through null.
        if (!hostTitle)
            hostTitle = "";
        size_t size = strlen(hostTitle) + 1;
        char* copy = (char*)malloc(size);
        if (copy)
            memcpy(copy, hostTitle, size);
        visPlaylist.titles[i] = copy;
    }
    visPlaylist.count = (int)length;
}

int VisHostPlaylistPosition(VisModule* module)
{
    return (int)HostRequest(module, 0, VIS_HOST_POSITION);
}

void VisHostPlayEntry(VisModule* module, int entry)
{
    HostRequest(module, (WPARAM)entry, VIS_HOST_SET_POSITION);
    SendMessageA(module->parentWindow, WM_COMMAND, VIS_HOST_CMD_STOP, 0);
    SendMessageA(module->parentWindow, WM_COMMAND, VIS_HOST_CMD_PLAY, 0);
}

void VisHostRunEnded(VisModule* module)
{
    SendMessageA(module->parentWindow, WM_COMMAND, VIS_HOST_CMD_RUN_ENDED, 0);
    SendMessageA(module->parentWindow, WM_COMMAND, VIS_HOST_CMD_RUN_ENDED, 0);
}

void VisForwardKey(VisModule* module, UINT message, WPARAM wParam, LPARAM lParam)
{
    PostMessageA(module->parentWindow, message, wParam, lParam);
}
