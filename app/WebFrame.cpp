#include "app/WebFrame.h"

#include <GLES3/gl3.h>

#include <cstdint>

#include "playback/PreparedFrame.h"
#include "resources/NameHash.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

void Clear(int width, int height, float r, float g, float b) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, width, height);
    glClearColor(r, g, b, 1.0f);
    glClearDepthf(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

}  // namespace

void DrawPreparedFrame(const PreparedFrame& frame, int width, int height) {
    if (!frame.currentScene) {
        ClearUncoveredFrame(width, height);
        return;
    }
    const uint32_t hash = NameHash(frame.currentScene->name);
    // Bright enough to tell from the black of an uncovered moment.
    auto channel = [&](int shift) { return 0.25f + 0.75f * static_cast<float>((hash >> shift) & 0xFF) / 255.0f; };
    Clear(width, height, channel(0), channel(8), channel(16));
}

void ClearUncoveredFrame(int width, int height) { Clear(width, height, 0, 0, 0); }

}  // namespace caldera
