#include "scene/FrameState.h"

namespace caldera {

FrameState& FrameState::Current() {
    static FrameState frame;
    return frame;
}

}  // namespace caldera
