#pragma once

namespace caldera {

class ShaderProgram;
class Texture;

// Binds the frame's shadow-mask texture under "ShadowMaskTexture" on `unit`
// of `program`, which must be in use. White stands in whenever there is no
// mask to read (the switch off, no name, a name not registered: a null
// `mask`; an image still decoding): the shaders multiply the light by the
// mask, and a unit left as an earlier pass bound it would mask with
// unrelated content.
void BindShadowMask(ShaderProgram& program, Texture* mask, int unit);

}  // namespace caldera
