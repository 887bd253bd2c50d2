#pragma once

#include <glm/mat4x4.hpp>

class Array;
class Object;
class Scene;
class ShaderProgram;

// How a scene's objects reach the GL: the one loop every pass draws a scene
// with, and the draws of an object, its arrays and its particle copies.
// Render thread, context current.

// Draws the top-level objects of `scene` (and with them their children) with
// `program`: those whose glass flag equals `glassWanted`, or all with
// `allObjects` (the cube-map render); only shadow casters with
// `onlyShadowCasters`. Front faces are counter-clockwise with `invertFaces`,
// else clockwise. Outside the cube-map render it polls the scene's file
// every 500 ms and reloads it when it changed.
void DrawObjects(Scene& scene, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view,
                 bool allObjects, bool glassWanted, bool onlyShadowCasters, bool invertFaces);

// Draws the mesh of `object` with its material at the current frame, then
// its particle copies, its arrays and its children (each offset by the
// object's position). Leaves face culling as "Cull Face" set it and no
// program in use.
void DrawObject(Object& object, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view);

// Draws every copy of the chain that starts at `first`: the owner's render
// state is applied once, then each leaf copy gets its matrices,
// "modelScale" and a draw of the owner's mesh. Without a usable program
// nothing is drawn.
void DrawArray(Array& first, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view);

// The scene's lights at the current frame (Scene::GatherLights), uploaded as
// "usedLights", "lightsPos" and "lightsCol".
void UploadLights(Scene& scene, ShaderProgram* program);
