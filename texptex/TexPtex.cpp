#include "TexPtex.h"

#include <OrigMesh.h>
#include <tarsk/TarskParameterList.h>

using TUtils::Color;

TexPtex::TexPtex(TUtils::TarskPluginDesc* desc) noexcept : TarskTexture(desc)
{
    // ptex_file starts without text; the binding then writes the registered default into it.
    if (!paramList)
        return;
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
    // Frame state first (it may hold the file open), then the text; the base destructors give the
    // parameter list back to the descriptor.
    if (filters) {
        for (int32_t i = 0; i < numFilters; ++i) {
            if (filters[i])
                filters[i]->release();
        }
        delete[] filters;
        filters = nullptr;
        numFilters = 0;
    }
    if (texture) {
        texture->release();
        texture = nullptr;
    }
    delete mesh;
    mesh = nullptr;
    ptex_file.release();
}

Color TexPtex::evalColor(TUtils::ShadingContext&)
{
    return Color{1.0f, 1.0f, 1.0f, 1.0f};
}

void TexPtex::getColorRange(float* low, float* high)
{
    for (int i = 0; i < 4; ++i) {
        if (low)
            low[i] = 0.0f;
        if (high)
            high[i] = 1.0f;
    }
}
