// libFuzzer target for the material-library parser: any bytes give either no
// library or a set whose every material sits under the hash of its name.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "resources/MaterialLibrary.h"
#include "resources/NameHash.h"

using namespace caldera;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader's progress lines would drown libFuzzer's own (on stderr).
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto set = MaterialSet::Parse(reinterpret_cast<const char*>(data), size);
    if (!set) return 0;
    for (const auto& [hash, material] : set->byHash)
        if (hash != material.nameHash || hash != NameHash(material.name)) std::abort();
    return 0;
}
