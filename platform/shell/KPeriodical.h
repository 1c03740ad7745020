// Idle tasks: objects whose SpendTime runs whenever the event loop has no event pending.
#pragma once

#include <cstddef>
#include <cstdint>

class KPeriodical {
public:
    KPeriodical() = default;
    virtual ~KPeriodical(); // stops idling
    KPeriodical(const KPeriodical&) = delete;
    KPeriodical& operator=(const KPeriodical&) = delete;

    // Joins the idle tasks; a task started during an idle pass first runs in the next pass.
    void StartIdling();
    // Leaves the idle tasks; safe inside the task's own SpendTime, and `delete this` there is
    // safe too (nothing touches the task after SpendTime returns).
    void StopIdling();
    bool IsIdling() const;

    // One slice of the task's work; keep it short, the user interface waits for it.
    virtual void SpendTime() = 0;

    // One idle pass: every task idling at its start gets one SpendTime, in the order they
    // started idling, unless it was stopped or deleted earlier in the same pass.
    // The event loop calls this; tests may call it directly.
    static void DevoteTimeToIdlers();
    static size_t IdlerCount();

private:
    uint64_t mIdleSerial = 0; // 0: not idling; otherwise unique per StartIdling
};
