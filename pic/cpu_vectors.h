// Whether the row loops of the codec and the driver take their SSE2 vector
// paths. An x86-64 build always has SSE2; a 32-bit x86 build (the plug-in
// DLL) compiles its vector sections for SSE2 alone and asks the CPU once.
// Every vector path gives exactly the bytes of its plain loop.
#pragma once

// Built for x86 with a compiler that can target SSE2 in a section of a file.
#if defined(__GNUC__) && (defined(__SSE2__) || (!defined(__clang__) && defined(__i386__)))
#define PIC_SSE2_PATHS 1
// Set where the compiler does not assume SSE2, so that the vector sections
// must carry the SSE2 target themselves and be entered only when
// UseVectorPaths() says so.
#if !defined(__SSE2__)
#define PIC_SSE2_ONLY_IF_ASKED 1
#endif
#endif

// True when the vector paths are built, the CPU has SSE2, and tests have not
// forced the plain loops.
bool UseVectorPaths();

// For tests, which run every loop both ways: true makes every row loop take
// its plain path, as on a CPU without SSE2.
void ForcePlainPaths(bool plainOnly);
