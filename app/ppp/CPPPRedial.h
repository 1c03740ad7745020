// The redial timer: dials once more, with the values the PPP controller kept, a number of ticks
// after a failed attempt. A single idle task of the shell, created on first use and never deleted.
#pragma once

#include "platform/shell/KPeriodical.h"

#include <cstdint>

class CPPPControl;

class CPPPRedial : public KPeriodical {
public:
    // The single timer, created on the first call; none only when it cannot be created.
    static CPPPRedial* GetRedialProc();

    ~CPPPRedial() override;

    // Dials with `control` once `delay` ticks have passed, at the first idle time after that.
    void StartRedial(CPPPControl* control, uint32_t delay);
    // Forgets a pending redial; nothing when none is pending.
    void StopRedial();
    bool IsIdeling() const { return mIdeling; }

    void SpendTime() override;

private:
    CPPPRedial();

    static CPPPRedial* mInstance;
    CPPPControl* mControl;
    uint32_t mFireTick;
    bool mIdeling;
};
