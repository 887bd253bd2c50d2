#pragma once

#include "app/PlayerOptions.h"
#include "platform/Window.h"

namespace caldera {

// The whole player: singletons, music, watcher thread, then the window and its
// message-and-frame loop on the calling thread. Returns the process exit status:
// 0 for every ordinary end (Escape, window closed, end of the music), non-zero
// when the window or OpenGL could not be set up.
// `options` other than the defaults switch on the author mode and its helps
// (app/AuthorControls.h); with the defaults the player plays as it always has.
int RunPlayer(const WindowConfig& config, const PlayerOptions& options = {});

// Starts the music once; later calls do nothing. Called by every content poll.
void StartMusic();

// The end of the music: asks the render loop to quit. Any thread.
void OnMusicEnd();

}  // namespace caldera
