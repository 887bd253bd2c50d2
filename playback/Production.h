#pragma once

class ResourceManager;

// Hands the content store what its polls set off in the layers above it:
// scene files are built into scenes, and the running order is read into the
// timeline. Starting the music is left to the caller's hook. Call before the
// watcher starts.
void ConnectProduction(ResourceManager& resources);
