// The visualization plug-in interface as the player publishes it: the header a plug-in returns from
// winampVisGetHeader and the module record the player fills before every call.
#ifndef MARLIX_HOSTMODULE_H
#define MARLIX_HOSTMODULE_H

#include <windows.h>

struct HostVisModule {
    char* description;
    HWND parentWindow;
    HINSTANCE instance;
    int sampleRate;
    int channels;
    int latencyMs;
    int delayMs;
    int spectrumChannels;
    int waveformChannels;
    unsigned char spectrumData[2][576];
    unsigned char waveformData[2][576];
    void (*config)(HostVisModule* module);
    int (*init)(HostVisModule* module);
    int (*render)(HostVisModule* module);
    void (*quit)(HostVisModule* module);
    void* userData;
};

struct HostVisHeader {
    int version;
    char* description;
    HostVisModule* (*getModule)(int index);
};

typedef HostVisHeader* (*HostGetHeaderProc)(void);

#define HOST_VIS_ENTRY "winampVisGetHeader"
#define HOST_WINDOW_CLASS "Winamp v1.x"

// Requests the plug-in sends as WM_USER (code in lParam) and commands it sends as WM_COMMAND.
#define HOST_REQ_SET_POSITION 121
#define HOST_REQ_LENGTH 124
#define HOST_REQ_POSITION 125
#define HOST_REQ_TITLE 212
#define HOST_CMD_PLAY 40045
#define HOST_CMD_STOP 40047
#define HOST_CMD_VIS_ENDED 40258

#endif
