// Cost of the front end of one frame of each scene of the bundled production:
// the update step, the scene's poll and the whole evaluation into the
// prepared frame, without GL.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "playback/FrameDriver.h"
#include "playback/Production.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/FrameState.h"
#include "scene/Scene.h"

using namespace caldera;

namespace {

// The bundled production, loaded once, as the watcher loads it.
ResourceManager& Production() {
    static ResourceManager& resources = [] () -> ResourceManager& {
        std::filesystem::current_path(std::filesystem::path(DEMO_SOURCE_DIR) / "demo");
        ResourceManager& manager = ResourceManager::Instance();
        ConnectProduction(manager);
        manager.ready = true;
        manager.Update();
        return manager;
    }();
    return resources;
}

void BM_PrepareFrame(benchmark::State& state, const char* sceneName) {
    Scene* scene = Production().FindScene(NameHash(sceneName));
    if (!scene || scene->cameras.empty()) {
        state.SkipWithError("the bundled scene is missing");
        return;
    }
    FrameState& frame = FrameState::Current();
    frame.currentScene = scene;
    frame.currentCamera = scene->cameras.front().get();
    frame.frameStart = 0;
    frame.frameEnd = 200;
    frame.progress = 50;
    frame.frameDelta = 1.0f / 60.0f;
    PreparedFrame prepared;
    for (auto _ : state) {
        PrepareFrame(prepared, 16.0f / 9.0f);
        benchmark::DoNotOptimize(prepared.drawables.data());
    }
    state.counters["drawables"] = static_cast<double>(prepared.drawables.size());
    state.counters["copies"] = static_cast<double>(prepared.instances.size());
    frame.currentScene = nullptr;
    frame.currentCamera = nullptr;
}

}  // namespace

BENCHMARK_CAPTURE(BM_PrepareFrame, valley, "valley")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, hall, "hall")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, tunnel, "tunnel")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, space, "space")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
