// The shader assembler: vertex shader (vs.1.0, vs.1.1) and pixel shader (ps.1.0 to ps.1.4) source
// text to the Direct3D 8 token stream that CreateVertexShader / CreatePixelShader take.
//
// The text is one statement a line: the version line first ("vs.1.1", "ps.1.4"), then `def`
// lines and instructions. Comments run from ";" or "//" to the end of the line, or between
// "/*" and "*/". A "+" before an instruction of a pixel shader co-issues it with the one before.
#ifndef KSSHADERASM_H
#define KSSHADERASM_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Assembles `length` bytes of `source` (no terminator needed). On success returns 1, `tokens`
// holds the stream from the version token to the end token (0x0000FFFF) and `error` is "".
// On failure returns 0, `tokens` is empty and `error` holds "line N: what is wrong" for the first
// refused statement (cut to errorSize - 1 characters; error may be null when errorSize is 0).
int32_t KS_AssembleShader(const char* source, size_t length, std::vector<uint32_t>* tokens, char* error,
                          size_t errorSize);

#endif
