// Parsing of filter query tables. Floats are read as 32-bit floats, so that values printed with
// %.9g come back as the exact float that produced them.
#include "QueryTable.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace tarsk::ptexeval {

namespace {

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

bool parseFloat(const std::string& s, float& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return false;
    out = value;  // overflow gives +-inf, which is a valid query value
    return true;
}

bool parseInt(const std::string& s, int& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(s.c_str(), &end, 10);
    if (end != s.c_str() + s.size() || errno == ERANGE || value < -2147483647L - 1 || value > 2147483647L) return false;
    out = int(value);
    return true;
}

}  // namespace

const std::vector<std::string>& queryColumnNames()
{
    static const std::vector<std::string> names = {"filter", "lerp",  "sharpness", "noedgeblend", "faceid",
                                                   "u",      "v",     "uw1",       "vw1",         "uw2",
                                                   "vw2",    "width", "blur",      "firstchan",   "nchannels"};
    return names;
}

bool readQueryTable(const std::string& path, QueryTable& table, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot open query table " + path;
        return false;
    }
    std::string line;
    if (!std::getline(in, line)) {
        error = path + ":1: empty query table (no header)";
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> header = splitTabs(line);
    std::map<std::string, size_t> column;
    for (size_t i = 0; i < header.size(); i++) column.emplace(header[i], i);
    std::vector<size_t> queryColumn;
    for (const std::string& name : queryColumnNames()) {
        auto it = column.find(name);
        if (it == column.end()) {
            error = path + ":1: bad header: missing column '" + name + "'";
            return false;
        }
        queryColumn.push_back(it->second);
    }
    std::vector<size_t> resultColumn;
    for (int i = 0;; i++) {
        auto it = column.find("r" + std::to_string(i));
        if (it == column.end()) break;
        resultColumn.push_back(it->second);
    }
    table.resultColumns = int(resultColumn.size());

    int lineNo = 1;
    while (std::getline(in, line)) {
        lineNo++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::vector<std::string> fields = splitTabs(line);
        FilterQuery q;
        q.line = lineNo;
        int* ints[] = {&q.filter, &q.lerp, nullptr, &q.noedgeblend, &q.faceid, nullptr,      nullptr,     nullptr,
                       nullptr,   nullptr, nullptr, nullptr,        nullptr,   &q.firstchan, &q.nchannels};
        float* floats[] = {nullptr, nullptr, &q.sharpness, nullptr,  nullptr, &q.u,    &q.v,   &q.uw1,
                           &q.vw1,  &q.uw2,  &q.vw2,       &q.width, &q.blur, nullptr, nullptr};
        for (size_t c = 0; c < queryColumn.size(); c++) {
            const std::string& name = queryColumnNames()[c];
            if (queryColumn[c] >= fields.size()) {
                error = path + ":" + std::to_string(lineNo) + ": malformed row: missing column '" + name + "'";
                return false;
            }
            const std::string& field = fields[queryColumn[c]];
            const bool ok = ints[c] ? parseInt(field, *ints[c]) : parseFloat(field, *floats[c]);
            if (!ok) {
                error = path + ":" + std::to_string(lineNo) + ": malformed row: bad value '" + field + "' in column '" +
                        name + "'";
                return false;
            }
        }
        for (size_t r : resultColumn) q.expected.push_back(r < fields.size() ? fields[r] : std::string());
        table.queries.push_back(std::move(q));
    }
    return true;
}

}  // namespace tarsk::ptexeval
