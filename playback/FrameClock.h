#pragma once

#include <chrono>
#include <cstdint>

namespace caldera {

// The tick clock frame times are measured with. The player uses the steady
// clock; the capture tool steps a fixed clock so that a run is repeatable.
class FrameClock {
public:
    virtual ~FrameClock() = default;
    virtual int64_t NowMicroseconds() = 0;
};

class SteadyFrameClock : public FrameClock {
public:
    int64_t NowMicroseconds() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

// Advances only when told to.
class FixedStepClock : public FrameClock {
public:
    int64_t now = 1;  // never 0: 0 marks "no previous frame"
    int64_t NowMicroseconds() override { return now; }
    void Advance(int64_t microseconds) { now += microseconds; }
};

}  // namespace caldera
