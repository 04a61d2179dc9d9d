// Reading compiled resources: the .res layout (a header per entry, each DWORD aligned), dialog
// templates and bitmap headers. Every length, count and offset is checked against the bytes.
#include "w32_resource.h"

#include "w32_internal.h"

#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>

namespace w32 {

namespace {

constexpr WORD kTypeBitmap = 2;

// A bounds-checked little-endian cursor over a byte range.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool failed = false;

    bool Need(size_t n) {
        if (failed || n > size - at) failed = true;
        return !failed;
    }
    WORD Word() {
        if (!Need(2)) return 0;
        WORD v = (WORD)(data[at] | data[at + 1] << 8);
        at += 2;
        return v;
    }
    DWORD Dword() {
        WORD lo = Word();
        WORD hi = Word();
        return (DWORD)lo | (DWORD)hi << 16;
    }
    void AlignTo(size_t boundary) {
        size_t pad = (boundary - at % boundary) % boundary;
        if (Need(pad)) at += pad;
    }
    // A zero-terminated UTF-16 text, kept as 8-bit characters (others become '?').
    std::string Text() {
        std::string out;
        for (;;) {
            WORD c = Word();
            if (failed || c == 0) break;
            out.push_back(c < 0x100 ? (char)c : '?');
        }
        return out;
    }
    // The "number or text" field of resource headers and templates: 0xFFFF then the number.
    ResId Id() {
        ResId id;
        if (!Need(2)) return id;
        WORD first = (WORD)(data[at] | data[at + 1] << 8);
        if (first == 0xFFFF) {
            at += 2;
            id.number = Word();
        } else {
            id.isNumber = false;
            id.text = Text();
        }
        return id;
    }
    // A template's menu, class or item text: 0 none, 0xFFFF then a number, else a text.
    ResId OptionalId() {
        if (!Need(2)) return ResId();
        WORD first = (WORD)(data[at] | data[at + 1] << 8);
        if (first == 0) {
            at += 2;
            ResId none;
            none.isNumber = false;
            return none;
        }
        return Id();
    }
};

// Names of the predefined control classes, by the atoms templates use for them.
std::string PredefinedClass(WORD atom) {
    switch (atom) {
    case 0x0080: return "Button";
    case 0x0081: return "Edit";
    case 0x0082: return "Static";
    case 0x0083: return "ListBox";
    case 0x0084: return "ScrollBar";
    case 0x0085: return "ComboBox";
    default: return std::string();
    }
}

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool ParseResourceFile(const uint8_t* data, size_t size, std::vector<ResEntry>* entries, std::string* error) {
    std::vector<ResEntry> found;
    Reader r{data, size};
    while (r.at < size) {
        size_t start = r.at;
        DWORD dataSize = r.Dword();
        DWORD headerSize = r.Dword();
        if (r.failed) return Fail(error, "resource header cut short at byte " + std::to_string(start));
        if (headerSize < 32 || headerSize > size - start)
            return Fail(error, "resource header size " + std::to_string(headerSize) + " at byte " +
                                   std::to_string(start) + " does not fit the file");
        Reader h{data, start + headerSize, start + 8};  // the header's own bytes only
        ResEntry e;
        e.type = h.Id();
        e.name = h.Id();
        h.AlignTo(4);
        h.Dword();  // data version
        h.Word();   // memory flags
        e.language = h.Word();
        h.Dword();  // version
        h.Dword();  // characteristics
        if (h.failed) return Fail(error, "resource header at byte " + std::to_string(start) + " is damaged");
        size_t dataStart = start + headerSize;
        if (dataSize > size - dataStart)
            return Fail(error, "resource data of " + std::to_string(dataSize) + " bytes at byte " +
                                   std::to_string(dataStart) + " runs past the end of the file");
        e.offset = dataStart;
        e.size = dataSize;
        // The first entry of every .res is an empty one that only marks the format.
        bool marker = dataSize == 0 && e.type.isNumber && e.type.number == 0 && e.name.isNumber && e.name.number == 0;
        if (!marker) found.push_back(e);
        r.at = dataStart + dataSize;
        r.AlignTo(4);
        if (r.failed) r.at = size;  // padding of the last entry may be left out
    }
    *entries = std::move(found);
    return true;
}

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog, std::string* error) {
    Reader r{data, size};
    if (size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF)
        return Fail(error, "extended dialog templates (DIALOGEX) are not supported");
    DialogTemplate d;
    d.style = r.Dword();
    d.exStyle = r.Dword();
    WORD count = r.Word();
    d.x = (short)r.Word();
    d.y = (short)r.Word();
    d.cx = (short)r.Word();
    d.cy = (short)r.Word();
    d.menu = r.OptionalId();
    d.className = r.OptionalId();
    d.title = r.Text();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        d.fontName = r.Text();
    }
    if (r.failed) return Fail(error, "dialog template header cut short");
    if (d.cx < 0 || d.cy < 0) return Fail(error, "dialog template has a negative size");
    for (WORD i = 0; i < count; i++) {
        r.AlignTo(4);
        DialogItem item;
        item.style = r.Dword();
        item.exStyle = r.Dword();
        item.x = (short)r.Word();
        item.y = (short)r.Word();
        item.cx = (short)r.Word();
        item.cy = (short)r.Word();
        item.id = r.Word();
        ResId cls = r.Id();
        if (cls.isNumber) {
            item.className = PredefinedClass(cls.number);
            if (item.className.empty() && !r.failed)
                return Fail(error, "dialog item " + std::to_string(i) + " names unknown class atom " +
                                       std::to_string(cls.number));
        } else {
            item.className = cls.text;
        }
        item.text = r.OptionalId();
        WORD extra = r.Word();
        if (r.Need(extra)) {
            item.creationData.assign(data + r.at, data + r.at + extra);
            r.at += extra;
        }
        if (r.failed) return Fail(error, "dialog item " + std::to_string(i) + " of " + std::to_string(count) + " cut short");
        if (item.cx < 0 || item.cy < 0) return Fail(error, "dialog item " + std::to_string(i) + " has a negative size");
        d.items.push_back(std::move(item));
    }
    *dialog = std::move(d);
    return true;
}

bool ParseBitmapResource(const uint8_t* data, size_t size, int* width, int* height, std::string* error) {
    Reader r{data, size};
    DWORD headerSize = r.Dword();
    int32_t w = (int32_t)r.Dword();
    int32_t h = (int32_t)r.Dword();
    WORD planes = r.Word();
    WORD bits = r.Word();
    DWORD compression = r.Dword();
    r.Dword();  // image size
    r.Dword();
    r.Dword();  // resolution
    DWORD used = r.Dword();
    if (r.failed || headerSize < 40 || headerSize > size) return Fail(error, "bitmap header cut short");
    if (w <= 0 || h == 0 || h == INT32_MIN || w > 32767 || h > 32767 || h < -32767 || planes != 1)
        return Fail(error, "bitmap has an impossible size");
    if (compression != 0) return Fail(error, "compressed bitmaps are not supported");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return Fail(error, "unsupported bit depth");
    uint64_t colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
    if (colours > 256) return Fail(error, "bitmap colour table too long");
    uint64_t stride = ((uint64_t)w * bits + 31) / 32 * 4;
    uint64_t rows = (uint64_t)(h < 0 ? -h : h);
    uint64_t need = headerSize + colours * 4 + stride * rows;
    if (need > size) return Fail(error, "bitmap pixels run past the end of the resource");
    *width = w;
    *height = (int)rows;
    return true;
}

const ModuleResources* ResourcesOf(HINSTANCE instance, std::string* error) {
    char module[4096];
    DWORD n = GetModuleFileNameA((HMODULE)instance, module, sizeof(module));
    if (n == 0 || n >= sizeof(module)) {
        Fail(error, "the module has no file name");
        return nullptr;
    }
    std::string path(module, n);
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
    path += ".res";

    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<ModuleResources>> cache;
    std::lock_guard<std::mutex> g(mutex);
    auto found = cache.find(path);
    if (found != cache.end()) return found->second.get();

    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        Fail(error, "no compiled resources at " + path);
        return nullptr;
    }
    auto res = std::make_unique<ModuleResources>();
    res->path = path;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0) res->bytes.insert(res->bytes.end(), chunk, chunk + got);
    fclose(f);
    std::string why;
    if (!ParseResourceFile(res->bytes.data(), res->bytes.size(), &res->entries, &why)) {
        Fail(error, path + ": " + why);
        return nullptr;
    }
    return (cache[path] = std::move(res)).get();
}

const ResEntry* FindResourceEntry(const ModuleResources& resources, WORD type, LPCSTR name) {
    for (const ResEntry& e : resources.entries) {
        if (!e.type.isNumber || e.type.number != type) continue;
        if (IS_INTRESOURCE(name) ? (e.name.isNumber && e.name.number == (WORD)(uintptr_t)name)
                                 : (!e.name.isNumber && strcasecmp(e.name.text.c_str(), name) == 0))
            return &e;
    }
    return nullptr;
}

}  // namespace w32

// Every entry of a .res image, every dialog template and every bitmap in it, parsed as the dialog
// code would: the number of entries, or -1 with the reason.
extern "C" int MarlixParseResources(const void* data, size_t size, char* error, size_t errorSize) {
    std::string why;
    std::vector<w32::ResEntry> entries;
    const uint8_t* bytes = (const uint8_t*)data;
    bool ok = w32::ParseResourceFile(bytes, size, &entries, &why);
    for (size_t i = 0; ok && i < entries.size(); i++) {
        const w32::ResEntry& e = entries[i];
        if (!e.type.isNumber) continue;
        if (e.type.number == 5) {
            w32::DialogTemplate d;
            ok = w32::ParseDialogTemplate(bytes + e.offset, e.size, &d, &why);
        } else if (e.type.number == w32::kTypeBitmap) {
            int w, h;
            ok = w32::ParseBitmapResource(bytes + e.offset, e.size, &w, &h, &why);
        }
    }
    if (!ok && error && errorSize) snprintf(error, errorSize, "%s", why.c_str());
    return ok ? (int)entries.size() : -1;
}
