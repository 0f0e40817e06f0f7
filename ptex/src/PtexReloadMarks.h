// ReloadMarks: which of a texture's evicted blocks have not been loaded again since, so that the
// cache can tell the data it reads again (a sign that its limit is too small for what is being
// rendered) from data it reads for the first time. Exact for the faces of the stored levels (a
// bit per face, made when a level first loses a face); one shared set of hashed bits for the
// rest (reductions, tiles, tables), where a collision at worst counts a first load as a reload.
// Not thread-safe: the texture's slot lock guards it.
#pragma once

#include "PtexBlock.h"
#include "PtexResidency.h"

#include <cstdint>
#include <vector>

PTEX_NAMESPACE_BEGIN

class ReloadMarks {
public:
    ReloadMarks(DataResidency& residency, int numFaces, int numLevels);

    void markEvicted(const Block& block);
    // True if the block was evicted before (and forgets that it was).
    bool takeMark(const Block& block);
    size_t bytes() const;

private:
    bool levelFace(const Block& block, uint32_t& level, uint32_t& faceid) const;
    size_t otherBit(const Block& block) const;

    DataResidency& _residency;
    const int _numFaces;
    std::vector<std::vector<uint64_t>> _levels;
    std::vector<uint64_t> _others;
};

PTEX_NAMESPACE_END
