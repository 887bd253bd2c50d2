#include "playback/Production.h"

#include <memory>
#include <string>

#include "particles/ObjectParticles.h"
#include "playback/FrameDriver.h"
#include "playback/Timeline.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

namespace caldera {

void ConnectProduction(ResourceManager& resources, ProductionClocks clocks) {
    // Before any scene loads: an object made without them has no particles.
    InstallParticleSystems();
    resources.hooks.loadScene = [](const std::string& fileName) { return std::make_shared<Scene>(fileName); };
    resources.hooks.loadTimeline = [](const std::string& path) { Timeline::Instance().Load(path); };
    FrameDriver& driver = FrameDriver::Instance();
    if (clocks.music) driver.musicClock = clocks.music;
    if (clocks.frames) driver.frameClock = clocks.frames;
}

}  // namespace caldera
