// One AT exchange driven by the event loop: the command is written when the line takes it and
// the reply collected as it arrives, with the same limits as CSerialPort's blocking calls
// (8 s for the line to take the command, up to three writes; a silent wait of limit / 60 whole
// seconds; the deadline; 1023 characters). The event loop serves other events meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CSerialPort;
class QObject;
class QSocketNotifier;
class QTimer;

class CCardExchange {
public:
    // ok: the reply ended on "OK"; reply: the text without its final line (empty on failure).
    using Done = std::function<void(bool ok, const std::string& reply)>;

    CCardExchange();
    ~CCardExchange(); // an exchange in progress ends without calling back
    CCardExchange(const CCardExchange&) = delete;
    CCardExchange& operator=(const CCardExchange&) = delete;

    // Starts the exchange on `port` (which must stay open until it ends). `done` is called once,
    // from the event loop, never from inside Start; it may delete this object.
    void Start(CSerialPort* port, const char* command, uint32_t timeLimitTicks, Done done);
    bool Running() const { return bool(mDone); }

private:
    void TryWrite();
    void WaitToWrite();
    void StartReceive();
    void OnReadable();
    void Finish(bool ok);

    std::unique_ptr<QObject> mContext;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    std::unique_ptr<QSocketNotifier> mWriteNotifier, mReadNotifier;
    std::unique_ptr<QTimer> mWriteTimer, mSilenceTimer, mDeadline;
    CSerialPort* mPort = nullptr;
    int mFd = -1;
    std::string mCommand;
    std::string mReceived;
    uint32_t mTimeLimit = 0;
    int mWrites = 0;
    Done mDone;
};
