#include "scene/Scene.h"

#include <pugixml.hpp>

#include <optional>

#include "platform/Log.h"
#include "resources/AsciiCase.h"
#include "resources/FileBuffer.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/XmlValue.h"

namespace caldera {

namespace {
constexpr size_t kExtensionLength = 4;  // ".xml"
}  // namespace

// Element, label, member, default, editing slot; the editing order runs
// across both tables.
constexpr Parameter<Scene> kShadowMapParameters[] = {
    {"SpotSize", "Shadow Spot Size", &Scene::shadowSpotSize, 45.0f, 2},
    {"Position", "Shadow Source Pos.", &Scene::shadowSourcePos, 0, 0},
    {"LookAt", "Shadow Look-at", &Scene::shadowLookAt, 0, 1},
    {"RenderCubemap", "Render Cubemap", &Scene::renderCubemap, true, 6},
};
constexpr Parameter<Scene> kPostEffectsParameters[] = {
    {"Anamorphic", "Anamorphic Glow", &Scene::anamorphicGlow, 0.7f, 3},
    {"LensFlare", "Lens Flare", &Scene::lensFlare, 0.8f, 4},
    {"LensReflect", "Lens Reflect", &Scene::lensReflect, 0.35f, 5},
};
static_assert(ValidTables<Scene>({kShadowMapParameters, kPostEffectsParameters}), "see ValidTables");

std::span<const Parameter<Scene>> Scene::ShadowMapParameters() { return kShadowMapParameters; }
std::span<const Parameter<Scene>> Scene::PostEffectsParameters() { return kPostEffectsParameters; }

Scene::Scene(const std::string& fileName)
    : path(ResourceManager::scenesFolder + fileName),
      name(fileName.substr(0, fileName.size() >= kExtensionLength ? fileName.size() - kExtensionLength : 0)) {
    properties = SetUpParameters<Scene>(*this, {kShadowMapParameters, kPostEffectsParameters});
    seenFullReloads = ResourceManager::Instance().fullReloads.load(std::memory_order_acquire);
    LoadXml();
}

Scene::~Scene() = default;

void Scene::LoadXml() {
    // The time that belongs to the bytes is the one read before them: a save
    // that lands while they are read and parsed then differs from it, and the
    // next poll loads that save instead of taking its time for these bytes.
    const std::optional<FileTime> stamp = ResourceManager::Instance().GetFileStamp(path);
    std::unique_ptr<FileBuffer> buffer = LoadFile(path);
    if (!buffer || buffer->size == 0) return;
    if (!LoadDocument(buffer->data.data(), buffer->size)) return;
    fileStamp = stamp.value_or(0);
}

bool Scene::LoadDocument(const char* text, size_t size) {
    pugi::xml_document document;
    if (!document.load_buffer(text, size)) return false;
    pugi::xml_node root = document.child("Scene");
    if (!root) return false;

    ObjectLoadLimits limits;
    for (pugi::xml_node element : root.children("Object")) {
        if (limits.objects >= ObjectLoadLimits::kMaxObjects) {
            if (!limits.objectsReported) Log(3, "Objects beyond %zu are skipped", ObjectLoadLimits::kMaxObjects);
            limits.objectsReported = true;
            break;
        }
        ++limits.objects;
        auto object = std::make_unique<Object>();
        object->LoadXml(element, limits);
        objects.push_back(std::move(object));
    }
    for (pugi::xml_node element : root.children("Camera")) {
        auto camera = std::make_unique<Camera>();
        camera->LoadXml(element);
        AddCamera(std::move(camera));
    }

    // An absent element reads as an empty one: every value takes its default.
    pugi::xml_node shadowMap = root.child("ShadowMap");
    shadowMaskEnabled = ParseBool(shadowMap.attribute("enabled").value());
    shadowMaskName = LowerCaseAscii(shadowMap.attribute("texture").value());
    shadowMaskHash = NameHash(shadowMaskName);
    LoadParameters<Scene>(*this, kShadowMapParameters, shadowMap);

    pugi::xml_node postEffects = root.child("PostEffects");
    LoadParameters<Scene>(*this, kPostEffectsParameters, postEffects);
    return true;
}

bool Scene::CheckReload() {
    std::optional<FileTime> time = ResourceManager::Instance().GetFileStamp(path);
    if (!time || *time == fileStamp) return false;
    Log(3, "Reloading scene : %s", path.c_str());
    Clear();
    LoadXml();
    return true;
}

bool Scene::PollFile() {
    const auto now = std::chrono::steady_clock::now();
    const uint32_t fullReloads = ResourceManager::Instance().fullReloads.load(std::memory_order_acquire);
    if (fullReloads != seenFullReloads) {
        seenFullReloads = fullReloads;
        lastPoll = now;
        Log(3, "Reloading scene : %s", path.c_str());
        Clear();
        LoadXml();
        return true;
    }
    if (now - lastPoll < kPollInterval) return false;
    lastPoll = now;
    return CheckReload();
}

void Scene::Clear() {
    for (auto& object : objects) retiredObjects.push_back(std::move(object));
    objects.clear();
    for (auto& camera : cameras) retiredCameras.push_back(std::move(camera));
    cameras.clear();
    camerasByName.clear();
}

void Scene::ReleaseRetired() {
    // Children go with their parents, depth-first.
    retiredObjects.clear();
    retiredCameras.clear();
}

Camera* Scene::AddCamera(std::unique_ptr<Camera> camera) {
    Camera* raw = camera.get();
    // The name is hashed here too, so that a camera made in code is found.
    raw->nameHash = NameHash(raw->name);
    camerasByName[raw->nameHash] = raw;
    cameras.push_back(std::move(camera));
    return raw;
}

Camera* Scene::FindCamera(uint32_t hash) const {
    auto it = camerasByName.find(hash);
    return it == camerasByName.end() ? nullptr : it->second;
}

}  // namespace caldera
