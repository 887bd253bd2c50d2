#pragma once

#include "platform/Gl.h"

#include <atomic>
#include <cstdint>
#include <memory>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "render/CubeMap.h"
#include "render/ShaderProgram.h"
#include "playback/PreparedFrame.h"
#include "scene/FrameState.h"

namespace caldera {

class Scene;
class Camera;
class PassProfiler;
class Texture;

// The back end of a frame: the pipeline's GL objects in named groups (G-buffers, targets, programs, cubes) and the
// passes in the order DrawFrame runs them. Every pass draws from the
// PreparedFrame the front end (playback/FrameDriver.h) made, which it reads
// as const; nothing here writes into a scene.
class Renderer {
public:
    static Renderer& Instance();

    // Written once after the window is created (SetScreenSize); render
    // thread only afterwards.
    int screenWidth = 0;
    int screenHeight = 0;
    int glowWidth = 0;   // the glow chain works at a sixth of the picture
    int glowHeight = 0;
    static constexpr int kGlowDivisor = 6;

    // GL objects of the pipeline, made by Init and never released or
    // resized; render thread only. 0 (or null) before Init.

    // The G-buffer the geometry pass writes (attachment i from fragment
    // output i), and the two layers of the glass pass with the copies it
    // saves of the opaque G-buffer.
    struct GBuffers {
        GLuint gBuffer = 0;
        GLuint colorTex = 0, normalTex = 0, tangentTex = 0, positionTex = 0, propertiesTex = 0, depthTex = 0;
        GLuint glassGBuffer = 0;  // glass back faces
        GLuint glassColorTex = 0;
        GLuint savedDepthTex = 0, savedPositionTex = 0, savedTangentTex = 0, savedColorTex = 0, savedNormalTex = 0,
               savedPropertiesTex = 0;
        GLuint finalGBuffer = 0;  // opaque scene with the glass front faces on top
        GLuint finalColorTex = 0, finalDepthTex = 0, finalPositionTex = 0, finalTangentTex = 0, finalNormalTex = 0,
               finalPropertiesTex = 0;
    } gbuffer;

    // Every other target of the frame, in pass order.
    struct Targets {
        static constexpr int shadowSize = 1024;
        GLuint shadowTarget = 0, shadowDepthTex = 0;
        GLuint ssaoTarget = 0, ssaoTex = 0, ssaoBlurTarget = 0, ssaoBlurTex = 0;
        GLuint ssaoBlur2Target = 0;  // writes back into ssaoTex
        GLuint combinedTarget = 0, combinedTex = 0;    // the lit picture
        GLuint combinedGlassTarget = 0;                // on gbuffer.glassColorTex
        GLuint combined2Target = 0, combined2Tex = 0;  // after reflections and particles
        // The glow chain's two targets at glowWidth x glowHeight.
        GLuint lensDirtTarget = 0, lensDirtTmpTarget = 0, lensDirtTex = 0, lensDirtTmpTex = 0;
        // The lens-dirt mix writes here, reading combined2Tex: a pass never
        // samples the texture it renders into.
        GLuint mixTarget = 0, mixTex = 0;
        GLuint shownTex = 0;  // what FinalBlit shows this frame: combined2Tex or mixTex
    } targets;

    // The sixteen programs, in the order Init builds them (and the rebuild
    // sweep visits them). A program whose files are missing or broken stays
    // here with its GL program 0.
    struct Programs {
        std::unique_ptr<ShaderProgram> ssaoProgram, copyProgram, deferredProgram, ssaoBlurProgram, reflectProgram,
            cubeBlurProgram, geometryProgram, particleProgram, debugProgram, simpleProgram, refractionProgram,
            lensDirtThresholdProgram, lensDirtBlurProgram, lensDirtMixProgram, shadowProgram, glowBlurProgram;
    } programs;

    // The environment cube and its blur chain.
    struct Cubes {
        int cubeSize = 256;
        CubeMap cube256, cube128a, cube128b, cube85a, cube85b;
    } cubes;

    // Shared by every pass.
    GLuint quadBuffer = 0;        // the full-screen quad
    GLuint defaultNormalTex = 0;  // 1x1 (128, 128, 255): a flat tangent-space normal
    GLuint whiteTex = 0;          // 1x1 white

    // Where the production stands, published by the frame driver
    // (playback/FrameDriver.h); render thread only.
    FrameState& frame = FrameState::Current();

    // Programs, targets and default textures; render thread, context current.
    // Failures are logged and set-up goes on: a missing shader leaves its
    // program 0, an incomplete framebuffer is drawn into regardless.
    void Init();
    // The picture's size in pixels, and the glow chain's from it; before Init.
    void SetScreenSize(int width, int height);
    // Draws the full-screen quad.
    void DrawFullScreenQuad();
    // Draws `source` into `destination` (both W x H colour textures) with
    // copyProgram, with the frame's camera matrices. Leaves the copy
    // framebuffer bound and depth testing off.
    void CopyTexture(const PreparedFrame& frame, GLuint source, GLuint destination);
    // Blits the W x H depth texture `source` into `destination`; leaves
    // framebuffer 0 bound for reading and drawing.
    void CopyDepth(GLuint source, GLuint destination);
    // Edited shaders take effect before anything is drawn with them: every
    // program rebuilds itself when its files changed, while the show's
    // shaderWatch is set.
    void CheckShaders();
    // The pipeline for a prepared frame with a scene.
    void DrawFrame(const PreparedFrame& frame);
    // A frame no shot covers: the window shows black, not whatever the back
    // buffer held.
    void ClearFrame();
    // The passes of the frame, in the order DrawFrame runs them. Each binds
    // its own target and sets the state it needs. Render thread.
    void RebuildPrograms();
    void ShadowPass(const PreparedFrame& frame, GLuint target);
    // Renders and blurs the environment cube when the scene changed since
    // the last render or asks for it every frame.
    void UpdateCubeMaps(const PreparedFrame& frame);
    // The scene seen from the frame's cube eye, face by face, with its own
    // projection and views: the camera's are not touched.
    void RenderCubeMap(const PreparedFrame& frame, CubeMap& cube);
    void BlurCubeMap(CubeMap& destination, const CubeMap& source, int edge, float strength, bool horizontal);
    void GeometryPass(const PreparedFrame& frame);
    void SsaoPass(const PreparedFrame& frame);
    void SsaoBlurPass(GLuint target, bool horizontal, GLuint input);
    void LightingPass(const PreparedFrame& frame, GLuint target);
    void GlassPass(const PreparedFrame& frame, GLuint glassTarget, GLuint finalTarget, GLuint litImage);
    void ReflectionPass(const PreparedFrame& frame, GLuint target, GLuint colorInput);
    void ParticlePass(const PreparedFrame& frame);
    void GlowPass(const PreparedFrame::Post& levels, ShaderProgram* program, GLuint tmpTarget, GLuint sceneImage,
                  GLuint target, GLuint tmpImage, GLuint positionImage);
    // Mixes into `target`, which must not hold `glowImage` or `sceneImage`.
    // False when nothing was drawn (no program, no dirt texture).
    bool LensDirtPass(const PreparedFrame::Post& levels, ShaderProgram* program, GLuint target, GLuint glowImage,
                      GLuint sceneImage);
    // The composed picture to the default framebuffer.
    void FinalBlit();
    // Viewport and scissor box together: every pass draws into the whole of
    // the rectangle it sets.
    void SetViewport(int width, int height);

    Scene* lastCubeScene = nullptr;  // the scene the environment cube shows
    int cubeRenders = 0;             // cube renders since start, for tests and profiles

    // GPU and CPU time per pass when set (the capture tool's --profile).
    PassProfiler* profiler = nullptr;

private:
    Renderer() = default;
    // Made by the first copy, kept for the life of the process.
    GLuint copyFramebuffers[2] = {0, 0};
    GLuint depthCopyFramebuffers[2] = {0, 0};
};

}  // namespace caldera
