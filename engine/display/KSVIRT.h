// The procedure table: the one place where the engine chooses which code runs. Its 32 slots are
// the graphics back end (display, 2D, texture and polygon drawing); KS_InitDriver fills every slot
// in one place when a driver is selected, and until then each holds the uninstalled-procedure stub,
// which prints an error and ends the process with code 1. Everything else in the engine is a direct
// call: every module is part of every build, so a module that needs another simply calls it.
//
// Callers use the entry names, which are calls through the table:
//     KSGFX_SetMode(640, 480, 60);   KSGFX_FillRect(0, 0, 9, 9);
// The implementations behind the slots carry names of their own (KS_SetModeD3D, KS_FillRectD3D...).
#ifndef KSVIRT_H
#define KSVIRT_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>
#include "ksruntime.h"

struct KSViewport;

struct KSProcedureTable {
    int (*SetMode)(int width, int height, int refresh);                       // 0
    void* (*LockFrame)(void);                                                  // 1
    void (*UnlockFrame)(void);                                                 // 2
    void (*FlushFrame)(void);                                                  // 3
    void (*SetClip)(int x1, int y1, int x2, int y2);                           // 4
    void (*SetColour)(uint32_t colour);                                        // 5
    void (*FillRect)(int x1, int y1, int x2, int y2);                          // 6
    void (*DrawRect)(int x1, int y1, int x2, int y2);                          // 7
    void (*DrawLine)(int x1, int y1, int x2, int y2);                          // 8
    void (*DrawVLine)(int x, int y1, int y2);                                  // 9
    void (*DrawHLine)(int x1, int x2, int y);                                  // 10
    void (*DrawString)(int x, int y, const char* text);                        // 11
    uint32_t (*MakeColour)(int red, int green, int blue);                      // 12
    IDirect3DSurface8* (*GetBlock)(int x1, int y1, int x2, int y2, IDirect3DSurface8** out);  // 13
    void (*PutBlock)(int x, int y, IDirect3DSurface8* surface);                // 14
    void (*PutBitmap8)(int x, int y, IDirect3DSurface8* surface, const uint8_t* palette,
                       int transparent);                                       // 15
    void (*PutBitmap32)(int x, int y, const uint8_t* pixels, int width, int height,
                        int transparent);                                      // 16
    void (*ClearScreen)(void);                                                 // 17
    void (*ClearViewport)(KSViewport* viewport);                               // 18
    void (*Clear)(KSViewport* viewport, int flags);                            // 19
    void (*SetDrawTarget)(int flag);                                           // 20
    int (*ShowFrame)(void);                                                    // 21
    int32_t (*AddTexture)(const char* name, IDirect3DSurface8* surface);       // 22
    int32_t (*AddTexture2)(const char* name, IDirect3DSurface8* colour,
                           IDirect3DSurface8* alpha);                          // 23
    void (*AllocTextures)(int32_t count);                                      // 24
    void (*FreeTextures)(void);                                                // 25
    int32_t (*LoadTexture)(const char* name);                                  // 26
    int32_t (*LoadTexture2)(const char* name, const char* alphaName);          // 27
    void (*DrawTexture)(int x, int y, int32_t texture, int32_t value);         // 28
    void (*DrawTextureRect)(int x1, int y1, int x2, int y2, int32_t texture,
                            int32_t value);                                    // 29
    void (*SetTexturePalette)(int32_t texture, int32_t flag);                  // 30
    void (*RenderPolygons)(void* faces, void* vertices, void* unused, int32_t count);  // 31
};

#define KS_PROCEDURE_SLOTS 32

extern KSProcedureTable ksProcTable;

#define KSGFX_SetMode (*ksProcTable.SetMode)
#define KSGFX_LockFrame (*ksProcTable.LockFrame)
#define KSGFX_UnlockFrame (*ksProcTable.UnlockFrame)
#define KSGFX_FlushFrame (*ksProcTable.FlushFrame)
#define KSGFX_SetClip (*ksProcTable.SetClip)
#define KSGFX_SetColour (*ksProcTable.SetColour)
#define KSGFX_FillRect (*ksProcTable.FillRect)
#define KSGFX_DrawRect (*ksProcTable.DrawRect)
#define KSGFX_DrawLine (*ksProcTable.DrawLine)
#define KSGFX_DrawVLine (*ksProcTable.DrawVLine)
#define KSGFX_DrawHLine (*ksProcTable.DrawHLine)
#define KSGFX_DrawString (*ksProcTable.DrawString)
#define KSGFX_MakeColour (*ksProcTable.MakeColour)
#define KSGFX_GetBlock (*ksProcTable.GetBlock)
#define KSGFX_PutBlock (*ksProcTable.PutBlock)
#define KSGFX_PutBitmap8 (*ksProcTable.PutBitmap8)
#define KSGFX_PutBitmap32 (*ksProcTable.PutBitmap32)
#define KSGFX_ClearScreen (*ksProcTable.ClearScreen)
#define KSGFX_ClearViewport (*ksProcTable.ClearViewport)
#define KSGFX_Clear (*ksProcTable.Clear)
#define KSGFX_SetDrawTarget (*ksProcTable.SetDrawTarget)
#define KSGFX_ShowFrame (*ksProcTable.ShowFrame)
#define KSGFX_AddTexture (*ksProcTable.AddTexture)
#define KSGFX_AddTexture2 (*ksProcTable.AddTexture2)
#define KSGFX_AllocTextures (*ksProcTable.AllocTextures)
#define KSGFX_FreeTextures (*ksProcTable.FreeTextures)
#define KSGFX_LoadTexture (*ksProcTable.LoadTexture)
#define KSGFX_LoadTexture2 (*ksProcTable.LoadTexture2)
#define KSGFX_DrawTexture (*ksProcTable.DrawTexture)
#define KSGFX_DrawTextureRect (*ksProcTable.DrawTextureRect)
#define KSGFX_SetTexturePalette (*ksProcTable.SetTexturePalette)
#define KSGFX_RenderPolygons (*ksProcTable.RenderPolygons)

// Prints the uninstalled-procedure message to standard output and ends the process with code 1.
KS_NORETURN void KS_UninstalledProcedure(void);

// Puts the stub into every slot of the table (start-up).
void KS_ResetProcedures(void);

// 1 when the slot (0..31) holds something other than the stub.
int KS_ProcedureInstalled(int slot);

// Driver selection.
void KS_UseDirect3D(void);
void KS_InitEngine(int32_t polygonCapacity);
void KS_SelectDriver(void);
void KS_InitDriver(void);
void KS_FreeEngineBuffers(void);

// The device-choice hook, called once by KS_InitEngine after the adapters are recorded, with three
// out-parameters: primary adapter number, secondary adapter number, device-type number. The
// application points it at its own chooser (the plug-in's VisChooseDevice) before KS_InitEngine;
// start-up keeps it. While it is null the engine takes adapter 0, adapter 0, device type 0.
typedef void (*KSChooseDeviceHook)(int* adapter, int* adapterCopy, int* deviceType);
extern KSChooseDeviceHook ksChooseDeviceHook;

// DirectX version probe: 0, 0x100 ... 0x700, 0x800.
int32_t KS_GetDirectXVersion(void);

// Start directory and tick timer.
void KS_SetStartPath(const char* path);
void KS_ChangeToStartPath(void);
void KS_StartTimer(int32_t ticksPerSecond);
int32_t KS_ElapsedTicks(void);

// Start-up directories: drive number (A = 1), start directory and user directory.
struct KSStartPath {
    int32_t drive;
    char directory[257];
    char userDirectory[257];
};
extern KSStartPath ksStartPath;

struct KSTimer {
    int32_t rate;           // ticks per second
    int64_t frequency;      // performance counter frequency
    int64_t last;           // counter at the last tick
};
extern KSTimer ksTimer;

#endif
