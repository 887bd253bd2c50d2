#include "playback/Timeline.h"

#include <gtest/gtest.h>

#include <limits>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Music.h"
#include "playback/FrameClock.h"
#include "playback/FrameDriver.h"
#include "render/Renderer.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Property.h"
#include "scene/Scene.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

Timeline::EntryList Parsed(const std::string& xml) {
    Timeline::EntryList entries;
    EXPECT_TRUE(Timeline::Parse(xml.data(), xml.size(), entries)) << xml;
    return entries;
}

// Scenes registered once for the whole test program: scenes are never removed.
struct Scenes {
    Scene* intro;
    Scene* outro;
    Scenes() {
        ResourceManager& m = ResourceManager::Instance();
        intro = m.scenes.Append(NameHash("intro"), std::make_shared<Scene>("intro.xml"));
        outro = m.scenes.Append(NameHash("outro"), std::make_shared<Scene>("outro.xml"));
        for (Scene* scene : {intro, outro}) {
            auto camera = std::make_unique<Camera>();
            camera->name = "main";
            scene->AddCamera(std::move(camera));
        }
    }
};

Scenes& TestScenes() {
    static Scenes scenes;
    return scenes;
}

// Publishes `xml` as the running order through the real file path.
void LoadRunningOrder(const std::string& xml) {
    // One file per process: ctest runs these tests side by side.
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("demo-timeline-" + std::to_string(getpid()) + ".xml");
    std::ofstream(path, std::ios::binary) << xml;
    Timeline::Instance().Load(path.string());
    std::filesystem::remove(path);
}

}  // namespace

TEST(TimelineParse, BareEntryTakesTheDefaults) {
    auto entries = Parsed(R"(<TimeLine><TimeLineObject scene="intro"/></TimeLine>)");
    ASSERT_EQ(entries.size(), 1u);
    const TimelineEntry& e = entries[0];
    EXPECT_EQ(e.frameStart, -25.0f);
    EXPECT_EQ(e.frameEnd, 50.0f);
    EXPECT_EQ(e.loopTimes, 1.0f);
    EXPECT_EQ(e.duration, 5.0f);
    EXPECT_EQ(e.timeStart, 0.0f);
    EXPECT_EQ(e.sceneName, "intro");
    EXPECT_EQ(e.cameraName, "");
    EXPECT_EQ(e.scene, nullptr);
    EXPECT_EQ(e.camera, nullptr);
}

TEST(TimelineParse, ValuesReadLikeTheCLibrary) {
    auto entries = Parsed(R"(<TimeLine><TimeLineObject scene="a" camera="c">
        <FrameStart value="-25.9"/><FrameStart value="99"/>
        <FrameEnd value="2.5e1xyz"/>
        <Duration value=""/>
        <TimeStart value="abc"/>
        <LoopTimes/>
        <Unknown value="7"/>
      </TimeLineObject></TimeLine>)");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].frameStart, -25.9f);  // only the first element of a name counts
    EXPECT_EQ(entries[0].frameEnd, 25.0f);
    EXPECT_EQ(entries[0].duration, 0.0f);     // empty value
    EXPECT_EQ(entries[0].timeStart, 0.0f);    // no number
    EXPECT_EQ(entries[0].loopTimes, 1.0f);    // no value attribute
    EXPECT_EQ(entries[0].cameraName, "c");

    // Beyond float's range (1e39) as well as double's (1e400): infinities.
    auto huge = Parsed(R"(<TimeLine><TimeLineObject scene="a"><Duration value="1e400"/>
        <TimeStart value="nan"/><FrameStart value="1e39"/><FrameEnd value="-1e39"/></TimeLineObject></TimeLine>)");
    ASSERT_EQ(huge.size(), 1u);
    EXPECT_TRUE(std::isinf(huge[0].duration));
    EXPECT_TRUE(std::isnan(huge[0].timeStart));
    EXPECT_EQ(huge[0].frameStart, std::numeric_limits<float>::infinity());
    EXPECT_EQ(huge[0].frameEnd, -std::numeric_limits<float>::infinity());
}

TEST(TimelineParse, EntriesWithoutASceneAndOtherElementsAreDropped) {
    auto entries = Parsed(R"(<Other/><TimeLine>
        <TimeLineObject camera="x"/><TimeLineObject scene=""/>
        <timelineobject scene="lower"/><Shot scene="s"/>
        <TimeLineObject scene="kept"/></TimeLine><TimeLine><TimeLineObject scene="second"/></TimeLine>)");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].sceneName, "kept");
    EXPECT_TRUE(Parsed("<TimeLine/>").empty());
}

TEST(TimelineParse, UnusableDocumentsAreRefused) {
    Timeline::EntryList entries(3);
    for (const char* text : {"", "<TimeLine><TimeLineObject scene=\"a\">", "<Timeline/>", "\x01\x02garbage"}) {
        EXPECT_FALSE(Timeline::Parse(text, std::strlen(text), entries)) << text;
        EXPECT_EQ(entries.size(), 3u);
    }
}

TEST(Timeline, ReloadLogsAndBadFilesKeepTheLastGoodList) {
    StdoutCapture capture;
    LoadRunningOrder(R"(<TimeLine><TimeLineObject scene="intro" camera="main"/></TimeLine>)");
    std::string log = capture.Text();
    const std::string prefix = (std::filesystem::temp_directory_path() / "demo-timeline-").string();
    EXPECT_NE(log.find("Reloading " + prefix), std::string::npos) << log;
    auto good = Timeline::Instance().Current();
    ASSERT_EQ(good->size(), 1u);

    LoadRunningOrder("<TimeLine><TimeLineObject scene=\"intro\"");  // saved half-way
    LoadRunningOrder("");
    LoadRunningOrder("<Scene/>");
    EXPECT_EQ(Timeline::Instance().Current(), good);

    LoadRunningOrder("<TimeLine/>");
    EXPECT_TRUE(Timeline::Instance().Current()->empty());
    EXPECT_EQ(Timeline::Instance().FindEntry(1.0), nullptr);
}

TEST(Timeline, FindEntrySelectsTheFirstResolvableEntryInItsWindow) {
    Scenes& scenes = TestScenes();
    LoadRunningOrder(R"(<TimeLine>
        <TimeLineObject scene="Intro" camera="main"><TimeStart value="0"/><Duration value="100"/></TimeLineObject>
        <TimeLineObject scene="intro" camera="nope"><TimeStart value="0"/><Duration value="100"/></TimeLineObject>
        <TimeLineObject scene="missing" camera="main"><TimeStart value="0"/><Duration value="100"/></TimeLineObject>
        <TimeLineObject scene="intro" camera="main"><TimeStart value="2"/><Duration value="4"/></TimeLineObject>
        <TimeLineObject scene="outro" camera="main"><TimeStart value="2"/><Duration value="10"/></TimeLineObject>
        <TimeLineObject scene="outro" camera="main"><TimeStart value="20"/><Duration value="0"/></TimeLineObject>
      </TimeLine>)");
    Timeline& timeline = Timeline::Instance();

    EXPECT_EQ(timeline.FindEntry(1.999), nullptr);  // capitals, a missing camera and scene never match
    TimelineEntry* atStart = timeline.FindEntry(2.0);
    ASSERT_NE(atStart, nullptr);
    EXPECT_EQ(atStart->scene, scenes.intro);
    EXPECT_EQ(atStart->camera, scenes.intro->FindCamera(NameHash("main")));

    // The end of a window is outside it: the later, overlapping entry shows.
    TimelineEntry* atEnd = timeline.FindEntry(6.0);
    ASSERT_NE(atEnd, nullptr);
    EXPECT_EQ(atEnd->scene, scenes.outro);
    EXPECT_EQ(timeline.FindEntry(12.0), nullptr);
    EXPECT_EQ(timeline.FindEntry(20.0), nullptr);  // an empty window is never chosen
    EXPECT_EQ(timeline.FindEntry(-1.0), nullptr);  // music that did not open
}

TEST(Timeline, TheScheduledSceneIsReportedWhetherOrNotItsCameraResolves) {
    Scenes& scenes = TestScenes();
    // The scene of the first entry at t, even without its camera (a bad save
    // removed it): that scene must go on polling its file.
    LoadRunningOrder(R"(<TimeLine>
        <TimeLineObject scene="intro" camera="lost"><TimeStart value="0"/><Duration value="10"/></TimeLineObject>
        <TimeLineObject scene="outro" camera="main"><TimeStart value="5"/><Duration value="10"/></TimeLineObject>
      </TimeLine>)");
    Timeline& timeline = Timeline::Instance();
    Scene* scheduled = nullptr;
    EXPECT_EQ(timeline.FindEntry(1.0, &scheduled), nullptr);
    EXPECT_EQ(scheduled, scenes.intro);
    TimelineEntry* shown = timeline.FindEntry(6.0, &scheduled);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->scene, scenes.outro);
    EXPECT_EQ(scheduled, scenes.intro);  // the first in file order
    EXPECT_EQ(timeline.FindEntry(12.0, &scheduled)->scene, scenes.outro);
    EXPECT_EQ(scheduled, scenes.outro);
    EXPECT_EQ(timeline.FindEntry(20.0, &scheduled), nullptr);
    EXPECT_EQ(scheduled, nullptr);
}

TEST(Timeline, ReplacingTheListWhileItIsReadIsSafe) {
    TestScenes();
    const std::string a = R"(<TimeLine><TimeLineObject scene="intro" camera="main"><Duration value="1000"/></TimeLineObject></TimeLine>)";
    const std::string b = R"(<TimeLine><TimeLineObject scene="outro" camera="main"><Duration value="1000"/></TimeLineObject>
        <TimeLineObject scene="intro" camera="main"/></TimeLine>)";
    std::atomic<int> found{0};
    int broken = 0;
    {
        StdoutCapture quiet;  // the reload lines; checks are made after it
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            // Replace the list until the reader has seen it often, however
            // the two threads happen to be scheduled (a bound in case it never does).
            for (int i = 0; i < 300 || (found.load() < 100 && i < 100000); ++i) LoadRunningOrder(i % 2 ? a : b);
            done = true;
        });
        while (!done) {
            TimelineEntry* entry = Timeline::Instance().FindEntry(1.0);
            if (!entry) continue;
            // The entry stays whole until the next look-up.
            if (entry->scene == nullptr || entry->duration != 1000.0f) ++broken;
            ++found;
        }
        watcher.join();
    }
    EXPECT_GE(found.load(), 100);
    EXPECT_EQ(broken, 0);
}

TEST(FrameDriver, PublishesTheShotUnderTheMusicPosition) {
    Scenes& scenes = TestScenes();
    LoadRunningOrder(R"(<TimeLine>
        <TimeLineObject scene="intro" camera="main"><FrameStart value="-25.9"/><FrameEnd value="50.9"/>
          <TimeStart value="2"/><Duration value="4"/></TimeLineObject>
        <TimeLineObject scene="outro" camera="main"><TimeStart value="6"/><Duration value="4"/></TimeLineObject>
      </TimeLine>)");
    struct StoppedMusic : MusicClock {
        double t = 0;
        double PositionSeconds() const override { return t; }
    } music;
    FixedStepClock clock;
    Renderer& r = Renderer::Instance();
    FrameDriver& driver = FrameDriver::Instance();
    driver.musicClock = &music;
    driver.frameClock = &clock;
    driver.previousTicks = 0;  // a first frame, even when the test runs again
    r.frame.currentScene = nullptr;

    music.t = 1.0;  // before the first shot: nothing to draw
    EXPECT_FALSE(BeginFrame());
    EXPECT_EQ(r.frame.currentScene, nullptr);
    EXPECT_NEAR(r.frame.frameDelta, 1.0f / 60, 1e-4f);  // the first frame counts as one frame

    clock.Advance(20000);
    music.t = 2.0;  // exactly at the start: progress 0, the first frame of the shot
    ASSERT_TRUE(BeginFrame());
    EXPECT_FLOAT_EQ(r.frame.frameDelta, 0.02f);
    EXPECT_EQ(r.frame.currentScene, scenes.intro);
    EXPECT_EQ(r.frame.currentCamera, scenes.intro->FindCamera(NameHash("main")));
    EXPECT_EQ(r.frame.frameStart, -25);  // truncated toward zero
    EXPECT_EQ(r.frame.frameEnd, 50);
    EXPECT_EQ(r.frame.progress, 0.0f);
    EXPECT_EQ(CurrentFrame(), -25.0f);

    music.t = 5.0;
    ASSERT_TRUE(BeginFrame());
    EXPECT_FLOAT_EQ(r.frame.progress, 75.0f);

    music.t = 6.0;  // back to back: the boundary belongs to the second shot
    ASSERT_TRUE(BeginFrame());
    EXPECT_EQ(r.frame.currentScene, scenes.outro);
    EXPECT_EQ(r.frame.frameStart, -25);  // the defaults
    EXPECT_EQ(r.frame.progress, 0.0f);

    music.t = 10.0;  // past the last shot: nothing, and the last shot stays published
    EXPECT_FALSE(BeginFrame());
    EXPECT_EQ(r.frame.currentScene, scenes.outro);

    driver.musicClock = nullptr;
    driver.frameClock = nullptr;
}
