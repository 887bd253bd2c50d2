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
    case TargetFormat::RGB16F: return {GL_RGB16F, GL_RGB, GL_FLOAT};
    case TargetFormat::RGBA16F: return {GL_RGBA16F, GL_RGBA, GL_FLOAT};
    case TargetFormat::RGB8: return {GL_RGB, GL_RGB, GL_UNSIGNED_BYTE};
    case TargetFormat::Depth24: break;
    }
    return {GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE};
}

}  // namespace

GLuint CreateTargetTexture(TargetFormat format, int width, int height) {
    const FormatTriple triple = Triple(format);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, triple.internalFormat, width, height, 0, triple.format, triple.type, nullptr);
    if (format == TargetFormat::Depth24) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
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
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, edge, edge, 0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
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
