#include "resources/Texture.h"

#include <stb/stb_image.h>

#include <cstdint>
#include <cstdio>

#include "platform/File.h"
#include "platform/Log.h"
#include "resources/FileBuffer.h"
#include "resources/ResourceManager.h"

namespace caldera {

namespace {

// Header sizes beyond these would make the decoder allocate whatever a file
// claims; such a file is refused as undecodable.
bool SaneSize(int width, int height) {
    return width > 0 && height > 0 && width <= Texture::kMaxSide && height <= Texture::kMaxSide &&
           int64_t(width) * height <= Texture::kMaxPixels;
}

struct Image {
    std::unique_ptr<unsigned char[], Texture::FreePixels> pixels;
    int width = 0;
    int height = 0;
};

Image DecodeMemory(const unsigned char* bytes, int size) {
    Image image;
    int width = 0, height = 0, components = 0;
    if (!stbi_info_from_memory(bytes, size, &width, &height, &components) || !SaneSize(width, height)) return image;
    image.pixels.reset(stbi_load_from_memory(bytes, size, &width, &height, &components, 4));
    if (image.pixels) image.width = width, image.height = height;
    return image;
}

Image DecodeFile(const std::string& path) {
    Image image;
    uint64_t size = 0;
    std::string error;
    FILE* file = OpenRegularFile(path, size, error);
    if (!file) return image;
    int width = 0, height = 0, components = 0;
    // One open file for both, so that the size checked is the size decoded.
    if (stbi_info_from_file(file, &width, &height, &components) && SaneSize(width, height)) {
        image.pixels.reset(stbi_load_from_file(file, &width, &height, &components, 4));
        if (image.pixels) image.width = width, image.height = height;
    }
    std::fclose(file);
    return image;
}

}  // namespace

void Texture::FreePixels::operator()(unsigned char* p) const { stbi_image_free(p); }

void Texture::Load(const std::string& texturePath) {
    path = texturePath;
    auto buffer = LoadFile(path);
    if (buffer && buffer->fromPack)
        Log(3, "Loading texture from archive : %s/%s", ResourceManager::packName, path.c_str());
    else
        Log(3, "Loading texture from file : %s", path.c_str());

    fileSize = buffer ? buffer->size : 0;

    // Decoded outside the lock: the render thread may bind meanwhile.
    Image image;
    if (buffer && buffer->size > 0) {
        // The decoder takes an int size; no image of the sizes above is that long.
        if (buffer->size <= uint32_t(INT32_MAX))
            image = DecodeMemory(reinterpret_cast<const unsigned char*>(buffer->data.data()),
                                 static_cast<int>(buffer->size));
    } else {
        image = DecodeFile(path);
    }
    buffer.reset();
    {
        std::lock_guard lock(imageLock);
        pixels = std::move(image.pixels);
        width = image.width;
        height = image.height;
        channels = 4;
        uploaded = false;
    }
    // Release: the image above is complete before the render thread sees the flag clear.
    loading.store(false, std::memory_order_release);
}

void Texture::BeginReload() {
    loading.store(true, std::memory_order_release);
    std::lock_guard lock(imageLock);
    pixels.reset();
    width = height = channels = 0;
    uploaded = false;
}

void Texture::Reload() {
    BeginReload();
    Load(path);
}

}  // namespace caldera
