#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/Portable.h"

using namespace caldera;

// Sends standard output to a temporary file for the life of the object.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        path = (std::filesystem::temp_directory_path() / harness::UniqueName("demo-stdout-")).string();
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        saved = dup(1);
        dup2(fd, 1);
        close(fd);
    }
    ~StdoutCapture() {
        Restore();
        std::remove(path.c_str());
    }
    // Stops capturing and returns what was written.
    // Read as text: Windows ends the lines with "\r\n" on their way out.
    std::string Text() {
        Restore();
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    void Restore() {
        if (saved < 0) return;
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        saved = -1;
        // The test framework reports failures on standard output too: a
        // failure while capturing must not vanish with the captured lines.
        if (::testing::Test::HasFailure()) {
            std::ifstream in(path, std::ios::binary);
            std::printf("---- output captured during a failing test:\n");
            std::fflush(stdout);
            std::cout << in.rdbuf() << std::flush;
        }
    }
    std::string path;
    int saved = -1;
};
