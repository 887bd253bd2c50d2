// The pack archive: its reader under good, damaged and hostile packs, and the
// loose-file-first rule of LoadFile.

#include <gtest/gtest.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "resources/ByteSource.h"
#include "resources/FileBuffer.h"
#include "resources/PackReader.h"
#include "resources/PackWriter.h"
#include "tests/ContentFolder.h"
#include "tests/PackBytes.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

using namespace packbytes;

namespace {

std::string Content(const FileBuffer& buffer) { return std::string(buffer.data.data(), buffer.size); }

class Pack : public ContentTest {
protected:
    std::vector<std::string> List() {
        std::vector<std::string> files{"left over"};
        ReadPackFileList(PackPath(), files);
        return files;
    }
    std::unique_ptr<FileBuffer> Load(const std::string& path) { return LoadFile(path, PackPath()); }
};

TEST_F(Pack, HeaderNeedsDotKrrAndAZeroByteOnly) {
    Write("data.pack", Header("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\xff") + Entry("a.txt", "alpha"));
    EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
    auto buffer = Load("a.txt");
    ASSERT_TRUE(buffer);
    EXPECT_EQ(Content(*buffer), "alpha");

    Write("data.pack", std::string(".KRRx") + std::string(11, '\0') + Entry("a.txt", "alpha"));
    StdoutCapture capture;
    EXPECT_TRUE(List().empty());
    EXPECT_FALSE(Load("a.txt"));
    const std::string error = "Error reading archive " + PackPath() + "\n";
    EXPECT_EQ(capture.Text(), "Loading file list from archive\n" + error + error);
}

TEST_F(Pack, WithoutAPackNothingIsFoundAndNothingIsSaid) {
    StdoutCapture capture;
    EXPECT_TRUE(List().empty());
    EXPECT_FALSE(Load("data/materials.xml"));
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(Pack, NamesAreNormalisedForListingAndLookUpButReturnedAsStored) {
    Write("data.pack", Header() + Entry("Data\\Textures\\Wood.PNG", "grain"));
    StdoutCapture capture;
    EXPECT_EQ(List(), std::vector<std::string>{"data/textures/wood.png"});
    EXPECT_EQ(capture.Text(), "Loading file list from archive\n\tfound file: data/textures/wood.png\n");

    for (const char* spelling : {"data/textures/wood.png", "DATA/textures/wood.png", "data\\textures\\wood.png"}) {
        SCOPED_TRACE(spelling);
        auto buffer = Load(spelling);
        ASSERT_TRUE(buffer);
        EXPECT_TRUE(buffer->fromPack);
        EXPECT_EQ(buffer->name, "Data\\Textures\\Wood.PNG");
        EXPECT_EQ(Content(*buffer), "grain");
        ASSERT_EQ(buffer->data.size(), 6u);
        EXPECT_EQ(buffer->data[5], '\0');
    }
    EXPECT_FALSE(Load("data/textures/wood.pn"));
    EXPECT_FALSE(Load("textures/wood.png"));
}

TEST_F(Pack, LongNamesScrambleWithKeysThatWrapAt256) {
    std::string name(300, 'n');
    name[0] = 'N';  // listed lower-cased
    std::string error;
    PackWriter writer;
    ASSERT_TRUE(writer.Open(PackPath(), error)) << error;
    ASSERT_TRUE(writer.AddBytes(name, "long", error)) << error;
    ASSERT_TRUE(writer.Finish(error)) << error;

    // Keys 32..255 for bytes 0..223, then 0..75.
    std::string stored = ReadWhole(PackPath()).substr(16 + 4, 300);
    EXPECT_EQ(static_cast<unsigned char>(stored[0]), 'N' ^ 32);
    EXPECT_EQ(static_cast<unsigned char>(stored[223]), 'n' ^ 255);
    EXPECT_EQ(static_cast<unsigned char>(stored[224]), 'n' ^ 0);
    EXPECT_EQ(static_cast<unsigned char>(stored[299]), 'n' ^ 75);

    EXPECT_EQ(List(), std::vector<std::string>{std::string(300, 'n')});
    auto buffer = Load(name);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->name, name);
}

TEST_F(Pack, AZeroByteInsideAStoredNameEndsIt) {
    Write("data.pack", Header() + Entry(std::string("a.txt\0junk", 10), "alpha"));
    EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
    ASSERT_TRUE(Load("a.txt"));
}

TEST_F(Pack, TheFirstOfTwinEntriesWins) {
    Write("data.pack", Header() + Entry("a.txt", "first") + Entry("A.TXT", "second"));
    EXPECT_EQ(List(), (std::vector<std::string>{"a.txt", "a.txt"}));
    EXPECT_EQ(Content(*Load("a.txt")), "first");
}

TEST_F(Pack, ALooseFileWinsAndThePackServesOnceItIsGone) {
    Write("data.pack", Header() + Entry("data/a.txt", "packed"));
    Write("data/a.txt", "loose");
    auto loose = Load("data/a.txt");
    ASSERT_TRUE(loose);
    EXPECT_FALSE(loose->fromPack);
    EXPECT_EQ(loose->name, "");
    EXPECT_EQ(Content(*loose), "loose");

    Remove("data/a.txt");
    auto packed = Load("data/a.txt");
    ASSERT_TRUE(packed);
    EXPECT_TRUE(packed->fromPack);
    EXPECT_EQ(Content(*packed), "packed");

    // A folder of that name is no file: the pack still serves.
    std::filesystem::create_directories("data/a.txt");
    packed = Load("data/a.txt");
    ASSERT_TRUE(packed);
    EXPECT_TRUE(packed->fromPack);
}

TEST_F(Pack, AnEmptyLooseFileHoldsOnlyTheTerminatingZero) {
    Write("empty.txt", "");
    auto buffer = Load("empty.txt");
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->size, 0u);
    EXPECT_EQ(buffer->data, std::vector<char>{'\0'});
}

TEST_F(Pack, AShortStreamIsPaddedWithZerosToTheDeclaredSize) {
    std::string data = Zlib("abc");
    Write("data.pack", Header() + RawEntry("a.txt", data.size(), 8, data));
    auto buffer = Load("a.txt");
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->size, 8u);
    EXPECT_EQ(std::string(buffer->data.data(), 9), std::string("abc\0\0\0\0\0\0", 9));
}

TEST_F(Pack, AnEmptyFileStoredAsAnEmptyStreamLoads) {
    Write("data.pack", Header() + Entry("empty.txt", "") + Entry("b.txt", "beta"));
    auto buffer = Load("empty.txt");
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->size, 0u);
    EXPECT_EQ(Content(*Load("b.txt")), "beta");
}

// Every damaged entry: LoadFile gives none, the list keeps only what came
// before it, and nothing reads out of bounds or allocates from a lie.
TEST_F(Pack, DamagedEntriesYieldNothing) {
    const std::string good = Entry("good.txt", "fine");
    const std::string data = Zlib(std::string(1000, 'x'));
    std::string corrupt = data;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[3] ^= 0x55;
    std::string badChecksum = data;
    badChecksum.back() ^= 1;
    const std::string full = RawEntry("bad.txt", data.size(), 1000, data);
    struct Case {
        const char* what;
        std::string tail;
    } cases[] = {
        {"truncated data", full.substr(0, full.size() - 10)},
        {"truncated sizes", full.substr(0, 4 + 7 + 6)},
        {"name length past the end", U32(1000) + Scramble("bad.txt")},
        {"name length of 4 GiB", U32(0xFFFFFFFF) + Scramble("bad.txt")},
        {"compressed size past the end", RawEntry("bad.txt", data.size() + 1, 1000, data)},
        {"compressed size 0", RawEntry("bad.txt", 0, 1000, "") + good},
        {"corrupt stream", RawEntry("bad.txt", corrupt.size(), 1000, corrupt)},
        {"wrong checksum", RawEntry("bad.txt", badChecksum.size(), 1000, badChecksum)},
        {"inflates past its declared size", RawEntry("bad.txt", data.size(), 999, data)},
        {"declared 4 GiB for a short stream", RawEntry("bad.txt", data.size(), 0xFFFFFFFF, data)},
        {"declared beyond what deflate can reach", RawEntry("bad.txt", data.size(), data.size() * 1033, data)},
        {"stream without its end", RawEntry("bad.txt", data.size() - 6, 1000, data.substr(0, data.size() - 6))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write("data.pack", Header() + Entry("first.txt", "one") + c.tail);
        EXPECT_FALSE(Load("bad.txt"));
        EXPECT_FALSE(Load("good.txt"));
        EXPECT_EQ(Content(*Load("first.txt")), "one");
        std::vector<std::string> files = List();
        ASSERT_GE(files.size(), 1u);
        EXPECT_EQ(files[0], "first.txt");
    }
    // Damage before the header's end.
    for (size_t length : {0, 3, 5, 15}) {
        Write("data.pack", Header().substr(0, length));
        EXPECT_FALSE(Load("first.txt")) << length;
        EXPECT_TRUE(List().empty()) << length;
    }
}

TEST_F(Pack, AStreamWithTrailingBytesInsideItsEntryStillLoads) {
    std::string data = Zlib("abc") + "tail";
    Write("data.pack", Header() + RawEntry("a.txt", data.size(), 3, data) + Entry("b.txt", "beta"));
    EXPECT_EQ(Content(*Load("a.txt")), "abc");
    EXPECT_EQ(Content(*Load("b.txt")), "beta");
}

TEST_F(Pack, EveryReadClosesItsFiles) {
    auto openFiles = [] {
#ifdef _WIN32
        DWORD handles = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handles);
        return size_t{handles};
#else
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
        return count;
#endif
    };
    const std::string data = Zlib("abcdef");
    const std::string packs[] = {
        Header() + Entry("a.txt", "alpha"),
        ".KRRx" + std::string(11, '\0'),
        Header() + RawEntry("a.txt", data.size(), 2, data),
        Header() + RawEntry("a.txt", data.size() + 5, 6, data),
        Header() + U32(99),
    };
    Write("loose.txt", "loose");
    size_t before = openFiles();
    for (const std::string& pack : packs) {
        Write("data.pack", pack);
        StdoutCapture quiet;
        List();
        Load("a.txt");
        Load("missing.txt");
        Load("loose.txt");
    }
    Remove("data.pack");
    Load("a.txt");
    EXPECT_EQ(openFiles(), before);
}

TEST(PackMemory, AMemorySourceReadsLikeAFile) {
    std::string pack = Header() + Entry("Dir\\A.txt", "alpha") + Entry("b.txt", "beta");
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(pack.data()), pack.size());
    MemoryByteSource listSource(bytes);
    std::vector<std::string> files;
    StdoutCapture quiet;
    ReadPackFileList(listSource, "memory", files);
    EXPECT_EQ(files, (std::vector<std::string>{"dir/a.txt", "b.txt"}));
    MemoryByteSource loadSource(bytes);
    auto buffer = LoadPackEntry(loadSource, "memory", "b.txt");
    ASSERT_TRUE(buffer);
    EXPECT_EQ(std::string(buffer->data.data(), buffer->size), "beta");
}

TEST_F(Pack, TheWriterNeverLeavesAHalfWrittenPack) {
    std::string error;
    {
        PackWriter writer;
        ASSERT_TRUE(writer.Open(PackPath(), error)) << error;
        ASSERT_TRUE(writer.AddBytes("a.txt", "alpha", error));
        EXPECT_FALSE(writer.AddFile("b.txt", "no/such/file", error));
        EXPECT_NE(error.find("no/such/file"), std::string::npos) << error;
        EXPECT_FALSE(writer.Finish(error));
    }
    {
        PackWriter abandoned;
        ASSERT_TRUE(abandoned.Open(PackPath(), error));
        ASSERT_TRUE(abandoned.AddBytes("a.txt", "alpha", error));
    }
    size_t left = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(ContentRoot())) ++left;
    EXPECT_EQ(left, 0u);

    PackWriter writer;
    ASSERT_TRUE(writer.Open(PackPath(), error));
    EXPECT_FALSE(writer.AddBytes("", "x", error));
}

TEST_F(Pack, TheWriterStoresAnEmptyFileAsAWholeStream) {
    std::string error;
    PackWriter writer;
    ASSERT_TRUE(writer.Open(PackPath(), error));
    ASSERT_TRUE(writer.AddBytes("empty.txt", "", error));
    ASSERT_TRUE(writer.AddBytes("after.txt", "after", error));
    ASSERT_TRUE(writer.Finish(error)) << error;
    std::string pack = ReadWhole(PackPath());
    uint32_t compressed = 0;
    std::memcpy(&compressed, pack.data() + 16 + 4 + 9, 4);
    EXPECT_GT(compressed, 0u);
    EXPECT_EQ(List(), (std::vector<std::string>{"empty.txt", "after.txt"}));
    EXPECT_EQ(Load("empty.txt")->size, 0u);
}

}  // namespace

TEST_F(Pack, ARewrittenPackIsReadAsItIsNowEvenWithTheSameSizeAndTime) {
    Write("data.pack", Header() + Entry("a.txt", "one") + Entry("b.txt", "two"));
    auto b = Load("b.txt");
    ASSERT_TRUE(b);
    EXPECT_EQ(Content(*b), "two");
    const FileTime before = TimeOf("data.pack");
    const auto time = std::filesystem::last_write_time(PackPath());

    // The same size and time, another order: b's old place holds a.
    Write("data.pack", Header() + Entry("b.txt", "TWO") + Entry("a.txt", "ONE"));
    std::filesystem::last_write_time(PackPath(), time);
    ASSERT_EQ(TimeOf("data.pack"), before);
    b = Load("b.txt");
    ASSERT_TRUE(b);
    EXPECT_EQ(Content(*b), "TWO");
    auto a = Load("a.txt");
    ASSERT_TRUE(a);
    EXPECT_EQ(Content(*a), "ONE");

    // A name the kept offsets do not know yet is looked for in the pack.
    Write("data.pack", Header() + Entry("c.txt", "new") + Entry("a.txt", "ONE"));
    std::filesystem::last_write_time(PackPath(), time);
    auto c = Load("c.txt");
    ASSERT_TRUE(c);
    EXPECT_EQ(Content(*c), "new");
}
