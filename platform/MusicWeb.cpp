#include "platform/Music.h"

#include <emscripten/emscripten.h>

#include <utility>

// The soundtrack in a browser: the page decodes music.mp3 with Web Audio
// (Module.demoAudio: the AudioContext, started from the viewer's click, and
// the decoded buffer); this plays it and reads the position being heard. The
// browser's audio runs on its own: nothing here needs a thread, and the end
// arrives as a call on the main thread.

namespace caldera {

namespace {

// The player's one soundtrack, for the end call from the page.
Music::Impl* playing = nullptr;

EM_JS(int, WebMusicOpen, (), {
    const audio = Module.demoAudio;
    if (!audio || !audio.context || !audio.buffer) return 0;
    Module.demoMusic = {source: null, origin: 0, pausedAt: 0, paused: false, started: false,
                        ended: false, hold: false, heard: 0};
    return 1;
});

// Starts the buffer at `offset` seconds; the clock's origin is the context
// time at which position 0 would have played.
EM_JS(void, WebMusicStartAt, (double offset), {
    const audio = Module.demoAudio, music = Module.demoMusic;
    if (music.source) {
        music.source.onended = null;
        try { music.source.stop(); } catch (e) {}
        music.source.disconnect();
    }
    const source = audio.context.createBufferSource();
    source.buffer = audio.buffer;
    source.connect(audio.context.destination);
    source.onended = () => {
        if (music.source !== source) return;
        music.ended = true;
        if (!music.hold) Module._demo_music_ended();
    };
    const now = audio.context.currentTime;
    source.start(now, offset);
    music.source = source;
    music.origin = now - offset;
    music.heard = offset;
    music.started = true;
    music.ended = false;
});

// The position being heard: the context time now at the speakers (the
// output timestamp, moved on by the time since it was taken), else the
// context time less the output latency. Never back, never past the end.
EM_JS(double, WebMusicPosition, (), {
    const audio = Module.demoAudio, music = Module.demoMusic;
    if (!music || !music.started) return 0;
    if (music.paused) return music.pausedAt;
    const context = audio.context;
    let heard = -1;
    if (context.getOutputTimestamp) {
        const stamp = context.getOutputTimestamp();
        if (stamp.contextTime > 0 && stamp.performanceTime > 0)
            heard = stamp.contextTime + Math.max(0, performance.now() - stamp.performanceTime) / 1000;
    }
    if (heard < 0) heard = context.currentTime - (context.outputLatency || context.baseLatency || 0);
    // The extrapolation runs on between the context's own steps.
    heard = Math.min(heard, context.currentTime + 0.1);
    let position = Math.min(Math.max(heard - music.origin, 0), audio.buffer.duration);
    if (music.ended) position = audio.buffer.duration;
    if (position < music.heard) position = music.heard;
    music.heard = position;
    return position;
});

// Suspending the context stops the sound and its clock together; the
// position stands at `at` meanwhile.
EM_JS(void, WebMusicPause, (int pause, double at), {
    const audio = Module.demoAudio, music = Module.demoMusic;
    if (!music || !!pause === music.paused) return;
    if (pause) {
        music.pausedAt = at;
        music.paused = true;
        audio.context.suspend();
    } else {
        music.paused = false;
        audio.context.resume();
    }
});

EM_JS(void, WebMusicClose, (), {
    const music = Module.demoMusic;
    if (!music) return;
    if (music.source) {
        music.source.onended = null;
        try { music.source.stop(); } catch (e) {}
        music.source.disconnect();
    }
    Module.demoMusic = null;
});

EM_JS(double, WebMusicLength, (), {
    const audio = Module.demoAudio;
    return audio && audio.buffer ? audio.buffer.duration : -1;
});

}  // namespace

struct Music::Impl {
    bool open = false;
    bool started = false;
    bool paused = false;  // asked for before Play: Play starts paused
    bool hold = false;
    bool ended = false;
    std::function<void()> onEnd;
};

}  // namespace caldera

using caldera::playing;

// Called by the page's end handler (only while the music is not held).
extern "C" EMSCRIPTEN_KEEPALIVE void demo_music_ended() {
    if (!playing || playing->ended) return;
    playing->ended = true;
    if (playing->onEnd) playing->onEnd();
}

namespace caldera {

Music::Music() : impl(std::make_unique<Impl>()) {}
Music::~Music() { Close(); }

bool Music::Open(const std::string&, int, int) {
    Close();
    impl->open = WebMusicOpen() != 0;
    if (impl->open) playing = impl.get();
    return impl->open;
}

void Music::Play() {
    if (!impl->open || impl->started) return;
    impl->started = true;
    WebMusicStartAt(0);
    if (impl->paused) WebMusicPause(1, 0);
}

void Music::SetEndCallback(std::function<void()> callback) { impl->onEnd = std::move(callback); }

double Music::PositionSeconds() const {
    if (!impl->open) return -1;
    return impl->started ? WebMusicPosition() : 0;
}

bool Music::IsOpen() const { return impl->open; }
bool Music::IsSilent() const { return false; }
bool Music::Ended() const { return impl->ended; }

void Music::Close() {
    if (!impl->open) return;
    WebMusicClose();
    if (playing == impl.get()) playing = nullptr;
    *impl = Impl{};
}

void Music::SetPaused(bool paused) {
    if (impl->started) WebMusicPause(paused ? 1 : 0, PositionSeconds());
    impl->paused = paused;
}

bool Music::Paused() const { return impl->paused; }

bool Music::Seek(double seconds) {
    if (!impl->open || seconds < 0) return false;
    const double length = WebMusicLength();
    impl->started = true;
    if (seconds >= length) {
        // Past the end: the music ends (or stands at its end while held).
        WebMusicStartAt(length);
        if (!impl->hold) demo_music_ended();
        return true;
    }
    impl->ended = false;
    if (impl->paused) WebMusicPause(0, 0);
    WebMusicStartAt(seconds);
    if (impl->paused) WebMusicPause(1, seconds);
    return true;
}

void Music::SetHoldAtEnd(bool hold) {
    impl->hold = hold;
    EM_ASM({ if (Module.demoMusic) Module.demoMusic.hold = !!$0; }, hold ? 1 : 0);
    if (!hold && WebMusicLength() > 0 && EM_ASM_INT({ return Module.demoMusic && Module.demoMusic.ended ? 1 : 0; }))
        demo_music_ended();
}

bool Music::HeldAtEnd() const {
    return impl->hold && EM_ASM_INT({ return Module.demoMusic && Module.demoMusic.ended ? 1 : 0; }) != 0;
}

double MusicLengthSeconds(const std::string&) { return WebMusicLength(); }

}  // namespace caldera
