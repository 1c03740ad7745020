#include "platform/shell/KEventLoop.h"

#include "platform/shell/KPeriodical.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>

namespace {

std::atomic<bool> gQuit{false};
std::atomic<int> gQuitCode{0};
constexpr int kIdleIntervalMs = 1;

} // namespace

int KEventLoop::Run()
{
    gQuit.store(false);
    QEventLoop loop;
    // While idle tasks exist the loop must come back to them without an event; a short
    // heartbeat does that without spinning a core at full load.
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(kIdleIntervalMs);
    while (!gQuit.load()) {
        while (!gQuit.load() && loop.processEvents(QEventLoop::AllEvents)) {
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (gQuit.load()) break;
        if (KPeriodical::IdlerCount() > 0) KPeriodical::DevoteTimeToIdlers();
        if (gQuit.load()) break;
        if (KPeriodical::IdlerCount() > 0) {
            if (!heartbeat.isActive()) heartbeat.start();
        } else {
            heartbeat.stop();
        }
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return gQuitCode.load();
}

void KEventLoop::Quit(int code)
{
    gQuitCode.store(code);
    gQuit.store(true);
    if (auto* d = QAbstractEventDispatcher::instance(QCoreApplication::instance()
                                                         ? QCoreApplication::instance()->thread()
                                                         : nullptr))
        d->wakeUp();
}

bool KEventLoop::ProcessPendingEvents()
{
    QEventLoop loop;
    bool any = false;
    while (loop.processEvents(QEventLoop::AllEvents)) any = true;
    return any;
}

void KEventLoop::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}
