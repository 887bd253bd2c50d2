#include "app/AuthorControls.h"

#include "app/FreeCamera.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/Log.h"
#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "render/Renderer.h"
#include "platform/Music.h"
#include "playback/Timeline.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

constexpr double kSeekStep = 5.0;

std::string ClockText(double t) {
    if (t < 0) return "-:--.-";
    // Tenths, rounded down so that the title never runs ahead of the music.
    long tenths = static_cast<long>(std::floor(t * 10.0));
    char text[32];
    std::snprintf(text, sizeof(text), "%ld:%02ld.%ld", tenths / 600, (tenths / 10) % 60, tenths % 10);
    return text;
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

void AuthorControls::PausableClock::SetPaused(bool pause) {
    if (pause == paused) return;
    if (pause) pausedAt = steady.NowMicroseconds();
    else pausedTotal += steady.NowMicroseconds() - pausedAt;
    paused = pause;
}

void AuthorControls::Begin() {
    FrameDriver::Instance().frameClock = &frameClock;
    if (options.start >= 0) SeekTo(options.start);
    // The music stays at its end instead of ending the player while --loop
    // may still take it back to the start of the shot.
    if (options.loop) music.SetHoldAtEnd(true);
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

bool AuthorControls::OnKey(const WindowEvent& event) {
    const Key key = event.key;
    const double t = music.PositionSeconds();
    switch (key) {
    case Key::Space: {
        if (event.repeat) return true;  // a held Space toggles once
        const bool pause = !music.Paused();
        music.SetPaused(pause);
        frameClock.SetPaused(pause);
        return true;
    }
    case Key::Left:
    case Key::Right:
        SeekTo(t + (key == Key::Left ? -kSeekStep : kSeekStep));
        loopShot = -1;  // the loop follows the shot the seek lands in
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

    // --loop: back to the start of the shot the music has just left, or
    // that the music's end has cut short.
    if (options.loop && loopShot >= 0 && static_cast<size_t>(loopShot) < entries->size()) {
        const TimelineEntry& entry = (*entries)[static_cast<size_t>(loopShot)];
        if (t >= static_cast<double>(entry.timeStart + entry.duration) || music.HeldAtEnd()) {
            SeekTo(entry.timeStart);
            t = music.PositionSeconds();
        }
    }
    const int shot = ShotAt(*entries, t);
    if (started && shot >= 0 && loopShot != shot && (loopShot < 0 || !options.loop)) loopShot = shot;
    // Nothing to repeat at the end: the music ends as it would without --loop.
    if (options.loop && music.HeldAtEnd() && loopShot < 0) music.SetHoldAtEnd(false);

    ++frames;
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - fpsSince).count();
    if (elapsed >= 0.5) {
        fps = frames / elapsed;
        frames = 0;
        fpsSince = now;
    }

    std::string text = title + " " + ClockText(t);
    if (shot >= 0) {
        const TimelineEntry& entry = (*entries)[static_cast<size_t>(shot)];
        text += " shot " + std::to_string(shot + 1) + " " + entry.sceneName + " " + entry.cameraName;
        // The key frame at the title's time, in whole frames as keys are written.
        const float frame = std::floor(KeyFrameAt(entry, t));
        if (std::isfinite(frame) && std::fabs(frame) < 1e15f)
            text += " frame " + std::to_string(static_cast<long long>(frame));
    } else {
        text += " no shot";
    }
    char rate[32];
    // Whole frames a second, tenths where a frame takes longer than a tenth.
    std::snprintf(rate, sizeof(rate), fps < 10 ? " %.1f fps" : " %.0f fps", fps);
    text += rate;
    if (music.Paused()) text += " paused";
    if (options.loop) text += " loop";
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
