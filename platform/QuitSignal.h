#pragma once

namespace caldera {

// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a service manager, a closed terminal or
// ssh session, a test's kill) as a quit request: the player's render loop
// sees it at its next pass and ends the way Escape does; a tool stops its
// work, removes what it had half written and exits non-zero.

// Installs the handlers. Call before the window system starts, which then
// keeps them (SDL is also told to install none of its own).
void CatchQuitSignals();

// Whether a quit signal has arrived. Any thread.
bool QuitSignalled();

// The signal that asked to quit (SIGINT, ...), 0 when none came.
int QuitSignalNumber();

// "SIGTERM" for SIGTERM; "signal N" for others.
const char* QuitSignalName(int signal);

}  // namespace caldera
