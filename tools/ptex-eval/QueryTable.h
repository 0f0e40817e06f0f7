// Filter query tables (tab-separated, one header line): the columns that describe one
// PtexFilter::eval call, and optionally expected results r0, r1, ... per row.
#pragma once

#include <string>
#include <vector>

namespace tarsk::ptexeval {

struct FilterQuery {
    int filter = 0;
    int lerp = 0;
    float sharpness = 0;
    int noedgeblend = 0;
    int faceid = 0;
    float u = 0, v = 0, uw1 = 0, vw1 = 0, uw2 = 0, vw2 = 0;
    float width = 1, blur = 0;
    int firstchan = 0;
    int nchannels = 0;
    int line = 0;  // line number in the table (header is line 1)
    // Expected r0.. values as written ("" for an empty field); absent columns are not stored.
    std::vector<std::string> expected;
};

struct QueryTable {
    std::vector<FilterQuery> queries;
    int resultColumns = 0;  // number of r<i> columns in the header
};

// Reads a table. On failure returns false and sets 'error' to a one-line message that names
// the file and, for a bad row, its line number.
bool readQueryTable(const std::string& path, QueryTable& table, std::string& error);

// The query columns, in output order.
const std::vector<std::string>& queryColumnNames();

}  // namespace tarsk::ptexeval
