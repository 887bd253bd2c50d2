#include "render/PassProfiler.h"

namespace caldera {

PassProfiler::~PassProfiler() {
    // The context may be gone at exit; queries die with it.
}

GLuint PassProfiler::NewQuery() {
    if (!freeQueries.empty()) {
        GLuint q = freeQueries.back();
        freeQueries.pop_back();
        return q;
    }
    GLuint q = 0;
    glGenQueries(1, &q);
    return q;
}

void PassProfiler::BeginFrame() {
    marks.clear();
    frameCpuBegin = Clock::now();
    frameBegin = NewQuery();
    glQueryCounter(frameBegin, GL_TIMESTAMP);
}

void PassProfiler::Begin(const char* pass) {
    size_t index = 0;
    while (index < passes.size() && passes[index].name != pass) ++index;
    if (index == passes.size()) passes.push_back(Pass{pass});
    Mark mark{index, NewQuery(), 0, Clock::now(), {}};
    glQueryCounter(mark.begin, GL_TIMESTAMP);
    marks.push_back(mark);
}

void PassProfiler::End() {
    // Closes the latest open pass; passes do not nest.
    for (auto it = marks.rbegin(); it != marks.rend(); ++it) {
        if (it->end == 0) {
            it->end = NewQuery();
            glQueryCounter(it->end, GL_TIMESTAMP);
            it->cpuEnd = Clock::now();
            return;
        }
    }
}

void PassProfiler::EndFrame() {
    const Clock::time_point cpuEnd = Clock::now();
    frameEnd = NewQuery();
    glQueryCounter(frameEnd, GL_TIMESTAMP);
    auto cpuMs = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    auto elapsedMs = [](GLuint a, GLuint b) {
        GLuint64 ta = 0, tb = 0;
        glGetQueryObjectui64v(a, GL_QUERY_RESULT, &ta);  // waits for the GPU
        glGetQueryObjectui64v(b, GL_QUERY_RESULT, &tb);
        return static_cast<double>(tb - ta) * 1e-6;
    };
    for (const Mark& mark : marks) {
        if (mark.end == 0) continue;
        passes[mark.pass].totalMs += elapsedMs(mark.begin, mark.end);
        passes[mark.pass].cpuTotalMs += cpuMs(mark.cpuBegin, mark.cpuEnd);
        passes[mark.pass].frames += 1;
        freeQueries.push_back(mark.begin);
        freeQueries.push_back(mark.end);
    }
    frame.totalMs += elapsedMs(frameBegin, frameEnd);
    frame.cpuTotalMs += cpuMs(frameCpuBegin, cpuEnd);
    frame.frames += 1;
    freeQueries.push_back(frameBegin);
    freeQueries.push_back(frameEnd);
    marks.clear();
}

}  // namespace caldera
