#pragma once

namespace caldera {

class Texture;

// Binds `texture` to GL_TEXTURE_2D of the active unit, uploading its pixels
// first when a new image waits; binds none while it decodes or when it is
// empty. The texture's pixels stay with it (resources/ decodes them without
// GL); its GL name lives in Texture::glName. Render thread.
void BindTexture(Texture& texture);

}  // namespace caldera
