#include "render/ShaderProgram.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/Log.h"
#include "resources/FileBuffer.h"
#include "resources/ResourceManager.h"
#include "render/TextureBind.h"
#include "resources/Texture.h"

namespace caldera {

namespace {

// The source as lines, each ended by '\n' (a '\r' before it stays), so that a
// last line without a newline still ends in one. The text ends at its first
// zero byte.
std::optional<std::string> ReadSource(const std::string& path) {
    auto buffer = LoadFile(path);
    if (!buffer) return std::nullopt;
    std::string source(buffer->data.data());
    if (!source.empty() && source.back() != '\n') source += '\n';
    return source;
}

// Compiles one shader object from `source` and prints the driver's log. A
// failed compile shows in the link that follows.
void Compile(GLuint shader, const std::string& source) {
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::string log(static_cast<size_t>(length), '\0');
        glGetShaderInfoLog(shader, length, nullptr, log.data());
        std::printf("%s\n", log.c_str());
        std::fflush(stdout);
    }
}

}  // namespace

ShaderProgram::ShaderProgram() { allPrograms.push_back(this); }

ShaderProgram::~ShaderProgram() { std::erase(allPrograms, this); }

unsigned int ShaderProgram::Load(const std::string& vertex, const std::string& fragment) {
    vertexPath = vertex;
    fragmentPath = fragment;
    return Build(vertexPath, fragmentPath);
}

unsigned int ShaderProgram::Build(const std::string& vertex, const std::string& fragment) {
    ResourceManager& manager = ResourceManager::Instance();
    // A file that has no time counts as time 0; its build fails on reading it,
    // and is tried again once the file appears.
    const FileTime vertexTime = manager.GetFileStamp(vertex).value_or(0);
    const FileTime fragmentTime = manager.GetFileStamp(fragment).value_or(0);
    if (built && vertexTime == vertexStamp && fragmentTime == fragmentStamp) return program;

    built = true;
    uniformCache.clear();
    vertexStamp = vertexTime;
    fragmentStamp = fragmentTime;

    // Both sources are read before any GL object is made, so a missing file
    // leaks nothing.
    std::optional<std::string> vertexSource = ReadSource(vertex);
    std::optional<std::string> fragmentSource = vertexSource ? ReadSource(fragment) : std::nullopt;
    if (!vertexSource || !fragmentSource) {
        Log(0, "Error: can't load shader file: %s", (vertexSource ? fragment : vertex).c_str());
        if (program) glDeleteProgram(program);
        program = 0;
        return program;
    }

    GLuint vertexShader = glCreateShader(GL_VERTEX_SHADER);
    GLuint fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);
    Log(3, " Compiling shader : %s", vertex.c_str());
    Compile(vertexShader, *vertexSource);
    Log(3, " Compiling shader : %s\n", fragment.c_str());
    Compile(fragmentShader, *fragmentSource);

    std::printf("Linking program\n");
    std::fflush(stdout);
    GLuint linked = glCreateProgram();
    glAttachShader(linked, vertexShader);
    glAttachShader(linked, fragmentShader);
    glLinkProgram(linked);
    GLint status = 0, length = 0;
    glGetProgramiv(linked, GL_LINK_STATUS, &status);
    glGetProgramiv(linked, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
        glGetProgramInfoLog(linked, length, nullptr, log.data());
        std::printf("Failed to link %s with %s, error: %s\n", vertex.c_str(), fragment.c_str(), log.c_str());
        std::fflush(stdout);
    }
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);

    // A source being edited often fails for a moment: the last program that
    // linked keeps drawing until the files change again.
    if (status != GL_TRUE) {
        glDeleteProgram(linked);
        return program;
    }
    if (program) glDeleteProgram(program);
    program = linked;
    return program;
}

int ShaderProgram::UniformLocation(const char* name) {
    auto [it, added] = uniformCache.try_emplace(name, -1);
    if (added) it->second = glGetUniformLocation(program, name);
    return it->second;
}

void ShaderProgram::SetTexture(const char* name, Texture* texture, int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glUniform1i(UniformLocation(name), unit);
    if (texture) BindTexture(*texture);
    else glBindTexture(GL_TEXTURE_2D, 0);
}

void ShaderProgram::SetTextureName(const char* name, unsigned int glTexture, int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glUniform1i(UniformLocation(name), unit);
    glBindTexture(GL_TEXTURE_2D, glTexture);
}

}  // namespace caldera
