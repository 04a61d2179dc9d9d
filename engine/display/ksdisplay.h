// Display and device: the engine state block, Direct3D 8 enumeration and mode setting, engine
// start-up with the procedure table, and the frame buffer with its 2D operations and surfaces.
//
// How an application starts and ends the engine:
//     ksGlobal.runWindowed = ...; ksGlobal.use32Bit = ...; verbose = 0;
//     ksChooseDeviceHook = MyChooser;            // optional; see KSVIRT.h
//     KS_UseDirect3D(); KS_InitEngine(7000); KS_SelectDriver();
//     KSGFX_SetMode(width, height, 60);          // windowed: the window's client area is used
//     KS_MakeViewport(&vp, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
//     KS_SetViewport(&vp); KSGFX_SetDrawTarget(1); KS_StartTimer(60);
//     ... frames: KSGFX_Clear / 2D drawing / KSGFX_ShowFrame() ...
//     KS_FreeEngineBuffers();                    // ends with KS_ShutdownDevice and the leak report
#ifndef KSDISPLAY_H
#define KSDISPLAY_H

#include "KSGLOBAL.h"
#include "KSVIRT.h"
#include "KSHRDWRE.h"
#include "ksgfx.h"
#include "ksblock.h"

#endif
