// TarskParameterType: the kinds of value a host parameter can hold. The list kinds keep the
// numbers that plug-ins pass to TarskParameterListDesc::addParam (0 integer list, 4 vector list).
#pragma once

#include <cstdint>

namespace TUtils {

enum TarskParameterType : int32_t {
    TARSK_PARAM_INT_LIST = 0,
    TARSK_PARAM_FLOAT_LIST = 1,
    TARSK_PARAM_VECTOR_LIST = 4,
    TARSK_PARAM_STRING = 16,
    TARSK_PARAM_INT = 17,
    TARSK_PARAM_FLOAT = 18,
    TARSK_PARAM_BOOL = 19,
    TARSK_PARAM_TEXTURE = 32,  // an output: the host samples the plug-in through it
    TARSK_PARAM_NONE = -1,     // a parameter that holds no value yet
};

// A readable name ("int list", "float", ...) for messages; "unknown" for any other number.
const char* parameterTypeName(int32_t type) noexcept;

// True for the kinds that plug-ins may register with addParam.
bool isListType(int32_t type) noexcept;

}  // namespace TUtils
