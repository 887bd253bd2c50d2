#include "render/Renderer.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>

#include "platform/Log.h"
#include "playback/Show.h"
#include "scene/Scene.h"
#include "render/FullScreenQuad.h"
#include "render/ParticleDraw.h"
#include "render/PassProfiler.h"
#include "render/ProgramFiles.h"
#include "render/RenderTarget.h"
#include "render/SceneDraw.h"
#include "render/ShadowMask.h"
#include "render/SolidTexture.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/Texture.h"
#include "scene/Camera.h"

namespace caldera {

namespace {

const GLenum kFiveBuffers[5] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                                GL_COLOR_ATTACHMENT3, GL_COLOR_ATTACHMENT4};

// The program of that name in kProgramFiles, built.
std::unique_ptr<ShaderProgram> BuildProgram(std::string_view name) {
    auto program = std::make_unique<ShaderProgram>();
    for (const ProgramFiles& files : kProgramFiles)
        if (files.name == name) {
            program->name = files.name;
            program->Load(std::string(kShadersFolder) + files.vertex, std::string(kShadersFolder) + files.fragment);
        }
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

// Puts `program` in use. A program whose files are missing or broken is 0:
// its pass is skipped, so that no uniform call fails on every frame.
bool Use(ShaderProgram* program) {
    if (!program || program->program == 0) return false;
    glUseProgram(program->program);
    return true;
}

void UploadMatrix(ShaderProgram& program, const char* name, const glm::mat4& matrix) {
    glUniformMatrix4fv(program.UniformLocation(name), 1, GL_FALSE, &matrix[0][0]);
}

void BindCube(ShaderProgram& program, const char* name, GLuint texture, int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glUniform1i(program.UniformLocation(name), unit);
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture);
}

// The six faces of an environment cube in render order, each with the
// direction it looks along and its up vector (the cube-map convention puts
// -Y up on the side faces).
struct CubeFace {
    GLenum target;
    glm::vec3 direction;
    glm::vec3 up;
};
const CubeFace kCubeFaces[6] = {
    {GL_TEXTURE_CUBE_MAP_POSITIVE_Y, {0, 1, 0}, {0, 0, 1}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_Y, {0, -1, 0}, {0, 0, -1}},
    {GL_TEXTURE_CUBE_MAP_POSITIVE_X, {1, 0, 0}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_X, {-1, 0, 0}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_POSITIVE_Z, {0, 0, 1}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_Z, {0, 0, -1}, {0, -1, 0}},
};

// The texture units of each program's samplers, as its shaders expect them.
// The object programs also take the material's four maps on units 0 to 3
// (render/ApplyRenderState.h).
struct GeometryUnits {
    static constexpr int cubeMap = 3, shadowMap = 4, shadowMask = 6;
};
struct ScreenUnits {  // the G-buffer as the occlusion and lighting passes read it
    static constexpr int color = 0, normal = 1, tangent = 2, depth = 3, position = 4;
};
struct SsaoUnits : ScreenUnits {
    static constexpr int properties = 5;
};
struct SsaoBlurUnits {
    static constexpr int occlusion = 0, normal = 1, tangent = 2, depth = 3, position = 4;
};
struct LightingUnits : ScreenUnits {
    static constexpr int occlusion = 5, properties = 6, cubeMap = 7, cubeBlur = 8, cubeBlur2 = 9, cubeBlur3 = 10,
                         shadowMask = 11;
};
struct GlassUnits {
    // "backgroundImage" (2D) and "cubeMapBlur" (cube) share a unit on the
    // back faces; the shader samples only the first.
    static constexpr int cubeMap = 3, backgroundFront = 4, background = 5, cubeBlur = 5, cubeBlur2 = 6,
                         cubeBlur3 = 7, shadowMap = 8, shadowMask = 9;
};
struct ReflectionUnits {
    static constexpr int color = 0, normal = 1, depth = 2, position = 3, properties = 4, shadowMap = 5,
                         glassPosition = 6, unshadedColor = 9;
};
struct GlowUnits {
    static constexpr int image = 0, position = 1, properties = 2;
};
struct LensDirtUnits {
    static constexpr int glow = 0, scene = 1, dirt = 2;
};
constexpr int kPictureUnit = 0;  // the copy, simple and cube-blur programs' one input

// The intermediate targets start every frame from black with alpha 1
// whatever clear colour an earlier pass left behind.
void ClearToBlack(GLbitfield buffers) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(buffers);
}

}  // namespace

Renderer& Renderer::Instance() {
    static Renderer instance;
    return instance;
}

void Renderer::SetScreenSize(int width, int height) {
    screenWidth = width;
    screenHeight = height;
    glowWidth = width / kGlowDivisor;
    glowHeight = height / kGlowDivisor;
}

void Renderer::Init() {
    const int W = screenWidth, H = screenHeight;
    using enum TargetFormat;

    // The scene list is usually empty here: content loads after the first frame.
    ResourceManager& resources = ResourceManager::Instance();
    std::vector<Scene*> scenes = resources.scenes.Snapshot();
    frame.currentScene = scenes.empty() ? nullptr : scenes.front();

    // Programs, in the order the rebuild sweep visits them.
    programs.ssaoProgram = BuildProgram("ssao");
    programs.copyProgram = BuildProgram("copy");
    programs.deferredProgram = BuildProgram("lighting");
    programs.ssaoBlurProgram = BuildProgram("ssao blur");
    programs.reflectProgram = BuildProgram("reflection");
    programs.cubeBlurProgram = BuildProgram("cube blur");
    programs.geometryProgram = BuildProgram("geometry");
    programs.particleProgram = BuildProgram("particles");
    programs.debugProgram = BuildProgram("debug");
    programs.simpleProgram = BuildProgram("simple");
    programs.refractionProgram = BuildProgram("glass");
    programs.lensDirtThresholdProgram = BuildProgram("lens dirt threshold");
    programs.lensDirtBlurProgram = BuildProgram("lens dirt blur");
    programs.lensDirtMixProgram = BuildProgram("lens dirt mix");
    programs.shadowProgram = BuildProgram("shadow");
    programs.glowBlurProgram = BuildProgram("glow blur");

    // Environment cubes: the rendered scene and its blur chain.
    cubes.cube256 = CreateCubeMap(cubes.cubeSize);
    cubes.cube128a = CreateCubeMap(cubes.cubeSize / 2);
    cubes.cube128b = CreateCubeMap(cubes.cubeSize / 2);
    cubes.cube85b = CreateCubeMap(cubes.cubeSize / 3);
    cubes.cube85a = CreateCubeMap(cubes.cubeSize / 3);

    // Stand-ins for material textures that are not there.
    defaultNormalTex = CreateSolidTexture(128, 128, 255);
    whiteTex = CreateSolidTexture(255, 255, 255);

    glHint(GL_GENERATE_MIPMAP_HINT, GL_NICEST);
    glClearColor(1.1f, 0.9f, 0.81f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    // G-buffer textures, the glass pass's saved copies and the final layer.
    gbuffer.glassColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.gBuffer = NewFramebuffer();
    gbuffer.colorTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.positionTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.normalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.propertiesTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.tangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedPositionTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedTangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedNormalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalPositionTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalTangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalNormalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedDepthTex = CreateTargetTexture(Depth24, W, H);
    gbuffer.finalDepthTex = CreateTargetTexture(Depth24, W, H);
    gbuffer.depthTex = CreateTargetTexture(Depth24, W, H);

    // The geometry pass writes attachment i from fragment output i.
    glBindFramebuffer(GL_FRAMEBUFFER, gbuffer.gBuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, gbuffer.depthTex, 0);
    const GLuint gBufferColors[5] = {gbuffer.colorTex, gbuffer.normalTex, gbuffer.tangentTex, gbuffer.positionTex, gbuffer.propertiesTex};
    for (int i = 0; i < 5; ++i) AttachColor(i, gBufferColors[i]);
    CheckTarget(5, kFiveBuffers, "DrawBuffers");

    quadBuffer = CreateFullScreenQuad();

    // Occlusion, blurred across and back into targets.ssaoTex.
    targets.ssaoTex = CreateTargetTexture(RGB8, W, H);
    targets.ssaoTarget = NewColorTarget(targets.ssaoTex, "DrawBuffersSSAO");
    targets.ssaoBlurTex = CreateTargetTexture(RGB8, W, H);
    targets.ssaoBlurTarget = NewColorTarget(targets.ssaoBlurTex, "DrawBuffersSSAOBlur");
    targets.ssaoBlur2Target = NewColorTarget(targets.ssaoTex, "DrawBuffersSSAOBlur2");

    // The lit picture and the glow chain at a sixth of the size.
    targets.combinedTex = CreateTargetTexture(RGB16F, W, H);
    targets.combinedTarget = NewColorTarget(targets.combinedTex, "DrawBuffersCombined");
    targets.lensDirtTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    targets.lensDirtTarget = NewColorTarget(targets.lensDirtTex, "DrawBuffersLensDirt");
    targets.lensDirtTmpTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    targets.lensDirtTmpTarget = NewColorTarget(targets.lensDirtTmpTex, "DrawBuffersLensDirtTmp");

    // The shown picture shares the scene's depth, so particles are hidden by it.
    targets.combined2Tex = CreateTargetTexture(RGB16F, W, H);
    targets.combined2Target = NewFramebuffer();
    AttachDepth(gbuffer.depthTex);
    AttachColor(0, targets.combined2Tex);
    CheckTarget(1, kFiveBuffers, "DrawBuffersCombined2");
    targets.combinedGlassTarget = NewColorTarget(gbuffer.glassColorTex, "DrawBuffersCombinedGlass");
    targets.mixTex = CreateTargetTexture(RGB16F, W, H);
    targets.mixTarget = NewColorTarget(targets.mixTex, "DrawBuffersLensDirtMix");
    targets.shownTex = targets.combined2Tex;

    // The two glass layers.
    gbuffer.glassGBuffer = NewGBufferLayer(gbuffer.depthTex, {gbuffer.glassColorTex, gbuffer.normalTex, gbuffer.tangentTex, gbuffer.savedPositionTex, gbuffer.savedPropertiesTex});
    gbuffer.finalGBuffer = NewGBufferLayer(gbuffer.finalDepthTex,
                                   {gbuffer.finalColorTex, gbuffer.finalNormalTex, gbuffer.finalTangentTex, gbuffer.finalPositionTex, gbuffer.finalPropertiesTex});

    // Depth only, seen from the scene's spot light.
    targets.shadowDepthTex = CreateShadowDepthTexture(targets.shadowSize);
    targets.shadowTarget = NewFramebuffer();
    AttachDepth(targets.shadowDepthTex);
    const GLenum noColor = GL_NONE;
    glDrawBuffers(1, &noColor);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        Log(0, " Error: glCheckFramebufferStatus / _ShadowFramebufferDepth");
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    Show::Instance().shaderWatch = true;
}

void Renderer::DrawFullScreenQuad() { caldera::DrawFullScreenQuad(quadBuffer); }

void Renderer::CopyTexture(const PreparedFrame& frame, GLuint source, GLuint destination) {
    if (!programs.copyProgram) return;  // before Init
    if (!copyFramebuffers[0]) glGenFramebuffers(2, copyFramebuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[0]);
    AttachColor(0, source);
    glDisable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[1]);
    AttachColor(0, destination);
    glDrawBuffers(1, kFiveBuffers);
    ShaderProgram& program = *programs.copyProgram;
    glUseProgram(program.program);
    // Program 0 has no uniforms to ask for; the draw still runs.
    if (program.program) {
        glUniformMatrix4fv(program.UniformLocation("MVP"), 1, GL_FALSE, &frame.mvp[0][0]);
        glUniformMatrix4fv(program.UniformLocation("M"), 1, GL_FALSE, &frame.model[0][0]);
        glUniformMatrix4fv(program.UniformLocation("P"), 1, GL_FALSE, &frame.projection[0][0]);
        glUniform1i(program.UniformLocation("inTexture1"), kPictureUnit);
    }
    glActiveTexture(GL_TEXTURE0 + kPictureUnit);
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

void Renderer::ClearFrame() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    SetViewport(screenWidth, screenHeight);
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void Renderer::CheckShaders() {
    if (!Show::Instance().shaderWatch) return;
    ProfileScope scope(profiler, "shader check");
    RebuildPrograms();
}

void Renderer::DrawFrame(const PreparedFrame& frame) {
    if (!frame.currentScene) return;
    const int W = screenWidth, H = screenHeight;

    // Every pass relies on depth and scissor tests unless it turns them off.
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_SCISSOR_TEST);
    // The geometry and lighting passes read this frame's shadow map.
    {
        ProfileScope scope(profiler, "shadow");
        ShadowPass(frame, targets.shadowTarget);
    }
    glDisable(GL_CULL_FACE);
    UpdateCubeMaps(frame);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, gbuffer.gBuffer);
    SetViewport(W, H);
    // Opaque objects into the G-buffer, which every screen-space pass reads.
    {
        ProfileScope scope(profiler, "geometry");
        GeometryPass(frame);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    SetViewport(W, H);
    glDisable(GL_DEPTH_TEST);
    // Occlusion first: the lighting darkens its ambient term by it.
    {
        ProfileScope scope(profiler, "ssao");
        SsaoPass(frame);
    }
    // Across into targets.ssaoBlurTex, then down back into targets.ssaoTex.
    {
        ProfileScope scope(profiler, "ssao blur");
        SsaoBlurPass(targets.ssaoBlurTarget, true, targets.ssaoTex);
        SsaoBlurPass(targets.ssaoBlur2Target, false, targets.ssaoBlurTex);
    }
    // The lit opaque picture, which glass refracts.
    {
        ProfileScope scope(profiler, "lighting");
        LightingPass(frame, targets.combinedTarget);
    }
    // Glass over the lit picture; leaves the final G-buffer for the reflections.
    {
        ProfileScope scope(profiler, "glass");
        GlassPass(frame, gbuffer.glassGBuffer, gbuffer.finalGBuffer, targets.combinedTex);
    }
    // Reflections see the glass too; their result is the picture shown.
    {
        ProfileScope scope(profiler, "reflection");
        ReflectionPass(frame, targets.combined2Target, gbuffer.finalColorTex);
    }
    // Particles over the reflected picture, hidden by the scene's depth.
    {
        ProfileScope scope(profiler, "particles");
        ParticlePass(frame);
    }
    // Glow is gathered at a sixth of the size from the finished picture.
    SetViewport(glowWidth, glowHeight);
    glDisable(GL_DEPTH_TEST);
    {
        ProfileScope scope(profiler, "glow");
        GlowPass(frame.post, programs.glowBlurProgram.get(), targets.lensDirtTmpTarget, targets.combined2Tex,
                 targets.lensDirtTarget, targets.lensDirtTmpTex, gbuffer.positionTex);
    }
    // Lens dirt, fades and colour filter come last, over everything.
    SetViewport(W, H);
    targets.shownTex = targets.combined2Tex;
    if (frame.post.lensDirtTexture) {
        ProfileScope scope(profiler, "lens dirt");
        if (LensDirtPass(frame.post, programs.lensDirtMixProgram.get(), targets.mixTarget, targets.lensDirtTex,
                         targets.combined2Tex))
            targets.shownTex = targets.mixTex;
    }
    // The composed picture on screen.
    {
        ProfileScope scope(profiler, "final");
        FinalBlit();
    }
    // The next frame, and whatever the loop draws, start from plain state.
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClear(GL_DEPTH_BUFFER_BIT);
}

void Renderer::SetViewport(int width, int height) {
    glViewport(0, 0, width, height);
    glScissor(0, 0, width, height);
}

void Renderer::RebuildPrograms() {
    // Unchanged files return at once.
    for (ShaderProgram* program : ShaderProgram::allPrograms)
        program->Build(program->vertexPath, program->fragmentPath);
}

void Renderer::ShadowPass(const PreparedFrame& frame, GLuint target) {
    // The depth map from the scene's spot light. Cleared to the far plane,
    // it shadows nothing until the casters are drawn into it.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    SetViewport(targets.shadowSize, targets.shadowSize);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram* program = programs.shadowProgram.get();
    if (Use(program)) {
        // Opaque casters first, then glass, which casts like any other.
        const PreparedFrame::Shadow& shadow = frame.shadow;
        DrawObjects(frame, program, shadow.projection, shadow.view, {.glass = false, .onlyShadowCasters = true});
        DrawObjects(frame, program, shadow.projection, shadow.view, {.glass = true, .onlyShadowCasters = true});
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::UpdateCubeMaps(const PreparedFrame& frame) {
    if (frame.currentScene == lastCubeScene && !frame.renderCubemap) return;
    lastCubeScene = frame.currentScene;
    {
        ProfileScope scope(profiler, "cube render");
        RenderCubeMap(frame, cubes.cube256);
    }
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    ProfileScope scope(profiler, "cube blur");
    // Sharp, then ever wider blurs for rougher surfaces.
    BlurCubeMap(cubes.cube128a, cubes.cube256, cubes.cubeSize / 2, 2.0f, false);
    BlurCubeMap(cubes.cube128b, cubes.cube128a, cubes.cubeSize / 2, 2.0f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube128b, cubes.cubeSize / 3, 6.5f, false);
    BlurCubeMap(cubes.cube85b, cubes.cube85a, cubes.cubeSize / 3, 6.5f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube85b, cubes.cubeSize / 3, 6.5f, false);
    BlurCubeMap(cubes.cube128a, cubes.cube85a, cubes.cubeSize / 2, 6.5f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube128a, cubes.cubeSize / 3, 10.0f, false);
    BlurCubeMap(cubes.cube128a, cubes.cube85a, cubes.cubeSize / 2, 10.0f, true);
}

void Renderer::RenderCubeMap(const PreparedFrame& frame, CubeMap& cube) {
    ++cubeRenders;
    glBindFramebuffer(GL_FRAMEBUFFER, cube.framebuffer);
    ShaderProgram* program = programs.geometryProgram.get();
    if (Use(program)) {
        UploadLights(frame.lights, program);
        glUniform1i(program->UniformLocation("useCubemap"), 1);
        // The cube shading reads neither, but a shadow sampler must never
        // see a colour texture left on its unit.
        program->SetTextureName("shadowMap", targets.shadowDepthTex, GeometryUnits::shadowMap);
        BindShadowMask(*program, frame.shadowMask, GeometryUnits::shadowMask);
        glActiveTexture(GL_TEXTURE0);
        glEnable(GL_DEPTH_TEST);
        const glm::mat4 projection = glm::perspective(1.5707964f, 1.0f, 0.1f, 1000.0f);
        SetViewport(cube.edge, cube.edge);
        for (const CubeFace& face : kCubeFaces) {
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, face.target, cube.texture, 0);
            // The clear colour is whatever was set last: the set-up colour on
            // the very first cube render, the glow chain's black after that.
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            const glm::mat4 view = glm::lookAt(frame.cubeEye, frame.cubeEye + face.direction, face.up);
            DrawObjects(frame, program, projection, view, {.cube = true, .glass = true});
        }
        SetViewport(screenWidth, screenHeight);
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube.texture);
    glGenerateMipmap(GL_TEXTURE_CUBE_MAP);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::BlurCubeMap(CubeMap& destination, const CubeMap& source, int edge, float strength, bool horizontal) {
    // One separable blur step of the environment chain. Source and
    // destination are always different cubes, so no face reads itself.
    ShaderProgram* program = programs.cubeBlurProgram.get();
    if (!Use(program) || &destination == &source) return;
    glBindFramebuffer(GL_FRAMEBUFFER, destination.framebuffer);
    glUniform1i(program->UniformLocation("horizontal"), horizontal ? 1 : 0);
    glUniform1f(program->UniformLocation("blurStrength"), strength);
    glClearColor(1.0f, 0.0f, 0.0f, 0.0f);
    glActiveTexture(GL_TEXTURE0 + kPictureUnit);
    glUniform1i(program->UniformLocation("cubeMap"), kPictureUnit);
    glBindTexture(GL_TEXTURE_CUBE_MAP, source.texture);
    SetViewport(edge, edge);
    const GLint faceLocation = program->UniformLocation("face");
    for (int step = 0; step < 6; ++step) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, kCubeFaces[step].target, destination.texture, 0);
        glUniform1i(faceLocation, step);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        DrawFullScreenQuad();
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, destination.texture);
    glGenerateMipmap(GL_TEXTURE_CUBE_MAP);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::GeometryPass(const PreparedFrame& frame) {
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram* program = programs.geometryProgram.get();
    if (!Use(program)) return;
    glUniform1i(program->UniformLocation("useCubemap"), 0);
    BindCube(*program, "cubeMap", cubes.cube256.texture, GeometryUnits::cubeMap);
    program->SetTextureName("shadowMap", targets.shadowDepthTex, GeometryUnits::shadowMap);
    BindShadowMask(*program, frame.shadowMask, GeometryUnits::shadowMask);
    DrawObjects(frame, program, frame.projection, frame.view, {.glass = false});
}

void Renderer::SsaoPass(const PreparedFrame& frame) {
    glBindFramebuffer(GL_FRAMEBUFFER, targets.ssaoTarget);
    ClearToBlack(GL_COLOR_BUFFER_BIT);
    ShaderProgram* program = programs.ssaoProgram.get();
    if (!Use(program)) return;
    UploadMatrix(*program, "MVP", frame.mvp);
    UploadMatrix(*program, "M", frame.model);
    UploadMatrix(*program, "P", frame.projection);
    program->SetTextureName("colorMap", gbuffer.colorTex, SsaoUnits::color);
    program->SetTextureName("normalMap", gbuffer.normalTex, SsaoUnits::normal);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, SsaoUnits::tangent);
    program->SetTextureName("depthMap", gbuffer.depthTex, SsaoUnits::depth);
    program->SetTextureName("positionMap", gbuffer.positionTex, SsaoUnits::position);
    program->SetTextureName("propertiesMap", gbuffer.propertiesTex, SsaoUnits::properties);
    glActiveTexture(GL_TEXTURE0);
    DrawFullScreenQuad();
}

void Renderer::SsaoBlurPass(GLuint target, bool horizontal, GLuint input) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.ssaoBlurProgram.get();
    if (!Use(program)) return;
    const GLfloat resolution[2] = {static_cast<GLfloat>(screenWidth), static_cast<GLfloat>(screenHeight)};
    glUniform2fv(program->UniformLocation("resolution"), 1, resolution);
    glUniform1i(program->UniformLocation("horizontal"), horizontal ? 1 : 0);
    program->SetTextureName("ssaoMap", input, SsaoBlurUnits::occlusion);
    program->SetTextureName("normalMap", gbuffer.normalTex, SsaoBlurUnits::normal);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, SsaoBlurUnits::tangent);
    program->SetTextureName("depthMap", gbuffer.depthTex, SsaoBlurUnits::depth);
    program->SetTextureName("positionMap", gbuffer.positionTex, SsaoBlurUnits::position);
    glActiveTexture(GL_TEXTURE0);
    DrawFullScreenQuad();
}

void Renderer::LightingPass(const PreparedFrame& frame, GLuint target) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.deferredProgram.get();
    if (!Use(program)) return;
    UploadLights(frame.lights, program);
    BindShadowMask(*program, frame.shadowMask, LightingUnits::shadowMask);
    UploadMatrix(*program, "MVP", frame.mvp);
    UploadMatrix(*program, "V", frame.view);
    UploadMatrix(*program, "M", frame.model);
    UploadMatrix(*program, "P", frame.projection);
    UploadMatrix(*program, "DepthBiasMVP", frame.shadow.biasMvp);
    program->SetTextureName("colorMap", gbuffer.colorTex, LightingUnits::color);
    program->SetTextureName("normalMap", gbuffer.normalTex, LightingUnits::normal);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, LightingUnits::tangent);
    program->SetTextureName("depthMap", gbuffer.depthTex, LightingUnits::depth);
    program->SetTextureName("positionMap", gbuffer.positionTex, LightingUnits::position);
    program->SetTextureName("ssaoMap", targets.ssaoTex, LightingUnits::occlusion);
    program->SetTextureName("propertiesMap", gbuffer.propertiesTex, LightingUnits::properties);
    BindCube(*program, "cubeMap", cubes.cube256.texture, LightingUnits::cubeMap);
    BindCube(*program, "cubeMapBlur", cubes.cube128b.texture, LightingUnits::cubeBlur);
    BindCube(*program, "cubeMapBlur2", cubes.cube85b.texture, LightingUnits::cubeBlur2);
    BindCube(*program, "cubeMapBlur3", cubes.cube128a.texture, LightingUnits::cubeBlur3);
    DrawFullScreenQuad();
}

void Renderer::GlassPass(const PreparedFrame& frame, GLuint glassTarget, GLuint finalTarget, GLuint litImage) {
    // Glass samples copies, never the targets its two layers write.
    CopyTexture(frame, gbuffer.propertiesTex, gbuffer.savedPropertiesTex);
    CopyTexture(frame, gbuffer.tangentTex, gbuffer.savedTangentTex);
    CopyTexture(frame, gbuffer.colorTex, gbuffer.savedColorTex);
    CopyTexture(frame, gbuffer.normalTex, gbuffer.savedNormalTex);
    CopyDepth(gbuffer.depthTex, gbuffer.savedDepthTex);
    CopyTexture(frame, gbuffer.positionTex, gbuffer.savedPositionTex);

    ShaderProgram* simple = programs.simpleProgram.get();
    ShaderProgram* refraction = programs.refractionProgram.get();
    const GLfloat resolution[2] = {static_cast<GLfloat>(screenWidth), static_cast<GLfloat>(screenHeight)};

    // Back faces over the lit picture, in gbuffer.glassColorTex.
    glBindFramebuffer(GL_FRAMEBUFFER, glassTarget);
    glDrawBuffers(1, kFiveBuffers);
    if (Use(simple)) {
        simple->SetTextureName("renderedTexture", litImage, kPictureUnit);
        DrawFullScreenQuad();
    }
    glEnable(GL_DEPTH_TEST);
    glDrawBuffers(5, kFiveBuffers);
    if (Use(refraction)) {
        glUniform1i(refraction->UniformLocation("useCubemap"), 0);
        BindCube(*refraction, "cubeMap", cubes.cube256.texture, GlassUnits::cubeMap);
        UploadLights(frame.lights, refraction);
        glUniform2fv(refraction->UniformLocation("viewportResolution"), 1, resolution);
        refraction->SetTextureName("backgroundImage", litImage, GlassUnits::background);
        BindCube(*refraction, "cubeMapBlur", cubes.cube128b.texture, GlassUnits::cubeBlur);
        BindCube(*refraction, "cubeMapBlur2", cubes.cube85b.texture, GlassUnits::cubeBlur2);
        BindCube(*refraction, "cubeMapBlur3", cubes.cube128a.texture, GlassUnits::cubeBlur3);
        refraction->SetTextureName("shadowMap", targets.shadowDepthTex, GlassUnits::shadowMap);
        glUniform1i(refraction->UniformLocation("isFaceInverted"), 0);
        BindShadowMask(*refraction, frame.shadowMask, GlassUnits::shadowMask);
        DrawObjects(frame, refraction, frame.projection, frame.view, {.glass = true, .invertFaces = true});
    }

    // The final layer starts as the opaque scene under the lit picture.
    glBindFramebuffer(GL_FRAMEBUFFER, finalTarget);
    glDrawBuffers(1, kFiveBuffers);
    glDisable(GL_DEPTH_TEST);
    if (Use(simple)) {
        simple->SetTextureName("renderedTexture", litImage, kPictureUnit);
        DrawFullScreenQuad();
    }
    CopyTexture(frame, gbuffer.savedTangentTex, gbuffer.finalTangentTex);
    CopyTexture(frame, gbuffer.savedNormalTex, gbuffer.finalNormalTex);
    CopyTexture(frame, gbuffer.propertiesTex, gbuffer.finalPropertiesTex);
    CopyDepth(gbuffer.savedDepthTex, gbuffer.finalDepthTex);
    // The back faces wrote gbuffer.savedPositionTex; gbuffer.positionTex still holds the
    // opaque positions.
    CopyTexture(frame, gbuffer.positionTex, gbuffer.finalPositionTex);

    // Front faces over the back-face picture, depth-tested against the opaque scene.
    glBindFramebuffer(GL_FRAMEBUFFER, finalTarget);
    glEnable(GL_DEPTH_TEST);
    glDrawBuffers(5, kFiveBuffers);
    if (Use(refraction)) {
        UploadLights(frame.lights, refraction);
        glUniform1i(refraction->UniformLocation("isFaceInverted"), 1);
        refraction->SetTextureName("backgroundImage", gbuffer.glassColorTex, GlassUnits::backgroundFront);
        DrawObjects(frame, refraction, frame.projection, frame.view, {.glass = true});
    }
    glDisable(GL_DEPTH_TEST);
}

void Renderer::ReflectionPass(const PreparedFrame& frame, GLuint target, GLuint colorInput) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.reflectProgram.get();
    if (!Use(program)) return;
    program->SetTextureName("colorMap", colorInput, ReflectionUnits::color);
    program->SetTextureName("normalMap", gbuffer.finalNormalTex, ReflectionUnits::normal);
    program->SetTextureName("depthMap", gbuffer.finalDepthTex, ReflectionUnits::depth);
    program->SetTextureName("positionMap", gbuffer.finalPositionTex, ReflectionUnits::position);
    program->SetTextureName("propertiesMap", gbuffer.finalPropertiesTex, ReflectionUnits::properties);
    program->SetTextureName("colorMapUnshaded", colorInput, ReflectionUnits::unshadedColor);
    program->SetTextureName("shadowMap", targets.shadowDepthTex, ReflectionUnits::shadowMap);
    program->SetTextureName("positionMapGlass", gbuffer.finalPositionTex, ReflectionUnits::glassPosition);
    UploadMatrix(*program, "DepthBiasMVP", frame.shadow.biasMvp);
    UploadMatrix(*program, "MVP", frame.mvp);
    UploadMatrix(*program, "M", frame.model);
    UploadMatrix(*program, "V", frame.view);
    UploadMatrix(*program, "P", frame.projection);
    DrawFullScreenQuad();
}

void Renderer::ParticlePass(const PreparedFrame& frame) {
    // targets.combined2Target shares the G-buffer's depth, so the scene hides the
    // particles behind it. The quads write depth too: a system drawn later
    // stays behind the sprites of one drawn before it.
    if (!programs.particleProgram || programs.particleProgram->program == 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, targets.combined2Target);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glUseProgram(programs.particleProgram->program);
    for (const PreparedFrame::ParticleQuads& quads : frame.particleQuads)
        DrawQuads(quads, programs.particleProgram.get(), frame.projection, frame.view, frame.shadow.biasMvp,
                  frame.time);
    glDisable(GL_BLEND);
}

void Renderer::GlowPass(const PreparedFrame::Post& levels, ShaderProgram* program, GLuint tmpTarget,
                        GLuint sceneImage, GLuint target, GLuint tmpImage, GLuint positionImage) {
    // Anamorphic streaks, flares and lens reflections of the bright parts.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    // Both targets are cleared first: without the program the mix adds no
    // glow rather than last frame's.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, tmpTarget);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!Use(program)) return;
    glUniform1f(program->UniformLocation("uAnamorphicIntensity"), levels.anamorphicGlow);
    glUniform1f(program->UniformLocation("uLensFlareIntensity"), levels.lensFlare);
    glUniform1f(program->UniformLocation("uRadialReflectIntensity"), levels.lensReflect);
    glUniform1i(program->UniformLocation("isHorizontal"), 1);
    program->SetTextureName("texture", sceneImage, GlowUnits::image);
    program->SetTextureName("texturePosition", positionImage, GlowUnits::position);
    // Each pixel's glow amount, for the halo of glowing objects.
    program->SetTextureName("textureProperties", gbuffer.finalPropertiesTex, GlowUnits::properties);
    DrawFullScreenQuad();

    glBindFramebuffer(GL_FRAMEBUFFER, target);
    glUniform1i(program->UniformLocation("isHorizontal"), 0);
    program->SetTextureName("texture", tmpImage, GlowUnits::image);
    program->SetTextureName("texturePosition", positionImage, GlowUnits::position);
    DrawFullScreenQuad();
    glActiveTexture(GL_TEXTURE0);
}

bool Renderer::LensDirtPass(const PreparedFrame::Post& levels, ShaderProgram* program, GLuint target,
                            GLuint glowImage, GLuint sceneImage) {
    // The glow through the lens dirt, the fades and the colour filter.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    if (!Use(program) || !levels.lensDirtTexture) return false;
    glUniform1f(program->UniformLocation("uLensDirtIntensity"), levels.lensDirt);
    glUniform1f(program->UniformLocation("uLensDirtIntensityClean"), levels.lensDirtClean);
    glUniform1f(program->UniformLocation("uFadeToBlack"), levels.fadeBlack);
    glUniform1f(program->UniformLocation("uFadeToWhite"), levels.fadeWhite);
    glUniform1f(program->UniformLocation("uColorFilterIntensity"), levels.colorFilter);
    const glm::vec3& color = levels.colorFilterColor;
    glUniform3f(program->UniformLocation("uColorFilterColor"), color.x, color.y, color.z);
    program->SetTextureName("texLensDirtIntensity", glowImage, LensDirtUnits::glow);
    program->SetTextureName("texScene", sceneImage, LensDirtUnits::scene);
    program->SetTexture("texLensDirt", levels.lensDirtTexture, LensDirtUnits::dirt);
    DrawFullScreenQuad();
    glActiveTexture(GL_TEXTURE0);
    return true;
}

void Renderer::FinalBlit() {
    SetViewport(screenWidth, screenHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram* program = programs.simpleProgram.get();
    if (!Use(program)) return;
    program->SetTextureName("renderedTexture", targets.shownTex ? targets.shownTex : targets.combined2Tex, kPictureUnit);
    DrawFullScreenQuad();
}

}  // namespace caldera
