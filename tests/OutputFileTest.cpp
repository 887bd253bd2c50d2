// Outputs are written whole or not at all: the target keeps its old bytes
// until the new ones are complete, whatever fails on the way.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "platform/OutputFile.h"
#include "tests/ProcessHarness.h"

using namespace caldera;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST(OutputFile, ReplacesTheTargetOnlyWhenCommitted) {
    harness::TempFolder folder;
    const std::string target = folder / "keep.png";
    Write(target, "old");
    // A partial file left by a killed run is taken over, not an obstacle.
    EXPECT_EQ(std::filesystem::path(PartialPath(target)).filename(), ".keep.png.part.png");
    Write(PartialPath(target), "leftover from a killed run");

    std::string error;
    {
        OutputFile out;
        ASSERT_TRUE(out.Open(target, error)) << error;
        ASSERT_TRUE(out.Write("new", 3));
        EXPECT_EQ(Read(target), "old");
        // Abandoned (here by the destructor): the old file stays, the partial goes.
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_FALSE(std::filesystem::exists(PartialPath(target)));

    ASSERT_TRUE(WriteWholeFile(target, "new", 3, error)) << error;
    EXPECT_EQ(Read(target), "new");
    EXPECT_FALSE(std::filesystem::exists(PartialPath(target)));

    // A folder in the target's place is refused before anything is written.
    std::filesystem::create_directory(folder / "dir.png");
    OutputFile out;
    EXPECT_FALSE(out.Open(folder / "dir.png", error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
}

#ifndef _WIN32
TEST(OutputFile, ASecondWriterIsRefusedWhileTheFirstHoldsThePartialFile) {
    harness::TempFolder folder;
    std::string error;
    OutputFile first, second;
    ASSERT_TRUE(first.Open(folder / "out.mp4", error)) << error;
    EXPECT_FALSE(second.Open(folder / "out.mp4", error));
    EXPECT_NE(error.find("another program is writing"), std::string::npos) << error;
}

// A full disk, as a file size limit: every write past it fails, and so must
// the output, with the old file left as it was.
TEST(OutputFile, AFailedWriteLeavesTheOldFile) {
    harness::TempFolder folder;
    const std::string target = folder / "still.png";
    Write(target, "a good still");

    struct sigaction ignore {}, previousAction {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous {};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    const std::string big(64 * 1024, 'x');
    std::string error;
    OutputFile out;
    bool committed = false;
    if (out.Open(target, error)) {
        out.Write(big.data(), big.size());
        committed = out.Commit(error);
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &previousAction, nullptr);

    EXPECT_FALSE(committed);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(Read(target), "a good still");
    EXPECT_FALSE(std::filesystem::exists(PartialPath(target)));
}
#endif

}  // namespace
