// The Linux stand-in for the media player: loads the visualization plug-in, owns the player's main
// window, answers the plug-in's requests, plays a test signal and drives the visualization loop.
#ifndef MARLIX_HOST_H
#define MARLIX_HOST_H

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "hostmodule.h"

struct HostOptions {
    std::string pluginPath;              // empty: plugins/vis_marlix.so beside the program
    bool headless = false;
    int frames = 0;                      // 0: until the plug-in's window closes
    std::string outDir;                  // headless: frame-NNNNN.png for every presented frame
    bool configure = false;              // call the configuration entry and exit
    bool help = false;
    std::vector<std::string> playlist;   // file names; titles come from them
};

enum HostPlayState { HOST_STOPPED, HOST_PLAYING, HOST_PAUSED };

// A key message as it reached the player's main window.
struct HostKeyEvent {
    UINT message;
    WPARAM key;
    LPARAM lParam;
};

struct HostPlayer {
    HWND window = NULL;
    std::vector<std::string> titles;
    int position = 0;
    HostPlayState state = HOST_STOPPED;
    double trackTime = 0.0;              // seconds played of the current entry
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
std::string HostTitleFromFileName(const std::string& fileName);

// The player: its main window of class "Winamp v1.x" and its playlist.
bool HostCreatePlayer(HostPlayer* player, const std::vector<std::string>& playlist);
void HostDestroyPlayer(HostPlayer* player);
void HostSetPosition(HostPlayer* player, int position);
void HostAdvance(HostPlayer* player, double seconds);

// The plug-in: loaded once, then any number of runs.
bool HostLoadPlugin(HostPlugin* plugin, const std::string& path, std::string* error);
void HostUnloadPlugin(HostPlugin* plugin);
void HostAttach(HostPlugin* plugin, HostPlayer* player);

// One frame of the visualization loop: pumps the thread's messages, fills the spectrum and
// renders. False (nothing rendered) once the plug-in's window has posted its quit message.
bool HostFrame(HostPlugin* plugin, HostPlayer* player);

// Ends a run: the plug-in's stop entry, then the messages it left behind.
void HostEndRun(HostPlugin* plugin);

// The spectrum of the test signal at a time of the current entry: 576 bins, 0 to 255.
void HostSpectrum(int entry, double seconds, unsigned char bins[576]);
void HostWaveform(int entry, double seconds, unsigned char samples[576]);

// Writes X8R8G8B8 pixels as an RGB PNG file.
bool HostWritePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitchBytes);

// The whole program: returns the exit status.
int HostRun(const HostOptions& options);

#endif
