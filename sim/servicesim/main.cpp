// kavanti-servicesim: the prepaid service's remaining-time page on 127.0.0.1, for tests and the
// demo. It answers "GET <path><PHS number>" from a table of numbers and minutes, in the
// service's reply layout, and can misbehave on purpose.
#include "platform/paths/KPaths.h"
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* kHelp = R"(Usage: kavanti-servicesim [OPTION]...
The prepaid service's remaining-time page, on 127.0.0.1, for tests and the demo.

It answers "GET <PATH><PHS number>" with the number's remaining minutes in the
service's layout: "--/--/--" followed by the minutes and CR LF, for example
"--/--/--125\r\n" for 125 minutes (2 hours 5 minutes). A number that is not in
the table gets "404 Not Found".

The first line on standard output is the port it listens on, then it serves
until SIGTERM or SIGINT.

Options:
  --port N             listen on port N (default 0: any free port)
  --path PATH          the page's path before the number (default "/remaining/")
  --number PHS=MIN     the number PHS has MIN minutes left (repeatable)
  --reply PHS=TEXT     answer PHS with TEXT exactly instead of the layout; the
                       escapes \r, \n, \t and \\ are understood (repeatable)
  --table FILE         read numbers from FILE: one "PHS MIN" or "PHS=MIN" a line,
                       "#" starts a comment
  --plan LIST          how to answer the requests, in the order they come: a
                       comma-separated list of the behaviours below; each request
                       takes the next one, and once the list is used up every
                       request is answered with the --then behaviour
  --then BEHAVIOUR     the behaviour after the plan (default "ok")
  --log FILE           append every request line ("GET /remaining/070... HTTP/1.1")
                       to FILE as it arrives
  --help               show this text and exit

Behaviours:
  ok                   the reply at once
  delay=MS             the reply after MS milliseconds
  hang                 no reply at all; the connection stays open until the client
                       closes it
  close                close the connection at once, without a reply
  status=CODE          an HTTP error CODE (e.g. 500 or 404) with a short body
  redirect             "302 Found" to /moved<the same path>; the request that follows
                       the redirect is answered "ok" without taking a plan entry
  split=N:MS           the reply's body in N pieces, MS milliseconds apart

Exit status: 0 after SIGTERM/SIGINT, 2 on a usage error, 1 when it cannot listen.
)";

struct Behaviour {
    enum Kind { Ok, Delay, Hang, Close, Status, Redirect, Split } kind = Ok;
    int a = 0; // delay ms, status code, pieces
    int b = 0; // pause ms
};

std::map<std::string, std::string> gBodies; // number -> body
std::string gPath = "/remaining/";
std::vector<Behaviour> gPlan;
Behaviour gThen;
size_t gNext = 0;
std::mutex gMutex;
std::string gLogPath;
std::atomic<bool> gStop{false};

bool ParseBehaviour(const std::string& s, Behaviour& out)
{
    auto number = [](const std::string& t, int& v) {
        if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos) return false;
        v = std::atoi(t.c_str());
        return true;
    };
    if (s == "ok") { out.kind = Behaviour::Ok; return true; }
    if (s == "hang") { out.kind = Behaviour::Hang; return true; }
    if (s == "close") { out.kind = Behaviour::Close; return true; }
    if (s == "redirect") { out.kind = Behaviour::Redirect; return true; }
    if (s.rfind("delay=", 0) == 0) { out.kind = Behaviour::Delay; return number(s.substr(6), out.a); }
    if (s.rfind("status=", 0) == 0) {
        out.kind = Behaviour::Status;
        return number(s.substr(7), out.a) && out.a >= 100 && out.a <= 599;
    }
    if (s.rfind("split=", 0) == 0) {
        const std::string rest = s.substr(6);
        const size_t colon = rest.find(':');
        out.kind = Behaviour::Split;
        return colon != std::string::npos && number(rest.substr(0, colon), out.a) && out.a >= 1 &&
               number(rest.substr(colon + 1), out.b);
    }
    return false;
}

std::string Unescape(const std::string& s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            r += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            r += s[i];
        }
    }
    return r;
}

bool AddNumber(const std::string& entry, bool raw)
{
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    const std::string number = entry.substr(0, eq), value = entry.substr(eq + 1);
    if (raw) {
        gBodies[number] = Unescape(value);
        return true;
    }
    if (value.empty() || value.find_first_not_of("-0123456789") != std::string::npos) return false;
    gBodies[number] = "--/--/--" + value + "\r\n";
    return true;
}

bool ReadTable(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string a, b;
        words >> a >> b;
        if (a.empty()) continue;
        if (!AddNumber(b.empty() ? a : a + "=" + b, false)) {
            error = path + ":" + std::to_string(n) + ": expected \"PHS MINUTES\"";
            return false;
        }
    }
    return true;
}

bool SendAll(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string Head(int code, const char* reason, size_t length, const std::string& extra = "")
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(length) + "\r\n" + extra + "Connection: close\r\n\r\n";
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits until the client closes its side (or the server stops).
void WaitForClose(int fd)
{
    char buf[256];
    while (!gStop.load()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
}

void Serve(int fd)
{
    std::string request;
    char buf[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            close(fd);
            return;
        }
        request.append(buf, size_t(n));
    }
    const std::string line = request.substr(0, request.find("\r\n"));
    if (!gLogPath.empty()) {
        std::lock_guard<std::mutex> lock(gMutex);
        std::ofstream(gLogPath, std::ios::app) << line << "\n";
    }
    std::string method, target;
    std::istringstream(line) >> method >> target;
    const bool moved = target.rfind("/moved", 0) == 0;
    if (moved) target.erase(0, 6);

    Behaviour how;
    if (!moved) {
        std::lock_guard<std::mutex> lock(gMutex);
        how = gNext < gPlan.size() ? gPlan[gNext++] : gThen;
    }

    std::string body;
    int code = 200;
    const char* reason = "OK";
    if (method != "GET") {
        code = 405, reason = "Method Not Allowed", body = "only GET\n";
    } else if (target.rfind(gPath, 0) != 0 || !gBodies.count(target.substr(gPath.size()))) {
        code = 404, reason = "Not Found", body = "no such number\n";
    } else {
        body = gBodies[target.substr(gPath.size())];
    }

    switch (how.kind) {
    case Behaviour::Hang:
        WaitForClose(fd);
        break;
    case Behaviour::Close:
        break;
    case Behaviour::Status:
        SendAll(fd, Head(how.a, "Error", 6) + "error\n");
        break;
    case Behaviour::Redirect:
        SendAll(fd, Head(302, "Found", 0, "Location: /moved" + target + "\r\n"));
        break;
    case Behaviour::Split: {
        if (!SendAll(fd, Head(code, reason, body.size()))) break;
        const size_t pieces = size_t(how.a);
        const size_t size = (body.size() + pieces - 1) / pieces;
        for (size_t i = 0; i < body.size(); i += size) {
            if (i > 0) Sleep(how.b);
            if (!SendAll(fd, body.substr(i, size))) break;
        }
        break;
    }
    case Behaviour::Delay:
        Sleep(how.a);
        [[fallthrough]];
    case Behaviour::Ok:
        SendAll(fd, Head(code, reason, body.size()) + body);
        break;
    }
    shutdown(fd, SHUT_WR);
    close(fd);
}

void OnSignal(int) { gStop.store(true); }

} // namespace

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    signal(SIGPIPE, SIG_IGN);
    int port = 0;
    auto usage = [](const std::string& message) {
        std::fprintf(stderr, "kavanti-servicesim: %s\nTry 'kavanti-servicesim --help'.\n", message.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (i + 1 >= argc) return usage("option " + opt + " needs a value");
        const std::string value = argv[++i];
        std::string error;
        if (opt == "--port") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || std::atoi(value.c_str()) > 65535)
                return usage("bad port: " + value);
            port = std::atoi(value.c_str());
        } else if (opt == "--path") {
            gPath = value;
        } else if (opt == "--number") {
            if (!AddNumber(value, false)) return usage("expected --number PHS=MINUTES, got " + value);
        } else if (opt == "--reply") {
            if (!AddNumber(value, true)) return usage("expected --reply PHS=TEXT, got " + value);
        } else if (opt == "--table") {
            if (!ReadTable(value, error)) return usage(error);
        } else if (opt == "--plan") {
            std::istringstream items(value);
            std::string item;
            while (std::getline(items, item, ',')) {
                Behaviour b;
                if (!ParseBehaviour(item, b)) return usage("unknown behaviour in --plan: " + item);
                gPlan.push_back(b);
            }
        } else if (opt == "--then") {
            if (!ParseBehaviour(value, gThen)) return usage("unknown behaviour: " + value);
        } else if (opt == "--log") {
            gLogPath = value;
        } else {
            return usage("unknown option " + opt);
        }
    }

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::fprintf(stderr, "kavanti-servicesim: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
        return 1;
    }
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::vector<std::thread> workers;
    while (!gStop.load()) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) workers.emplace_back(Serve, fd);
    }
    close(listener);
    for (auto& w : workers) w.join();
    return 0;
}
