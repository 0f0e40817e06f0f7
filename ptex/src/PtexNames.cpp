// Display names of the Ptex enums, with a fixed text for values outside each enum.

#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

namespace {

template <size_t N>
const char* lookupName(const char* const (&names)[N], int value, const char* invalid)
{
    return value >= 0 && size_t(value) < N ? names[value] : invalid;
}

}  // namespace

const char* MeshTypeName(MeshType mt)
{
    static const char* const names[] = {"triangle", "quad"};
    return lookupName(names, int(mt), "(invalid mesh type)");
}

const char* DataTypeName(DataType dt)
{
    static const char* const names[] = {"uint8", "uint16", "float16", "float32"};
    return lookupName(names, int(dt), "(invalid data type)");
}

const char* BorderModeName(BorderMode m)
{
    static const char* const names[] = {"clamp", "black", "periodic"};
    return lookupName(names, int(m), "(invalid border mode)");
}

const char* EdgeFilterModeName(EdgeFilterMode m)
{
    static const char* const names[] = {"none", "tanvec"};
    return lookupName(names, int(m), "(invalid edge filter mode)");
}

const char* EdgeIdName(EdgeId eid)
{
    static const char* const names[] = {"bottom", "right", "top", "left"};
    return lookupName(names, int(eid), "(invalid edge id)");
}

const char* MetaDataTypeName(MetaDataType mdt)
{
    static const char* const names[] = {"string", "int8", "int16", "int32", "float", "double"};
    return lookupName(names, int(mdt), "(invalid meta data type)");
}

PTEX_NAMESPACE_END
