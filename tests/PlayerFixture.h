#pragma once

// A gtest fixture for tests that run the real player in a temporary
// production folder, with its standard output and error kept in files there.

#include <gtest/gtest.h>

#include <string>

#include "tests/ProcessHarness.h"

constexpr const char* kPlayerTitle = "Caldera @ Lanternfall2018";

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
    }
    harness::ProcessOptions Options() {
        harness::ProcessOptions options;
        options.workingFolder = folder.Path();
        options.setEnv["SDL_AUDIODRIVER"] = "dummy";
        options.stdoutPath = folder / "stdout.txt";
        options.stderrPath = folder / "stderr.txt";
        return options;
    }
    std::string Stdout() { return harness::ReadText(folder / "stdout.txt"); }
    std::string Stderr() { return harness::ReadText(folder / "stderr.txt"); }

    harness::TempFolder folder;
};
