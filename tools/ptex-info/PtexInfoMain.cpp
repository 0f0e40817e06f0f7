// ptex-info: report on a Ptex file.
//   ptex-info [-f] [-m] FILE     header, plus per-face info (-f) and meta data (-m)
//   ptex-info --json FILE        the file's manifest (header, meta, faces, level hashes, samples)
//   ptex-info --mesh FILE OUT.obj   the mesh stored in the file's meta data, as an OBJ file

#include "HostError.h"
#include "OutputFile.h"
#include "ProgramOutput.h"
#include "PtexInfoText.h"
#include "PtexManifest.h"
#include "PtexMetaMesh.h"

#include <Ptexture.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* kUsage =
    "usage: ptex-info [-f] [-m] FILE\n       ptex-info --json FILE\n       ptex-info --mesh FILE OUT.obj\n";

int usage()
{
    fputs(kUsage, stderr);
    return 2;
}

int help()
{
    printf(
        "%s"
        "Reports on a Ptex file on standard output: its header (mesh type, data type, channels, alpha\n"
        "channel, faces, edits, mipmaps, border and edge modes), with -f every face (resolution,\n"
        "adjacent faces and edges, flags) and with -m its meta data; --json writes the file's\n"
        "manifest (header, meta data, faces, a hash per resolution level and sample texels) as JSON;\n"
        "--mesh writes the mesh stored in the file's meta data (PtexFaceVertCounts, PtexFaceVertIndices,\n"
        "PtexVertPositions) as an OBJ file.\n"
        "Exit status 0, 1 when the file cannot be read or the output not written, 2 for a usage error.\n",
        kUsage);
    return tarsk::cli::finishStdout("ptex-info: ") ? 0 : 1;
}

// Error texts may span lines ("Can't open ptex file: X\n<reason>"); print them as one.
std::string oneLine(std::string text)
{
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

// Collects lazy-read errors, so that a file that opens but cannot be read fails too.
class ErrorCollector : public PtexErrorHandler {
public:
    void reportError(const char* error) override
    {
        if (first.empty()) first = oneLine(error ? error : "read error");
    }
    std::string first;
};

// Writes the mesh of the file's meta data (PtexFaceVertCounts, PtexFaceVertIndices,
// PtexVertPositions) as an OBJ file, faces in their stored order.
int writeMesh(const char* path, const char* objPath)
{
    try {
        tarsk::host::PtexMetaMesh stored = tarsk::host::readPtexMetaMesh(path);
        tarsk::host::replaceFile(objPath,
                                 [&](const std::string& temporary) { tarsk::host::writeObj(temporary, stored.mesh); });
        return 0;
    } catch (const tarsk::host::HostError& e) {
        fprintf(stderr, "ptex-info: %s\n", e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && !strcmp(argv[1], "--mesh")) return argc == 4 ? writeMesh(argv[2], argv[3]) : usage();
    bool json = false, faces = false, meta = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--json"))
            json = true;
        else if (!strcmp(argv[i], "-f"))
            faces = true;
        else if (!strcmp(argv[i], "-m"))
            meta = true;
        else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h"))
            return help();
        else if ((argv[i][0] == '-' && argv[i][1] != '\0') || path)
            return usage();  // an unknown option or a second file
        else
            path = argv[i];
    }
    if (!path) return usage();

    ErrorCollector errors;
    PtexPtr<PtexCache> cache(PtexCache::create(1, 0, false, nullptr, &errors));
    if (!cache) {
        fprintf(stderr, "ptex-info: out of memory\n");
        return 1;
    }
    Ptex::String error;
    PtexTexture* texture = cache->get(path, error);
    if (!texture) {
        fprintf(stderr, "ptex-info: %s\n", oneLine(error.empty() ? "cannot read " + std::string(path) : error).c_str());
        return 1;
    }
    std::string output;
    if (json) {
        output = tarsk::ptexinfo::manifestJson(*texture);
    }
    if (errors.first.empty()) {
        if (json) {
            fputs(output.c_str(), stdout);
        } else {
            fprintf(stdout, "file: %s\n", path);
            tarsk::ptexinfo::printHeader(*texture, stdout);
            if (faces) tarsk::ptexinfo::printFaces(*texture, stdout);
            if (meta) tarsk::ptexinfo::printMetaData(*texture, stdout);
        }
    }
    texture->release();
    if (!errors.first.empty()) {
        fprintf(stderr, "ptex-info: %s\n", errors.first.c_str());
        return 1;
    }
    return tarsk::cli::finishStdout("ptex-info: ") ? 0 : 1;
}
