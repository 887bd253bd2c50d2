#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/FileTime.h"

namespace caldera {

class Texture;

// One GL program linked from a vertex-shader file and a fragment-shader file
// (loose or in the pack). It rebuilds itself only when one of the two files'
// times changed, and caches uniform locations between rebuilds. Render thread
// only, with the GL context current, except construction and destruction.
class ShaderProgram {
public:
    // Appends the program to allPrograms.
    ShaderProgram();
    // Leaves allPrograms; the GL program is not released (there may be no
    // context any more).
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    // Every live program in creation order, for the rebuild sweep.
    static inline std::vector<ShaderProgram*> allPrograms;

    std::string name;          // as messages name it ("lighting"); empty for a program made elsewhere
    unsigned int program = 0;  // the program in use; 0 when a source file could not be read
    std::string fragmentPath;
    std::string vertexPath;
    // Keyed by the address of the name, not its text: names must live as
    // long as the program (string literals), and a name built at run time in
    // a reused buffer must not be passed. Emptied on every rebuild.
    std::unordered_map<const char*, int> uniformCache;
    FileTime fragmentStamp = 0;  // file times at the last build; 0 for a missing file
    FileTime vertexStamp = 0;
    bool built = false;  // whether Build ran once, so the first build compiles whatever the times
    // Why the last build failed: a file that cannot be read, or the driver's
    // compile and link log with every line led by the file it is about
    // ("data/shaders/deferred.fs: 0:12(3): error: ..."). Empty after a build
    // that linked.
    std::string failure;

    // Called once for every build that fails, with the program and its
    // failure, on the render thread. Author mode prints it, democapture
    // stops on it; null (the plain player): the log alone shows it.
    using FailureHook = void (*)(const ShaderProgram& program);
    static inline FailureHook onFailure = nullptr;

    // Stores both paths and builds; returns `program`.
    unsigned int Load(const std::string& vertexPath, const std::string& fragmentPath);

    // Rebuilds when either file's time changed since the last build, and
    // returns `program`, which it updates. A program that fails to link is
    // dropped with its log printed, and the previous program stays in use; a
    // source that cannot be read makes `program` 0 until the files change.
    // The replaced GL program is released.
    unsigned int Build(const std::string& vertexPath, const std::string& fragmentPath);

    // Keeps `why` as the failure and tells the hook.
    void Failed(std::string why);

    // glGetUniformLocation, cached; -1 (cached too) for an unknown uniform.
    int UniformLocation(const char* name);

    // Makes unit `unit` active, points the sampler `name` at it and binds the
    // texture there (uploading it on first use; none for a null texture). The
    // program must be in use. Unit `unit` stays active.
    void SetTexture(const char* name, Texture* texture, int unit);
    // The same for a raw GL texture name.
    void SetTextureName(const char* name, unsigned int glTexture, int unit);
};

}  // namespace caldera
