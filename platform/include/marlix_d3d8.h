// Controls of the software Direct3D 8 device for tests, benchmarks and the host only (never the
// engine or the plug-in): which card it pretends to be, forced device loss, threads, counters.
#ifndef MARLIX_D3D8_CONTROLS_H
#define MARLIX_D3D8_CONTROLS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What the device reports (caps, formats, adapters). The environment variable
// MARLIX_DEVICE_PROFILE selects one by name at the first Direct3DCreate8 of the process; the
// control below overrides it at any time and applies to every query made after it.
typedef enum MarlixDeviceProfile {
  MARLIX_PROFILE_DEFAULT = 0,         // "default": capable card, hardware T&L, 8 lights, 8 stages, 4 textures
  MARLIX_PROFILE_SINGLE_TEXTURE = 1,  // "single-texture": 2 blend stages, 1 texture, no bump or dot3
  MARLIX_PROFILE_THREE_STAGES = 2,    // "three-stages": exactly 3 blend stages and 2 simultaneous textures
  MARLIX_PROFILE_NO_TNL = 3,          // "no-tnl": no hardware transform and lighting
  MARLIX_PROFILE_NO_R5G6B5 = 4,       // "no-r5g6b5": R5G6B5 is not accepted as a texture format
  MARLIX_PROFILE_NO_WINDOWED = 5,     // "no-windowed": cannot render to a window
  MARLIX_PROFILE_TWO_ADAPTERS = 6,    // "two-adapters": a second adapter beside the primary one
  MARLIX_PROFILE_COUNT = 7
} MarlixDeviceProfile;

void MarlixD3D8SetProfile(int profile);
int MarlixD3D8GetProfile(void);
// Profile number for a name above ("default", "single-texture", ...); -1 when unknown.
int MarlixD3D8ProfileFromName(const char* name);
const char* MarlixD3D8ProfileName(int profile);

// Makes every existing device lost now: Present and TestCooperativeLevel answer
// D3DERR_DEVICELOST for the next `polls` calls of TestCooperativeLevel, then D3DERR_DEVICENOTRESET
// until Reset succeeds. polls 0 goes straight to the not-reset state. In the environment,
// MARLIX_DEVICE_PROFILE="NAME,lost=N" (or MARLIX_DEVICE_LOST=N) makes the first device of the
// process lost after its first Present, for N polls.
void MarlixD3D8LoseDevice(int polls);

// Rasteriser threads (1 or 2; default 2). Results are identical for any count.
void MarlixD3D8SetThreads(int threads);
int MarlixD3D8GetThreads(void);

// The rasteriser's specialised span loops (on by default) may be switched off, so tests can
// check that they give exactly the pixels of the general pipeline.
void MarlixD3D8SetFastPaths(int enabled);

// Which code the specialised span loops run: AVX2 when the processor has it (decided once, at
// the first use), else SSE2. Tests may force SSE2 (and go back to AVX2 where the processor has
// it) to check that both give the same pixels; the environment variable MARLIX_D3D8_SPANS=sse2
// forces it for a whole process. Returns the path in use after the request.
enum { MARLIX_SPANS_SSE2 = 1, MARLIX_SPANS_AVX2 = 2 };
int MarlixD3D8SetSpanPath(int path);
int MarlixD3D8GetSpanPath(void);

// Whether draws and clears are queued and rasterised later (on by default), or each one is
// finished before its call returns (for tests that compare the two).
void MarlixD3D8SetQueued(int queued);

typedef struct MarlixD3D8Counters {
  uint64_t drawCalls;       // Draw*Primitive* calls that drew
  uint64_t primitives;      // primitives handed to the device
  uint64_t verticesLit;     // vertices that went through fixed-function lighting
  uint64_t verticesIn;      // vertices transformed or fetched
  uint64_t trianglesDrawn;  // triangles that reached the rasteriser (after clipping and culling)
  uint64_t pixelsShaded;    // pixels covered by triangles (before depth and alpha tests)
  uint64_t clears;
  uint64_t presents;
  uint64_t resets;
} MarlixD3D8Counters;

void MarlixD3D8GetCounters(MarlixD3D8Counters* out);
void MarlixD3D8ResetCounters(void);

// Number of Direct3D objects (Direct3D, devices, surfaces, textures, buffers) alive now: 0 after
// a clean shutdown.
int MarlixD3D8LiveObjects(void);

#ifdef __cplusplus
}
#endif

#endif
