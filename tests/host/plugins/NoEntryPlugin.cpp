// A shared library that is not a plug-in: it exports a function, but no getLibDesc.
extern "C" __attribute__((visibility("default"))) int notAPlugin() { return 42; }
