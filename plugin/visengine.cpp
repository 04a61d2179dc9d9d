// The plug-in's side of the engine: starting it for a run, choosing the device when the engine asks,
// following the output window's size, and shutting the device down again.
#include "vis.h"

#define KS_MODULE "visengine"
#include "kestra.h"

void VisBuildDeviceTypes(void)
{
    // The list always holds HAL then REF, and the first entry is always the one chosen.
    ksGlobal.deviceCount = 0;
    ksGlobal.chosenDevice = 0;
    visSettings.RenderHAL = 0;
    KS_BuildDeviceList();
}

void VisChooseDevice(int* adapter, int* adapterCopy, int* deviceType)
{
    HWND window = KS_GetWindow();
    ShowWindow(window, SW_SHOWNORMAL);
    BringWindowToTop(window);
    SetFocus(window);

    VisBuildDeviceTypes();

    *adapter = visSettings.RenderDevice;
    *adapterCopy = visSettings.RenderDevice;
    *deviceType = visSettings.RenderHAL;
}

void VisStartEngine(void)
{
    ksGlobal.runWindowed = (uint8_t)(visSettings.RunInWindow != 0);
    ksGlobal.use32Bit = (uint8_t)(visSettings.Use32Bit != 0);
    verbose = 0;

    ksChooseDeviceHook = VisChooseDevice;
    KS_UseDirect3D();
    KS_InitEngine(7000);
    KS_SelectDriver();

    KS_AllocMaterials(132);
    KSGFX_AllocTextures(132);

    if (!visSettings.RunInWindow)
        SetCursor(NULL);

    int width, height;
    VisFullScreenSize(visSettings.FullRes, &width, &height);
    if (KSGFX_SetMode(width, height, 60) != 1)
        KS_FatalError("Cannot set video mode", NULL);

    KSViewport viewport;
    KS_MakeViewport(&viewport, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
    KS_SetViewport(&viewport);

    // Objects loaded from here on may be given vertex buffers.
    KS_ChangeToStartPath();
    ksGlobal.vertexBufferSwitch = 1;

    VisSetupScene();

    // Light strengths in fixed point (1 = 1/1024 of a full light per unit of the face term), so
    // the strength 1 below lights a surface with its own colour. Switched on before the lights are
    // made, so the first run of a process is lit like every later one rather than 1024 times over.
    ksFixedPointLights = 1;
    KS_InitLights(&ksActiveLights, 1);
    KSLightList* lights = &visScene.lights;
    KS_InitLights(lights, 1);
    KS_SetLightPosition(lights, 0, 0.0f, 0.0f, 1000.0f);
    KS_SwitchLightOn(lights, 0);
    KS_SetLightType(lights, 0, 0);
    KS_SetLightColour(lights, 0, 1.0f, 1.0f, 1.0f);
    KS_SetLightStrength(lights, 0, 1.0f);
    lights->count = 1;

    KSGFX_SetDrawTarget(1);
    KS_StartTimer(60);

    // Objects loaded by later runs of this process scale their extra texture layers like their
    // own coordinates.
    ksRescaleLayers = 1;
}

void VisStopEngine(void)
{
    KSGFX_FreeTextures();
    KS_FreeMaterials();
    // Ends with the device shut-down and the memory tracker's leak report.
    KS_FreeEngineBuffers();
}

void VisResize(int width, int height)
{
    // The engine's windowed flag outlives a run: between runs (and while the next window is being
    // created, before its engine starts) there is nothing to resize.
    if (!running || !ksGlobal.runWindowed || width == 0 || height == 0)
        return;

    // The settings keep the size the window is created with, i.e. its outer size; the client size
    // alone would make the window shrink by its frame at every run.
    RECT outer;
    if (visWindow && GetWindowRect(visWindow, &outer)) {
        visSettings.Screen_width = outer.right - outer.left;
        visSettings.Screen_height = outer.bottom - outer.top;
    } else {
        visSettings.Screen_width = width;
        visSettings.Screen_height = height;
    }
    if (ksGlobal.viewport.width > 0)
        KS_ResizeViewport(&ksGlobal.viewport, 0, 0, width - 1, height - 1);

    // A reset refused here (a device lost at this moment) is retried by the next present's
    // lost-device recovery, with this same size.
    KS_ResetDevice(width, height);

    if (ksGlobal.currentCamera)
        ((KSCamera*)ksGlobal.currentCamera)->aspect = (float)width / (float)height;

    // The time spent resizing must not advance the animation.
    KS_ElapsedTicks();
}
