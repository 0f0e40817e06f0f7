// Platform and compiler detection for the Ptex library, and the standard C headers its public
// headers have always made available to client code.
#ifndef PtexPlatform_h
#define PtexPlatform_h

#if defined(_WIN32) || defined(_WINDOWS) || defined(_MSC_VER)
#define PTEX_PLATFORM_WINDOWS
#elif defined(__APPLE__)
#define PTEX_PLATFORM_MACOS
#else
#define PTEX_PLATFORM_UNIX
#endif

#if defined(__clang__)
#define PTEX_COMPILER_CLANG
#elif defined(__INTEL_COMPILER)
#define PTEX_COMPILER_ICC
#elif defined(__GNUC__)
#define PTEX_COMPILER_GCC
#elif defined(_MSC_VER)
#define PTEX_COMPILER_MSVC
#endif

#include <assert.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#endif
