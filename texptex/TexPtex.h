// TexPtex: the Ptex texture plug-in instance. One object made of the plug-in part, the plug-in
// interface part and the texture interface part (TarskTexture), followed by the members below:
// the parameter values the host writes through bindings, then the plug-in's own frame state.
#pragma once

#include <Ptexture.h>
#include <tarsk/CharString.h>
#include <tarsk/TarskPlugin.h>

#include <cstdint>

class OrigMesh;
struct ResultCache;

class TexPtex : public TUtils::TarskTexture {
public:
    // Binds members 1-17 and the output "color" on the instance's own parameter list.
    explicit TexPtex(TUtils::TarskPluginDesc* desc) noexcept;
    ~TexPtex() override;

    // Opaque white (1, 1, 1, 1) while the instance is not ready.
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
    int32_t cache_size = 1;      // megabytes
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
    float invGamma = 1.0f;           // 1 / gamma, meaningful while gammaActive
    bool gammaActive = false;
    ResultCache** threadCaches = nullptr;   // one per render thread
    int32_t numThreadCaches = 0;
    PtexTexture* texture = nullptr;         // owned, released with release()
    PtexFilter** filters = nullptr;         // one per render thread, each owned
    int32_t numFilters = 0;
    OrigMesh* mesh = nullptr;               // owned
    const int32_t* faces = nullptr;         // the host's "faces" list, borrowed
    bool ready = false;
};
