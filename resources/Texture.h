#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace caldera {

// One image from data/textures/, decoded to 8-bit RGBA on the watcher thread
// and turned into a GL texture by the render thread the first time it binds
// it after each decode (BindTexture, render/TextureBind.h; nothing here
// calls GL). A texture binds as none while it decodes, and after a
// decode that failed.
class Texture {
public:
    Texture() = default;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Watcher -> render thread: set from creation, or from the start of a
    // reload, until a decode has finished. Stored with release and read with
    // acquire, so that the image fields below are complete once it reads false.
    std::atomic<bool> loading{true};
    std::string path;       // "data/textures/" + file name; watcher thread only
    uint32_t fileSize = 0;  // bytes read by the last Load, 0 when none; watcher thread only

    // The decoded image, written by the watcher and read by the render thread's
    // upload, both under imageLock; empty (0, none) when nothing was decoded.
    int width = 0;
    int height = 0;
    int channels = 0;  // 4 after a load: the pixels are always RGBA
    struct FreePixels {
        void operator()(unsigned char* p) const;
    };
    std::unique_ptr<unsigned char[], FreePixels> pixels;  // rows top down; kept after upload
    // Whether the render thread has tried to upload the current pixels; a
    // reload clears it, so the next bind replaces the GL texture.
    bool uploaded = false;
    // Guards the image fields and `uploaded`: held by the upload on the render
    // thread and by the watcher while it frees or installs pixels, so a reload
    // never frees the pixels under an upload. Never held during a decode.
    std::mutex imageLock;

    unsigned int glName = 0;  // the GL texture, 0 until uploaded; render thread only

    // Images larger than this are refused from their header, before decoding.
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t(64) << 20;  // 256 MiB of RGBA

    // Decodes `path` (loose file or pack entry) on the calling thread; makes no
    // GL call. A file that cannot be read or decoded leaves the texture empty.
    void Load(const std::string& path);

    // The first half of a reload: from now on the texture binds as none, its
    // pixels are gone and its GL texture is due for release. Watcher thread.
    void BeginReload();
    // BeginReload, then Load of the stored path; watcher thread.
    void Reload();

};

}  // namespace caldera
