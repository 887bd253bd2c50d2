#include "app/Player.h"

#include "platform/Gl.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/AuthorChecks.h"
#include "app/AuthorControls.h"
#include "app/FreeCamera.h"
#include "platform/Input.h"
#include "platform/Log.h"
#include "app/Watcher.h"
#include "platform/Music.h"
#include "platform/QuitSignal.h"
#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "render/RenderFrame.h"
#include "playback/Production.h"
#include "render/Overlay.h"
#include "render/Renderer.h"
#include "resources/ResourceManager.h"

namespace caldera {

namespace {

// Set by the end of the music on an audio thread; the loop also gets a quit
// event, this flag covers an event queue that is not there yet.
std::atomic<bool> musicEnded{false};

// Author mode only (null otherwise); set before the watcher starts.
AuthorControls* authorControls = nullptr;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Cursor bookkeeping of the window's mouse handling; render thread only.
CursorTracker cursorTracker;

// Author mode's free camera and overlay; render thread only.
FreeCamera freeCamera;
bool overlayShown = false;

// The view of the frame last drawn: the shot camera's while the free camera is off.
CameraView ShownView() {
    const PreparedFrame& frame = FrameDriver::Instance().prepared;
    CameraView view;
    view.position = frame.cameraPosition;
    view.rotation = frame.cameraRotation;
    view.fov = frame.fov;
    return view;
}

// The author keys of the free camera and the overlay; true when the key was one.
bool OnViewKey(const WindowEvent& event, Window& window) {
    if (event.repeat) return false;
    switch (event.key) {
    case Key::F:
        // Nothing to start from before a shot was drawn.
        if (!freeCamera.active && !FrameDriver::Instance().prepared.currentCamera) return true;
        freeCamera.Toggle(ShownView());
        authorControls->freeView = freeCamera.active;
        return true;
    case Key::P: {
        const std::string xml = authorControls->ViewXml(freeCamera.active ? freeCamera.view : ShownView());
        if (xml.empty()) {
            Log(3, "Author mode: no shot is shown, so there is no view to print");
            return true;
        }
        Log(3, "%s", xml.c_str());
        if (!window.SetClipboard(xml)) Log(3, "Author mode: the view could not be put on the clipboard");
        return true;
    }
    case Key::Tab:
        overlayShown = !overlayShown;
        return true;
    default:
        return false;
    }
}

// One pass of the free camera: the held keys move it by the real time since
// the last pass, paused or not.
void MoveFreeCamera(Window& window) {
    static auto last = std::chrono::steady_clock::now();
    const auto now = std::chrono::steady_clock::now();
    // A long stall (a reload, a breakpoint) does not fling the camera away.
    const float seconds = std::min(0.5f, std::chrono::duration<float>(now - last).count());
    last = now;
    if (!freeCamera.active) return;
    FreeCamera::Motion motion;
    motion.forward = (window.KeyHeld(Key::W) ? 1 : 0) - (window.KeyHeld(Key::S) ? 1 : 0);
    motion.right = (window.KeyHeld(Key::D) ? 1 : 0) - (window.KeyHeld(Key::A) ? 1 : 0);
    motion.up = (window.KeyHeld(Key::E) ? 1 : 0) - (window.KeyHeld(Key::Q) ? 1 : 0);
    motion.fast = window.KeyHeld(Key::Shift);
    freeCamera.Move(motion, seconds);
}

// What the overlay shows: the status, the view, the keys, then the last
// lines of the log (the checks' problems among them).
void OverlayLines(std::vector<std::string>& lines) {
    lines.clear();
    lines.push_back(authorControls->Status());
    char text[160];
    if (freeCamera.active) {
        const CameraView& v = freeCamera.view;
        std::snprintf(text, sizeof(text), "free camera at %.2f %.2f %.2f, pitch %.3f yaw %.3f, speed %.2f",
                      static_cast<double>(v.position.x), static_cast<double>(v.position.y),
                      static_cast<double>(v.position.z), static_cast<double>(v.rotation.x),
                      static_cast<double>(v.rotation.y), static_cast<double>(freeCamera.speed));
        lines.push_back(text);
        lines.push_back("drag: look  WASD QE: move  Shift: faster  wheel: speed  P: print keys  F: shot camera");
    } else {
        lines.push_back("shot camera  F: free camera  P: print keys  Tab: hide");
    }
    for (std::string line : RecentLogLines()) {
        // Indented lines are a loader's details, not news.
        if (!line.empty() && (line[0] == '\t' || line[0] == ' ')) continue;
        // One row a line: the log's own breaks and tabs become spaces.
        for (char& c : line)
            if (c == '\n' || c == '\t') c = ' ';
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
}

CursorAccess CursorOf(Window& window) {
    return CursorAccess{
        [&window] {
            CursorPoint p;
            window.ReadCursor(p.x, p.y);
            return p;
        },
        [&window](CursorPoint p) { window.WarpCursor(p.x, p.y); },
    };
}

// Returns false when the event asks the loop to quit.
bool HandleEvent(const WindowEvent& event, Window& window) {
    Renderer& renderer = Renderer::Instance();
    InputState& input = *Show::Instance().inputState;
    switch (event.type) {
    case EventType::Quit:
        return false;
    case EventType::KeyDown:
        if (event.key == Key::Escape) return false;
        if (event.key == Key::Enter) Show::Instance().shaderWatch = true;
        if (authorControls && !OnViewKey(event, window)) authorControls->OnKey(event);
        break;
    case EventType::ButtonDown:
        if (event.button == MouseButton::Left || event.button == MouseButton::Right) {
            BeginDrag(cursorTracker, input, CursorOf(window));
            window.CaptureMouse(true);
            (event.button == MouseButton::Left ? input.leftDown : input.rightDown) = true;
        } else if (event.button == MouseButton::Middle) {
            window.CaptureMouse(true);
            input.middleDown = true;
        }
        break;
    case EventType::ButtonUp:
        if (event.button == MouseButton::Left || event.button == MouseButton::Right) {
            window.CaptureMouse(false);
            (event.button == MouseButton::Left ? input.leftDown : input.rightDown) = false;
            input.dragDelta[0] = input.dragDelta[1] = 0;
        } else if (event.button == MouseButton::Middle) {
            window.CaptureMouse(false);
            input.middleDown = false;
        }
        break;
    case EventType::MouseMove: {
        input.dragDelta[0] = input.dragDelta[1] = 0;
        CursorAccess cursor = CursorOf(window);
        if (event.leftHeld) DragUpdate(cursorTracker, input, cursor, renderer.screenWidth, renderer.screenHeight);
        else input.leftDown = false;
        if (event.rightHeld) DragUpdate(cursorTracker, input, cursor, renderer.screenWidth, renderer.screenHeight);
        else input.rightDown = false;
        // The look follows each move as the system reports it: the drag's
        // cursor reads lag behind when frames are slow. A move of half the
        // window or more is the drag's own jump to the opposite edge.
        if (freeCamera.active && event.leftHeld && std::abs(event.moveX) < renderer.screenWidth / 2 &&
            std::abs(event.moveY) < renderer.screenHeight / 2)
            freeCamera.Look(static_cast<float>(event.moveX), static_cast<float>(event.moveY));
        if (!event.middleHeld) input.middleDown = false;
        break;
    }
    case EventType::Wheel:
        if (freeCamera.active) freeCamera.ChangeSpeed(event.wheel);
        break;
    case EventType::Other:
        break;
    }
    return true;
}

// The render thread's body: window, context, then messages and frames until a quit.
int RenderThread(const WindowConfig& config) {
    Renderer& renderer = Renderer::Instance();
    Window window;
    std::string error;
    if (!window.Create(config, error)) {
        std::fprintf(stderr, "demoplayer: %s\n", error.c_str());
        return 1;
    }
    renderer.SetScreenSize(window.drawableWidth, window.drawableHeight);
    renderer.Init();

    Overlay overlay;
    std::vector<std::string> overlayLines;
    if (authorControls) KeepRecentLogLines(4);
    GLenum previousError = GL_NO_ERROR;
    bool running = true;
    while (running) {
        WindowEvent event;
        while (running && window.PollEvent(event)) running = HandleEvent(event, window);
        if (!running || musicEnded.load() || QuitSignalled()) break;

        if (authorControls) {
            MoveFreeCamera(window);
            FrameDriver::Instance().viewOverride = freeCamera.active ? &freeCamera.view : nullptr;
        }
        glDisable(GL_BLEND);
        RenderFrame(&window);
        if (authorControls && overlayShown) {
            OverlayLines(overlayLines);
            overlay.Draw(overlayLines, renderer.screenWidth, renderer.screenHeight);
        }
        SleepMs(1);
        // A persisting error is logged once, and again after a frame without it.
        GLenum glError = glGetError();
        if (glError != GL_NO_ERROR && glError != previousError)
            Log(0, "OpenGL Error : %s\n", GlErrorName(glError));
        previousError = glError;
        window.Swap();
        if (authorControls) authorControls->AfterFrame(window);
        SleepMs(2);
        ResourceManager& resources = ResourceManager::Instance();
        if (!resources.ready.load()) resources.ready = true;
    }
    FrameDriver::Instance().viewOverride = nullptr;
    overlay.Release();
    window.Destroy();
    return 0;
}

}  // namespace

void StartMusic() {
    Show& show = Show::Instance();
    if (show.playing.load()) return;
    show.playing = true;
    if (authorControls) authorControls->BeforeMusicStarts();
    if (show.music) {
        show.music->SetEndCallback(OnMusicEnd);
        show.music->Play();
    }
}

void OnMusicEnd() {
    musicEnded = true;
    PostQuit();
}

int RunPlayer(const WindowConfig& config, const PlayerOptions& options) {
    // First, so that a signal at any later moment ends the player in order.
    CatchQuitSignals();
    if (options.verbose) SetLogThreshold(0);
    Show& show = Show::Instance();
    Music music;
    // A missing or broken file leaves a negative position: nothing plays.
    music.Open("music.mp3", show.audioDevice, show.audioFrequency);
    if ((options.start > 0 || options.loopOut > 0) && music.IsOpen()) {
        // Past the end the player would end before its first frame, silently.
        const double length = MusicLengthSeconds("music.mp3");
        if (length > 0 && options.start >= length) {
            std::fprintf(stderr, "demoplayer: --start %g is past the end of the music (%.1f s)\n", options.start,
                         length);
            return 2;
        }
        // A range past the end would never reach its out point.
        if (length > 0 && options.loopOut > length) {
            std::fprintf(stderr, "demoplayer: --loop-range %g %g is past the end of the music (%.1f s)\n",
                         options.loopIn, options.loopOut, length);
            return 2;
        }
    }
    std::unique_ptr<AuthorControls> author;
    AuthorChecks checks;
    if (options.author) {
        author = std::make_unique<AuthorControls>(options, music, config.title);
        author->Begin();
        authorControls = author.get();
        checks.Start();
    }
    show.playing = false;
    show.music = &music;

    ResourceManager& resources = ResourceManager::Instance();
    resources.ready = false;
    // The frame clock stays the frame driver's own, or author mode's.
    ConnectProduction(resources, {&music, nullptr});
    resources.hooks.startMusic = StartMusic;

    Watcher watcher;
    if (author) author->SetWatcher(&watcher);
    watcher.Start();
    int status = RenderThread(config);

    // Orderly teardown: nothing may touch the music or the singletons after this.
    watcher.Stop();
    checks.Stop();
    authorControls = nullptr;
    music.Close();
    show.music = nullptr;
    FrameDriver::Instance().musicClock = nullptr;
    return status;
}

}  // namespace caldera
