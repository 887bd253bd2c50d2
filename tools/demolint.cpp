// demolint [--werror] [DIR]: checks the production in DIR (default: the
// current folder) without playing it, and prints one line per finding, as
// compilers do: FILE:LINE: error|warning: message. Nothing is written to the
// production.
//
// Names of files and pack entries are printed with control bytes escaped
// (\xNN): a production can come from anyone.
//
// Exit status: 0 without errors, 1 with errors (or warnings under --werror),
// 2 when DIR is not a production or the command line is wrong.

#include <cstdio>
#include <string>
#include <vector>

#include "lint/ProductionLint.h"
#include "platform/File.h"
#include "platform/Printable.h"
#include "platform/Version.h"

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

    LintReport report = LintProduction(haveFolder ? folder : ".");
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
    const int errors = report.Count(Severity::error);
    const int warnings = report.Count(Severity::warning);
    if (errors || warnings)
        std::fprintf(stderr, "demolint: %d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                     warnings == 1 ? "" : "s");
    return errors > 0 || (werror && warnings > 0) ? 1 : 0;
}
