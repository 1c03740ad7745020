#include "platform/shell/KTicks.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <ctime>

namespace {

std::atomic<bool> gTestClockOn{false};
std::atomic<uint32_t> gTestTicks{0};

uint64_t MonotonicNanos()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

} // namespace

uint32_t TickCount()
{
    if (gTestClockOn.load(std::memory_order_acquire)) return gTestTicks.load();
    // Truncation to 32 bits is the wrap-around every caller expects.
    return static_cast<uint32_t>(MonotonicNanos() * 60 / 1000000000ull);
}

uint32_t Delay(uint32_t ticks)
{
    if (gTestClockOn.load(std::memory_order_acquire)) {
        KTestClock::Advance(ticks);
        return TickCount();
    }
    // Sleep to an absolute end time so interrupted sleeps do not stretch the wait.
    const uint64_t end = MonotonicNanos() + uint64_t(ticks) * 1000000000ull / 60;
    timespec ts{static_cast<time_t>(end / 1000000000ull), static_cast<long>(end % 1000000000ull)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
    return TickCount();
}

KTestClock::KTestClock(uint32_t start)
{
    assert(!gTestClockOn.load() && "only one test clock at a time");
    gTestTicks.store(start);
    gTestClockOn.store(true, std::memory_order_release);
}

KTestClock::~KTestClock()
{
    gTestClockOn.store(false, std::memory_order_release);
}

void KTestClock::Advance(uint32_t ticks)
{
    gTestTicks.fetch_add(ticks);
}

bool KTestClock::Installed()
{
    return gTestClockOn.load();
}
