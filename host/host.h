// The Linux stand-in for the media player: loads the visualization plug-in, owns the player's main
// window and playlist, answers the plug-in's requests, plays or captures the audio and drives the
// visualization loop, on a display, headless, or into a video file.
#ifndef MARLIX_HOST_H
#define MARLIX_HOST_H

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "hostaudio.h"
#include "hostmodule.h"

struct HostOptions {
    std::string pluginPath;              // empty: plugins/vis_marlix.so beside the program
    bool headless = false;
    int frames = 0;                      // 0: until the plug-in's window closes or the playlist ends
    std::string out;                     // a video file, or (headless) a folder for frame-NNNNN.png
    int width = 0, height = 0;           // --size: the plug-in's window; 0: as it opens (video: 640x480)
    bool configure = false;              // call the configuration entry and exit
    bool help = false;
    bool shuffle = false;
    bool repeat = false;
    bool capture = false;                // visualise a sound server's source instead of files
    bool listDevices = false;
    std::string device;                  // capture source; empty: the default output's monitor
    std::vector<std::string> playlist;   // files, folders and M3U/M3U8 lists
};

enum HostPlayState { HOST_STOPPED, HOST_PLAYING, HOST_PAUSED };

// A key message as it reached the player's main window.
struct HostKeyEvent {
    UINT message;
    WPARAM key;
    LPARAM lParam;
};

struct HostEntry {
    std::string path;
    std::string title;                   // "Artist - Title", or the file name
    double seconds = 0.0;                // length as the container states it (0: unknown)
    bool broken = false;                 // opened but failed to decode: reported once, then passed over
};

struct HostPlayer {
    HWND window = NULL;
    std::vector<HostEntry> entries;
    int position = 0;
    HostPlayState state = HOST_STOPPED;
    bool repeat = false;                 // after the last entry, the first
    bool finished = false;               // the last entry ended (without repeat)
    double trackTime = 0.0;              // seconds heard of the current entry
    float volume = 1.0f;                 // of the sound output only; the spectrum is taken before it
    HostAudio audio;                     // the current entry, decoded
    int loaded = -1;                     // the entry in audio, -1 for none
    HostCaptureSource* capture = NULL;   // while capturing, the one source of audio
    // The sound output, when there is one; its callback moves soundCursor through audio.
    unsigned int soundDevice = 0;
    int soundRate = 0;
    int soundBufferFrames = 0;
    long long soundCursor = 0;
    bool soundEnded = false;
    bool realtime = false;               // a picture appears latencyMs after its render call
    std::vector<HostKeyEvent> keys;      // every key message received, in order
    std::vector<int> commands;           // every WM_COMMAND id received, in order
};

struct HostPlugin {
    HMODULE library = NULL;
    HostVisHeader* header = NULL;
    HostVisModule* module = NULL;
};

// Command line: fills options; false with a message for the user on a bad argument.
bool HostParseArgs(int argc, char** argv, HostOptions* options, std::string* error);
const char* HostUsage(void);
std::string HostDefaultPluginPath(void);

// The playlist: the files that folders and lists name, in order; then the entries that open as
// audio, with their titles (the others reported on standard error).
std::vector<std::string> HostExpandPlaylist(const std::vector<std::string>& items);
std::vector<HostEntry> HostBuildPlaylist(const std::vector<std::string>& items);
void HostShuffle(std::vector<HostEntry>* entries, unsigned int seed);

// The player: its main window of class "Winamp v1.x" (text "N. Artist - Title - Winamp") and
// its playlist; it starts playing the first entry that decodes.
bool HostCreatePlayer(HostPlayer* player, const std::vector<HostEntry>& entries);
void HostDestroyPlayer(HostPlayer* player);
// Selects an entry (the plug-in's set-position request): loaded and heard from its start.
void HostSetPosition(HostPlayer* player, int position);
void HostPlay(HostPlayer* player);
void HostSeek(HostPlayer* player, double seconds);
// Moves the virtual time on; at an entry's end the next one plays (or the playlist finishes).
void HostAdvance(HostPlayer* player, double seconds);
// With a sound output: takes the time heard from it, and moves on at an entry's end.
void HostSyncSound(HostPlayer* player);

// The plug-in: loaded once, then any number of runs.
bool HostLoadPlugin(HostPlugin* plugin, const std::string& path, std::string* error);
void HostUnloadPlugin(HostPlugin* plugin);
void HostAttach(HostPlugin* plugin, HostPlayer* player);

// One frame of the visualization loop: pumps the thread's messages, fills the spectrum and
// renders. False (nothing rendered) once the plug-in's window has posted its quit message.
bool HostFrame(HostPlugin* plugin, HostPlayer* player);

// Ends a run: the plug-in's stop entry, then the messages it left behind.
void HostEndRun(HostPlugin* plugin);

// Writes X8R8G8B8 pixels as an RGB PNG file.
bool HostWritePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitchBytes);

// The whole program: returns the exit status.
int HostRun(const HostOptions& options);

#endif
