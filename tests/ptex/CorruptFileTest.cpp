// Damaged files read from memory: every truncation at a section boundary and at random offsets
// fails the open; random byte flips, and zero or huge values in every header field, either fail
// the open with a reader error or give a texture whose every read returns defined data. Run
// under the address and undefined-behaviour sanitizers this is the reader's fuzz harness.
#include <Ptexture.h>

#include "PtexIO.h"
#include "PtexInputHandlers.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class CountingErrorHandler : public PtexErrorHandler {
public:
    void reportError(const char* error) override
    {
        std::string text(error);
        bool known = text.rfind("PtexReader error: ", 0) == 0 || text.rfind("Can't reopen", 0) == 0 ||
                     text.rfind("Header mismatch", 0) == 0;
        EXPECT_TRUE(known) << text;
        ++count;
    }
    int count = 0;
};

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Opens the bytes as a texture and touches everything a renderer or tool could ask for.
// Returns whether the open succeeded.
bool exercise(const Bytes& bytes, std::string* openError = nullptr)
{
    Ptex::MemoryInputHandler input(bytes.data(), bytes.size());
    CountingErrorHandler errors;
    PtexPtr<PtexCache> cache(PtexCache::create(1, 1 << 20, true, &input, &errors));
    Ptex::String error;
    PtexPtr<PtexTexture> tx(cache->get("mutant.ptx", error));
    if (!tx) {
        if (openError) *openError = error;
        return false;
    }
    const int nchan = tx->numChannels();
    const int pixelSize = Ptex::DataSize(tx->dataType()) * nchan;
    std::vector<float> pixel(size_t(nchan) + 2);
    Bytes buffer;
    for (int f = -1; f <= tx->numFaces(); ++f) {
        const Ptex::Res res = tx->getFaceInfo(f).res;
        for (int k = 0; k <= std::min<int>(res.ulog2, res.vlog2) + 1; ++k) {
            Ptex::Res r(int8_t(res.ulog2 - k), int8_t(res.vlog2 - k));
            if (r.ulog2 < 0 || r.vlog2 < 0) r = Ptex::Res(0, 0);
            buffer.assign(size_t(pixelSize) << (r.ulog2 + r.vlog2), 0);
            tx->getData(f, buffer.data(), 0, r);
            tx->getPixel(f, r.u() - 1, r.v() / 2, pixel.data(), 0, nchan + 2, r);
        }
        if (res.ulog2 > 0 && tx->meshType() == Ptex::mt_quad) {
            PtexPtr<PtexFaceData> data(tx->getData(f, Ptex::Res(int8_t(res.ulog2 - 1), res.vlog2)));
            data->getPixel(0, 0, buffer.data());
            if (data->isTiled()) {
                PtexPtr<PtexFaceData> tile(data->getTile(0));
                if (tile) tile->getPixel(0, 0, buffer.data());
            }
        }
    }
    PtexPtr<PtexMetaData> meta(tx->getMetaData());
    for (int i = 0; meta && i < meta->numKeys(); ++i) {
        const char* key = nullptr;
        Ptex::MetaDataType type = Ptex::mdt_string;
        meta->getKey(i, key, type);
        const char* text = nullptr;
        const double* doubles = nullptr;
        const int32_t* ints = nullptr;
        int count = 0;
        meta->getValue(i, text);
        meta->getValue(key, doubles, count);
        meta->getValue(i, ints, count);
        if (text) {
            EXPECT_LT(strlen(text), 1u << 20);
        }
    }
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(PtexFilter::f_bilinear)));
    if (filter && tx->numFaces() > 0) filter->eval(pixel.data(), 0, nchan, 0, 0.5f, 0.5f, 0.2f, 0, 0, 0.2f);
    return true;
}

std::vector<std::pair<std::string, Bytes>> sampleFiles()
{
    std::vector<std::pair<std::string, Bytes>> files;
    fs::create_directories(tarsk::test::scratchDir());
    const std::string dir = tarsk::test::scratchDir();

    // Generated: tiled faces and constant tiles, large meta data, edits.
    tarsk::test::TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint16;
    texDesc.numChannels = 2;
    texDesc.alphaChannel = 1;
    texDesc.faces = tarsk::test::quadGrid(2, 2, Ptex::Res(3, 3));
    texDesc.faces[1].res = Ptex::Res(8, 7);
    texDesc.faces[2].constant = true;
    texDesc.texel = [](int f, int u, int v, int c) {
        return u > 200 ? 0.5f : float((f * 7 + u + v * 3 + c) % 97) / 97.f;
    };
    // Per-process names: CTest runs the cases of this file as parallel processes.
    const std::string tag = std::to_string(getpid());
    std::string error, path = dir + "/Corrupt_generated_" + tag + ".ptx";
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    {
        PtexPtr<PtexWriter> w(PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint16, 2, 1, 4, error));
        EXPECT_TRUE(w) << error;
        if (w) {
            std::vector<int32_t> big(600, 17);
            w->writeMeta("big", big.data(), int(big.size()));
            uint16_t texels[2 * 16];
            for (int i = 0; i < 32; ++i) texels[i] = uint16_t(i * 1000);
            w->writeFace(3, Ptex::FaceInfo(Ptex::Res(2, 2)), texels);
            EXPECT_TRUE(w->close(error)) << error;
        }
    }
    files.emplace_back("generated", readFile(path));

    tarsk::test::TextureLayout tri;
    tri.meshType = Ptex::mt_triangle;
    tri.dataType = Ptex::dt_half;
    tri.numChannels = 3;
    tri.faces = tarsk::test::triangleGrid(2, 1, 4);
    tri.texel = [](int f, int u, int v, int c) { return float(f + u - v + c) * 0.1f; };
    path = dir + "/Corrupt_triangles_" + tag + ".ptx";
    EXPECT_TRUE(tarsk::test::writeTexture(path, tri, error)) << error;
    files.emplace_back("triangles", readFile(path));
    fs::remove(path);
    fs::remove(dir + "/Corrupt_generated_" + tag + ".ptx");

    const std::string data = tarsk::test::testDataDir();
    if (fs::is_directory(data)) {
        for (const char* name : {"quad_grid_u8.ptx", "meta_u16.ptx", "edits_u8.ptx", "tri_closed_f32_rgba.ptx",
                                 "subfaces_half.ptx", "nomip_periodic_half.ptx"})
            files.emplace_back(name, readFile(data + "/" + name));
    }
    return files;
}

// Positions where one section ends and the next begins.
std::set<uint64_t> sectionBoundaries(const Bytes& b)
{
    using namespace Ptex::PtexIO;
    std::set<uint64_t> cuts = {0, 1, 4, 20, 63, 64, 65, 100, 104};
    Header h;
    h.decode(b.data());
    uint64_t pos = 64 + uint64_t(h.extheadersize);
    for (uint64_t size : {uint64_t(h.faceinfosize), uint64_t(h.constdatasize), uint64_t(h.levelinfosize)}) {
        cuts.insert(pos);
        pos += size;
    }
    for (int l = 0; l < h.nlevels; ++l) {
        cuts.insert(pos);
        LevelInfo li;
        li.decode(&b[64 + h.extheadersize + h.faceinfosize + h.constdatasize + 16 * size_t(l)]);
        cuts.insert(pos + li.levelheadersize);
        pos += li.leveldatasize;
    }
    cuts.insert(pos);
    cuts.insert(pos + h.metadatazipsize);
    cuts.insert(pos + h.metadatazipsize + 8);
    std::set<uint64_t> result;
    for (uint64_t c : cuts)
        for (int d = -1; d <= 1; ++d)
            if (c + d < b.size() && int64_t(c) + d >= 0) result.insert(c + d);
    return result;
}

TEST(CorruptFile, IntactSamplesOpen)
{
    for (const auto& file : sampleFiles()) {
        std::string error;
        EXPECT_TRUE(exercise(file.second, &error)) << file.first << ": " << error;
    }
}

TEST(CorruptFile, EveryTruncationFailsTheOpen)
{
    std::mt19937 random(12345);
    for (const auto& file : sampleFiles()) {
        std::set<uint64_t> cuts = sectionBoundaries(file.second);
        for (int i = 0; i < 40; ++i) cuts.insert(random() % file.second.size());
        // A trailing compatibility barrier (8 zero bytes) is optional, so cutting into it is fine.
        const Bytes& b = file.second;
        const bool trailingBarrier =
            b.size() > 8 && std::all_of(b.end() - 8, b.end(), [](uint8_t x) { return x == 0; });
        for (uint64_t cut : cuts) {
            if (trailingBarrier && cut >= b.size() - 8) continue;
            Bytes truncated(file.second.begin(), file.second.begin() + ptrdiff_t(cut));
            std::string error;
            EXPECT_FALSE(exercise(truncated, &error)) << file.first << " cut at " << cut;
            EXPECT_FALSE(error.empty()) << file.first << " cut at " << cut;
        }
    }
}

TEST(CorruptFile, FlippedBytesNeverCrash)
{
    std::mt19937 random(777);
    int opened = 0, failed = 0;
    for (const auto& file : sampleFiles()) {
        const int flips = file.second.size() > 100000 ? 30 : 100;
        for (int i = 0; i < flips; ++i) {
            Bytes mutant = file.second;
            // Half the flips hit the first 200 bytes, where the headers and tables are.
            size_t pos = (i % 2) ? random() % mutant.size() : random() % std::min<size_t>(200, mutant.size());
            mutant[pos] ^= uint8_t(1u << (random() % 8));
            std::string error;
            if (exercise(mutant, &error)) {
                ++opened;
            } else {
                ++failed;
                EXPECT_FALSE(error.empty()) << file.first << " flip at " << pos;
            }
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(failed, 0);
}

TEST(CorruptFile, ZeroAndHugeHeaderFieldsNeverCrash)
{
    const uint32_t values[] = {0, 0x7fffffffu, 0xffffffffu};
    // Every header and extended header field (the 16-bit ones at 20, 22, 64..70 included).
    const size_t fields[] = {4,  8,  12, 16, 20, 22, 24, 28, 32, 36, 40, 44, 48, 52,
                             56, 60, 64, 66, 68, 70, 72, 76, 80, 84, 88, 92, 96, 100};
    for (const auto& file : sampleFiles()) {
        for (size_t offset : fields) {
            for (uint32_t value : values) {
                Bytes mutant = file.second;
                for (int k = 0; k < 4; ++k) mutant[offset + k] = uint8_t(value >> (8 * k));
                std::string error;
                if (!exercise(mutant, &error)) {
                    EXPECT_FALSE(error.empty()) << file.first << " field " << offset;
                }
            }
        }
    }
}

}  // namespace
