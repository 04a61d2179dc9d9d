// Compiled resources of a module: the .res file windres writes from the module's .rc, read the way
// Windows reads a module's resource section (resource types and names, dialog templates, bitmaps).
// Internal to marlix_platform.
#ifndef MARLIX_W32_RESOURCE_H
#define MARLIX_W32_RESOURCE_H

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace w32 {

// A type or name: a number (ordinal) or a text.
struct ResId {
    bool isNumber = true;
    WORD number = 0;
    std::string text;
};

struct ResEntry {
    ResId type;
    ResId name;
    WORD language = 0;
    size_t offset = 0;  // of the data in the file
    size_t size = 0;
};

// Every entry of a .res image; false with the reason in `error` for a damaged one (nothing kept).
bool ParseResourceFile(const uint8_t* data, size_t size, std::vector<ResEntry>* entries, std::string* error);

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::string className;  // the predefined classes by their names: "Button", "Edit", "Static", ...
    ResId text;             // a number for a picture control's image
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    ResId menu;
    ResId className;
    std::string title;
    WORD pointSize = 0;  // with DS_SETFONT
    std::string fontName;
    std::vector<DialogItem> items;
};

// A DLGTEMPLATE with its items; false with the reason for a damaged or unsupported one.
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog, std::string* error);

// Size of a bitmap resource (BITMAPINFOHEADER, colour table and bits, all inside the data).
bool ParseBitmapResource(const uint8_t* data, size_t size, int* width, int* height, std::string* error);

// The resources of a loaded module, from the .res beside its file ("vis_marlix.so" -> "vis_marlix.res").
// Read once per file; the bytes stay for the life of the process.
struct ModuleResources {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<ResEntry> entries;
};
const ModuleResources* ResourcesOf(HINSTANCE instance, std::string* error);
// The entry of a type and name (MAKEINTRESOURCE or text), or null.
const ResEntry* FindResourceEntry(const ModuleResources& resources, WORD type, LPCSTR name);

}  // namespace w32

#endif
