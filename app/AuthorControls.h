#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "app/PlayerOptions.h"
#include "playback/FrameDriver.h"
#include "playback/Timeline.h"
#include "platform/Window.h"
#include "playback/FrameClock.h"

namespace caldera {

class Music;
class Watcher;

// The player's author mode (PlayerOptions::author): start position, shot
// and range loops, pause, seek, key frame step and reload keys and the
// status title. Exists only when an author
// option was given; the player without options never makes one.
class AuthorControls {
public:
    AuthorControls(const PlayerOptions& options, Music& music, std::string title);
    // Gives the renderer back its own frame clock.
    ~AuthorControls();
    AuthorControls(const AuthorControls&) = delete;
    AuthorControls& operator=(const AuthorControls&) = delete;

    // After the music is opened, before anything plays: --start, and the
    // frame clock that stops with a pause. Entry thread, before the render
    // loop starts.
    void Begin();
    // In StartMusic, before the music plays: --shot, which needs the running
    // order (loaded by then). Watcher thread.
    void BeforeMusicStarts();
    // The watcher F5 asks for a full reload; set before the render loop.
    void SetWatcher(Watcher* watcher) { this->watcher = watcher; }
    // Space (pause), Left/Right (seek 5 s, 1 s with Shift), Up/Down (shot),
    // Comma/Period (key frame step), I/O/L (loop range), F5 (reload all);
    // true when the key was one of them. Render thread.
    bool OnKey(const WindowEvent& event);
    // Once per pass of the render loop: the loops' jumps back and the title
    // "<title> 1:05.3 shot 2 room front frame 126 60 fps paused loop
    // 1:02.0-1:05.0". Render thread.
    void AfterFrame(Window& window);

    // `view` as camera XML to paste, keyed at the key frame of the shot the
    // music is in now and named after its camera; empty when no shot covers
    // the music's position. Render thread.
    std::string ViewXml(const CameraView& view);
    // The last status the title showed, without the production's title.
    std::string Status() const { return shownTitle.size() > title.size() ? shownTitle.substr(title.size() + 1) : ""; }

    // Set by the player while the free camera is on: the title says so.
    bool freeView = false;

private:
    // The index in `entries` of the entry shown at `t` (the first in file
    // order whose scene and camera resolve), or -1. Callers index the same
    // snapshot: the watcher may publish a new running order at any moment.
    static int ShotAt(const Timeline::EntryList& entries, double t);
    void SeekTo(double seconds);
    void JumpToShot(const Timeline::EntryList& entries, int index);
    void SetPaused(bool pause);
    // One key frame on (+1) or back (-1) from the music time; see the .cpp.
    void StepKeyFrame(int direction);
    // I, O and L: a point at the music time, or none.
    void SetLoopIn(double t);
    void SetLoopOut(double t);
    bool LoopRangeSet() const { return loopIn >= 0 && loopOut > loopIn; }
    // The music holds its end while a loop may still take it back.
    void UpdateHoldAtEnd();
    void ReloadEverything();

    // The frame time particles move by: steady time that stands still while
    // the production is paused, so the picture stops with the music.
    class PausableClock : public FrameClock {
    public:
        int64_t NowMicroseconds() override;
        void SetPaused(bool paused);
        // While paused: moves the standing time on, so that the next frame
        // moves particles by `microseconds` (a key frame step).
        void Advance(int64_t microseconds);

    private:
        SteadyFrameClock steady;
        bool paused = false;
        int64_t pausedAt = 0;
        int64_t pausedTotal = 0;
    };

    const PlayerOptions options;
    PausableClock frameClock;  // render thread only
    Music& music;
    const std::string title;
    Watcher* watcher = nullptr;

    // The shot --shot started at, handed from the watcher thread (which
    // starts the music) to the render thread; -1 when none is waiting.
    std::atomic<int> startedShot{-1};

    // Render thread only.
    int loopShot = -1;  // the shot --loop repeats; -1 until one is shown
    // The loop range's points in music seconds, negative when unset; with
    // both set, in < out (setting one past the other drops the other).
    double loopIn = -1;
    double loopOut = -1;
    int frames = 0;
    std::chrono::steady_clock::time_point fpsSince = std::chrono::steady_clock::now();
    double fps = 0;
    std::string shownTitle;
    std::string text;  // the title being built, reused so a frame allocates nothing
};

}  // namespace caldera
