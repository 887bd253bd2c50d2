#pragma once

#include <functional>

namespace caldera {

// Mouse state of the window; kept by the Renderer. Render thread only.
struct InputState {
    float dragPosition[2] = {0, 0};  // accumulated cursor position of the current drag
    bool leftDown = false;
    bool rightDown = false;
    bool middleDown = false;
    float dragDelta[2] = {0, 0};     // movement of the last mouse-move, in pixels
    float time = 0;                  // sent as "_time"; nothing changes it
};

struct CursorPoint {
    int x = 0;
    int y = 0;
};

// Cursor bookkeeping of the window's mouse handling, in client pixels.
struct CursorTracker {
    CursorPoint cursorPos;  // last cursor position read
    CursorPoint lastPos;    // the one before
    CursorPoint accumPos;   // accumulated drag position
};

// Where the hidden cursor is and how to move it; the real window or a test double.
struct CursorAccess {
    std::function<CursorPoint()> read;           // client pixels
    std::function<void(CursorPoint)> warp;       // client pixels
};

// A button press: start a drag at the cursor.
void BeginDrag(CursorTracker& tracker, InputState& input, const CursorAccess& cursor);

// One drag step on mouse movement. Keeps a drag going past the window's edges
// by moving the cursor to the opposite edge; the jump never counts as movement.
void DragUpdate(CursorTracker& tracker, InputState& input, const CursorAccess& cursor,
                int screenWidth, int screenHeight);

}  // namespace caldera
