#include "app/FreeCamera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <glm/gtc/matrix_transform.hpp>

namespace caldera {

namespace {

constexpr float kLookRadiansPerPixel = 0.004f;
// Short of straight up or down, where yaw would lose its meaning.
constexpr float kMaxPitch = 1.55f;
constexpr float kMinSpeed = 0.05f;
constexpr float kMaxSpeed = 500.0f;

// The shortest text that reads back as the same float.
std::string Number(float value) {
    char text[32];
    for (int digits = 4; digits <= 9; ++digits) {
        std::snprintf(text, sizeof(text), "%.*g", digits, static_cast<double>(value));
        // As the scene loader reads it: a double, then a float.
        if (static_cast<float>(std::strtod(text, nullptr)) == value) break;
    }
    // "-0" reads as 0 anyway; it only puzzles the reader.
    if (std::string(text) == "-0") return "0";
    return text;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

}  // namespace

void FreeCamera::Toggle(const CameraView& shown) {
    active = !active;
    if (active) view = shown;
}

void FreeCamera::Look(float dx, float dy) {
    // Positive yaw turns left and positive pitch looks up.
    view.rotation.y -= dx * kLookRadiansPerPixel;
    view.rotation.x = std::clamp(view.rotation.x - dy * kLookRadiansPerPixel, -kMaxPitch, kMaxPitch);
}

void FreeCamera::ChangeSpeed(int notches) {
    speed = std::clamp(speed * std::pow(1.25f, static_cast<float>(notches)), kMinSpeed, kMaxSpeed);
}

void FreeCamera::Move(const Motion& motion, float seconds) {
    if (motion.forward == 0 && motion.right == 0 && motion.up == 0) return;
    // The camera's own turn, in its order: yaw, then pitch, then roll.
    glm::mat4 turn(1.0f);
    turn = glm::rotate(turn, view.rotation.y, glm::vec3(0, 1, 0));
    turn = glm::rotate(turn, view.rotation.x, glm::vec3(1, 0, 0));
    turn = glm::rotate(turn, view.rotation.z, glm::vec3(0, 0, 1));
    const glm::vec3 forward(turn * glm::vec4(0, 0, -1, 0));
    const glm::vec3 right(turn * glm::vec4(1, 0, 0, 0));
    const float step = speed * (motion.fast ? 4.0f : 1.0f) * seconds;
    view.position += step * (static_cast<float>(motion.forward) * forward + static_cast<float>(motion.right) * right +
                             static_cast<float>(motion.up) * glm::vec3(0, 1, 0));
}

std::string CameraViewXml(const CameraView& view, const std::string& cameraName, long long keyFrame,
                          double musicSeconds, const std::string& shotText) {
    const std::string frame = std::to_string(keyFrame);
    char time[48];
    std::snprintf(time, sizeof(time), "%.6f", musicSeconds);
    // A comment may not hold "--".
    std::string shot = shotText;
    for (size_t at = shot.find("--"); at != std::string::npos; at = shot.find("--", at)) shot.replace(at, 2, "- ");
    std::string xml;
    xml += "<!-- view at " + std::string(time) + " s, " + shot + ", key frame " + frame + " -->\n";
    xml += "<Camera name=\"" + Escaped(cameraName) + "\">\n";
    xml += "  <Position>\n    <Key frame=\"" + frame + "\" x=\"" + Number(view.position.x) + "\" y=\"" +
           Number(view.position.y) + "\" z=\"" + Number(view.position.z) + "\"/>\n  </Position>\n";
    xml += "  <Rotation>\n    <Key frame=\"" + frame + "\" x=\"" + Number(view.rotation.x) + "\" y=\"" +
           Number(view.rotation.y) + "\" z=\"" + Number(view.rotation.z) + "\"/>\n  </Rotation>\n";
    xml += "  <FOV value=\"" + Number(view.fov) + "\"/>\n";
    xml += "</Camera>\n";
    return xml;
}

}  // namespace caldera
