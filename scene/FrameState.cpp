#include "scene/FrameState.h"

FrameState& FrameState::Current() {
    static FrameState frame;
    return frame;
}
