// libFuzzer target for the content checker: any bytes, taken as each kind of
// content file in turn, are checked without a memory error, and every finding
// names a line of the input. Runs over the other targets' corpora too:
//   build-fuzz/fuzz/fuzz_lint -runs=0 build-fuzz/corpus-obj build-fuzz/corpus-scene ...

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lint/LintContext.h"

using namespace caldera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FileBuffer file;
    file.size = static_cast<uint32_t>(size);
    file.data.assign(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    file.data.push_back('\0');

    Inventory inventory;
    inventory.textures = {"wood.png", "lensdirt.jpg"};
    inventory.models = {"cube.obj"};
    inventory.scenes = {"room"};
    inventory.materials = {"white"};
    inventory.materialsKnown = true;
    inventory.cameras["room"] = {"front"};
    inventory.topObjects["room"] = {"box"};
    inventory.musicSeconds = 10;

    std::vector<Diagnostic> found;
    Reporter report(found, "fuzz");
    CheckObjModel(file, report);
    CheckTextureImage(file, report);
    CheckMaterialsXml(file, inventory, report);
    CollectSceneNames(file, "room", inventory);
    CheckSceneXml(file, "room", inventory, report);
    CheckTimelineXml(file, inventory, report);

    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    for (const Diagnostic& d : found)
        if (d.line < 1 || static_cast<size_t>(d.line) > lines || d.message.empty()) std::abort();
    return 0;
}
