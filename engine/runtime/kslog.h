// Progress log, error log, engine error codes and the fatal-error path.
//
// Every engine module reports through here:
//  - KS_Log appends a time-stamped line to ks.log in the current directory. Callers test `verbose`
//    first; KS_Log itself always writes.
//  - KS_LogError / KS_ReportError append to the optional error log at ksErrorLogPath (off while the
//    path is empty).
//  - KS_FatalError logs, releases the engine's global buffers (KS_FreeEngineBuffers), shows an
//    error box owned by the KS_SetWindow window and ends the process with exit(1).
#ifndef KSLOG_H
#define KSLOG_H

#include <windows.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KS_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#define KS_NORETURN __attribute__((noreturn))
#else
#define KS_PRINTF_LIKE(fmt, args)
#define KS_NORETURN
#endif

// Engine error codes: negative results of engine operations. KS_ReportError knows a message for
// each code from KSERR_OK to KSERR_SHADETABLE_LOAD except -8; the material codes have none.
enum {
    KSERR_OK = 0,
    KSERR_NOMEMORY = -1,
    KSERR_READ = -2,
    KSERR_WRITE = -3,
    KSERR_TEXTURE_NOT_FOUND = -4,
    KSERR_TEXTURE_ARRAY_FULL = -5,
    KSERR_TEXTURE_DELETED = -6,
    KSERR_TEXTURE_LOAD = -7,
    KSERR_SHADETABLE_NOT_FOUND = -9,
    KSERR_SHADETABLE_ARRAY_FULL = -10,
    KSERR_SHADETABLE_DELETED = -11,
    KSERR_SHADETABLE_LOAD = -12,
    KSERR_MATERIAL_NOT_FOUND = -14,
    KSERR_MATERIAL_DELETED = -16
};

// Error-log flag bits (ksErrorLogFlags).
#define KS_ERRLOG_LIBRARY_TEXTURES 0x01  // report failed texture loads from library files
#define KS_ERRLOG_START_PATHS 0x02       // log the start-up directories

// Engine globals. `verbose` switches the progress log (0 = off). The error-log path (empty = off)
// and flags are cleared by the engine start-up.
extern int32_t verbose;
extern char ksErrorLogPath[256];
extern uint8_t ksErrorLogFlags;

// Appends "%H:%M:%S " + the formatted text + a line end to ks.log; the line is dropped when the file
// cannot be opened.
void KS_Log(const char* format, ...) KS_PRINTF_LIKE(1, 2);

// Appends "message (detail)" or, with a null detail, "message" to the error log, if it is set.
void KS_LogError(const char* message, const char* detail);

// Writes the message of an engine error code to the error log; unknown codes write nothing.
void KS_ReportError(int32_t code, const char* detail);

// The message KS_ReportError writes for a code, or null when the code has none.
const char* KS_ErrorMessage(int32_t code);

// The D3DERR_* name of a Direct3D result ("DD_OK" for 0, "Unknown Error Code" when not tabled).
const char* KS_D3DErrorName(HRESULT code);

// Owner window of the error boxes; it survives the engine start-up.
void KS_SetWindow(HWND window);
HWND KS_GetWindow(void);

// Logs (verbose), releases the engine buffers, shows the box (MB_ICONERROR | MB_SYSTEMMODAL |
// MB_SETFOREGROUND) and ends the process with exit status 1. A null caption gives the default title.
KS_NORETURN void KS_FatalError(const char* text, const char* caption);

#endif
