#pragma once

// Objects reach their particle system through this header.
#include "particles/ObjectParticles.h"
