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

void VisPathBesideModule(const char* moduleName, const char* fileName, char* buffer)
{
    size_t keep = 0;
    for (size_t i = 0; moduleName[i] && i < VIS_PATH_SIZE; i++)
        if (IsPathSeparator(moduleName[i]))
            keep = i + 1;
    // A directory too long to hold the file name as well falls back to the current directory
    // (the library's own after VisInit), rather than a cut path naming some other file.
    size_t nameSize = strlen(fileName) + 1;
    if (nameSize > VIS_PATH_SIZE)
        nameSize = VIS_PATH_SIZE;
    if (keep + nameSize > VIS_PATH_SIZE)
        keep = 0;
    memcpy(buffer, moduleName, keep);
    memcpy(buffer + keep, fileName, nameSize - 1);
    buffer[keep + nameSize - 1] = 0;
}

void VisSettingsPathFromModuleName(const char* moduleName, char* buffer)
{
    VisPathBesideModule(moduleName, settingsFileName, buffer);
}

void VisModuleFileName(VisModule* module, char* buffer)
{
    DWORD length = GetModuleFileNameA(module->instance, buffer, VIS_PATH_SIZE);
    if (length == 0 || length >= VIS_PATH_SIZE)
        buffer[0] = 0;  // failed or cut: a cut name would point at the wrong directory
    else
        buffer[length] = 0;
}

void VisSettingsPath(VisModule* module, char* buffer)
{
    char moduleName[VIS_PATH_SIZE];
    VisModuleFileName(module, moduleName);
    VisSettingsPathFromModuleName(moduleName, buffer);
}

// How a key is kept in the file. A size of 0 or less is no window size: it reads as a missing key,
// so the field keeps its value and the next save repairs the file.
enum VisSettingFormat { VIS_SETTING_INT, VIS_SETTING_SIZE, VIS_SETTING_SCALE, VIS_SETTING_TEXT };

// One row per key of marlix.ini, in the order a save writes them. A load starts each field from
// `initial` (written as the file would hold it) and reads the key with the field as the fallback;
// the window geometry has no initial value, so a missing key keeps the last window of the process.
struct VisSettingKey {
    const char* key;
    size_t offset;
    VisSettingFormat format;
    const char* initial;
};

#define VIS_FIELD(name) #name, offsetof(VisSettings, name)
static const VisSettingKey settingKeys[] = {
    {VIS_FIELD(SceneTime), VIS_SETTING_INT, "1200"},
    {VIS_FIELD(DefaultScene), VIS_SETTING_INT, "0"},
    {VIS_FIELD(MotionBlur), VIS_SETTING_INT, "192"},
    {VIS_FIELD(CycleScenes), VIS_SETTING_INT, "1"},
    {VIS_FIELD(SongTitle), VIS_SETTING_INT, "1"},
    {VIS_FIELD(ShowCustom), VIS_SETTING_INT, "1"},
    {VIS_FIELD(FontScale), VIS_SETTING_SCALE, "0.5"},
    {VIS_FIELD(CustomString), VIS_SETTING_TEXT, "Marlix Visualizer"},
    {VIS_FIELD(RenderDevice), VIS_SETTING_INT, "0"},
    {VIS_FIELD(RenderHAL), VIS_SETTING_INT, "0"},
    {VIS_FIELD(RunInWindow), VIS_SETTING_INT, "1"},
    {VIS_FIELD(Use32Bit), VIS_SETTING_INT, "1"},
    {VIS_FIELD(FullRes), VIS_SETTING_INT, "0"},
    {VIS_FIELD(Screen_x), VIS_SETTING_INT, NULL},
    {VIS_FIELD(Screen_y), VIS_SETTING_INT, NULL},
    {VIS_FIELD(Screen_width), VIS_SETTING_SIZE, NULL},
    {VIS_FIELD(Screen_height), VIS_SETTING_SIZE, NULL},
};
#undef VIS_FIELD

static void LoadKey(const VisSettingKey* row, const char* section, const char* path)
{
    char* field = (char*)&visSettings + row->offset;
    switch (row->format) {
    case VIS_SETTING_INT:
    case VIS_SETTING_SIZE: {
        int* value = (int*)field;
        if (row->initial)
            *value = atoi(row->initial);
        int read = (int)GetPrivateProfileIntA(section, row->key, *value, path);
        if (row->format == VIS_SETTING_INT || read > 0)
            *value = read;
        break;
    }
    case VIS_SETTING_SCALE: {
        float* value = (float*)field;
        if (row->initial)
            *value = VisParseFontScale(row->initial);
        char fallback[32];
        snprintf(fallback, sizeof(fallback), "%.9g", (double)*value);
        char text[64];
        GetPrivateProfileStringA(section, row->key, fallback, text, sizeof(text), path);
        text[sizeof(text) - 1] = 0;
        *value = VisParseFontScale(text);
        break;
    }
    case VIS_SETTING_TEXT: {
        if (row->initial)
            snprintf(field, VIS_CUSTOM_STRING_SIZE, "%s", row->initial);
        char text[VIS_CUSTOM_STRING_SIZE];
        GetPrivateProfileStringA(section, row->key, field, text, sizeof(text), path);
        text[sizeof(text) - 1] = 0;
        memcpy(field, text, sizeof(text));
        break;
    }
    }
}

void VisLoadSettings(VisModule* module)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPath(module, path);
    for (const VisSettingKey& row : settingKeys)
        LoadKey(&row, module->description, path);

    // Values the file may hold but nothing can show (a sixth resolution, a ninth scene) fall back
    // to their defaults; they would otherwise index past the resolution table or the scene catalogue.
    VisSettings* s = &visSettings;
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

void VisSaveSettings(VisModule* module)
{
    char path[VIS_PATH_SIZE];
    VisSettingsPath(module, path);
    for (const VisSettingKey& row : settingKeys) {
        const char* field = (const char*)&visSettings + row.offset;
        char number[64];  // "%4.2f" of the largest float takes 42
        const char* text = number;
        if (row.format == VIS_SETTING_SCALE)
            snprintf(number, sizeof(number), "%4.2f", (double)*(const float*)field);
        else if (row.format == VIS_SETTING_TEXT)
            text = field;
        else
            snprintf(number, sizeof(number), "%d", *(const int*)field);
        WritePrivateProfileStringA(module->description, row.key, text, path);
    }
}
