#include "scene/Scene.h"

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
