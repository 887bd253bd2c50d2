#include "render/Overlay.h"

#include "platform/Gl.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Log.h"
#include "render/ShaderDialect.h"

// The font's functions are all static; this file is their one user.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_easy_font.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace caldera {

namespace {

constexpr const char* kVertexSource = R"(#version 330 core
layout(location = 0) in vec2 corner;
layout(location = 1) in vec4 tint;
uniform vec2 pixels;
out vec4 colour;
void main() {
    // Pixels from the top left to clip space.
    gl_Position = vec4(corner.x / pixels.x * 2.0 - 1.0, 1.0 - corner.y / pixels.y * 2.0, 0.0, 1.0);
    colour = tint;
}
)";

constexpr const char* kFragmentSource = R"(#version 330 core
in vec4 colour;
out vec4 fragment;
void main() { fragment = colour; }
)";

constexpr int kFloatsPerVertex = 6;  // x, y, r, g, b, a
constexpr int kFontVertexBytes = 16; // the font's x, y, z and four colour bytes
constexpr size_t kMaxCharacters = 160;  // per line; longer lines are cut

GLuint Compile(GLenum stage, const char* desktopSource) {
    const std::string source = kGlEs ? ToGlslEs(desktopSource, stage == GL_FRAGMENT_SHADER) : desktopSource;
    const char* text = source.c_str();
    GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

void AddQuad(std::vector<float>& out, float x0, float y0, float x1, float y1, const float (&rgba)[4]) {
    const float corners[6][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y0}, {x1, y1}, {x0, y1}};
    for (const auto& corner : corners) {
        out.insert(out.end(), {corner[0], corner[1], rgba[0], rgba[1], rgba[2], rgba[3]});
    }
}

}  // namespace

Overlay::~Overlay() = default;  // GL objects go with the context, or in Release

bool Overlay::Prepare() {
    if (program) return true;
    if (failed) return false;
    GLuint vertex = Compile(GL_VERTEX_SHADER, kVertexSource);
    GLuint fragment = Compile(GL_FRAGMENT_SHADER, kFragmentSource);
    if (vertex && fragment) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        GLint ok = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (ok != GL_TRUE) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vertex) glDeleteShader(vertex);
    if (fragment) glDeleteShader(fragment);
    if (!program) {
        failed = true;
        Log(3, "Author mode: the overlay's program did not build; the overlay stays off");
        return false;
    }
    pixelsLocation = glGetUniformLocation(program, "pixels");
    glGenVertexArrays(1, &vertexArray);
    glGenBuffers(1, &vertexBuffer);
    GLint previousArray = 0, previousBuffer = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &previousArray);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previousBuffer);
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kFloatsPerVertex * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, kFloatsPerVertex * sizeof(float),
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glBindVertexArray(static_cast<GLuint>(previousArray));
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previousBuffer));
    return true;
}

void Overlay::Draw(const std::vector<std::string>& lines, int width, int height) {
    if (lines.empty() || width <= 0 || height <= 0 || !Prepare()) return;

    // Twice the font's size where there is room for it.
    const float scale = height >= 480 ? 2.0f : 1.0f;
    const float lineHeight = 12.0f;
    const float margin = 4.0f;
    triangles.clear();
    float widest = 0;
    char text[kMaxCharacters + 1];
    for (const std::string& line : lines) {
        const size_t n = std::min(line.size(), kMaxCharacters);
        std::memcpy(text, line.data(), n);
        text[n] = '\0';
        widest = std::max(widest, static_cast<float>(stb_easy_font_width(text)));
    }
    const float band[4] = {0.0f, 0.0f, 0.0f, 0.6f};
    AddQuad(triangles, 0, 0, (widest + 2 * margin) * scale, (lines.size() * lineHeight + 2 * margin) * scale, band);

    const float ink[4] = {1.0f, 1.0f, 0.85f, 1.0f};
    float y = margin;
    for (const std::string& line : lines) {
        const size_t n = std::min(line.size(), kMaxCharacters);
        std::memcpy(text, line.data(), n);
        text[n] = '\0';
        // About 270 bytes a character, as the font's notes say; the buffer
        // keeps its size between frames.
        quads.resize(std::max<size_t>(quads.size(), (n + 1) * 300));
        const int count = stb_easy_font_print(margin, y, text, nullptr, quads.data(), static_cast<int>(quads.size()));
        for (int q = 0; q < count; ++q) {
            float corner[4][2];
            for (int v = 0; v < 4; ++v) std::memcpy(corner[v], quads.data() + (q * 4 + v) * kFontVertexBytes, 8);
            AddQuad(triangles, corner[0][0] * scale, corner[0][1] * scale, corner[2][0] * scale, corner[2][1] * scale,
                    ink);
        }
        y += lineHeight;
    }

    // What the frame's passes expect to find, saved and put back.
    GLint previousProgram = 0, previousArray = 0, previousBuffer = 0, previousFramebuffer = 0;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_CURRENT_PROGRAM, &previousProgram);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &previousArray);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previousBuffer);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    const GLboolean blend = glIsEnabled(GL_BLEND);
    const GLboolean cull = glIsEnabled(GL_CULL_FACE);
    GLint sourceBlend = GL_ONE, destinationBlend = GL_ZERO;
    glGetIntegerv(GL_BLEND_SRC_RGB, &sourceBlend);
    glGetIntegerv(GL_BLEND_DST_RGB, &destinationBlend);

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glViewport(0, 0, width, height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(program);
    glUniform2f(pixelsLocation, static_cast<float>(width), static_cast<float>(height));
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(triangles.size() * sizeof(float)), triangles.data(),
                 GL_STREAM_DRAW);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangles.size() / kFloatsPerVertex));

    glBindVertexArray(static_cast<GLuint>(previousArray));
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previousBuffer));
    glUseProgram(static_cast<GLuint>(previousProgram));
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glBlendFunc(static_cast<GLenum>(sourceBlend), static_cast<GLenum>(destinationBlend));
    if (!blend) glDisable(GL_BLEND);
    if (depthTest) glEnable(GL_DEPTH_TEST);
    if (cull) glEnable(GL_CULL_FACE);
}

void Overlay::Release() {
    if (program) glDeleteProgram(program);
    if (vertexBuffer) glDeleteBuffers(1, &vertexBuffer);
    if (vertexArray) glDeleteVertexArrays(1, &vertexArray);
    program = vertexBuffer = vertexArray = 0;
}

}  // namespace caldera
