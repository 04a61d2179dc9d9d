// What the fuzz targets share: the input as a file the engine opens by name, the engine started
// headless for the loaders that make Direct3D objects, and the fatal-error path made catchable.
#ifndef MARLIX_FUZZING_H
#define MARLIX_FUZZING_H

#include <kestra.h>

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

// Writes the input to a file of this process with the given extension (".pcx") and returns its path.
const char* FuzzFile(const uint8_t* data, size_t size, const char* extension);

// The engine on the software device in a small headless window, once per process.
void FuzzStartEngine(void);

// A software Direct3D 8 device on an 8x8 headless back buffer with a 16-bit depth buffer, for the
// targets that drive the device directly; aborts when there is none.
IDirect3DDevice8* FuzzCreateDevice(void);

// A fatal error the parser raises by design for some inputs (`text`, exactly) jumps back to the
// setjmp that follows FuzzArmFatal; any other fatal error is a finding and aborts:
//     FuzzArmFatal("Read Failed (lib2buf)");
//     if (setjmp(fuzzFatalReturn)) { ...clean up...; return 0; }
//     ...parse...
//     FuzzArmFatal(nullptr);
extern jmp_buf fuzzFatalReturn;
void FuzzArmFatal(const char* text);

// Aborts (a finding) unless the engine holds exactly `blocks` tracked blocks.
void FuzzCheckBlocks(int32_t blocks, const char* what);

#endif
