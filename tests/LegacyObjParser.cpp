// The OBJ parser as it was before the one-pass rewrite, kept verbatim (less
// its log lines) as the reference that the differential test and the
// benchmark hold the product loader to.
#include "tests/LegacyObjParser.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

using namespace caldera;

namespace {


bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum class LineKind { Other, Position, Uv, Normal, Face };

// Both passes must see the same lines, so both go through here. A line that
// starts with a space is trimmed at both ends; any other line is taken as it is
// (a trailing '\r' stays and ends the last number like any other white space).
// Lines of 2 characters or fewer and comment lines are skipped.
template <class Fn>
void ForEachLine(const char* p, const char* end, Fn&& fn) {
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* lineEnd = newline ? newline : end;
        const char* b = p;
        const char* e = lineEnd;
        if (*b == ' ') {
            while (b < e && IsSpace(*b)) ++b;
            while (e > b && IsSpace(e[-1])) --e;
        }
        if (e - b > 2 && *b != '#') {
            LineKind kind = LineKind::Other;
            if (b[0] == 'v') {
                if (b[1] == ' ') kind = LineKind::Position;
                else if (b[2] == ' ' && b[1] == 't') kind = LineKind::Uv;
                else if (b[2] == ' ' && b[1] == 'n') kind = LineKind::Normal;
            } else if (b[0] == 'f' && b[1] == ' ') {
                kind = LineKind::Face;
            }
            if (kind != LineKind::Other) fn(kind, b, e);
        }
        p = newline ? newline + 1 : end;
    }
}

// Corners of a face line: pieces of the text after "f " between single spaces.
// Pieces holding nothing but white space are not corners (a doubled or trailing
// space is a formatting slip, not a vertex).
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

constexpr double kPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

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
// gives. Short decimals, which is what models hold, are converted exactly here:
// a mantissa of at most 2^53 scaled by a power of ten up to 1e22 is one
// correctly rounded double operation; rounding that double to float equals
// rounding the decimal itself unless the double lies exactly half-way between
// two floats, which goes to strtof. False, with p unchanged, when no number
// starts at p.
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

    uint64_t mantissa = 0;
    int digits = 0;
    int exponent = 0;
    bool anyDigit = false;
    for (; s < end && IsDigit(*s); ++s) {
        anyDigit = true;
        if (mantissa == 0 && *s == '0') continue;
        if (digits == 19) return ParseFloatSlow(p, end, out);
        mantissa = mantissa * 10 + static_cast<uint64_t>(*s - '0');
        ++digits;
    }
    if (s < end && *s == '.') {
        for (++s; s < end && IsDigit(*s); ++s) {
            anyDigit = true;
            --exponent;
            if (mantissa == 0 && *s == '0') continue;
            if (digits == 19) return ParseFloatSlow(p, end, out);
            mantissa = mantissa * 10 + static_cast<uint64_t>(*s - '0');
            ++digits;
        }
    }
    if (!anyDigit) return false;
    if (s < end && (*s == 'e' || *s == 'E')) {
        // The exponent belongs to the number only when it has digits.
        const char* q = s + 1;
        bool negativeExponent = false;
        if (q < end && (*q == '+' || *q == '-')) {
            negativeExponent = *q == '-';
            ++q;
        }
        if (q < end && IsDigit(*q)) {
            int value = 0;
            for (; q < end && IsDigit(*q); ++q)
                if (value < 100000) value = value * 10 + (*q - '0');
            exponent += negativeExponent ? -value : value;
            s = q;
        }
    }
    if (mantissa == 0) {
        out = negative ? -0.0f : 0.0f;
        p = s;
        return true;
    }
    if (mantissa > (uint64_t{1} << 53) || exponent < -22 || exponent > 22) return ParseFloatSlow(p, end, out);
    double value = static_cast<double>(mantissa);
    value = exponent < 0 ? value / kPowersOf10[-exponent] : value * kPowersOf10[exponent];
    if ((std::bit_cast<uint64_t>(value) & 0x1FFFFFFFu) == 0x10000000u) return ParseFloatSlow(p, end, out);
    float result = static_cast<float>(value);
    out = negative ? -result : result;
    p = s;
    return true;
}

// Reads up to `count` numbers separated by white space into `target`, stopping
// at the first that does not convert; components not read keep their values.
template <class Vec>
void ScanFloats(const char* p, const char* end, Vec& target, int count) {
    for (int i = 0; i < count; ++i) {
        while (p < end && IsSpace(*p)) ++p;
        if (!ParseFloat(p, end, target[i])) return;
    }
}

// Any magnitude past the largest possible count saturates here, so that
// indices of 2^32 + 1 and more cannot wrap into range.
constexpr int64_t kIndexLimit = int64_t{1} << 40;

struct IndexPiece {
    int64_t value = 0;
    bool present = false;  // digits were found
};

// One '/'-separated piece of a corner, read like atoi: leading white space,
// an optional sign, then digits up to the first other character.
IndexPiece ParseIndex(const char* p, const char* end) {
    while (p < end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    IndexPiece piece;
    for (; p < end && IsDigit(*p); ++p) {
        piece.present = true;
        if (piece.value < kIndexLimit) piece.value = piece.value * 10 + (*p - '0');
    }
    if (negative) piece.value = -piece.value;
    return piece;
}

// Turns a file index into a 1-based array index: positive indices count from
// the start of the file (forward references are fine, the arrays are complete
// before any triangle is built), negative ones back from the last element read
// before the face. 0 and anything outside the array name nothing.
bool ResolveIndex(int64_t value, int64_t readSoFar, int64_t count, int& out) {
    int64_t index = value < 0 ? readSoFar + 1 + value : value;
    if (index < 1 || index > count) return false;
    out = static_cast<int>(index);
    return true;
}

void ParseFace(SModelLoader& m, const char* line, const char* end) {
    const size_t firstTriangle = m.positionIndices.size();
    glm::ivec3 first(0), previous(0);  // position, uv and normal index of a corner
    int corners = 0;

    const char* p = line + 2;
    while (true) {
        const char* cornerEnd = p;
        while (cornerEnd < end && *cornerEnd != ' ') ++cornerEnd;
        const char* q = p;
        while (q < cornerEnd && IsSpace(*q)) ++q;
        if (q < cornerEnd) {
            // Pieces v, vt and vn; further pieces are ignored. A missing or
            // empty uv or normal piece leaves its index at 0 (none).
            IndexPiece pieces[3];
            const char* piece = p;
            for (int k = 0; k < 3; ++k) {
                pieces[k] = ParseIndex(piece, cornerEnd);
                while (piece < cornerEnd && *piece != '/') ++piece;
                if (piece == cornerEnd) break;
                ++piece;
            }
            glm::ivec3 corner(0);
            bool valid = pieces[0].present && ResolveIndex(pieces[0].value, m.positionsRead, m.positionCount, corner[0]);
            if (valid && pieces[1].present) valid = ResolveIndex(pieces[1].value, m.uvsRead, m.uvCount, corner[1]);
            if (valid && pieces[2].present) valid = ResolveIndex(pieces[2].value, m.normalsRead, m.normalCount, corner[2]);
            if (!valid) {
                // Half a polygon would be a wrong shape: drop the whole face.
                m.positionIndices.resize(firstTriangle);
                m.uvIndices.resize(firstTriangle);
                m.normalIndices.resize(firstTriangle);
                return;
            }
            if (corners == 0) {
                first = corner;
            } else if (corners >= 2) {
                m.positionIndices.emplace_back(first[0], previous[0], corner[0]);
                m.uvIndices.emplace_back(first[1], previous[1], corner[1]);
                m.normalIndices.emplace_back(first[2], previous[2], corner[2]);
            }
            previous = corner;
            ++corners;
        }
        if (cornerEnd == end) break;
        p = cornerEnd + 1;
    }
}

}  // namespace

bool LegacyLoadObjText(SModelLoader& m, const char* text, size_t size) {
    m.Release();

    // The text ends at its first zero byte.
    const char* end = text;
    if (size > 0) {
        const char* zero = static_cast<const char*>(std::memchr(text, 0, size));
        end = zero ? zero : text + size;
    }
    if (end == text) {
        return false;
    }

    // Counting pass: every array is reserved once from what the bytes hold.
    int64_t countedPositions = 0, countedUvs = 0, countedNormals = 0, countedTriangles = 0;
    ForEachLine(text, end, [&](LineKind kind, const char* b, const char* e) {
        switch (kind) {
            case LineKind::Position: ++countedPositions; break;
            case LineKind::Uv: ++countedUvs; break;
            case LineKind::Normal: ++countedNormals; break;
            case LineKind::Face: {
                int64_t corners = CountCorners(b + 2, e);
                if (corners > 2) countedTriangles += corners - 2;
                break;
            }
            default: break;
        }
    });
    constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();
    if (countedPositions > kMaxCount || countedUvs > kMaxCount || countedNormals > kMaxCount ||
        countedTriangles > kMaxCount) {
        return false;
    }
    m.positionCount = static_cast<int32_t>(countedPositions);
    m.uvCount = static_cast<int32_t>(countedUvs);
    m.normalCount = static_cast<int32_t>(countedNormals);
    m.positions.reserve(static_cast<size_t>(countedPositions));
    m.uvs.reserve(static_cast<size_t>(countedUvs));
    m.normals.reserve(static_cast<size_t>(countedNormals));
    // An upper bound: faces with unusable indices add fewer.
    m.positionIndices.reserve(static_cast<size_t>(countedTriangles));
    m.uvIndices.reserve(static_cast<size_t>(countedTriangles));
    m.normalIndices.reserve(static_cast<size_t>(countedTriangles));

    // Parsing pass. A line that does not convert fully keeps the components of
    // the previous line of its kind; before the first, those are 0.
    glm::vec3 position(0.0f), normal(0.0f);
    glm::vec2 uv(0.0f);
    ForEachLine(text, end, [&](LineKind kind, const char* b, const char* e) {
        switch (kind) {
            case LineKind::Position:
                ScanFloats(b + 1, e, position, 3);
                m.positions.push_back(position);
                break;
            case LineKind::Uv:
                ScanFloats(b + 2, e, uv, 2);
                m.uvs.push_back(uv);
                break;
            case LineKind::Normal:
                ScanFloats(b + 2, e, normal, 3);
                m.normals.push_back(normal);
                break;
            case LineKind::Face:
                // Relative indices count back from what has been read so far.
                m.positionsRead = static_cast<int32_t>(m.positions.size());
                m.uvsRead = static_cast<int32_t>(m.uvs.size());
                m.normalsRead = static_cast<int32_t>(m.normals.size());
                ParseFace(m, b, e);
                break;
            default: break;
        }
    });
    m.positionsRead = static_cast<int32_t>(m.positions.size());
    m.uvsRead = static_cast<int32_t>(m.uvs.size());
    m.normalsRead = static_cast<int32_t>(m.normals.size());
    m.trianglesRead = static_cast<int32_t>(m.positionIndices.size());
    m.triangleCount = m.trianglesRead;
    return true;
}
