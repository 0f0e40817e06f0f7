// TextureInterface: the interface (id 0x77780002, "EXT_TEXTURE") through which the host samples a
// texture: a colour with alpha or a vector at one shading point, and the range of its colours.
#pragma once

#include <tarsk/Color.h>
#include <tarsk/ListRef.h>
#include <tarsk/PluginInterface.h>

#include <cstdint>

namespace TUtils {

struct ShadingContext;

class TextureInterface : public PluginInterface {
public:
    static constexpr uint64_t kInterfaceId = 0x77780002u;

    uint64_t getInterfaceID() override;
    const char* getInterfaceName() override;

    // Called from every render thread at once.
    virtual Color evalColor(ShadingContext& context) = 0;
    // Writes the lowest and the highest colour the texture returns, four floats each.
    virtual void getColorRange(float* low, float* high) = 0;
    // (0, 0, 0) unless a texture gives vectors.
    virtual Vector3f evalVector(ShadingContext& context);
};

}  // namespace TUtils
