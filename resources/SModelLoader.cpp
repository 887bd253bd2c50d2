#include "resources/SModelLoader.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "platform/Log.h"
#include "resources/FileBuffer.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// White space inside a face corner: all of IsSpace but ' ', which separates corners.
bool IsInnerSpace(char c) { return c >= '\t' && c <= '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

// The general case: anything strtof reads (many digits, huge exponents, hex,
// inf, nan). Copies the candidate token because the text has no terminator.
bool ParseFloatSlow(const char*& p, const char* end, float& out) {
    const char* t = p;
    while (t < end && (IsDigit(*t) || (*t >= 'a' && *t <= 'z') || (*t >= 'A' && *t <= 'Z') || *t == '.' ||
                       *t == '+' || *t == '-' || *t == '(' || *t == ')' || *t == '_'))
        ++t;
    size_t length = static_cast<size_t>(t - p);
    if (length == 0) return false;
    char small[128];
    std::string large;
    char* token = small;
    if (length < sizeof(small)) {
        std::memcpy(small, p, length);
        small[length] = '\0';
    } else {
        large.assign(p, length);
        token = large.data();
    }
    char* stop = nullptr;
    float value = std::strtof(token, &stop);
    if (stop == token) return false;
    out = value;
    p += stop - token;
    return true;
}

// Reads one number at p (white space already skipped), giving the float strtof
// gives: from_chars rounds decimals correctly, as strtof does. Signs, hex,
// inf, nan and results out of float range (strtof's infinity, zero or
// denormal) are left to strtof itself. False, with p unchanged, when no
// number starts at p.
bool ParseFloat(const char*& p, const char* end, float& out) {
    const char* s = p;
    bool negative = false;
    if (s < end && (*s == '-' || *s == '+')) {
        negative = *s == '-';
        ++s;
    }
    if (s >= end) return false;
    if (!IsDigit(*s) && *s != '.') {
        char c = static_cast<char>(*s | 0x20);
        return (c == 'i' || c == 'n') && ParseFloatSlow(p, end, out);
    }
    if (*s == '0' && s + 1 < end && (s[1] == 'x' || s[1] == 'X')) return ParseFloatSlow(p, end, out);
    float value = 0.0f;
    auto [stop, error] = std::from_chars(s, end, value, std::chars_format::general);
    if (error == std::errc::invalid_argument) return false;  // a lone '.'
    if (error != std::errc()) return ParseFloatSlow(p, end, out);
    out = negative ? -value : value;
    p = stop;
    return true;
}

// Reads up to `count` numbers separated by white space into `target`, stopping
// at the first that does not convert; components not read keep their values.
// Returns how many were read.
template <class Vec>
int ScanFloats(const char* p, const char* end, Vec& target, int count) {
    for (int i = 0; i < count; ++i) {
        while (p < end && IsSpace(*p)) ++p;
        if (!ParseFloat(p, end, target[i])) return i;
    }
    return count;
}

// Corners of a face line: pieces of the text after "f " between single spaces.
// Pieces holding nothing but white space are not corners (a doubled or trailing
// space is a formatting slip, not a vertex). Only dropped faces need this.
int64_t CountCorners(const char* p, const char* end) {
    int64_t corners = 0;
    bool inCorner = false;
    for (; p < end; ++p) {
        bool space = IsSpace(*p);
        if (!space && !inCorner) ++corners;
        if (*p == ' ') inCorner = false;
        else if (!space) inCorner = true;
    }
    return corners;
}

// Any magnitude past the largest possible count saturates here, so that
// indices of 2^32 + 1 and more cannot wrap into range.
constexpr int64_t kIndexLimit = int64_t{1} << 40;

// What one parse produces.
struct ObjArrays {
    std::vector<glm::vec3> positions;
    std::vector<glm::vec3> normals;
    std::vector<glm::vec2> uvs;
    std::vector<glm::ivec3> positionIndices;
    std::vector<glm::ivec3> uvIndices;
    std::vector<glm::ivec3> normalIndices;
    int64_t countedTriangles = 0;  // corners - 2 of every face line, dropped faces included
    bool tooLarge = false;         // a count passed int32: the model is refused
};

// A face whose positive indices reach past the elements read before it:
// whether it names real elements is known only at the end of the file.
struct ForwardFace {
    size_t firstTriangle = 0;
    size_t triangles = 0;
    glm::ivec3 highest{0};  // largest position, uv and normal index
};

// One left-to-right pass over lines. A whole-file parser resolves everything
// itself. A chunk parser reads a piece of a large file knowing nothing of the
// lines before it, so it gives up (needsWholeFile) on what depends on them:
// relative indices, and a short element line before the first complete one of
// its kind. Positive indices it keeps as they are; the caller checks them
// against the totals.
class ObjParser {
public:
    explicit ObjParser(bool chunk) : chunk(chunk) {}

    // Parses the lines of [p, end). A chunk parser also stops once `stop` is set.
    void Parse(const char* p, const char* end, const std::atomic<bool>* stop);
    // Whole-file parser, after Parse: drops the forward-referencing faces that
    // name elements past the end of the file.
    void DropFacesPastTheEnd();

    ObjArrays arrays;
    glm::ivec3 highest{0};  // chunk: the largest index of each kind
    bool needsWholeFile = false;

private:
    template <class Vec>
    void Element(const char* p, const char* end, Vec& state, std::vector<Vec>& out, int kind);
    void Face(const char* line, const char* end);
    bool Resolve(int64_t value, int64_t readSoFar, int kind, int& out, glm::ivec3& faceHighest, bool& forward);

    const bool chunk;
    // A line that does not convert fully keeps the components of the previous
    // line of its kind; before the first, those are 0.
    glm::vec3 position{0.0f};
    glm::vec3 normal{0.0f};
    glm::vec2 uv{0.0f};
    bool complete[3] = {};  // a full line of the kind was read
    std::vector<ForwardFace> forwardFaces;
};

void ObjParser::Parse(const char* p, const char* end, const std::atomic<bool>* stop) {
    uint32_t lines = 0;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* lineEnd = newline ? newline : end;
        // A line that starts with a space is trimmed at both ends; any other
        // line is taken as it is (a trailing '\r' ends the last number like
        // any other white space). Lines of 2 characters or fewer and comment
        // lines are skipped.
        const char* b = p;
        const char* e = lineEnd;
        if (*b == ' ') {
            while (b < e && IsSpace(*b)) ++b;
            while (e > b && IsSpace(e[-1])) --e;
        }
        if (e - b > 2 && *b != '#') {
            if (b[0] == 'v') {
                if (b[1] == ' ') Element(b + 1, e, position, arrays.positions, 0);
                else if (b[2] == ' ' && b[1] == 't') Element(b + 2, e, uv, arrays.uvs, 1);
                else if (b[2] == ' ' && b[1] == 'n') Element(b + 2, e, normal, arrays.normals, 2);
            } else if (b[0] == 'f' && b[1] == ' ') {
                Face(b, e);
            }
            if (arrays.tooLarge || needsWholeFile) return;
        }
        if (stop && (++lines & 4095) == 0 && stop->load(std::memory_order_relaxed)) return;
        p = newline ? newline + 1 : end;
    }
}

template <class Vec>
void ObjParser::Element(const char* p, const char* end, Vec& state, std::vector<Vec>& out, int kind) {
    if (out.size() >= static_cast<size_t>(kMaxCount)) {
        arrays.tooLarge = true;
        return;
    }
    int read = ScanFloats(p, end, state, Vec::length());
    if (read == Vec::length()) complete[kind] = true;
    else if (chunk && !complete[kind]) needsWholeFile = true;  // its other components come from an earlier chunk
    out.push_back(state);
}

// Turns a file index into a 1-based array index: positive indices count from
// the start of the file (forward references are fine, checked once the file
// is read), negative ones back from the last element read before the face.
// 0 and anything outside the elements name nothing.
bool ObjParser::Resolve(int64_t value, int64_t readSoFar, int kind, int& out, glm::ivec3& faceHighest, bool& forward) {
    if (value < 0) {
        if (chunk) {
            needsWholeFile = true;
            return false;
        }
        int64_t index = readSoFar + 1 + value;
        if (index < 1) return false;
        out = static_cast<int>(index);
        return true;
    }
    if (value == 0 || value > kMaxCount) return false;
    out = static_cast<int>(value);
    if (chunk) {
        highest[kind] = std::max(highest[kind], out);
    } else if (value > readSoFar) {
        forward = true;
        faceHighest[kind] = std::max(faceHighest[kind], out);
    }
    return true;
}

// Fans the corners of one "f " line into triangles in one scan; a face with
// an index that names no element adds none (half a polygon would be a wrong
// shape).
void ObjParser::Face(const char* line, const char* end) {
    std::vector<glm::ivec3>& positionIndices = arrays.positionIndices;
    const size_t firstTriangle = positionIndices.size();
    const int64_t read[3] = {static_cast<int64_t>(arrays.positions.size()), static_cast<int64_t>(arrays.uvs.size()),
                             static_cast<int64_t>(arrays.normals.size())};
    glm::ivec3 first(0), previous(0);  // position, uv and normal index of a corner
    glm::ivec3 faceHighest(0);
    bool forward = false;
    int64_t corners = 0;

    const char* p = line + 2;
    for (;;) {
        while (p < end && IsInnerSpace(*p)) ++p;
        if (p == end) break;
        if (*p == ' ') {  // an empty corner
            ++p;
            continue;
        }
        // Pieces v, vt and vn, each read like atoi; further pieces are
        // ignored. A missing or empty uv or normal piece leaves its index at
        // 0 (none).
        glm::ivec3 corner(0);
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            while (p < end && IsInnerSpace(*p)) ++p;
            bool negative = false;
            if (p < end && (*p == '-' || *p == '+')) {
                negative = *p == '-';
                ++p;
            }
            int64_t value = 0;
            bool present = false;
            for (; p < end && IsDigit(*p); ++p) {
                present = true;
                if (value < kIndexLimit) value = value * 10 + (*p - '0');
            }
            if (present) valid = Resolve(negative ? -value : value, read[k], k, corner[k], faceHighest, forward) && valid;
            else if (k == 0) valid = false;
            while (p < end && *p != '/' && *p != ' ') ++p;
            if (p == end || *p == ' ') break;
            ++p;
        }
        while (p < end && *p != ' ') ++p;
        if (!valid) {
            positionIndices.resize(firstTriangle);
            arrays.uvIndices.resize(firstTriangle);
            arrays.normalIndices.resize(firstTriangle);
            arrays.countedTriangles += std::max<int64_t>(CountCorners(line + 2, end) - 2, 0);
            if (arrays.countedTriangles > kMaxCount) arrays.tooLarge = true;
            return;
        }
        if (corners == 0) {
            first = corner;
        } else if (corners >= 2) {
            positionIndices.emplace_back(first[0], previous[0], corner[0]);
            arrays.uvIndices.emplace_back(first[1], previous[1], corner[1]);
            arrays.normalIndices.emplace_back(first[2], previous[2], corner[2]);
        }
        previous = corner;
        ++corners;
    }
    arrays.countedTriangles += std::max<int64_t>(corners - 2, 0);
    if (arrays.countedTriangles > kMaxCount) arrays.tooLarge = true;
    if (forward && positionIndices.size() > firstTriangle)
        forwardFaces.push_back({firstTriangle, positionIndices.size() - firstTriangle, faceHighest});
}

void ObjParser::DropFacesPastTheEnd() {
    const glm::i64vec3 count(arrays.positions.size(), arrays.uvs.size(), arrays.normals.size());
    auto move = [&](size_t from, size_t to, size_t target) {
        for (auto* indices : {&arrays.positionIndices, &arrays.uvIndices, &arrays.normalIndices})
            std::copy(indices->begin() + from, indices->begin() + to, indices->begin() + target);
    };
    // Kept runs slide down over the dropped faces, in one sweep.
    bool dropping = false;
    size_t write = 0, from = 0;
    for (const ForwardFace& face : forwardFaces) {
        if (face.highest[0] <= count[0] && face.highest[1] <= count[1] && face.highest[2] <= count[2]) continue;
        if (dropping) {
            move(from, face.firstTriangle, write);
            write += face.firstTriangle - from;
        } else {
            write = face.firstTriangle;
            dropping = true;
        }
        from = face.firstTriangle + face.triangles;
    }
    forwardFaces = {};
    if (!dropping) return;
    size_t size = arrays.positionIndices.size();
    move(from, size, write);
    write += size - from;
    arrays.positionIndices.resize(write);
    arrays.uvIndices.resize(write);
    arrays.normalIndices.resize(write);
}

// Files from this size up are parsed in chunks on a few threads; below it,
// starting threads costs more than it saves.
constexpr size_t kChunkedFrom = size_t{1} << 20;
constexpr size_t kMinChunk = size_t{256} << 10;

template <class T>
void Concatenate(std::vector<ObjParser>& parsers, std::vector<T> ObjArrays::*member, std::vector<T>& out) {
    size_t total = 0;
    for (const ObjParser& parser : parsers) total += (parser.arrays.*member).size();
    out.reserve(total);
    for (ObjParser& parser : parsers) {
        std::vector<T>& part = parser.arrays.*member;
        out.insert(out.end(), part.begin(), part.end());
        part = {};  // freed as it goes, so the copy never holds two whole models
    }
}

// Parses [text, end) in chunks split at line ends, on up to four threads
// including the caller's. False, having produced nothing, when some chunk
// needs the lines before it or names elements past the end of the file: the
// caller then parses the file whole.
bool ParseInChunks(const char* text, const char* end, ObjArrays& out) {
    unsigned threads = std::min(std::thread::hardware_concurrency(), 4u);
    if (threads < 2) return false;
    const size_t size = static_cast<size_t>(end - text);
    const size_t chunkCount = std::clamp<size_t>(size / kMinChunk, 1, threads * 4);
    std::vector<const char*> bounds{text};
    for (size_t i = 1; i < chunkCount; ++i) {
        const char* at = std::max(text + size / chunkCount * i, bounds.back());
        const char* newline = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
        bounds.push_back(newline ? newline + 1 : end);
    }
    bounds.push_back(end);

    std::vector<ObjParser> parsers(chunkCount, ObjParser(true));
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    auto work = [&] {
        for (size_t i; !stop.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < chunkCount;) {
            parsers[i].Parse(bounds[i], bounds[i + 1], &stop);
            if (parsers[i].needsWholeFile || parsers[i].arrays.tooLarge) stop = true;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer helpers; the caller's share grows
        }
    }
    work();
    for (std::thread& thread : pool) thread.join();
    if (stop) return false;

    glm::i64vec3 count(0), highest(0);
    int64_t countedTriangles = 0;
    for (const ObjParser& parser : parsers) {
        count += glm::i64vec3(parser.arrays.positions.size(), parser.arrays.uvs.size(), parser.arrays.normals.size());
        highest = glm::max(highest, glm::i64vec3(parser.highest));
        countedTriangles += parser.arrays.countedTriangles;
    }
    if (glm::any(glm::greaterThan(highest, count))) return false;
    if (countedTriangles > kMaxCount || glm::any(glm::greaterThan(count, glm::i64vec3(kMaxCount)))) {
        out.tooLarge = true;
        return true;
    }
    out.countedTriangles = countedTriangles;
    Concatenate(parsers, &ObjArrays::positions, out.positions);
    Concatenate(parsers, &ObjArrays::uvs, out.uvs);
    Concatenate(parsers, &ObjArrays::normals, out.normals);
    Concatenate(parsers, &ObjArrays::positionIndices, out.positionIndices);
    Concatenate(parsers, &ObjArrays::uvIndices, out.uvIndices);
    Concatenate(parsers, &ObjArrays::normalIndices, out.normalIndices);
    return true;
}

glm::vec3 AnyPerpendicular(const glm::vec3& n) {
    glm::vec3 a = glm::abs(n);
    glm::vec3 axis = (a.x <= a.y && a.x <= a.z) ? glm::vec3(1, 0, 0) : (a.y <= a.z ? glm::vec3(0, 1, 0) : glm::vec3(0, 0, 1));
    glm::vec3 t = glm::cross(n, axis);
    float length = glm::length(t);
    if (length > 0.0f && std::isfinite(length)) return t / length;
    return glm::vec3(1, 0, 0);
}

bool IsFinite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

bool SModelLoader::LoadObjFile(const std::string& filePath) {
    Release();
    path = filePath;
    std::unique_ptr<FileBuffer> file = LoadFile(path);
    if (!file) {
        Log(0, "SModelLoader::LoadObjFile : Error, can't load file: %s", path.c_str());
        return false;
    }
    return LoadObjText(path, file->data.data(), file->size);
}

bool SModelLoader::LoadObjText(const std::string& modelPath, const char* text, size_t size) {
    Release();
    path = modelPath;
    Log(3, "Loading object: %s", path.c_str());

    // The text ends at its first zero byte.
    const char* end = text;
    if (size > 0) {
        const char* zero = static_cast<const char*>(std::memchr(text, 0, size));
        end = zero ? zero : text + size;
    }
    if (end == text) {
        Log(0, "\tError: could not read model '%s'", path.c_str());
        return false;
    }

    ObjArrays arrays;
    if (static_cast<size_t>(end - text) < kChunkedFrom || !ParseInChunks(text, end, arrays)) {
        ObjParser parser(false);
        parser.Parse(text, end, nullptr);
        parser.DropFacesPastTheEnd();
        arrays = std::move(parser.arrays);
    }
    if (arrays.tooLarge) {
        Log(0, "\tError: could not read model '%s'", path.c_str());
        return false;
    }

    positions = std::move(arrays.positions);
    uvs = std::move(arrays.uvs);
    normals = std::move(arrays.normals);
    positionIndices = std::move(arrays.positionIndices);
    uvIndices = std::move(arrays.uvIndices);
    normalIndices = std::move(arrays.normalIndices);
    positionCount = positionsRead = static_cast<int32_t>(positions.size());
    uvCount = uvsRead = static_cast<int32_t>(uvs.size());
    normalCount = normalsRead = static_cast<int32_t>(normals.size());
    triangleCount = trianglesRead = static_cast<int32_t>(positionIndices.size());

    Log(3, "Loaded object:");
    Log(3, "\tfaces: %d", trianglesRead);
    Log(3, "\tnormals: %d", normalsRead);
    Log(3, "\tvertices: %d", positionsRead);
    Log(3, "\tuvs: %d", uvsRead);
    return true;
}

void SModelLoader::FillVertexArrays(float* positionsOut, float* normalsOut, float* uvsOut, float* tangentsOut) const {
    // Indices come checked from the parse; the bounds are checked again because
    // every field is public and may have been edited since.
    // Index 0 (none) and negative ones wrap to huge slots, so one compare covers all.
    auto slot = [](int index) { return static_cast<size_t>(static_cast<unsigned>(index)) - 1; };
    auto positionAt = [&](int i) { return slot(i) < positions.size() ? positions[slot(i)] : glm::vec3(0.0f); };
    auto uvAt = [&](int i) { return slot(i) < uvs.size() ? uvs[slot(i)] : glm::vec2(0.0f); };

    size_t count = std::min({static_cast<size_t>(std::max(triangleCount, 0)), positionIndices.size(),
                             uvIndices.size(), normalIndices.size()});
    for (size_t triangle = 0; triangle < count; ++triangle) {
        const glm::ivec3& pi = positionIndices[triangle];
        const glm::ivec3& ui = uvIndices[triangle];
        const glm::ivec3& ni = normalIndices[triangle];
        glm::vec3 p[3] = {positionAt(pi[0]), positionAt(pi[1]), positionAt(pi[2])};
        glm::vec2 st[3] = {uvAt(ui[0]), uvAt(ui[1]), uvAt(ui[2])};

        glm::vec3 e1 = p[1] - p[0];
        glm::vec3 e2 = p[2] - p[0];
        float ds1 = st[1].x - st[0].x;
        float dt1 = st[1].y - st[0].y;
        float ds2 = st[2].x - st[0].x;
        float dt2 = st[2].y - st[0].y;
        float r = 1.0f / (ds1 * dt2 - ds2 * dt1);
        glm::vec3 tangent = (e1 * dt2 - e2 * dt1) * r;
        glm::vec3 bitangent = (e2 * ds1 - e1 * ds2) * r;

        glm::vec3 faceNormal(0.0f);
        if (slot(ni[0]) >= normals.size() || slot(ni[1]) >= normals.size() || slot(ni[2]) >= normals.size()) {
            glm::vec3 n = glm::cross(e1, e2);
            float length = glm::length(n);
            // A triangle without area has no direction; it covers no pixels either.
            if (length > 0.0f && std::isfinite(length)) faceNormal = n / length;
        }

        for (int k = 0; k < 3; ++k) {
            size_t n = slot(ni[k]);
            glm::vec3 normal = n < normals.size() ? normals[n] : faceNormal;
            glm::vec3 t = tangent - normal * glm::dot(normal, tangent);
            t = t / glm::length(t);
            if (!IsFinite(t)) {
                // Texture coordinates without area (or a tangent along the
                // normal) give no direction; NaNs would poison the lighting.
                t = AnyPerpendicular(normal);
            } else if (glm::dot(glm::cross(normal, t), bitangent) < 0.0f) {
                t = -t;
            }
            size_t v = triangle * 3 + static_cast<size_t>(k);
            positionsOut[v * 3 + 0] = p[k].x;
            positionsOut[v * 3 + 1] = p[k].y;
            positionsOut[v * 3 + 2] = p[k].z;
            normalsOut[v * 3 + 0] = normal.x;
            normalsOut[v * 3 + 1] = normal.y;
            normalsOut[v * 3 + 2] = normal.z;
            uvsOut[v * 2 + 0] = st[k].x;
            uvsOut[v * 2 + 1] = st[k].y;
            tangentsOut[v * 3 + 0] = t.x;
            tangentsOut[v * 3 + 1] = t.y;
            tangentsOut[v * 3 + 2] = t.z;
        }
    }
}

void SModelLoader::Release() {
    positions = {};
    normals = {};
    uvs = {};
    positionIndices = {};
    uvIndices = {};
    normalIndices = {};
    positionCount = normalCount = triangleCount = uvCount = 0;
    positionsRead = normalsRead = trianglesRead = uvsRead = 0;
}

ModelVertexArrays VertexArrays(const SModelLoader& loader) {
    ModelVertexArrays arrays;
    size_t triangles = static_cast<size_t>(std::max(loader.triangleCount, 0));
    arrays.positions.resize(triangles * 9);
    arrays.normals.resize(triangles * 9);
    arrays.uvs.resize(triangles * 6);
    arrays.tangents.resize(triangles * 9);
    arrays.vertexCount = static_cast<int32_t>(triangles * 3);
    loader.FillVertexArrays(arrays.positions.data(), arrays.normals.data(), arrays.uvs.data(), arrays.tangents.data());
    return arrays;
}
