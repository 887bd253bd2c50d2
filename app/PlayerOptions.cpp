#include "app/PlayerOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/Version.h"

namespace caldera {

namespace {

void Usage(std::FILE* to, const std::string& program) {
    std::fprintf(to,
                 "usage: %s [--start SECONDS | --shot N] [--loop] [--author] [--verbose] [--help] [--version]\n"
                 "Plays the production in the current folder from start to end; Escape ends it.\n"
                 "Author options (author mode):\n"
                 "  --start SECONDS  start at this music time\n"
                 "  --shot N         start at the N-th entry of the running order (1: the first)\n"
                 "  --loop           repeat the shot being shown\n"
                 "  --author         author mode from the start of the music\n"
                 "  In author mode Space pauses and resumes, Left/Right seek 5 s, Up/Down jump to the\n"
                 "  previous/next shot, the window title shows the music time, the shot, the key frame\n"
                 "  and the frame rate, and the content checks of demolint run on every file saved.\n"
                 "Other options:\n"
                 "  --verbose        also print the error-level messages of the log\n"
                 "  --help           print this help\n"
                 "  --version        print the version\n",
                 program.c_str());
}

int Fail(const std::string& program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
    Usage(stderr, program);
    return 2;
}

bool ParseNumber(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(out);
}

}  // namespace

int ParsePlayerArguments(const std::string& program, const std::vector<std::string>& args, PlayerOptions& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            Usage(stdout, program);
            return 0;
        } else if (arg == "--version") {
            std::printf("%s %s\n", program.c_str(), DEMO_VERSION);
            return 0;
        } else if (arg == "--start") {
            double seconds = 0;
            if (!hasValue || !ParseNumber(args[++i], seconds) || seconds < 0)
                return Fail(program, "--start needs a number of seconds, 0 or more");
            options.start = seconds;
            options.author = true;
        } else if (arg == "--shot") {
            double n = 0;
            if (!hasValue || !ParseNumber(args[++i], n) || n < 1 || n != std::floor(n) || n > 1e6)
                return Fail(program, "--shot needs a shot number, 1 or more");
            options.shot = static_cast<int>(n);
            options.author = true;
        } else if (arg == "--loop") {
            options.loop = true;
            options.author = true;
        } else if (arg == "--author") {
            options.author = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            return Fail(program, "unknown option '" + arg + "'");
        }
    }
    if (options.start >= 0 && options.shot > 0) return Fail(program, "--start and --shot cannot go together");
    return -1;
}

}  // namespace caldera
