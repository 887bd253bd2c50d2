#pragma once

#include "platform/Window.h"

// The whole player: singletons, music, watcher thread, then the window and its
// message-and-frame loop on the calling thread. Returns the process exit status:
// 0 for every ordinary end (Escape, window closed, end of the music), non-zero
// when the window or OpenGL could not be set up.
int RunPlayer(const WindowConfig& config);

// Starts the music once; later calls do nothing. Called by every content poll.
void StartMusic();

// The end of the music: asks the render loop to quit. Any thread.
void OnMusicEnd();
