#include "platform/shell/KBroadcaster.h"

#include <algorithm>

KBroadcaster::~KBroadcaster()
{
    for (KListener* l : mListeners) std::erase(l->mBroadcasters, this);
}

void KBroadcaster::AddListener(KListener* listener)
{
    if (!listener || HasListener(listener)) return;
    mListeners.push_back(listener);
    listener->mBroadcasters.push_back(this);
}

void KBroadcaster::RemoveListener(KListener* listener)
{
    if (!HasListener(listener)) return;
    std::erase(mListeners, listener);
    std::erase(listener->mBroadcasters, this);
}

bool KBroadcaster::HasListener(const KListener* listener) const
{
    return std::find(mListeners.begin(), mListeners.end(), listener) != mListeners.end();
}

void KBroadcaster::BroadcastMessage(int32_t message, void* param)
{
    const std::vector<KListener*> snapshot = mListeners;
    for (KListener* l : snapshot) {
        if (HasListener(l)) l->ListenToMessage(message, param);
    }
}

KListener::~KListener()
{
    const std::vector<KBroadcaster*> bs = mBroadcasters;
    for (KBroadcaster* b : bs) b->RemoveListener(this);
}
