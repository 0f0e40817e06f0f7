// Version numbers of the Ptex API, the file format and the library, and the namespace macros
// that put every declaration into a versioned inner namespace reachable as Ptex::Name.
#ifndef PtexVersion_h
#define PtexVersion_h

#define PtexAPIVersion 4
#define PtexFileMajorVersion 1
#define PtexFileMinorVersion 4
#define PtexLibraryMajorVersion 2
#define PtexLibraryMinorVersion 4

#define PTEX_NAMESPACE Ptex

// The inner namespace is v<major>_<minor>, or v<major>_<minor>_<vendor> when PTEX_VENDOR is
// defined, so that two copies of the library in one process never share mangled names.
#define PTEX_NS_PASTE2(major, minor) v##major##_##minor
#define PTEX_NS_PASTE3(major, minor, vendor) v##major##_##minor##_##vendor
#define PTEX_NS_EXPAND2(major, minor) PTEX_NS_PASTE2(major, minor)
#define PTEX_NS_EXPAND3(major, minor, vendor) PTEX_NS_PASTE3(major, minor, vendor)

#ifdef PTEX_VENDOR
#define PTEX_VERSION_NAMESPACE PTEX_NS_EXPAND3(PtexLibraryMajorVersion, PtexLibraryMinorVersion, PTEX_VENDOR)
#else
#define PTEX_VERSION_NAMESPACE PTEX_NS_EXPAND2(PtexLibraryMajorVersion, PtexLibraryMinorVersion)
#endif

#define PTEX_NAMESPACE_BEGIN                \
    namespace PTEX_NAMESPACE {              \
    namespace PTEX_VERSION_NAMESPACE {}     \
    using namespace PTEX_VERSION_NAMESPACE; \
    namespace PTEX_VERSION_NAMESPACE {

#define PTEX_NAMESPACE_END \
    }                      \
    }

#endif
