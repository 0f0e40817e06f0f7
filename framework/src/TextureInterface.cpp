#include <tarsk/TextureInterface.h>

namespace TUtils {

uint64_t TextureInterface::getInterfaceID() { return kInterfaceId; }

const char* TextureInterface::getInterfaceName() { return "EXT_TEXTURE"; }

Vector3f TextureInterface::evalVector(ShadingContext&) { return Vector3f{0.0f, 0.0f, 0.0f}; }

}  // namespace TUtils
