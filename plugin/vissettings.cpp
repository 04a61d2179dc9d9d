// marlix.ini beside the plug-in: every option of the plug-in, read at start and written at the end.
#include "vis.h"

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Built-in values at library load; the geometry fields also remember the last window of this process.
VisSettings visSettings = {
    1200, 0, 192, 1, 1, 1, 0.5f, "Marlix Visualizer",
    0, 0, 1, 1, 0,
    50, 50, 288, 256,
    0,
};

static const char settingsFileName[] = "marlix.ini";

static const int fullScreenSizes[VIS_FULLRES_COUNT][2] = {
    {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200},
};

void VisFullScreenSize(int fullRes, int* width, int* height)
{
    if (fullRes < 0 || fullRes >= VIS_FULLRES_COUNT)
        fullRes = 0;
    *width = fullScreenSizes[fullRes][0];
    *height = fullScreenSizes[fullRes][1];
}

static int IsPathSeparator(char c)
{
#ifdef _WIN32
    return c == '\\';
#else
    // Linux module names use '/', and the Windows form must keep working too.
    return c == '\\' || c == '/';
#endif
}

void VisSettingsPathFromModuleName(const char* moduleName, char* buffer)
{
    size_t keep = 0;
    for (size_t i = 0; moduleName[i] && i < VIS_PATH_SIZE; i++)
        if (IsPathSeparator(moduleName[i]))
            keep = i + 1;
    // A directory too long to hold the file name as well falls back to the current directory
    // (the library's own after VisInit), rather than a cut path naming some other file.
    if (keep + sizeof(settingsFileName) > VIS_PATH_SIZE)
        keep = 0;
    memcpy(buffer, moduleName, keep);
    memcpy(buffer + keep, settingsFileName, sizeof(settingsFileName));
}

void VisSettingsPath(VisModule* module, char* buffer)
{
    char moduleName[VIS_PATH_SIZE];
    DWORD length = GetModuleFileNameA(module->instance, moduleName, VIS_PATH_SIZE);
    if (length == 0 || length >= VIS_PATH_SIZE)
        moduleName[0] = 0;  // failed or cut: a cut name would point at the wrong directory
    else
        moduleName[length] = 0;
    VisSettingsPathFromModuleName(moduleName, buffer);
}

static int ReadInt(const char* section, const char* key, int fallback, const char* path)
{
    return (int)GetPrivateProfileIntA(section, key, fallback, path);
}

// A window size of 0 or less is no size: it reads as a missing key, so the next save repairs it.
static int ReadSize(const char* section, const char* key, int fallback, const char* path)
{
    int value = ReadInt(section, key, fallback, path);
    return value > 0 ? value : fallback;
}

void VisLoadSettings(VisModule* module)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPath(module, path);
    const char* section = module->description;
    VisSettings* s = &visSettings;

    s->SceneTime = 1200;
    s->DefaultScene = 0;
    s->MotionBlur = 192;
    s->CycleScenes = 1;
    s->SongTitle = 1;
    s->ShowCustom = 1;
    s->FontScale = 0.5f;
    strcpy(s->CustomString, "Marlix Visualizer");

    s->RenderDevice = ReadInt(section, "RenderDevice", 0, path);
    s->RenderHAL = ReadInt(section, "RenderHAL", 0, path);
    s->RunInWindow = ReadInt(section, "RunInWindow", 1, path);
    s->Use32Bit = ReadInt(section, "Use32Bit", 1, path);
    s->FullRes = ReadInt(section, "FullRes", 0, path);
    s->Screen_x = ReadInt(section, "Screen_x", s->Screen_x, path);
    s->Screen_y = ReadInt(section, "Screen_y", s->Screen_y, path);
    s->Screen_width = ReadSize(section, "Screen_width", s->Screen_width, path);
    s->Screen_height = ReadSize(section, "Screen_height", s->Screen_height, path);
    s->SceneTime = ReadInt(section, "SceneTime", s->SceneTime, path);
    s->DefaultScene = ReadInt(section, "DefaultScene", s->DefaultScene, path);
    s->MotionBlur = ReadInt(section, "MotionBlur", s->MotionBlur, path);
    s->CycleScenes = ReadInt(section, "CycleScenes", s->CycleScenes, path);
    s->SongTitle = ReadInt(section, "SongTitle", s->SongTitle, path);
    s->ShowCustom = ReadInt(section, "ShowCustom", s->ShowCustom, path);

    // The record's value (0.5) is the text a missing key reads as.
    char fallback[32];
    snprintf(fallback, sizeof(fallback), "%.9g", (double)s->FontScale);
    char text[64];
    GetPrivateProfileStringA(section, "FontScale", fallback, text, sizeof(text), path);
    text[sizeof(text) - 1] = 0;
    s->FontScale = VisParseFontScale(text);

    char custom[VIS_CUSTOM_STRING_SIZE];
    GetPrivateProfileStringA(section, "CustomString", s->CustomString, custom, sizeof(custom), path);
    custom[sizeof(custom) - 1] = 0;
    strcpy(s->CustomString, custom);

    // Values the file may hold but nothing can show (a sixth resolution, a ninth scene) fall back
    // to their defaults; they would otherwise index past the resolution table or the scene catalogue.
    if (s->FullRes < 0 || s->FullRes >= VIS_FULLRES_COUNT)
        s->FullRes = 0;
    if (s->DefaultScene < 0 || s->DefaultScene >= VIS_SCENE_COUNT)
        s->DefaultScene = 0;

    visAnim.currentScene = s->DefaultScene;
}

float VisParseFontScale(const char* text)
{
    // A plain decimal conversion, as for a typed scale: the leading number counts, a text that
    // starts with none reads 0.0. Infinity, NaN and values beyond a float's range are no usable
    // scale either (they would reach the text layout as coordinates no int can hold): 0.0 as well.
    char* end = NULL;
    double value = strtod(text, &end);
    if (end == text || !isfinite(value) || fabs(value) > FLT_MAX)
        return 0.0f;
    return (float)value;
}

static void WriteInt(const char* section, const char* key, int value, const char* path)
{
    char text[16];
    snprintf(text, sizeof(text), "%d", value);
    WritePrivateProfileStringA(section, key, text, path);
}

void VisSaveSettings(VisModule* module)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPath(module, path);
    const char* section = module->description;
    const VisSettings* s = &visSettings;

    char scale[64];
    snprintf(scale, sizeof(scale), "%4.2f", (double)s->FontScale);

    WriteInt(section, "SceneTime", s->SceneTime, path);
    WriteInt(section, "DefaultScene", s->DefaultScene, path);
    WriteInt(section, "MotionBlur", s->MotionBlur, path);
    WriteInt(section, "CycleScenes", s->CycleScenes, path);
    WriteInt(section, "SongTitle", s->SongTitle, path);
    WriteInt(section, "ShowCustom", s->ShowCustom, path);
    WritePrivateProfileStringA(section, "FontScale", scale, path);
    WritePrivateProfileStringA(section, "CustomString", s->CustomString, path);
    WriteInt(section, "RenderDevice", s->RenderDevice, path);
    WriteInt(section, "RenderHAL", s->RenderHAL, path);
    WriteInt(section, "RunInWindow", s->RunInWindow, path);
    WriteInt(section, "Use32Bit", s->Use32Bit, path);
    WriteInt(section, "FullRes", s->FullRes, path);
    WriteInt(section, "Screen_x", s->Screen_x, path);
    WriteInt(section, "Screen_y", s->Screen_y, path);
    WriteInt(section, "Screen_width", s->Screen_width, path);
    WriteInt(section, "Screen_height", s->Screen_height, path);
}
