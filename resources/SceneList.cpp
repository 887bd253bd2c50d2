#include "resources/SceneList.h"

#include <mutex>

namespace caldera {

Scene* SceneList::Append(uint32_t nameHash, std::shared_ptr<Scene> scene) {
    Scene* raw = scene.get();
    if (!raw) return nullptr;
    std::unique_lock lock(mutex);
    entries.push_back({nameHash, std::move(scene)});
    return raw;
}

Scene* SceneList::Find(uint32_t hash) const {
    std::shared_lock lock(mutex);
    for (const Entry& entry : entries)
        if (entry.hash == hash) return entry.scene.get();
    return nullptr;
}

std::vector<Scene*> SceneList::Snapshot() const {
    std::shared_lock lock(mutex);
    std::vector<Scene*> snapshot;
    snapshot.reserve(entries.size());
    for (const Entry& entry : entries) snapshot.push_back(entry.scene.get());
    return snapshot;
}

size_t SceneList::Size() const {
    std::shared_lock lock(mutex);
    return entries.size();
}

}  // namespace caldera
