// GeometryTransform: the interface (id 2006012001) that every hit object of the renderer offers.
// It maps points and vectors of a shading point into the space of the object's mesh lists, where
// the texture's topology lives.
#pragma once

#include <tarsk/ListRef.h>
#include <tarsk/PluginInterface.h>

#include <cstdint>

namespace TUtils {

struct ShadingContext;

class GeometryTransform : public PluginInterface {
public:
    static constexpr uint64_t kInterfaceId = 2006012001u;  // 0x77915061

    uint64_t getInterfaceID() override { return kInterfaceId; }
    const char* getInterfaceName() override { return "EXT_GEOMETRY_TRANSFORM"; }

    // Slot 5: a surface normal, mapped with the inverse transpose so that it stays normal to the
    // mapped surface. Plug-ins of this project do not use it.
    virtual Vector3f transformNormal(const ShadingContext& context, const Vector3f& normal) = 0;
    // Slot 6: a direction (no translation).
    virtual Vector3f transformVector(const ShadingContext& context, const Vector3f& vector) = 0;
    // Slot 7: a position.
    virtual Vector3f transformPoint(const ShadingContext& context, const Vector3f& point) = 0;
};

}  // namespace TUtils
