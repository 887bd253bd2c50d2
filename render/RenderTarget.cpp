#include "render/RenderTarget.h"

#include "platform/Log.h"

namespace caldera {

namespace {

struct FormatTriple {
    GLint internalFormat;
    GLenum format;
    GLenum type;
};

FormatTriple Triple(TargetFormat format) {
    switch (format) {
    // OpenGL ES renders to no three-channel float format: the fourth channel
    // is there and unused.
    case TargetFormat::RGB16F: return kGlEs ? FormatTriple{GL_RGBA16F, GL_RGBA, GL_FLOAT} : FormatTriple{GL_RGB16F, GL_RGB, GL_FLOAT};
    case TargetFormat::RGBA16F: return {GL_RGBA16F, GL_RGBA, GL_FLOAT};
    case TargetFormat::RGB8: return {GL_RGB, GL_RGB, GL_UNSIGNED_BYTE};
    case TargetFormat::Depth24: break;
    }
    // OpenGL ES takes 24-bit depth as unsigned ints only.
    return {GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT};
}

}  // namespace

GLuint CreateTargetTexture(TargetFormat format, int width, int height) {
    const FormatTriple triple = Triple(format);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, triple.internalFormat, width, height, 0, triple.format, triple.type, nullptr);
    if (format == TargetFormat::Depth24) {
        // OpenGL ES filters no depth texture that is read without a
        // comparison: sampled through a linear filter it reads as incomplete.
        const GLint filter = kGlEs ? GL_NEAREST : GL_LINEAR;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

GLuint CreateShadowDepthTexture(int edge) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, edge, edge, 0, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC, GL_LEQUAL);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE);
    return texture;
}

bool CheckTarget(int count, const GLenum* buffers, const char* message) {
    glDrawBuffers(count, buffers);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) return true;
    Log(0, " Error: glCheckFramebufferStatus / %s", message);
    return false;
}

}  // namespace caldera
