#include "platform/Music.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "platform/Log.h"

namespace caldera {

// How it works
// ------------
// One decode path feeds everything: mpg123 decodes the file a little at a time
// to 16-bit stereo at the file's own rate, and an SDL_AudioStream converts that
// to the output rate (the device's, or the requested one for the silent clock).
// Exactly one consumer pulls from it: the SDL audio callback, or, without a
// device, a worker thread that pulls at real-time pace and discards the samples.
//
// Each pull (a "delivery") publishes a small clock snapshot under clockMutex:
//   base  = frames delivered before this delivery (played by now),
//   cap   = frames delivered including this one,
//   stamp = steady_clock time the delivery started.
// PositionSeconds() = min(base + (now - stamp) * rate, cap) / rate.
// A later snapshot's base equals the earlier one's cap, so the position never
// goes backwards, and between deliveries it advances smoothly with the clock.
//
// When the decoder runs dry the consumer marks the stream drained. The worker
// thread (present in both modes) then waits until the position reaches the
// last delivered frame, sets Ended and calls the end callback with no lock held.

namespace {

// A regular file, checked without blocking on a FIFO.
bool IsPlayableFile(const std::string& path) {
    uint64_t size = 0;
    std::string error;
    std::FILE* file = OpenRegularFile(path, size, error);
    if (!file) return false;
    std::fclose(file);
    return true;
}


using Clock = std::chrono::steady_clock;

constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * static_cast<int>(sizeof(int16_t));  // S16 stereo
constexpr auto kSilentTick = std::chrono::milliseconds(10);
constexpr int kMaxEmptyReads = 64;  // mpg123_read calls yielding nothing before giving up
constexpr int kFlushPaddingFrames = 4096;  // silence after the music: covers SDL's flush loss

void InitMpg123Once() {
    // mpg123_init is a no-op on current libmpg123 but required by older ones;
    // a function-local static makes it run once, thread-safely.
    static const int result = mpg123_init();
    (void)result;
}

// Roughly 25 ms per device buffer, as a power of two (1024 frames at 44.1/48 kHz).
Uint16 BufferFrames(int frequency) {
    int frames = 256;
    while (frames * 2 <= frequency / 40 && frames < 8192) frames *= 2;
    return static_cast<Uint16>(frames);
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

struct Music::Impl {
    // ---- Control: Open / Play / Close (entry and watcher threads). ----
    std::mutex control;
    // Held by the silent clock around each Pull and by Seek: without a device
    // nothing else keeps a seek from moving the decoder under a Pull.
    std::mutex pullMutex;
    SDL_AudioDeviceID device = 0;
    bool audioInitialised = false;
    std::thread worker;
    bool silentMode = false;  // set before the worker starts; read by it

    // ---- Decoder: set up by Open before any consumer runs, then touched only
    // by the one consumer (audio callback or silent worker), torn down by Close
    // after the consumer has stopped. ----
    mpg123_handle* decoder = nullptr;
    SDL_AudioStream* converter = nullptr;
    long sourceRate = 0;
    int outputRate = 44100;
    long pendingRate = 0;        // a mid-stream rate change waiting for the converter to drain
    int64_t segmentIn = 0;       // frames put into the converter since it was made
    int64_t segmentOut = 0;      // frames taken out of it
    int64_t segmentLimit = -1;   // frames the segment converts to, once its input has ended
    bool decoderDone = false;
    bool exhausted = false;      // nothing more will come out of Pull
    int emptyReads = 0;
    std::vector<unsigned char> decodeBuffer;
    std::atomic<int> decodeError{MPG123_OK};  // logged by the worker, never by the callback

    // ---- State flags, readable from any thread. ----
    std::atomic<bool> hasClock{false};  // a stream was opened: the position is >= 0
    std::atomic<bool> open{false};
    std::atomic<bool> silent{false};
    std::atomic<bool> ended{false};

    // ---- The clock, guarded by clockMutex (also the worker's wake-up). ----
    mutable std::mutex clockMutex;
    std::condition_variable wake;
    double rate = 44100.0;      // output frames per second
    double baseFrames = 0;      // exact integers while playing; doubles for the arithmetic
    double capFrames = 0;
    Clock::time_point stamp{};
    bool playing = false;
    bool drained = false;
    bool holdEnd = false;    // SetHoldAtEnd; under clockMutex
    bool heldAtEnd = false;  // the worker waits at the end; under clockMutex
    bool stopping = false;
    bool paused = false;        // author mode: the clock reads pausedFrames
    double pausedFrames = 0;

    // ---- End callback. ----
    std::mutex callbackMutex;
    std::function<void()> onEnd;

    // Fills up to `frames` output frames; returns how many it produced. Fewer
    // than asked means the stream is over (end of file or a decode error).
    int Pull(unsigned char* out, int frames);
    void EndSegment();
    // Publishes a delivery of `frames` frames that started at `when`.
    void Publish(Clock::time_point when, int64_t frames, bool lastDelivery);
    void RunWorker();
    void RunSilentClock(std::unique_lock<std::mutex>& lock);
    void ReleaseDecoder();
    void Shutdown();

    static void SDLCALL AudioCallback(void* userdata, Uint8* stream, int len);
};

// Ends the converter's current segment (end of file or a rate change). SDL's
// resampling stream drops part of its tail on flush, so silence is put after
// the music and the segment is cut at exactly the converted length of what was
// decoded.
void Music::Impl::EndSegment() {
    static const unsigned char kSilence[kFlushPaddingFrames * kFrameBytes] = {};
    SDL_AudioStreamPut(converter, kSilence, static_cast<int>(sizeof(kSilence)));
    SDL_AudioStreamFlush(converter);
    segmentLimit = static_cast<int64_t>(
        std::llround(static_cast<double>(segmentIn) * outputRate / static_cast<double>(sourceRate)));
}

int Music::Impl::Pull(unsigned char* out, int frames) {
    if (exhausted || frames <= 0) return 0;
    const int wanted = frames * kFrameBytes;
    int got = 0;
    while (got < wanted) {
        int available = SDL_AudioStreamAvailable(converter) / kFrameBytes * kFrameBytes;
        int take = std::min(available, wanted - got);
        if (segmentLimit >= 0)
            take = static_cast<int>(std::min<int64_t>(take, (segmentLimit - segmentOut) * kFrameBytes));
        if (take > 0) {
            int n = SDL_AudioStreamGet(converter, out + got, take) / kFrameBytes * kFrameBytes;
            if (n <= 0) {  // conversion failure: the music ends here
                decodeError.store(MPG123_ERR);
                break;
            }
            got += n;
            segmentOut += n / kFrameBytes;
            continue;
        }
        if (segmentLimit >= 0) {
            // The segment has been delivered (the padding after it is dropped).
            if (pendingRate == 0) break;  // end of the music
            SDL_FreeAudioStream(converter);
            converter = SDL_NewAudioStream(AUDIO_S16SYS, kChannels, static_cast<int>(pendingRate),
                                           AUDIO_S16SYS, kChannels, outputRate);
            sourceRate = pendingRate;
            pendingRate = 0;
            segmentIn = segmentOut = 0;
            segmentLimit = -1;
            if (!converter) {
                decodeError.store(MPG123_ERR);
                break;
            }
            continue;
        }
        if (decoderDone) {
            EndSegment();
            continue;
        }
        size_t done = 0;
        int err = mpg123_read(decoder, decodeBuffer.data(), decodeBuffer.size(), &done);
        done = done / kFrameBytes * kFrameBytes;
        if (done > 0) {
            emptyReads = 0;
            if (SDL_AudioStreamPut(converter, decodeBuffer.data(), static_cast<int>(done)) != 0) {
                decodeError.store(MPG123_ERR);
                decoderDone = true;
            } else {
                segmentIn += static_cast<int64_t>(done / kFrameBytes);
            }
        } else if (++emptyReads > kMaxEmptyReads) {
            decoderDone = true;
        }
        if (err == MPG123_DONE) {
            decoderDone = true;
        } else if (err == MPG123_NEW_FORMAT) {
            long newRate = 0;
            int channels = 0, encoding = 0;
            if (mpg123_getformat(decoder, &newRate, &channels, &encoding) != MPG123_OK || newRate <= 0 ||
                channels != kChannels || encoding != MPG123_ENC_SIGNED_16) {
                decodeError.store(MPG123_BAD_OUTFORMAT);
                decoderDone = true;
            } else if (newRate != sourceRate) {
                pendingRate = newRate;
                EndSegment();
            }
        } else if (err != MPG123_OK) {
            // A file that fails to decode mid-way ends there.
            decodeError.store(err);
            decoderDone = true;
        }
    }
    if (got < wanted) exhausted = true;
    return got / kFrameBytes;
}

void Music::Impl::Publish(Clock::time_point when, int64_t frames, bool lastDelivery) {
    bool notify = false;
    {
        std::lock_guard<std::mutex> lock(clockMutex);
        if (stopping) return;
        baseFrames = capFrames;
        capFrames += static_cast<double>(frames);
        stamp = when;
        if (lastDelivery && !drained) {
            drained = true;
            notify = true;
        }
    }
    if (notify) wake.notify_all();
}

void SDLCALL Music::Impl::AudioCallback(void* userdata, Uint8* stream, int len) {
    auto* impl = static_cast<Impl*>(userdata);
    const Clock::time_point when = Clock::now();
    const int frames = len / kFrameBytes;
    const int got = impl->Pull(stream, frames);
    std::memset(stream + got * kFrameBytes, 0, static_cast<size_t>(len - got * kFrameBytes));
    impl->Publish(when, got, got < frames);
}

void Music::Impl::RunSilentClock(std::unique_lock<std::mutex>& lock) {
    wake.wait(lock, [this] { return stopping || playing; });
    if (stopping) return;
    const double outRate = rate;
    lock.unlock();

    // Each tick delivers the music for the next 10 ms, like a device buffer.
    std::vector<unsigned char> scratch(4096 * kFrameBytes);
    const int scratchFrames = 4096;
    Clock::time_point start = Clock::now();
    Clock::time_point tick = start;
    int64_t delivered = 0;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const int64_t target = static_cast<int64_t>(Seconds(now - start + kSilentTick) * outRate);
        int64_t wanted = std::max<int64_t>(0, target - delivered);
        int64_t got = 0;
        bool over = false;
        {
            std::lock_guard<std::mutex> pull(pullMutex);
            while (got < wanted) {
                int chunk = static_cast<int>(std::min<int64_t>(wanted - got, scratchFrames));
                int n = Pull(scratch.data(), chunk);
                got += n;
                if (n < chunk) {
                    over = true;
                    break;
                }
            }
        }
        delivered += got;
        Publish(now, got, over);

        lock.lock();
        if (over || stopping) return;
        tick += kSilentTick;
        if (tick < now - std::chrono::milliseconds(100)) tick = now;  // long stall: don't spin to catch up
        if (wake.wait_until(lock, tick, [this] { return stopping || paused; }) && stopping) return;
        if (paused) {
            wake.wait(lock, [this] { return stopping || !paused; });
            if (stopping) return;
            // The pace starts again from here.
            start = Clock::now();
            tick = start;
            delivered = 0;
        }
        lock.unlock();
    }
}

void Music::Impl::RunWorker() {
    std::unique_lock<std::mutex> lock(clockMutex);
    for (;;) {
        if (silentMode) {
            RunSilentClock(lock);  // returns with the lock held
        } else {
            wake.wait(lock, [this] { return stopping || drained; });
        }
        if (stopping) return;

        // Drained: wait until the last delivered frame has been played. A
        // pause holds the end back; a seek (author mode) brings music again.
        while (!stopping && drained) {
            if (paused) {
                wake.wait(lock, [this] { return stopping || !paused || !drained; });
                continue;
            }
            Clock::time_point reach =
                stamp + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>((capFrames - baseFrames) / rate));
            if (Clock::now() >= reach) {
                if (!holdEnd) break;
                heldAtEnd = true;
                wake.wait(lock, [this] { return stopping || !drained || !holdEnd; });
                heldAtEnd = false;
                continue;
            }
            wake.wait_until(lock, reach);
        }
        if (stopping) return;
        if (drained) break;
    }
    ended.store(true);
    lock.unlock();

    int error = decodeError.load();
    if (error != MPG123_OK) Log(3, "Music: decoding stopped early: %s", mpg123_plain_strerror(error));

    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> guard(callbackMutex);
        callback = onEnd;
    }
    if (callback) callback();
}

void Music::Impl::ReleaseDecoder() {
    if (converter) SDL_FreeAudioStream(converter);
    converter = nullptr;
    if (decoder) {
        mpg123_close(decoder);
        mpg123_delete(decoder);
    }
    decoder = nullptr;
    decodeBuffer.clear();
    decodeBuffer.shrink_to_fit();
}

// Caller holds `control`.
void Music::Impl::Shutdown() {
    {
        // Stop publishing and freeze the position at what has been delivered,
        // which is never below a value already reported.
        std::lock_guard<std::mutex> lock(clockMutex);
        stopping = true;
        baseFrames = capFrames;
        stamp = Clock::now();
    }
    wake.notify_all();
    if (device != 0) {
        SDL_CloseAudioDevice(device);  // waits for the audio thread: no callback after this
        device = 0;
    }
    // Close called from the end callback runs on the worker itself: its join
    // is left to the next Close, Open or the destructor.
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
    ReleaseDecoder();
    if (audioInitialised) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioInitialised = false;
    }
    open.store(false);
    silent.store(false);
}

Music::Music() : impl(std::make_unique<Impl>()) {}

Music::~Music() {
    Close();
    // Only reachable when the Music is destroyed from inside its own end
    // callback, which is not supported; avoid std::terminate at least.
    if (impl->worker.joinable()) impl->worker.detach();
}

bool Music::Open(const std::string& path, int device, int frequency) {
    std::lock_guard<std::mutex> control(impl->control);
    Impl& m = *impl;
    m.Shutdown();
    if (m.worker.joinable()) return false;  // re-opened from inside the end callback: refuse

    m.hasClock.store(false);
    m.ended.store(false);
    m.decodeError.store(MPG123_OK);
    m.sourceRate = m.pendingRate = 0;
    m.segmentIn = m.segmentOut = 0;
    m.segmentLimit = -1;
    m.decoderDone = m.exhausted = false;
    m.emptyReads = 0;
    m.silentMode = false;
    {
        std::lock_guard<std::mutex> lock(m.clockMutex);
        m.baseFrames = m.capFrames = 0;
        m.stamp = Clock::time_point{};
        m.playing = m.drained = m.stopping = m.paused = false;
        m.pausedFrames = 0;
    }

    // A FIFO or a device in the music's place would hold the decoder's open
    // for good.
    if (!IsPlayableFile(path)) {
        Log(3, "Music: %s is not a regular file", path.c_str());
        return false;
    }
    // The decoder: 16-bit stereo at whatever rate the file has. Nothing is
    // decoded here beyond the first frame header (no scan, no length query).
    InitMpg123Once();
    int err = MPG123_OK;
    m.decoder = mpg123_new(nullptr, &err);
    if (!m.decoder) {
        Log(3, "Music: cannot create the decoder: %s", mpg123_plain_strerror(err));
        return false;
    }
    mpg123_param(m.decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO, 0);
    mpg123_format_none(m.decoder);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(m.decoder, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    long fileRate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_open(m.decoder, path.c_str()) != MPG123_OK) {
        Log(3, "Music: cannot open %s: %s", path.c_str(), mpg123_strerror(m.decoder));
        m.ReleaseDecoder();
        return false;
    }
    if (mpg123_getformat(m.decoder, &fileRate, &channels, &encoding) != MPG123_OK || fileRate <= 0 ||
        channels != kChannels || encoding != MPG123_ENC_SIGNED_16) {
        Log(3, "Music: %s is not a playable MP3: %s", path.c_str(), mpg123_strerror(m.decoder));
        m.ReleaseDecoder();
        return false;
    }
    m.sourceRate = fileRate;
    size_t block = mpg123_outblock(m.decoder);
    m.decodeBuffer.resize(std::max<size_t>(block, 8192));

    // The device: requested rate (the device may pick its own; we convert to
    // it), S16 stereo. Without one, the silent clock stands in.
    const int wantedRate = frequency > 0 ? frequency : 44100;
    int outRate = wantedRate;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        m.audioInitialised = true;
        SDL_AudioSpec want{}, have{};
        want.freq = wantedRate;
        want.format = AUDIO_S16SYS;
        want.channels = kChannels;
        want.samples = BufferFrames(wantedRate);
        want.callback = &Impl::AudioCallback;
        want.userdata = &m;
        const char* name = device >= 0 ? SDL_GetAudioDeviceName(device, 0) : nullptr;
        m.device = SDL_OpenAudioDevice(name, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (m.device != 0 && have.freq > 0) {
            outRate = have.freq;
        } else if (m.device != 0) {
            SDL_CloseAudioDevice(m.device);
            m.device = 0;
        }
    }
    if (m.device == 0) {
        Log(3, "No audio device, playing silently (%s)", SDL_GetError());
        if (m.audioInitialised) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            m.audioInitialised = false;
        }
        m.silentMode = true;
    }

    m.converter = SDL_NewAudioStream(AUDIO_S16SYS, kChannels, static_cast<int>(fileRate), AUDIO_S16SYS,
                                     kChannels, outRate);
    if (!m.converter) {
        Log(3, "Music: cannot convert %ld Hz to %d Hz: %s", fileRate, outRate, SDL_GetError());
        m.Shutdown();
        return false;
    }
    m.outputRate = outRate;
    {
        std::lock_guard<std::mutex> lock(m.clockMutex);
        m.rate = outRate;
    }
    if (m.device != 0) {
        // The device is paused, so the callback only runs after Play; taking the
        // device lock once makes everything set up above visible to it.
        SDL_LockAudioDevice(m.device);
        SDL_UnlockAudioDevice(m.device);
    }
    m.worker = std::thread([&m] { m.RunWorker(); });
    m.silent.store(m.silentMode);
    m.open.store(true);
    m.hasClock.store(true);
    return true;
}

void Music::Play() {
    std::lock_guard<std::mutex> control(impl->control);
    if (!impl->open.load()) return;
    {
        std::lock_guard<std::mutex> lock(impl->clockMutex);
        if (impl->playing) return;
        impl->playing = true;
    }
    impl->wake.notify_all();
    bool paused;
    {
        std::lock_guard<std::mutex> lock(impl->clockMutex);
        paused = impl->paused;
    }
    if (impl->device != 0 && !paused) SDL_PauseAudioDevice(impl->device, 0);
}

void Music::SetEndCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(impl->callbackMutex);
    impl->onEnd = std::move(callback);
}

double Music::PositionSeconds() const {
    if (!impl->hasClock.load()) return -1.0;
    double base, cap, rate;
    Clock::time_point stamp;
    {
        std::lock_guard<std::mutex> lock(impl->clockMutex);
        if (impl->paused) return impl->pausedFrames / impl->rate;
        base = impl->baseFrames;
        cap = impl->capFrames;
        rate = impl->rate;
        stamp = impl->stamp;
    }
    double frames = cap;
    if (cap > base) {
        // The clock is read after the snapshot, so it is never before `stamp`.
        double elapsed = std::max(0.0, Seconds(Clock::now() - stamp));
        frames = std::min(base + elapsed * rate, cap);
    }
    return frames / rate;
}

bool Music::IsOpen() const { return impl->open.load(); }

bool Music::IsSilent() const { return impl->silent.load(); }

bool Music::Ended() const { return impl->ended.load(); }

void Music::Close() {
    std::lock_guard<std::mutex> control(impl->control);
    impl->Shutdown();
}

void Music::SetPaused(bool pause) {
    std::lock_guard<std::mutex> control(impl->control);
    Impl& m = *impl;
    bool playing;
    {
        std::lock_guard<std::mutex> lock(m.clockMutex);
        if (m.paused == pause) return;
        playing = m.playing;
        const Clock::time_point now = Clock::now();
        if (pause) {
            double frames = m.capFrames;
            if (m.capFrames > m.baseFrames)
                frames = std::min(m.baseFrames + std::max(0.0, Seconds(now - m.stamp)) * m.rate, m.capFrames);
            m.pausedFrames = frames;
            m.paused = true;
        } else {
            // The clock goes on from where it stood; what the device still
            // held when it paused plays first.
            m.baseFrames = m.pausedFrames;
            if (m.capFrames < m.baseFrames) m.capFrames = m.baseFrames;
            m.stamp = now;
            m.paused = false;
        }
    }
    m.wake.notify_all();
    if (m.device != 0 && playing) SDL_PauseAudioDevice(m.device, pause ? 1 : 0);
}

void Music::SetHoldAtEnd(bool hold) {
    {
        std::lock_guard<std::mutex> lock(impl->clockMutex);
        impl->holdEnd = hold;
    }
    impl->wake.notify_all();
}

bool Music::HeldAtEnd() const {
    std::lock_guard<std::mutex> lock(impl->clockMutex);
    return impl->heldAtEnd;
}

bool Music::Paused() const {
    std::lock_guard<std::mutex> lock(impl->clockMutex);
    return impl->paused;
}

bool Music::Seek(double seconds) {
    std::lock_guard<std::mutex> control(impl->control);
    Impl& m = *impl;
    if (!m.open.load() || !m.decoder) return false;
    if (!(seconds > 0.0)) seconds = 0.0;

    // Keep the consumer out while the decoder moves.
    if (m.device != 0) SDL_LockAudioDevice(m.device);
    bool ok;
    {
        std::lock_guard<std::mutex> pull(m.pullMutex);
        // Far past any music (and past what an off_t holds): the end.
        const double frame = std::min(seconds * static_cast<double>(m.sourceRate),
                                      static_cast<double>(std::numeric_limits<off_t>::max() / 2));
        const off_t wanted = static_cast<off_t>(frame);
        const off_t at = mpg123_seek(m.decoder, wanted, SEEK_SET);
        ok = at >= 0;
        if (ok) {
            SDL_AudioStreamClear(m.converter);
            m.segmentIn = m.segmentOut = 0;
            m.segmentLimit = -1;
            m.decoderDone = m.exhausted = false;
            m.emptyReads = 0;
            const double frames = std::floor(static_cast<double>(at) * m.outputRate / static_cast<double>(m.sourceRate));
            std::lock_guard<std::mutex> lock(m.clockMutex);
            m.baseFrames = m.capFrames = frames;
            m.stamp = Clock::now();
            m.pausedFrames = frames;
            m.drained = false;
        }
    }
    if (m.device != 0) SDL_UnlockAudioDevice(m.device);
    m.wake.notify_all();
    return ok;
}

double MusicLengthSeconds(const std::string& path) {
    if (!IsPlayableFile(path)) return -1.0;
    InitMpg123Once();
    int err = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &err);
    if (!decoder) return -1.0;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    double seconds = -1.0;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_open(decoder, path.c_str()) == MPG123_OK &&
        mpg123_getformat(decoder, &rate, &channels, &encoding) == MPG123_OK && rate > 0 &&
        mpg123_scan(decoder) == MPG123_OK) {
        const off_t samples = mpg123_length(decoder);
        if (samples >= 0) seconds = static_cast<double>(samples) / static_cast<double>(rate);
    }
    mpg123_close(decoder);
    mpg123_delete(decoder);
    return seconds;
}

}  // namespace caldera
