#include "scene/Scene.h"

#include "resources/NameHash.h"
#include "resources/ResourceManager.h"

namespace {
constexpr size_t kExtensionLength = 4;  // ".xml"
}

Scene::Scene(const std::string& fileName)
    : path(ResourceManager::scenesFolder + fileName),
      name(fileName.substr(0, fileName.size() >= kExtensionLength ? fileName.size() - kExtensionLength : 0)) {
    LoadXml();
}

void Scene::LoadXml() {}

Camera* Scene::AddCamera(std::unique_ptr<Camera> camera) {
    Camera* raw = camera.get();
    cameras[NameHash(raw->name)] = raw;
    cameraList.push_back(std::move(camera));
    return raw;
}

Camera* Scene::FindCamera(uint32_t hash) const {
    auto it = cameras.find(hash);
    return it == cameras.end() ? nullptr : it->second;
}
