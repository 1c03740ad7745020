// A card on the master side of a real pseudo-terminal, run by a thread: it collects each
// command up to its CR and writes back what the test's handler answers, piece by piece.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

struct FakeReply {
    std::vector<std::string> pieces; // written one after the other; none: silence
    int gapMs = 0;                   // pause between pieces
    bool hangUp = false;             // close the master instead of answering: the card is gone
    std::function<void(size_t)> beforePiece = {}; // called before piece i is written
};

// The usual layout with echo on: echo, CR LF, text, CR LF, CR LF "OK" CR LF.
inline std::string EchoedReply(const std::string& command, const std::string& text)
{
    return command + "\r" + "\r\n" + text + "\r\n" + "\r\nOK\r\n";
}

class FakeCard {
public:
    using Handler = std::function<FakeReply(const std::string& command)>;

    explicit FakeCard(Handler handler) : mHandler(std::move(handler))
    {
        // Closing the master hangs the slave up; a test process that owns it as its
        // controlling terminal must not die of that.
        std::signal(SIGHUP, SIG_IGN);
        mMaster = posix_openpt(O_RDWR | O_NOCTTY);
        if (mMaster < 0 || grantpt(mMaster) != 0 || unlockpt(mMaster) != 0) std::abort();
        mSlavePath = ptsname(mMaster);
        mThread = std::thread([this] { Run(); });
    }

    ~FakeCard()
    {
        mStop = true;
        mThread.join();
        if (mMaster >= 0) close(mMaster);
    }

    const std::string& SlavePath() const { return mSlavePath; }
    const char* Path() const { return mSlavePath.c_str(); }

    std::vector<std::string> Commands()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mCommands;
    }
    size_t CountOf(const std::string& command)
    {
        size_t n = 0;
        for (const auto& c : Commands()) n += (c == command);
        return n;
    }

private:
    void Run()
    {
        std::string line;
        while (!mStop && mMaster >= 0) {
            pollfd p{mMaster, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            if (p.revents & POLLHUP) { // no slave open at the moment
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            char buf[256];
            const ssize_t n = read(mMaster, buf, sizeof buf);
            if (n <= 0) continue;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\r') {
                    line += buf[i];
                    continue;
                }
                {
                    std::lock_guard<std::mutex> lock(mMutex);
                    mCommands.push_back(line);
                }
                const FakeReply reply = mHandler(line);
                line.clear();
                if (reply.hangUp) {
                    close(mMaster);
                    mMaster = -1;
                    return;
                }
                for (size_t k = 0; k < reply.pieces.size(); ++k) {
                    if (k > 0 && reply.gapMs) std::this_thread::sleep_for(std::chrono::milliseconds(reply.gapMs));
                    if (reply.beforePiece) reply.beforePiece(k);
                    const std::string& s = reply.pieces[k];
                    if (write(mMaster, s.data(), s.size()) < 0) break;
                }
            }
        }
    }

    Handler mHandler;
    int mMaster = -1;
    std::string mSlavePath;
    std::thread mThread;
    std::atomic<bool> mStop{false};
    std::mutex mMutex;
    std::vector<std::string> mCommands;
};
