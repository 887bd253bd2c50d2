#include "playback/Production.h"

#include <memory>
#include <string>

#include "playback/Timeline.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

void ConnectProduction(ResourceManager& resources) {
    resources.hooks.loadScene = [](const std::string& fileName) { return std::make_shared<Scene>(fileName); };
    resources.hooks.loadTimeline = [](const std::string& path) { Timeline::Instance().Load(path); };
}
