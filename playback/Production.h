#pragma once

namespace caldera {

class FrameClock;
class MusicClock;
class ResourceManager;

// The clocks a production's frames read: the music's position, and the time
// particles move by. Null leaves the frame driver's own.
struct ProductionClocks {
    MusicClock* music = nullptr;
    FrameClock* frames = nullptr;
};

// Wires a production up for its first content poll, in one call for every
// program that shows one: objects get their particle systems, scene files
// are built into scenes, the running order is read into the timeline, and
// frames read `clocks`. Starting the music is left to the caller's hook
// (resources.hooks.startMusic). Call before the watcher starts.
void ConnectProduction(ResourceManager& resources, ProductionClocks clocks = {});

}  // namespace caldera
