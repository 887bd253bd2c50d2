#include "platform/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/StdoutCapture.h"

using namespace caldera;

TEST(Log, LevelsBelowThreeAreDropped) {
    StdoutCapture capture;
    Log(0, "error %d", 1);
    Log(2, "almost");
    Log(3, "progress %s", "here");
    Log(7, "loud");
    EXPECT_EQ(capture.Text(), "progress here\nloud\n");
}

TEST(Log, TrailingNewlineInFormatGivesAnEmptyLine) {
    StdoutCapture capture;
    Log(3, " Compiling shader : %s\n", "a.vs");
    EXPECT_EQ(capture.Text(), " Compiling shader : a.vs\n\n");
}

// A file named with a terminal's escape sequence is shown, not obeyed;
// other languages' letters and the log's own line breaks stay.
TEST(Log, NamesFromFilesCannotDriveTheTerminal) {
    StdoutCapture capture;
    Log(3, "Adding model : %s\n", "\x1b]0;owned\x07x.obj");
    Log(3, "Adding texture : %s", "caf\xc3\xa9.png");
    EXPECT_EQ(capture.Text(), "Adding model : \\x1B]0;owned\\x07x.obj\n\nAdding texture : caf\xc3\xa9.png\n");
}

TEST(Log, LongMessageIsCutAt2047Characters) {
    std::string message(3000, 'x');
    message[2046] = 'y';
    message[2047] = 'z';
    StdoutCapture capture;
    Log(3, "%s", message.c_str());
    std::string text = capture.Text();
    ASSERT_EQ(text.size(), 2048u);
    EXPECT_EQ(text[2046], 'y');
    EXPECT_EQ(text.back(), '\n');
}

TEST(Log, ConcurrentCallsNeverMixLines) {
    constexpr int kLines = 10000;
    StdoutCapture capture;
    auto writer = [](char c) {
        std::string body(40, c);
        for (int i = 0; i < kLines; ++i) Log(3, "%s %05d", body.c_str(), i);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::string text = capture.Text();

    int countA = 0, countB = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(start, end - start);
        ASSERT_EQ(line.size(), 46u) << line;
        char c = line[0];
        ASSERT_TRUE(c == 'a' || c == 'b');
        ASSERT_EQ(line.substr(0, 40), std::string(40, c));
        (c == 'a' ? countA : countB)++;
        start = end + 1;
    }
    EXPECT_EQ(countA, kLines);
    EXPECT_EQ(countB, kLines);
}
