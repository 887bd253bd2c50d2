#pragma once

#include "platform/Gl.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace caldera {

// GPU time of each pass of a frame, from timestamp queries around the pass,
// and the CPU time the render thread spent in it (the front end's
// preparation shows there alone: it issues no GL work). The pipeline brackets
// each pass with Begin/End; without a profiler set on the Renderer nothing is
// measured and nothing is allocated. OpenGL ES has no timestamp queries:
// there the GPU times stay 0 and the CPU times alone are measured. Render
// thread.
class PassProfiler {
public:
    static constexpr bool kMeasuresGpu = !kGlEs;

    struct Pass {
        std::string name;
        double totalMs = 0;     // GPU
        double cpuTotalMs = 0;  // render thread
        int frames = 0;
    };

    ~PassProfiler();

    void BeginFrame();
    void Begin(const char* pass);
    void End();
    // Waits for the frame's queries and adds their times to the totals.
    void EndFrame();

    // Passes in the order they were first seen, then the whole frame.
    std::vector<Pass> passes;
    Pass frame{"frame"};

private:
    using Clock = std::chrono::steady_clock;
    struct Mark {
        size_t pass;
        GLuint begin;
        GLuint end;
        Clock::time_point cpuBegin;
        Clock::time_point cpuEnd;
        bool ended;
    };
    GLuint NewQuery();
    // A query holding the GPU's time now; 0 where there are no timestamps.
    GLuint Stamp();
    // Milliseconds between two stamps, waiting for the GPU; 0 without them.
    double ElapsedMs(GLuint begin, GLuint end);
    void Recycle(GLuint query);
    std::vector<Mark> marks;
    std::vector<GLuint> freeQueries;
    GLuint frameBegin = 0;
    GLuint frameEnd = 0;
    Clock::time_point frameCpuBegin;
};

// Brackets one pass when a profiler is present.
class ProfileScope {
public:
    ProfileScope(PassProfiler* profiler, const char* pass) : profiler(profiler) {
        if (profiler) profiler->Begin(pass);
    }
    ~ProfileScope() {
        if (profiler) profiler->End();
    }
    ProfileScope(const ProfileScope&) = delete;
    ProfileScope& operator=(const ProfileScope&) = delete;

private:
    PassProfiler* profiler;
};

}  // namespace caldera
