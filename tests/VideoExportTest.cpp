// Sequences and videos from democapture: one simulation clock for stills,
// frames and video segments, and the soundtrack cut to the range.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/Picture.h"
#include "tests/ProcessHarness.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// What a shell command prints.
std::string Output(const std::string& command) {
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
    return text;
}

// Every frame of a video as PNG files in `folder`, in order.
std::vector<std::string> Frames(const std::string& video, const std::string& folder) {
    fs::create_directories(folder);
    std::system(("ffmpeg -v error -i '" + video + "' -fps_mode passthrough '" + folder + "/%04d.png'").c_str());
    std::vector<std::string> frames;
    for (int i = 1;; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/%04d.png", i);
        if (!fs::exists(folder + name)) return frames;
        frames.push_back(folder + name);
    }
}

class VideoExport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
        // The test production with 3 s of music and a particle fountain
        // whose sprites are alive from the first second on.
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "tests/production", folder.Path(), fs::copy_options::recursive);
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
        ASSERT_TRUE(harness::MakeMp3(folder / "music.mp3", 3.0));
        const std::string scene = folder / "data/scenes/room.xml";
        std::string xml = harness::ReadFile(scene);
        xml.insert(xml.rfind("</Scene>"),
                   R"(<Object name="fountain"><Position x="0" y="2.2" z="2"/><Color r="1" g="1" b="1"/>
                        <Particles><PCount value="300"/><EmitRate value="120"/><LifeMin value="1"/><LifeMax value="2"/>
                          <EmitterType type="sphere.volume"/><EmitterSize x="0.5" y="0.5" z="0.5"/>
                          <RandomVelocityOverTime value="2"/><Size value="0.3"/><DrawMode type="draw.quads"/>
                        </Particles></Object>)");
        harness::WriteFile(scene, xml);
    }

    int Run(const std::vector<std::string>& args) { return harness::RunTool(DEMOCAPTURE_PATH, args, folder, 240s); }
    std::string Stderr() { return harness::ReadText(folder / "stderr.txt"); }

    // A stand-in for ffmpeg in fake/: it answers -version, notes its parent's
    // and its own process id, then runs `body` with $out the video it was
    // asked to write. The real ffprobe sits beside it.
    std::string FakeEncoder(const std::string& body, const std::string& version = "exit 0") {
        fs::create_directories(folder / "fake");
        const std::string program = folder / "fake/ffmpeg";
        harness::WriteFile(program, "#!/bin/sh\n"
                                    "[ \"$1\" = -version ] && { " + version + "; }\n"
                                    "for last; do :; done\n"
                                    "out=${last#file:}\n"
                                    "echo $PPID > '" + folder / "fake/parent" + "'\n"
                                    "echo $$ > '" + folder / "fake/self" + "'\n" + body + "\n");
        fs::permissions(program, fs::perms::owner_all);
        fs::remove(folder / "fake/ffprobe");
        fs::create_symlink(Output("command -v ffprobe").substr(0, Output("command -v ffprobe").find('\n')),
                           folder / "fake/ffprobe");
        fs::remove(folder / "fake/parent");
        return program;
    }
    // democapture with the given encoder, not waited for.
    std::unique_ptr<harness::Process> Start(const std::vector<std::string>& args, const std::string& encoder,
                                            const std::string& timeout = "") {
        harness::ProcessOptions options;
        options.workingFolder = folder.Path();
        options.stderrPath = folder / "stderr.txt";
        options.setEnv["DEMO_FFMPEG"] = encoder;
        if (!timeout.empty()) options.setEnv["DEMO_ENCODER_TIMEOUT"] = timeout;
        return std::make_unique<harness::Process>(DEMOCAPTURE_PATH, args, options);
    }
    long Pid(const std::string& name) { return std::atol(harness::ReadFile(folder / ("fake/" + name)).c_str()); }

    harness::TempFolder folder;
};

}  // namespace

TEST_F(VideoExport, AStillIsTheFrameOfASequenceThatPassesThroughItsTime) {
    ASSERT_EQ(Run({"--at", "1.5", "--size", "160x90", "--out", "still"}), 0) << Stderr();
    ASSERT_EQ(Run({"--frames", "seq", "--from", "1", "--to", "1.6", "--fps", "30", "--size", "160x90"}), 0) << Stderr();
    const std::string still = harness::ReadFile(folder / "still/capture-00001.500.png");
    ASSERT_FALSE(still.empty());
    EXPECT_EQ(harness::ReadFile(folder / "seq/frame-000045.png"), still);
    // Particles are in the picture: the frames around it differ from it.
    EXPECT_NE(harness::ReadFile(folder / "seq/frame-000044.png"), still);
}

TEST_F(VideoExport, AVideoHoldsEveryFrameAndTheSoundAndSegmentsJoinIntoTheSameFrames) {
    const std::vector<std::string> common{"--fps", "30", "--size", "320x180", "--preset", "ultrafast"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), common.begin(), common.end());
        return Run(args);
    };
    ASSERT_EQ(run({"--video", "whole.mp4", "--frames", "whole"}), 0) << Stderr();
    EXPECT_NE(Stderr().find("frame 90/90"), std::string::npos) << Stderr();
    const std::string probe = "ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames,duration "
                              "-of csv=p=0 '" + folder / "whole.mp4" + "'";
    const std::string streams = Output(probe);
    EXPECT_NE(streams.find("video,3.000000,90"), std::string::npos) << streams;
    const size_t audio = streams.find("audio,");
    ASSERT_NE(audio, std::string::npos) << streams;
    EXPECT_NEAR(std::atof(streams.c_str() + audio + 6), 3.0, 0.05) << streams;

    // The video's frame at 1.5 s against a still at 1.5 s.
    ASSERT_EQ(Run({"--at", "1.5", "--size", "320x180", "--out", "still"}), 0) << Stderr();
    const std::vector<std::string> whole = Frames(folder / "whole.mp4", folder / "decoded-whole");
    ASSERT_EQ(whole.size(), 90u);
    EXPECT_GE(Psnr(LoadPicture(whole[45]), LoadPicture(folder / "still/capture-00001.500.png")), 35.0);

    // Two halves rendered apart and joined.
    ASSERT_EQ(run({"--video", "a.mp4", "--frames", "halves", "--to", "1.5"}), 0) << Stderr();
    ASSERT_EQ(run({"--video", "b.mp4", "--frames", "halves", "--from", "1.5"}), 0) << Stderr();
    ASSERT_EQ(Run({"--concat", "joined.mp4", "a.mp4", "b.mp4"}), 0) << Stderr();
    const std::vector<std::string> joined = Frames(folder / "joined.mp4", folder / "decoded-joined");
    ASSERT_EQ(joined.size(), whole.size());
    for (size_t i = 0; i < joined.size(); ++i) EXPECT_GE(Psnr(LoadPicture(joined[i]), LoadPicture(whole[i])), 35.0) << i;
    for (int j = 0; j < 90; ++j) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", j);
        EXPECT_EQ(harness::ReadFile(folder / ("halves/" + std::string(name))),
                  harness::ReadFile(folder / ("whole/" + std::string(name))))
            << name;
    }
}

TEST_F(VideoExport, BadRangesAndOutputsAreRefusedBeforeAnyFrame) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    fs::create_directory(folder / "afolder");
    const Case cases[] = {
        {{"--video", "x.mp4", "--fps", "0"}, "--fps takes"},
        {{"--video", "x.mp4", "--from", "2", "--to", "1"}, "--from must come before --to"},
        {{"--video", "x.mp4", "--from", "2.5", "--to", "9"}, "outside the music"},
        {{"--video", "x.mp4", "--size", "161x90"}, "even width"},
        {{"--video", "nowhere/deeper/x.mp4"}, "cannot write the video"},
        {{"--video", "afolder"}, "afolder is a folder"},
        {{"--video", "x.mp4", "--at", "1"}, "not both"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), 2) << c.says;
        EXPECT_NE(Stderr().find(c.says), std::string::npos) << Stderr();
        EXPECT_EQ(Stderr().find(" fps  "), std::string::npos) << Stderr();  // no progress: nothing rendered
    }
    // No music: a video without sound, and said so.
    fs::remove(folder / "music.mp3");
    ASSERT_EQ(Run({"--video", "silent.mp4", "--to", "0.2", "--fps", "10", "--size", "64x36"}), 0) << Stderr();
    EXPECT_NE(Stderr().find("no sound"), std::string::npos) << Stderr();
    EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + folder / "silent.mp4" + "'"),
              "video\n");
    // The partial file of a run that was killed is taken over.
    harness::WriteFile(folder / ".silent.mp4.part.mp4", "left by a killed run");
    ASSERT_EQ(Run({"--video", "silent.mp4", "--to", "0.2", "--fps", "10", "--size", "64x36"}), 0) << Stderr();
    EXPECT_FALSE(fs::exists(folder / ".silent.mp4.part.mp4"));
    // A missing encoder leaves no file behind.
    harness::ProcessOptions options;
    options.workingFolder = folder.Path();
    options.stderrPath = folder / "stderr.txt";
    options.setEnv["DEMO_FFMPEG"] = "/nonexistent/ffmpeg";
    harness::Process tool(DEMOCAPTURE_PATH, {"--video", "none.mp4", "--to", "0.2"}, options);
    ASSERT_TRUE(tool.Wait(60s));
    EXPECT_EQ(tool.ExitStatus(), 2);
    EXPECT_NE(Stderr().find("not installed"), std::string::npos) << Stderr();
    EXPECT_FALSE(fs::exists(folder / "none.mp4"));
}

#ifndef _WIN32
// Rendering runs on; the encoder takes every frame, or hangs taking none:
// SIGHUP and SIGTERM end the export at once, the encoder is killed, and
// the previous video and no partial file remain.
TEST_F(VideoExport, AQuitSignalEndsAnExportAndKeepsThePreviousVideo) {
    struct Case {
        const char* encoder;
        int signal;
    };
    const Case cases[] = {{"exec cat >/dev/null", SIGHUP}, {"exec sleep 1000", SIGTERM}};
    for (const Case& c : cases) {
        harness::WriteFile(folder / "keep.mp4", "the previous video");
        auto tool = Start({"--video", "keep.mp4", "--to", "3", "--fps", "1000", "--size", "320x180"},
                          FakeEncoder(c.encoder));
        ASSERT_TRUE(harness::WaitFor([&] { return Pid("parent") > 0; }, 60s)) << Stderr();
        std::this_thread::sleep_for(1s);  // rendering, or blocked on a full pipe
        ASSERT_TRUE(tool->Running()) << Stderr();
        ASSERT_EQ(kill(static_cast<pid_t>(Pid("parent")), c.signal), 0);
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(tool->Wait(20s)) << c.encoder;
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s) << c.encoder;
        EXPECT_EQ(tool->ExitStatus(), 128 + c.signal) << Stderr();
        EXPECT_NE(Stderr().find(std::string("stopped by SIG")), std::string::npos) << Stderr();
        EXPECT_EQ(harness::ReadFile(folder / "keep.mp4"), "the previous video") << c.encoder;
        EXPECT_FALSE(fs::exists(folder / ".keep.mp4.part.mp4")) << c.encoder;
        EXPECT_NE(kill(static_cast<pid_t>(Pid("self")), 0), 0) << "the encoder outlived democapture";
    }
}

// Encoders that stop early, lie about it or hang: each export fails within
// the time limit with the reason, and the previous video stays.
TEST_F(VideoExport, AnEncoderThatStopsShortOrHangsNeverReplacesTheVideo) {
    // A real video of 3 frames, for an encoder that writes fewer than it took.
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=size=64x36:rate=10 -frames:v 3 -pix_fmt yuv420p '" +
                           folder / "three.mp4" + "'").c_str()),
              0);
    struct Case {
        std::string encoder, version, says;
    };
    const Case cases[] = {
        {"head -c 1000000 >/dev/null; printf 12345678 > \"$out\"; exit 0", "exit 0", "stopped taking frames"},
        {"cat >/dev/null; cp '" + folder / "three.mp4" + "' \"$out\"; exit 0", "exit 0", "wrote 3 of the 10 frames"},
        {"cat >/dev/null; exit 1", "exit 0", "exit status 1"},
        {"exec sleep 1000", "exit 0", "took nothing for 2 s"},
        {"cat >/dev/null; exec sleep 1000", "exit 0", "did not finish in 2 s"},
        {"exit 0", "exec sleep 1000", "does not run"},
    };
    for (const Case& c : cases) {
        harness::WriteFile(folder / "keep.mp4", "the previous video");
        const auto start = std::chrono::steady_clock::now();
        auto tool = Start({"--video", "keep.mp4", "--to", "0.5", "--fps", "20", "--size", "320x180"},
                          FakeEncoder(c.encoder, c.version), "2");
        ASSERT_TRUE(tool->Wait(60s)) << c.encoder;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << c.encoder;
        EXPECT_EQ(tool->ExitStatus(), 2) << c.encoder;
        EXPECT_NE(Stderr().find(c.says), std::string::npos) << c.encoder << ": " << Stderr();
        EXPECT_EQ(harness::ReadFile(folder / "keep.mp4"), "the previous video") << c.encoder;
        EXPECT_FALSE(fs::exists(folder / ".keep.mp4.part.mp4")) << c.encoder;
    }
}
#endif

// Parts that are no video, or not alike, and an output that is a part, are
// refused by name before anything is joined; good parts still join.
TEST_F(VideoExport, ConcatJoinsOnlyMatchingVideos) {
    auto make = [&](const std::string& name, const std::string& size, bool sound) {
        const std::string audio = sound ? " -f lavfi -i sine=duration=1 -c:a aac" : "";
        return std::system(("ffmpeg -v error -f lavfi -i testsrc=size=" + size + ":rate=10:duration=1" + audio +
                            " -c:v libx264 -pix_fmt yuv420p '" + folder / name + "'").c_str()) == 0;
    };
    ASSERT_TRUE(make("a.mp4", "64x36", true));
    ASSERT_TRUE(make("b.mp4", "64x36", true));
    ASSERT_TRUE(make("big.mp4", "128x72", true));
    ASSERT_TRUE(make("mute.mp4", "64x36", false));
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=size=64x36 -frames:v 1 '" + folder / "still.png" + "'")
                              .c_str()),
              0);
    harness::WriteFile(folder / "text.mp4", "not a video\n");
    harness::WriteFile(folder / "empty.mp4", "");
    harness::WriteFile(folder / "keep.mp4", "the previous video");
    const std::vector<std::string> bad{"text.mp4", "empty.mp4", "still.png", "music.mp3", "big.mp4", "mute.mp4",
                                       "keep.mp4", ".keep.mp4.part.mp4"};
    for (const std::string& part : bad) {
        if (part[0] == '.') harness::WriteFile(folder / part, "");
        EXPECT_EQ(Run({"--concat", "keep.mp4", "a.mp4", part}), 2) << part;
        EXPECT_NE(Stderr().find(part), std::string::npos) << part << ": " << Stderr();
        EXPECT_EQ(harness::ReadFile(folder / "keep.mp4"), "the previous video") << part;
    }
    ASSERT_EQ(Run({"--concat", "keep.mp4", "a.mp4", "b.mp4"}), 0) << Stderr();
    EXPECT_EQ(Output("ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets "
                     "-of csv=p=0 '" + folder / "keep.mp4" + "'"),
              "20\n");
}
