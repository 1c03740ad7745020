// Runs kavanti-cardsim for a test and talks to it over its pseudo-terminal.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

inline std::string StageBin(const std::string& name)
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "build/stage") + "/bin/" + name;
}

// Runs a program, collects its exit status, standard output and standard error.
struct RunResult {
    int status = -1;
    std::string out, err;
};

inline RunResult RunProgram(const std::vector<std::string>& args, int timeoutMs = 20000)
{
    RunResult r;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < end) {
        if (poll(p, 2, 100) <= 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (p[k].fd < 0 || !(p[k].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(p[k].fd, buf, sizeof buf);
            if (n <= 0) {
                close(p[k].fd);
                p[k].fd = -1;
                --open;
            } else {
                (k == 0 ? r.out : r.err).append(buf, size_t(n));
            }
        }
    }
    for (auto& x : p)
        if (x.fd >= 0) close(x.fd);
    if (open > 0) kill(pid, SIGKILL);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// A simulator running in the background that says on its first output line where it can be
// reached (a pseudo-terminal's path, a port number).
class BackgroundSim {
public:
    BackgroundSim(const std::string& program, std::vector<std::string> options)
    {
        int out[2];
        if (pipe(out) != 0) return;
        mPid = fork();
        if (mPid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> args = {StageBin(program)};
            args.insert(args.end(), options.begin(), options.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        mOut = out[0];
        char c;
        pollfd p{mOut, POLLIN, 0};
        while (poll(&p, 1, 5000) > 0 && read(mOut, &c, 1) == 1 && c != '\n') mFirstLine += c;
    }
    ~BackgroundSim() { Stop(); }
    BackgroundSim(const BackgroundSim&) = delete;
    BackgroundSim& operator=(const BackgroundSim&) = delete;

    // SIGTERM and wait; the exit status, or -1.
    int Stop()
    {
        if (mPid <= 0) return mStatus;
        kill(mPid, SIGTERM);
        return Wait();
    }
    int Wait()
    {
        if (mPid <= 0) return mStatus;
        int st = 0;
        waitpid(mPid, &st, 0);
        mPid = -1;
        if (mOut >= 0) close(mOut);
        mOut = -1;
        mStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return mStatus;
    }

protected:
    const std::string& FirstLine() const { return mFirstLine; }

private:
    pid_t mPid = -1;
    int mOut = -1;
    int mStatus = -1;
    std::string mFirstLine;
};

// kavanti-cardsim running in the background; the slave path comes from its first output line.
class SimProcess : public BackgroundSim {
public:
    explicit SimProcess(std::vector<std::string> options)
        : BackgroundSim(IgnoringHangUps("kavanti-cardsim"), std::move(options))
    {
    }

    const std::string& Slave() const { return FirstLine(); }

private:
    // The test outlives the card's pseudo-terminal hang-ups; set before the simulator starts.
    static std::string IgnoringHangUps(std::string program)
    {
        std::signal(SIGHUP, SIG_IGN);
        return program;
    }
};

// A plain raw client on the slave, as chat or a terminal program would be.
class RawLine {
public:
    explicit RawLine(const std::string& path)
    {
        mFd = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (mFd >= 0 && tcgetattr(mFd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(mFd, TCSANOW, &t);
        }
    }
    ~RawLine() { Close(); }
    void Close()
    {
        if (mFd >= 0) close(mFd);
        mFd = -1;
    }
    bool IsOpen() const { return mFd >= 0; }

    void Write(const std::string& s) { (void)!write(mFd, s.data(), s.size()); }

    // Reads until `until` has appeared (then returns everything read) or `ms` passed.
    std::string ReadUntil(const std::string& until, int ms = 3000)
    {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{mFd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buf[512];
            const ssize_t n = read(mFd, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, size_t(n));
        }
        return got;
    }
    std::string Ask(const std::string& command, const std::string& until, int ms = 3000)
    {
        Write(command + "\r");
        return ReadUntil(until, ms);
    }

private:
    int mFd = -1;
};
