#include "render/ShaderProgram.h"

#include "platform/Gl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Log.h"
#include "resources/FileBuffer.h"
#include "resources/ResourceManager.h"
#include "render/ShaderDialect.h"
#include "render/TextureBind.h"
#include "resources/Texture.h"

namespace caldera {

namespace {

// Every non-empty line of `log`, led by `who` and ended by a newline.
std::string Attributed(const std::string& who, const char* log) {
    std::string out;
    for (const char* line = log; *line;) {
        const char* end = std::strchr(line, '\n');
        const size_t length = end ? static_cast<size_t>(end - line) : std::strlen(line);
        std::string text(line, length);
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
        if (!text.empty()) out += who + ": " + text + "\n";
        line += length + (end ? 1 : 0);
    }
    return out;
}

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

// Compiles one shader object from `source` and prints the driver's log.
// A failed compile shows in the link that follows; its log, each line led by
// `path`, is added to `failure`.
void Compile(GLuint shader, const std::string& source, const std::string& path, std::string& failure) {
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = 0, length = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::string log(static_cast<size_t>(length), '\0');
        glGetShaderInfoLog(shader, length, nullptr, log.data());
        std::printf("%s\n", log.c_str());
        std::fflush(stdout);
        if (status != GL_TRUE) failure += Attributed(path, log.c_str());
    } else if (status != GL_TRUE) {
        failure += path + ": does not compile (the driver gives no log)\n";
    }
}

// Points the samplers of `program` at the units their declarations name.
// The driver does so itself for desktop sources; the GLSL ES rewrite drops
// the qualifiers, and setting the same units here keeps one path.
void SetSamplerUnits(GLuint program, const std::vector<SamplerUnit>& units) {
    if (units.empty()) return;
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program);
    for (const SamplerUnit& unit : units) {
        const std::string name = kGlEs ? EsUniformName(unit.name.c_str()) : unit.name;
        glUniform1i(glGetUniformLocation(program, name.c_str()), unit.unit);
    }
    glUseProgram(static_cast<GLuint>(previous));
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
    failure.clear();
    if (!vertexSource || !fragmentSource) {
        const std::string& missing = vertexSource ? fragment : vertex;
        Log(0, "Error: can't load shader file: %s", missing.c_str());
        if (program) glDeleteProgram(program);
        program = 0;
        Failed(missing + ": cannot be read: the program draws nothing");
        return program;
    }

    std::vector<SamplerUnit> units = SamplerBindings(*vertexSource);
    for (SamplerUnit& unit : SamplerBindings(*fragmentSource)) units.push_back(std::move(unit));
    if (kGlEs) {
        // Authors write one desktop source; ES drivers get it rewritten, line
        // for line, so their messages still point at the author's file.
        vertexSource = ToGlslEs(*vertexSource, false);
        fragmentSource = ToGlslEs(*fragmentSource, true);
    }

    GLuint vertexShader = glCreateShader(GL_VERTEX_SHADER);
    GLuint fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);
    Log(3, " Compiling shader : %s", vertex.c_str());
    std::string compileLog;
    Compile(vertexShader, *vertexSource, vertex, compileLog);
    Log(3, " Compiling shader : %s\n", fragment.c_str());
    Compile(fragmentShader, *fragmentSource, fragment, compileLog);

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
        // A stage that did not compile is the reason; the link's own words
        // only repeat it.
        if (status != GL_TRUE && compileLog.empty()) compileLog = Attributed(vertex + " + " + fragment, log.c_str());
    }
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);

    // A source being edited often fails for a moment: the last program that
    // linked keeps drawing until the files change again.
    if (status != GL_TRUE) {
        glDeleteProgram(linked);
        if (compileLog.empty()) compileLog = vertex + " + " + fragment + ": does not link (the driver gives no log)\n";
        compileLog.pop_back();
        Failed(compileLog + (program ? "\n(the last program that built keeps drawing)" : ""));
        return program;
    }
    SetSamplerUnits(linked, units);
    if (program) glDeleteProgram(program);
    program = linked;
    return program;
}

void ShaderProgram::Failed(std::string why) {
    failure = std::move(why);
    if (onFailure) onFailure(*this);
}

int ShaderProgram::UniformLocation(const char* name) {
    auto [it, added] = uniformCache.try_emplace(name, -1);
    if (added) it->second = glGetUniformLocation(program, kGlEs ? EsUniformName(name) : name);
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
