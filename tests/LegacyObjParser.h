#pragma once

#include <cstddef>

#include "resources/SModelLoader.h"

using namespace caldera;

// The previous OBJ parser (two passes, hand-written float path): fills the
// loader's arrays and counts exactly as SModelLoader::LoadObjText did, without
// logging. False, with every count 0, for empty text or counts past int32.
bool LegacyLoadObjText(SModelLoader& loader, const char* text, size_t size);
