#pragma once

#include <string>
#include <vector>

#include "lint/Diagnostic.h"
#include "lint/ShaderCompiler.h"

namespace caldera {

// The content checker: reads a production folder the way the player does
// (loose files first, else data.pack), with the player's own loaders and
// bounds, and reports what the player would silently get wrong: names that
// resolve to nothing, capital letters in hashed names, text where a number
// belongs, elements and attributes the player does not know, base values
// mixed with key frames, objects without Scale or Color and cameras without
// FOV, gaps, hidden entries and entries past the music in the running order,
// OBJ faces dropped or fanned wrong, textures that do not decode, and pack
// entries the player cannot reach, and shaders that do not build. No window,
// no GL; nothing is written.
// Any thread; it keeps no state between calls and logs nothing.

struct LintOptions {
    // When not empty, only findings in these files (relative paths such as
    // "data/scenes/room.xml") are reported, and only these models and
    // textures are decoded; names are still looked up in the whole
    // production. The player's author mode checks what it reloads this way.
    std::vector<std::string> onlyFiles;
    // Whether to measure music.mp3 for the running-order checks.
    bool measureMusic = true;
    // When set, every shader program the renderer builds is read as the
    // player reads it (a file that is not there is named), and compiled and
    // linked with this compiler. Null: shaders are not looked at.
    ShaderCompiler* shaderCompiler = nullptr;
};

struct LintReport {
    // False when the folder is not a production (no data/ folder and no
    // data.pack); nothing else was checked then.
    bool isProduction = false;
    std::vector<Diagnostic> diagnostics;  // by file, then line
    // Why the shaders were read but not compiled (no compiler); empty when
    // they were compiled or not asked for.
    std::string shadersNotCompiled;

    int Count(Severity severity) const;
};

LintReport LintProduction(const std::string& folder, const LintOptions& options = {});

}  // namespace caldera
