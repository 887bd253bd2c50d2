#pragma once

#include <string>
#include <vector>

namespace caldera {

// The player's command line. Without options every player plays the production
// from start to end and nothing else; the options are opt-in help for authors.
struct PlayerOptions {
    bool author = false;   // author mode: any of --start, --shot, --loop, --loop-range, --author
    double start = -1;     // --start SECONDS; negative: from the beginning
    int shot = 0;          // --shot N, 1-based in running-order file order; 0: none
    bool loop = false;     // --loop: repeat the shot being shown
    // --loop-range A B: repeat music time A to B (0 <= A < B); both negative: none
    double loopIn = -1;
    double loopOut = -1;
    // --size WxH: the window's (and the picture's) size; 0: the player's own.
    // Not an author option: a smaller preview suits any audience.
    int width = 0;
    int height = 0;
    bool windowed = false;  // --windowed (or --size): never maximised
    bool verbose = false;   // --verbose: write the error-level log messages too
};

// Parses the arguments after the program name. Returns -1 to go on playing,
// otherwise the exit status to end with: 0 after --help (usage on standard
// output) or --version, 2 for an unknown option or a bad value (message and usage on
// standard error).
int ParsePlayerArguments(const std::string& program, const std::vector<std::string>& args, PlayerOptions& options);

}  // namespace caldera
