// Every filter table of the reference data, evaluated through the public API on the real
// files: one case per table, reporting the first mismatching lines.
#include <gtest/gtest.h>

#include <Ptexture.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

// Checks one table; returns the number of rows checked.
int checkTable(const fs::path& table, bool premultiply)
{
    std::string base = table.filename().string();
    base = base.substr(0, base.find('.'));
    const fs::path file = table.parent_path() / (base + ".ptx");

    Ptex::String error;
    PtexPtr<PtexCache> cache(PtexCache::create(1, 0, premultiply));
    PtexPtr<PtexTexture> tx(cache->get(file.string().c_str(), error));
    if (!tx) {
        ADD_FAILURE() << "cannot open " << file << ": " << error;
        return 0;
    }
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = splitTabs(line);
    std::map<std::string, size_t> col;
    for (size_t i = 0; i < header.size(); i++) col[header[i]] = i;

    const int nt = tx->numChannels();
    int rows = 0, mismatches = 0, lineNo = 1;
    while (std::getline(in, line)) {
        lineNo++;
        const std::vector<std::string> f = splitTabs(line);
        auto num = [&](const char* name) { return std::strtof(f.at(col.at(name)).c_str(), nullptr); };
        auto integer = [&](const char* name) { return std::atoi(f.at(col.at(name)).c_str()); };
        const int nchannels = integer("nchannels");
        PtexFilter::Options options(PtexFilter::FilterType(integer("filter")), integer("lerp") != 0, num("sharpness"),
                                    integer("noedgeblend") != 0);
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), options));
        std::vector<float> result(size_t(std::max(nchannels, nt)), -7.0f);
        filter->eval(result.data(), integer("firstchan"), nchannels, integer("faceid"), num("u"), num("v"), num("uw1"),
                     num("vw1"), num("uw2"), num("vw2"), num("width"), num("blur"));
        for (int c = 0; c < nt; c++) {
            const std::string& field = f.at(col.at("r" + std::to_string(c)));
            if (field.empty()) continue;
            const float ref = std::strtof(field.c_str(), nullptr);
            const float ours = result[size_t(c)];
            const bool ok =
                std::isnan(ref) ? std::isnan(ours) : std::fabs(ours - ref) <= 1e-5f * std::fabs(ref) + 1e-6f;
            if (!ok && ++mismatches <= 5)
                ADD_FAILURE() << table.filename().string() << ":" << lineNo << " r" << c << ": ours " << ours
                              << ", expected " << ref << "\n  " << line;
        }
        rows++;
    }
    EXPECT_EQ(mismatches, 0) << table.filename().string();
    return rows;
}

}  // namespace

TEST(FilterTables, ReferenceResultsThroughTheApi)
{
    const fs::path dir = tarsk::test::testDataDir();
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no reference test data at " << dir;
    int tables = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 11 || name.compare(name.size() - 11, 11, ".filter.tsv") != 0) continue;
        SCOPED_TRACE(name);
        const bool premultiply = name.find(".premult.") != std::string::npos;
        EXPECT_GT(checkTable(entry.path(), premultiply), 100) << name;
        tables++;
    }
    EXPECT_GT(tables, 0) << "no *.filter.tsv in " << dir;
}
