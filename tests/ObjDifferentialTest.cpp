// The one-pass OBJ parser against the previous parser over random files:
// every array, every count and the verdict must match bit for bit, whatever
// the file holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "resources/SModelLoader.h"
#include "tests/LegacyObjParser.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint32_t Next() {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
    uint64_t state;
};

// Numbers as exporters write them, with the forms that take other paths:
// long mantissas, near-halfway and out-of-range values, hex, inf, nan and
// tokens that stop early.
std::string Number(Random& r, bool plain) {
    static const char* odd[] = {"-0", ".5", "5.", "1e", "1e+", "+.25", ".", "-", "0x1p-3", "inf", "-nan", "nan(12)",
                                "1e39", "-1e-46", "1e-40", "3.4028235e38", "3.4028236e38", "1.40129846e-45",
                                "0.000000000000000000000001", "16777217", "33554435", "1.00000005960464477539",
                                "123456789012345678901234567890", "7.0e-10x", "1.5f", "2/3"};
    char text[96];
    switch (plain ? 9 : r.Below(10)) {
        case 0: return odd[r.Below(sizeof(odd) / sizeof(odd[0]))];
        case 1: {  // many digits
            std::string digits = r.OneIn(2) ? "-" : "";
            for (uint32_t i = 0, n = 10 + r.Below(30); i < n; ++i) digits += static_cast<char>('0' + r.Below(10));
            digits.insert(digits.size() - r.Below(static_cast<uint32_t>(digits.size()) - 1), ".");
            return digits;
        }
        case 2: {
            // A float's exact value, or half-way between two floats, in decimal.
            uint32_t bits = r.Next() & 0x7F7FFFFFu;
            float f;
            std::memcpy(&f, &bits, sizeof f);
            double value = static_cast<double>(f) * (r.OneIn(2) ? 1.0 + 0x1p-24 : 1.0);
            std::snprintf(text, sizeof text, "%.*g", static_cast<int>(6 + r.Below(20)), value);
            return text;
        }
        default: {
            double value = static_cast<double>(r.Next()) / (1u << 31) * std::pow(10.0, static_cast<int>(r.Below(12)) - 6);
            if (r.OneIn(2)) value = -value;
            const char* format = r.OneIn(4) ? "%.*e" : "%.*f";
            std::snprintf(text, sizeof text, format, static_cast<int>(r.Below(9)), value);
            return text;
        }
    }
}

// An index piece: mostly in range, sometimes relative, forward, past the end,
// zero, huge or not a number at all.
std::string Index(Random& r, int count) {
    switch (r.Below(24)) {
        case 0: return "0";
        case 1: return std::to_string(count + 1 + static_cast<int>(r.Below(3)));
        case 2: return "-" + std::to_string(1 + r.Below(static_cast<uint32_t>(count) + 2));
        case 3: return "4294967297";
        case 4: return "x";
        case 5: return "+" + std::to_string(1 + r.Below(static_cast<uint32_t>(count) + 1));
        case 6: return "";
        default: return std::to_string(1 + r.Below(static_cast<uint32_t>(count) + 1));
    }
}

std::string Face(Random& r, int positions, int uvs, int normals, bool clean) {
    std::string line = "f";
    int shape = static_cast<int>(r.Below(4));  // v, v/vt, v//vn, v/vt/vn
    for (uint32_t c = 0, corners = 1 + r.Below(6); c < corners; ++c) {
        line += clean || !r.OneIn(12) ? " " : (r.OneIn(2) ? "  " : " \t");
        auto index = [&](int count) {
            return clean ? std::to_string(1 + r.Below(static_cast<uint32_t>(count))) : Index(r, count);
        };
        line += index(positions);
        if (shape == 1 || shape == 3) line += "/" + index(uvs);
        if (shape == 2) line += "//" + index(normals);
        if (shape == 3) line += "/" + index(normals);
        if (!clean && r.OneIn(30)) line += "/9";
    }
    if (!clean && r.OneIn(10)) line += " ";
    return line;
}

std::string Element(Random& r, const char* tag, int components, bool clean) {
    std::string line = tag;
    int n = clean ? components : static_cast<int>(r.Below(static_cast<uint32_t>(components) + 2));
    for (int i = 0; i < n; ++i) {
        line += clean || !r.OneIn(10) ? ' ' : '\t';
        line += Number(r, clean);
    }
    return line;
}

// A random model of `lines` lines. A clean one is what exporters write:
// complete elements first, faces naming them, nothing odd.
std::string RandomObj(Random& r, int lines, bool clean) {
    std::string text;
    int positions = 0, uvs = 0, normals = 0;
    const std::string newline = !clean && r.OneIn(3) ? "\r\n" : "\n";
    for (int i = 0; i < lines; ++i) {
        std::string line;
        uint32_t kind = r.Below(clean ? 8 : 12);
        if (clean && i < 3) kind = static_cast<uint32_t>(i) * 2;  // one element of each kind first
        switch (kind) {
            case 0: case 1: line = Element(r, "v", 3, clean); ++positions; break;
            case 2: case 3: line = Element(r, "vt", 2, clean); ++uvs; break;
            case 4: line = Element(r, "vn", 3, clean); ++normals; break;
            case 5: case 6: case 7: line = Face(r, positions + (clean ? 0 : 2), uvs, normals, clean); break;
            case 8: line = r.OneIn(2) ? "# comment v 1 2 3" : "usemtl red"; break;
            case 9: line = std::string(1 + r.Below(3), ' ') + Element(r, "v", 3, false); ++positions; break;
            case 10: line = r.OneIn(2) ? "f" : (r.OneIn(2) ? "v" : "vn 1"); break;
            default: line = Face(r, positions, uvs, normals, false) + std::string(r.Below(3), ' '); break;
        }
        if (!clean && r.OneIn(200)) line += std::string(5000 + r.Below(5000), r.OneIn(2) ? '1' : ' ');
        text += line + newline;
    }
    if (!clean && r.OneIn(4)) text.resize(text.size() - newline.size());  // no final newline
    if (!clean && r.OneIn(50)) text[r.Below(static_cast<uint32_t>(text.size()))] = '\0';
    return text;
}

template <class T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Empty when both parsers agree, else what differs.
std::string Compare(const std::string& text) {
    SModelLoader expected, got;
    bool expectedOk = LegacyLoadObjText(expected, text.data(), text.size());
    bool gotOk;
    {
        StdoutCapture quiet;
        gotOk = got.LoadObjText("random.obj", text.data(), text.size());
    }
    std::string differences;
    auto check = [&](bool same, const char* what) {
        if (!same) differences += std::string(" ") + what;
    };
    check(expectedOk == gotOk, "result");
    check(SameBits(expected.positions, got.positions), "positions");
    check(SameBits(expected.uvs, got.uvs), "uvs");
    check(SameBits(expected.normals, got.normals), "normals");
    check(SameBits(expected.positionIndices, got.positionIndices), "positionIndices");
    check(SameBits(expected.uvIndices, got.uvIndices), "uvIndices");
    check(SameBits(expected.normalIndices, got.normalIndices), "normalIndices");
    check(expected.positionCount == got.positionCount && expected.uvCount == got.uvCount &&
              expected.normalCount == got.normalCount && expected.triangleCount == got.triangleCount,
          "counts");
    check(expected.positionsRead == got.positionsRead && expected.uvsRead == got.uvsRead &&
              expected.normalsRead == got.normalsRead && expected.trianglesRead == got.trianglesRead,
          "read counts");
    return differences;
}

void SaveForDebugging(const std::string& text, const std::string& name) {
    std::string path = testing::TempDir() + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace

TEST(ObjDifferential, RandomFilesParseAsBefore) {
    Random r(2024);
    for (int i = 0; i < 4000; ++i) {
        std::string text = RandomObj(r, 1 + static_cast<int>(r.Below(60)), r.OneIn(5));
        std::string differences = Compare(text);
        if (!differences.empty()) SaveForDebugging(text, "obj-differential.obj");
        ASSERT_EQ(differences, "") << "file " << i << " (saved as obj-differential.obj):\n" << text.substr(0, 2000);
    }
}

// Large files go through the chunked parse: clean ones stay chunked, and each
// oddity that needs the lines before a chunk (relative indices, a short line
// first in a chunk, a forward index past the end) must fall back to the
// whole-file parse with the same result.
TEST(ObjDifferential, LargeFilesParseAsBefore) {
    Random r(77);
    std::string clean = RandomObj(r, 120000, true);
    ASSERT_GT(clean.size(), size_t{3} << 20);
    std::vector<std::pair<const char*, std::string>> files = {
        {"clean", clean},
        {"clean, no final newline", clean.substr(0, clean.size() - 1)},
        {"relative index", clean + "f -1 -2 -3\n"},
        {"short line late", clean.substr(0, clean.size() / 2) + "v 5\nvt\nvn 1 2\n" + clean.substr(clean.size() / 2)},
        {"forward index past the end", "f 1 2 1000000000\n" + clean},
        {"forward index in range", "f 1 2 3\n" + clean},
        {"random", RandomObj(r, 150000, false)},
        {"zero byte", clean.substr(0, clean.size() / 3) + '\0' + clean},
    };
    for (const auto& [name, text] : files) {
        std::string differences = Compare(text);
        if (!differences.empty()) SaveForDebugging(text, "obj-differential-large.obj");
        EXPECT_EQ(differences, "") << name;
    }
}

// Plain decimals take a shortcut when their digits fit a float exactly (at
// most 2^24, at most 10 decimals); every number on either side of those
// bounds, and corners on either side of the shortcut for faces (8 and 9
// digits, other separators), must read as before.
TEST(ObjDifferential, NumbersAndCornersAtTheShortcutBoundsParseAsBefore) {
    Random r(5);
    auto number = [&r] {
        uint64_t mantissa = r.OneIn(2) ? (uint64_t{1} << 24) - 4 + r.Below(8) : uint64_t{r.Next()} % 1000000000u;
        std::string digits = std::to_string(mantissa);
        if (r.OneIn(8)) digits = std::string(1 + r.Below(12), '0') + digits;
        int decimals = static_cast<int>(r.Below(13));
        if (static_cast<int>(digits.size()) <= decimals) digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), '0');
        if (decimals > 0 || r.OneIn(4)) digits.insert(digits.size() - static_cast<size_t>(decimals), ".");
        static const char* after[] = {"", "", "", "", "e", "E-3", "x", "/", "\t"};
        return (r.OneIn(3) ? "-" : "") + digits + after[r.Below(9)];
    };
    auto corner = [&r] {
        std::string text;
        for (uint32_t k = 0, pieces = 1 + r.Below(4); k < pieces; ++k) {
            if (k > 0) text += "/";
            if (k == 0 || !r.OneIn(4)) text += std::to_string(1 + r.Below(r.OneIn(6) ? 999999999u : 99u));
        }
        static const char* after[] = {"", "", "", "\r", "\t", "+"};
        return text + after[r.Below(6)];
    };
    std::string text;
    while (text.size() < (size_t{2} << 20)) {
        text += "v " + number() + " " + number() + " " + number() + "\nvt " + number() + " " + number() + "\n";
        text += "f " + corner() + " " + corner() + " " + corner() + (r.OneIn(3) ? " " + corner() : "") + "\n";
    }
    // Whole and in chunks, and short enough that the last corners are read near the end.
    for (const std::string& file : {text, text.substr(0, 900000), text.substr(0, 40)}) {
        std::string differences = Compare(file);
        if (!differences.empty()) SaveForDebugging(file, "obj-differential-bounds.obj");
        EXPECT_EQ(differences, "") << file.size() << " bytes";
    }
}

// Every model the project ships loads exactly as before.
TEST(ObjDifferential, ProductionModelsParseAsBefore) {
    int models = 0;
    for (const char* folder : {DEMO_SOURCE_DIR "/demo", DEMO_SOURCE_DIR "/tests/production"}) {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().extension() != ".obj") continue;
            std::FILE* f = std::fopen(it->path().string().c_str(), "rb");
            ASSERT_NE(f, nullptr);
            std::string text;
            char buffer[65536];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, got);
            std::fclose(f);
            EXPECT_EQ(Compare(text), "") << it->path();
            ++models;
        }
    }
    EXPECT_GT(models, 0);
}
