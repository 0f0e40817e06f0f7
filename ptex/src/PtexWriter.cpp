// PtexWriter::open: a writer for a new file. Editing existing files is in PtexWriterEdit.cpp.

#include "PtexWriterMain.h"

PTEX_NAMESPACE_BEGIN

PtexWriter* PtexWriter::open(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces,
                             String& error, bool genmipmaps)
{
    if (!PtexWriterBase::checkArgs(mt, dt, nchannels, alphachan, nfaces, error)) return nullptr;
    if (!path || !*path) {
        error = "PtexWriter error: no file path given";
        return nullptr;
    }
    try {
        return new PtexMainWriter(path, mt, dt, nchannels, alphachan, nfaces, genmipmaps);
    } catch (const std::exception& e) {
        error = std::string("PtexWriter error: ") + e.what();
        return nullptr;
    }
}

PTEX_NAMESPACE_END
