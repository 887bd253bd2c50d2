#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace caldera {

// The music clock the frame driver reads. The capture tool drives its own.
class MusicClock {
public:
    virtual ~MusicClock() = default;
    // Seconds of music played so far; negative while no music could be opened.
    virtual double PositionSeconds() const = 0;
};

// The soundtrack: an MP3 stream decoded while it plays and sent to the default
// audio device. Opened on the entry thread, started once from the watcher
// thread, its position read on the render thread, its end reported on the
// audio thread.
class Music : public MusicClock {
public:
    Music();
    ~Music() override;
    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // Opens the stream without decoding it whole, so a long file does not stall
    // start-up. Opens the audio device at `frequency` Hz (device -1: the
    // default one); without any device a silent real-time clock stands in.
    // Returns false when the file cannot be opened or decoded: the position then
    // stays negative, Play does nothing and the end is never reported.
    bool Open(const std::string& path, int device = -1, int frequency = 44100);

    // Starts playback; later calls do nothing.
    void Play();

    // Called once, on an audio thread, when the last sample has been played.
    void SetEndCallback(std::function<void()> callback);

    double PositionSeconds() const override;
    bool IsOpen() const;
    bool IsSilent() const;  // true when the silent clock stands in for a device
    bool Ended() const;

    // Stops the device and the decoder; the end callback is not called afterwards.
    void Close();

    // Author controls (the player's author mode; a production played without
    // options never calls them). Any thread.
    // Pauses or resumes the sound and the clock together; may be called before
    // Play, which then starts paused.
    void SetPaused(bool paused);
    bool Paused() const;
    // Moves the stream and the clock to `seconds` (0 or later); a time past the
    // end of the music ends it. False when nothing is open or the decoder
    // cannot seek.
    bool Seek(double seconds);
    // While held, the music stays at its end (silent, the clock standing)
    // instead of ending, until a seek brings it back or the hold is let go.
    void SetHoldAtEnd(bool hold);
    bool HeldAtEnd() const;  // the end is reached and held

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

// The length of the MP3 file at `path` in seconds, found by scanning its
// frames; negative when it cannot be opened or decoded. Any thread.
double MusicLengthSeconds(const std::string& path);

}  // namespace caldera
