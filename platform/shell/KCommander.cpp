#include "platform/shell/KCommander.h"

#include <algorithm>

KCommander::KCommander(KCommander* super)
{
    SetSuperCommander(super);
}

KCommander::~KCommander()
{
    for (KCommander* sub : mSubs) sub->mSuper = nullptr;
    SetSuperCommander(nullptr);
}

void KCommander::SetSuperCommander(KCommander* super)
{
    if (mSuper) std::erase(mSuper->mSubs, this);
    mSuper = super;
    if (mSuper) mSuper->mSubs.push_back(this);
}

bool KCommander::ProcessCommand(int32_t command, void* param)
{
    return ObeyCommand(command, param);
}

bool KCommander::ObeyCommand(int32_t command, void* param)
{
    return mSuper ? mSuper->ObeyCommand(command, param) : false;
}

void KCommander::FindCommandStatus(int32_t command, bool& enabled)
{
    if (mSuper)
        mSuper->FindCommandStatus(command, enabled);
    else
        enabled = false;
}
