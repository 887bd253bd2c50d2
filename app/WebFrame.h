#pragma once

namespace caldera {

struct PreparedFrame;

// The web build's back end, for now: the page's frame buffer cleared to a
// colour the frame's scene picks (from its name's hash), so that the page,
// its stills and the running show can be checked until the renderer draws
// on WebGL 2. The one seam that the renderer's draw (Renderer::DrawFrame)
// replaces.
void DrawPreparedFrame(const PreparedFrame& frame, int width, int height);

// A moment that no shot covers: black.
void ClearUncoveredFrame(int width, int height);

}  // namespace caldera
