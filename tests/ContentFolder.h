#pragma once

// A working folder for content tests. The player reads content relative to
// the current folder, and ResourceManager::Instance() keeps the folder it was
// first used in, so every test of a process runs in one temporary folder that
// is made current before anything else, and emptied before each test.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/FileTime.h"

using namespace caldera;

// The process-wide temporary working folder (absolute).
const std::string& ContentRoot();

class ContentTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Writes `bytes` to `relative` under the working folder, making folders.
    void Write(const std::string& relative, const std::string& bytes);
    void Remove(const std::string& relative);
    // Moves the file's time `seconds` forward from now, so a poll sees a change
    // whatever the clock's resolution.
    void Touch(const std::string& relative, int seconds = 10);
    FileTime TimeOf(const std::string& relative);
    std::string PackPath() const { return ContentRoot() + "/data.pack"; }
};

// Contents of a file, or "" when it cannot be read.
std::string ReadWhole(const std::string& path);
