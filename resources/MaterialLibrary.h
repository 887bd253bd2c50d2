#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "resources/Material.h"

namespace caldera {

// One whole reading of the material library. Never changed once published,
// so any thread may read it for as long as it holds it.
struct MaterialSet {
    std::unordered_map<uint32_t, Material> byHash;

    // Null for an unknown hash.
    const Material* Find(uint32_t hash) const;

    // The set that `text` describes, or null when it is not a material library
    // (not well-formed XML, or no "Materials" element); logs
    // "Reloading materials.xml" and one "Loading material : %s" per material.
    // A later material of the same name replaces an earlier one.
    static std::shared_ptr<const MaterialSet> Parse(const char* text, size_t size);
};

// The current material set. The watcher publishes a new set whole on each
// reload; the render thread takes the current one and holds it while it draws,
// so a reload never frees a material under a draw nor shows a half-read set.
class MaterialLibrary {
public:
    // The current set; never null (empty before the first reading). Any thread.
    std::shared_ptr<const MaterialSet> Current() const;
    // The material of `hash` in the current set, kept alive by the pointer
    // itself (it shares ownership of its whole set); null when unknown.
    std::shared_ptr<const Material> Find(uint32_t hash) const;
    // Replaces the current set; watcher thread.
    void Publish(std::shared_ptr<const MaterialSet> set);

private:
    mutable std::mutex currentLock;  // guards `current`: watcher publishes, render thread reads
    std::shared_ptr<const MaterialSet> current = std::make_shared<const MaterialSet>();
};

}  // namespace caldera
