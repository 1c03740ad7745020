// Broadcasters send a message number and a parameter to every listener that subscribed.
#pragma once

#include <cstdint>
#include <vector>

class KListener;

class KBroadcaster {
public:
    KBroadcaster() = default;
    virtual ~KBroadcaster(); // unsubscribes every listener
    KBroadcaster(const KBroadcaster&) = delete;
    KBroadcaster& operator=(const KBroadcaster&) = delete;

    void AddListener(KListener* listener);    // a listener is added once only
    void RemoveListener(KListener* listener);
    bool HasListener(const KListener* listener) const;

    // Calls ListenToMessage of each listener subscribed when the broadcast starts, in the
    // order they subscribed; a listener removed (or destroyed) meanwhile is skipped.
    void BroadcastMessage(int32_t message, void* param = nullptr);

private:
    friend class KListener;
    std::vector<KListener*> mListeners;
};

class KListener {
public:
    KListener() = default;
    virtual ~KListener(); // unsubscribes from every broadcaster
    KListener(const KListener&) = delete;
    KListener& operator=(const KListener&) = delete;

    virtual void ListenToMessage(int32_t message, void* param) = 0;

private:
    friend class KBroadcaster;
    std::vector<KBroadcaster*> mBroadcasters;
};
