#include "platform/auth/KAuthorization.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void Wipe(std::string& s)
{
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

// A started sudo. We keep a read end of its standard input ourselves: writing to a child that
// has already gone then never raises SIGPIPE in the application, and once the child has ended
// the pipe still tells how much of what we wrote was left unread.
struct Child {
    pid_t pid = -1;
    int in = -1;     // we write here
    int inPeek = -1; // our own read end of the same pipe, never read from
    int out = -1;
    int err = -1;
};

void CloseFd(int& fd)
{
    if (fd >= 0) close(fd);
    fd = -1;
}

// 0 with `child` running, or the status of the errno that kept the program from starting.
OSStatus Spawn(const std::vector<std::string>& argv, Child& child)
{
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {in, out, err, report}) {
            CloseFd(p[0]);
            CloseFd(p[1]);
        }
    };
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
        pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
        const int e = errno;
        closeAll();
        return StatusFromErrno(e);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        const int e = errno;
        closeAll();
        return StatusFromErrno(e);
    }
    if (pid == 0) {
        // The child only: async-signal-safe calls up to the exec.
        if (dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 || dup2(err[1], STDERR_FILENO) < 0) _exit(127);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &dfl, nullptr);
        execvp(args[0], args.data());
        const int e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    CloseFd(out[1]);
    CloseFd(err[1]);
    CloseFd(report[1]);
    // The report pipe closes at the exec (close-on-exec) or carries the exec's errno.
    int e = 0;
    ssize_t n;
    while ((n = read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
    }
    CloseFd(report[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        int st;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        closeAll();
        std::fprintf(stderr, "Kavanti: cannot start \"%s\": %s. Install sudo, or set KAVANTI_SUDO to a program "
                             "with sudo's command line.\n", argv[0].c_str(), std::strerror(e));
        return StatusFromErrno(e);
    }
    child = {pid, in[1], in[0], out[0], err[0]};
    return kStatusOK;
}

// Writes all of `bytes`; false when the reader has gone (EPIPE) or another error happened.
bool SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool SendLine(int fd, std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    const bool ok = SendAll(fd, line);
    Wipe(line);
    return ok;
}

void PassOn(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

int WaitFor(pid_t pid)
{
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return 255;
    }
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    // A tool ended by a signal did not do its work: never report that as success.
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return 255;
}

// Is `line` (one line of sudo's standard error, without its newline) one of sudo's own warnings
// ("sudo: unable to resolve host ...") rather than its answer to a wrong password?
bool IsSudoWarning(std::string_view line, std::string_view program)
{
    const size_t slash = program.rfind('/');
    const std::string_view base = slash == std::string_view::npos ? program : program.substr(slash + 1);
    return line.size() > base.size() + 1 && line.substr(0, base.size()) == base && line[base.size()] == ':';
}

// Feeds sudo and the program, passes their output on and waits. With `afterReady`, the secret
// goes out only after the line "ready" came on standard output; should sudo complain before
// that (it is then waiting for another attempt), standard input is closed so that it gives up.
// `unread`, when given, receives how many bytes of standard input the child left unread.
int Converse(Child& c, const std::string& sudo, const std::string_view* password, const std::string* afterReady,
             size_t* unread = nullptr)
{
    if (password) SendLine(c.in, *password);
    bool waitingForReady = afterReady != nullptr;
    if (!waitingForReady) CloseFd(c.in);

    std::string outLine, errLine;
    pollfd fds[2] = {{c.out, POLLIN, 0}, {c.err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                CloseFd(k == 0 ? c.out : c.err);
                fds[k].fd = -1;
                --open;
                if (k == 0 && waitingForReady) {
                    // The program is gone without asking: nothing more for anyone to read.
                    waitingForReady = false;
                    CloseFd(c.in);
                }
                continue;
            }
            if (k == 1) {
                PassOn(STDERR_FILENO, buf, static_cast<size_t>(n));
                if (!waitingForReady) continue;
                errLine.append(buf, static_cast<size_t>(n));
                for (size_t nl; waitingForReady && (nl = errLine.find('\n')) != std::string::npos;) {
                    const std::string line = errLine.substr(0, nl);
                    errLine.erase(0, nl + 1);
                    if (!IsSudoWarning(line, sudo)) {
                        waitingForReady = false;
                        CloseFd(c.in);
                    }
                }
                continue;
            }
            if (!waitingForReady) {
                PassOn(STDOUT_FILENO, buf, static_cast<size_t>(n));
                continue;
            }
            outLine.append(buf, static_cast<size_t>(n));
            for (size_t nl; waitingForReady && (nl = outLine.find('\n')) != std::string::npos;) {
                const std::string line = outLine.substr(0, nl);
                outLine.erase(0, nl + 1);
                if (line == "ready") {
                    waitingForReady = false;
                    SendLine(c.in, *afterReady);
                    CloseFd(c.in);
                } else {
                    PassOn(STDOUT_FILENO, line.data(), line.size());
                    PassOn(STDOUT_FILENO, "\n", 1);
                }
            }
            if (!waitingForReady && !outLine.empty()) {
                PassOn(STDOUT_FILENO, outLine.data(), outLine.size());
                outLine.clear();
            }
        }
    }
    if (!outLine.empty()) PassOn(STDOUT_FILENO, outLine.data(), outLine.size());
    if (!errLine.empty() && waitingForReady) PassOn(STDERR_FILENO, errLine.data(), errLine.size());
    CloseFd(c.in);
    CloseFd(c.out);
    CloseFd(c.err);
    const int status = WaitFor(c.pid);
    int left = 0;
    if (unread) *unread = ioctl(c.inPeek, FIONREAD, &left) == 0 && left > 0 ? static_cast<size_t>(left) : 0;
    // Drop what was left so no copy of a password outlives the call in the pipe.
    CloseFd(c.inPeek);
    return status;
}

} // namespace

namespace KPrivilege {

std::string SudoProgram()
{
    const char* s = std::getenv("KAVANTI_SUDO");
    return s && *s ? s : "sudo";
}

std::string LoginName()
{
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_name ? pw->pw_name : "";
}

bool IsUsablePassword(std::string_view password)
{
    return password.find_first_of("\r\n") == std::string_view::npos && password.find('\0') == std::string_view::npos;
}

OSStatus CheckPassword(std::string_view password, bool* passwordRead)
{
    if (!IsUsablePassword(password)) return kAuthorizationDenied;
    const std::string sudo = SudoProgram();
    Child c;
    if (OSStatus s = Spawn({sudo, "-S", "-k", "-p", "", "-v"}, c)) return s;
    size_t unread = 0;
    const int status = Converse(c, sudo, &password, nullptr, &unread);
    if (passwordRead) *passwordRead = unread == 0;
    return status == 0 ? kStatusOK : kAuthorizationDenied;
}

OSStatus RunWithPassword(const std::string& program, const std::vector<std::string>& args,
                         const std::string_view* password, const std::string* afterReady, int& exitStatus)
{
    const std::string sudo = SudoProgram();
    std::vector<std::string> argv = {sudo, "-S", "-k", "-p", "", "--", program};
    argv.insert(argv.end(), args.begin(), args.end());
    Child c;
    if (OSStatus s = Spawn(argv, c)) return s;
    exitStatus = Converse(c, sudo, password, afterReady);
    return kStatusOK;
}

} // namespace KPrivilege

OSStatus KAuthorization::CopyRights(std::string_view userName, std::string_view password)
{
    Free();
    const std::string login = KPrivilege::LoginName();
    if (login.empty() || userName != login) return kAuthorizationDenied;
    if (!KPrivilege::IsUsablePassword(password)) return kAuthorizationDenied;
    bool passwordRead = true;
    const OSStatus s = KPrivilege::CheckPassword(password, &passwordRead);
    if (s != kStatusOK) return s;
    mPassword.assign(password);
    mSudoReadsPassword = passwordRead;
    mGranted = true;
    return kStatusOK;
}

OSStatus KAuthorization::ExecuteWithPrivileges(const std::string& program, const std::vector<std::string>& args,
                                               const std::string* afterReady, int& exitStatus)
{
    if (!mGranted) return kAuthorizationDenied;
    // A sudo that grants without asking (root, NOPASSWD) would leave the password line for the
    // program, which would take it for the line it asks for after "ready".
    const std::string_view password = mPassword;
    return KPrivilege::RunWithPassword(program, args, mSudoReadsPassword ? &password : nullptr, afterReady,
                                       exitStatus);
}

void KAuthorization::Free()
{
    Wipe(mPassword);
    mGranted = false;
    mSudoReadsPassword = true;
}
