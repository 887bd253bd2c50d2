#include "resources/SModelLoader.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/mman.h>
#endif

#include "platform/Log.h"
#include "resources/FileBuffer.h"

namespace caldera {

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// White space inside a face corner: all of IsSpace but ' ', which separates corners.
bool IsInnerSpace(char c) { return c >= '\t' && c <= '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// The line readers take the end of the text and stop at a '\n' as well, so
// that a line is scanned once instead of first searched for its end.
bool AtLineEnd(const char* p, const char* end) { return p == end || *p == '\n'; }

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

// Digits are read eight at a time from a 64-bit load where eight bytes of
// text are left (little-endian machines; others read byte by byte).
constexpr bool kWordDigits = std::endian::native == std::endian::little;
constexpr uint64_t kZeros = 0x3030303030303030u;

uint64_t LoadWord(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word ^ kZeros;  // digits become their values 0 to 9; any other byte a value above 9
}

// How many of the word's bytes, from the first, are digits.
int LeadingDigits(uint64_t word) {
    uint64_t above9 = (((word & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | word) & 0x8080808080808080u;
    return above9 ? std::countr_zero(above9) >> 3 : 8;
}

// The value of eight digit values, the first byte the most significant.
uint64_t EightDigits(uint64_t word) {
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32))) +
            (((word >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32)))) >>
           32;
}

// The value of the first `count` (1 to 8) digit values of the word.
uint64_t FirstDigits(uint64_t word, int count) { return EightDigits(word << (64 - 8 * count)); }

constexpr uint64_t kPowersOfTen64[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Reads the run of digits at p into `value` (value * 10 + digit for each,
// wrapping past 19 digits); returns its end.
const char* ReadDigits(const char* p, const char* end, uint64_t& value) {
    if constexpr (kWordDigits) {
        while (end - p >= 8) {
            uint64_t word = LoadWord(p);
            int n = LeadingDigits(word);
            if (n == 0) return p;
            value = value * kPowersOfTen64[n] + FirstDigits(word, n);
            p += n;
            if (n < 8) return p;
        }
    }
    for (; p < end && IsDigit(*p); ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    return p;
}

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

// Every power of ten up to 10^10 is a float exactly (5^10 < 2^24).
constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr uint64_t kExactMantissa = uint64_t{1} << 24;

// Numbers the plain-decimal path does not take, read as before: from_chars
// rounds decimals correctly, as strtof does; signs, hex, inf, nan and results
// out of float range (strtof's infinity, zero or denormal) are left to strtof
// itself. s is p past the sign.
bool ParseFloatGeneral(const char*& p, const char* s, const char* end, bool negative, float& out) {
    if (!IsDigit(*s) && *s != '.') {
        char c = static_cast<char>(*s | 0x20);
        return (c == 'i' || c == 'n') && ParseFloatSlow(p, end, out);
    }
    if (*s == '0' && s + 1 < end && (s[1] == 'x' || s[1] == 'X')) return ParseFloatSlow(p, end, out);
#ifdef DEMO_WEB
    // The web's C++ library has no floating-point from_chars. strtof on a
    // terminated copy reads the same number: both round correctly, and the
    // sign, hex, inf and nan are settled above.
    (void)s;
    (void)negative;
    return ParseFloatSlow(p, end, out);
#else
    float value = 0.0f;
    auto [stop, error] = std::from_chars(s, end, value, std::chars_format::general);
    if (error == std::errc::invalid_argument) return false;  // a lone '.'
    if (error != std::errc()) return ParseFloatSlow(p, end, out);
    out = negative ? -value : value;
    p = stop;
    return true;
#endif
}

// Reads one number at p (white space already skipped), giving the float strtof
// gives. Plain decimals like exporters write (no exponent, a mantissa of at
// most 2^24, at most 10 decimals) are one division of two exact floats, so
// correctly rounded like strtof. False, with p unchanged, when no number
// starts at p.
inline bool ParseFloat(const char*& p, const char* end, float& out) {
    const char* s = p;
    bool negative = false;
    if (s < end && (*s == '-' || *s == '+')) {
        negative = *s == '-';
        ++s;
    }
    if (s >= end) return false;
    // The whole part is mostly a digit or two: a word load would not pay.
    // Digits past 19 could wrap the mantissa; such numbers fail the bound below anyway.
    uint64_t mantissa = 0;
    const char* t = s;
    for (; t < end && IsDigit(*t); ++t) mantissa = mantissa * 10 + static_cast<unsigned>(*t - '0');
    ptrdiff_t digits = t - s;
    ptrdiff_t decimals = 0;
    if (t < end && *t == '.') {
        const char* first = t + 1;
        int n = 8;
        if (kWordDigits && end - first >= 8) {  // the usual few decimals: one word
            uint64_t word = LoadWord(first);
            n = LeadingDigits(word);
            if (n > 0 && n < 8) mantissa = mantissa * kPowersOfTen64[n] + FirstDigits(word, n);
        }
        t = n < 8 ? first + n : ReadDigits(first, end, mantissa);
        decimals = t - first;
        digits += decimals;
    }
    // An exponent, or the 'x' of hex after its "0", is for the general path.
    bool plain = t == end || ((*t | 0x20) != 'e' && (*t | 0x20) != 'x');
    if (digits > 0 && digits <= 19 && mantissa <= kExactMantissa && decimals <= 10 && plain) {
        float value = static_cast<float>(mantissa) / kPowersOfTen[decimals];
        out = negative ? -value : value;
        p = t;
        return true;
    }
    return ParseFloatGeneral(p, s, end, negative, out);
}

// Reads up to `count` numbers separated by white space into `target`, stopping
// at the first that does not convert or at the end of the line; components not
// read keep their values. Returns how many were read; p is left where reading
// stopped, on the same line.
template <class Vec>
int ScanFloats(const char*& p, const char* end, Vec& target, int count) {
    for (int i = 0; i < count; ++i) {
        while (p < end && IsSpace(*p) && *p != '\n') ++p;
        if (!ParseFloat(p, end, target[i])) return i;
    }
    return count;
}

// The start of the line after the one p is on.
const char* NextLine(const char* p, const char* end) {
    if (p < end && *p == '\n') return p + 1;
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    return newline ? newline + 1 : end;
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

// Reads a run of digits like atoi, saturating at kIndexLimit; p moves past them.
int64_t ReadIndex(const char*& p, const char* end) {
    if constexpr (kWordDigits) {
        if (end - p >= 8) {
            uint64_t word = LoadWord(p);
            int n = LeadingDigits(word);
            if (n < 8) {  // all of the run: well below the limit
                p += n;
                return n ? static_cast<int64_t>(FirstDigits(word, n)) : 0;
            }
        }
    }
    int64_t value = 0;
    for (; p < end && IsDigit(*p); ++p)
        if (value < kIndexLimit) value = value * 10 + (*p - '0');
    return value;
}

#if defined(__SSE2__) || defined(_M_X64)
// Bit i set where p[i] is not a digit, for the 32 bytes from p.
uint32_t NonDigits32(const char* p) {
    auto nonDigits = [](__m128i bytes) {
        return static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8('0')), _mm_cmpgt_epi8(bytes, _mm_set1_epi8('9')))));
    };
    return nonDigits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) |
           nonDigits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))) << 16;
}

// The usual face corner: v, v/vt, v//vn or v/vt/vn, pieces of at most 8
// digits, then ' ' or '\n'. Its pieces' bounds come from one mask of the
// next 32 bytes rather than from a walk byte after byte, which chains every
// load to the one before. Returns the corner's end with the pieces' values
// (-1: empty) and their count, or nullptr for any other corner.
const char* PlainCorner(const char* p, const char* end, int64_t values[3], int& pieces) {
    if (end - p < 32) return nullptr;
    uint32_t nonDigits = NonDigits32(p);
    int at = 0;
    for (int k = 0; k < 3; ++k) {
        // Three pieces of at most 8 digits and their separators lie within 27 bytes.
        int length = std::countr_zero(nonDigits >> at);
        if (length > 8 || (k == 0 && length == 0)) return nullptr;
        values[k] = length ? static_cast<int64_t>(FirstDigits(LoadWord(p + at), length)) : -1;
        at += length;
        if (p[at] == ' ' || p[at] == '\n') {
            pieces = k + 1;
            return p + at;
        }
        if (p[at] != '/') return nullptr;
        ++at;
    }
    return nullptr;  // a fourth piece: the general path skips it
}
#else
const char* PlainCorner(const char*, const char*, int64_t*, int&) { return nullptr; }
#endif

// Asks for huge pages under a large array about to be written: a model's
// arrays otherwise cost a page fault every 4 KB. Only a hint.
void PreferHugePages([[maybe_unused]] void* data, [[maybe_unused]] size_t bytes) {
#ifdef __linux__
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (bytes < 2 * kHuge) return;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// A growing array whose elements never move: growing copies nothing and
// touches no page twice, and spare capacity is at most one block. The parse
// fills these and copies each once into its final vector, freeing blocks as
// it goes, so a load holds little more than its final arrays.
template <class T>
class BlockArray {
public:
    BlockArray() = default;
    BlockArray(BlockArray&& other) noexcept { Swap(other); }
    BlockArray& operator=(BlockArray&& other) noexcept {
        BlockArray moved(std::move(other));
        Swap(moved);
        return *this;
    }
    ~BlockArray() {
        while (!blocks.empty()) PopBlock();
    }

    size_t size() const { return before + static_cast<size_t>(cursor - blockBegin); }

    void push_back(const T& value) {
        if (cursor == blockEnd) Grow();
        *cursor++ = value;
    }

    // Drops the elements from `count` on.
    void Truncate(size_t count) {
        while (count < before) PopBlock();
        if (!blocks.empty()) cursor = blockBegin + (count - before);
    }

    // Appends every element to `out` and frees the blocks as they are copied.
    void MoveTo(std::vector<T>& out) {
        size_t left = size();
        if (out.capacity() < out.size() + left) {
            out.reserve(out.size() + left);
            PreferHugePages(out.data(), out.capacity() * sizeof(T));
        }
        for (Block& block : blocks) {
            size_t n = std::min(left, block.capacity);
            out.insert(out.end(), block.data, block.data + n);
            left -= n;
            std::allocator<T>().deallocate(block.data, block.capacity);
        }
        blocks.clear();
        blockBegin = cursor = blockEnd = nullptr;
        before = 0;
    }

private:
    struct Block {
        T* data;
        size_t capacity;
    };
    // Small files take small blocks; large ones settle on blocks of a few hundred kilobytes.
    static constexpr size_t kFirstBlock = 256;
    static constexpr size_t kLargestBlock = size_t{1} << 15;

    void Grow() {
        size_t capacity = blocks.empty() ? kFirstBlock : std::min(blocks.back().capacity * 2, kLargestBlock);
        if (!blocks.empty()) before += blocks.back().capacity;
        blocks.reserve(blocks.size() + 1);
        T* data = std::allocator<T>().allocate(capacity);
        blocks.push_back({data, capacity});
        blockBegin = cursor = data;
        blockEnd = data + capacity;
    }
    // Frees the last block; the one before, full, becomes the last.
    void PopBlock() {
        std::allocator<T>().deallocate(blocks.back().data, blocks.back().capacity);
        blocks.pop_back();
        if (blocks.empty()) {
            blockBegin = cursor = blockEnd = nullptr;
            before = 0;
            return;
        }
        const Block& last = blocks.back();
        before -= last.capacity;
        blockBegin = last.data;
        blockEnd = cursor = last.data + last.capacity;
    }
    void Swap(BlockArray& other) noexcept {
        std::swap(blocks, other.blocks);
        std::swap(blockBegin, other.blockBegin);
        std::swap(cursor, other.cursor);
        std::swap(blockEnd, other.blockEnd);
        std::swap(before, other.before);
    }

    std::vector<Block> blocks;
    T* blockBegin = nullptr;
    T* cursor = nullptr;
    T* blockEnd = nullptr;
    size_t before = 0;  // elements in the blocks before the last
};

// What one parse produces, in its final form.
struct ObjArrays {
    std::vector<glm::vec3> positions;
    std::vector<glm::vec3> normals;
    std::vector<glm::vec2> uvs;
    std::vector<glm::ivec3> positionIndices;
    std::vector<glm::ivec3> uvIndices;
    std::vector<glm::ivec3> normalIndices;
    bool tooLarge = false;  // a count passed int32: the model is refused
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
    // Whole-file parser, after Parse: the final arrays, without the
    // forward-referencing faces that name elements past the end of the file.
    void Finish(ObjArrays& out);

    BlockArray<glm::vec3> positions;
    BlockArray<glm::vec3> normals;
    BlockArray<glm::vec2> uvs;
    BlockArray<glm::ivec3> positionIndices;
    BlockArray<glm::ivec3> uvIndices;
    BlockArray<glm::ivec3> normalIndices;
    int64_t countedTriangles = 0;  // corners - 2 of every face line, dropped faces included
    bool tooLarge = false;
    glm::ivec3 highest{0};  // chunk: the largest index of each kind
    bool needsWholeFile = false;

private:
    template <class Vec>
    const char* Element(const char* p, const char* end, Vec& state, BlockArray<Vec>& out, int kind);
    const char* Face(const char* line, const char* end);
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
        // Element and face lines are read straight from the text, each line
        // once. A line that starts with a space is trimmed at both ends first;
        // any other line is taken as it is (a trailing '\r' ends the last
        // number like any other white space). Lines of 2 characters or fewer
        // and all other lines are skipped.
        const char* next;
        if (*p != ' ') {
            const char* stopped = p;
            if (end - p > 2) {
                if (p[0] == 'v') {
                    if (p[1] == ' ') {
                        if (p[2] != '\n') stopped = Element(p + 1, end, position, positions, 0);
                    } else if (p[2] == ' ' && p[1] == 't') {
                        stopped = Element(p + 2, end, uv, uvs, 1);
                    } else if (p[2] == ' ' && p[1] == 'n') {
                        stopped = Element(p + 2, end, normal, normals, 2);
                    }
                } else if (p[0] == 'f' && p[1] == ' ' && p[2] != '\n') {
                    stopped = Face(p, end);
                }
                if (tooLarge || needsWholeFile) return;
            }
            next = NextLine(stopped, end);
        } else {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            next = newline ? newline + 1 : end;
            const char* b = p;
            const char* e = newline ? newline : end;
            while (b < e && IsSpace(*b)) ++b;
            while (e > b && IsSpace(e[-1])) --e;
            if (e - b > 2 && *b != '#') {
                if (b[0] == 'v') {
                    if (b[1] == ' ') Element(b + 1, e, position, positions, 0);
                    else if (b[2] == ' ' && b[1] == 't') Element(b + 2, e, uv, uvs, 1);
                    else if (b[2] == ' ' && b[1] == 'n') Element(b + 2, e, normal, normals, 2);
                } else if (b[0] == 'f' && b[1] == ' ') {
                    Face(b, e);
                }
                if (tooLarge || needsWholeFile) return;
            }
        }
        if (stop && (++lines & 4095) == 0 && stop->load(std::memory_order_relaxed)) return;
        p = next;
    }
}

// Reads the numbers of an element line; returns where reading stopped.
template <class Vec>
const char* ObjParser::Element(const char* p, const char* end, Vec& state, BlockArray<Vec>& out, int kind) {
    if (out.size() >= static_cast<size_t>(kMaxCount)) {
        tooLarge = true;
        return p;
    }
    int read = ScanFloats(p, end, state, Vec::length());
    if (read == Vec::length()) complete[kind] = true;
    else if (chunk && !complete[kind]) needsWholeFile = true;  // its other components come from an earlier chunk
    out.push_back(state);
    return p;
}

// Turns a file index into a 1-based array index: positive indices count from
// the start of the file (forward references are fine, checked once the file
// is read), negative ones back from the last element read before the face.
// 0 and anything outside the elements name nothing.
inline bool ObjParser::Resolve(int64_t value, int64_t readSoFar, int kind, int& out, glm::ivec3& faceHighest,
                               bool& forward) {
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
// shape). Returns where reading stopped, on the same line.
const char* ObjParser::Face(const char* line, const char* end) {
    const size_t firstTriangle = positionIndices.size();
    const int64_t read[3] = {static_cast<int64_t>(positions.size()), static_cast<int64_t>(uvs.size()),
                             static_cast<int64_t>(normals.size())};
    glm::ivec3 first(0), previous(0);  // position, uv and normal index of a corner
    glm::ivec3 faceHighest(0);
    bool forward = false;
    int64_t corners = 0;

    const char* p = line + 2;
    for (;;) {
        while (p < end && IsInnerSpace(*p) && *p != '\n') ++p;
        if (AtLineEnd(p, end)) break;
        if (*p == ' ') {  // an empty corner
            ++p;
            continue;
        }
        // Pieces v, vt and vn, each read like atoi; further pieces are
        // ignored. A missing or empty uv or normal piece leaves its index at
        // 0 (none).
        glm::ivec3 corner(0);
        bool valid = true;
        int64_t values[3];
        int pieces = 0;
        if (const char* after = kWordDigits ? PlainCorner(p, end, values, pieces) : nullptr) {
            for (int k = 0; k < pieces; ++k)
                if (values[k] >= 0) valid = Resolve(values[k], read[k], k, corner[k], faceHighest, forward) && valid;
            p = after;
        } else {
            for (int k = 0; k < 3; ++k) {
                bool negative = false;
                if (p == end || !IsDigit(*p)) {
                    while (p < end && IsInnerSpace(*p) && *p != '\n') ++p;
                    if (p < end && (*p == '-' || *p == '+')) {
                        negative = *p == '-';
                        ++p;
                    }
                }
                const char* digits = p;
                int64_t value = ReadIndex(p, end);
                if (p != digits) valid = Resolve(negative ? -value : value, read[k], k, corner[k], faceHighest, forward) && valid;
                else if (k == 0) valid = false;
                if (p < end && *p == '/') {
                    ++p;
                    continue;
                }
                while (p < end && *p != '/' && *p != ' ' && *p != '\n') ++p;
                if (AtLineEnd(p, end) || *p == ' ') break;
                ++p;
            }
            while (p < end && *p != ' ' && *p != '\n') ++p;
        }
        if (!valid) {
            positionIndices.Truncate(firstTriangle);
            uvIndices.Truncate(firstTriangle);
            normalIndices.Truncate(firstTriangle);
            const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lineEnd) lineEnd = end;
            countedTriangles += std::max<int64_t>(CountCorners(line + 2, lineEnd) - 2, 0);
            if (countedTriangles > kMaxCount) tooLarge = true;
            return lineEnd;
        }
        if (corners == 0) {
            first = corner;
        } else if (corners >= 2) {
            positionIndices.push_back({first[0], previous[0], corner[0]});
            uvIndices.push_back({first[1], previous[1], corner[1]});
            normalIndices.push_back({first[2], previous[2], corner[2]});
        }
        previous = corner;
        ++corners;
    }
    countedTriangles += std::max<int64_t>(corners - 2, 0);
    if (countedTriangles > kMaxCount) tooLarge = true;
    if (forward && positionIndices.size() > firstTriangle)
        forwardFaces.push_back({firstTriangle, positionIndices.size() - firstTriangle, faceHighest});
    return p;
}

void ObjParser::Finish(ObjArrays& out) {
    out.tooLarge = tooLarge;
    positions.MoveTo(out.positions);
    uvs.MoveTo(out.uvs);
    normals.MoveTo(out.normals);
    const glm::i64vec3 count(out.positions.size(), out.uvs.size(), out.normals.size());
    std::vector<const ForwardFace*> dropped;
    for (const ForwardFace& face : forwardFaces)
        if (face.highest[0] > count[0] || face.highest[1] > count[1] || face.highest[2] > count[2])
            dropped.push_back(&face);
    auto finish = [&](BlockArray<glm::ivec3>& from, std::vector<glm::ivec3>& indices) {
        from.MoveTo(indices);
        if (dropped.empty()) return;
        // Kept runs slide down over the dropped faces, in one sweep.
        size_t write = dropped.front()->firstTriangle, keptFrom = write;
        for (const ForwardFace* face : dropped) {
            std::copy(indices.begin() + keptFrom, indices.begin() + face->firstTriangle, indices.begin() + write);
            write += face->firstTriangle - keptFrom;
            keptFrom = face->firstTriangle + face->triangles;
        }
        std::copy(indices.begin() + keptFrom, indices.end(), indices.begin() + write);
        indices.resize(write + indices.size() - keptFrom);
    };
    finish(positionIndices, out.positionIndices);
    finish(uvIndices, out.uvIndices);
    finish(normalIndices, out.normalIndices);
    forwardFaces = {};
}

// Files from this size up are parsed in chunks on a few threads; below it,
// starting threads costs more than it saves.
constexpr size_t kChunkedFrom = size_t{1} << 20;
constexpr size_t kMinChunk = size_t{256} << 10;

// Threads worth starting: the cores this thread may run on (a process pinned
// to one core gains nothing from more), at most `most`.
unsigned UsableCores(unsigned most) {
#ifdef DEMO_WEB
    // The web build is single-threaded (no cross-origin isolation needed).
    (void)most;
    return 1;
#endif
#ifdef __linux__
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::min(static_cast<unsigned>(CPU_COUNT(&set)), most);
#endif
    return std::min(std::thread::hardware_concurrency(), most);
}

// Runs work(i) for every i below `count` on up to `threads` threads including
// the caller's, each taking the next index as it finishes one. work returns
// false to stop the others (they finish the index they are on).
template <class Work>
void RunOnThreads(unsigned threads, size_t count, std::atomic<bool>& stop, Work&& work) {
    std::atomic<size_t> next{0};
    auto run = [&] {
        for (size_t i; !stop.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < count;)
            if (!work(i)) stop = true;
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads && t < count; ++t) {
        try {
            pool.emplace_back(run);
        } catch (const std::system_error&) {
            break;  // fewer helpers; the caller's share grows
        }
    }
    run();
    for (std::thread& thread : pool) thread.join();
}

template <class T>
void Concatenate(std::vector<ObjParser>& parsers, BlockArray<T> ObjParser::*member, std::vector<T>& out) {
    size_t total = 0;
    for (const ObjParser& parser : parsers) total += (parser.*member).size();
    out.reserve(total);
    PreferHugePages(out.data(), total * sizeof(T));
    // Freed as it goes, so the copy never holds two whole models.
    for (ObjParser& parser : parsers) (parser.*member).MoveTo(out);
}

// Parses [text, end) in chunks split at line ends, on up to four threads
// including the caller's. False, having produced nothing, when some chunk
// needs the lines before it or names elements past the end of the file: the
// caller then parses the file whole.
bool ParseInChunks(const char* text, const char* end, ObjArrays& out) {
    unsigned threads = UsableCores(4);
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

    std::vector<ObjParser> parsers;
    parsers.reserve(chunkCount);
    for (size_t i = 0; i < chunkCount; ++i) parsers.emplace_back(true);
    std::atomic<bool> stop{false};
    RunOnThreads(threads, chunkCount, stop, [&](size_t i) {
        parsers[i].Parse(bounds[i], bounds[i + 1], &stop);
        return !parsers[i].needsWholeFile && !parsers[i].tooLarge;
    });
    if (stop) return false;

    glm::i64vec3 count(0), highest(0);
    int64_t countedTriangles = 0;
    for (const ObjParser& parser : parsers) {
        count += glm::i64vec3(parser.positions.size(), parser.uvs.size(), parser.normals.size());
        highest = glm::max(highest, glm::i64vec3(parser.highest));
        countedTriangles += parser.countedTriangles;
    }
    if (glm::any(glm::greaterThan(highest, count))) return false;
    if (countedTriangles > kMaxCount || glm::any(glm::greaterThan(count, glm::i64vec3(kMaxCount)))) {
        out.tooLarge = true;
        return true;
    }
    Concatenate(parsers, &ObjParser::positions, out.positions);
    Concatenate(parsers, &ObjParser::uvs, out.uvs);
    Concatenate(parsers, &ObjParser::normals, out.normals);
    Concatenate(parsers, &ObjParser::positionIndices, out.positionIndices);
    Concatenate(parsers, &ObjParser::uvIndices, out.uvIndices);
    Concatenate(parsers, &ObjParser::normalIndices, out.normalIndices);
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
    LoadCheck check;
    check.maxSize = kMaxFileSize;
    std::unique_ptr<FileBuffer> file = LoadFile(path, check);
    if (!file) {
        Log(0, "SModelLoader::LoadObjFile : Error, can't load file: %s%s%s", path.c_str(),
            check.problem.empty() ? "" : ": ", check.problem.c_str());
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
        parser.Finish(arrays);
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

    auto fill = [&](size_t from, size_t to) {
    for (size_t triangle = from; triangle < to; ++triangle) {
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
    };

    // Triangles are independent: large models fill in ranges on a few threads.
    constexpr size_t kTrianglesPerRange = size_t{1} << 16;
    size_t count = std::min({static_cast<size_t>(std::max(triangleCount, 0)), positionIndices.size(),
                             uvIndices.size(), normalIndices.size()});
    size_t ranges = (count + kTrianglesPerRange - 1) / kTrianglesPerRange;
    unsigned threads = ranges > 1 ? UsableCores(4) : 1;
    if (threads < 2) {
        fill(0, count);
        return;
    }
    std::atomic<bool> stop{false};
    RunOnThreads(threads, ranges, stop, [&](size_t i) {
        fill(i * kTrianglesPerRange, std::min(count, (i + 1) * kTrianglesPerRange));
        return true;
    });
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
    auto allocate = [](std::vector<float>& array, size_t size) {
        array.reserve(size);
        PreferHugePages(array.data(), size * sizeof(float));
        array.resize(size);
    };
    allocate(arrays.positions, triangles * 9);
    allocate(arrays.normals, triangles * 9);
    allocate(arrays.uvs, triangles * 6);
    allocate(arrays.tangents, triangles * 9);
    arrays.vertexCount = static_cast<int32_t>(triangles * 3);
    loader.FillVertexArrays(arrays.positions.data(), arrays.normals.data(), arrays.uvs.data(), arrays.tangents.data());
    return arrays;
}

}  // namespace caldera
