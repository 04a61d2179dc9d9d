// Progress log, error log, error-code messages, Direct3D result names and the fatal-error path.
#define KS_MODULE "kslog"
#include "kestra.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int32_t verbose = 0;
char ksErrorLogPath[256] = {0};
uint8_t ksErrorLogFlags = 0;

// Owner of the error boxes; deliberately outside the engine state that start-up clears.
static HWND ksErrorWindow = nullptr;

struct KSErrorText {
    int32_t code;
    const char* message;
};

static const KSErrorText ksErrorTexts[] = {
    {KSERR_OK, "Generic Success message"},
    {KSERR_NOMEMORY, "Generic out of memory message"},
    {KSERR_READ, "Generic read error message"},
    {KSERR_WRITE, "Generic write error message"},
    {KSERR_TEXTURE_NOT_FOUND, "Texture map not found in array"},
    {KSERR_TEXTURE_ARRAY_FULL, "Texture array is full"},
    {KSERR_TEXTURE_DELETED, "Texture deleted successfully"},
    {KSERR_TEXTURE_LOAD, "Error loading the texture"},
    {KSERR_SHADETABLE_NOT_FOUND, "Shadetable not found in array"},
    {KSERR_SHADETABLE_ARRAY_FULL, "Shadetable array is full"},
    {KSERR_SHADETABLE_DELETED, "Shadetable deleted successfully"},
    {KSERR_SHADETABLE_LOAD, "Error loading the shadetable"},
};

struct KSResultName {
    uint32_t code;
    const char* name;
};

// Searched from the top; the first match wins.
static const KSResultName ksResultNames[] = {
    {0x00000000u, "DD_OK"},
    {0x88760818u, "D3DERR_WRONGTEXTUREFORMAT"},
    {0x88760819u, "D3DERR_UNSUPPORTEDCOLOROPERATION"},
    {0x8876081Au, "D3DERR_UNSUPPORTEDCOLORARG"},
    {0x8876081Bu, "D3DERR_UNSUPPORTEDALPHAOPERATION"},
    {0x8876081Cu, "D3DERR_UNSUPPORTEDALPHAARG"},
    {0x8876081Du, "D3DERR_TOOMANYOPERATIONS"},
    {0x8876081Eu, "D3DERR_CONFLICTINGTEXTUREFILTER"},
    {0x8876081Fu, "D3DERR_UNSUPPORTEDFACTORVALUE"},
    {0x88760821u, "D3DERR_CONFLICTINGRENDERSTATE"},
    {0x88760822u, "D3DERR_UNSUPPORTEDTEXTUREFILTER"},
    {0x88760826u, "D3DERR_CONFLICTINGTEXTUREPALETTE"},
    {0x88760827u, "D3DERR_DRIVERINTERNALERROR"},
    {0x88760866u, "D3DERR_NOTFOUND"},
    {0x88760867u, "D3DERR_MOREDATA"},
    {0x88760868u, "D3DERR_DEVICELOST"},
    {0x88760869u, "D3DERR_DEVICENOTRESET"},
    {0x8876086Au, "D3DERR_NOTAVAILABLE"},
    {0x8876017Cu, "D3DERR_OUTOFVIDEOMEMORY"},
    {0x8876086Bu, "D3DERR_INVALIDDEVICE"},
    {0x8876086Cu, "D3DERR_INVALIDCALL"},
    {0x8876086Du, "D3DERR_DRIVERINVALIDCALL"},
};

void KS_Log(const char* format, ...)
{
    char stamp[256];
    time_t now = time(nullptr);
    struct tm* local = localtime(&now);
    stamp[0] = 0;
    if (local)
        strftime(stamp, sizeof(stamp), "%H:%M:%S ", local);

    // Opened and closed per line so that every line is on disk when the call returns.
    FILE* file = fopen("ks.log", "at");
    if (!file)
        return;
    fputs(stamp, file);
    if (format) {
        va_list args;
        va_start(args, format);
        vfprintf(file, format, args);
        va_end(args);
    }
    fputs("\n", file);
    fclose(file);
}

void KS_LogError(const char* message, const char* detail)
{
    if (ksErrorLogPath[0] == 0)
        return;
    // The path buffer is caller-filled; never read past it even if it was left unterminated.
    char path[sizeof(ksErrorLogPath)];
    memcpy(path, ksErrorLogPath, sizeof(path));
    path[sizeof(path) - 1] = 0;
    FILE* file = fopen(path, "at");
    if (!file)
        return;
    if (!message)
        message = "";
    if (detail)
        fprintf(file, "%s (%s)\n", message, detail);
    else
        fprintf(file, "%s\n", message);
    fclose(file);
}

const char* KS_ErrorMessage(int32_t code)
{
    for (const KSErrorText& entry : ksErrorTexts)
        if (entry.code == code)
            return entry.message;
    return nullptr;
}

void KS_ReportError(int32_t code, const char* detail)
{
    const char* message = KS_ErrorMessage(code);
    if (message)
        KS_LogError(message, detail);
}

const char* KS_D3DErrorName(HRESULT code)
{
    uint32_t value = (uint32_t)code;
    for (const KSResultName& row : ksResultNames)
        if (row.code == value)
            return row.name;
    return "Unknown Error Code";
}

void KS_SetWindow(HWND window)
{
    ksErrorWindow = window;
}

HWND KS_GetWindow(void)
{
    return ksErrorWindow;
}

void KS_FatalError(const char* text, const char* caption)
{
    // A failure while the buffers are being released may end up here again; the second time the
    // release is skipped so the process still gets its box and its exit instead of recursing.
    static int shuttingDown = 0;

    if (verbose)
        KS_Log("%s %s", text ? text : "(null)", caption ? caption : "(null)");

    // The texts may live in what the release frees (a library's path as the caption): the box
    // shows copies.
    static char textCopy[1024], captionCopy[1024];
    snprintf(textCopy, sizeof(textCopy), "%s", text ? text : "");
    snprintf(captionCopy, sizeof(captionCopy), "%s", caption ? caption : "");

    if (!shuttingDown) {
        shuttingDown = 1;
        KS_FreeEngineBuffers();
    }

    if (verbose)
        KS_Log("Shutting down Kestra");

    MessageBoxA(ksErrorWindow, textCopy, caption ? captionCopy : nullptr, MB_ICONERROR | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    exit(1);
}
