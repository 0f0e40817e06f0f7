#include "TexPtexParams.h"

using TUtils::TarskParameterType;

TexPtexParams::TexPtexParams()
{
    // The registration results are not looked at: a refused row would only show as a parameter
    // that scenes cannot set, and the table is fixed.
    addParamString("ptex_file", "", -1, "The Ptex texture file", nullptr);
    addParamInt("filter_type", 0, -1, "Type of filter used for the texture", nullptr);
    addParamFloat("width", 1.0f, -1, "width parameter used for filtering", nullptr);
    addParamFloat("blur", 0.0f, -1, "blur parameter used for filtering", nullptr);
    addParamFloat("sharpness", 0.0f, -1, "Sharpness parameter for the general bicubic filter", nullptr);
    addParamBool("lerp", false, -1, "Interpolation between mipmap levels", nullptr);
    addParamBool("reverse_vertices", false, -1, "Reverses the order of vertices", nullptr);
    addParamInt("cache_size", 1, -1, "The size of the texture cache(in MB)", nullptr);
    addParamInt("r_channel", 0, -1, "The index of the channel which will be used as a red channel.", nullptr);
    addParamInt("g_channel", 1, -1, "The index of the channel which will be used as a green channel.", nullptr);
    addParamInt("b_channel", 2, -1, "The index of the channel which will be used as a blue channel.", nullptr);
    addParamInt("a_channel", -1, -1, "The index of the channel which will be used as a alpha channel.", nullptr);
    addParamBool("auto_color", true, -1, "Use automatic color channel selection.", nullptr);
    addParamBool("auto_alpha", true, -1, "Use automatic alpha channel selection.", nullptr);
    addParamInt("alpha_type", -1, -1, "Where to take the alpha from.", nullptr);
    addParamInt("color_space", 1, -1, "0 - linear, 1 - gamma corrected, 2 - sRGB", nullptr);
    addParamFloat("gamma", 1.0f, -1, nullptr, nullptr);
    addParam("vertices", TarskParameterType::TARSK_PARAM_VECTOR_LIST, 0, nullptr, nullptr);
    addParam("origFaces", TarskParameterType::TARSK_PARAM_INT_LIST, 0, nullptr, nullptr);
    addParam("faces", TarskParameterType::TARSK_PARAM_INT_LIST, 0, nullptr, nullptr);
    addParam("origFacesDegree", TarskParameterType::TARSK_PARAM_INT_LIST, 0, nullptr, nullptr);
    addOutputParamTexture("color", "The final texture color", nullptr);
}
