#include "platform/Input.h"

namespace caldera {

void BeginDrag(CursorTracker& tracker, InputState& input, const CursorAccess& cursor) {
    tracker.cursorPos = cursor.read();
    tracker.lastPos = tracker.cursorPos;
    tracker.accumPos = tracker.cursorPos;
    input.dragPosition[0] = static_cast<float>(tracker.cursorPos.x);
    input.dragPosition[1] = static_cast<float>(tracker.cursorPos.y);
}

void DragUpdate(CursorTracker& tracker, InputState& input, const CursorAccess& cursor,
                int screenWidth, int screenHeight) {
    tracker.lastPos = tracker.cursorPos;
    tracker.cursorPos = cursor.read();
    tracker.accumPos.x += tracker.cursorPos.x - tracker.lastPos.x;
    tracker.accumPos.y += tracker.cursorPos.y - tracker.lastPos.y;

    // Each test sees the value the one before left; a point exactly on the
    // right or bottom edge stays.
    CursorPoint wrapped = tracker.cursorPos;
    bool wrap = false;
    if (wrapped.x > screenWidth) { wrapped.x -= screenWidth; wrap = true; }
    if (wrapped.x < 0) { wrapped.x += screenWidth; wrap = true; }
    if (wrapped.y > screenHeight) { wrapped.y -= screenHeight; wrap = true; }
    if (wrapped.y < 0) { wrapped.y += screenHeight; wrap = true; }

    if (wrap) {
        tracker.lastPos = wrapped;
        cursor.warp(wrapped);
        tracker.cursorPos = cursor.read();
        return;
    }
    input.dragPosition[0] = static_cast<float>(tracker.accumPos.x);
    input.dragPosition[1] = static_cast<float>(tracker.accumPos.y);
    input.dragDelta[0] = static_cast<float>(tracker.cursorPos.x - tracker.lastPos.x);
    input.dragDelta[1] = static_cast<float>(tracker.cursorPos.y - tracker.lastPos.y);
}

}  // namespace caldera
