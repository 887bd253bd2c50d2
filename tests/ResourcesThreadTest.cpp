// The watcher thread adds resources while the render thread looks them up:
// run under ThreadSanitizer, any unguarded access is a failure.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "playback/Production.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"
#include "tests/ContentFolder.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

using ResourceThreads = ContentTest;

TEST_F(ResourceThreads, LookUpsRunSafelyWhileTheWatcherAdds) {
    constexpr int kCount = 300;
    Write("data/textures/shared.png", "pixels");
    ResourceManager manager;
    ConnectProduction(manager);
    std::vector<FileRecord> textures, models, scenes;
    for (int i = 0; i < kCount; ++i) {
        std::string stem = "r" + std::to_string(i);
        textures.push_back({NameHash(stem + ".png"), stem + ".png", 1});
        models.push_back({NameHash(stem + ".obj"), stem + ".obj", 1});
        scenes.push_back({NameHash(stem + ".xml"), stem + ".xml", 1});
    }

    StdoutCapture quiet;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int i = 0; i < kCount; ++i) {
            manager.AddResource(textures[i]);
            manager.AddResource(models[i]);
            manager.AddResource(scenes[i]);
            if (i % 10 == 0) manager.ReloadResource(textures[i / 2]);
        }
        done = true;
    });

    // The render thread's side: look-ups, the loading flag, walks.
    size_t found = 0;
    // Rounds run while the watcher adds, and one more after it is done: a
    // machine that runs the whole watcher between two rounds still sees what
    // it added.
    for (bool last = false; !last;) {
        last = done.load();
        for (int i = 0; i < kCount; i += 7) {
            std::string stem = "r" + std::to_string(i);
            if (Texture* t = manager.FindTexture(NameHash(stem + ".png"))) found += !t->loading.load() ? 1 : 0;
            if (Mesh* mesh = manager.FindModel(NameHash(stem + ".obj"))) found += mesh->reloadRequested.load() ? 0 : 1;
            if (Scene* scene = manager.FindScene(NameHash(stem))) found += scene->name.size() > 0 ? 1 : 0;
        }
        manager.textures.ForEach([&](uint32_t, const Texture& t) { found += t.loading.load() ? 0 : 1; });
        found += manager.scenes.Snapshot().size();
        EXPECT_EQ(manager.FindTexture(NameHash("unknown.png")), nullptr);
    }
    watcher.join();
    quiet.Text();

    EXPECT_GT(found, 0u);
    for (int i = 0; i < kCount; ++i) {
        std::string stem = "r" + std::to_string(i);
        ASSERT_NE(manager.FindTexture(NameHash(stem + ".png")), nullptr) << stem;
        ASSERT_NE(manager.FindModel(NameHash(stem + ".obj")), nullptr) << stem;
        ASSERT_NE(manager.FindScene(NameHash(stem)), nullptr) << stem;
    }
    // Scenes keep the order they were added in.
    std::vector<Scene*> order = manager.scenes.Snapshot();
    ASSERT_EQ(order.size(), size_t(kCount));
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(order[i]->name, "r" + std::to_string(i));
}

}  // namespace
