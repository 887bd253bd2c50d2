#pragma once

#include <string>

namespace caldera {

// The player's one window with its OpenGL context, and its events. Only this
// layer talks to the windowing system. Render thread only, except PostQuit.

struct WindowConfig {
    int width = 1280;
    int height = 720;
    bool maximised = false;
    // A normal window with the system's frame, centred; the show's own is
    // borderless at the screen's corner.
    bool framed = false;
    const char* title = "Caldera @ Lanternfall2018";
    const char* windowClass = "GLRenderer";
};

enum class EventType { Quit, KeyDown, ButtonDown, ButtonUp, MouseMove, Wheel, Other };
// Every key but Escape and Enter acts only in the player's author mode.
enum class Key {
    Escape, Enter, Space, Left, Right, Up, Down,
    Comma, Period, Tab, F5,
    A, D, E, F, I, L, O, P, Q, S, W,
    Shift,  // either Shift key, for KeyHeld
    Other
};
enum class MouseButton { Left, Right, Middle, Other };

struct WindowEvent {
    EventType type = EventType::Other;
    Key key = Key::Other;
    bool shift = false;    // Shift held with the key
    bool repeat = false;   // the key's auto-repeat while held
    MouseButton button = MouseButton::Other;
    // Buttons held during a mouse move, and the move in pixels (right and down).
    bool leftHeld = false;
    bool rightHeld = false;
    bool middleHeld = false;
    int moveX = 0;
    int moveY = 0;
    int wheel = 0;  // notches, away from the user positive
};

class Window {
public:
    Window() = default;
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Opens the window at (0, 0) with a compatibility-profile context, or an
    // OpenGL ES 3.0 one in the ES build (24-bit colour, 16-bit depth, double
    // buffered), loads the GL entry points and checks the GL version (and on
    // ES, float render targets). On failure returns false with a one-line
    // reason.
    bool Create(const WindowConfig& config, std::string& error);
    void Destroy();

    // Size of the drawable right after creation, in pixels.
    int drawableWidth = 0;
    int drawableHeight = 0;

    bool PollEvent(WindowEvent& event);
    void Swap();
    // Replaces the window's title (UTF-8).
    void SetTitle(const std::string& title);
    // Whether a key is held down now (the keyboard state of the last poll).
    bool KeyHeld(Key key) const;
    // Puts UTF-8 text on the system clipboard; false when there is none.
    bool SetClipboard(const std::string& text);

    // Cursor in client pixels; may lie outside the window while captured.
    void ReadCursor(int& x, int& y) const;
    void WarpCursor(int x, int y);
    void CaptureMouse(bool capture);

private:
    void* sdlWindow = nullptr;
    void* glContext = nullptr;
    bool videoStarted = false;
};

// Asks the render loop to quit. Safe from any thread (the music's end arrives
// on an audio thread).
void PostQuit();

}  // namespace caldera
