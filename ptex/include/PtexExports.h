// PTEXAPI marks the library's exported functions and static data. Our library is always linked
// statically with hidden visibility (PTEX_STATIC), so there it expands to nothing.
#ifndef PtexExports_h
#define PtexExports_h

#include "PtexPlatform.h"

#if defined(PTEX_STATIC)
#define PTEXAPI
#elif defined(_WIN32)
#if defined(PTEX_EXPORTS)
#define PTEXAPI __declspec(dllexport)
#else
#define PTEXAPI __declspec(dllimport)
#endif
#else
#if defined(PTEX_EXPORTS)
#define PTEXAPI __attribute__((visibility("default")))
#else
#define PTEXAPI
#endif
#endif

#endif
