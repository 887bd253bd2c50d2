#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace caldera {

// A map from NameHash to objects, extended by the watcher thread while the
// render thread looks objects up.
//
// An object is inserted fully loaded and is never moved or destroyed while the
// registry lives, so the raw pointers handed out stay valid on any thread.
// Inserting under a hash that is taken replaces the entry (later wins) but
// keeps the earlier object alive for whoever still points at it.
template <class T>
class Registry {
public:
    // Null for an unknown hash; inserts nothing.
    T* Find(uint32_t hash) const {
        std::shared_lock lock(mutex);
        auto it = byHash.find(hash);
        return it == byHash.end() ? nullptr : it->second;
    }

    T* Insert(uint32_t hash, std::unique_ptr<T> object) {
        T* raw = object.get();
        std::unique_lock lock(mutex);
        owned.push_back(std::move(object));
        byHash[hash] = raw;
        return raw;
    }

    size_t Size() const {
        std::shared_lock lock(mutex);
        return byHash.size();
    }

    // Calls visit(hash, object) for every registered object, in no particular
    // order, under the read lock: `visit` must not insert into this registry.
    template <class Visit>
    void ForEach(Visit&& visit) const {
        std::shared_lock lock(mutex);
        for (const auto& [hash, object] : byHash) visit(hash, *object);
    }

private:
    mutable std::shared_mutex mutex;  // guards byHash and owned
    std::unordered_map<uint32_t, T*> byHash;
    std::vector<std::unique_ptr<T>> owned;  // every object ever inserted
};

}  // namespace caldera
