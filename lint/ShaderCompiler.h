#pragma once

#include <string>
#include <vector>

namespace caldera {

// Compiles and links one shader program's stages with a GLSL compiler that
// runs outside this process. The checker reads the sources as the player
// does and reads the compiler's findings; running the compiler is the
// caller's (demolint runs the reference compiler as a child process).
class ShaderCompiler {
public:
    struct Stage {
        std::string file;  // as findings name it ("data/shaders/deferred.fs")
        bool fragment = false;
        std::string source;
    };
    enum class Outcome {
        ran,          // `log` holds the compiler's output, naming each stage by its `file`
        unavailable,  // no compiler: `log` says why; nothing more is asked of it
        stopped,      // a quit signal came
    };
    struct Result {
        Outcome outcome = Outcome::unavailable;
        std::string log;
    };

    virtual ~ShaderCompiler() = default;
    virtual Result CompileAndLink(const std::vector<Stage>& stages) = 0;
};

}  // namespace caldera
