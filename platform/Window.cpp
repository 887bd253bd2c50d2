#include "platform/Window.h"

#include "platform/Gl.h"
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DEMO_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DEMO_SANITIZED 1
#endif

#if defined(DEMO_SANITIZED) && !defined(_WIN32)
#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>
#endif

namespace caldera {

namespace {
// The renderer needs framebuffer objects, float targets and GLSL 3.30, or
// on OpenGL ES 3.0 the same with float targets through an extension.
constexpr int kMinGlMajor = 3;
constexpr int kMinGlMinor = kGlEs ? 0 : 3;

// Sanitizer builds only. Closing the display unloads the GL driver (Mesa's
// gallium, LLVM) before the leak check runs at exit; the driver's blocks
// then carry addresses that no module owns any more, and no suppression can
// name them ("<unknown module>"). Pinning every library loaded by now keeps
// them mapped to the end, so the reports name the library they came from and
// the suppressions in tests/ match those libraries, never the project.
void KeepLibrariesForSanitizerReports() {
#if defined(DEMO_SANITIZED) && !defined(_WIN32)
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            if (info->dlpi_name && *info->dlpi_name) static_cast<std::vector<std::string>*>(out)->push_back(info->dlpi_name);
            return 0;
        },
        &names);
    // Outside the walk, which holds the loader's lock. The handles are never
    // closed: that is the point.
    for (const std::string& name : names) dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
}

struct KeyName {
    SDL_Keycode sym;
    Key key;
};
constexpr KeyName kKeys[] = {
    {SDLK_ESCAPE, Key::Escape}, {SDLK_RETURN, Key::Enter}, {SDLK_KP_ENTER, Key::Enter},
    {SDLK_SPACE, Key::Space},   {SDLK_LEFT, Key::Left},    {SDLK_RIGHT, Key::Right},
    {SDLK_UP, Key::Up},         {SDLK_DOWN, Key::Down},    {SDLK_COMMA, Key::Comma},
    {SDLK_PERIOD, Key::Period}, {SDLK_TAB, Key::Tab},      {SDLK_F5, Key::F5},
    {SDLK_a, Key::A},           {SDLK_d, Key::D},          {SDLK_e, Key::E},
    {SDLK_f, Key::F},           {SDLK_i, Key::I},          {SDLK_l, Key::L},
    {SDLK_o, Key::O},           {SDLK_p, Key::P},          {SDLK_q, Key::Q},
    {SDLK_s, Key::S},           {SDLK_w, Key::W},          {SDLK_LSHIFT, Key::Shift},
    {SDLK_RSHIFT, Key::Shift},
};

// Whether the context renders to half-float textures: always on desktop
// OpenGL 3.3; OpenGL ES 3.0 and 3.1 only with EXT_color_buffer_float (ES 3.2
// has it built in).
bool FloatTargets() {
    if (!kGlEs) return true;
    GLint major = 0, minor = 0, count = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major > 3 || (major == 3 && minor >= 2)) return true;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (name && std::strcmp(reinterpret_cast<const char*>(name), "GL_EXT_color_buffer_float") == 0) return true;
    }
    return false;
}

Key KeyOf(SDL_Keycode sym) {
    for (const KeyName& k : kKeys)
        if (k.sym == sym) return k.key;
    return Key::Other;
}

}  // namespace

Window::~Window() { Destroy(); }

bool Window::Create(const WindowConfig& config, std::string& error) {
    // X11 takes the class name from the environment at window creation.
    SetEnvironmentDefault("SDL_VIDEO_X11_WMCLASS", config.windowClass);
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // Quit signals are the program's own (platform/QuitSignal.h): SDL's
    // handler would turn them into a quit event that a tool never reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
#ifndef _WIN32
    // Windows has one windowing system, which SDL picks itself.
    auto unset = [](const char* name) {
        const char* value = std::getenv(name);
        return !value || !*value;
    };
    if (unset("SDL_VIDEODRIVER") && unset("WAYLAND_DISPLAY")) {
        if (unset("DISPLAY")) {
            error = "no display found (DISPLAY is not set)";
            return false;
        }
        // An X server is there: do not probe other windowing systems first.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    }
#else
    // The window class is "GLRenderer", where SDL would use its own.
    SDL_RegisterApp(config.windowClass, 0, nullptr);
#endif
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = std::string("cannot start the video system: ") + SDL_GetError();
        return false;
    }
    videoStarted = true;
    // Without a screen SDL falls back to drivers that draw nowhere; a player
    // that nobody can see is a failed start.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) {
        error = "no display found (is DISPLAY set?)";
        return false;
    }

    if (kGlEs) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    } else {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (!config.framed) flags |= SDL_WINDOW_BORDERLESS;
    int width = config.width, height = config.height;
    if (config.maximised) {
        flags |= SDL_WINDOW_MAXIMIZED;
        // A window manager maximises a new window only after it is mapped,
        // later than the render targets are sized, and a bare X server never
        // does: asking for the display's usable area gives the maximised
        // size at once either way.
        SDL_Rect usable;
        if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
            width = usable.w;
            height = usable.h;
        }
    }
    const int at = config.framed ? SDL_WINDOWPOS_CENTERED : 0;
    SDL_Window* window = SDL_CreateWindow(config.title, at, at, width, height, flags);
    if (!window) {
        error = std::string("cannot create the window: ") + SDL_GetError();
        return false;
    }
    sdlWindow = window;
    SDL_ShowCursor(SDL_DISABLE);

    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        error = std::string("cannot create an OpenGL context: ") + SDL_GetError();
        return false;
    }
    glContext = context;
    SDL_GL_MakeCurrent(window, context);
    // Vsync where the driver allows it; the loop runs unthrottled otherwise.
    SDL_GL_SetSwapInterval(1);

#ifndef DEMO_GLES
    glewExperimental = GL_TRUE;
    GLenum glewError = glewInit();
    // GLEW reports a missing GLX display on EGL-only drivers; the entry points
    // are still loaded through the current context.
    if (glewError != GLEW_OK && glewError != GLEW_ERROR_NO_GLX_DISPLAY) {
        error = std::string("Error: ") + reinterpret_cast<const char*>(glewGetErrorString(glewError));
        return false;
    }
    glGetError();  // glewInit may leave an error behind
#endif
    KeepLibrariesForSanitizerReports();

    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major < kMinGlMajor || (major == kMinGlMajor && minor < kMinGlMinor)) {
        char text[160];
        std::snprintf(text, sizeof(text), "OpenGL %d.%d found, %d.%d or newer is needed (%s)",
                      major, minor, kMinGlMajor, kMinGlMinor,
                      reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
        error = text;
        return false;
    }

    if (!FloatTargets()) {
        error = std::string("this OpenGL ES driver cannot render to float textures: it lacks EXT_color_buffer_float (") +
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)) + ")";
        return false;
    }

    SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
    return true;
}

void Window::Destroy() {
    if (glContext) {
        SDL_GL_MakeCurrent(static_cast<SDL_Window*>(sdlWindow), nullptr);
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(glContext));
        glContext = nullptr;
    }
    if (sdlWindow) {
        SDL_DestroyWindow(static_cast<SDL_Window*>(sdlWindow));
        sdlWindow = nullptr;
    }
    if (videoStarted) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
#ifdef _WIN32
        SDL_UnregisterApp();
#endif
        videoStarted = false;
    }
}

bool Window::PollEvent(WindowEvent& event) {
    SDL_Event e;
    if (!SDL_PollEvent(&e)) return false;
    event = WindowEvent{};
    switch (e.type) {
    case SDL_QUIT:
        event.type = EventType::Quit;
        break;
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) event.type = EventType::Quit;
        break;
    case SDL_KEYDOWN:
        event.type = EventType::KeyDown;
        event.key = KeyOf(e.key.keysym.sym);
        event.shift = (e.key.keysym.mod & KMOD_SHIFT) != 0;
        event.repeat = e.key.repeat != 0;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        event.type = e.type == SDL_MOUSEBUTTONDOWN ? EventType::ButtonDown : EventType::ButtonUp;
        event.button = e.button.button == SDL_BUTTON_LEFT     ? MouseButton::Left
                       : e.button.button == SDL_BUTTON_RIGHT  ? MouseButton::Right
                       : e.button.button == SDL_BUTTON_MIDDLE ? MouseButton::Middle
                                                              : MouseButton::Other;
        break;
    case SDL_MOUSEMOTION:
        event.type = EventType::MouseMove;
        event.leftHeld = (e.motion.state & SDL_BUTTON_LMASK) != 0;
        event.rightHeld = (e.motion.state & SDL_BUTTON_RMASK) != 0;
        event.middleHeld = (e.motion.state & SDL_BUTTON_MMASK) != 0;
        event.moveX = e.motion.xrel;
        event.moveY = e.motion.yrel;
        break;
    case SDL_MOUSEWHEEL:
        event.type = EventType::Wheel;
        event.wheel = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        break;
    default:
        break;
    }
    return true;
}

void Window::Swap() { SDL_GL_SwapWindow(static_cast<SDL_Window*>(sdlWindow)); }

void Window::SetTitle(const std::string& title) {
    if (sdlWindow) SDL_SetWindowTitle(static_cast<SDL_Window*>(sdlWindow), title.c_str());
}

bool Window::KeyHeld(Key key) const {
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    for (const KeyName& k : kKeys) {
        if (k.key != key) continue;
        SDL_Scancode code = SDL_GetScancodeFromKey(k.sym);
        if (code > SDL_SCANCODE_UNKNOWN && code < count && state[code]) return true;
    }
    return false;
}

bool Window::SetClipboard(const std::string& text) { return SDL_SetClipboardText(text.c_str()) == 0; }

void Window::ReadCursor(int& x, int& y) const {
    int gx = 0, gy = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(static_cast<SDL_Window*>(sdlWindow), &wx, &wy);
    x = gx - wx;
    y = gy - wy;
}

void Window::WarpCursor(int x, int y) { SDL_WarpMouseInWindow(static_cast<SDL_Window*>(sdlWindow), x, y); }

void Window::CaptureMouse(bool capture) { SDL_CaptureMouse(capture ? SDL_TRUE : SDL_FALSE); }

void PostQuit() {
    // SDL_PushEvent is safe from any thread once the event queue exists.
    SDL_Event e{};
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}

}  // namespace caldera
