// Building the manifest JSON text.

#include "PtexManifest.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tarsk::ptexinfo {

namespace {

std::string number(double value)
{
    if (std::isnan(value)) return "\"nan\"";
    if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
    char text[40];
    snprintf(text, sizeof(text), "%.9g", value);
    return text;
}

uint64_t fnv1a64(const std::vector<uint8_t>& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

template <typename T>
std::string numberArray(const T* values, int count, bool asFloat)
{
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
        if (i) out += ",";
        out += asFloat ? number(double(values[i])) : std::to_string(int64_t(values[i]));
    }
    return out + "]";
}

std::string metaJson(PtexTexture& texture)
{
    PtexPtr<PtexMetaData> meta(texture.getMetaData());
    if (!meta) return "[]";
    std::string out = "[";
    for (int i = 0; i < meta->numKeys(); ++i) {
        const char* key = "";
        Ptex::MetaDataType type = Ptex::mdt_string;
        meta->getKey(i, key, type);
        if (i) out += ",";
        out += "{\"key\":" + jsonString(key) + ",\"type\":" + jsonString(Ptex::MetaDataTypeName(type)) + ",\"value\":";
        int count = 0;
        switch (type) {
        case Ptex::mdt_string: {
            const char* value = nullptr;
            meta->getValue(i, value);
            out += jsonString(value ? value : "");
            break;
        }
        case Ptex::mdt_int8: {
            const int8_t* v = nullptr;
            meta->getValue(i, v, count);
            out += numberArray(v, count, false);
            break;
        }
        case Ptex::mdt_int16: {
            const int16_t* v = nullptr;
            meta->getValue(i, v, count);
            out += numberArray(v, count, false);
            break;
        }
        case Ptex::mdt_int32: {
            const int32_t* v = nullptr;
            meta->getValue(i, v, count);
            out += numberArray(v, count, false);
            break;
        }
        case Ptex::mdt_float: {
            const float* v = nullptr;
            meta->getValue(i, v, count);
            out += numberArray(v, count, true);
            break;
        }
        case Ptex::mdt_double: {
            const double* v = nullptr;
            meta->getValue(i, v, count);
            out += numberArray(v, count, true);
            break;
        }
        }
        out += "}";
    }
    return out + "]";
}

std::string floatsJson(const float* values, size_t count)
{
    std::string out = "[";
    for (size_t i = 0; i < count; ++i) {
        if (i) out += ",";
        out += number(values[i]);
    }
    return out + "]";
}

std::string faceJson(PtexTexture& texture, int faceid)
{
    const Ptex::FaceInfo& info = texture.getFaceInfo(faceid);
    const Ptex::DataType dt = texture.dataType();
    const int nchan = texture.numChannels();
    const int pixelSize = Ptex::DataSize(dt) * nchan;
    std::string out = "{\"ulog2\":" + std::to_string(info.res.ulog2) + ",\"vlog2\":" + std::to_string(info.res.vlog2);
    out += ",\"adjfaces\":[" + std::to_string(info.adjfaces[0]);
    for (int e = 1; e < 4; ++e) out += "," + std::to_string(info.adjfaces[e]);
    out += "],\"adjedges\":[" + std::to_string(int(info.adjedge(0)));
    for (int e = 1; e < 4; ++e) out += "," + std::to_string(int(info.adjedge(e)));
    out += "]";
    out += std::string(",\"constant\":") + (info.isConstant() ? "true" : "false");
    out += std::string(",\"hasEdits\":") + (info.hasEdits() ? "true" : "false");
    out += std::string(",\"nbConstant\":") + (info.isNeighborhoodConstant() ? "true" : "false");
    out += std::string(",\"subface\":") + (info.isSubface() ? "true" : "false");

    std::string levels = "[", small = "[";
    const int nlevels = std::min(info.res.ulog2, info.res.vlog2) + 1;
    std::vector<uint8_t> buffer;
    std::vector<float> values;
    for (int k = 0; k < nlevels; ++k) {
        Ptex::Res res(int8_t(info.res.ulog2 - k), int8_t(info.res.vlog2 - k));
        const size_t texels = size_t(res.u()) * size_t(res.v());
        buffer.assign(texels * size_t(pixelSize), 0);
        texture.getData(faceid, buffer.data(), 0, res);
        char hash[20];
        snprintf(hash, sizeof(hash), "%016" PRIx64, fnv1a64(buffer));
        if (k) levels += ",";
        levels += "{\"ulog2\":" + std::to_string(res.ulog2) + ",\"vlog2\":" + std::to_string(res.vlog2) +
                  ",\"fnv1a64\":\"" + hash + "\"}";
        if (texels <= 16) {
            values.resize(texels * size_t(nchan));
            for (size_t t = 0; t < texels; ++t)
                Ptex::ConvertToFloat(&values[t * nchan], &buffer[t * pixelSize], dt, nchan);
            if (small.size() > 1) small += ",";
            small += "{\"ulog2\":" + std::to_string(res.ulog2) + ",\"vlog2\":" + std::to_string(res.vlog2) +
                     ",\"values\":" + floatsJson(values.data(), values.size()) + "}";
        }
    }
    out += ",\"levels\":" + levels + "],\"small\":" + small + "]";

    const int ures = info.res.u(), vres = info.res.v();
    const int positions[5][2] = {{0, 0}, {ures - 1, 0}, {ures / 2, vres / 2}, {0, vres - 1}, {ures - 1, vres - 1}};
    std::string samples = "[";
    std::vector<float> pixel(static_cast<size_t>(nchan));
    for (int i = 0; i < 5; ++i) {
        texture.getPixel(faceid, positions[i][0], positions[i][1], pixel.data(), 0, nchan);
        if (i) samples += ",";
        samples += "{\"u\":" + std::to_string(positions[i][0]) + ",\"v\":" + std::to_string(positions[i][1]) +
                   ",\"values\":" + floatsJson(pixel.data(), pixel.size()) + "}";
    }
    return out + ",\"samples\":" + samples + "]}";
}

}  // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string manifestJson(PtexTexture& texture)
{
    std::string out = "{\n\"header\":{";
    out += "\"meshType\":" + jsonString(Ptex::MeshTypeName(texture.meshType()));
    out += ",\"dataType\":" + jsonString(Ptex::DataTypeName(texture.dataType()));
    out += ",\"numChannels\":" + std::to_string(texture.numChannels());
    out += ",\"alphaChannel\":" + std::to_string(texture.alphaChannel());
    out += ",\"numFaces\":" + std::to_string(texture.numFaces());
    out += std::string(",\"hasEdits\":") + (texture.hasEdits() ? "true" : "false");
    out += std::string(",\"hasMipMaps\":") + (texture.hasMipMaps() ? "true" : "false");
    out += ",\"uBorderMode\":" + jsonString(Ptex::BorderModeName(texture.uBorderMode()));
    out += ",\"vBorderMode\":" + jsonString(Ptex::BorderModeName(texture.vBorderMode()));
    out += ",\"edgeFilterMode\":" + jsonString(Ptex::EdgeFilterModeName(texture.edgeFilterMode()));
    out += "},\n\"meta\":" + metaJson(texture) + ",\n\"faces\":[\n";
    for (int f = 0; f < texture.numFaces(); ++f) {
        if (f) out += ",\n";
        out += faceJson(texture, f);
    }
    return out + "\n]\n}\n";
}

}  // namespace tarsk::ptexinfo
