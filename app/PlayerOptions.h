#pragma once

#include <string>
#include <vector>

namespace caldera {

// The player's command line. Without options every player plays the production
// from start to end and nothing else; the options are opt-in help for authors.
struct PlayerOptions {
    bool author = false;   // author mode: any of --start, --shot, --loop, --author
    double start = -1;     // --start SECONDS; negative: from the beginning
    int shot = 0;          // --shot N, 1-based in running-order file order; 0: none
    bool loop = false;     // --loop: repeat the shot being shown
    bool verbose = false;  // --verbose: write the error-level log messages too
};

// Parses the arguments after the program name. Returns -1 to go on playing,
// otherwise the exit status to end with: 0 after --help (usage on standard
// output) or --version, 2 for an unknown option or a bad value (message and usage on
// standard error).
int ParsePlayerArguments(const std::string& program, const std::vector<std::string>& args, PlayerOptions& options);

}  // namespace caldera
