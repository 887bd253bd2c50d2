#include "render/ShadowMask.h"

#include "platform/Gl.h"

#include "render/Renderer.h"
#include "render/ShaderProgram.h"
#include "resources/Texture.h"

namespace caldera {

void BindShadowMask(ShaderProgram& program, Texture* mask, int unit) {
    if (mask) {
        program.SetTexture("ShadowMaskTexture", mask, unit);
        if (mask->glName != 0 && !mask->loading.load(std::memory_order_acquire)) return;
    }
    program.SetTextureName("ShadowMaskTexture", Renderer::Instance().whiteTex, unit);
}

}  // namespace caldera
