#include "resources/MaterialLibrary.h"

#include <pugixml.hpp>

#include "platform/Log.h"

namespace caldera {

const Material* MaterialSet::Find(uint32_t hash) const {
    auto it = byHash.find(hash);
    return it == byHash.end() ? nullptr : &it->second;
}

std::shared_ptr<const MaterialSet> MaterialSet::Parse(const char* text, size_t size) {
    pugi::xml_document document;
    if (!document.load_buffer(text, size)) return nullptr;
    pugi::xml_node library = document.child("Materials");
    if (!library) return nullptr;

    Log(3, "Reloading materials.xml");
    auto set = std::make_shared<MaterialSet>();
    for (pugi::xml_node element : library.children("Material")) {
        Material material;
        material.Load(element);
        const uint32_t key = material.nameHash;
        set->byHash.insert_or_assign(key, std::move(material));
    }
    return set;
}

std::shared_ptr<const MaterialSet> MaterialLibrary::Current() const {
    std::lock_guard lock(currentLock);
    return current;
}

std::shared_ptr<const Material> MaterialLibrary::Find(uint32_t hash) const {
    std::shared_ptr<const MaterialSet> set = Current();
    const Material* material = set->Find(hash);
    if (!material) return nullptr;
    // Shares the set's ownership: the material lives while the pointer does.
    return std::shared_ptr<const Material>(std::move(set), material);
}

void MaterialLibrary::Publish(std::shared_ptr<const MaterialSet> set) {
    if (!set) return;
    // The old set dies outside the lock, when its last holder lets it go.
    std::lock_guard lock(currentLock);
    current.swap(set);
}

}  // namespace caldera
