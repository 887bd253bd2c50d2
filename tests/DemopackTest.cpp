// The demopack tool, run as authors run it, and the player's reader on what it
// wrote.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/EntryPath.h"
#include "platform/OutputFile.h"
#include "resources/FileBuffer.h"
#include "resources/PackReader.h"
#include "tests/ContentFolder.h"
#include "tests/PackBytes.h"
#include "tests/ProcessHarness.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class DemopackTool : public ContentTest {
protected:
    ToolRun Tool(const std::vector<std::string>& args) {
        harness::ProcessOptions options;
        options.workingFolder = ContentRoot();
        options.stdoutPath = ContentRoot() + "/../" + fs::path(ContentRoot()).filename().string() + ".out";
        options.stderrPath = options.stdoutPath + ".err";
        ToolRun run;
        {
            harness::Process process(DEMOPACK_PATH, args, options);
            EXPECT_TRUE(process.Wait(60s));
            run.status = process.ExitStatus();
        }
        run.out = harness::ReadText(options.stdoutPath);
        run.err = harness::ReadText(options.stderrPath);
        fs::remove(options.stdoutPath);
        fs::remove(options.stderrPath);
        return run;
    }
    // The files under `folder`, as relative path -> bytes.
    std::map<std::string, std::string> Tree(const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(folder).generic_string()] = ReadWhole(entry.path().string());
        return files;
    }
    std::vector<std::string> Leftovers(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().find(".tmp-") != std::string::npos ||
                entry.path().filename().string().find(".part") != std::string::npos ||
                entry.path().filename().string().find(".demopack-extract-") != std::string::npos)
                names.push_back(entry.path().string());
        return names;
    }
};

TEST_F(DemopackTool, RoundTripKeepsEveryByteAndThePlayerReadsItAll) {
    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    Write("work/data/textures/Wood.PNG", noise);
    Write("work/data/textures/empty.bmp", "");
    Write("work/data/models/deep/er/box.obj", "v 0 0 0\nf 1 1 1\n");
    Write("work/data/materials.xml", std::string(100000, 'm'));
    Write("work/music.mp3", "not packed");
    // Compressible, but an image format that carries its own compression.
    Write("work/data/textures/photo.jpg", "\xFF\xD8\xFF" + std::string(5000, '\0'));
    // Deflate gains about 1% on bytes spread over 240 values.
    std::string dense(100000, '\0');
    for (char& c : dense) c = static_cast<char>(random() % 240);
    Write("work/data/dense.bin", dense);
    fs::create_directories("out");

    ToolRun create = Tool({"create", "out/data.pack", "--root", "work", "data"});
    ASSERT_EQ(create.status, 0) << create.err;
    EXPECT_TRUE(create.err.empty()) << create.err;

    ToolRun list = Tool({"list", "out/data.pack"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("      200000"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("  data/textures/Wood.PNG\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("  data/models/deep/er/box.obj\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("6 files, "), std::string::npos) << list.out;
    // Entries that deflate poorly are stored; the rest at the best level.
    EXPECT_NE(list.out.find("        5003         5014  100.2%  data/textures/photo.jpg\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("      100000       100021  100.0%  data/dense.bin\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("      100000          121    0.1%  data/materials.xml\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("           0            8       -  data/textures/empty.bmp\n"), std::string::npos) << list.out;

    ToolRun extract = Tool({"extract", "out/data.pack", "back"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    std::map<std::string, std::string> original = Tree("work/data");
    std::map<std::string, std::string> back = Tree("back/data");
    EXPECT_EQ(back.size(), 6u);
    EXPECT_TRUE(original == back);

    // The player's side: every file listed, every file read back whole.
    std::vector<std::string> files;
    StdoutCapture quiet;
    ReadPackFileList("out/data.pack", files);
    quiet.Text();
    EXPECT_EQ(files.size(), 6u);
    for (const auto& [name, bytes] : original) {
        auto buffer = LoadFile("data/" + name, "out/data.pack");
        ASSERT_TRUE(buffer) << name;
        EXPECT_TRUE(buffer->fromPack);
        EXPECT_EQ(buffer->name, "data/" + name);
        EXPECT_EQ(std::string(buffer->data.data(), buffer->size), bytes) << name;
    }
}

TEST_F(DemopackTool, NamesAreRelativeToTheCurrentFolderByDefault) {
    Write("data/scenes/intro.xml", "<Scene/>");
    Write("data/timeline.xml", "<TimeLine/>");
    ToolRun create = Tool({"create", "data.pack", "data/scenes", "data/timeline.xml", "data/scenes/intro.xml"});
    ASSERT_EQ(create.status, 0) << create.err;
    std::vector<std::string> files;
    StdoutCapture quiet;
    ReadPackFileList(PackPath(), files);
    EXPECT_EQ(files, (std::vector<std::string>{"data/scenes/intro.xml", "data/timeline.xml"}));

#ifndef _WIN32  // a case-blind file system cannot hold the twins
    // A name differing only in case would never be read: left out, and said so.
    Write("data/Timeline.xml", "<TimeLine/>");
    create = Tool({"create", "twins.pack", "data/timeline.xml", "data/Timeline.xml"});
    ASSERT_EQ(create.status, 0) << create.err;
    EXPECT_NE(create.err.find("leaving out data/Timeline.xml"), std::string::npos) << create.err;
    ReadPackFileList("twins.pack", files);
    EXPECT_EQ(files, (std::vector<std::string>{"data/timeline.xml"}));
#endif
}

TEST_F(DemopackTool, KeepsNonAsciiNamesAndReplacesAnOlderPack) {
    // UTF-8 in the pack, on the command line and on disk, whatever the
    // system's own encoding of file names.
    const std::string folder = "d\xC3\xA9mo-\xE6\x9C\xA8";            // démo-木
    const std::string name = "data/textures/\xC3\xA9t\xC3\xA9.png";     // été.png
    Write(folder + "/" + name, "pixels");
    Write("data.pack", "an older pack");

    ToolRun create = Tool({"create", "data.pack", "--root", folder, "data"});
    ASSERT_EQ(create.status, 0) << create.err;
    std::vector<std::string> files;
    StdoutCapture quiet;
    ReadPackFileList(PackPath(), files);
    quiet.Text();
    EXPECT_EQ(files, (std::vector<std::string>{name}));
    EXPECT_TRUE(Leftovers(ContentRoot()).empty());

    ToolRun extract = Tool({"extract", "data.pack", folder + "/back"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(ReadWhole(ContentRoot() + "/" + folder + "/back/" + name), "pixels");
}

TEST_F(DemopackTool, RefusesToOverwriteItsOwnInput) {
    Write("data/a.txt", "alpha");
    ASSERT_EQ(Tool({"create", "data/data.pack", "data"}).status, 0);
    std::string before = ReadWhole("data/data.pack");
    ToolRun again = Tool({"create", "data/data.pack", "data"});
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.err.find("refusing to overwrite"), std::string::npos) << again.err;
    EXPECT_EQ(ReadWhole("data/data.pack"), before);
    EXPECT_TRUE(Leftovers("data").empty());
}

TEST_F(DemopackTool, FailsClearlyAndLeavesNoPackBehind) {
    Write("data/a.txt", "alpha");
    Write("other/b.txt", "beta");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"create", "out.pack", "data", "missing"}, "no such file or folder"},
        {{"create", "out.pack", "--root", "data", "../other"}, "outside the root folder"},
        {{"create", "out.pack", "--root", "nowhere", "data"}, "root folder not found"},
        {{"create", "no/such/folder/out.pack", "data"}, "cannot write"},
        {{"create", "data", "data/a.txt"}, "is a folder"},
        {{"create", "out.pack"}, "usage"},
        {{"list", "data/a.txt"}, "not a pack"},
        {{"list", "missing.pack"}, "cannot open"},
        {{"extract", "missing.pack", "x"}, "cannot open"},
        {{"frobnicate"}, "usage"},
    };
    for (const Case& c : cases) {
        ToolRun run = Tool(c.args);
        EXPECT_NE(run.status, 0) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists("out.pack")) << c.message;
        EXPECT_TRUE(Leftovers(".").empty()) << c.message;
    }
}

TEST_F(DemopackTool, ReportsDamagedPacksAndHostileNames) {
    using namespace packbytes;
    std::string good = Entry("a.txt", "alpha");
    Write("cut.pack", Header() + good + good.substr(0, good.size() - 3));
    ToolRun list = Tool({"list", "cut.pack"});
    EXPECT_NE(list.status, 0);
    EXPECT_NE(list.err.find("damaged at entry 2"), std::string::npos) << list.err;

    std::string data = Zlib("abc");
    Write("bomb.pack", Header() + RawEntry("a.txt", data.size(), 0xFFFFFFF0u, data));
    ToolRun extract = Tool({"extract", "bomb.pack", "out"});
    EXPECT_NE(extract.status, 0);
    EXPECT_NE(extract.err.find("damaged data in entry a.txt"), std::string::npos) << extract.err;

    Write("escape.pack", Header() + Entry("..\\escaped.txt", "x"));
    extract = Tool({"extract", "escape.pack", "out"});
    EXPECT_NE(extract.status, 0);
    EXPECT_NE(extract.err.find("leaves the target folder"), std::string::npos) << extract.err;
    EXPECT_FALSE(fs::exists("escaped.txt"));

    // Control bytes in a name are shown, not sent to the terminal.
    Write("control.pack", Header() + Entry("a\x1b[2Jb\rc.txt", "x"));
    list = Tool({"list", "control.pack"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("a\\x1B[2Jb\\x0Dc.txt"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);

    // Twins differing in case: only the one the player reads comes out.
    Write("twins.pack", Header() + Entry("dir/A.txt", "first") + Entry("DIR/a.txt", "second"));
    extract = Tool({"extract", "twins.pack", "out"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(ReadWhole("out/dir/A.txt"), "first");
    // One file under the first twin's name, also where the file system
    // ignores case and "out/DIR/a.txt" would name it too.
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator("out"))
        if (entry.is_regular_file()) names.push_back(entry.path().lexically_relative("out").generic_string());
    EXPECT_EQ(names, std::vector<std::string>{"dir/A.txt"});
}

TEST_F(DemopackTool, ReportsProgressOnLargePacks) {
    Write("big/zeros.bin", std::string(20u << 20, '\0'));
    Write("big/small.txt", "small");
    ToolRun create = Tool({"create", "big.pack", "big"});
    ASSERT_EQ(create.status, 0) << create.err;
    EXPECT_NE(create.err.find("(100%)"), std::string::npos) << create.err;
    ToolRun extract = Tool({"extract", "big.pack", "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(fs::file_size("out/big/zeros.bin"), 20u << 20);
}

TEST(EntryPath, RefusesEveryNameThatWouldLeaveTheTargetOnAnySystem) {
    // Windows' rules hold on every system, so these are refused on Linux too.
    const std::string refused[] = {
        "", "/x", "\\x", "//server/share/x", "C:name", "C:\\x", "c:/x", "a/b:stream", "..", "../x", "a/../../x",
        "a\\..\\..\\x", ".. /x", "a/./b", "a//b", "a/", "x.", "AUX", "aux.txt", "Con.tar.gz", "data/NUL",
        "com1.obj", "LPT9", "nul .txt", "CONIN$", "a\x1b]0;T\x07", "a?b", "a*", "a|b",
        std::string("ok\0/../../X", 11),
    };
    for (const std::string& name : refused)
        EXPECT_FALSE(EntryNameProblem(name).empty()) << "accepted: " << name;
    const std::string accepted[] = {"a.txt", "data/models/cube.obj", "data\\scenes\\room.xml", ".hidden", "a..b",
                                    "console.txt", "com10", "auxiliary/x", "n\xC3\xA4me.png"};
    for (const std::string& name : accepted) EXPECT_EQ(EntryNameProblem(name), "") << name;
    EXPECT_EQ(EntryRelativePath("data\\scenes/room.xml"), fs::path("data") / "scenes" / "room.xml");

#ifndef _WIN32
    harness::TempFolder scratch;
    const fs::path target = scratch / "out";
    fs::create_directories(target / "real/deeper");
    fs::create_directory_symlink(scratch.Path(), target / "real/link");
    EXPECT_EQ(LinkOnTheWay(target, "real/deeper/x"), fs::path());
    EXPECT_EQ(LinkOnTheWay(target, "real/link/x"), target / "real/link");
    EXPECT_EQ(LinkOnTheWay(target, "real/link"), target / "real/link");
#endif
}

TEST_F(DemopackTool, ExtractChangesNothingUnlessEveryEntryCanBeWritten) {
    using namespace packbytes;
    Write("out/data/timeline.xml", "old timeline");
    Write("out/keep.obj", "old model");
    const std::string first = Entry("data/timeline.xml", "new timeline");
    const std::vector<std::string> hostile = {
        "../escape", "/abs", "\\rooted", "C:name", "C:\\x", "AUX.txt", std::string("ok\0/../../X", 11),
        "keep.obj/inside",  // a file where a folder must go: found before anything moves
    };
    for (const std::string& name : hostile) {
        Write("hostile.pack", Header() + first + Entry(name, "x"));
        ToolRun run = Tool({"extract", "hostile.pack", "out"});
        EXPECT_NE(run.status, 0) << name;
        EXPECT_NE(run.err.find("was changed"), std::string::npos) << run.err;
        EXPECT_EQ(ReadWhole("out/data/timeline.xml"), "old timeline") << name;
        EXPECT_EQ(ReadWhole("out/keep.obj"), "old model") << name;
        EXPECT_TRUE(Leftovers("out").empty()) << name;
        EXPECT_FALSE(fs::exists("out/ok")) << name;
    }
    // A new target folder is not left behind, empty, by a refused pack.
    Write("hostile.pack", Header() + first + Entry("../escape", "x"));
    EXPECT_NE(Tool({"extract", "hostile.pack", "fresh"}).status, 0);
    EXPECT_FALSE(fs::exists("fresh"));

#ifndef _WIN32
    // Links already in the target are never written through, nor replaced.
    Write("elsewhere/victim.txt", "victim");
    fs::create_directory_symlink(ContentRoot() + "/elsewhere", ContentRoot() + "/out/link");
    fs::create_symlink(ContentRoot() + "/elsewhere/victim.txt", ContentRoot() + "/out/a.txt");
    for (const char* name : {"link/x", "a.txt"}) {
        Write("link.pack", Header() + first + Entry(name, "through the link"));
        ToolRun run = Tool({"extract", "link.pack", "out"});
        EXPECT_NE(run.status, 0) << name;
        EXPECT_NE(run.err.find("symbolic link"), std::string::npos) << run.err;
        EXPECT_EQ(ReadWhole("out/data/timeline.xml"), "old timeline");
    }
    EXPECT_EQ(ReadWhole("elsewhere/victim.txt"), "victim");
    EXPECT_FALSE(fs::exists("elsewhere/x"));
    fs::remove("out/link");
    fs::remove("out/a.txt");
#endif

    Write("good.pack", Header() + first + Entry("keep.obj", "new model"));
    ToolRun good = Tool({"extract", "good.pack", "out"});
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(ReadWhole("out/data/timeline.xml"), "new timeline");
    EXPECT_EQ(ReadWhole("out/keep.obj"), "new model");
    EXPECT_TRUE(Leftovers("out").empty());
}

#ifndef _WIN32
TEST_F(DemopackTool, AQuitSignalKeepsTheOldPackAndTheTargetAndLeavesNothingBehind) {
    // Enough data, and entries, that the signal lands while the tool works.
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        std::string noise(1u << 20, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        Write("big/" + std::to_string(i) + ".bin", noise);
    }
    ASSERT_EQ(Tool({"create", "big.pack", "big"}).status, 0);
    Write("old/a.txt", "alpha");
    ASSERT_EQ(Tool({"create", "keep.pack", "old"}).status, 0);
    const std::string before = ReadWhole("keep.pack");
    Write("out/big/0.bin", "old");

    harness::ProcessOptions options;
    options.workingFolder = ContentRoot();
    for (bool terminate : {false, true}) {
        for (bool create : {true, false}) {
            SCOPED_TRACE(std::string(create ? "create" : "extract") + (terminate ? " SIGTERM" : " SIGINT"));
            harness::Process tool(DEMOPACK_PATH,
                                  create ? std::vector<std::string>{"create", "keep.pack", "big"}
                                         : std::vector<std::string>{"extract", "big.pack", "out"},
                                  options);
            // Once it has started writing.
            const auto until = std::chrono::steady_clock::now() + 20s;
            while (std::chrono::steady_clock::now() < until && tool.Running() &&
                   (create ? !fs::exists(PartialPath("keep.pack")) : Leftovers("out").empty()))
                std::this_thread::sleep_for(2ms);
            ASSERT_TRUE(tool.Running()) << "ended before the signal";
            ASSERT_TRUE(terminate ? tool.Terminate() : tool.Interrupt());
            ASSERT_TRUE(tool.Wait(10s));
            EXPECT_EQ(tool.ExitStatus(), terminate ? 128 + 15 : 128 + 2);
            EXPECT_EQ(ReadWhole("keep.pack"), before);
            EXPECT_EQ(ReadWhole("out/big/0.bin"), "old");
            EXPECT_TRUE(Leftovers(".").empty());
            EXPECT_TRUE(Leftovers("out").empty());
        }
    }
}
#endif

}  // namespace
