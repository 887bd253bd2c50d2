#include "render/Renderer.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/Log.h"

#include "platform/Music.h"
#include "playback/Timeline.h"
#include "scene/Scene.h"
#include "render/FullScreenQuad.h"
#include "render/PassProfiler.h"
#include "render/RenderTarget.h"
#include "render/SolidTexture.h"
#include "resources/ResourceManager.h"

namespace {

// Truncation toward zero; an authored "nan" or "1e400" must not turn into
// undefined behaviour, so such values saturate (NaN reads as 0).
int TruncateToInt(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return std::numeric_limits<int>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

const GLenum kFiveBuffers[5] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                                GL_COLOR_ATTACHMENT3, GL_COLOR_ATTACHMENT4};

std::unique_ptr<ShaderProgram> BuildProgram(const char* vertexFile, const char* fragmentFile) {
    auto program = std::make_unique<ShaderProgram>();
    program->Load(std::string("data/shaders/") + vertexFile, std::string("data/shaders/") + fragmentFile);
    return program;
}

GLuint NewFramebuffer() {
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return framebuffer;
}

void AttachColor(int index, GLuint texture) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + index, GL_TEXTURE_2D, texture, 0);
}

void AttachDepth(GLuint texture) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, texture, 0);
}

// A framebuffer with one colour texture and no depth, checked.
GLuint NewColorTarget(GLuint texture, const char* message) {
    GLuint framebuffer = NewFramebuffer();
    AttachColor(0, texture);
    CheckTarget(1, kFiveBuffers, message);
    return framebuffer;
}

// The five colour attachments of a G-buffer layer over `depth`, unchecked.
GLuint NewGBufferLayer(GLuint depth, const GLuint (&colors)[5]) {
    GLuint framebuffer = NewFramebuffer();
    AttachDepth(depth);
    for (int i = 0; i < 5; ++i) AttachColor(i, colors[i]);
    glDrawBuffers(5, kFiveBuffers);
    return framebuffer;
}

}  // namespace

Renderer& Renderer::Instance() {
    static Renderer instance;
    return instance;
}

void Renderer::Init() {
    const int W = screenWidth, H = screenHeight;
    using enum TargetFormat;

    // The scene list is usually empty here: content loads after the first frame.
    ResourceManager& resources = ResourceManager::Instance();
    std::vector<Scene*> scenes = resources.scenes.Snapshot();
    currentScene = scenes.empty() ? nullptr : scenes.front();

    // Programs, in the order the rebuild sweep visits them.
    ssaoProgram = BuildProgram("Passthrough.vs", "ssao.fs");
    copyProgram = BuildProgram("Passthrough.vs", "copyframebuffer.fs");
    deferredProgram = BuildProgram("deferred.vs", "deferred.fs");
    ssaoBlurProgram = BuildProgram("Passthrough.vs", "ssao_blur.fs");
    reflectProgram = BuildProgram("Passthrough.vs", "ss_reflect.fs");
    cubeBlurProgram = BuildProgram("Passthrough.vs", "blurCubeMap.fs");
    geometryProgram = BuildProgram("TransformVertexShader.vs", "ColorFragmentShader.fs");
    particleProgram = BuildProgram("TransparentParticle2.vs", "TransparentParticle2.fs");
    debugProgram = BuildProgram("TransformVertexShader.vs", "Debug.fs");
    simpleProgram = BuildProgram("Passthrough.vs", "simple.fs");
    refractionProgram = BuildProgram("TransformVertexShader.vs", "refraction.fs");
    lensDirtThresholdProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_threshold.fs");
    lensDirtBlurProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_blur.fs");
    lensDirtMixProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_mix.fs");
    shadowProgram = BuildProgram("shadowmap_depth.vs", "shadowmap_depth.fs");
    glowBlurProgram = BuildProgram("Passthrough.vs", "glow_blur.fs");

    // Environment cubes: the rendered scene and its blur chain.
    cube256 = CreateCubeMap(cubeSize);
    cube128a = CreateCubeMap(cubeSize / 2);
    cube128b = CreateCubeMap(cubeSize / 2);
    cube85b = CreateCubeMap(cubeSize / 3);
    cube85a = CreateCubeMap(cubeSize / 3);

    // Stand-ins for material textures that are not there.
    defaultNormalTex = CreateSolidTexture(128, 128, 255);
    whiteTex = CreateSolidTexture(255, 255, 255);

    glHint(GL_GENERATE_MIPMAP_HINT, GL_NICEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glClearColor(1.1f, 0.9f, 0.81f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    // G-buffer textures, the glass pass's saved copies and the final layer.
    glassColorTex = CreateTargetTexture(RGB16F, W, H);
    finalColorTex = CreateTargetTexture(RGB16F, W, H);
    gBuffer = NewFramebuffer();
    colorTex = CreateTargetTexture(RGBA16F, W, H);
    positionTex = CreateTargetTexture(RGBA16F, W, H);
    normalTex = CreateTargetTexture(RGB16F, W, H);
    propertiesTex = CreateTargetTexture(RGBA16F, W, H);
    tangentTex = CreateTargetTexture(RGB16F, W, H);
    savedPositionTex = CreateTargetTexture(RGB16F, W, H);
    savedTangentTex = CreateTargetTexture(RGB16F, W, H);
    savedColorTex = CreateTargetTexture(RGB16F, W, H);
    savedNormalTex = CreateTargetTexture(RGB16F, W, H);
    savedPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    finalPositionTex = CreateTargetTexture(RGB16F, W, H);
    finalTangentTex = CreateTargetTexture(RGB16F, W, H);
    finalNormalTex = CreateTargetTexture(RGB16F, W, H);
    finalPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    savedDepthTex = CreateTargetTexture(Depth24, W, H);
    finalDepthTex = CreateTargetTexture(Depth24, W, H);
    depthTex = CreateTargetTexture(Depth24, W, H);

    // The geometry pass writes attachment i from fragment output i.
    glBindFramebuffer(GL_FRAMEBUFFER, gBuffer);
    glFramebufferTexture(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, depthTex, 0);
    const GLuint gBufferColors[5] = {colorTex, normalTex, tangentTex, positionTex, propertiesTex};
    for (int i = 0; i < 5; ++i) glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, gBufferColors[i], 0);
    CheckTarget(5, kFiveBuffers, "DrawBuffers");

    quadBuffer = CreateFullScreenQuad();

    // Occlusion, blurred across and back into ssaoTex.
    ssaoTex = CreateTargetTexture(RGB8, W, H);
    ssaoTarget = NewColorTarget(ssaoTex, "DrawBuffersSSAO");
    ssaoBlurTex = CreateTargetTexture(RGB8, W, H);
    ssaoBlurTarget = NewColorTarget(ssaoBlurTex, "DrawBuffersSSAOBlur");
    ssaoBlur2Target = NewColorTarget(ssaoTex, "DrawBuffersSSAOBlur2");

    // The lit picture and the glow chain at a sixth of the size.
    combinedTex = CreateTargetTexture(RGB16F, W, H);
    combinedTarget = NewColorTarget(combinedTex, "DrawBuffersCombined");
    lensDirtTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    lensDirtTarget = NewColorTarget(lensDirtTex, "DrawBuffersLensDirt");
    lensDirtTmpTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    lensDirtTmpTarget = NewColorTarget(lensDirtTmpTex, "DrawBuffersLensDirtTmp");

    // The shown picture shares the scene's depth, so particles are hidden by it.
    combined2Tex = CreateTargetTexture(RGB16F, W, H);
    combined2Target = NewFramebuffer();
    AttachDepth(depthTex);
    AttachColor(0, combined2Tex);
    CheckTarget(1, kFiveBuffers, "DrawBuffersCombined2");
    combinedGlassTarget = NewColorTarget(glassColorTex, "DrawBuffersCombinedGlass");

    // The two glass layers.
    glassGBuffer = NewGBufferLayer(depthTex, {glassColorTex, normalTex, tangentTex, savedPositionTex, savedPropertiesTex});
    finalGBuffer = NewGBufferLayer(finalDepthTex,
                                   {finalColorTex, finalNormalTex, finalTangentTex, finalPositionTex, finalPropertiesTex});

    // Depth only, seen from the scene's spot light.
    shadowDepthTex = CreateShadowDepthTexture(shadowSize);
    shadowTarget = NewFramebuffer();
    glFramebufferTexture(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, shadowDepthTex, 0);
    glDrawBuffer(GL_NONE);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        Log(0, " Error: glCheckFramebufferStatus / _ShadowFramebufferDepth");
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    shaderWatch = true;
}

void Renderer::DrawFullScreenQuad() { ::DrawFullScreenQuad(quadBuffer); }

void Renderer::CopyTexture(GLuint source, GLuint destination) {
    if (!copyProgram) return;  // before Init
    if (!copyFramebuffers[0]) glGenFramebuffers(2, copyFramebuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[0]);
    AttachColor(0, source);
    glDisable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[1]);
    AttachColor(0, destination);
    glDrawBuffers(1, kFiveBuffers);
    ShaderProgram& program = *copyProgram;
    glUseProgram(program.program);
    // Program 0 has no uniforms to ask for; the draw still runs.
    if (program.program) {
        glUniformMatrix4fv(program.UniformLocation("MVP"), 1, GL_FALSE, &mvp[0][0]);
        glUniformMatrix4fv(program.UniformLocation("M"), 1, GL_FALSE, &model[0][0]);
        glUniformMatrix4fv(program.UniformLocation("P"), 1, GL_FALSE, &projection[0][0]);
        glUniform1i(program.UniformLocation("inTexture1"), 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, source);
    DrawFullScreenQuad();
}

void Renderer::CopyDepth(GLuint source, GLuint destination) {
    if (!depthCopyFramebuffers[0]) glGenFramebuffers(2, depthCopyFramebuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, depthCopyFramebuffers[0]);
    AttachDepth(source);
    glBindFramebuffer(GL_FRAMEBUFFER, depthCopyFramebuffers[1]);
    AttachDepth(destination);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, depthCopyFramebuffers[0]);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, depthCopyFramebuffers[1]);
    glBlitFramebuffer(0, 0, screenWidth, screenHeight, 0, 0, screenWidth, screenHeight, GL_DEPTH_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
}

void Renderer::RenderFrame(Window* window) {
    if (!playing.load()) return;
    hwnd = window;
    if (profiler) profiler->BeginFrame();
    if (BeginFrame()) DrawFrame();
    if (profiler) profiler->EndFrame();
    // A reload during this frame kept the old objects and cameras alive for
    // it; nothing can reach them any more.
    if (currentScene) currentScene->ReleaseRetired();
}

bool Renderer::BeginFrame() {
    // Frame time in microseconds from the tick clock. The first played frame
    // has no predecessor: it counts as one nominal frame.
    int64_t now = frameClock ? frameClock->NowMicroseconds() : steadyClock.NowMicroseconds();
    if (previousTicks == 0) previousTicks = now - kNominalFrameMicroseconds;
    frameDelta = static_cast<float>(static_cast<double>(now - previousTicks)) * 1e-6f;
    previousTicks = now;

    // A music that failed to open reads negative: no entry covers it.
    double t = musicClock ? musicClock->PositionSeconds() : -1.0;
    TimelineEntry* entry = Timeline::Instance().FindEntry(t);
    if (!entry) return false;

    currentScene = entry->scene;
    currentCamera = entry->camera;
    frameStart = TruncateToInt(entry->frameStart);
    frameEnd = TruncateToInt(entry->frameEnd);
    progress = static_cast<float>((t - static_cast<double>(entry->timeStart)) /
                                  static_cast<double>(entry->duration)) * 100.0f;
    return currentScene != nullptr;
}

void Renderer::DrawFrame() {
    // The per-frame pipeline, in pass order, grows here.
}
