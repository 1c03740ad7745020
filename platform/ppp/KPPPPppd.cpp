#include "platform/ppp/KPPPPppd.h"

#include "platform/ports/KPorts.h"
#include "platform/shell/KLog.h"
#include "platform/ppp/pppd-plugin/KavantiEventLine.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <pthread.h>
#include <iterator>
#include <memory>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace KPPP {

// ---------------------------------------------------------------------------------------------
// Event lines and their translation

bool ParseEventLine(std::string_view line, EventLine& out)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::string_view name = line;
    std::string_view arg;
    if (auto blank = line.find(' '); blank != std::string_view::npos) {
        name = line.substr(0, blank);
        arg = line.substr(blank + 1);
    }
    auto number = [&](int& value) {
        if (arg.empty())
            return false;
        auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), value);
        return ec == std::errc() && end == arg.data() + arg.size();
    };
    EventLine e;
    if (name == KV_EVENT_PHASE) {
        e.kind = EventLine::kPhase;
        if (!number(e.value))
            return false;
    } else if (name == KV_EVENT_EXIT) {
        e.kind = EventLine::kExit;
        if (!number(e.value))
            return false;
    } else if (!arg.empty()) {
        return false;
    } else if (name == KV_EVENT_AUTH_UP) {
        e.kind = EventLine::kAuthUp;
    } else if (name == KV_EVENT_IP_UP) {
        e.kind = EventLine::kIPUp;
    } else if (name == KV_EVENT_LINK_DOWN) {
        e.kind = EventLine::kLinkDown;
    } else {
        return false;
    }
    out = e;
    return true;
}

std::vector<Event> PppdTranslator::OnLine(const EventLine& line)
{
    std::vector<Event> events;
    auto connectComplete = [&] {
        if (!mConnectComplete) {
            mConnectComplete = true;
            events.push_back({kEventAuthFinished, 0, 0});
            events.push_back({kEventConnectComplete, 0, 0});
        }
    };
    auto disconnectComplete = [&] {
        if (mConnectComplete && !mDisconnectReported) {
            mDisconnectReported = true;
            events.push_back({kEventDisconnectComplete, 0, 0});
        }
    };
    switch (line.kind) {
    case EventLine::kPhase: {
        const int from = mPhase;
        const int to = line.value;
        mPhase = to;
        // The connect script succeeded when pppd goes on to negotiate; a failed script
        // leaves SERIALCONN for DISCONNECT or DEAD instead.
        if (from == kPhaseSerialConn && to >= kPhaseEstablish && to <= kPhaseRunning && !mModemInitReported) {
            mModemInitReported = true;
            events.push_back({kEventModemInitFinished, 0, 0});
        }
        if (to == kPhaseAuthenticate && !mConnectComplete)
            events.push_back({kEventAuthStarted, 0, 0});
        else if (to == kPhaseNetwork)
            connectComplete(); // authentication done, or none was asked for
        else if (to == kPhaseTerminate)
            disconnectComplete();
        break;
    }
    case EventLine::kAuthUp:
        connectComplete();
        break;
    case EventLine::kIPUp:
        if (mConnectComplete)
            events.push_back({kEventIPCPUp, 0, 0});
        break;
    case EventLine::kLinkDown:
        // A modem hang-up takes the link down without passing through TERMINATE.
        disconnectComplete();
        break;
    case EventLine::kExit:
        break; // the wait status is what counts
    }
    return events;
}

std::vector<Event> PppdTranslator::OnExit(int exitStatus, bool hangUpAsked)
{
    std::vector<Event> events;
    if (!mConnectComplete) {
        // A connect complete without error would show the link as made: an exit before it
        // always carries an error, even when pppd ended with 0.
        const int error = exitStatus != 0 ? exitStatus : kPppdExitFatal;
        events.push_back({kEventConnectComplete, 0, static_cast<uint32_t>(error)});
    } else {
        const int error = hangUpAsked ? 0 : exitStatus;
        events.push_back({kEventLCPDown, 0, static_cast<uint32_t>(error)});
    }
    *this = PppdTranslator();
    return events;
}

// ---------------------------------------------------------------------------------------------
// Command line

namespace {
int gHangUpBoundMs = 5000;
}

int HangUpBoundMs()
{
    return gHangUpBoundMs;
}

void SetHangUpBoundMs(int ms)
{
    gHangUpBoundMs = ms > 0 ? ms : 1;
}

std::string PppdProgram()
{
    const char* program = std::getenv("KAVANTI_PPPD");
    if (program && *program)
        return program;
    return "/usr/sbin/pppd";
}

std::vector<std::string> PppdArguments(const std::string& program, const PppdDialSettings& settings)
{
    // The privileged options (device, connect script, plugins, noauth) are in the peer file;
    // these are the ones a member of group dip may add on the command line.
    std::vector<std::string> args = {program, "call", "kavanti", "nodetach"};
    if (settings.setAccount) {
        args.insert(args.end(), {"user", settings.userName});
        args.insert(args.end(), {"set", std::string(kNumberVariable) + "=" + settings.accessPoint});
        args.insert(args.end(), {"passwordfd", std::to_string(kPppdPasswordFd)});
    }
    args.insert(args.end(), {"kavanti-events-fd", std::to_string(kPppdEventsFd)});
    return args;
}

std::string ExitStatusText(int status)
{
    static const char* const kTexts[] = {
        "the link ended normally",                              // 0
        "pppd hit a fatal error",                               // 1
        "pppd refused its options",                             // 2
        "pppd is not allowed to run for this user",             // 3
        "the kernel has no PPP support",                        // 4
        "pppd was stopped by a signal",                         // 5
        "the card's port could not be locked",                  // 6
        "the card's port could not be opened",                  // 7
        "the dialling script failed",                           // 8
        "the pty command could not be run",                     // 9
        "the PPP negotiation failed",                           // 10
        "the service failed to authenticate itself",            // 11
        "the link was idle too long",                           // 12
        "the connect time limit was reached",                   // 13
        "callback was negotiated",                              // 14
        "the service stopped answering",                        // 15
        "the modem hung up",                                    // 16
        "a serial loopback was detected",                       // 17
        "the card's init script failed",                        // 18
        "authentication failed",                                // 19
    };
    if (status >= 0 && size_t(status) < std::size(kTexts)) return kTexts[status];
    return "pppd ended with status " + std::to_string(status);
}

int PppdExitStatus(int waitStatus, bool hangUpAsked)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (hangUpAsked)
        return kPppdExitUserRequest;
    return kPppdExitFatal;
}

OSStatus StatusFromErrno(int err)
{
    // The shared table; what it does not name is a refused request here, not a file error.
    return err == 0 ? kStatusOK : ::StatusFromErrno(err, kStatusBadParam);
}

// ---------------------------------------------------------------------------------------------
// The endpoint

namespace {

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            Reset();
            fd = o.fd;
            o.fd = -1;
        }
        return *this;
    }
    ~Fd() { Reset(); }
    void Reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    explicit operator bool() const { return fd >= 0; }
};

void WipeString(std::string& s)
{
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
}

void SleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

// Writes all of `text` to a pipe whose reader may be gone, with SIGPIPE held back on this
// thread so that a vanished reader is an EPIPE here and never the application's death,
// whatever the program's own SIGPIPE disposition is. False when the reader went away.
bool WriteToChild(int fd, const std::string& text)
{
    sigset_t pipeOnly, old;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    bool ok = true;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (!ok && errno == EPIPE && !wasPending) {
        // Take the SIGPIPE our write raised so it is not delivered once the mask is restored.
        const timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

class PppdEndpoint final : public Endpoint {
public:
    PppdEndpoint() : mContext(std::make_unique<QObject>()) {}
    ~PppdEndpoint() override
    {
        *mAlive = false;
        StopChildNow();
        WipeString(mPassword);
        // The endpoint may be closed from inside its own event delivery (the notifier dials
        // again): the context object outlives this call, with its queued calls dropped.
        QObject* context = mContext.release();
        if (QCoreApplication::instance()) {
            QCoreApplication::removePostedEvents(context);
            context->deleteLater();
        } else {
            delete context;
        }
    }

    OSStatus InstallNotifier(Notifier notifier, void* context) override
    {
        mNotifier = notifier;
        mNotifierContext = context;
        return kStatusOK;
    }
    void RemoveNotifier() override
    {
        mNotifier = nullptr;
        mNotifierContext = nullptr;
    }
    OSStatus SetAsynchronous() override { return kStatusOK; }  // every call returns at once
    OSStatus SetNonBlocking() override { return kStatusOK; }
    OSStatus SetProgressEvents(bool on) override
    {
        mProgress = on;
        return kStatusOK;
    }

    OSStatus OptionManagement(OptionRequest& request) override
    {
        if (!request.buffer || request.length < kOptionHeaderSize || request.length > request.maxLength)
            return kStatusBadParam;
        OptionHeader header;
        std::memcpy(&header, request.buffer, sizeof header);
        if (header.length != request.length)
            return kStatusBadParam;
        const uint8_t* value = request.buffer + kOptionHeaderSize;
        const size_t valueLength = header.length - kOptionHeaderSize;
        auto text = [&] {
            return std::string(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), valueLength));
        };
        uint32_t verdict = kOptionSuccess;
        if (header.level != kOptionLevelPPP) {
            verdict = kOptionNotSupported;
        } else {
            switch (header.name) {
            case kOptionAccessPoint:
                mAccessPoint = text();
                break;
            case kOptionUserName:
                mUserName = text();
                break;
            case kOptionPassword:
                WipeString(mPassword);
                mPassword = text();
                break;
            case kOptionAlerts:
                // pppd shows no alerts of its own; any value is accepted.
                if (valueLength < 4)
                    verdict = kOptionFailure;
                break;
            default:
                verdict = kOptionNotSupported;
            }
        }
        header.status = verdict;
        std::memcpy(request.buffer, &header, sizeof header);
        return kStatusOK;
    }

    OSStatus Dial() override
    {
        if (mPid > 0)
            return kStatusOutState;
        if (!QCoreApplication::instance())
            return kStatusOutState; // events need the main event loop
        mTranslator = PppdTranslator();
        mHangUpAsked = false;
        mLineBuffer.clear();

        const bool setAccount = !mAccessPoint.empty();
        PppdDialSettings settings{setAccount, mAccessPoint, mUserName};
        const std::vector<std::string> args = PppdArguments(PppdProgram(), settings);

        int err = 0;
        Fd eventsRead, eventsWrite, passwordRead, passwordWrite;
        {
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
                return PostOpenFailure(errno);
            eventsRead = Fd(sv[0]);
            eventsWrite = Fd(sv[1]);
            shutdown(eventsRead.fd, SHUT_WR);
        }
        if (setAccount) {
            int p[2];
            if (pipe2(p, O_CLOEXEC) != 0)
                return PostOpenFailure(errno);
            passwordRead = Fd(p[0]);
            passwordWrite = Fd(p[1]);
        }
        // Move the child's ends above the numbers they take in the child, so the dup2 calls
        // below cannot overwrite one another.
        Fd childEvents(fcntl(eventsWrite.fd, F_DUPFD_CLOEXEC, 10));
        Fd childPassword;
        if (setAccount)
            childPassword = Fd(fcntl(passwordRead.fd, F_DUPFD_CLOEXEC, 10));
        if (!childEvents || (setAccount && !childPassword))
            return PostOpenFailure(errno);
        eventsWrite.Reset();
        passwordRead.Reset();

        // pppd logs to its standard output with nodetach: into the kavanti.ppp log when that is
        // on, otherwise with the application's errors as always.
        Fd outputRead, childOutput;
        if (lcPPP().isDebugEnabled()) {
            int p[2];
            if (pipe2(p, O_CLOEXEC) == 0) {
                outputRead = Fd(p[0]);
                childOutput = Fd(fcntl(p[1], F_DUPFD_CLOEXEC, 10));
                ::close(p[1]);
                if (!childOutput)
                    outputRead.Reset();
            }
        }

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (childOutput) {
            posix_spawn_file_actions_adddup2(&actions, childOutput.fd, 1);
            posix_spawn_file_actions_adddup2(&actions, childOutput.fd, 2);
        } else {
            posix_spawn_file_actions_adddup2(&actions, 2, 1);
        }
        // Nothing else of ours reaches the program: a stray descriptor at 3 would otherwise
        // pass for the password pipe.
        if (setAccount)
            posix_spawn_file_actions_adddup2(&actions, childPassword.fd, kPppdPasswordFd);
        else
            posix_spawn_file_actions_addclose(&actions, kPppdPasswordFd);
        posix_spawn_file_actions_adddup2(&actions, childEvents.fd, kPppdEventsFd);
        posix_spawn_file_actions_addclosefrom_np(&actions, kPppdEventsFd + 1);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        err = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        childEvents.Reset();
        childPassword.Reset();
        childOutput.Reset();
        if (err != 0)
            return PostOpenFailure(err);
        qCDebug(lcPPP) << "started" << QString::fromStdString(args[0]) << "pid" << pid;
        if (outputRead) {
            fcntl(outputRead.fd, F_SETFL, fcntl(outputRead.fd, F_GETFL) | O_NONBLOCK);
            mOutput = std::move(outputRead);
            mOutputNotifier = std::make_unique<QSocketNotifier>(mOutput.fd, QSocketNotifier::Read);
            QObject::connect(mOutputNotifier.get(), &QSocketNotifier::activated, mContext.get(), [this] { ReadOutput(); });
        }

        mPid = pid;
        if (setAccount) {
            // The pipe holds far more than a password: the write cannot block. pppd reads
            // until end of file, so the write end is closed at once. A program that ended
            // already (a refused option, a busy device) gives EPIPE: its exit reports the rest.
            WriteToChild(passwordWrite.fd, mPassword);
            passwordWrite.Reset();
        }
        fcntl(eventsRead.fd, F_SETFL, fcntl(eventsRead.fd, F_GETFL) | O_NONBLOCK);
        mEvents = std::move(eventsRead);
        mEventsNotifier = std::make_unique<QSocketNotifier>(mEvents.fd, QSocketNotifier::Read);
        QObject::connect(mEventsNotifier.get(), &QSocketNotifier::activated, mContext.get(), [this] { ReadEvents(); });

        mPidFd = Fd(static_cast<int>(::syscall(SYS_pidfd_open, mPid, 0)));
        if (mPidFd) {
            mExitNotifier = std::make_unique<QSocketNotifier>(mPidFd.fd, QSocketNotifier::Read);
            QObject::connect(mExitNotifier.get(), &QSocketNotifier::activated, mContext.get(), [this] { CheckExit(); });
        } else {
            mExitPoll = std::make_unique<QTimer>();
            QObject::connect(mExitPoll.get(), &QTimer::timeout, mContext.get(), [this] { CheckExit(); });
            mExitPoll->start(50);
        }
        return kStatusOK;
    }

    OSStatus HangUp() override
    {
        if (mPid <= 0)
            return kStatusOK; // no link: nothing to hang up
        mHangUpAsked = true;
        ::kill(mPid, SIGTERM);
        if (!mKillTimer) {
            mKillTimer = std::make_unique<QTimer>();
            mKillTimer->setSingleShot(true);
            QObject::connect(mKillTimer.get(), &QTimer::timeout, mContext.get(), [this] {
                if (mPid > 0)
                    ::kill(mPid, SIGKILL);
            });
        }
        mKillTimer->start(HangUpBoundMs());
        return kStatusOK;
    }

private:
    OSStatus PostOpenFailure(int err)
    {
        Post({kEventOpenComplete, StatusFromErrno(err), 0});
        return kStatusOK;
    }

    void Post(const Event& e)
    {
        mQueue.push_back(e);
        if (!mDrainScheduled) {
            mDrainScheduled = true;
            QMetaObject::invokeMethod(mContext.get(), [this] { Drain(); }, Qt::QueuedConnection);
        }
    }

    // Hands the queued events to the notifier one at a time. The notifier may dial again or
    // close this endpoint; a nested event loop inside it must not deliver the next event early.
    void Drain()
    {
        mDrainScheduled = false;
        if (mDelivering)
            return;
        auto alive = mAlive;
        mDelivering = true;
        while (!mQueue.empty()) {
            Event e = mQueue.front();
            mQueue.pop_front();
            if (IsProgressEvent(e.code) && !mProgress)
                continue;
            if (mNotifier)
                mNotifier(mNotifierContext, e.code, e.result, e.cookie);
            if (!*alive)
                return;
        }
        mDelivering = false;
    }

    void ReadEvents()
    {
        char buf[512];
        for (;;) {
            ssize_t n = ::read(mEvents.fd, buf, sizeof buf);
            if (n > 0) {
                mLineBuffer.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                // End of the stream: stop watching; the exit is reported from the wait status.
                if (mEventsNotifier)
                    mEventsNotifier->setEnabled(false);
            }
            break;
        }
        size_t start = 0;
        for (size_t nl; (nl = mLineBuffer.find('\n', start)) != std::string::npos; start = nl + 1) {
            EventLine line;
            if (ParseEventLine(std::string_view(mLineBuffer).substr(start, nl - start), line))
                for (const Event& e : mTranslator.OnLine(line))
                    Post(e);
        }
        mLineBuffer.erase(0, start);
        if (mLineBuffer.size() > 4096)
            mLineBuffer.clear(); // not our protocol
    }

    // pppd's own lines into the log, as they come.
    void ReadOutput()
    {
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(mOutput.fd, buf, sizeof buf);
            if (n > 0) {
                mOutputBuffer.append(buf, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || errno != EAGAIN) {
                if (mOutputNotifier)
                    mOutputNotifier->setEnabled(false);
                if (!mOutputBuffer.empty())
                    mOutputBuffer.push_back('\n');
            }
            break;
        }
        size_t start = 0;
        for (size_t nl; (nl = mOutputBuffer.find('\n', start)) != std::string::npos; start = nl + 1)
            qCDebug(lcPPP).noquote() << "pppd:" << QString::fromLocal8Bit(mOutputBuffer.data() + start, qsizetype(nl - start));
        mOutputBuffer.erase(0, start);
        if (mOutputBuffer.size() > 4096) {
            qCDebug(lcPPP).noquote() << "pppd:" << QString::fromLocal8Bit(mOutputBuffer.data(), qsizetype(mOutputBuffer.size()));
            mOutputBuffer.clear();
        }
    }

    void CheckExit()
    {
        if (mPid <= 0)
            return;
        int status = 0;
        pid_t r = waitpid(mPid, &status, WNOHANG);
        if (r == 0)
            return;
        if (r < 0 && errno == EINTR)
            return;
        // Lines written before the exit are all in the socket now.
        if (mEvents)
            ReadEvents();
        if (mOutput)
            ReadOutput();
        const int exitStatus = r == mPid ? PppdExitStatus(status, mHangUpAsked) : kPppdExitFatal;
        qCDebug(lcPPP, "pppd ended: %d, %s", exitStatus, ExitStatusText(exitStatus).c_str());
        const bool asked = mHangUpAsked;
        ForgetChild();
        for (const Event& e : mTranslator.OnExit(exitStatus, asked))
            Post(e);
    }

    void ForgetChild()
    {
        mPid = -1;
        mHangUpAsked = false;
        mEventsNotifier.reset();
        mExitNotifier.reset();
        mExitPoll.reset();
        if (mKillTimer)
            mKillTimer->stop();
        mEvents.Reset();
        mPidFd.Reset();
        mLineBuffer.clear();
        mOutputNotifier.reset();
        mOutput.Reset();
        mOutputBuffer.clear();
    }

    // Closing the endpoint ends its pppd: SIGTERM, a bounded wait, then SIGKILL; always reaped.
    void StopChildNow()
    {
        if (mPid <= 0)
            return;
        ::kill(mPid, SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int waited = 0; waited < HangUpBoundMs(); waited += 20) {
            pid_t r = waitpid(mPid, &status, WNOHANG);
            if (r == mPid || (r < 0 && errno != EINTR)) {
                reaped = true;
                break;
            }
            SleepMs(20);
        }
        if (!reaped) {
            ::kill(mPid, SIGKILL);
            while (waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        ForgetChild();
    }

    std::unique_ptr<QObject> mContext;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    Notifier mNotifier = nullptr;
    void* mNotifierContext = nullptr;
    bool mProgress = false;
    std::string mAccessPoint, mUserName, mPassword;

    pid_t mPid = -1;
    bool mHangUpAsked = false;
    Fd mEvents, mPidFd, mOutput;
    std::unique_ptr<QSocketNotifier> mEventsNotifier, mExitNotifier, mOutputNotifier;
    std::string mOutputBuffer;
    std::unique_ptr<QTimer> mExitPoll, mKillTimer;
    std::string mLineBuffer;
    PppdTranslator mTranslator;

    std::deque<Event> mQueue;
    bool mDrainScheduled = false;
    bool mDelivering = false;
};

class PppdTransportImpl final : public Transport {
public:
    OSStatus Init() override
    {
        // Events travel through the Qt event loop of the main thread.
        if (!QCoreApplication::instance())
            return kStatusOutState;
        mOpen = true;
        return kStatusOK;
    }
    void Close() override
    {
        mEndpoints.clear();
        mOpen = false;
    }
    Endpoint* OpenEndpoint(OSStatus* error) override
    {
        if (!mOpen) {
            if (error)
                *error = kStatusOutState;
            return nullptr;
        }
        mEndpoints.push_back(std::make_unique<PppdEndpoint>());
        if (error)
            *error = kStatusOK;
        return mEndpoints.back().get();
    }
    bool GetIndexedPort(PortRecord& record, uint32_t index) override
    {
        // A walk starts at index 0: read the ports once per walk, so the indexes of one walk
        // all refer to the same reading.
        if (index == 0 || mPorts.empty()) {
            mPorts.clear();
            if (KPorts::ListPorts(mPorts) != kStatusOK)
                mPorts.clear();
        }
        if (index >= mPorts.size())
            return false;
        const KPorts::PortRecord& port = mPorts[index];
        record = PortRecord();
        record.ref = index + 1;
        record.infoFlags = port.infoFlags;
        CopyText(record.name, sizeof record.name, port.portName);
        CopyText(record.moduleName, sizeof record.moduleName, port.moduleName);
        return true;
    }
    uint16_t GetDeviceType(uint32_t portRef) override
    {
        if (portRef == 0 || portRef > mPorts.size())
            return 0;
        return mPorts[portRef - 1].deviceType;
    }

private:
    static void CopyText(char* dest, size_t size, const std::string& text)
    {
        const size_t n = std::min(size - 1, text.size());
        std::memcpy(dest, text.data(), n);
        dest[n] = 0;
    }

    std::vector<KPorts::PortRecord> mPorts;
    bool mOpen = false;
    std::vector<std::unique_ptr<PppdEndpoint>> mEndpoints;
};

Transport* gTransport = nullptr;

} // namespace

Transport& PppdTransport()
{
    // Never destroyed: the link outlives the application's end as the endpoint is not closed
    // then, and nothing of Qt may run after the application object is gone.
    static PppdTransportImpl* transport = new PppdTransportImpl;
    return *transport;
}

Transport& CurrentTransport()
{
    return gTransport ? *gTransport : PppdTransport();
}

void SetTransport(Transport* transport)
{
    gTransport = transport;
}

} // namespace KPPP
