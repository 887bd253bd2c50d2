#include "tests/GlContext.h"

#include "platform/Window.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace caldera;

namespace {

struct Context {
    Context() {
        WindowConfig config;
        config.width = 64;
        config.height = 64;
        ready = window.Create(config, error);
        if (!ready && error.empty()) error = "no GL context";
    }
    Window window;
    std::string error;
    bool ready = false;
};

Context& TheContext() {
    // Never destroyed: tests may still hold GL objects at exit.
    static Context* context = new Context;
    return *context;
}

// The leak check runs once every test has finished and while the driver's
// worker threads are parked, not at exit: there the driver tears its threads
// down while the checker suspends them, and the checker can fall over.
class LeakCheckBeforeExit : public ::testing::Environment {
public:
    void TearDown() override {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_do_leak_check();
#endif
    }
};

[[maybe_unused]] ::testing::Environment* const leakCheck =
    ::testing::AddGlobalTestEnvironment(new LeakCheckBeforeExit);

}  // namespace

bool HaveGlContext() { return TheContext().ready; }

const std::string& GlContextError() { return TheContext().error; }
