// The engine's library format: a 21-byte header (2 unused bytes, the int32 seed of the name
// scrambling, a scrambled 15-byte text field) followed by entries, each a 19-byte record (name
// length, 14 scrambled name bytes, int32 data size) directly followed by its data. All numbers are
// little-endian. The reader keeps only the directory in memory and re-opens the file per load, so
// no file handle stays open between loads. The writer is the inverse, for tests and data builders.
#define KS_MODULE "kszuklib"
#include "kestra.h"

#include <stdio.h>
#include <string.h>

#define KS_ZUK_HEADER 21
#define KS_ZUK_TEXT 15
#define KS_ZUK_RECORD 19

struct KSZukEntry {
    char name[KS_LIBRARY_ENTRY_NAME + 1];  // decoded, upper case
    int32_t offset;                        // of the data in the library file
    int32_t size;
};

static char* ksZukPath = nullptr;
static KSZukEntry* ksZukDirectory = nullptr;
static int32_t ksZukCount = 0;
static int32_t ksZukCapacity = 0;

static int32_t KS_ReadInt32LE(const uint8_t* p) {
    return (int32_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
}

static void KS_WriteInt32LE(uint8_t* p, int32_t value) {
    uint32_t v = (uint32_t)value;
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// The next offset of the name sequence. The state update wraps like 32-bit two's complement and the
// remainder keeps the sign of the state, so offsets run from -49 to 49.
static int32_t KS_ZukNextOffset(int32_t* state) {
    int32_t s = (int32_t)((uint32_t)*state * 6293u + 997u);
    s = s % 16384;
    *state = s;
    return (s * 50) / 16384;
}

static char KS_UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

void KS_ZukScrambleName(int32_t seed, const char* plain, uint8_t* stored, int32_t length) {
    int32_t state = seed;
    for (int32_t k = 0; k < length; k++) stored[k] = (uint8_t)((uint8_t)plain[k] + KS_ZukNextOffset(&state));
}

void KS_ZukUnscrambleName(int32_t seed, const uint8_t* stored, char* plain, int32_t length) {
    int32_t state = seed;
    for (int32_t k = 0; k < length; k++) {
        int32_t value = (int32_t)(int8_t)stored[k] - KS_ZukNextOffset(&state);
        // Upper-cased as a byte: the stored byte may have wrapped past 127 while it was written.
        plain[k] = KS_UpperAscii((char)(uint8_t)value);
    }
}

static void KS_ZukForget(void) {
    KS_FREE(ksZukDirectory);
    KS_FREE(ksZukPath);
    ksZukDirectory = nullptr;
    ksZukPath = nullptr;
    ksZukCount = 0;
    ksZukCapacity = 0;
}

static int KS_ZukAppend(const char* name, int32_t offset, int32_t size) {
    if (ksZukCount == ksZukCapacity) {
        int32_t capacity = ksZukCapacity ? ksZukCapacity * 2 : 32;
        KSZukEntry* grown = (KSZukEntry*)KS_ALLOC((int64_t)capacity * (int64_t)sizeof(KSZukEntry));
        if (!grown) return 0;
        if (ksZukDirectory) {
            memcpy(grown, ksZukDirectory, sizeof(KSZukEntry) * (size_t)ksZukCount);
            KS_FREE(ksZukDirectory);
        }
        ksZukDirectory = grown;
        ksZukCapacity = capacity;
    }
    KSZukEntry* entry = &ksZukDirectory[ksZukCount++];
    strncpy(entry->name, name, KS_LIBRARY_ENTRY_NAME);
    entry->name[KS_LIBRARY_ENTRY_NAME] = 0;
    entry->offset = offset;
    entry->size = size;
    return 1;
}

void KS_ZukOpen(const char* path) {
    KS_ZukForget();
    if (!path) return;
    size_t length = strlen(path);
    ksZukPath = (char*)KS_ALLOC(length + 1);
    if (!ksZukPath) return;
    memcpy(ksZukPath, path, length + 1);

    FILE* stream = fopen(path, "rb");
    if (!stream) KS_FatalError("Cannot find library file: ", path);
    int64_t fileSize = -1;
    if (fseek(stream, 0, SEEK_END) == 0) fileSize = ftell(stream);
    if (fseek(stream, 0, SEEK_SET) != 0) fileSize = -1;

    uint8_t header[KS_ZUK_HEADER];
    memset(header, 0, sizeof(header));
    size_t got = fread(header, 1, sizeof(header), stream);
    int32_t seed = KS_ReadInt32LE(header + 2);
    char text[KS_ZUK_TEXT + 1];
    KS_ZukUnscrambleName(seed, header + 6, text, KS_ZUK_TEXT);  // decoded, as the format asks; unused
    text[KS_ZUK_TEXT] = 0;

    int64_t p = KS_ZUK_HEADER;
    while (got == sizeof(header) && p <= fileSize) {
        uint8_t record[KS_ZUK_RECORD];
        if (fseek(stream, (long)p, SEEK_SET) != 0) break;
        if (fread(record, 1, sizeof(record), stream) != sizeof(record)) break;
        int32_t nameLength = record[0];
        int32_t size = KS_ReadInt32LE(record + 15);
        // A negative size would walk backwards through the file for ever: the directory ends here.
        if (size < 0) break;
        // Longer names than the record holds are cut to its 14 bytes.
        if (nameLength > KS_LIBRARY_ENTRY_NAME) nameLength = KS_LIBRARY_ENTRY_NAME;
        char name[KS_LIBRARY_ENTRY_NAME + 1];
        KS_ZukUnscrambleName(seed, record + 1, name, nameLength);
        name[nameLength] = 0;
        int64_t dataOffset = p + KS_ZUK_RECORD;
        if (dataOffset > 0x7FFFFFFF) break;
        if (!KS_ZukAppend(name, (int32_t)dataOffset, size)) break;
        p = dataOffset + size;
    }
    fclose(stream);
}

void KS_ZukClose(void) {
    KS_ZukForget();
}

static const KSZukEntry* KS_ZukFind(const char* name) {
    if (!name) return nullptr;
    size_t length = strlen(name);
    if (length > KS_LIBRARY_ENTRY_NAME) return nullptr;
    char upper[KS_LIBRARY_ENTRY_NAME + 1];
    for (size_t i = 0; i <= length; i++) upper[i] = KS_UpperAscii(name[i]);
    // The first of several equal names wins.
    for (int32_t i = 0; i < ksZukCount; i++)
        if (strcmp(ksZukDirectory[i].name, upper) == 0) return &ksZukDirectory[i];
    return nullptr;
}

uint8_t* KS_ZukLoadEntry(const char* name) {
    if (!ksZukPath) return nullptr;
    FILE* stream = fopen(ksZukPath, "rb");
    if (!stream) KS_FatalError("Cannot find library file:", ksZukPath);
    uint8_t header[KS_ZUK_HEADER];
    if (fread(header, 1, sizeof(header), stream) != sizeof(header)) memset(header, 0, sizeof(header));

    const KSZukEntry* entry = KS_ZukFind(name);
    if (!entry) {
        fclose(stream);
        return nullptr;
    }
    int64_t fileSize = -1;
    if (fseek(stream, 0, SEEK_END) == 0) fileSize = ftell(stream);
    // An entry that runs past the end of the file cannot be read whole; fail before allocating it.
    uint8_t* data = nullptr;
    bool readable = entry->size > 0 && (int64_t)entry->offset + entry->size <= fileSize &&
                    fseek(stream, entry->offset, SEEK_SET) == 0;
    if (readable) data = (uint8_t*)KS_ALLOC(entry->size);
    if (!data || fread(data, 1, (size_t)entry->size, stream) != (size_t)entry->size) {
        fclose(stream);
        KS_FREE(data);
        KS_FatalError("Read Failed (lib2buf)", name);
    }
    fclose(stream);
    return data;
}

int32_t KS_ZukEntrySize(const char* name) {
    const KSZukEntry* entry = KS_ZukFind(name);
    return entry ? entry->size : 0;
}

int32_t KS_ZukEntryCount(void) {
    return ksZukCount;
}

void KS_ZukEntryName(int32_t index, char* out) {
    if (!out) return;
    out[0] = 0;
    if (index < 0 || index >= ksZukCount) return;
    strcpy(out, ksZukDirectory[index].name);
}

int32_t KS_WriteLibrary(const char* path, int32_t seed, const char* title,
                        const KSLibraryEntry* entries, int32_t count) {
    if (!path || count < 0 || (count > 0 && !entries)) return KSERR_WRITE;
    for (int32_t i = 0; i < count; i++) {
        size_t length = entries[i].name ? strlen(entries[i].name) : 0;
        // An empty entry is refused: reading one back is the fatal "Read Failed (lib2buf)".
        if (length < 1 || length > KS_LIBRARY_ENTRY_NAME || entries[i].size <= 0 || !entries[i].data)
            return KSERR_WRITE;
    }
    FILE* stream = fopen(path, "wb");
    if (!stream) return KSERR_WRITE;

    uint8_t header[KS_ZUK_HEADER];
    memset(header, 0, sizeof(header));
    KS_WriteInt32LE(header + 2, seed);
    char text[KS_ZUK_TEXT];
    memset(text, 0, sizeof(text));
    if (title) memcpy(text, title, strnlen(title, KS_ZUK_TEXT));
    KS_ZukScrambleName(seed, text, header + 6, KS_ZUK_TEXT);
    bool ok = fwrite(header, 1, sizeof(header), stream) == sizeof(header);

    for (int32_t i = 0; ok && i < count; i++) {
        uint8_t record[KS_ZUK_RECORD];
        memset(record, 0, sizeof(record));
        int32_t length = (int32_t)strlen(entries[i].name);
        record[0] = (uint8_t)length;
        KS_ZukScrambleName(seed, entries[i].name, record + 1, length);
        KS_WriteInt32LE(record + 15, entries[i].size);
        ok = fwrite(record, 1, sizeof(record), stream) == sizeof(record);
        if (ok)
            ok = fwrite(entries[i].data, 1, (size_t)entries[i].size, stream) == (size_t)entries[i].size;
    }
    if (fclose(stream) != 0) ok = false;
    if (!ok) {
        remove(path);
        return KSERR_WRITE;
    }
    return 1;
}
