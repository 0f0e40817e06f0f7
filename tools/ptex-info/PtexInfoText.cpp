// Text output of ptex-info.

#include "PtexInfoText.h"

#include "PtexManifest.h"

#include <string>

namespace tarsk::ptexinfo {

namespace {

template <typename T>
void printValues(const T* values, int count, const char* format, FILE* out)
{
    const int shown = count > 16 ? 16 : count;
    for (int i = 0; i < shown; ++i) {
        fputc(' ', out);
        fprintf(out, format, values[i]);
    }
    if (count > shown) fprintf(out, " ... (%d values)", count);
}

}  // namespace

void printHeader(PtexTexture& texture, FILE* out)
{
    fprintf(out, "meshType: %s\n", Ptex::MeshTypeName(texture.meshType()));
    fprintf(out, "dataType: %s\n", Ptex::DataTypeName(texture.dataType()));
    fprintf(out, "numChannels: %d\n", texture.numChannels());
    fprintf(out, "alphaChannel: %d\n", texture.alphaChannel());
    fprintf(out, "numFaces: %d\n", texture.numFaces());
    fprintf(out, "hasEdits: %s\n", texture.hasEdits() ? "yes" : "no");
    fprintf(out, "hasMipMaps: %s\n", texture.hasMipMaps() ? "yes" : "no");
    fprintf(out, "uBorderMode: %s\n", Ptex::BorderModeName(texture.uBorderMode()));
    fprintf(out, "vBorderMode: %s\n", Ptex::BorderModeName(texture.vBorderMode()));
    fprintf(out, "edgeFilterMode: %s\n", Ptex::EdgeFilterModeName(texture.edgeFilterMode()));
}

void printFaces(PtexTexture& texture, FILE* out)
{
    const int edges = texture.meshType() == Ptex::mt_triangle ? 3 : 4;
    for (int f = 0; f < texture.numFaces(); ++f) {
        const Ptex::FaceInfo& info = texture.getFaceInfo(f);
        fprintf(out, "face %d: res %dx%d (log2 %d,%d) adjfaces", f, info.res.u(), info.res.v(), info.res.ulog2,
                info.res.vlog2);
        for (int e = 0; e < edges; ++e) fprintf(out, " %d", info.adjfaces[e]);
        fprintf(out, " adjedges");
        for (int e = 0; e < edges; ++e) fprintf(out, " %d", int(info.adjedge(e)));
        if (info.isConstant()) fprintf(out, " constant");
        if (info.isNeighborhoodConstant()) fprintf(out, " nbconstant");
        if (info.hasEdits()) fprintf(out, " edited");
        if (info.isSubface()) fprintf(out, " subface");
        fputc('\n', out);
    }
}

void printMetaData(PtexTexture& texture, FILE* out)
{
    PtexPtr<PtexMetaData> meta(texture.getMetaData());
    if (!meta) return;
    fprintf(out, "meta data: %d keys\n", meta->numKeys());
    for (int i = 0; i < meta->numKeys(); ++i) {
        const char* key = "";
        Ptex::MetaDataType type = Ptex::mdt_string;
        meta->getKey(i, key, type);
        fprintf(out, "  %s (%s):", key, Ptex::MetaDataTypeName(type));
        int count = 0;
        switch (type) {
        case Ptex::mdt_string: {
            const char* value = nullptr;
            meta->getValue(i, value);
            fprintf(out, " %s", jsonString(value ? value : "").c_str());
            break;
        }
        case Ptex::mdt_int8: {
            const int8_t* v = nullptr;
            meta->getValue(i, v, count);
            printValues(v, count, "%d", out);
            break;
        }
        case Ptex::mdt_int16: {
            const int16_t* v = nullptr;
            meta->getValue(i, v, count);
            printValues(v, count, "%d", out);
            break;
        }
        case Ptex::mdt_int32: {
            const int32_t* v = nullptr;
            meta->getValue(i, v, count);
            printValues(v, count, "%d", out);
            break;
        }
        case Ptex::mdt_float: {
            const float* v = nullptr;
            meta->getValue(i, v, count);
            printValues(v, count, "%.9g", out);
            break;
        }
        case Ptex::mdt_double: {
            const double* v = nullptr;
            meta->getValue(i, v, count);
            printValues(v, count, "%.17g", out);
            break;
        }
        }
        fputc('\n', out);
    }
}

}  // namespace tarsk::ptexinfo
