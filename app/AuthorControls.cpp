#include "app/AuthorControls.h"

#include "app/FreeCamera.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "app/Watcher.h"
#include "platform/Log.h"
#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "render/Renderer.h"
#include "render/ShaderProgram.h"
#include "platform/Music.h"
#include "playback/Timeline.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

constexpr double kSeekStep = 5.0;
constexpr double kFineSeekStep = 1.0;  // with Shift
// The step where no shot gives a key frame its length: a frame of a 60 Hz
// display.
constexpr double kFallbackStep = 1.0 / 60.0;

// Appends printf-style text to `out` without a heap allocation once `out`
// has grown to the title's size.
void Append(std::string& out, const char* format, ...) {
    char piece[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof(piece), format, args);
    va_end(args);
    if (n > 0) out.append(piece, std::min(static_cast<size_t>(n), sizeof(piece) - 1));
}

void AppendClock(std::string& out, double t) {
    if (t < 0) {
        out += "-:--.-";
        return;
    }
    // Tenths, rounded down so that the title never runs ahead of the music;
    // a seek lands on the music's sample grid, up to a sample short of the
    // time asked for, which still reads as that time.
    const double tenthsAll = std::floor(std::min(t, 1e12) * 10.0 + 1e-3);
    const long long tenths = static_cast<long long>(tenthsAll);
    Append(out, "%lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
}

}  // namespace

AuthorControls::AuthorControls(const PlayerOptions& options, Music& music, std::string title)
    : options(options), music(music), title(std::move(title)) {}

AuthorControls::~AuthorControls() {
    FrameDriver& driver = FrameDriver::Instance();
    if (driver.frameClock == &frameClock) driver.frameClock = nullptr;
}

int64_t AuthorControls::PausableClock::NowMicroseconds() {
    return (paused ? pausedAt : steady.NowMicroseconds()) - pausedTotal;
}

void AuthorControls::PausableClock::Advance(int64_t microseconds) {
    // The resume adds the time stood still to pausedTotal; the advance is
    // taken off it, so the clock goes on from the advanced time.
    if (paused) pausedTotal -= microseconds;
}

void AuthorControls::PausableClock::SetPaused(bool pause) {
    if (pause == paused) return;
    if (pause) pausedAt = steady.NowMicroseconds();
    else pausedTotal += steady.NowMicroseconds() - pausedAt;
    paused = pause;
}

void AuthorControls::Begin() {
    FrameDriver::Instance().frameClock = &frameClock;
    loopIn = options.loopIn;
    loopOut = options.loopOut;
    // A range starts at its in point unless --start says otherwise.
    if (options.start >= 0) SeekTo(options.start);
    else if (LoopRangeSet()) SeekTo(loopIn);
    UpdateHoldAtEnd();
}

void AuthorControls::UpdateHoldAtEnd() {
    // The music stays at its end instead of ending the player while --loop
    // or a loop range may still take it back.
    music.SetHoldAtEnd(options.loop || LoopRangeSet());
}

void AuthorControls::BeforeMusicStarts() {
    if (options.shot <= 0) return;
    std::shared_ptr<Timeline::EntryList> entries = Timeline::Instance().Current();
    if (static_cast<size_t>(options.shot) > entries->size()) {
        Log(3, "Author mode: the running order has %zu shots, no shot %d; starting at the beginning",
            entries->size(), options.shot);
        return;
    }
    SeekTo((*entries)[static_cast<size_t>(options.shot - 1)].timeStart);
    startedShot = options.shot - 1;
}

void AuthorControls::SeekTo(double seconds) {
    if (!music.Seek(seconds < 0 ? 0 : seconds)) Log(3, "Author mode: the music cannot seek to %.1f s", seconds);
}

int AuthorControls::ShotAt(const Timeline::EntryList& entries, double t) {
    // The rule of Timeline::FindEntry, without its look-up writes: the music
    // may be past the entries the last frame resolved.
    for (size_t i = 0; i < entries.size(); ++i) {
        const TimelineEntry& entry = entries[i];
        Scene* scene = entry.scene ? entry.scene : ResourceManager::Instance().FindScene(NameHash(entry.sceneName));
        if (!scene || !scene->FindCamera(NameHash(entry.cameraName))) continue;
        float end = entry.timeStart + entry.duration;
        if (static_cast<double>(entry.timeStart) <= t && t < static_cast<double>(end)) return static_cast<int>(i);
    }
    return -1;
}

void AuthorControls::JumpToShot(const Timeline::EntryList& entries, int index) {
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) return;
    SeekTo(entries[static_cast<size_t>(index)].timeStart);
    loopShot = index;
}

void AuthorControls::SetPaused(bool pause) {
    music.SetPaused(pause);
    frameClock.SetPaused(pause);
}

void AuthorControls::StepKeyFrame(int direction) {
    // Keys go in whole frames, so a step lands on the next (or previous) key
    // frame the title shows, just after the time it starts: the picture is
    // that key's, and the title's number moves by exactly one.
    const double t = music.PositionSeconds();
    if (t < 0) return;
    std::shared_ptr<Timeline::EntryList> entries = Timeline::Instance().Current();
    const int shot = ShotAt(*entries, t);
    double target = t + direction * kFallbackStep;
    if (shot >= 0) {
        const TimelineEntry& entry = (*entries)[static_cast<size_t>(shot)];
        const ShotPosition position = PositionIn(entry, t);
        const double frames = static_cast<double>(position.frameEnd) - position.frameStart;
        const double duration = entry.duration;
        // A still shot (one key frame throughout) has no key frame length.
        if (frames != 0 && duration > 0 && std::isfinite(duration)) {
            const double perFrame = duration / std::fabs(frames);  // music seconds a key frame lasts
            // Key frame k is shown from TimeOf(k) to TimeOf(k + 1) (in either
            // order: a window may play its frames backwards).
            auto timeOf = [&](double frame) {
                return entry.timeStart + (frame - position.frameStart) * duration / frames;
            };
            const double shown = std::floor(static_cast<double>(KeyFrameAt(entry, t)));
            // On in time is up in frames unless the window plays backwards.
            const double wanted = shown + (frames > 0 ? direction : -direction);
            const double begins = std::min(timeOf(wanted), timeOf(wanted + 1));
            // Past the start by a millisecond (or half a short frame): clear
            // of the music's sample rounding and float precision.
            target = begins + std::min(0.001, perFrame / 2);
        }
    }
    SeekTo(target);
    loopShot = -1;  // the loop follows the shot the step lands in
    // Particles move by the time stepped on, as they would in playback. A
    // step back cannot undo their simulation: they stand where they are
    // while the key-framed animation goes back.
    const double moved = music.PositionSeconds() - t;
    if (moved > 0) frameClock.Advance(static_cast<int64_t>(std::llround(moved * 1e6)));
}

void AuthorControls::SetLoopIn(double t) {
    if (t < 0) return;
    loopIn = t;
    if (loopOut >= 0 && loopOut <= loopIn) loopOut = -1;  // an out before the in is dropped
    UpdateHoldAtEnd();
}

void AuthorControls::SetLoopOut(double t) {
    if (t < 0) return;
    loopOut = t;
    if (loopIn >= 0 && loopIn >= loopOut) loopIn = -1;  // an in after the out is dropped
    UpdateHoldAtEnd();
}

void AuthorControls::ReloadEverything() {
    Log(3, "Reloading every file and shader");
    // Shaders build on this thread, with the GL context: every program
    // builds again at the next check, whatever its files' times.
    for (ShaderProgram* program : ShaderProgram::allPrograms) program->built = false;
    Show::Instance().shaderWatch = true;
    // Content loads on the watcher thread, as after a save.
    if (watcher) watcher->RequestFullReload();
}

bool AuthorControls::OnKey(const WindowEvent& event) {
    const Key key = event.key;
    const double t = music.PositionSeconds();
    switch (key) {
    case Key::Space:
        if (event.repeat) return true;  // a held Space toggles once
        SetPaused(!music.Paused());
        return true;
    case Key::Left:
    case Key::Right: {
        const double step = event.shift ? kFineSeekStep : kSeekStep;
        SeekTo(t + (key == Key::Left ? -step : step));
        loopShot = -1;  // the loop follows the shot the seek lands in
        return true;
    }
    case Key::Comma:
    case Key::Period:
        // Playing, the key pauses first: the step then starts from the
        // frame the author saw.
        if (!music.Paused()) SetPaused(true);
        StepKeyFrame(key == Key::Period ? 1 : -1);
        return true;
    case Key::I:
        if (!event.repeat) SetLoopIn(t);
        return true;
    case Key::O:
        if (!event.repeat) SetLoopOut(t);
        return true;
    case Key::L:
        loopIn = loopOut = -1;
        UpdateHoldAtEnd();
        return true;
    case Key::F5:
        if (!event.repeat) ReloadEverything();
        return true;
    case Key::Up:
    case Key::Down: {
        std::shared_ptr<Timeline::EntryList> entries = Timeline::Instance().Current();
        int current = ShotAt(*entries, t);
        int target = -1;
        if (current >= 0) {
            target = current + (key == Key::Up ? -1 : 1);
        } else if (key == Key::Down) {  // in a gap: the next shot to start
            for (size_t i = 0; i < entries->size(); ++i)
                if ((*entries)[i].timeStart > t && (target < 0 || (*entries)[i].timeStart < (*entries)[target].timeStart))
                    target = static_cast<int>(i);
        } else {  // in a gap: the last shot to have started
            for (size_t i = 0; i < entries->size(); ++i)
                if ((*entries)[i].timeStart <= t && (target < 0 || (*entries)[i].timeStart >= (*entries)[target].timeStart))
                    target = static_cast<int>(i);
        }
        JumpToShot(*entries, target);
        return true;
    }
    default:
        return false;
    }
}

void AuthorControls::AfterFrame(Window& window) {
    double t = music.PositionSeconds();
    // One snapshot of the running order for the whole pass.
    std::shared_ptr<Timeline::EntryList> entries = Timeline::Instance().Current();
    // Before the music starts its position says nothing of the shot to come;
    // --shot hands over the one it started at.
    const bool started = Show::Instance().playing.load();
    if (const int handed = startedShot.exchange(-1); handed >= 0) loopShot = handed;

    // A loop range: back to its in point once the music reaches the out
    // point (or its end). It stands in for --loop while it is set.
    if (LoopRangeSet()) {
        if (t >= loopOut || music.HeldAtEnd()) {
            SeekTo(loopIn);
            t = music.PositionSeconds();
        }
    } else if (options.loop && loopShot >= 0 && static_cast<size_t>(loopShot) < entries->size()) {
        // --loop: back to the start of the shot the music has just left, or
        // that the music's end has cut short.
        const TimelineEntry& entry = (*entries)[static_cast<size_t>(loopShot)];
        if (t >= static_cast<double>(entry.timeStart + entry.duration) || music.HeldAtEnd()) {
            SeekTo(entry.timeStart);
            t = music.PositionSeconds();
        }
    }
    const int shot = ShotAt(*entries, t);
    if (started && shot >= 0 && loopShot != shot && (loopShot < 0 || !options.loop)) loopShot = shot;
    // Nothing to repeat at the end: the music ends as it would without --loop.
    if (options.loop && !LoopRangeSet() && music.HeldAtEnd() && loopShot < 0) music.SetHoldAtEnd(false);

    ++frames;
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - fpsSince).count();
    if (elapsed >= 0.5) {
        fps = frames / elapsed;
        frames = 0;
        fpsSince = now;
    }

    text.clear();
    text += title;
    text += ' ';
    AppendClock(text, t);
    if (shot >= 0) {
        const TimelineEntry& entry = (*entries)[static_cast<size_t>(shot)];
        Append(text, " shot %d ", shot + 1);
        text += entry.sceneName;
        text += ' ';
        text += entry.cameraName;
        // The key frame at the title's time, in whole frames as keys are written.
        const float frame = std::floor(KeyFrameAt(entry, t));
        if (std::isfinite(frame) && std::fabs(frame) < 1e15f) Append(text, " frame %lld", static_cast<long long>(frame));
    } else {
        text += " no shot";
    }
    // Whole frames a second, tenths where a frame takes longer than a tenth.
    Append(text, fps < 10 ? " %.1f fps" : " %.0f fps", fps);
    if (music.Paused()) text += " paused";
    // A range, or the one point set so far (which loops nothing yet).
    if (LoopRangeSet()) {
        text += " loop ";
        AppendClock(text, loopIn);
        text += '-';
        AppendClock(text, loopOut);
    } else if (loopIn >= 0) {
        text += " loop in ";
        AppendClock(text, loopIn);
    } else if (loopOut >= 0) {
        text += " loop out ";
        AppendClock(text, loopOut);
    } else if (options.loop) {
        text += " loop";
    }
    if (freeView) text += " free";
    if (text != shownTitle) {
        window.SetTitle(text);
        shownTitle = text;
    }
}

std::string AuthorControls::ViewXml(const CameraView& view) {
    const double t = music.PositionSeconds();
    std::shared_ptr<Timeline::EntryList> entries = Timeline::Instance().Current();
    const int shot = ShotAt(*entries, t);
    if (shot < 0) return {};
    const TimelineEntry& entry = (*entries)[static_cast<size_t>(shot)];
    const float frame = std::floor(KeyFrameAt(entry, t));
    const long long keyFrame = std::isfinite(frame) && std::fabs(frame) < 1e15f ? static_cast<long long>(frame) : 0;
    return CameraViewXml(view, entry.cameraName, keyFrame, t,
                         "shot " + std::to_string(shot + 1) + " (" + entry.sceneName + " " + entry.cameraName + ")");
}

}  // namespace caldera
