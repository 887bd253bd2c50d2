#include <glm/glm.hpp>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lint/LintContext.h"
#include "platform/Log.h"
#include "resources/SModelLoader.h"

namespace caldera {

// The model is loaded with the player's loader (what it keeps is what the
// player draws); a line scan beside it finds the lines behind what the loader
// drops or fans wrongly, with the loader's own rules for lines and indices.

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct Line {
    const char* begin;
    const char* end;
    int number;
};

// The lines as the loader takes them: split at '\n'; one that starts with a
// space is trimmed; comments and lines of 2 characters or fewer are skipped.
std::vector<Line> ContentLines(const char* text, const char* end) {
    std::vector<Line> lines;
    int number = 0;
    for (const char* p = text; p < end;) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* lineEnd = newline ? newline : end;
        ++number;
        const char* b = p;
        const char* e = lineEnd;
        if (*b == ' ') {
            while (b < e && IsSpace(*b)) ++b;
            while (e > b && IsSpace(e[-1])) --e;
        }
        if (e - b > 2 && *b != '#') lines.push_back({b, e, number});
        p = newline ? newline + 1 : end;
    }
    return lines;
}

struct Corner {
    int64_t index[3] = {0, 0, 0};  // as written: position, uv, normal (0: absent)
    bool present[3] = {false, false, false};
};

std::vector<Corner> Corners(const char* p, const char* end) {
    std::vector<Corner> corners;
    while (p < end) {
        while (p < end && IsSpace(*p)) ++p;
        if (p >= end) break;
        Corner corner;
        for (int k = 0; k < 3 && p < end && !IsSpace(*p); ++k) {
            bool negative = false;
            if (*p == '-' || *p == '+') negative = *p++ == '-';
            int64_t value = 0;
            bool digits = false;
            for (; p < end && *p >= '0' && *p <= '9'; ++p) {
                digits = true;
                if (value < (int64_t{1} << 40)) value = value * 10 + (*p - '0');
            }
            corner.present[k] = digits;
            corner.index[k] = negative ? -value : value;
            while (p < end && *p != '/' && !IsSpace(*p)) ++p;
            if (p < end && *p == '/') ++p;
            else break;
        }
        while (p < end && !IsSpace(*p)) ++p;
        corners.push_back(corner);
    }
    return corners;
}

}  // namespace

void CheckObjModel(const FileBuffer& file, Reporter& report) {
    const char* text = file.data.data();
    const size_t size = file.size;
    if (size == 0) {
        report.Error(1, "empty model file: the object draws nothing");
        return;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        report.Error(1, "UTF-16 text: the loader reads nothing of it; save the model as UTF-8 or ASCII");
        return;
    }
    const char* zero = static_cast<const char*>(std::memchr(text, 0, size));
    if (zero) {
        int line = 1;
        for (const char* p = text; p < zero; ++p) line += *p == '\n';
        report.Error(line, zero - text < 4 ? "UTF-16 or binary data: the loader reads nothing of it; save the model as UTF-8 or ASCII"
                                            : "a zero byte: the loader stops reading the model here");
        if (zero - text < 4) return;
    }

    SModelLoader loader;
    bool noFaces = false;
    {
        LogSilence quiet;
        noFaces = !loader.LoadObjText("", text, size) || loader.triangleCount == 0;
    }

    const char* end = zero ? zero : text + size;
    const std::vector<Line> lines = ContentLines(text, end);
    // Final element counts: positive indices may point forward.
    int64_t total[3] = {0, 0, 0};
    for (const Line& line : lines) {
        if (line.begin[0] != 'v') continue;
        if (line.begin[1] == ' ') ++total[0];
        else if (line.begin[1] == 't' && line.begin[2] == ' ') ++total[1];
        else if (line.begin[1] == 'n' && line.begin[2] == ' ') ++total[2];
    }
    static const char* const kKinds[] = {"vertex", "texture coordinate", "normal"};

    int64_t read[3] = {0, 0, 0};
    int dropped = 0, concave = 0, linesAndPoints = 0;
    std::map<std::string, int> materials;  // usemtl name -> first line
    for (const Line& line : lines) {
        const char c0 = line.begin[0], c1 = line.begin[1];
        if (c0 == 'v') {
            if (c1 == ' ') ++read[0];
            else if (c1 == 't' && line.begin[2] == ' ') ++read[1];
            else if (c1 == 'n' && line.begin[2] == ' ') ++read[2];
            continue;
        }
        if ((c0 == 'l' || c0 == 'p') && c1 == ' ') {
            if (linesAndPoints++ == 0)
                report.Warning(line.number, std::string(c0 == 'l' ? "a line element" : "a point element") +
                                                ": the loader draws only faces and ignores lines and points");
            continue;
        }
        if (std::strncmp(line.begin, "usemtl", 6) == 0 && line.end - line.begin > 6 && IsSpace(line.begin[6])) {
            const char* b = line.begin + 6;
            while (b < line.end && IsSpace(*b)) ++b;
            const char* e = line.end;
            while (e > b && IsSpace(e[-1])) --e;
            std::string name(b, e);
            if (materials.emplace(name, line.number).second && materials.size() == 2)
                report.Warning(line.number, "a second material ('usemtl " + name +
                                                "'): the whole model draws with the one material of its scene object; "
                                                "split it into one model per material");
            continue;
        }
        if (!(c0 == 'f' && c1 == ' ')) continue;

        std::vector<Corner> corners = Corners(line.begin + 2, line.end);
        std::string problem;
        std::vector<int64_t> positions;
        for (const Corner& corner : corners) {
            for (int k = 0; k < 3 && problem.empty(); ++k) {
                if (!corner.present[k]) {
                    if (k == 0) problem = "a corner without a vertex index";
                    continue;
                }
                int64_t value = corner.index[k];
                int64_t resolved = value < 0 ? read[k] + 1 + value : value;
                if (value == 0 || resolved < 1 || resolved > total[k])
                    problem = std::string(kKinds[k]) + " index " + std::to_string(value) + " names no " + kKinds[k] +
                              " (the file has " + std::to_string(total[k]) + ")";
                else if (k == 0)
                    positions.push_back(resolved);
            }
            if (!problem.empty()) break;
        }
        if (!problem.empty()) {
            if (dropped++ < 20) report.Error(line.number, "face dropped: " + problem);
            continue;
        }
        // A polygon of four or more corners is fanned from its first corner:
        // right only when it is convex.
        if (positions.size() >= 4 && loader.positions.size() >= static_cast<size_t>(total[0])) {
            std::vector<glm::vec3> p;
            for (int64_t index : positions) p.push_back(loader.positions[static_cast<size_t>(index - 1)]);
            glm::vec3 normal(0.0f);  // Newell's normal of the polygon
            for (size_t i = 0; i < p.size(); ++i) {
                const glm::vec3& a = p[i];
                const glm::vec3& b = p[(i + 1) % p.size()];
                normal += glm::vec3((a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y));
            }
            bool isConcave = false;
            for (size_t i = 0; i < p.size() && !isConcave; ++i) {
                glm::vec3 e1 = p[(i + 1) % p.size()] - p[i];
                glm::vec3 e2 = p[(i + 2) % p.size()] - p[(i + 1) % p.size()];
                if (glm::dot(glm::cross(e1, e2), normal) < -1e-12f) isConcave = true;
            }
            if (isConcave && concave++ < 20)
                report.Warning(line.number, "concave face of " + std::to_string(p.size()) +
                                                " corners: it is fanned from its first corner into the wrong shape; "
                                                "triangulate it when exporting");
        }
    }
    // Faces that were all dropped are named above, each on its line.
    if (noFaces) {
        report.Error(1, dropped > 0 ? "no faces left: every face is dropped, so the model draws nothing"
                                    : "no faces: the model draws nothing");
        return;
    }
    if (dropped > 20)
        report.Error(1, std::to_string(dropped) + " faces dropped in all (the first 20 are listed)");
    if (concave > 20) report.Warning(1, std::to_string(concave) + " concave faces in all (the first 20 are listed)");
}

}  // namespace caldera
