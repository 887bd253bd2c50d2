#include "platform/Window.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <cstring>
#include <deque>
#include <set>

// The browser's window: the page's canvas and a WebGL 2 context on it,
// through the browser's own API (no windowing library: nothing on the web
// needs one). Keys come from the document, so that the canvas needs no focus.

namespace caldera {

namespace {

constexpr const char* kCanvas = "#canvas";

// Events since the last poll, and the keys held now; main thread only (the
// web build has no other).
std::deque<WindowEvent> pending;
std::set<Key> held;

Key KeyOf(const char* code) {
    struct Name {
        const char* code;
        Key key;
    };
    static const Name names[] = {
        {"Escape", Key::Escape}, {"Enter", Key::Enter},   {"NumpadEnter", Key::Enter}, {"Space", Key::Space},
        {"ArrowLeft", Key::Left}, {"ArrowRight", Key::Right}, {"ArrowUp", Key::Up},     {"ArrowDown", Key::Down},
        {"Comma", Key::Comma},   {"Period", Key::Period}, {"Tab", Key::Tab},           {"F5", Key::F5},
        {"KeyA", Key::A},        {"KeyD", Key::D},        {"KeyE", Key::E},            {"KeyF", Key::F},
        {"KeyI", Key::I},        {"KeyL", Key::L},        {"KeyO", Key::O},            {"KeyP", Key::P},
        {"KeyQ", Key::Q},        {"KeyS", Key::S},        {"KeyW", Key::W},            {"ShiftLeft", Key::Shift},
        {"ShiftRight", Key::Shift},
    };
    for (const Name& name : names)
        if (std::strcmp(code, name.code) == 0) return name.key;
    return Key::Other;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    const Key key = KeyOf(e->code);
    if (key == Key::Other) return EM_FALSE;  // the browser's own keys keep working
    WindowEvent event;
    event.key = key;
    event.shift = e->shiftKey;
    event.repeat = e->repeat;
    if (type == EMSCRIPTEN_EVENT_KEYDOWN) {
        held.insert(key);
        event.type = EventType::KeyDown;
        pending.push_back(event);
    } else {
        held.erase(key);
    }
    // Space and the arrows would scroll the page; Tab would move the focus.
    return EM_TRUE;
}

// A page the viewer left drops its keys' releases: none stays held.
EM_BOOL OnBlur(int, const EmscriptenFocusEvent*, void*) {
    held.clear();
    return EM_FALSE;
}

// The page asks for a still: its pixels must stay readable after the frame.
bool CaptureMode() { return EM_ASM_INT({ return Module.demoCapture ? 1 : 0; }) != 0; }

}  // namespace

Window::~Window() { Destroy(); }

bool Window::Create(const WindowConfig& config, std::string& error) {
    if (emscripten_set_canvas_element_size(kCanvas, config.width, config.height) != EMSCRIPTEN_RESULT_SUCCESS) {
        error = "the page has no canvas";
        return false;
    }
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.preserveDrawingBuffer = CaptureMode() ? EM_TRUE : EM_FALSE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(kCanvas, &attributes);
    if (context <= 0) {
        error = "this browser has no WebGL 2";
        return false;
    }
    emscripten_webgl_make_context_current(context);
    // The frame's passes draw into floating-point targets.
    if (!emscripten_webgl_enable_extension(context, "EXT_color_buffer_float")) {
        emscripten_webgl_destroy_context(context);
        error = "this browser's WebGL 2 cannot draw into floating-point targets (no EXT_color_buffer_float)";
        return false;
    }
    glContext = reinterpret_cast<void*>(static_cast<intptr_t>(context));
    // The canvas stands where the desktop keeps its window.
    sdlWindow = const_cast<char*>(kCanvas);
    int width = 0, height = 0;
    emscripten_get_canvas_element_size(kCanvas, &width, &height);
    drawableWidth = width;
    drawableHeight = height;

    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, OnKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, OnKey);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnBlur);
    videoStarted = true;
    return true;
}

void Window::Destroy() {
    if (!videoStarted) return;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, nullptr);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, nullptr);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
    if (glContext)
        emscripten_webgl_destroy_context(static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(glContext)));
    glContext = nullptr;
    sdlWindow = nullptr;
    pending.clear();
    held.clear();
    videoStarted = false;
}

bool Window::PollEvent(WindowEvent& event) {
    if (pending.empty()) return false;
    event = pending.front();
    pending.pop_front();
    return true;
}

// The browser shows what a frame drew once the frame's callback returns.
void Window::Swap() {}

void Window::SetTitle(const std::string&) {
    // The page keeps its own title: the test harness and capture mode read it.
}

bool Window::KeyHeld(Key key) const { return held.count(key) != 0; }

bool Window::SetClipboard(const std::string&) {
    // Browsers let a page write the clipboard only from within a gesture.
    return false;
}

void Window::ReadCursor(int& x, int& y) const { x = y = 0; }
void Window::WarpCursor(int, int) {}
void Window::CaptureMouse(bool) {}

void PostQuit() {
    WindowEvent event;
    event.type = EventType::Quit;
    pending.push_back(event);
}

}  // namespace caldera
