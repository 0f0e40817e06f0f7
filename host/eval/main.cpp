// tarsk-eval: evaluates a scene object's texture at shading points read from a POINTS.tsv file,
// through the plug-in loaded as a renderer loads it, and prints "r g b a" per point per frame.
// With --make-points it writes POINTS rows for hand-written (faceIndex, weightA, weightB) lines.
#include "CommandLine.h"
#include "HostError.h"
#include "PointEvaluation.h"
#include "PointMaker.h"
#include "ProgramOutput.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TextureParameterHelp.h"

#include <tarsk/TextureInterface.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace tarsk::host;

const char* kUsage =
    "usage: tarsk-eval SCENE.json POINTS.tsv [--plugin PATH] [--object NAME] [--frames K] [--strict]\n"
    "       tarsk-eval --make-points SCENE.json REQUESTS.tsv [--object NAME] [--footprint S] [--correct-hits]\n";

const char* kHelp =
    "Evaluates the texture of a scene object (the first, or --object NAME) at the shading points of\n"
    "POINTS.tsv through the plug-in, and prints 'r g b a' per point, frame after frame (--frames K:\n"
    "K frames from the scene's frame time). Output goes to standard output only.\n"
    "  --plugin PATH   the plug-in library (default: the build tree's tarsk_TexPtex.so)\n"
    "  --strict        exit 1 when any texture reports an error (a file that does not open)\n"
    "--make-points writes POINTS rows for REQUESTS.tsv, one 'faceIndex weightA weightB [thread]' per\n"
    "line ('-' reads stdin), with a footprint of S (default 0.01) and --correct-hits.\n"
    "A texture that does not load answers opaque white (1 1 1 1); its errors are listed again at the end.\n";

struct Options {
    bool makePoints = false;
    std::vector<std::string> files;
    std::string plugin;
    std::string object;
    int frames = 1;
    double footprint = 0.01;
    bool correctHits = false;
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
        if (arg == "--make-points")
            o.makePoints = true;
        else if (arg == "--plugin")
            o.plugin = value();
        else if (arg == "--object")
            o.object = value();
        else if (arg == "--frames")
            o.frames = static_cast<int>(parseInteger(arg, value(), 1, 100000));
        else if (arg == "--footprint") {
            std::string v = value();
            char* end = nullptr;
            o.footprint = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(o.footprint >= 0) || o.footprint > 1e30)
                throw HostError("--footprint takes a length >= 0, not '" + v + "'");
        } else if (arg == "--correct-hits")
            o.correctHits = true;
        else if (arg == "--strict")
            o.strict = true;
        else if (arg == "-h" || arg == "--help") {
            std::printf("%s\n%s\n%s", kUsage, kHelp, tarsk::cli::textureParameterHelp());
            std::exit(tarsk::cli::finishStdout("error: ") ? 0 : 1);
        } else if (arg.size() > 1 && arg[0] == '-')
            throw HostError("unknown option '" + arg + "'\n" + kUsage);
        else
            o.files.push_back(arg);
    }
    if (o.files.size() != 2) throw HostError(std::string("expected a scene file and a points file\n") + kUsage);
    return o;
}

const SceneObject& pickObject(const Scene& scene, const std::string& name, int& index)
{
    if (scene.objects.empty()) throw HostError(scene.path + ": the scene has no objects");
    if (name.empty()) {
        index = 0;
        return scene.objects[0];
    }
    for (size_t i = 0; i < scene.objects.size(); ++i)
        if (scene.objects[i].name == name) {
            index = static_cast<int>(i);
            return scene.objects[i];
        }
    throw HostError("--object: the scene has no object named \"" + name + "\"");
}

int makePoints(const Options& o)
{
    Scene scene = loadScene(o.files[0]);
    int index = 0;
    const SceneObject& object = pickObject(scene, o.object, index);
    std::vector<PointRequest> requests;
    if (o.files[1] == "-") {
        requests = readPointRequests(std::cin, "<stdin>");
    } else {
        std::ifstream in(o.files[1]);
        if (!in) throw HostError("cannot open requests file '" + o.files[1] + "'");
        requests = readPointRequests(in, o.files[1]);
    }
    MeshLists lists = object.meshAt(scene.frameTime);
    PointOptions options;
    options.footprint = o.footprint;
    options.correctHits = o.correctHits;
    std::cout << pointsHeader() << '\n';
    for (const PointRequest& r : requests) {
        if (r.faceIndex < 0 || r.faceIndex >= lists.numTriangles())
            std::fprintf(stderr, "warning: face index %d is outside the %d render triangles; its row has no geometry\n",
                         r.faceIndex, lists.numTriangles());
        writePointRow(std::cout, makePoint(lists, object.objectToWorld, r, options));
    }
    return 0;
}

int evaluate(const Options& o)
{
    Scene scene = loadScene(o.files[0]);
    if (o.strict) checkStrictPossible(scene);
    int index = 0;
    pickObject(scene, o.object, index);
    std::vector<ShadingPoint> points = readPoints(o.files[1]);
    for (size_t i = 0; i < points.size(); ++i)
        if (points[i].thread >= scene.threads)
            throw HostError(o.files[1] + ": point " + std::to_string(i + 1) + " names thread " +
                            std::to_string(points[i].thread) + " but the renderer has " +
                            std::to_string(scene.threads) + " thread(s) (renderer.threads)");

    SceneSession session(scene, o.plugin.empty() ? defaultPluginPath() : o.plugin, scene.threads, scene.messageLog);
    TUtils::TextureInterface& texture = *session.texture(index);
    std::string out;
    char line[160];
    session.renderBegin();
    for (int frame = 0; frame < o.frames; ++frame) {
        session.frameBegin(scene.frameTime + frame);
        if (o.strict) refuseTextureFaults(session);
        std::vector<TUtils::Color> colors =
            evaluatePoints(texture, session.geometryObject(index), points, scene.threads);
        session.frameEnd();
        for (const TUtils::Color& c : colors) {
            std::snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g\n", c.r, c.g, c.b, c.a);
            out += line;
        }
        std::fputs(out.c_str(), stdout);
        out.clear();
        if (std::ferror(stdout)) break;  // finishStdout reports it; later frames would be lost too
    }
    session.renderEnd();
    if (o.strict) refuseTextureFaults(session);
    printTextureFaultSummary(session);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        Options o = parseOptions(argc, argv);
        const int status = o.makePoints ? makePoints(o) : evaluate(o);
        return tarsk::cli::finishStdout("error: ") ? status : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
