// LineReader: the lines of a text input for the host's line-based loaders (OBJ meshes, POINTS
// tables, point requests), each at most kMaxLineLength bytes, so that a file without line breaks
// gives a message naming the line instead of a read into memory without end.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace tarsk::host {

// Far above any line these formats need (a POINTS row is about 500 bytes, an OBJ face of a
// thousand corners about 20 KB).
constexpr size_t kMaxLineLength = size_t(1) << 20;

class LineReader {
public:
    LineReader(std::istream& in, std::string label);

    // The next line without its '\n'; false at the end of the input. Throws HostError
    // "<label>:<line>: ..." for a line longer than kMaxLineLength, "<label>: ..." for a read error.
    bool next(std::string& line);

    // "<label>:<line>" of the line `next` gave last.
    std::string where() const { return label + ":" + std::to_string(lineNo); }
    int lineNumber() const { return lineNo; }

private:
    std::istream& in;
    std::string label;
    std::vector<char> buffer;
    int lineNo = 0;
};

}  // namespace tarsk::host
