#include "tests/GlContext.h"

#include "platform/Window.h"

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

}  // namespace

bool HaveGlContext() { return TheContext().ready; }

const std::string& GlContextError() { return TheContext().error; }
