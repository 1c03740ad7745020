// The tick counter: 1/60 second, unsigned 32-bit, wrapping; compare ticks unsigned
// (`TickCount() - start >= limit`), never by sign.
#pragma once

#include <cstdint>

// Ticks since an arbitrary start, from the monotonic clock (or from the test clock when one
// is installed).
uint32_t TickCount();

// Blocks the calling thread for `ticks` ticks and returns the tick count afterwards. With a
// test clock installed it does not sleep: it advances the test clock by `ticks`.
uint32_t Delay(uint32_t ticks);

// A clock for tests: while an instance exists, TickCount answers its value, and only Delay
// and Advance move it, so waits of hundreds of ticks take no real time. One at a time;
// Advance may be called from any thread.
class KTestClock {
public:
    explicit KTestClock(uint32_t start = 0);
    ~KTestClock();
    KTestClock(const KTestClock&) = delete;
    KTestClock& operator=(const KTestClock&) = delete;

    static void Advance(uint32_t ticks);
    static bool Installed();
};
