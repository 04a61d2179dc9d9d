// Radix sort of the deferred polygons' depth keys into descending order.
#define KS_MODULE "Kssort"
#include "kestra.h"

#include <string.h>

// One stable counting pass on key byte `shift / 8`, descending: value 255 starts at position 0.
static void KS_SortPass(const int32_t* keys, const uint32_t* counts, int32_t shift, const int32_t* in,
                        int32_t* out, int32_t n)
{
    int32_t start[256];
    int32_t running = n;
    for (int value = 0; value < 256; value++) {
        running -= (int32_t)counts[value];
        start[value] = running;
    }
    for (int32_t i = 0; i < n; i++) {
        int32_t face = in ? in[i] : i;
        uint32_t byte = ((uint32_t)keys[face] >> shift) & 0xFFu;
        out[start[byte]++] = face;
    }
}

void KS_RadixSortKeys(const int32_t* keys, int32_t n, int32_t bytes, int32_t* work1, int32_t* work2,
                      int32_t* order)
{
    if (n <= 0 || !keys || !work1 || !order)
        return;
    if (bytes != 4)
        bytes = 2;
    if (bytes == 4 && !work2)
        return;

    // Every histogram is counted in one walk over the keys.
    static uint32_t counts[4][256];
    memset(counts, 0, sizeof(counts));
    for (int32_t i = 0; i < n; i++) {
        uint32_t key = (uint32_t)keys[i];
        counts[0][key & 0xFFu]++;
        counts[1][(key >> 8) & 0xFFu]++;
        if (bytes == 4) {
            counts[2][(key >> 16) & 0xFFu]++;
            counts[3][(key >> 24) & 0xFFu]++;
        }
    }

    if (bytes == 2) {
        KS_SortPass(keys, counts[0], 0, nullptr, work1, n);
        KS_SortPass(keys, counts[1], 8, work1, order, n);
    } else {
        KS_SortPass(keys, counts[0], 0, nullptr, work1, n);
        KS_SortPass(keys, counts[1], 8, work1, work2, n);
        KS_SortPass(keys, counts[2], 16, work2, work1, n);
        KS_SortPass(keys, counts[3], 24, work1, order, n);
    }
}

static int32_t KS_SortLimit(int32_t n)
{
    if (!ksGlobal.sortKeys || !ksGlobal.sortWork1 || !ksGlobal.sortWork2 || !ksGlobal.sortOrder)
        return 0;
    return n < ksGlobal.polygonCapacity ? n : ksGlobal.polygonCapacity;
}

void KS_SortKeys16(int32_t n)
{
    n = KS_SortLimit(n);
    KS_RadixSortKeys(ksGlobal.sortKeys, n, 2, ksGlobal.sortWork1, ksGlobal.sortWork2, ksGlobal.sortOrder);
}

void KS_SortKeys32(int32_t n)
{
    n = KS_SortLimit(n);
    KS_RadixSortKeys(ksGlobal.sortKeys, n, 4, ksGlobal.sortWork1, ksGlobal.sortWork2, ksGlobal.sortOrder);
}
