#include "app/card/CCardExchange.h"

#include "app/card/CSerialPort.h"
#include "app/card/CardReply.h"
#include "platform/shell/KLog.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kSendWaitMs = 8000;
constexpr int kSendAttempts = 3;

int TicksToMs(uint32_t ticks)
{
    return static_cast<int>(uint64_t(ticks) * 1000 / 60);
}

bool ReadyNow(int fd, short events)
{
    pollfd p{fd, events, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

} // namespace

CCardExchange::CCardExchange() : mContext(std::make_unique<QObject>()) {}

CCardExchange::~CCardExchange()
{
    *mAlive = false; // a callback still queued is dropped
}

void CCardExchange::Start(CSerialPort* port, const char* command, uint32_t timeLimitTicks, Done done)
{
    mPort = port;
    mFd = port ? port->FileDescriptor() : -1;
    mCommand = command ? command : "";
    mReceived.clear();
    mTimeLimit = timeLimitTicks;
    mWrites = 0;
    mDone = std::move(done);
    if (mFd < 0 || mCommand.empty()) {
        Finish(false);
        return;
    }
    mPort->FlushInput();
    qCDebug(lcCard) << "send" << QByteArray::fromStdString(mCommand);
    TryWrite();
}

void CCardExchange::TryWrite()
{
    if (!ReadyNow(mFd, POLLOUT)) {
        WaitToWrite();
        return;
    }
    ++mWrites;
    const ssize_t written = ::write(mFd, mCommand.data(), mCommand.size());
    if (written >= 0 && size_t(written) == mCommand.size()) {
        StartReceive();
        return;
    }
    if (mWrites >= kSendAttempts) {
        Finish(false);
        return;
    }
    WaitToWrite();
}

void CCardExchange::WaitToWrite()
{
    // The line has not taken the command: wait for it, at most 8 s, without blocking the loop.
    if (!mWriteNotifier) {
        mWriteNotifier = std::make_unique<QSocketNotifier>(mFd, QSocketNotifier::Write);
        QObject::connect(mWriteNotifier.get(), &QSocketNotifier::activated, mContext.get(), [this] {
            mWriteNotifier->setEnabled(false);
            mWriteTimer->stop();
            TryWrite();
        });
        mWriteTimer = std::make_unique<QTimer>();
        mWriteTimer->setSingleShot(true);
        QObject::connect(mWriteTimer.get(), &QTimer::timeout, mContext.get(), [this] { Finish(false); });
    }
    mWriteNotifier->setEnabled(true);
    mWriteTimer->start(kSendWaitMs);
}

void CCardExchange::StartReceive()
{
    mReadNotifier = std::make_unique<QSocketNotifier>(mFd, QSocketNotifier::Read);
    QObject::connect(mReadNotifier.get(), &QSocketNotifier::activated, mContext.get(), [this] { OnReadable(); });
    // A silent wait of limit / 60 whole seconds fails the exchange, as does the deadline.
    mSilenceTimer = std::make_unique<QTimer>();
    mSilenceTimer->setSingleShot(true);
    QObject::connect(mSilenceTimer.get(), &QTimer::timeout, mContext.get(), [this] {
        qCDebug(lcCard) << "no reply within the wait";
        Finish(false);
    });
    mDeadline = std::make_unique<QTimer>();
    mDeadline->setSingleShot(true);
    mDeadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(mDeadline.get(), &QTimer::timeout, mContext.get(), [this] {
        qCDebug(lcCard) << "reply deadline passed";
        Finish(false);
    });
    mSilenceTimer->start(int(mTimeLimit / 60) * 1000);
    mDeadline->start(TicksToMs(mTimeLimit));
}

void CCardExchange::OnReadable()
{
    char buffer[CardReply::kMaxReply];
    const ssize_t got = ::read(mFd, buffer, CardReply::kMaxReply - mReceived.size());
    if (got == 0) {
        qCDebug(lcCard) << "end of input";
        Finish(false);
        return;
    }
    if (got < 0) return; // read errors alone do not end the exchange before the deadline
    mReceived.append(buffer, size_t(got));
    mSilenceTimer->start(int(mTimeLimit / 60) * 1000);
    switch (CardReply::Classify(mReceived)) {
    case CardReply::Verdict::kOK: Finish(true); break;
    case CardReply::Verdict::kError:
    case CardReply::Verdict::kFull: Finish(false); break;
    case CardReply::Verdict::kMore: break;
    }
}

void CCardExchange::Finish(bool ok)
{
    if (mReadNotifier) mReadNotifier->setEnabled(false);
    if (mWriteNotifier) mWriteNotifier->setEnabled(false);
    for (QTimer* t : {mWriteTimer.get(), mSilenceTimer.get(), mDeadline.get()})
        if (t) t->stop();
    std::string reply = ok ? std::string(CardReply::Body(mReceived)) : std::string();
    qCDebug(lcCard) << "reply" << (ok ? "OK" : "failed") << QByteArray::fromStdString(mReceived);
    // Called back from the event queue, not from inside a notifier, and not on an object of
    // ours: the callee may delete this exchange (and its notifiers) from inside the call.
    Done done = std::move(mDone);
    mDone = nullptr;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive = mAlive, done = std::move(done), ok, reply = std::move(reply)] {
            if (*alive) done(ok, reply);
        },
        Qt::QueuedConnection);
}
