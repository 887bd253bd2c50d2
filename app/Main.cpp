#include "app/Player.h"

// The three players differ only in these constants.
#ifndef DEMO_WINDOW_WIDTH
#define DEMO_WINDOW_WIDTH 1280
#define DEMO_WINDOW_HEIGHT 720
#define DEMO_WINDOW_MAXIMISED 0
#endif

int main() {
    WindowConfig config;
    config.width = DEMO_WINDOW_WIDTH;
    config.height = DEMO_WINDOW_HEIGHT;
    config.maximised = DEMO_WINDOW_MAXIMISED != 0;
    return RunPlayer(config);
}
