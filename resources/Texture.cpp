#include "resources/Texture.h"

#include "app/Log.h"
#include "resources/FileBuffer.h"
#include "resources/ResourceManager.h"

void Texture::Load(const std::string& texturePath) {
    path = texturePath;
    auto buffer = LoadFile(path);
    if (buffer && buffer->fromPack)
        Log(3, "Loading texture from archive : %s/%s", ResourceManager::packName, path.c_str());
    else
        Log(3, "Loading texture from file : %s", path.c_str());
    fileSize = buffer ? buffer->size : 0;
    // Release: the fields above are complete before a reader sees the flag clear.
    loading.store(false, std::memory_order_release);
}

void Texture::Reload() {
    loading.store(true, std::memory_order_release);
    fileSize = 0;
    Load(path);
}
