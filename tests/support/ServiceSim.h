// Runs kavanti-servicesim for a test: its port comes from its first output line.
#pragma once

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ServiceSim {
public:
    explicit ServiceSim(std::vector<std::string> options)
    {
        int out[2];
        if (pipe(out) != 0) return;
        mPid = fork();
        if (mPid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            const char* stage = std::getenv("KAVANTI_STAGE");
            std::vector<std::string> args = {std::string(stage ? stage : "build/stage") + "/bin/kavanti-servicesim"};
            args.insert(args.end(), options.begin(), options.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        mOut = out[0];
        std::string line;
        char c;
        pollfd p{mOut, POLLIN, 0};
        while (poll(&p, 1, 5000) > 0 && read(mOut, &c, 1) == 1 && c != '\n') line += c;
        mPort = std::atoi(line.c_str());
    }
    ~ServiceSim() { Stop(); }
    ServiceSim(const ServiceSim&) = delete;
    ServiceSim& operator=(const ServiceSim&) = delete;

    int Port() const { return mPort; }
    std::string Base(const std::string& path = "/remaining/") const
    {
        return "http://127.0.0.1:" + std::to_string(mPort) + path;
    }

    // SIGTERM and wait; the exit status, or -1.
    int Stop()
    {
        if (mPid <= 0) return mStatus;
        kill(mPid, SIGTERM);
        int st = 0;
        waitpid(mPid, &st, 0);
        mPid = -1;
        if (mOut >= 0) close(mOut);
        mOut = -1;
        mStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return mStatus;
    }

private:
    pid_t mPid = -1;
    int mOut = -1;
    int mPort = 0;
    int mStatus = -1;
};
