#include "playback/Production.h"

#include <memory>
#include <string>

#include "particles/ObjectParticles.h"
#include "playback/Timeline.h"
#include "render/Renderer.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

void ConnectProduction(ResourceManager& resources, ProductionClocks clocks) {
    // Before any scene loads: an object made without them has no particles.
    InstallParticleSystems();
    resources.hooks.loadScene = [](const std::string& fileName) { return std::make_shared<Scene>(fileName); };
    resources.hooks.loadTimeline = [](const std::string& path) { Timeline::Instance().Load(path); };
    Renderer& renderer = Renderer::Instance();
    if (clocks.music) renderer.musicClock = clocks.music;
    if (clocks.frames) renderer.frameClock = clocks.frames;
}
