// Prints the bits of every number the OBJ loader reads from a fixed set of
// spellings: the web build reads numbers without floating-point from_chars,
// and the same program built for the desktop must print the same lines.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resources/SModelLoader.h"

using namespace caldera;

namespace {

// Not "-nan": the two C libraries' strtof disagree on its sign, a matter of
// the libraries, not of the loader.
std::vector<std::string> Spellings() {
    std::vector<std::string> all = {
        "0", "-0", "+1.5", ".5", "5.", "1e", "1e+", "1e5", "1E-5", "-2.5e-3", "123456789", "16777217",
        "0.1", "0.3333333333333333333333", "3.4028235e38", "3.4028236e38", "1e39", "1.17549435e-38",
        "1.4e-45", "7e-46", "1e-50", "0x1p3", "inf", "nan", "1.000000059604644775390625",
        "1.00000005960464477539062", "1.00000005960464477539063", "8.589973e9", "4.2949673e9",
        "1.5e1a", "2.5(", "12345678901234567890.5", "0.000000000000000000001", "99999999.5e-3",
    };
    // Many digits and exponents: past the plain-decimal path, onto the general one.
    uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<uint32_t>(state >> 33);
    };
    for (int i = 0; i < 4000; ++i) {
        std::string s = (next() % 4 == 0) ? "-" : "";
        const int whole = static_cast<int>(next() % 12);
        for (int d = 0; d < whole; ++d) s += static_cast<char>('0' + next() % 10);
        s += '.';
        const int decimals = 1 + static_cast<int>(next() % 25);
        for (int d = 0; d < decimals; ++d) s += static_cast<char>('0' + next() % 10);
        if (next() % 2) s += "e" + std::to_string(static_cast<int>(next() % 90) - 45);
        all.push_back(s);
    }
    return all;
}

}  // namespace

int main() {
    const std::vector<std::string> spellings = Spellings();
    std::string text;
    for (const std::string& s : spellings) text += "v " + s + " 0 0\n";
    SModelLoader loader;
    if (!loader.LoadObjText("numbers.obj", text.data(), text.size())) {
        std::fprintf(stderr, "obj_numbers: the text did not load\n");
        return 1;
    }
    if (loader.positions.size() != spellings.size()) {
        std::fprintf(stderr, "obj_numbers: %zu numbers read of %zu\n", loader.positions.size(), spellings.size());
        return 1;
    }
    for (size_t i = 0; i < spellings.size(); ++i) {
        uint32_t bits;
        std::memcpy(&bits, &loader.positions[i].x, sizeof bits);
        std::printf("%s %08x\n", spellings[i].c_str(), bits);
    }
    return 0;
}
