#include "platform/shell/KPeriodical.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

struct Entry {
    KPeriodical* task;
    uint64_t serial;
};

// Idle tasks live on the main thread only.
std::vector<Entry>& Idlers()
{
    static std::vector<Entry> list;
    return list;
}
uint64_t gNextSerial = 1;

bool StillIdling(const Entry& e)
{
    // Matching the serial as well as the address keeps a task deleted earlier in the pass,
    // whose memory a new task may now occupy, from being called.
    const auto& list = Idlers();
    return std::any_of(list.begin(), list.end(),
                       [&](const Entry& x) { return x.task == e.task && x.serial == e.serial; });
}

} // namespace

KPeriodical::~KPeriodical()
{
    StopIdling();
}

void KPeriodical::StartIdling()
{
    if (mIdleSerial != 0) return;
    mIdleSerial = gNextSerial++;
    Idlers().push_back({this, mIdleSerial});
}

void KPeriodical::StopIdling()
{
    if (mIdleSerial == 0) return;
    auto& list = Idlers();
    const uint64_t serial = std::exchange(mIdleSerial, 0);
    std::erase_if(list, [&](const Entry& e) { return e.task == this && e.serial == serial; });
}

bool KPeriodical::IsIdling() const
{
    return mIdleSerial != 0;
}

void KPeriodical::DevoteTimeToIdlers()
{
    const std::vector<Entry> pass = Idlers();
    for (const Entry& e : pass) {
        if (StillIdling(e)) e.task->SpendTime();
    }
}

size_t KPeriodical::IdlerCount()
{
    return Idlers().size();
}
