// Memory tracker: every engine allocation goes through KS_Alloc / KS_Free with its owner (module
// name and source line). Blocks are zeroed and sit between two 0xEEEEEEEE guard words, checked on
// free; KS_MemoryShutdown reports and frees whatever is still live. Blocks are aligned for any
// type (KS_MEMORY_ALIGN): the leading guard word sits just before the block, with padding in
// front of it where the system allocation needs it.
//
// How engine modules allocate: each engine .cpp file defines its module name once, near the top,
// e.g.
//     #define KS_MODULE "KSHRDWRE"
//     #include "kestra.h"
// and then allocates only through the macros
//     T* p = (T*)KS_ALLOC(sizeof(T) * n);   // zeroed, null on failure
//     KS_FREE(p);
// which pass KS_MODULE and __LINE__ as the owner. A file that uses the macros without defining
// KS_MODULE does not compile, so no allocation goes untracked or unnamed.
#ifndef KSMEMORY_H
#define KSMEMORY_H

#include <stdint.h>

#define KS_MEMORY_ALIGN 16

#define KS_ALLOC(size) KS_Alloc((int32_t)(size), KS_MODULE, __LINE__)
#define KS_FREE(ptr) KS_Free((ptr), KS_MODULE, __LINE__)

// One record per live block, in allocation order.
struct KSMemRecord {
    char owner[256];      // "module (Lline)" while the memory log is on, else " "
    void* address;        // the address handed to the caller; null in an empty list head
    int32_t size;         // the caller's size
    KSMemRecord* next;
    void* system;         // the system allocation that holds the guarded block
};

// Diagnostic lines of the tracker go to ks.log only while this is non-zero (0 by default).
extern int32_t ksMemoryLog;

// Starts the tracker (a second start first reports and frees the earlier blocks).
void KS_MemoryInit(void);

// A zeroed block of `size` bytes, or null (also before KS_MemoryInit and for a negative size).
void* KS_Alloc(int32_t size, const char* module, int32_t line);

// Frees a block from KS_Alloc after checking its guard words; unknown addresses free nothing.
void KS_Free(void* pointer, const char* module, int32_t line);

// Reports and frees every live block and stops the tracker.
void KS_MemoryShutdown(void);

// Live block count and live total (sizes plus 8 guard bytes each), for checks and tests.
int32_t KS_MemoryBlockCount(void);
int32_t KS_MemoryTotal(void);
int KS_MemoryIsInitialised(void);
// Blocks the last leak report found still live.
int32_t KS_MemoryLeakCount(void);

#endif
