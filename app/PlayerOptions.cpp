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
                 "usage: %s [--start SECONDS | --shot N] [--loop | --loop-range A B] [--author]\n"
                 "       [--size WxH] [--windowed] [--verbose] [--help] [--version]\n"
                 "Plays the production in the current folder from start to end; Escape ends it.\n"
                 "Author options (author mode):\n"
                 "  --start SECONDS   start at this music time\n"
                 "  --shot N          start at the N-th entry of the running order (1: the first)\n"
                 "  --loop            repeat the shot being shown\n"
                 "  --loop-range A B  repeat music time A to B seconds (starts at A without --start)\n"
                 "  --author          author mode from the start of the music\n"
                 "  In author mode Space pauses and resumes, Left/Right seek 5 s (with Shift 1 s),\n"
                 "  Up/Down jump to the previous/next shot, Comma/Period step one key frame back/on\n"
                 "  (pausing first), I and O set the loop's in and out points at the music time, L\n"
                 "  clears them, F5 reloads every file and shader now, Tab shows the overlay, F takes\n"
                 "  a free camera (left button held: look; W/A/S/D/Q/E: move; Shift: faster; wheel:\n"
                 "  speed) and P prints the view as camera keys to paste; the window title shows the\n"
                 "  music time, the shot, the key frame, the frame rate and the loop, and the content\n"
                 "  checks of demolint run on every file saved.\n"
                 "Preview options:\n"
                 "  --size WxH        open the window and draw the picture at W x H pixels (16 to 16384)\n"
                 "  --windowed        a normal window instead of a maximised one\n"
                 "Other options:\n"
                 "  --verbose         also print the error-level messages of the log\n"
                 "  --help            print this help\n"
                 "  --version         print the version\n",
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

// One side of WxH: digits only, 16 to 16384.
bool ParseSide(const std::string& text, int& out) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::atoi(text.c_str());
    return out >= 16 && out <= 16384;
}

bool ParseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find_first_of("xX");
    return x != std::string::npos && ParseSide(text.substr(0, x), width) && ParseSide(text.substr(x + 1), height);
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
        } else if (arg == "--loop-range") {
            double in = 0, out = 0;
            if (i + 2 >= args.size() || !ParseNumber(args[i + 1], in) || !ParseNumber(args[i + 2], out) || in < 0 ||
                out <= in)
                return Fail(program, "--loop-range needs two times in seconds, A and B, with 0 <= A < B");
            i += 2;
            options.loopIn = in;
            options.loopOut = out;
            options.author = true;
        } else if (arg == "--size") {
            if (!hasValue || !ParseSize(args[++i], options.width, options.height))
                return Fail(program, "--size needs WIDTHxHEIGHT, each 16 to 16384 pixels (as 640x360)");
            options.windowed = true;
        } else if (arg == "--windowed") {
            options.windowed = true;
        } else if (arg == "--author") {
            options.author = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            return Fail(program, "unknown option '" + arg + "'");
        }
    }
    if (options.start >= 0 && options.shot > 0) return Fail(program, "--start and --shot cannot go together");
    // A range loop and a shot loop would fight over the music position.
    if (options.loopOut > 0 && (options.loop || options.shot > 0))
        return Fail(program, "--loop-range cannot go with --loop or --shot");
    return -1;
}

}  // namespace caldera
