// The engine's file layer and packed library files.
//
// Every engine file is read whole into memory (KS_OpenFile) and parsed from there with the read,
// seek and tell calls below. While a library file is selected (KS_OpenLibrary ... KS_CloseLibrary),
// KS_OpenFile takes each name from that library instead of the disk, so a font, a texture set or a
// model with its textures can ship as one packed file. Libraries are reached through a table of
// handlers chosen by the library file's extension; the engine registers its own library format
// under .LIB, .CHR, .LSL and .PBS.
#ifndef KSFILES_H
#define KSFILES_H

#include <stdint.h>

// One open file: the whole file (or library entry) in memory and a read position.
struct KSFile {
    uint8_t* data;     // owned buffer of `size` bytes
    uint8_t* current;  // next byte to read, data + position
    int32_t size;      // bytes in data
    int32_t position;  // offset of current from data, 0..size
};

// Origins of KS_SeekFile.
#define KS_SEEK_SET 0
#define KS_SEEK_CUR 1
#define KS_SEEK_END 2

// Reads `name` whole into memory: from the selected library while one is open (a missing entry
// gives null, there is no fall-back to the disk), otherwise from the disk. Null on failure.
KSFile* KS_OpenFile(const char* name);

// Frees the data and the record; null is ignored.
void KS_CloseFile(KSFile* file);

// Copies size * count bytes (fewer when the file has fewer left) and returns the bytes copied.
int32_t KS_ReadFile(void* destination, int32_t size, int32_t count, KSFile* file);

// The next byte 0..255; at the end of the data 0, and the position stays.
int32_t KS_ReadByte(KSFile* file);

// Origin 0 = start, 1 = current position, 2 = end (size + offset); the result is kept in 0..size.
void KS_SeekFile(KSFile* file, int32_t offset, int32_t origin);

int32_t KS_TellFile(KSFile* file);

// Nonzero when every byte has been read.
int32_t KS_EndOfFile(KSFile* file);

// ---- Library handlers ----

#define KS_LIBRARY_HANDLER_ROWS 63  // counted rows; one more slot takes registrations beyond them
#define KS_LIBRARY_ENTRY_NAME 14    // longest entry name in the engine's library format

// One library format, selected by the library file's extension.
struct KSLibraryHandler {
    char extension[5];                           // with its dot, upper case: ".LIB"
    void (*open)(const char* path);              // select a library file: read its directory
    void (*close)(void);                         // forget the selected library
    uint8_t* (*loadEntry)(const char* name);     // new KS_ALLOC buffer with the entry, or null
    int32_t (*entrySize)(const char* name);      // bytes, 0 when absent
    int32_t (*entryCount)(void);                 // entries in the selected library
    void (*entryName)(int32_t index, char* out); // copies the name (KS_LIBRARY_ENTRY_NAME + 1 bytes)
};

// Adds a handler (the extension is stored upper case, at most 4 characters). The first 63 get
// their own rows; any further registration overwrites the one slot behind them.
void KS_RegisterLibraryHandler(const KSLibraryHandler* handler);

// Forgets every handler (the table starts empty again); for tools and tests that build their own.
void KS_ClearLibraryHandlers(void);
int32_t KS_LibraryHandlerCount(void);

// Engine start-up: no library open, and the engine's library format under .LIB, .CHR, .LSL, .PBS.
void KS_RegisterLibraryHandlers(void);

// Selects the handler for the path's extension (last matching row; row 0 when none matches) and
// opens the library with it; from now on KS_OpenFile reads from that library.
void KS_OpenLibrary(const char* path);

// Back to reading from the disk.
void KS_CloseLibrary(void);

// Nonzero while a library is open.
int32_t KS_LibraryIsOpen(void);

// Entry count and entry names of the open library (0 / empty name when none is open).
int32_t KS_LibraryEntryCount(void);
void KS_LibraryEntryName(int32_t index, char* out);

// ---- The engine's library format (module kszuklib) ----

// The handler functions of the engine's library format.
void KS_ZukOpen(const char* path);
void KS_ZukClose(void);
uint8_t* KS_ZukLoadEntry(const char* name);
int32_t KS_ZukEntrySize(const char* name);
int32_t KS_ZukEntryCount(void);
void KS_ZukEntryName(int32_t index, char* out);

// Entry names are stored scrambled: each byte is the character plus an offset from a sequence that
// restarts at the file's seed for every name. These turn `length` bytes one way or the other.
void KS_ZukScrambleName(int32_t seed, const char* plain, uint8_t* stored, int32_t length);
void KS_ZukUnscrambleName(int32_t seed, const uint8_t* stored, char* plain, int32_t length);

// One entry handed to the library writer.
struct KSLibraryEntry {
    const char* name;  // 1 to 14 characters; readers find it in any case
    const void* data;
    int32_t size;      // bytes of data, at least 1
};

// Writes a library file: seed, the scrambled 15-byte text field (title, may be null) and the
// entries in the given order. Returns 1, or KSERR_WRITE when the file cannot be written or an
// entry is not representable (name empty or longer than 14 characters, no data: the reader
// cannot load an empty entry).
int32_t KS_WriteLibrary(const char* path, int32_t seed, const char* title,
                        const KSLibraryEntry* entries, int32_t count);

#endif
