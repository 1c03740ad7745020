#include "platform/shell/KEventLoop.h"

#include "platform/shell/KPeriodical.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>

namespace {

std::atomic<bool> gQuit{false};
std::atomic<int> gQuitCode{0};

} // namespace

int KEventLoop::Run()
{
    gQuit.store(false);
    QEventLoop loop;
    while (!gQuit.load()) {
        while (!gQuit.load() && loop.processEvents(QEventLoop::AllEvents)) {
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (gQuit.load()) break;
        if (KPeriodical::IdlerCount() > 0)
            KPeriodical::DevoteTimeToIdlers();
        else
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
