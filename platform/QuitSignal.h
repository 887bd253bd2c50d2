#pragma once

// SIGINT and SIGTERM (Ctrl+C, a service manager, a test's kill) as a quit
// request: the render loop sees it at its next pass and ends the player the
// way Escape does, with exit status 0.

// Installs the handlers. Call before the window system starts, which then
// keeps them (SDL installs its own only where none is set).
void CatchQuitSignals();

// Whether a quit signal has arrived. Any thread.
bool QuitSignalled();
