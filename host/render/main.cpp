// tarsk-render: ray-traces a scene's meshes and shades every hit through the TexPtex plug-in,
// loaded the way a production host loads it, from many render threads; writes PNG or EXR images.
// Without a scene it generates and renders the built-in demo into tarsk-demo.png; given a Ptex
// file instead of a scene, it renders the file on the mesh stored in its meta data.
#include "CommandLine.h"
#include "DemoScene.h"
#include "HostError.h"
#include "ImageFile.h"
#include "OutputFile.h"
#include "ProgramOutput.h"
#include "PtexFileScene.h"
#include "Renderer.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TextureParameterHelp.h"

#include <tarsk/TarskPluginParameter.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarsk;
using host::HostError;
using host::parseInteger;
namespace fs = std::filesystem;

const char* kUsage =
    "usage: tarsk-render [SCENE.json] [-o OUT.png|OUT.exr] [--width W] [--height H] [--spp N]\n"
    "                    [--threads N] [--frames A:B] [--plugin PATH] [--correct-hits] [--dump-points N]\n"
    "                    [--quiet] [--strict]\n"
    "       tarsk-render FILE.ptx [--filter NAME] [-o OUT.png|OUT.exr] [options as above]\n";

const char* kHelp =
    "Ray-traces SCENE.json (the format of host/scene/Scene.h) through the plug-in into OUT (default\n"
    "render.png); without SCENE.json it builds and renders the built-in demo into tarsk-demo.png.\n"
    "FILE.ptx is rendered on the mesh stored in its meta data (PtexFaceVertCounts, PtexFaceVertIndices,\n"
    "PtexVertPositions) into FILE.png in the current folder, through --filter NAME: point, bilinear, box,\n"
    "gaussian, bicubic (the default; sharpness 0.5), bspline, catmullrom or mitchell.\n"
    "A frame range writes OUT.0001.png etc. Options override the scene's image settings.\n"
    "  --threads N       render threads (default: every core)\n"
    "  --dump-points N   also write the shading points of N pixels as OUT.points.tsv/.pixels.tsv\n"
    "  --quiet           no progress and statistics (texture errors are still listed)\n"
    "  --strict          exit 1 when any texture reports an error (a file that does not open);\n"
    "                    a frame whose texture did not load is not rendered\n"
    "A texture that does not load renders opaque white; its errors are listed again at the end.\n";

struct Options {
    std::string scene;
    std::string output;
    std::string plugin;
    std::string filter;
    int width = 0, height = 0, spp = 0, threads = 0;
    bool haveFrames = false;
    double firstFrame = 0, lastFrame = 0;
    bool correctHits = false;
    int dumpPoints = 0;
    bool quiet = false;
    bool strict = false;
};

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw HostError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-o" || arg == "--output")
            o.output = value();
        else if (arg == "--width")
            o.width = static_cast<int>(parseInteger(arg, value(), 1, 16384));
        else if (arg == "--height")
            o.height = static_cast<int>(parseInteger(arg, value(), 1, 16384));
        else if (arg == "--spp")
            o.spp = static_cast<int>(parseInteger(arg, value(), 1, 4096));
        else if (arg == "--threads")
            o.threads = static_cast<int>(parseInteger(arg, value(), 1, 256));
        else if (arg == "--plugin")
            o.plugin = value();
        else if (arg == "--filter")
            o.filter = value();
        else if (arg == "--correct-hits")
            o.correctHits = true;
        else if (arg == "--dump-points")
            o.dumpPoints = static_cast<int>(parseInteger(arg, value(), 1, 1000000));
        else if (arg == "--quiet")
            o.quiet = true;
        else if (arg == "--strict")
            o.strict = true;
        else if (arg == "--frames") {
            std::string v = value();
            size_t colon = v.find(':');
            char* end1 = nullptr;
            char* end2 = nullptr;
            std::string a = v.substr(0, colon), b = colon == std::string::npos ? a : v.substr(colon + 1);
            o.firstFrame = std::strtod(a.c_str(), &end1);
            o.lastFrame = std::strtod(b.c_str(), &end2);
            if (a.empty() || b.empty() || *end1 || *end2 || !std::isfinite(o.firstFrame) ||
                !std::isfinite(o.lastFrame) || o.lastFrame < o.firstFrame || o.lastFrame - o.firstFrame > 100000)
                throw HostError("--frames takes A:B with A <= B (frame times A, A + 1, ..., B), not '" + v + "'");
            o.haveFrames = true;
        } else if (arg == "-h" || arg == "--help") {
            std::printf("%s\n%s\n%s", kUsage, kHelp, cli::textureParameterHelp());
            std::exit(cli::finishStdout("error: ") ? 0 : 1);
        } else if (arg.size() > 1 && arg[0] == '-')
            throw HostError("unknown option '" + arg + "'\n" + kUsage);
        else if (o.scene.empty())
            o.scene = arg;
        else
            throw HostError("more than one scene given\n" + std::string(kUsage));
    }
    return o;
}

// OUT.png for one frame; OUT.0007.png (the frame time, or the frame number for fractional times)
// for each frame of a sequence.
std::string framePath(const std::string& output, bool sequence, double time, int index)
{
    if (!sequence) return output;
    fs::path p(output);
    char number[32];
    std::snprintf(number, sizeof number, ".%04d", time == std::floor(time) ? static_cast<int>(time) : index);
    return (p.parent_path() / (p.stem().string() + number + p.extension().string())).string();
}

// Refuses an output that cannot be written before anything is rendered: an image format other
// than PNG or EXR, a missing or unwritable folder, a folder or device in the output's place.
void checkOutput(const std::string& output)
{
    bake::outputImageFormat(output);
    host::checkOutputPath(output);
}

void writeDump(const std::string& output, const host::Scene& scene, const std::vector<render::DumpedPoint>& dump)
{
    fs::path p(output);
    std::string stem = (p.parent_path() / p.stem()).string();
    std::ofstream points(stem + ".points.tsv"), pixels(stem + ".pixels.tsv");
    points << host::pointsHeader() << '\n';
    pixels << "x\ty\tobject\tr\tg\tb\ta\n";
    char line[256];
    for (const render::DumpedPoint& d : dump) {
        if (d.object < 0) continue;  // the pixel's ray hit nothing
        host::ShadingPoint point = d.point;
        point.thread = 0;  // any thread answers the same; 0 exists in every scene
        host::writePointRow(points, point);
        std::snprintf(line, sizeof line, "%d\t%d\t%s\t%.9g\t%.9g\t%.9g\t%.9g\n", d.x, d.y,
                      scene.objects[d.object].name.c_str(), d.color.r, d.color.g, d.color.b, d.color.a);
        pixels << line;
    }
    points.close();
    pixels.close();
    if (!points || !pixels) throw HostError("cannot write the shading points next to '" + output + "'");
}

int run(int argc, char** argv)
{
    Options o = parseOptions(argc, argv);
    const bool demo = o.scene.empty();
    std::string scenePath = o.scene;
    if (demo) {
        if (o.output.empty()) o.output = "tarsk-demo.png";
        checkOutput(o.output);
        std::string dir = render::demoCacheDir();
        if (!o.quiet) std::fprintf(stderr, "info: building the demo scene in %s\n", dir.c_str());
        scenePath = render::buildDemoScene(dir);
    }
    const bool ptexFile = !demo && render::isPtexFilePath(o.scene);
    if (!ptexFile && !o.filter.empty())
        throw HostError("--filter applies to a Ptex file rendered on its own mesh (tarsk-render FILE.ptx)");
    if (o.output.empty()) o.output = ptexFile ? fs::path(o.scene).stem().string() + ".png" : "render.png";
    checkOutput(o.output);
    host::Scene scene =
        ptexFile ? render::ptexFileScene(o.scene, o.filter.empty() ? "bicubic" : o.filter) : host::loadScene(scenePath);
    if (o.strict) host::checkStrictPossible(scene);

    render::RenderSettings settings;
    settings.width = o.width ? o.width : scene.width;
    settings.height = o.height ? o.height : scene.height;
    settings.spp = o.spp ? o.spp : scene.spp;
    settings.threads = o.threads ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    settings.correctHits = o.correctHits;
    settings.progress = !o.quiet;
    settings.dumpPoints = o.dumpPoints;

    std::vector<double> times;
    if (o.haveFrames)
        for (double t = o.firstFrame; t <= o.lastFrame; t += 1.0) times.push_back(t);
    else
        times.push_back(scene.frameTime);
    const bool sequence = times.size() > 1;

    host::SceneSession session(scene, o.plugin.empty() ? host::defaultPluginPath() : o.plugin, settings.threads,
                               scene.messageLog);
    render::RenderStats stats;
    std::vector<std::string> written;
    session.renderBegin();
    for (size_t f = 0; f < times.size(); ++f) {
        session.frameBegin(times[f]);
        if (o.strict) host::refuseTextureFaults(session);
        std::vector<render::DumpedPoint> dump;
        bake::Image image = render::renderFrame(scene, session, settings, times[f], stats,
                                                f == 0 && settings.dumpPoints > 0 ? &dump : nullptr);
        session.frameEnd();
        std::string problem;
        if (demo && !render::drawCaptions(image, render::demoCaptions(), problem))
            std::fprintf(stderr, "note: the demo image has no captions: %s\n", problem.c_str());
        std::string path = framePath(o.output, sequence, times[f], static_cast<int>(f));
        bake::writeImage(path, image);
        written.push_back(path);
        if (f == 0 && settings.dumpPoints > 0) writeDump(o.output, scene, dump);
    }
    session.renderEnd();
    if (o.strict) host::refuseTextureFaults(session);

    if (!o.quiet) {
        double seconds = std::max(stats.seconds, 1e-9);
        double hitRate = stats.cacheLookups ? 100.0 * stats.cacheHits / stats.cacheLookups : 0.0;
        double evalShare = 100.0 * stats.evalSeconds / (seconds * settings.threads);
        std::fprintf(stderr,
                     "summary: %zu frame(s) %dx%d, %d spp, %d thread(s) in %.3f s\n"
                     "summary: %.3g rays/s, %.3g shading evaluations/s, %.1f%% of thread time in evalColor\n"
                     "summary: result-cache hit rate %.1f%% (%llu of %llu requests)\n"
                     "summary: Ptex cache memory is held inside the plug-in (bounded per texture by \"cache_size\" MB; "
                     "the plug-in does not report its use)\n",
                     times.size(), settings.width, settings.height, settings.spp, settings.threads, seconds,
                     stats.rays / seconds, stats.evaluations / seconds, evalShare, hitRate,
                     static_cast<unsigned long long>(stats.cacheHits),
                     static_cast<unsigned long long>(stats.cacheLookups));
    }
    host::printTextureFaultSummary(session);
    for (const std::string& path : written) std::printf("wrote %s\n", fs::absolute(path).c_str());
    return cli::finishStdout("error: ") ? 0 : 1;
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
