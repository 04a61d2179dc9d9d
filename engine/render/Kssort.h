// Depth order of the deferred polygons: a stable least-significant-byte radix sort into
// descending key order (largest key, the farthest polygon, first).
//
// The arrays live in the engine state block (ksGlobal.sortKeys, sortWork1, sortWork2, sortOrder,
// each ksGlobal.polygonCapacity entries): the keys in queue order go in, the drawing order (face
// indices) comes out in sortOrder.
#ifndef KSSORT_H
#define KSSORT_H

#include <stdint.h>

// Order the first n keys by their low 16 bits / by all 32 bits. n <= 0 leaves the order untouched;
// n is cut to the arrays' capacity, and nothing happens while the arrays do not exist.
void KS_SortKeys16(int32_t n);
void KS_SortKeys32(int32_t n);

// The same sort on caller arrays of n entries: `bytes` passes (2 or 4) over keys, with two work
// arrays, leaving face indices in order.
void KS_RadixSortKeys(const int32_t* keys, int32_t n, int32_t bytes, int32_t* work1, int32_t* work2,
                      int32_t* order);

#endif
