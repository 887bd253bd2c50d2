#include "app/Player.h"

#include <string>
#include <vector>

#include "app/PlayerOptions.h"
#include "platform/Console.h"
#include "platform/File.h"

using namespace caldera;

// The three players differ only in these constants.
#ifndef DEMO_WINDOW_WIDTH
#define DEMO_WINDOW_WIDTH 1280
#define DEMO_WINDOW_HEIGHT 720
#define DEMO_WINDOW_MAXIMISED 0
#endif
#ifndef DEMO_PROGRAM_NAME
#define DEMO_PROGRAM_NAME "demoplayer"
#endif

int main(int argc, char** argv) {
    UseParentConsole();
    // Without options the player plays as it always has; the options are for authors.
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    PlayerOptions options;
    if (!args.empty()) args.erase(args.begin());
    int status = ParsePlayerArguments(DEMO_PROGRAM_NAME, args, options);
    if (status >= 0) return status;

    WindowConfig config;
    config.width = DEMO_WINDOW_WIDTH;
    config.height = DEMO_WINDOW_HEIGHT;
    config.maximised = DEMO_WINDOW_MAXIMISED != 0;
    // A preview: the asked size, in a window with a frame to move it by.
    if (options.width > 0) {
        config.width = options.width;
        config.height = options.height;
    }
    if (options.windowed) {
        config.maximised = false;
        config.framed = true;
    }
    return RunPlayer(config, options);
}
