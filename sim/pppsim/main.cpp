// kavanti-pppsim: takes pppd's place where the kernel has no PPP. It takes pppd's command line,
// reads the same peer file, opens the card's device, runs the peer file's connect script (the
// real chat) against the card, then plays the link's stages (LCP, authentication against the
// simulated card's account, IPCP) and reports them with the same event lines as
// kavanti-events.so. It ends on SIGTERM (exit 5) or when the card hangs up (exit 16).
#include "platform/paths/KPaths.h"
#include "platform/ppp/KPPPPeerFile.h"
#include "platform/ppp/pppd-plugin/KavantiEventLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// pppd's phases and exit statuses.
enum { PH_DEAD = 0, PH_INITIALIZE = 1, PH_SERIALCONN = 2, PH_ESTABLISH = 4, PH_AUTHENTICATE = 5, PH_NETWORK = 7,
       PH_RUNNING = 8, PH_TERMINATE = 9, PH_DISCONNECT = 10 };
enum { EX_OK = 0, EX_FATAL = 1, EX_OPTION = 2, EX_USER_REQUEST = 5, EX_OPEN_FAILED = 7, EX_CONNECT_FAILED = 8,
       EX_NEGOTIATION_FAILED = 10, EX_HANGUP = 16, EX_AUTH_TOPEER_FAILED = 19 };

const char* kHelp = R"(Usage: kavanti-pppsim call NAME [pppd options...]
       kavanti-pppsim --help

Takes pppd's place for Kavanti where the kernel has no PPP (start it through KAVANTI_PPPD).
It reads the peer file /etc/ppp/peers/NAME (below KAVANTI_ROOT when set), opens the device
named there, runs the connect script with /bin/sh (chat against the card), then plays LCP,
authentication and IPCP and writes kavanti-events.so's lines ("phase N", "auth-up", "ip-up",
"link-down", "exit N") to the descriptor of "kavanti-events-fd N". It stays until SIGTERM
(exit 5) or until the card hangs up (exit 16).

Command-line options (the ones pppd lets a member of group dip give; privileged ones such as
plugin, connect, noauth or a device exit 2 as pppd does for an ordinary user, even for root):
  call NAME              read the peer file NAME
  nodetach, updetach, debug, persist, maxfail N, logfd N, remotename NAME, ipparam S
  user NAME              account name (overrides the peer file)
  set VAR=VALUE          environment of the connect script
  passwordfd N           read the password from descriptor N (passwordfd plugin)
  kavanti-events-fd N    where the event lines go (kavanti-events plugin)

Peer file options understood: the device path, a speed, crtscts, lock, modem, connect SCRIPT,
noauth, defaultroute, usepeerdns, user NAME, plugin FILE; others are accepted and ignored.

Authentication is checked by the card: once connected, pppsim sends the line
"AUTH <user> <password>" CR and expects "AUTH OK" (kavanti-cardsim answers it from its
account settings); "AUTH FAILED" or no answer within 3 seconds fails as pppd does (exit 19).
The password comes from the passwordfd descriptor (empty without one).

Failure injection comes from the environment variable KAVANTI_PPPSIM, a blank-separated list of:
  delay=MS               pause before each stage (default 20)
  lcp-fail               LCP negotiation fails (exit 10)
  ipcp-fail              IPCP fails after authentication (exit 10)
  drop-after=MS          the link drops by itself MS after it is up (exit 16)
  ignore-term            SIGTERM is ignored (tests of the hang-up bound)
  exit=N                 exit with N at once, after reading the options
)";

volatile sig_atomic_t gTerm = 0;
int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    gTerm = 1;
    const char c = 't';
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

int gEventsFd = -1;

void Event(const char* name, int hasValue = 0, int value = 0)
{
    if (gEventsFd < 0)
        return;
    char line[KV_EVENT_LINE_MAX];
    const int len = kv_event_format(line, sizeof line, name, hasValue, value);
    if (len <= 0)
        return;
    ssize_t n;
    do {
        n = send(gEventsFd, line, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(gEventsFd, line, static_cast<size_t>(len));
    } while (n < 0 && errno == EINTR);
}

void Phase(int p)
{
    Event(KV_EVENT_PHASE, 1, p);
}

[[noreturn]] void Exit(int status)
{
    Phase(PH_DISCONNECT);
    Phase(PH_DEAD);
    Event(KV_EVENT_EXIT, 1, status);
    std::fflush(stderr);
    _exit(status);
}

void Log(const std::string& text)
{
    std::fprintf(stderr, "kavanti-pppsim: %s\n", text.c_str());
}

struct Options {
    std::string device;
    std::string connect;
    std::string user;
    bool haveUser = false;
    std::map<std::string, std::string> env;
    int passwordFd = -1;
};

bool ParseInt(const std::string& s, int& out)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < 0 || v > 1 << 20)
        return false;
    out = static_cast<int>(v);
    return true;
}

// Options with an argument, and the ones without, that pppsim knows.
const std::set<std::string> kArgOptions = {"call", "user", "set", "passwordfd", "kavanti-events-fd", "maxfail", "logfd",
                                           "remotename", "ipparam", "connect", "plugin", "speed", "mtu", "mru", "holdoff",
                                           "lcp-echo-interval", "lcp-echo-failure", "idle", "logfile", "name", "password"};
// What pppd refuses from an unprivileged source (the command line of a non-root user).
const std::set<std::string> kPrivileged = {"connect", "plugin", "noauth", "name", "init", "disconnect", "pty"};
// Options without an argument that the command line may give. Anything else there is a
// mistake, as it is for pppd; a peer file may hold more, which are ignored.
const std::set<std::string> kFlagOptions = {"nodetach", "updetach", "debug", "persist", "defaultroute", "usepeerdns",
                                            "crtscts", "nocrtscts", "lock", "nolock", "modem", "local", "noipdefault",
                                            "nodefaultroute", "noccp", "novj", "passive", "silent", "dump", "dryrun"};
const char kUsageLine[] = "Usage: kavanti-pppsim call NAME [pppd options...] (see kavanti-pppsim --help)\n";
const char kUnknownOption[] = "unrecognized option '";

bool ApplyOption(Options& o, const std::string& name, const std::string* arg, bool privileged, std::string& error)
{
    if (!privileged && kPrivileged.count(name)) {
        error = "using the " + name + " option requires root privilege";
        return false;
    }
    if (name[0] == '/') {
        o.device = name;
    } else if (name == "connect") {
        o.connect = *arg;
    } else if (name == "user") {
        o.user = *arg;
        o.haveUser = true;
    } else if (name == "set") {
        const size_t eq = arg->find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "set: no = in " + *arg;
            return false;
        }
        o.env[arg->substr(0, eq)] = arg->substr(eq + 1);
    } else if (name == "passwordfd") {
        if (!ParseInt(*arg, o.passwordFd)) {
            error = "passwordfd: bad number " + *arg;
            return false;
        }
    } else if (name == "kavanti-events-fd") {
        if (!ParseInt(*arg, gEventsFd)) {
            error = "kavanti-events-fd: bad number " + *arg;
            return false;
        }
    }
    return true;
}

bool ParseWords(Options& o, const std::vector<std::string>& words, bool privileged, std::string& error);

// The command line's options are all known ones (checked before any peer file is read).
bool CheckCommandLine(const std::vector<std::string>& words, std::string& error)
{
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.empty() || w[0] == '/' || kFlagOptions.count(w) || kPrivileged.count(w)) continue;
        if (kArgOptions.count(w)) {
            ++i; // its argument, whatever it is; a missing one is reported by the parser
            continue;
        }
        error = kUnknownOption + w + "'";
        return false;
    }
    return true;
}

bool ReadPeerFile(Options& o, const std::string& name, std::string& error)
{
    if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) {
        error = "call: bad peer name " + name;
        return false;
    }
    const std::string path = KPaths::System("/etc/ppp/peers/" + name);
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) {
        error = "In file " + path + ": unable to open: " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    std::vector<std::string> words;
    if (!KPPP::ReadOptionWords(text, words)) {
        error = "In file " + path + ": unterminated quoted string";
        return false;
    }
    return ParseWords(o, words, true, error);
}

bool ParseWords(Options& o, const std::vector<std::string>& words, bool privileged, std::string& error)
{
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.empty())
            continue;
        const std::string* arg = nullptr;
        if (kArgOptions.count(w)) {
            if (i + 1 >= words.size()) {
                error = "option " + w + " requires an argument";
                return false;
            }
            arg = &words[++i];
        }
        if (w == "call") {
            if (!ReadPeerFile(o, *arg, error))
                return false;
            continue;
        }
        if (!ApplyOption(o, w, arg, privileged, error))
            return false;
    }
    return true;
}

struct Sim {
    int delayMs = 20;
    bool lcpFail = false, ipcpFail = false, ignoreTerm = false;
    int dropAfterMs = -1;
    int exitAt = -1;
};

bool ReadSim(Sim& sim, std::string& error)
{
    const char* spec = std::getenv("KAVANTI_PPPSIM");
    if (!spec)
        return true;
    std::istringstream in(spec);
    for (std::string item; in >> item;) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        int number = 0;
        if (key == "delay" && ParseInt(value, number)) {
            sim.delayMs = number;
        } else if (key == "drop-after" && ParseInt(value, number)) {
            sim.dropAfterMs = number;
        } else if (key == "exit" && ParseInt(value, number)) {
            sim.exitAt = number;
        } else if (key == "lcp-fail") {
            sim.lcpFail = true;
        } else if (key == "ipcp-fail") {
            sim.ipcpFail = true;
        } else if (key == "ignore-term") {
            sim.ignoreTerm = true;
        } else {
            error = "KAVANTI_PPPSIM: unknown item " + item;
            return false;
        }
    }
    return true;
}

// Waits up to ms for SIGTERM; true when it came.
bool WaitTerm(int ms)
{
    pollfd p{gSignalPipe[0], POLLIN, 0};
    while (!gTerm) {
        int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        break;
    }
    return gTerm;
}

void Stage(const Sim& sim)
{
    if (WaitTerm(sim.delayMs))
        Exit(EX_USER_REQUEST);
}

std::string ReadPassword(int fd)
{
    std::string pw;
    char buf[256];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pw.append(buf, static_cast<size_t>(n));
        if (pw.size() > 1024)
            break;
    }
    ::close(fd);
    return pw;
}

// Asks the card to check the account: 1 accepted, 0 refused or no answer, -1 SIGTERM came.
int Authenticate(int device, const std::string& user, const std::string& password)
{
    std::string request = "AUTH " + user + " " + password + "\r";
    const char* p = request.data();
    size_t left = request.size();
    while (left > 0) {
        ssize_t n = ::write(device, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        left -= static_cast<size_t>(n);
    }
    std::fill(request.begin(), request.end(), '\0');
    std::string reply;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (gTerm)
            return -1;
        if (reply.find("AUTH OK") != std::string::npos)
            return 1;
        if (reply.find("AUTH FAILED") != std::string::npos)
            return 0;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= 3000)
            return 0;
        pollfd fds[2] = {{device, POLLIN, 0}, {gSignalPipe[0], POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(3000 - elapsed)) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            char buf[128];
            ssize_t n = ::read(device, buf, sizeof buf);
            if (n > 0)
                reply.append(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                return 0;
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            return 0;
        }
    }
}

// Runs the connect script with the device as its standard input and output; its exit status,
// or -1 when SIGTERM came first (the script is then stopped).
int RunConnectScript(const std::string& script, int device, const Options& o)
{
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        dup2(device, 0);
        dup2(device, 1);
        // pppd gives scripts a clean environment with the `set` variables.
        clearenv();
        setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
        for (const auto& [k, v] : o.env)
            setenv(k.c_str(), v.c_str(), 1);
        signal(SIGTERM, SIG_DFL);
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        if (gTerm) {
            kill(pid, SIGTERM);
            waitpid(pid, &status, 0);
            return -1;
        }
        WaitTerm(10);
    }
}

} // namespace

int Main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away is an EPIPE to handle, not our death
    std::vector<std::string> words(argv + 1, argv + argc);
    for (const std::string& w : words)
        if (w == "--help" || w == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return EX_FATAL;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Options o;
    Sim sim;
    std::string error;
    // The command line is treated as an unprivileged source even for root: Kavanti starts pppd
    // as an ordinary member of group dip, and a privileged option there would fail for real.
    if (!CheckCommandLine(words, error) || !ParseWords(o, words, false, error) ||
        !ReadSim(sim, error)) {
        Log(error);
        if (error.rfind(kUnknownOption, 0) == 0) std::fputs(kUsageLine, stderr);
        return EX_OPTION;
    }
    if (gEventsFd >= 0)
        fcntl(gEventsFd, F_SETFD, FD_CLOEXEC);
    if (o.passwordFd >= 0)
        fcntl(o.passwordFd, F_SETFD, FD_CLOEXEC);
    if (sim.exitAt >= 0)
        return sim.exitAt;
    if (sim.ignoreTerm)
        signal(SIGTERM, SIG_IGN);
    if (o.device.empty()) {
        Log("no device given in the peer file");
        return EX_OPTION;
    }

    Phase(PH_INITIALIZE);
    const int device = ::open(o.device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (device < 0) {
        Log("Failed to open " + o.device + ": " + std::strerror(errno));
        Exit(EX_OPEN_FAILED);
    }
    termios tio{};
    if (tcgetattr(device, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tio.c_cflag |= CRTSCTS | CLOCAL | CREAD;
        tcsetattr(device, TCSANOW, &tio);
    }

    Phase(PH_SERIALCONN);
    if (!o.connect.empty()) {
        const int rc = RunConnectScript(o.connect, device, o);
        if (rc < 0)
            Exit(EX_USER_REQUEST);
        if (rc != 0) {
            Log("Connect script failed");
            Exit(EX_CONNECT_FAILED);
        }
    }

    // LCP
    Phase(PH_ESTABLISH);
    Stage(sim);
    if (sim.lcpFail) {
        Log("LCP: timeout sending Config-Requests");
        Exit(EX_NEGOTIATION_FAILED);
    }

    // Authentication to the card: PAP with the account of the dial.
    Phase(PH_AUTHENTICATE);
    Stage(sim);
    std::string password = o.passwordFd >= 0 ? ReadPassword(o.passwordFd) : std::string();
    const int verdict = Authenticate(device, o.user, password);
    std::fill(password.begin(), password.end(), '\0');
    if (verdict < 0)
        Exit(EX_USER_REQUEST);
    if (verdict == 0) {
        Log("PAP authentication failed");
        Phase(PH_TERMINATE);
        Exit(EX_AUTH_TOPEER_FAILED);
    }

    // IPCP
    Phase(PH_NETWORK);
    Stage(sim);
    if (sim.ipcpFail) {
        Log("IPCP: no reply to Config-Requests");
        Phase(PH_TERMINATE);
        Event(KV_EVENT_LINK_DOWN);
        Exit(EX_NEGOTIATION_FAILED);
    }
    Phase(PH_RUNNING);
    Event(KV_EVENT_IP_UP);

    // Running: until SIGTERM, the card hangs up (its side closed, or "NO CARRIER"), or a drop.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::string seen;
    for (;;) {
        if (gTerm) {
            Phase(PH_TERMINATE);
            Event(KV_EVENT_LINK_DOWN);
            ::close(device); // the card's side sees the line closed and hangs up
            Exit(EX_USER_REQUEST);
        }
        int timeout = 200;
        if (sim.dropAfterMs >= 0) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
            if (elapsed >= sim.dropAfterMs)
                break;
            timeout = static_cast<int>(std::min<long>(timeout, sim.dropAfterMs - elapsed));
        }
        pollfd p[2] = {{device, POLLIN, 0}, {gSignalPipe[0], POLLIN, 0}};
        int r = poll(p, 2, timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (p[1].revents)
            continue;
        if (p[0].revents & (POLLHUP | POLLERR))
            break;
        if (p[0].revents & POLLIN) {
            char buf[256];
            ssize_t n = ::read(device, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN)))
                break;
            if (n > 0) {
                seen.append(buf, static_cast<size_t>(n));
                if (seen.find("NO CARRIER") != std::string::npos)
                    break;
                if (seen.size() > 64)
                    seen.erase(0, seen.size() - 64);
            }
        }
    }
    Log("Modem hangup");
    Event(KV_EVENT_LINK_DOWN);
    Phase(PH_ESTABLISH);
    ::close(device);
    Exit(EX_HANGUP);
}

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    // A failure of any kind ends the simulator with pppd's fatal status, never on an exception.
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavanti-pppsim: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kavanti-pppsim: internal error\n");
    }
    return EX_FATAL;
}
