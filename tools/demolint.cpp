// demolint [--werror] [DIR]: checks the production in DIR (default: the
// current folder) without playing it, and prints one line per finding, as
// compilers do: FILE:LINE: error|warning: message. Nothing is written to the
// production. Shaders are compiled by glslangValidator when it is installed.
//
// Names of files and pack entries are printed with control bytes escaped
// (\xNN): a production can come from anyone.
//
// Exit status: 0 without errors, 1 with errors (or warnings under --werror),
// 2 when DIR is not a production or the command line is wrong.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "lint/ProductionLint.h"
#include "platform/File.h"
#include "platform/Printable.h"
#include "platform/QuitSignal.h"
#include "platform/Version.h"
#include "tools/ChildProcess.h"

using namespace caldera;

namespace {

const char* const kUsage =
    "usage: demolint [--werror] [DIR]\n"
    "Checks the production in DIR (default: the current folder) the way the player reads it\n"
    "and prints one line per finding: FILE:LINE: error|warning: message.\n"
    "  --werror   treat warnings as errors\n"
    "  --help     print this help\n"
    "  --version  print the version\n"
    "Exit status: 0 no errors, 1 errors found, 2 DIR is not a production or bad usage.\n";

namespace fs = std::filesystem;

// The reference GLSL compiler (Debian: glslang-tools), run as a child
// process on copies of the stages in a private temporary folder: it tells
// the stage by the file's ending (.vert, .frag), and the production's files
// may be pack entries. The folder goes when the check ends, a quit signal
// included; its names in the compiler's output are put back to the
// production's.
class Glslang : public ShaderCompiler {
public:
    ~Glslang() override {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }

    Result CompileAndLink(const std::vector<Stage>& stages) override {
        std::string error;
        if (folder.empty() && !MakeFolder(error)) return {Outcome::unavailable, error};
        std::vector<std::string> args{kProgram, "-d", "-l"};
        std::vector<fs::path> paths;
        for (size_t i = 0; i < stages.size(); ++i) {
            paths.push_back(folder / (std::to_string(i) + (stages[i].fragment ? ".frag" : ".vert")));
            if (!WriteWholeFile(paths.back(), stages[i].source, error))
                return {Outcome::unavailable, "cannot write a copy to compile: " + error};
            args.push_back(PathToUtf8(paths.back()));
        }
        ChildProcess child;
        if (!child.Start(args, false, true, true, error)) return {Outcome::unavailable, error};
        const bool waited = child.Wait(std::chrono::seconds(60), error);
        for (const fs::path& path : paths) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
        if (QuitSignalled()) return {Outcome::stopped, {}};
        if (!waited) return {Outcome::unavailable, std::string(kProgram) + ": " + error};
        std::string log = child.Output();
        for (size_t i = 0; i < stages.size(); ++i) {
            const std::string copy = args[3 + i];
            for (size_t at = 0; (at = log.find(copy, at)) != std::string::npos; at += stages[i].file.size())
                log.replace(at, copy.size(), stages[i].file);
        }
        return {Outcome::ran, log};
    }

private:
    static constexpr const char* kProgram = "glslangValidator";

    bool MakeFolder(std::string& error) {
        std::error_code code;
        const fs::path temp = fs::temp_directory_path(code);
        if (code) {
            error = "no temporary folder: " + code.message();
            return false;
        }
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = temp / ("demolint-" + std::to_string(entropy()));
            if (fs::create_directory(candidate, code)) {
                folder = candidate;
                return true;
            }
        }
        error = "cannot make a temporary folder in " + PathToUtf8(temp) + (code ? ": " + code.message() : "");
        return false;
    }

    static bool WriteWholeFile(const fs::path& path, const std::string& text, std::string& error) {
        std::FILE* file = OpenFile(PathToUtf8(path), "wb");
        if (!file) {
            error = "cannot open " + PathToUtf8(path);
            return false;
        }
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written) {
            error = "cannot write " + PathToUtf8(path);
            return false;
        }
        return true;
    }

    fs::path folder;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    bool werror = false;
    std::string folder;
    bool haveFolder = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("demolint %s\n", DEMO_VERSION);
            return 0;
        }
        if (arg == "--werror") {
            werror = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "demolint: unknown option '%s'\n%s", Printable(arg).c_str(), kUsage);
            return 2;
        } else if (!haveFolder) {
            folder = arg;
            haveFolder = true;
        } else {
            std::fprintf(stderr, "demolint: one folder only\n%s", kUsage);
            return 2;
        }
    }

    // A signal must not leave the compiler's copies behind: it is a request
    // the checks see, and they stop at once.
    CatchQuitSignals();
    Glslang glslang;
    LintOptions options;
    options.shaderCompiler = &glslang;
    LintReport report = LintProduction(haveFolder ? folder : ".", options);
    if (QuitSignalled()) {
        std::fprintf(stderr, "demolint: stopped by %s\n", QuitSignalName(QuitSignalNumber()));
        return 128 + QuitSignalNumber();
    }
    if (!report.isProduction) {
        std::fprintf(stderr, "demolint: %s is not a production (no data/ folder and no data.pack)\n",
                     haveFolder ? Printable(folder).c_str() : "the current folder");
        return 2;
    }
    // Paths as the user can open them from where demolint was started.
    std::string prefix = haveFolder ? folder : "";
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
    if (prefix == "./") prefix.clear();
    for (const Diagnostic& d : report.diagnostics) std::printf("%s\n", d.Format(prefix).c_str());
    if (!report.shadersNotCompiled.empty())
        std::fprintf(stderr, "demolint: note: shaders were not compiled (%s); Debian: apt-get install glslang-tools\n",
                     Printable(report.shadersNotCompiled).c_str());
    const int errors = report.Count(Severity::error);
    const int warnings = report.Count(Severity::warning);
    if (errors || warnings)
        std::fprintf(stderr, "demolint: %d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                     warnings == 1 ? "" : "s");
    return errors > 0 || (werror && warnings > 0) ? 1 : 0;
}
