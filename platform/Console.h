#pragma once

namespace caldera {

// A windowed program on Windows starts without a console, so that nobody
// watching the show gets a black text window behind it. Started from a
// command prompt with nothing redirected, it borrows that prompt's console
// for its messages (usage, errors, the log); where output is redirected, or
// on other systems, nothing changes.
void UseParentConsole();

}  // namespace caldera
