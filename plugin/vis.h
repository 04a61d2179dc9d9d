// Marlix plug-in: the records the host sees, the settings, and the plug-in-wide state of a run.
#ifndef MARLIX_VIS_H
#define MARLIX_VIS_H

#include <windows.h>
#include <stddef.h>

#include "kestra.h"

struct VisModule;

// What winampVisGetHeader returns: interface version, description and the module lookup.
struct VisHeader {
    int version;
    char* description;
    VisModule* (*getModule)(int index);
};

// The module record. Its layout belongs to the host: on the 32-bit product every offset is fixed
// (checked at compile time in vismain.cpp), so nothing may be added, removed or reordered.
struct VisModule {
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
    void (*config)(VisModule* module);
    int (*init)(VisModule* module);
    int (*render)(VisModule* module);
    void (*quit)(VisModule* module);
    void* userData;
};

#define VIS_HEADER_VERSION 0x101
#define VIS_CUSTOM_STRING_SIZE 128
#define VIS_PATH_SIZE 260

// One field per key of marlix.ini, plus alwaysOnTop which lives in memory only.
struct VisSettings {
    int SceneTime;
    int DefaultScene;
    int MotionBlur;
    int CycleScenes;
    int SongTitle;
    int ShowCustom;
    float FontScale;
    char CustomString[VIS_CUSTOM_STRING_SIZE];
    int RenderDevice;
    int RenderHAL;
    int RunInWindow;
    int Use32Bit;
    int FullRes;
    int Screen_x;
    int Screen_y;
    int Screen_width;
    int Screen_height;
    int alwaysOnTop;
};

// Per-frame animation state; zero at library load and kept from run to run.
struct VisAnimState {
    int busy;
    int bands[32];
    int frameTicks;
    float clock;
    int sceneTimer;
    int currentScene;
};

#define VIS_SCENE_COUNT 8
#define VIS_FULLRES_COUNT 5
#define VIS_PLAYLIST_MAX 1000
#define VIS_SONG_TITLE_SIZE 256
#define VIS_HOST_TITLE_SIZE 2048
#define VIS_PLAYLIST_SHOW_TICKS 120

// The playlist browser: titles copied from the host once per run, and where the browser stands.
struct VisPlaylist {
    char* titles[VIS_PLAYLIST_MAX];
    int count;
    int cursor;
    int playing;
    int timer;
};

// The scene catalogue: each scene names the animation blocks it runs (bit b = block b + 1) and
// whether its camera flies the low circle instead of the general path.
#define VIS_BLOCK_COUNT 6
struct VisSceneEntry {
    const char* name;
    unsigned blocks;
    int lowCamera;
};
extern const VisSceneEntry visCatalogue[VIS_SCENE_COUNT];

#define VIS_RING_HOSES 16
#define VIS_ORBITS 16
#define VIS_CORNER_FLOWERS 4
#define VIS_ROW_SPHERES 16
#define VIS_OUTER_HOSES 8
#define VIS_BALLS 32
#define VIS_TORI 16
#define VIS_POPCORN 8

// Everything a run creates for its scenes, all at set-up; the scenes only choose which groups move
// and are drawn. Positions and velocities of the moving groups are kept here because the frame
// update integrates them.
struct VisScene {
    KSObject* hoseObject;
    KSObject* sphereObject;
    KSObject* flowerObject;
    KSObject* torusObject;
    KSObject* popcornObject;
    KSEntity* ringHoses[VIS_RING_HOSES];
    KSVector orbitDirections[VIS_ORBITS];
    float orbitRadii[VIS_ORBITS];
    KSEntity* orbitSpheres[VIS_ORBITS];
    KSEntity* centreSphere;
    KSEntity* orbitFlowers[VIS_ORBITS];
    KSEntity* cornerFlowers[VIS_CORNER_FLOWERS];
    KSEntity* rowSpheres[VIS_ROW_SPHERES];
    KSEntity* outerHoses[VIS_OUTER_HOSES];
    KSEntity* balls[VIS_BALLS];
    KSVector ballPositions[VIS_BALLS];
    KSVector ballVelocities[VIS_BALLS];
    KSEntity* tori[VIS_TORI];
    KSEntity* popcorn[VIS_POPCORN];
    KSVector popcornPositions[VIS_POPCORN];
    KSVector popcornVelocities[VIS_POPCORN];
    KSCamera* camera;
    int32_t backdropTexture;
    int32_t backdropMaterial;
    KSObject* backdropObject;
    KSEntity* backdrop;
    KSFont* font;
    KSLightList lights;   // the scene light set: one light riding with the camera
};

// Requests to the host's main window: WM_USER with these codes in lParam.
#define VIS_HOST_SET_POSITION 121
#define VIS_HOST_PLAYLIST_LENGTH 124
#define VIS_HOST_POSITION 125
#define VIS_HOST_ENTRY_TITLE 212
// Host commands sent as WM_COMMAND.
#define VIS_HOST_CMD_PLAY 40045
#define VIS_HOST_CMD_STOP 40047
#define VIS_HOST_CMD_RUN_ENDED 40258
#define VIS_HOST_WINDOW_CLASS "Winamp v1.x"

#define VIS_WINDOW_CLASS "Marlix"

// Plug-in-wide state, one instance per loaded library.
extern VisHeader visHeader;
extern VisModule visModule;
extern VisSettings visSettings;
extern VisAnimState visAnim;
extern VisPlaylist visPlaylist;
extern VisScene visScene;
extern char songTitle[VIS_SONG_TITLE_SIZE];
extern int running;
extern HWND visWindow;

// Host entry (vismain.cpp).
extern "C" __declspec(dllexport) VisHeader* winampVisGetHeader(void);
VisModule* VisGetModule(int index);
void VisConfig(VisModule* module);
int VisInit(VisModule* module);
int VisRender(VisModule* module);
void VisQuit(VisModule* module);

// Settings file (vissettings.cpp).
// The library's file name (empty when it cannot be had whole), and a file beside it: the name cut
// after its last path separator, then fileName (fileName alone without a separator).
void VisModuleFileName(VisModule* module, char* buffer);
void VisPathBesideModule(const char* moduleName, const char* fileName, char* buffer);
void VisSettingsPathFromModuleName(const char* moduleName, char* buffer);
void VisSettingsPath(VisModule* module, char* buffer);
void VisLoadSettings(VisModule* module);
void VisSaveSettings(VisModule* module);
// A scale typed or stored as text: the one conversion the file and the dialog share.
float VisParseFontScale(const char* text);
// Full-screen size for a FullRes value.
void VisFullScreenSize(int fullRes, int* width, int* height);

// Output window (viswindow.cpp).
int VisRegisterWindowClass(HINSTANCE instance);
HWND VisCreateOutputWindow(VisModule* module);
LRESULT CALLBACK VisWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The engine for a run (visengine.cpp).
void VisBuildDeviceTypes(void);
void VisChooseDevice(int* adapter, int* adapterCopy, int* deviceType);
void VisStartEngine(void);
void VisStopEngine(void);
void VisResize(int width, int height);

// Configuration dialog (visdialog.cpp).
INT_PTR CALLBACK VisConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Scene set-up and release (visscene.cpp).
void VisSetupScene(void);
void VisSetupBackdrop(void);
// Releases what VisSetupScene made, in the order of the end of a run.
void VisFreeScene(void);

// Animation (visanim.cpp).
void VisUpdateBands(VisModule* module);
void VisDrawBackdrop(float depth);
// Ticks of this frame (at most 20), the clock, the playlist timer and the automatic scene cycle.
void VisAdvanceTime(int elapsedTicks);
// Camera position of a scene at time t (ticks).
KSVector VisCameraPath(int scene, float t);
// One frame of a ball (index j) or a popcorn piece, n ticks long, with the bands of this frame.
void VisStepBall(int j, KSVector* position, KSVector* velocity, int n, const int* bands);
void VisStepPopcorn(KSVector* position, KSVector* velocity, int n);

// Text overlay (visoverlay.cpp). A frame lays its texts out as a list of draws, then draws it.
struct VisTextDraw {
    const char* text;
    int x, y;
    uint8_t colour[3];
};
#define VIS_CAPTION_DRAWS 4
#define VIS_PLAYLIST_DRAWS 6
// Song title and custom text (shadow, then colour) as the switches ask; returns the draw count.
int VisLayoutCaptions(float height, int lineHeight, VisTextDraw* out);
// The browser rows around the cursor; step is the row distance in pixels.
int VisLayoutPlaylist(float height, int step, VisTextDraw* out);
void VisDrawOverlay(VisModule* module);
void VisDrawPlaylist(VisModule* module);

// Host window requests (vishost.cpp).
void VisTitleFromWindowText(const char* text, char* title, size_t titleSize);
void VisReadSongTitle(void);
void VisReadPlaylist(VisModule* module);
void VisFreePlaylist(void);
int VisHostPlaylistPosition(VisModule* module);
void VisHostPlayEntry(VisModule* module, int entry);
void VisHostRunEnded(VisModule* module);
void VisForwardKey(VisModule* module, UINT message, WPARAM wParam, LPARAM lParam);

#endif
