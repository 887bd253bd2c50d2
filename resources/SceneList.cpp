#include "resources/SceneList.h"

#include <mutex>

#include "resources/NameHash.h"

Scene* SceneList::Append(std::unique_ptr<Scene> scene) {
    Scene* raw = scene.get();
    std::unique_lock lock(mutex);
    scenes.push_back(std::move(scene));
    return raw;
}

Scene* SceneList::Find(uint32_t hash) const {
    std::shared_lock lock(mutex);
    for (const auto& scene : scenes) {
        if (!scene) continue;
        // Two readers may both compute it; they store the same value.
        uint32_t own = scene->nameHash.load(std::memory_order_relaxed);
        if (own == 0) {
            own = NameHash(scene->name);
            scene->nameHash.store(own, std::memory_order_relaxed);
        }
        if (own == hash) return scene.get();
    }
    return nullptr;
}

std::vector<Scene*> SceneList::Snapshot() const {
    std::shared_lock lock(mutex);
    std::vector<Scene*> snapshot;
    snapshot.reserve(scenes.size());
    for (const auto& scene : scenes) snapshot.push_back(scene.get());
    return snapshot;
}

size_t SceneList::Size() const {
    std::shared_lock lock(mutex);
    return scenes.size();
}
