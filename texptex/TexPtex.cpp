#include "TexPtex.h"

#include "CacheThrashNote.h"

#include <OrigPolyMesh.h>
#include <OrigTriMesh.h>
#include <tarsk/TarskMessageLog.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskRenderer.h>

#include <algorithm>
#include <cmath>
#include <new>

using TUtils::TarskRenderer;

namespace {

const char* pathText(const TUtils::CharString& text) noexcept { return text.c_str() ? text.c_str() : ""; }

TUtils::TarskMessageLog* messageLogOf(const TarskRenderer* renderer) noexcept
{
    return renderer ? renderer->messageLog() : nullptr;
}

}  // namespace

TexPtex::TexPtex(TUtils::TarskPluginDesc* desc) noexcept : TarskTexture(desc)
{
    // ptex_file starts without text; the binding then writes the registered default into it.
    if (!paramList) return;
    paramList->setParamCache("ptex_file", &ptex_file);
    paramList->setParamCache("filter_type", &filter_type);
    paramList->setParamCache("width", &width);
    paramList->setParamCache("blur", &blur);
    paramList->setParamCache("sharpness", &sharpness);
    paramList->setParamCache("lerp", &lerp);
    paramList->setParamCache("reverse_vertices", &reverse_vertices);
    paramList->setParamCache("cache_size", &cache_size);
    paramList->setParamCache("r_channel", &r_channel);
    paramList->setParamCache("g_channel", &g_channel);
    paramList->setParamCache("b_channel", &b_channel);
    paramList->setParamCache("a_channel", &a_channel);
    paramList->setParamCache("auto_color", &auto_color);
    paramList->setParamCache("auto_alpha", &auto_alpha);
    paramList->setParamCache("alpha_type", &alpha_type);
    paramList->setParamCache("gamma", &gamma);
    paramList->setParamCache("color_space", &color_space);
    paramList->setOutputParamCache("color", static_cast<TUtils::TextureInterface*>(this));
    // Our Ptex library builds its half-float conversion without tables, so there is no one-time
    // set-up to make here.
}

TexPtex::~TexPtex()
{
    // Filters before the texture they read, the texture (and with it its private cache) before
    // the caches and the text; the base destructors give the parameter list back.
    releaseFrameState();
    freeThreadCaches();
    ptex_file.release();
}

void TexPtex::freeThreadCaches() noexcept
{
    threadCaches.reset();
    numThreadCaches = 0;
}

void TexPtex::createThreadCaches(int32_t n, TarskRenderer* renderer) noexcept
{
    freeThreadCaches();
    threadCaches = makeResultCaches(n);
    if (threadCaches) {
        numThreadCaches = n;
    } else if (auto* log = messageLogOf(renderer)) {
        // Evaluation still works without caches; it only loses the reuse of results.
        log->reportError("TexPtex: cannot allocate result caches for %d render threads", n);
    }
}

void TexPtex::releaseFrameState() noexcept
{
    ready = false;
    filters.reset();  // releases each filter that was made
    numFilters = 0;
    texture.reset();
    polyMesh = nullptr;
    triMesh = nullptr;
    frameTable.release();
    mesh.reset();
    faces = nullptr;
    numFaceIndices = 0;
}

void TexPtex::renderBegin(TarskRenderer* renderer)
{
    freeThreadCaches();
    if (renderer) createThreadCaches(renderer->numThreads(), renderer);
}

void TexPtex::renderEnd(TarskRenderer*) { freeThreadCaches(); }

void TexPtex::frameBegin(TarskRenderer* renderer)
{
    TarskPluginInterface::frameBegin(renderer);
    // A host that skipped frameEnd leaves the previous frame's objects here: let them go first.
    releaseFrameState();
    if (!renderer) return;
    try {
        // The caches follow the renderer's thread count, also when it changed since renderBegin,
        // so that every thread index a filter exists for also has its cache.
        if (!threadCaches || numThreadCaches != renderer->numThreads())
            createThreadCaches(renderer->numThreads(), renderer);
        for (int32_t i = 0; i < numThreadCaches; ++i) threadCaches[i]->clearKeys();
        buildFrame(renderer);
    } catch (...) {
        // An allocation failed (the only thing that throws here): the frame stays not ready, and
        // what was made is released by frameEnd or the destructor.
        ready = false;
        if (auto* log = messageLogOf(renderer))
            log->reportError("TexPtex: out of memory while preparing the frame for \"%s\"", pathText(ptex_file));
    }
}

bool TexPtex::buildFrame(TarskRenderer* renderer)
{
    TUtils::TarskMessageLog* log = messageLogOf(renderer);
    const char* path = pathText(ptex_file);

    Ptex::String error;
    texture.reset(openPtexTexture(path, error, false, ptexCacheLimitBytes(cache_size), log));
    if (!texture) {
        if (log) log->reportError("%s", error.c_str());
        return false;
    }
    numChannels = texture->numChannels();
    alphaChannel = texture->alphaChannel();
    quadFile = texture->meshType() == Ptex::mt_quad;
    if (numChannels > kMaxChannels) {
        if (log)
            log->reportError("PTex file \"%s\" has %d channels; TexPtex reads at most %d", path, numChannels,
                             kMaxChannels);
        return false;
    }

    const int32_t n = renderer->numThreads();
    filters = std::make_unique<std::unique_ptr<PtexFilter, PtexReleaser>[]>(size_t(n));
    numFilters = n;
    // The library's filter table: quad-type files take the type as given and unknown types
    // become box; triangle-type files get the triangle point filter for type 0 and the triangle
    // filter otherwise. Unknown types are mapped to box here, so that no value outside the
    // enumeration is ever stored in the options.
    const bool knownType = filter_type >= PtexFilter::f_point && filter_type <= PtexFilter::f_mitchell;
    const auto filterType = knownType ? static_cast<PtexFilter::FilterType>(filter_type) : PtexFilter::f_box;
    // The cubic kernel is defined for sharpness 0 ... 1; beyond it the weights grow without bound
    // (1e5 overshoots to -7e5, 1e19 gives infinities), so the filter sees the nearest end, NaN as 0.
    const float kernelSharpness = sharpness > 0.0f ? std::min(sharpness, 1.0f) : 0.0f;
    const PtexFilter::Options options(filterType, lerp != 0, kernelSharpness);
    // The filters query the cached texture directly; `texture` owns it and outlives them.
    PtexTexture* filtered = cachedTexture(texture.get());
    for (int32_t i = 0; i < n; ++i) {
        filters[i].reset(PtexFilter::getFilter(filtered, options));
        if (!filters[i]) {
            if (log) log->reportError("PTex file \"%s\": no filter for its mesh type", path);
            return false;
        }
    }

    if (quadFile) {
        auto poly = std::make_unique<OrigPolyMesh>();
        polyMesh = poly.get();
        mesh = std::move(poly);
    } else {
        auto tri = std::make_unique<OrigTriMesh>();
        triMesh = tri.get();
        mesh = std::move(tri);
    }
    auto param = [this](const char* name) { return paramList ? paramList->getParam(name) : nullptr; };
    auto missing = [&](const char* name) {
        if (log)
            log->reportError("PTex file \"%s\": the mesh list \"%s\" is missing or not a list of the right kind", path,
                             name);
        return false;
    };
    // The frame time is read anew for every list, as the host may move it between calls.
    if (!mesh->setVertices(renderer->frameTime(), param("vertices"))) return missing("vertices");
    if (!mesh->setFaceVertices(renderer->frameTime(), param("origFaces"))) return missing("origFaces");
    if (!mesh->setFaceDegrees(renderer->frameTime(), param("origFacesDegree"))) return missing("origFacesDegree");
    if (!mesh->setNumFaces(renderer->frameTime(), param("origFacesDegree"))) return missing("origFacesDegree");
    const TUtils::TarskPluginParameter* facesParam = param("faces");
    if (!facesParam) return missing("faces");
    TUtils::ListRef<int32_t> facesList = facesParam->getIntList(renderer->frameTime());
    // The host's parameter value keeps the list alive for the frame; the handle goes back now.
    faces = facesList.data;
    numFaceIndices = faces ? facesList.count : 0;
    facesList.release();

    mesh->reverse = reverse_vertices;
    mesh->build();
    if (!mesh->valid()) {
        if (log) log->reportError("PTex file \"%s\": invalid mesh lists: %s", path, mesh->error());
        return false;
    }

    // Without a table (a mesh too large for one) the evaluation locates every point itself.
    frameTable.build(polyMesh, triMesh, faces, numFaceIndices, mesh->numTriangles, renderer->numThreads());
    ready = true;
    if (log) log->reportInfo("PTex file \"%s\" loaded.", path);
    gammaActive = std::fabs(gamma - 1.0f) > 1e-6;
    if (gammaActive) invGamma = 1.0f / gamma;

    ColorSettings settings;
    settings.numChannels = numChannels;
    settings.alphaChannel = alphaChannel;
    settings.rChannel = r_channel;
    settings.gChannel = g_channel;
    settings.bChannel = b_channel;
    settings.aChannel = a_channel;
    settings.autoColor = auto_color != 0;
    settings.autoAlpha = auto_alpha != 0;
    settings.alphaType = alpha_type;
    settings.colorSpace = color_space;
    settings.gammaActive = gammaActive;
    settings.invGamma = invGamma;
    colorPlan = planColor(settings);
    return true;
}

void TexPtex::frameEnd(TarskRenderer* renderer)
{
    // The frame's texture has its private cache to itself: what the cache re-read is this
    // frame's, and told once per texture and frame.
    PtexCacheUse use;
    TUtils::TarskMessageLog* log = messageLogOf(renderer);
    if (log && texture && ptexCacheUse(texture.get(), use)) {
        try {
            const std::string note = cacheThrashNote(pathText(ptex_file), use);
            if (!note.empty()) log->reportInfo("%s", note.c_str());
        } catch (...) {
            // Only the note's text can fail to allocate; the frame ends all the same.
        }
    }
    releaseFrameState();
}

void TexPtex::getColorRange(float* low, float* high)
{
    for (int i = 0; i < 4; ++i) {
        if (low) low[i] = 0.0f;
        if (high) high[i] = 1.0f;
    }
}
