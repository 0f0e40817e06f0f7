// Marks of evicted blocks.
#include "PtexReloadMarks.h"

PTEX_NAMESPACE_BEGIN

namespace {

constexpr size_t kOtherBits = 4096;

}  // namespace

ReloadMarks::ReloadMarks(DataResidency& residency, int numFaces, int numLevels)
    : _residency(residency), _numFaces(numFaces), _levels(size_t(numLevels > 0 ? numLevels : 0))
{}

bool ReloadMarks::levelFace(const Block& block, uint32_t& level, uint32_t& faceid) const
{
    if (block.directory || BlockRole(block.key >> 56) != BlockRole::levelFace) return false;
    level = uint32_t(block.key >> 32) & 0xffff;
    faceid = uint32_t(block.key);
    return level < _levels.size() && faceid < uint32_t(_numFaces);
}

size_t ReloadMarks::otherBit(const Block& block) const
{
    uint64_t key = block.key;
    if (block.directory) key = block.directory->key * 31 + uint64_t(block.tileIndex) + 1;
    return size_t((key * 0x9e3779b97f4a7c15ull) >> 52) % kOtherBits;
}

void ReloadMarks::markEvicted(const Block& block)
{
    // Marks only feed the traffic figures; without room for them a reload counts as a first load.
    try {
        uint32_t level, faceid;
        if (levelFace(block, level, faceid)) {
            std::vector<uint64_t>& marks = _levels[level];
            if (marks.empty()) {
                marks.assign((size_t(_numFaces) + 63) / 64, 0);
                _residency.addMemory(int64_t(marks.size() * sizeof(uint64_t)));
            }
            marks[faceid / 64] |= uint64_t(1) << (faceid % 64);
            return;
        }
        if (_others.empty()) {
            _others.assign(kOtherBits / 64, 0);
            _residency.addMemory(int64_t(_others.size() * sizeof(uint64_t)));
        }
        const size_t bit = otherBit(block);
        _others[bit / 64] |= uint64_t(1) << (bit % 64);
    } catch (...) {}
}

bool ReloadMarks::takeMark(const Block& block)
{
    uint32_t level, faceid;
    std::vector<uint64_t>* marks = &_others;
    size_t bit = 0;
    if (levelFace(block, level, faceid)) {
        marks = &_levels[level];
        bit = faceid;
    } else {
        bit = otherBit(block);
    }
    if (marks->empty()) return false;
    const uint64_t mask = uint64_t(1) << (bit % 64);
    const bool marked = ((*marks)[bit / 64] & mask) != 0;
    (*marks)[bit / 64] &= ~mask;
    return marked;
}

size_t ReloadMarks::bytes() const
{
    size_t total = _others.size() * sizeof(uint64_t);
    for (const auto& marks : _levels) total += marks.size() * sizeof(uint64_t);
    return total;
}

PTEX_NAMESPACE_END
