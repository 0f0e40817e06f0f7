// ptex-bake: writes a Ptex file for the faces of an OBJ mesh, with adjacency computed from the
// mesh and texels sampled from an image (through the OBJ's UVs) or a built-in procedural.
#include "HostError.h"
#include "ObjMesh.h"
#include "PtexBaker.h"
#include "TexelSource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* kUsage =
    "usage: ptex-bake MESH.obj OUT.ptx [--image IMG.png|IMG.exr] [--procedural NAME] [--res LOG2]\n"
    "                 [--type uint8|uint16|half|float] [--alpha] [--no-adjacency]\n"
    "--no-adjacency writes faces without neighbours: filters then stop at every face edge.\n";

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
        } else if (arg == "--type")
            options.type = bake::parseTexelType(value());
        else if (arg == "--alpha")
            options.alpha = true;
        else if (arg == "--no-adjacency")
            options.adjacency = false;
        else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-')
            throw host::HostError("unknown option '" + arg + "'\n" + kUsage);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2) throw host::HostError(std::string("expected a mesh and an output file\n") + kUsage);
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
    bake::BakeReport report = bake::bakePtex(mesh, *source, options, positional[1]);
    for (const std::string& w : report.warnings)
        std::fprintf(stderr, "warning: %s: %s\n", positional[0].c_str(), w.c_str());
    std::printf("%s: %s mesh, %d Ptex faces\n", positional[1].c_str(), report.quadType ? "quad" : "triangle",
                report.numFaces);
    return 0;
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
