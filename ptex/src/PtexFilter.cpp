// PtexFilter::getFilter: picks the filter object for a texture's mesh type and the options.
#include <cstring>

#include "PtexPointFilter.h"
#include "PtexSeparableFilter.h"
#include "PtexTriangleFilter.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

namespace {

PtexFilter* makeFilter(PtexTexture* tx, const PtexFilter::Options& opts)
{
    using FT = PtexFilter::FilterType;
    using Shape = PtexSeparableFilter::Shape;
    // Callers pass filter numbers outside the enumeration (-1, 9, ...): read the raw value.
    int filterType = 0;
    std::memcpy(&filterType, &opts.filter, sizeof filterType);
    switch (int(tx->meshType())) {
    case Ptex::mt_quad:
        switch (filterType) {
        case FT::f_point: return new PtexPointFilter(tx);
        case FT::f_bilinear: return new PtexSeparableFilter(tx, opts, Shape::bilinear, 0.0f);
        case FT::f_gaussian: return new PtexSeparableFilter(tx, opts, Shape::gaussian, 0.0f);
        case FT::f_bicubic: return new PtexSeparableFilter(tx, opts, Shape::cubic, opts.sharpness);
        case FT::f_bspline: return new PtexSeparableFilter(tx, opts, Shape::cubic, 0.0f);
        case FT::f_catmullrom: return new PtexSeparableFilter(tx, opts, Shape::cubic, 1.0f);
        case FT::f_mitchell: return new PtexSeparableFilter(tx, opts, Shape::cubic, 2.0f / 3.0f);
        case FT::f_box:
        default:
            // Unknown filter types (negative or past the last) give the box filter.
            return new PtexSeparableFilter(tx, opts, Shape::box, 0.0f);
        }
    case Ptex::mt_triangle:
        // Every type but point selects the one triangle filter.
        if (filterType == FT::f_point) return new PtexPointFilterTri(tx);
        return new PtexTriangleFilter(tx);
    default: return nullptr;
    }
}

}  // namespace

PtexFilter* PtexFilter::getFilter(PtexTexture* tx, const PtexFilter::Options& opts)
{
    if (!tx) return nullptr;
    try {
        return makeFilter(tx, opts);
    } catch (...) {
        // Out of memory while setting up scratch space: no filter, nothing thrown to the caller.
        return nullptr;
    }
}

PTEX_NAMESPACE_END
