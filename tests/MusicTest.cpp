#include "platform/Music.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/Portable.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

// The test MP3s are committed sine tones (tests/fixtures/make-music.sh).
// SDL_AUDIODRIVER=dummy (set by demo_test) gives a device that consumes audio
// in real time without any sound hardware.

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Running the binary by hand: use the dummy device too.
        if (!std::getenv("SDL_AUDIODRIVER")) harness::SetEnv("SDL_AUDIODRIVER", "dummy");
        dir = harness::MakeTempFolder("music-test-");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // A copy of the fixture NAME-RATE-CHANNELS-SECONDS.mp3 in the test's folder.
    std::string MakeMp3(const std::string& name, int rate, int channels, double seconds) {
        char file[96];
        std::snprintf(file, sizeof(file), "%s-%d-%d-%.1f.mp3", name.c_str(), rate, channels, seconds);
        fs::path copy = dir / file;
        std::error_code ec;
        fs::copy_file(harness::Fixture(file), copy, ec);
        return ec ? std::string() : copy.string();
    }

    fs::path dir;
};

#define REQUIRE_MP3(var, ...)                 \
    const std::string var = MakeMp3(__VA_ARGS__); \
    ASSERT_FALSE(var.empty()) << "missing fixture"

// Counts end callbacks and remembers when and where the first came.
struct EndProbe {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    Clock::time_point when{};
    std::thread::id thread{};

    std::function<void()> Callback() {
        return [this] {
            std::lock_guard<std::mutex> lock(mutex);
            if (count++ == 0) {
                when = Clock::now();
                thread = std::this_thread::get_id();
            }
            cv.notify_all();
        };
    }
    bool Wait(double seconds) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return count > 0; });
    }
    int Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
};

void ExpectNotOpened(Music& music) {
    EXPECT_FALSE(music.IsOpen());
    EXPECT_LT(music.PositionSeconds(), 0.0);
    EXPECT_FALSE(music.Ended());
}

}  // namespace

TEST_F(MusicTest, MissingFileDoesNotOpen) {
    Music music;
    EXPECT_LT(music.PositionSeconds(), 0.0);  // never opened
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    EXPECT_FALSE(music.Open((dir / "no-such-file.mp3").string()));
    ExpectNotOpened(music);
    music.Play();  // does nothing
    SleepMs(50);
    ExpectNotOpened(music);
    EXPECT_EQ(probe.Count(), 0);
}

TEST_F(MusicTest, GarbageAndEmptyFilesDoNotOpen) {
    fs::path garbage = dir / "garbage.mp3";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 4000; ++i) out << "This is not an MP3 file, only text. ";
    }
    fs::path empty = dir / "empty.mp3";
    { std::ofstream out(empty, std::ios::binary); }

    for (const fs::path& path : {garbage, empty}) {
        SCOPED_TRACE(path.string());
        Music music;
        EndProbe probe;
        music.SetEndCallback(probe.Callback());
        EXPECT_FALSE(music.Open(path.string()));
        ExpectNotOpened(music);
        music.Play();
        SleepMs(30);
        ExpectNotOpened(music);
        EXPECT_EQ(probe.Count(), 0);
    }
}

TEST_F(MusicTest, AdvancesInRealTimeAndNeverBackwards) {
    REQUIRE_MP3(path, "tone", 44100, 2, 3.0);
    Music music;
    ASSERT_TRUE(music.Open(path));
    EXPECT_TRUE(music.IsOpen());
    EXPECT_FALSE(music.IsSilent());
    EXPECT_EQ(music.PositionSeconds(), 0.0);
    SleepMs(50);
    EXPECT_EQ(music.PositionSeconds(), 0.0) << "the position moved before Play";

    const Clock::time_point start = Clock::now();
    music.Play();
    double previous = 0.0;
    int samples = 0;
    while (Since(start) < 2.0) {
        double p = music.PositionSeconds();
        ASSERT_GE(p, previous) << "went backwards after " << samples << " samples";
        previous = p;
        ++samples;
        SleepMs(1);
    }
    const double wall = Since(start);
    const double position = music.PositionSeconds();
    std::printf("position %.4f s after %.4f s of wall time (%d samples)\n", position, wall, samples);
    EXPECT_NEAR(position, wall, 0.1);
    EXPECT_FALSE(music.Ended());
}

TEST_F(MusicTest, AdvancesSmoothlyBetweenCallbacks) {
    REQUIRE_MP3(path, "tone", 44100, 2, 1.5);
    Music music;
    ASSERT_TRUE(music.Open(path));
    music.Play();
    SleepMs(100);

    // Poll densely over several device buffers (a buffer is ~23 ms).
    struct Sample {
        double wall, position;
    };
    std::vector<Sample> samples;
    const Clock::time_point start = Clock::now();
    while (Since(start) < 0.3) {
        samples.push_back({Since(start), music.PositionSeconds()});
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_GT(samples.size(), 100u);

    int distinct = 1;
    double longestPlateau = 0, worstExcessStep = 0;
    double plateauStart = samples[0].wall;
    for (size_t i = 1; i < samples.size(); ++i) {
        const Sample& a = samples[i - 1];
        const Sample& b = samples[i];
        ASSERT_GE(b.position, a.position);
        if (b.position > a.position) {
            ++distinct;
            plateauStart = b.wall;
        }
        longestPlateau = std::max(longestPlateau, b.wall - plateauStart);
        // A step larger than the wall time between two samples is a jump.
        worstExcessStep = std::max(worstExcessStep, (b.position - a.position) - (b.wall - a.wall));
    }
    std::printf("%zu samples, %d distinct, longest plateau %.2f ms, worst jump beyond wall time %.2f ms\n",
                samples.size(), distinct, longestPlateau * 1e3, worstExcessStep * 1e3);
    EXPECT_GT(distinct, static_cast<int>(samples.size()) * 9 / 10);
    EXPECT_LT(longestPlateau, 0.008);
    EXPECT_LT(worstExcessStep, 0.008);
    // And it follows the wall clock over the window.
    EXPECT_NEAR(samples.back().position - samples.front().position,
                samples.back().wall - samples.front().wall, 0.03);
}

TEST_F(MusicTest, PositionIsMonotonicOnEveryThread) {
    REQUIRE_MP3(path, "tone", 44100, 2, 1.0);
    Music music;
    ASSERT_TRUE(music.Open(path));
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            double previous = music.PositionSeconds();
            while (!stop.load()) {
                double p = music.PositionSeconds();
                if (p < previous) failed.store(true);
                previous = p;
                std::this_thread::yield();
            }
        });
    }
    SleepMs(20);
    music.Play();
    SleepMs(400);
    stop.store(true);
    for (std::thread& t : readers) t.join();
    EXPECT_FALSE(failed.load());
}

TEST_F(MusicTest, EndCallbackFiresOnceAtTheEnd) {
    REQUIRE_MP3(path, "tone", 44100, 2, 1.0);
    Music music;
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    ASSERT_TRUE(music.Open(path));
    const Clock::time_point start = Clock::now();
    music.Play();
    ASSERT_TRUE(probe.Wait(4.0)) << "no end reported";
    const double at = std::chrono::duration<double>(probe.when - start).count();
    std::printf("end reported %.4f s after Play\n", at);
    EXPECT_NEAR(at, 1.0, 0.15);
    EXPECT_TRUE(music.Ended());
    EXPECT_NE(probe.thread, std::this_thread::get_id());
    EXPECT_NEAR(music.PositionSeconds(), 1.0, 0.03);
    SleepMs(300);
    EXPECT_EQ(probe.Count(), 1);
    EXPECT_NEAR(music.PositionSeconds(), 1.0, 0.03);  // stays at the end
    music.Close();
    EXPECT_EQ(probe.Count(), 1);
}

// The file's rate and channel count differ from the device's: it must still
// take its own duration to play.
struct FormatCase {
    int rate, channels;
};
void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.rate << " Hz x" << c.channels; }
class MusicFormatTest : public MusicTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(MusicFormatTest, PlaysAtTheRightSpeed) {
    const FormatCase c = GetParam();
    REQUIRE_MP3(path, "tone", c.rate, c.channels, 1.0);
    Music music;
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    ASSERT_TRUE(music.Open(path));
    // A rate read wrong shows either way: the clock runs ahead of the wall
    // clock, or the second of music ends at another position or too soon. A
    // busy machine can only make the music run late, never early, so only
    // the early side is bounded by the wall clock.
    const Clock::time_point start = Clock::now();
    music.Play();
    SleepMs(500);
    const double position = music.PositionSeconds();
    EXPECT_GT(position, 0.0);
    EXPECT_LE(position, Since(start) + 0.02) << "the clock runs ahead of real time";
    ASSERT_TRUE(probe.Wait(10.0));
    const double at = std::chrono::duration<double>(probe.when - start).count();
    std::printf("%d Hz, %d channel(s): ended at %.4f s, position %.4f s\n", c.rate, c.channels, at,
                music.PositionSeconds());
    EXPECT_GE(at, 0.95) << "a second of music ended early";
    EXPECT_NEAR(music.PositionSeconds(), 1.0, 0.02);
}

INSTANTIATE_TEST_SUITE_P(Formats, MusicFormatTest,
                         // MPEG-1 rates, so that lame's gapless header makes each
                         // file exactly one second long once decoded.
                         ::testing::Values(FormatCase{48000, 1}, FormatCase{48000, 2},
                                           FormatCase{32000, 1}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::to_string(info.param.rate) + "Hz" +
                                    (info.param.channels == 1 ? "Mono" : "Stereo");
                         });

TEST_F(MusicTest, PlayTwiceDoesNotRestart) {
    REQUIRE_MP3(path, "tone", 44100, 2, 2.0);
    Music music;
    ASSERT_TRUE(music.Open(path));
    music.Play();
    // A busy machine starts the audio late: wait for the clock, not a time.
    auto waitFor = [&](double seconds) {
        for (int i = 0; i < 500 && music.PositionSeconds() < seconds; ++i) SleepMs(10);
        return music.PositionSeconds();
    };
    const double before = waitFor(0.2);
    ASSERT_GE(before, 0.2);
    music.Play();
    // A restart would take the clock back to 0 at once.
    EXPECT_GE(music.PositionSeconds(), before);
    EXPECT_GE(waitFor(before + 0.03), before + 0.03);
}

TEST_F(MusicTest, SilentClockWithoutAudioDevice) {
    REQUIRE_MP3(path, "tone", 44100, 2, 1.0);
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    harness::SetEnv("SDL_AUDIODRIVER", "nosuchdriver");

    Music music;
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    std::string log;
    bool opened;
    {
        StdoutCapture capture;
        opened = music.Open(path);
        log = capture.Text();
    }
    harness::SetEnv("SDL_AUDIODRIVER", old ? saved.c_str() : nullptr);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(music.IsSilent());
    EXPECT_NE(log.find("No audio device, playing silently"), std::string::npos) << log;
    EXPECT_EQ(music.PositionSeconds(), 0.0);

    const Clock::time_point start = Clock::now();
    music.Play();
    double previous = 0;
    while (Since(start) < 0.5) {
        double p = music.PositionSeconds();
        ASSERT_GE(p, previous);
        previous = p;
        SleepMs(1);
    }
    EXPECT_NEAR(music.PositionSeconds(), Since(start), 0.05);
    ASSERT_TRUE(probe.Wait(4.0));
    const double at = std::chrono::duration<double>(probe.when - start).count();
    std::printf("silent clock: end reported %.4f s after Play\n", at);
    EXPECT_NEAR(at, 1.0, 0.1);
    EXPECT_TRUE(music.Ended());
    EXPECT_NEAR(music.PositionSeconds(), 1.0, 0.03);
    SleepMs(100);
    EXPECT_EQ(probe.Count(), 1);
}

TEST_F(MusicTest, CloseStopsEverything) {
    REQUIRE_MP3(path, "tone", 44100, 2, 0.6);
    Music music;
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    ASSERT_TRUE(music.Open(path));
    music.Play();
    SleepMs(200);
    music.Close();
    EXPECT_FALSE(music.IsOpen());
    const double frozen = music.PositionSeconds();
    EXPECT_GT(frozen, 0.15);
    SleepMs(700);  // past the end of the music
    EXPECT_EQ(probe.Count(), 0);
    EXPECT_FALSE(music.Ended());
    EXPECT_EQ(music.PositionSeconds(), frozen);
    music.Play();  // closed: nothing
    SleepMs(30);
    EXPECT_EQ(probe.Count(), 0);

    // Destroyed while playing, without Close; and re-opened on the same object.
    {
        Music other;
        ASSERT_TRUE(other.Open(path));
        other.Play();
        SleepMs(50);
    }
    ASSERT_TRUE(music.Open(path));
    EXPECT_EQ(music.PositionSeconds(), 0.0);
    EXPECT_FALSE(music.Ended());
}

TEST_F(MusicTest, CloseFromTheEndCallback) {
    REQUIRE_MP3(path, "tone", 44100, 2, 0.3);
    Music music;
    std::atomic<int> calls{0};
    std::atomic<bool> closed{false};
    music.SetEndCallback([&] {
        ++calls;
        music.Close();  // runs on the worker: its join is left to the next Close
        closed.store(true);
    });
    ASSERT_TRUE(music.Open(path));
    music.Play();
    const Clock::time_point start = Clock::now();
    while (!closed.load() && Since(start) < 3.0) SleepMs(5);
    EXPECT_TRUE(closed.load());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(music.IsOpen());
    EXPECT_TRUE(music.Ended());
    music.Close();  // joins the worker
    ASSERT_TRUE(music.Open(path));  // and the object is usable again
    EXPECT_TRUE(music.IsOpen());
}

TEST_F(MusicTest, TruncatedFileEndsWhereDecodingStops) {
    REQUIRE_MP3(path, "tone", 44100, 2, 2.0);
    fs::resize_file(path, fs::file_size(path) / 2 + 77);  // cut mid-frame
    Music music;
    EndProbe probe;
    music.SetEndCallback(probe.Callback());
    ASSERT_TRUE(music.Open(path));
    const Clock::time_point start = Clock::now();
    music.Play();
    ASSERT_TRUE(probe.Wait(4.0));
    const double at = std::chrono::duration<double>(probe.when - start).count();
    std::printf("truncated file: end reported %.4f s after Play, position %.4f s\n", at,
                music.PositionSeconds());
    EXPECT_GT(at, 0.7);
    EXPECT_LT(at, 1.4);
    EXPECT_NEAR(music.PositionSeconds(), at, 0.1);
    EXPECT_TRUE(music.Ended());
    SleepMs(100);
    EXPECT_EQ(probe.Count(), 1);
}

TEST_F(MusicTest, LongFileOpensWithoutDecodingItWhole) {
    // Ten minutes of 8 kHz mono: ten seconds encoded without a Xing/LAME header
    // (so nothing tells the decoder the length) and repeated 60 times.
    REQUIRE_MP3(piece, "piece", 8000, 1, 10.0);
    const fs::path longFile = dir / "long.mp3";
    {
        std::ifstream in(piece, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(longFile, std::ios::binary);
        for (int i = 0; i < 60; ++i) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Music music;
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(music.Open(longFile.string()));
    const double openSeconds = Since(start);
    std::printf("opening a 10-minute file (%ju bytes) took %.2f ms\n",
                static_cast<uintmax_t>(fs::file_size(longFile)), openSeconds * 1e3);
    RecordProperty("open_ms", std::to_string(openSeconds * 1e3));
    EXPECT_LT(openSeconds, 2.0);

    const Clock::time_point play = Clock::now();
    music.Play();
    SleepMs(300);
    EXPECT_NEAR(music.PositionSeconds(), Since(play), 0.1);
    const Clock::time_point close = Clock::now();
    music.Close();
    std::printf("closing it while playing took %.2f ms\n", Since(close) * 1e3);
}

// The player's author mode: a pause holds the sound and the clock, a seek moves
// both, with an audio device and with the silent clock alike.
TEST_F(MusicTest, PauseHoldsTheClockAndSeekMovesIt) {
    REQUIRE_MP3(path, "tone", 44100, 2, 3.0);
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    for (const char* driver : {"dummy", "nosuchdriver"}) {
        SCOPED_TRACE(driver);
        harness::SetEnv("SDL_AUDIODRIVER", driver);
        Music music;
        EndProbe probe;
        music.SetEndCallback(probe.Callback());
        bool opened;
        {
            StdoutCapture capture;  // the silent clock's notice
            opened = music.Open(path);
        }
        harness::SetEnv("SDL_AUDIODRIVER", old ? saved.c_str() : nullptr);
        ASSERT_TRUE(opened);
        EXPECT_EQ(music.IsSilent(), std::string(driver) != "dummy");

        // A seek before Play starts the music there.
        ASSERT_TRUE(music.Seek(1.0));
        EXPECT_NEAR(music.PositionSeconds(), 1.0, 0.03);
        music.Play();
        SleepMs(300);
        EXPECT_NEAR(music.PositionSeconds(), 1.3, 0.1);

        music.SetPaused(true);
        EXPECT_TRUE(music.Paused());
        const double held = music.PositionSeconds();
        SleepMs(400);
        EXPECT_EQ(music.PositionSeconds(), held);
        music.SetPaused(false);
        SleepMs(300);
        EXPECT_NEAR(music.PositionSeconds(), held + 0.3, 0.1);

        // Close to the end: the end comes as many seconds later as are left.
        ASSERT_TRUE(music.Seek(2.5));
        const Clock::time_point seeked = Clock::now();
        EXPECT_NEAR(music.PositionSeconds(), 2.5, 0.05);
        ASSERT_TRUE(probe.Wait(3.0));
        EXPECT_NEAR(std::chrono::duration<double>(probe.when - seeked).count(), 0.5, 0.15);
        EXPECT_TRUE(music.Ended());
    }
}
