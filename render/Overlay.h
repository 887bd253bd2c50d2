#pragma once

#include <string>
#include <vector>

namespace caldera {

// The author mode's text over the finished picture: a few lines in a small
// bitmap font on a dark band at the top left. Drawn into the window's own
// framebuffer after the frame, so no capture or video ever holds it. Render
// thread, with the context current.
class Overlay {
public:
    Overlay() = default;
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    // Draws `lines` on a `width` x `height` window; GL state the frame relies
    // on (program, blending, depth test, viewport) is left as the frame's
    // start expects it.
    void Draw(const std::vector<std::string>& lines, int width, int height);
    // Frees the GL objects; the context must still be current.
    void Release();

private:
    bool Prepare();

    unsigned program = 0;
    unsigned vertexArray = 0;
    unsigned vertexBuffer = 0;
    int pixelsLocation = -1;
    bool failed = false;       // the program did not build: nothing is drawn
    std::vector<char> quads;   // the font's output, reused frame to frame
    std::vector<float> triangles;
};

}  // namespace caldera
