#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "lint/LintContext.h"
#include "platform/QuitSignal.h"
#include "render/ProgramFiles.h"
#include "resources/FileBuffer.h"
#include "resources/ResourceManager.h"

namespace caldera {

// The renderer's programs, read the way ShaderProgram reads them and
// compiled by the reference compiler. Its findings name the file and line;
// the driver of the machine that plays may still differ in what it accepts.

namespace {

// One stage file, read once for every program that uses it.
struct StageFile {
    std::string shown;    // the path, or "data.pack(path)" for a pack entry
    std::string source;   // as the player hands it to the driver
    std::string problem;  // why it cannot be read; empty when read
    bool read = false;
};

// One finding of the compiler, and the programs it stops.
struct Finding {
    std::vector<std::string> programs;
};
using FindingKey = std::tuple<std::string, int, Severity, std::string>;  // file, line, severity, message

// Whitespace runs as one space, an empty token's "'' : " dropped.
std::string Tidy(std::string text) {
    std::string out;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.rfind("'' : ", 0) == 0) out.erase(0, 5);
    return out;
}

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) out += i + 1 == names.size() ? " and " : ", ";
        out += "'" + names[i] + "'";
    }
    return out;
}

std::string Stops(const std::vector<std::string>& programs) {
    return (programs.size() == 1 ? "program " : "programs ") + Listed(programs);
}

// The compiler's output for one program as findings: "ERROR: FILE:LINE: text"
// and "WARNING: FILE:LINE: text" by file and line; link errors ("ERROR:
// Linking ...", continued on indented lines) only when every stage compiled,
// as they then only repeat the compile errors, filed under the fragment
// stage's first line.
void ReadLog(const std::string& log, const std::vector<ShaderCompiler::Stage>& stages, const std::string& program,
             std::map<FindingKey, Finding>& findings) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < log.size();) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    auto add = [&](const std::string& file, int line, Severity severity, const std::string& text) {
        auto& programs = findings[{file, line, severity, text}].programs;
        if (programs.empty() || programs.back() != program) programs.push_back(program);
    };
    bool compileFailed = false;
    std::vector<std::string> linkErrors;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        Severity severity;
        size_t at;
        if (line.rfind("ERROR: ", 0) == 0) severity = Severity::error, at = 7;
        else if (line.rfind("WARNING: ", 0) == 0) severity = Severity::warning, at = 9;
        else continue;
        const std::string rest = line.substr(at);
        bool placed = false;
        for (const ShaderCompiler::Stage& stage : stages) {
            if (rest.compare(0, stage.file.size(), stage.file) != 0 || rest.size() <= stage.file.size() ||
                rest[stage.file.size()] != ':')
                continue;
            size_t digits = stage.file.size() + 1;
            int number = 0;
            while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])) && number < 1000000)
                number = number * 10 + (rest[digits++] - '0');
            if (digits == stage.file.size() + 1 || digits >= rest.size() || rest[digits] != ':') continue;
            const std::string text = Tidy(rest.substr(digits + 1));
            // The compiler's closing word after the errors it gave.
            if (text != "compilation terminated") add(stage.file, number, severity, text);
            if (severity == Severity::error) compileFailed = true;
            placed = true;
            break;
        }
        if (placed || severity != Severity::error || rest.rfind("Linking ", 0) != 0) continue;
        std::string text = rest;
        while (i + 1 < lines.size() && !lines[i + 1].empty() && std::isspace(static_cast<unsigned char>(lines[i + 1][0])))
            text += " " + lines[++i];
        linkErrors.push_back(Tidy(text));
    }
    if (compileFailed || stages.size() < 2) return;
    for (const std::string& text : linkErrors)
        add(stages.back().file, 1, Severity::error,
            "does not link with " + stages.front().file + ": " + text);
}

}  // namespace

std::string CheckShaderPrograms(const std::string& root, ShaderCompiler& compiler, std::vector<Diagnostic>& out) {
    std::map<std::string, StageFile> files;  // by path
    auto stageFile = [&](const char* name) -> StageFile& {
        const std::string path = std::string(kShadersFolder) + name;
        StageFile& file = files[path];
        if (file.read || !file.problem.empty() || !file.shown.empty()) return file;
        LoadCheck check;
        std::unique_ptr<FileBuffer> buffer = LoadFileIn(root, path, check);
        file.shown = buffer && buffer->fromPack ? std::string(ResourceManager::packName) + "(" + path + ")" : path;
        if (!buffer) {
            file.problem = check.problem.empty() ? "cannot be read" : "cannot be read (" + check.problem + ")";
            return file;
        }
        // The text ends at its first zero byte, and its last line in a newline.
        const char* text = buffer->data.data();
        file.source = std::string(text, std::find(text, text + buffer->size, '\0'));
        if (!file.source.empty() && file.source.back() != '\n') file.source += '\n';
        file.read = true;
        return file;
    };

    std::map<std::string, std::vector<std::string>> missing;  // shown name -> programs
    std::map<FindingKey, Finding> findings;
    std::string unavailable;
    for (const ProgramFiles& program : kProgramFiles) {
        if (QuitSignalled()) break;
        StageFile& vertex = stageFile(program.vertex);
        StageFile& fragment = stageFile(program.fragment);
        if (!vertex.read || !fragment.read) {
            // The player reads the vertex stage first and stops at the first missing file.
            StageFile& absent = vertex.read ? fragment : vertex;
            missing[absent.shown + "\n" + absent.problem].push_back(program.name);
            continue;
        }
        if (!unavailable.empty()) continue;
        ShaderCompiler::Result result =
            compiler.CompileAndLink({{vertex.shown, false, vertex.source}, {fragment.shown, true, fragment.source}});
        if (result.outcome == ShaderCompiler::Outcome::stopped) break;
        if (result.outcome == ShaderCompiler::Outcome::unavailable) {
            unavailable = result.log.empty() ? "no compiler" : result.log;
            continue;
        }
        ReadLog(result.log, {{vertex.shown, false, {}}, {fragment.shown, true, {}}}, program.name, findings);
    }
    for (const auto& [key, programs] : missing) {
        const size_t split = key.find('\n');
        Reporter(out, key.substr(0, split))
            .Error(1, key.substr(split + 1) + ": shader " + Stops(programs) + " draw" +
                          (programs.size() == 1 ? "s" : "") + " nothing");
    }
    for (const auto& [key, finding] : findings) {
        const auto& [file, line, severity, text] = key;
        Reporter report(out, file);
        if (severity == Severity::error)
            report.Error(line, text + " (shader " + Stops(finding.programs) + " do" +
                                   (finding.programs.size() == 1 ? "es" : "") + " not build)");
        else
            report.Warning(line, text);
    }
    return unavailable;
}

}  // namespace caldera
