// libFuzzer target for the running-order parser: any bytes give either a
// refusal that leaves the list alone or a list of well-formed entries.

#include <cstdint>
#include <cstdlib>

#include "playback/Timeline.h"

using namespace caldera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Timeline::EntryList entries(1);
    bool parsed = Timeline::Parse(reinterpret_cast<const char*>(data), size, entries);
    if (!parsed && entries.size() != 1) std::abort();
    for (const TimelineEntry& entry : entries)
        if (parsed && (entry.sceneName.empty() || entry.scene || entry.camera)) std::abort();
    return 0;
}
