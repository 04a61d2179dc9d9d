// The file layer: files read whole into memory, from the disk or from the selected library, and
// the table of library handlers chosen by extension.
#define KS_MODULE "kslibrary"
#include "kestra.h"

#include <stdio.h>
#include <string.h>

static KSLibraryHandler ksLibraryHandlers[KS_LIBRARY_HANDLER_ROWS + 1];
static int32_t ksLibraryHandlerCount = 0;
static int32_t ksLibraryHandler = 0;   // row selected by KS_OpenLibrary
static int32_t ksLibraryOpen = 0;
static char ksLibraryPath[260];        // copy of the selected library's path (kept for reference)

static char KS_UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// ---- Files ----

static KSFile* KS_ReadDiskFile(const char* name) {
    FILE* stream = fopen(name, "rb");
    if (!stream) return nullptr;
    long length = -1;
    if (fseek(stream, 0, SEEK_END) == 0) length = ftell(stream);
    // The layer keeps sizes and positions in 32 bits: larger files are not engine files.
    if (length < 0 || length > 0x7FFFFFF0L || fseek(stream, 0, SEEK_SET) != 0) {
        fclose(stream);
        return nullptr;
    }
    uint8_t* data = (uint8_t*)KS_ALLOC(length);
    if (!data) {
        fclose(stream);
        return nullptr;
    }
    if (length > 0 && fread(data, 1, (size_t)length, stream) != (size_t)length) {
        KS_FREE(data);
        fclose(stream);
        return nullptr;
    }
    fclose(stream);
    KSFile* file = (KSFile*)KS_ALLOC(sizeof(KSFile));
    if (!file) {
        KS_FREE(data);
        return nullptr;
    }
    file->data = data;
    file->size = (int32_t)length;
    return file;
}

KSFile* KS_OpenFile(const char* name) {
    if (!name) return nullptr;
    KSFile* file = nullptr;
    if (ksLibraryOpen) {
        const KSLibraryHandler* handler = &ksLibraryHandlers[ksLibraryHandler];
        if (!handler->loadEntry) return nullptr;
        uint8_t* data = handler->loadEntry(name);
        if (!data) return nullptr;
        int32_t size = handler->entrySize ? handler->entrySize(name) : 0;
        file = (KSFile*)KS_ALLOC(sizeof(KSFile));
        if (!file) {
            KS_FREE(data);
            return nullptr;
        }
        file->data = data;
        file->size = size < 0 ? 0 : size;
    } else {
        file = KS_ReadDiskFile(name);
        if (!file) return nullptr;
    }
    file->position = 0;
    file->current = file->data;
    return file;
}

void KS_CloseFile(KSFile* file) {
    if (!file) return;
    KS_FREE(file->data);
    KS_FREE(file);
}

int32_t KS_ReadFile(void* destination, int32_t size, int32_t count, KSFile* file) {
    if (!file || !destination || size <= 0 || count <= 0) return 0;
    int64_t wanted = (int64_t)size * (int64_t)count;
    int64_t left = (int64_t)file->size - file->position;
    if (wanted > left) wanted = left;
    if (wanted <= 0) return 0;
    memcpy(destination, file->current, (size_t)wanted);
    file->position += (int32_t)wanted;
    file->current = file->data + file->position;
    return (int32_t)wanted;
}

int32_t KS_ReadByte(KSFile* file) {
    if (!file || file->position >= file->size) return 0;
    int32_t value = *file->current;
    file->position++;
    file->current++;
    return value;
}

void KS_SeekFile(KSFile* file, int32_t offset, int32_t origin) {
    if (!file) return;
    int64_t base = 0;
    if (origin == KS_SEEK_CUR)
        base = file->position;
    else if (origin == KS_SEEK_END)
        base = file->size;
    int64_t position = base + offset;
    if (position < 0) position = 0;
    if (position > file->size) position = file->size;
    file->position = (int32_t)position;
    file->current = file->data + file->position;
}

int32_t KS_TellFile(KSFile* file) {
    return file ? file->position : 0;
}

int32_t KS_EndOfFile(KSFile* file) {
    return (!file || file->position >= file->size) ? 1 : 0;
}

// ---- Library handlers ----

static bool KS_SameHandler(const KSLibraryHandler* a, const KSLibraryHandler* b) {
    return strcmp(a->extension, b->extension) == 0 && a->open == b->open && a->close == b->close &&
           a->loadEntry == b->loadEntry && a->entrySize == b->entrySize && a->entryCount == b->entryCount &&
           a->entryName == b->entryName;
}

void KS_RegisterLibraryHandler(const KSLibraryHandler* handler) {
    if (!handler) return;
    KSLibraryHandler candidate = *handler;
    for (int i = 0; i < 4 && candidate.extension[i]; i++) candidate.extension[i] = KS_UpperAscii(candidate.extension[i]);
    candidate.extension[4] = 0;
    // The engine registers its handlers at every start. When the row that would serve this
    // extension already is this very handler, another row would change no lookup and only use up
    // the table (a process that starts the engine often would fill it), so nothing is added.
    int32_t last = -1;
    for (int32_t i = 0; i < ksLibraryHandlerCount; i++)
        if (strcmp(ksLibraryHandlers[i].extension, candidate.extension) == 0) last = i;
    if (last >= 0 && KS_SameHandler(&ksLibraryHandlers[last], &candidate)) return;
    ksLibraryHandlers[ksLibraryHandlerCount] = candidate;
    if (ksLibraryHandlerCount < KS_LIBRARY_HANDLER_ROWS) ksLibraryHandlerCount++;
}

void KS_ClearLibraryHandlers(void) {
    if (ksLibraryOpen) KS_CloseLibrary();
    memset(ksLibraryHandlers, 0, sizeof(ksLibraryHandlers));
    ksLibraryHandlerCount = 0;
    ksLibraryHandler = 0;
}

int32_t KS_LibraryHandlerCount(void) {
    return ksLibraryHandlerCount;
}

void KS_RegisterLibraryHandlers(void) {
    ksLibraryOpen = 0;
    static const char* const extensions[] = {".LIB", ".CHR", ".LSL", ".PBS"};
    for (const char* extension : extensions) {
        KSLibraryHandler handler;
        memset(&handler, 0, sizeof(handler));
        strncpy(handler.extension, extension, 4);
        handler.open = KS_ZukOpen;
        handler.close = KS_ZukClose;
        handler.loadEntry = KS_ZukLoadEntry;
        handler.entrySize = KS_ZukEntrySize;
        handler.entryCount = KS_ZukEntryCount;
        handler.entryName = KS_ZukEntryName;
        KS_RegisterLibraryHandler(&handler);
    }
}

// The extension of the path's last component, with its dot ("" when it has none).
static void KS_PathExtension(const char* path, char* out, size_t outSize) {
    const char* name = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    const char* dot = strrchr(name, '.');
    out[0] = 0;
    if (!dot) return;
    size_t n = 0;
    for (; dot[n] && n + 1 < outSize; n++) out[n] = KS_UpperAscii(dot[n]);
    out[n] = 0;
}

void KS_OpenLibrary(const char* path) {
    if (!path) return;
    char extension[16];
    KS_PathExtension(path, extension, sizeof(extension));
    ksLibraryHandler = 0;
    for (int32_t i = 0; i < ksLibraryHandlerCount; i++)
        if (strcmp(ksLibraryHandlers[i].extension, extension) == 0) ksLibraryHandler = i;
    strncpy(ksLibraryPath, path, sizeof(ksLibraryPath) - 1);
    ksLibraryPath[sizeof(ksLibraryPath) - 1] = 0;
    const KSLibraryHandler* handler = &ksLibraryHandlers[ksLibraryHandler];
    // Without any registered handler there is nothing to read from; stay on the disk.
    if (!handler->open) return;
    handler->open(path);
    ksLibraryOpen = 1;
}

void KS_CloseLibrary(void) {
    ksLibraryOpen = 0;
    const KSLibraryHandler* handler = &ksLibraryHandlers[ksLibraryHandler];
    if (handler->close) handler->close();
}

int32_t KS_LibraryIsOpen(void) {
    return ksLibraryOpen;
}

int32_t KS_LibraryEntryCount(void) {
    const KSLibraryHandler* handler = &ksLibraryHandlers[ksLibraryHandler];
    return (ksLibraryOpen && handler->entryCount) ? handler->entryCount() : 0;
}

void KS_LibraryEntryName(int32_t index, char* out) {
    if (!out) return;
    out[0] = 0;
    const KSLibraryHandler* handler = &ksLibraryHandlers[ksLibraryHandler];
    if (ksLibraryOpen && handler->entryName) handler->entryName(index, out);
}
