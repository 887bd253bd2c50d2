#include "render/TextureBind.h"

#include "platform/Gl.h"

#include <mutex>

#include "resources/Texture.h"

namespace caldera {

void BindTexture(Texture& texture) {
    if (texture.loading.load(std::memory_order_acquire)) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    std::lock_guard lock(texture.imageLock);
    // A reload may have begun since the flag was read; its pixels are gone.
    if (texture.loading.load(std::memory_order_acquire)) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    if (!texture.uploaded) {
        texture.uploaded = true;
        GLuint replaced = texture.glName;
        texture.glName = 0;
        if (texture.pixels && texture.width > 0 && texture.height > 0 && texture.channels > 0) {
            GLuint name = 0;
            glGenTextures(1, &name);
            texture.glName = name;
            glBindTexture(GL_TEXTURE_2D, name);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, texture.width, texture.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         texture.pixels.get());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
        // Released after the new name is made, so a reloaded texture never
        // gets its old name back.
        if (replaced) glDeleteTextures(1, &replaced);
    }
    glBindTexture(GL_TEXTURE_2D, texture.glName);
}

}  // namespace caldera
