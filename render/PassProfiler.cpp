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

GLuint PassProfiler::Stamp() {
#ifdef DEMO_GLES
    return 0;
#else
    const GLuint query = NewQuery();
    glQueryCounter(query, GL_TIMESTAMP);
    return query;
#endif
}

double PassProfiler::ElapsedMs(GLuint begin, GLuint end) {
#ifdef DEMO_GLES
    (void)begin;
    (void)end;
    return 0;
#else
    GLuint64 ta = 0, tb = 0;
    glGetQueryObjectui64v(begin, GL_QUERY_RESULT, &ta);  // waits for the GPU
    glGetQueryObjectui64v(end, GL_QUERY_RESULT, &tb);
    return static_cast<double>(tb - ta) * 1e-6;
#endif
}

void PassProfiler::Recycle(GLuint query) {
    if (query) freeQueries.push_back(query);
}

void PassProfiler::BeginFrame() {
    marks.clear();
    frameCpuBegin = Clock::now();
    frameBegin = Stamp();
}

void PassProfiler::Begin(const char* pass) {
    size_t index = 0;
    while (index < passes.size() && passes[index].name != pass) ++index;
    if (index == passes.size()) passes.push_back(Pass{pass});
    marks.push_back(Mark{index, Stamp(), 0, Clock::now(), {}, false});
}

void PassProfiler::End() {
    // Closes the latest open pass; passes do not nest.
    for (auto it = marks.rbegin(); it != marks.rend(); ++it) {
        if (!it->ended) {
            it->end = Stamp();
            it->ended = true;
            it->cpuEnd = Clock::now();
            return;
        }
    }
}

void PassProfiler::EndFrame() {
    const Clock::time_point cpuEnd = Clock::now();
    frameEnd = Stamp();
    auto cpuMs = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (const Mark& mark : marks) {
        if (!mark.ended) continue;
        passes[mark.pass].totalMs += ElapsedMs(mark.begin, mark.end);
        passes[mark.pass].cpuTotalMs += cpuMs(mark.cpuBegin, mark.cpuEnd);
        passes[mark.pass].frames += 1;
        Recycle(mark.begin);
        Recycle(mark.end);
    }
    frame.totalMs += ElapsedMs(frameBegin, frameEnd);
    frame.cpuTotalMs += cpuMs(frameCpuBegin, cpuEnd);
    frame.frames += 1;
    Recycle(frameBegin);
    Recycle(frameEnd);
    marks.clear();
}

}  // namespace caldera
