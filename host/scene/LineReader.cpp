#include "LineReader.h"

#include "HostError.h"

namespace tarsk::host {

LineReader::LineReader(std::istream& in, std::string label) : in(in), label(std::move(label)) {}

bool LineReader::next(std::string& line)
{
    if (!in.good()) return false;
    // One byte for the '\n' and one more, so that a line one byte too long is seen as such.
    if (buffer.empty()) buffer.resize(kMaxLineLength + 2);
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto read = static_cast<size_t>(in.gcount());
    if (in.bad()) throw HostError("error while reading " + label);
    if (read == 0 && in.eof()) return false;
    ++lineNo;
    // gcount counts the '\n' when getline took one, which it did unless the input ended first or
    // the buffer filled up (failbit) before the end of the line.
    const size_t length = in.eof() || in.fail() ? read : read - 1;
    if (in.fail() || length > kMaxLineLength)
        throw HostError(where() + ": the line is longer than " + std::to_string(kMaxLineLength) + " bytes");
    line.assign(buffer.data(), length);
    return true;
}

}  // namespace tarsk::host
