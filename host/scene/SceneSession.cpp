#include "SceneSession.h"

#include "HostError.h"
#include "SceneJson.h"
#include "ShortText.h"

#include <MatrixGeometryObject.h>
#include <PluginInstance.h>
#include <PluginLibrary.h>
#include <tarsk/PluginBase.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginInterface.h>
#include <tarsk/TarskPluginParameter.h>
#include <tarsk/TextureInterface.h>

#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace tarsk::host {

using nlohmann::json;

std::string defaultPluginPath()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "tarsk_TexPtex.so";
    buf[n] = '\0';
    std::filesystem::path exe(buf);
    return (exe.parent_path().parent_path().parent_path() / "texptex" / "tarsk_TexPtex.so").string();
}

namespace {

bool isMeshList(const std::string& name)
{
    return name == "vertices" || name == "origFaces" || name == "origFacesDegree" || name == "faces";
}

[[noreturn]] void wrongType(const ParamSetting& setting, const char* expected, const json& value)
{
    throw HostError(setting.jsonPath + ": expected " + expected + ", got " + describeJson(value));
}

// Fills `param` with the setting's keys, converted to the kind the plug-in registered.
void convertSetting(const ParamSetting& setting, const TUtils::TarskParameterInfo& info,
                    TUtils::TarskPluginParameter& param)
{
    using namespace TUtils;
    for (const auto& [time, value] : setting.keys) {
        switch (info.type) {
        case TARSK_PARAM_STRING:
            if (value.is_null())
                param.setString(time, nullptr);
            else if (value.is_string())
                param.setString(time, value.get<std::string>().c_str());
            else
                wrongType(setting, "a string", value);
            break;
        case TARSK_PARAM_INT:
            if (!value.is_number_integer()) wrongType(setting, "an integer", value);
            if (value.is_number_unsigned() ? value.get<uint64_t>() > INT32_MAX
                                           : (value.get<int64_t>() < INT32_MIN || value.get<int64_t>() > INT32_MAX))
                wrongType(setting, "a 32-bit integer", value);
            param.setInt(time, static_cast<int32_t>(value.get<int64_t>()));
            break;
        case TARSK_PARAM_FLOAT:
            if (!value.is_number() || !std::isfinite(value.get<double>())) wrongType(setting, "a number", value);
            param.setFloat(time, value.get<float>());
            break;
        case TARSK_PARAM_BOOL:
            if (!value.is_boolean()) wrongType(setting, "true or false", value);
            param.setBool(time, value.get<bool>());
            break;
        case TARSK_PARAM_INT_LIST: {
            if (!value.is_array()) wrongType(setting, "an array of integers", value);
            std::vector<int32_t> list;
            for (const json& e : value) {
                if (!e.is_number_integer() || e.get<int64_t>() < INT32_MIN || e.get<int64_t>() > INT32_MAX)
                    wrongType(setting, "an array of 32-bit integers", value);
                list.push_back(static_cast<int32_t>(e.get<int64_t>()));
            }
            param.setIntList(time, std::move(list));
            break;
        }
        case TARSK_PARAM_FLOAT_LIST: {
            if (!value.is_array()) wrongType(setting, "an array of numbers", value);
            std::vector<float> list;
            for (const json& e : value) {
                if (!e.is_number()) wrongType(setting, "an array of numbers", value);
                list.push_back(e.get<float>());
            }
            param.setFloatList(time, std::move(list));
            break;
        }
        case TARSK_PARAM_VECTOR_LIST: {
            if (!value.is_array()) wrongType(setting, "an array of [x, y, z]", value);
            std::vector<Vector3f> list;
            for (const json& e : value) {
                if (!e.is_array() || e.size() != 3 || !e[0].is_number() || !e[1].is_number() || !e[2].is_number())
                    wrongType(setting, "an array of [x, y, z]", value);
                list.push_back({e[0].get<float>(), e[1].get<float>(), e[2].get<float>()});
            }
            param.setVectorList(time, std::move(list));
            break;
        }
        default:
            throw HostError(setting.jsonPath + ": parameter \"" + shortText(setting.name) +
                            "\" cannot be set from a scene (" + parameterTypeName(info.type) + ")");
        }
    }
}

}  // namespace

SceneSession::SceneSession(const Scene& scene, const std::string& pluginPath, int numThreads, bool messageLog)
{
    std::string error;
    library = PluginLibrary::load(pluginPath, pluginHost, error);
    if (!library) throw HostError("cannot load plug-in: " + error);
    tarskRenderer = std::make_unique<TUtils::TarskRenderer>(numThreads, scene.frameTime, messageLog ? &log : nullptr);
    logging = messageLog;
    frameTime = scene.frameTime;

    objects.resize(scene.objects.size());
    for (size_t i = 0; i < scene.objects.size(); ++i) {
        const SceneObject& object = scene.objects[i];
        Instance& instance = objects[i];
        objectLabels.push_back("object \"" + shortText(object.name) + "\" (" + object.jsonPath + ")");
        instance.type = pluginHost.findByName(object.textureType.c_str());
        if (!instance.type)
            throw HostError(object.jsonPath + ".texture.type: no plug-in type \"" + shortText(object.textureType) +
                            "\" in " + pluginPath);
        instance.plugin = std::make_unique<PluginInstance>(*instance.type->desc, &pluginHost);
        if (!instance.plugin->valid())
            throw HostError(object.jsonPath + ": the plug-in could not create a \"" + object.textureType + "\"");
        instance.control = instance.plugin->pluginInterface();
        instance.texture = instance.plugin->texture();
        if (!instance.control || !instance.texture)
            throw HostError(object.jsonPath + ".texture.type: \"" + object.textureType + "\" is not a Tarsk texture");
        instance.geometry = std::make_unique<MatrixGeometryObject>(object.worldToObject.rowMajor());
        setParameters(object, instance);
    }
}

void SceneSession::setParameters(const SceneObject& object, Instance& instance)
{
    const TUtils::TarskParameterListDesc* table = instance.type->params;
    for (const ParamSetting& setting : object.textureParams) {
        const TUtils::TarskParameterInfo* info = table ? table->findParam(setting.name.c_str()) : nullptr;
        if (!info)
            throw HostError(setting.jsonPath + ": unknown parameter \"" + shortText(setting.name) + "\" of " +
                            object.textureType);
        if (info->isOutput)
            throw HostError(setting.jsonPath + ": \"" + setting.name + "\" is an output and cannot be set");
        if (isMeshList(setting.name))
            throw HostError(setting.jsonPath + ": give the mesh list \"" + setting.name + "\" under \"mesh\"");
        TUtils::TarskPluginParameter param(setting.name.c_str());
        convertSetting(setting, *info, param);
        if (!instance.control->setParameter(&param))
            throw HostError(setting.jsonPath + ": the plug-in refused the value");
    }
    TUtils::TarskPluginParameter vertices("vertices");
    for (const auto& [time, list] : object.vertices.keys) vertices.setVectorList(time, list);
    TUtils::TarskPluginParameter origFaces("origFaces"), origFacesDegree("origFacesDegree"), faces("faces");
    for (const auto& [time, list] : object.origFaces.keys) origFaces.setIntList(time, list);
    for (const auto& [time, list] : object.origFacesDegree.keys) origFacesDegree.setIntList(time, list);
    for (const auto& [time, list] : object.faces.keys) faces.setIntList(time, list);
    for (TUtils::TarskPluginParameter* list : {&vertices, &origFaces, &origFacesDegree, &faces})
        if (!instance.control->setParameter(list))
            throw HostError(object.jsonPath + ".mesh: " + object.textureType + " refused the list \"" +
                            list->getName() + "\"");
}

SceneSession::~SceneSession()
{
    if (inFrame) frameEnd();
    if (rendering) renderEnd();
    objects.clear();  // deletes the instances; the library must outlive them
    library.reset();
}

PluginBase* SceneSession::geometryObject(int object) const { return objects[object].geometry.get(); }

void SceneSession::collectFaults(int object, double time)
{
    for (std::string& message : log.takeErrors()) {
        auto same = std::find_if(faults.begin(), faults.end(), [&](const TextureFault& fault) {
            return fault.object == object && fault.message == message;
        });
        if (same != faults.end())
            ++same->frames;
        else
            faults.push_back({object, std::move(message), time, 1});
    }
}

std::vector<std::string> SceneSession::textureFaultLines() const
{
    std::vector<std::string> lines;
    char time[32];
    for (const TextureFault& fault : faults) {
        std::snprintf(time, sizeof time, "%g", fault.firstTime);
        const std::string who = fault.object >= 0 ? objectLabels[static_cast<size_t>(fault.object)]
                                                  : std::string("a texture, while shading");
        std::string line = who + " at frame " + time + ": " + fault.message;
        if (fault.frames > 1) line += " (and " + std::to_string(fault.frames - 1) + " more time(s))";
        lines.push_back(std::move(line));
    }
    return lines;
}

// Each instance's errors are taken right after its own call, so they are filed under it. The
// plug-in reports from these calls only; anything reported while shading has no owner.
void SceneSession::renderBegin()
{
    log.takeErrors();  // anything before the render belongs to no texture
    for (size_t i = 0; i < objects.size(); ++i) {
        objects[i].control->renderBegin(tarskRenderer.get());
        collectFaults(static_cast<int>(i), frameTime);
    }
    rendering = true;
}

void SceneSession::frameBegin(double time)
{
    tarskRenderer->setFrameTime(time);
    frameTime = time;
    for (size_t i = 0; i < objects.size(); ++i) {
        objects[i].control->frameBegin(tarskRenderer.get());
        collectFaults(static_cast<int>(i), time);
    }
    inFrame = true;
}

void SceneSession::frameEnd()
{
    collectFaults(-1, frameTime);
    for (size_t i = 0; i < objects.size(); ++i) {
        objects[i].control->frameEnd(tarskRenderer.get());
        collectFaults(static_cast<int>(i), frameTime);
    }
    inFrame = false;
}

void SceneSession::renderEnd()
{
    for (size_t i = 0; i < objects.size(); ++i) {
        objects[i].control->renderEnd(tarskRenderer.get());
        collectFaults(static_cast<int>(i), frameTime);
    }
    rendering = false;
}

void printTextureFaultSummary(const SceneSession& session)
{
    const std::vector<std::string> lines = session.textureFaultLines();
    if (lines.empty()) return;
    std::fprintf(stderr, "summary: %zu texture error(s); an object whose texture did not load shows opaque white:\n",
                 lines.size());
    for (const std::string& line : lines) std::fprintf(stderr, "summary:   %s\n", line.c_str());
}

void refuseTextureFaults(const SceneSession& session)
{
    if (session.textureFaults().empty()) return;
    printTextureFaultSummary(session);
    throw HostError("--strict: the scene's textures reported " + std::to_string(session.textureFaults().size()) +
                    " error(s), listed above");
}

void checkStrictPossible(const Scene& scene)
{
    if (!scene.messageLog)
        throw HostError("--strict needs the renderer's message log to see texture errors, but " + scene.path +
                        " turns it off (renderer.message_log)");
}

}  // namespace tarsk::host
