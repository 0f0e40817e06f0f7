// TexPtex: the Ptex texture plug-in instance. One object made of the plug-in part, the plug-in
// interface part and the texture interface part (TarskTexture), followed by the members below:
// the parameter values the host writes through bindings, then the plug-in's own frame state.
#pragma once

#include "ColorResolve.h"
#include "PtexTextureOpen.h"
#include "ResultCache.h"
#include "TriangleFrameTable.h"

#include <OrigMesh.h>
#include <OrigPolyMesh.h>
#include <OrigTriMesh.h>
#include <Ptexture.h>
#include <tarsk/CharString.h>
#include <tarsk/TarskPlugin.h>

#include <cstdint>
#include <memory>

class TexPtex : public TUtils::TarskTexture {
public:
    // The filter receives every channel of the file in one buffer of this many floats; files with
    // more channels are refused at frame start.
    static constexpr int32_t kMaxChannels = 256;

    // Binds members 1-17 and the output "color" on the instance's own parameter list.
    explicit TexPtex(TUtils::TarskPluginDesc* desc) noexcept;
    ~TexPtex() override;

    // Render lifecycle: per-thread result caches live from renderBegin to renderEnd; the file,
    // the filters and the topology from frameBegin to frameEnd. None of them throws.
    void renderBegin(TUtils::TarskRenderer* renderer) override;
    void renderEnd(TUtils::TarskRenderer* renderer) override;
    void frameBegin(TUtils::TarskRenderer* renderer) override;
    void frameEnd(TUtils::TarskRenderer* renderer) override;

    // The filtered, converted colour at the shading point; opaque white (1, 1, 1, 1) while the
    // instance is not ready or the point cannot be evaluated. Every component is finite: what
    // the filter or the conversion leaves infinite or NaN is 0. Lock-free and allocation-free
    // except for the growth of the calling thread's result cache.
    TUtils::Color evalColor(TUtils::ShadingContext& context) override;
    // Low (0, 0, 0, 0), high (1, 1, 1, 1); null pointers are skipped.
    void getColorRange(float* low, float* high) override;

    // Parameter values (1-17): written by the host through the bindings, only read by the plug-in.
    // Bool parameters are bound to ints; readers test them against 0.
    TUtils::CharString ptex_file;
    int32_t filter_type = 0;
    float sharpness = 0.0f;
    float width = 1.0f;
    float blur = 0.0f;
    int32_t lerp = 0;
    int32_t reverse_vertices = 0;
    int32_t cache_size = 1;  // megabytes
    int32_t r_channel = 0;
    int32_t g_channel = 1;
    int32_t b_channel = 2;
    int32_t a_channel = -1;
    int32_t auto_color = 1;
    int32_t auto_alpha = 1;
    int32_t alpha_type = -1;
    int32_t color_space = 1;
    float gamma = 1.0f;

    // Frame state (18-25), set at frame start and cleared at frame end.
    float invGamma = 1.0f;  // 1 / gamma, meaningful while gammaActive
    bool gammaActive = false;
    ResultCacheArray threadCaches;  // one per render thread, from render start to render end
    int32_t numThreadCaches = 0;
    std::unique_ptr<PtexTexture, PtexReleaser> texture;
    std::unique_ptr<std::unique_ptr<PtexFilter, PtexReleaser>[]> filters;  // one per render thread
    int32_t numFilters = 0;
    std::unique_ptr<OrigMesh> mesh;
    // `mesh` in its concrete form (exactly one is set while there is a mesh): the evaluation
    // reads the tables through these without virtual calls.
    const OrigPolyMesh* polyMesh = nullptr;
    const OrigTriMesh* triMesh = nullptr;
    const int32_t* faces = nullptr;  // the host's "faces" list, borrowed
    int32_t numFaceIndices = 0;      // its element count
    TriangleFrameTable frameTable;   // per render triangle, made after the mesh; may stay empty
    bool quadFile = false;           // the file's mesh type is quad
    int32_t numChannels = 0;         // the file's channel count and alpha channel
    int32_t alphaChannel = -1;
    // The colour choice and conversion for the frame: the parameters as they stand at frame
    // start together with the file's layout, decided once rather than per shading point.
    ColorPlan colorPlan;
    bool ready = false;

private:
    // Frees the per-thread caches (count 0 afterwards).
    void freeThreadCaches() noexcept;
    // Creates `n` caches; no caches (and a message) when that fails.
    void createThreadCaches(int32_t n, TUtils::TarskRenderer* renderer) noexcept;
    // Releases the filters, the texture and the topology; the instance is not ready afterwards.
    void releaseFrameState() noexcept;
    // Frame start after the host's base step; false where it stops with the instance not ready.
    bool buildFrame(TUtils::TarskRenderer* renderer);
};
