// ptex-bake: writes a Ptex file for the faces of an OBJ mesh, with adjacency computed from the
// mesh and texels sampled from an image (through the OBJ's UVs) or a built-in procedural, at a
// fixed resolution or one that follows each face's size, on all cores.
#include "HostError.h"
#include "ObjMesh.h"
#include "PtexBaker.h"
#include "TexelSource.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string usage()
{
    return std::string(
               "usage: ptex-bake MESH.obj OUT.ptx [options]\n"
               "Writes the Ptex file OUT.ptx for the faces of MESH.obj: a triangle-type file for a mesh of\n"
               "triangles only, else a quad-type file where a face of n != 4 corners becomes n sub-faces.\n"
               "  --image IMG.png|IMG.exr   sample an image through the mesh's texture coordinates\n"
               "  --procedural NAME         a built-in procedural in object space (default checker): ") +
           tarsk::bake::proceduralNames() +
           "\n"
           "  --res LOG2                texels per face side as log2, 0 .. 12 (default 5); sub-faces get\n"
           "                            one less; with --texel-density the largest log2 of any face side\n"
           "  --texel-density D         texels per unit length: each face side gets its length times D\n"
           "                            texels, rounded to a power of two, at most 2^LOG2\n"
           "  --type uint8|uint16|half|float   texel type (default uint8)\n"
           "  --alpha                   write a fourth channel, the alpha channel\n"
           "  --no-adjacency            write faces without neighbours: filters then stop at every face edge\n"
           "  --threads N               bake on N threads, at most the cores there are (default: all);\n"
           "                            the file is the same whatever N\n"
           "  -h, --help                this text\n"
           "A progress bar goes to standard error when it is a terminal.\n";
}

// A number option's value, refused with a message when it is not a number in [lo, hi].
double numberValue(const std::string& option, const std::string& text, double lo, double hi)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(value) || value < lo || value > hi)
        throw tarsk::host::HostError(option + " takes a number from " + std::to_string(lo) + " to " +
                                     std::to_string(hi) + ", not '" + text + "'");
    return value;
}

// Progress on standard error as one line redrawn in place.
void showProgress(size_t done, size_t total)
{
    static int shown = -1;
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == shown) return;
    shown = percent;
    const int width = 40, filled = percent * width / 100;
    std::fprintf(stderr, "\rbaking [%s%s] %3d%% (%zu/%zu faces)", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), ' ').c_str(), percent, done, total);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Standard output flushed and closed without error, or a message and exit status 1.
int finishStdout()
{
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (std::fclose(stdout) != 0 || !flushed) {
        std::fprintf(stderr, "error: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

int run(int argc, char** argv)
{
    using namespace tarsk;
    std::vector<std::string> positional;
    std::string imagePath, procedural;
    bake::BakeOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw host::HostError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--image")
            imagePath = value();
        else if (arg == "--procedural")
            procedural = value();
        else if (arg == "--res") {
            std::string v = value();
            char* end = nullptr;
            long res = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || res < 0 || res > 12)
                throw host::HostError("--res takes a log2 resolution from 0 to 12, not '" + v + "'");
            options.resLog2 = static_cast<int>(res);
        } else if (arg == "--texel-density") {
            options.texelDensity = numberValue(arg, value(), 1e-9, 1e12);
        } else if (arg == "--threads") {
            const std::string v = value();
            const double threads = numberValue(arg, v, 1, 1024);
            if (threads != std::floor(threads))
                throw host::HostError("--threads takes a whole number, not '" + v + "'");
            options.threads = static_cast<int>(threads);
        } else if (arg == "--type")
            options.type = bake::parseTexelType(value());
        else if (arg == "--alpha")
            options.alpha = true;
        else if (arg == "--no-adjacency")
            options.adjacency = false;
        else if (arg == "-h" || arg == "--help") {
            std::fputs(usage().c_str(), stdout);
            return finishStdout();
        } else if (!arg.empty() && arg[0] == '-')
            throw host::HostError("unknown option '" + arg + "'\n" + usage());
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2) throw host::HostError("expected a mesh and an output file\n" + usage());
    if (!imagePath.empty() && !procedural.empty())
        throw host::HostError("give either --image or --procedural, not both");

    host::ObjMesh mesh = host::readObj(positional[0]);
    std::unique_ptr<bake::TexelSource> source;
    if (!imagePath.empty()) {
        if (!mesh.hasUvs())
            throw host::HostError(positional[0] + ": --image needs texture coordinates on every face corner (f v/vt)");
        source = bake::makeImageSource(bake::readImage(imagePath));
    } else {
        host::Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
        for (const host::Vec3& p : mesh.positions) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        source = bake::makeProcedural(procedural.empty() ? "checker" : procedural, lo, hi);
    }
    if (isatty(fileno(stderr))) options.progress = showProgress;
    bake::BakeReport report = bake::bakePtex(mesh, *source, options, positional[1]);
    for (const std::string& w : report.warnings)
        std::fprintf(stderr, "warning: %s: %s\n", positional[0].c_str(), w.c_str());
    std::printf("%s: %s mesh, %d Ptex faces\n", positional[1].c_str(), report.quadType ? "quad" : "triangle",
                report.numFaces);
    return finishStdout();
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
