// Runs a built program as a process: arguments, text on standard input, its exit status as a
// shell sees it and what it wrote on standard error.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct ProcessResult {
    int exitStatus = -1; // 0..255, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string StagePath(const std::string& rel)
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "build/stage") + "/" + rel;
}

inline std::string ToolPath() { return StagePath("libexec/kavanti/KavantiTool"); }

// Starts the program; the caller waits with FinishProcess.
struct RunningProcess {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
};

inline RunningProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                                   const std::string& input)
{
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Small inputs fit the pipe; the program reads them when it wants.
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) (void)!write(in[1], input.data(), input.size());
    close(in[1]);
    return {pid, out[0], err[0]};
}

inline ProcessResult FinishProcess(RunningProcess p)
{
    ProcessResult r;
    if (p.pid < 0) return r;
    auto drain = [](int fd, std::string& into) {
        char buf[4096];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            into.append(buf, static_cast<size_t>(n));
        }
        close(fd);
    };
    drain(p.outFd, r.out);
    drain(p.errFd, r.err);
    int status = 0;
    while (waitpid(p.pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = "")
{
    return FinishProcess(StartProcess(program, args, input));
}
