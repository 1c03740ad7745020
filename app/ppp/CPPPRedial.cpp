#include "app/ppp/CPPPRedial.h"

#include "app/ppp/CPPPControl.h"
#include "platform/shell/KTicks.h"

#include <new>

CPPPRedial* CPPPRedial::mInstance = nullptr;

CPPPRedial::CPPPRedial() : mControl(nullptr), mFireTick(0), mIdeling(false)
{
    mInstance = nullptr;
}

CPPPRedial::~CPPPRedial()
{
    mInstance = nullptr;
}

CPPPRedial* CPPPRedial::GetRedialProc()
{
    if (!mInstance)
        mInstance = new (std::nothrow) CPPPRedial();
    return mInstance;
}

void CPPPRedial::StartRedial(CPPPControl* control, uint32_t delay)
{
    mControl = control;
    mFireTick = TickCount() + delay;
    mIdeling = true;
    StartIdling();
}

void CPPPRedial::StopRedial()
{
    if (!mIdeling)
        return;
    StopIdling();
    mIdeling = false;
}

void CPPPRedial::SpendTime()
{
    // Not yet past the fire tick. Compared as a difference, so a tick count that wraps past
    // 2^32 between start and fire neither fires early nor waits for another wrap.
    if (static_cast<int32_t>(TickCount() - mFireTick) <= 0)
        return;
    if (mControl)
        mControl->Connect(); // a dial that fails at once is not reported; later failures arrive as events
    mIdeling = false;
    StopIdling();
}
