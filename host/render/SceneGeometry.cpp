#include "SceneGeometry.h"

#include "HostError.h"
#include "PointMaker.h"
#include "ShadingNormals.h"

#include <limits>

namespace tarsk::render {

using host::HostError;

SceneGeometry::SceneGeometry(const host::Scene& sceneDesc, double time)
{
    // Default device settings: with TBB tasking, a "threads=N" setting caps TBB's parallelism for the
    // whole process while the device lives, which would serialise the render threads' arena too.
    device = rtcNewDevice(nullptr);
    if (!device) throw HostError("cannot create the Embree device");
    scene = rtcNewScene(device);
    // Watertight intersection: a ray through the shared edge of two triangles (a quad's diagonal)
    // hits one of them instead of slipping between both.
    rtcSetSceneFlags(scene, RTC_SCENE_FLAG_ROBUST);
    for (size_t i = 0; i < sceneDesc.objects.size(); ++i) {
        const host::SceneObject& object = sceneDesc.objects[i];
        host::MeshLists lists = object.meshAt(time);
        std::string fault = host::findMeshListFault(lists);
        if (!fault.empty()) throw HostError(object.jsonPath + ".mesh at time " + std::to_string(time) + ": " + fault);
        if (lists.numTriangles() > 0) {
            RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
            auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
                geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), lists.vertices.size()));
            auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
                geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), lists.numTriangles()));
            if (!vertices || !indices) {
                rtcReleaseGeometry(geometry);
                throw HostError("Embree could not allocate the geometry of " + object.jsonPath);
            }
            for (size_t v = 0; v < lists.vertices.size(); ++v) {
                const auto& p = lists.vertices[v];
                Vec3 w = object.objectToWorld.point({p.x, p.y, p.z});
                vertices[3 * v] = static_cast<float>(w.x);
                vertices[3 * v + 1] = static_cast<float>(w.y);
                vertices[3 * v + 2] = static_cast<float>(w.z);
            }
            for (size_t k = 0; k < lists.faces.size(); ++k) indices[k] = static_cast<unsigned>(lists.faces[k]);
            rtcCommitGeometry(geometry);
            unsigned id = rtcAttachGeometry(scene, geometry);
            rtcReleaseGeometry(geometry);
            if (objectOfGeometry.size() <= id) objectOfGeometry.resize(id + 1, -1);
            objectOfGeometry[id] = static_cast<int>(i);
        }
        std::vector<Vec3> normals;
        if (object.shadingNormals) {
            normals = shadingNormals(lists, object.cornerNormals);
            // Normals map by the inverse transpose of the object-to-world matrix.
            const auto& w = object.worldToObject.rowMajor();
            for (Vec3& n : normals)
                n = host::normalize({w[0] * n.x + w[4] * n.y + w[8] * n.z, w[1] * n.x + w[5] * n.y + w[9] * n.z,
                                     w[2] * n.x + w[6] * n.y + w[10] * n.z});
        }
        objectNormals.push_back(std::move(normals));
        objectLists.push_back(std::move(lists));
    }
    rtcCommitScene(scene);
    if (rtcGetDeviceError(device) != RTC_ERROR_NONE) throw HostError("Embree could not build the scene");
}

SceneGeometry::~SceneGeometry()
{
    if (scene) rtcReleaseScene(scene);
    if (device) rtcReleaseDevice(device);
}

Vec3 SceneGeometry::shadingNormal(const Hit& hit) const
{
    const Vec3 geometric = host::normalize(hit.normal);
    const std::vector<Vec3>& normals = objectNormals[static_cast<size_t>(hit.object)];
    if (normals.empty()) return geometric;
    const size_t first = 3 * static_cast<size_t>(hit.triangle);
    Vec3 n = host::normalize(normals[first] * (1.0 - hit.u - hit.v) + normals[first + 1] * hit.u +
                             normals[first + 2] * hit.v);
    return host::length(n) > 0 ? n : geometric;
}

Hit SceneGeometry::intersect(const Vec3& origin, const Vec3& direction, float tNear, float tFar) const
{
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rh{};
    rh.ray.org_x = static_cast<float>(origin.x);
    rh.ray.org_y = static_cast<float>(origin.y);
    rh.ray.org_z = static_cast<float>(origin.z);
    rh.ray.dir_x = static_cast<float>(direction.x);
    rh.ray.dir_y = static_cast<float>(direction.y);
    rh.ray.dir_z = static_cast<float>(direction.z);
    rh.ray.tnear = tNear;
    rh.ray.tfar = tFar;
    rh.ray.mask = ~0u;
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.primID = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene, &context, &rh);
    Hit hit;
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return hit;
    hit.object = objectOfGeometry[rh.hit.geomID];
    hit.triangle = static_cast<int>(rh.hit.primID);
    hit.u = rh.hit.u;
    hit.v = rh.hit.v;
    hit.t = rh.ray.tfar;
    hit.normal = {rh.hit.Ng_x, rh.hit.Ng_y, rh.hit.Ng_z};
    return hit;
}

}  // namespace tarsk::render
