// Memory tracker: owner records, zeroed guarded blocks, overrun checks and the leak report.
#define KS_MODULE "ksmemory"
#include "kestra.h"

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Addresses are printed whole: 8 hex digits on 32-bit builds, all of them on 64-bit ones.
#define KS_ADDR "0x%08" PRIXPTR

static const uint32_t KS_GUARD = 0xEEEEEEEEu;
static const int32_t KS_GUARD_BYTES = 8;

int32_t ksMemoryLog = 0;

static int ksMemInitialised = 0;
static KSMemRecord* ksMemHead = nullptr;   // first record; null once the last block was freed
static KSMemRecord* ksMemTail = nullptr;   // last record, so that appending is not a walk
static int32_t ksMemCount = 0;
static int32_t ksMemTotal = 0;

static KSMemRecord* KS_NewRecord(void)
{
    KSMemRecord* record = (KSMemRecord*)malloc(sizeof(KSMemRecord));
    if (record)
        memset(record, 0, sizeof(*record));
    return record;
}

static int32_t ksMemLeaks = 0;

// Leak report and release of every record (shut-down steps 1 and 2).
static void KS_ReleaseAll(void)
{
    ksMemLeaks = ksMemCount;
    if (ksMemCount != 0 || ksMemTotal != 0) {
        if (ksMemoryLog)
            KS_Log("\n\n%d memory leak(s) detected using %d bytes", ksMemCount, ksMemTotal);
    }
    KSMemRecord* record = ksMemHead;
    while (record) {
        KSMemRecord* next = record->next;
        if (record->address) {
            if (ksMemoryLog)
                KS_Log("Memory leak At:" KS_ADDR " Size:%d Owner:%s", (uintptr_t)record->address,
                       record->size, record->owner);
            free(record->system);
        }
        // The empty list head is a record too; it is freed even when nothing leaked.
        free(record);
        record = next;
    }
    ksMemHead = nullptr;
    ksMemTail = nullptr;
}

void KS_MemoryInit(void)
{
    if (ksMemInitialised)
        KS_ReleaseAll();
    ksMemInitialised = 1;
    ksMemHead = KS_NewRecord();
    if (!ksMemHead)
        exit(1);
    ksMemTail = ksMemHead;
    ksMemCount = 0;
    ksMemTotal = 0;
    if (ksMemoryLog) {
        KS_Log("Memory Log file initialized.....");
        KS_Log("-------------------------");
    }
}

void* KS_Alloc(int32_t size, const char* module, int32_t line)
{
    if (!ksMemInitialised)
        return nullptr;
    if (!module)
        module = "";

    // A negative size or one that cannot take the guard words is a caller's fault, not a block.
    // The system block has room in front of the leading guard so that the caller's block is
    // aligned for any type, also where the system only aligns to 8 bytes.
    const size_t padding = KS_MEMORY_ALIGN - 4;
    uint8_t* system = nullptr;
    if (size >= 0 && size <= INT32_MAX - KS_GUARD_BYTES - (int32_t)padding)
        system = (uint8_t*)malloc((size_t)size + KS_GUARD_BYTES + padding);
    uint8_t* guard = nullptr;
    if (system) {
        uintptr_t block = ((uintptr_t)system + 4 + (KS_MEMORY_ALIGN - 1)) & ~(uintptr_t)(KS_MEMORY_ALIGN - 1);
        guard = (uint8_t*)block - 4;
    }
    if (ksMemoryLog)
        KS_Log("%s (L%d) allocated %d bytes at " KS_ADDR, module, line, size, (uintptr_t)guard);
    if (!system) {
        if (ksMemoryLog)
            KS_Log("%s (L%d) failed to allocate RAM for %d bytes", module, line, size);
        return nullptr;
    }
    memset(system, 0, (size_t)size + KS_GUARD_BYTES + padding);

    KSMemRecord* record;
    if (ksMemHead && ksMemHead->address == nullptr) {
        record = ksMemHead;
    } else {
        record = KS_NewRecord();
        if (!record) {
            KS_Log("Unable to add member to mem list");
            exit(1);
        }
        if (ksMemTail)
            ksMemTail->next = record;
        else
            ksMemHead = record;
        ksMemTail = record;
    }
    if (ksMemoryLog)
        snprintf(record->owner, sizeof(record->owner), "%s (L%d)", module, line);
    else
        strcpy(record->owner, " ");
    record->address = guard + 4;
    record->system = system;
    record->size = size;
    record->next = nullptr;
    ksMemCount += 1;

    // The live total is a 32-bit figure; with many large blocks on a 64-bit build it wraps
    // instead of overflowing.
    ksMemTotal = (int32_t)((uint32_t)ksMemTotal + (uint32_t)size + (uint32_t)KS_GUARD_BYTES);
    memcpy(guard, &KS_GUARD, 4);
    memcpy(guard + 4 + size, &KS_GUARD, 4);
    return guard + 4;
}

void KS_Free(void* pointer, const char* module, int32_t line)
{
    if (!ksMemInitialised)
        return;
    if (!module)
        module = "";
    if (ksMemoryLog)
        KS_Log("%s (L%d) called deallocated memory at " KS_ADDR, module, line, (uintptr_t)pointer);

    // Null never names a block (an empty list head holds a null address).
    KSMemRecord* previous = nullptr;
    KSMemRecord* record = pointer ? ksMemHead : nullptr;
    while (record && record->address != pointer) {
        previous = record;
        record = record->next;
    }
    if (!record) {
        if (ksMemoryLog)
            KS_Log("%s (L%d) Unable to find free address in mem list at " KS_ADDR, module, line,
                   (uintptr_t)pointer);
        return;
    }

    uint8_t* system = (uint8_t*)pointer - 4;
    // The leading guard is judged first as a whole: a block damaged at both ends reports the
    // underrun, which is the more telling of the two.
    const uint8_t* lead = system;
    const uint8_t* trail = system + 4 + record->size;
    const char* message = nullptr;
    if (memcmp(lead, &KS_GUARD, 4) != 0)
        message = "Memory Overrun (< 0) at address " KS_ADDR ", Owner is %s";
    else if (memcmp(trail, &KS_GUARD, 4) != 0)
        message = "Memory Overrun (> Size) at address " KS_ADDR ", Owner is %s";
    if (message && ksMemoryLog)
        KS_Log(message, (uintptr_t)system, record->owner);

    ksMemTotal = (int32_t)((uint32_t)ksMemTotal - (uint32_t)record->size - (uint32_t)KS_GUARD_BYTES);
    ksMemCount -= 1;
    free(record->system);

    if (previous)
        previous->next = record->next;
    else
        ksMemHead = record->next;
    if (ksMemTail == record)
        ksMemTail = previous;
    free(record);
}

void KS_MemoryShutdown(void)
{
    KS_ReleaseAll();
    ksMemCount = 0;
    ksMemTotal = 0;
    ksMemInitialised = 0;
}

int32_t KS_MemoryBlockCount(void)
{
    return ksMemCount;
}

int32_t KS_MemoryTotal(void)
{
    return ksMemTotal;
}

int KS_MemoryIsInitialised(void)
{
    return ksMemInitialised;
}

int32_t KS_MemoryLeakCount(void)
{
    return ksMemLeaks;
}
