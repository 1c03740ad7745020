// kavanti-servicesim as a client sees it: the reply layout, the table of numbers, and each
// kind of misbehaviour it offers.
#include "support/ServiceSim.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

struct Reply {
    std::string text;            // everything received
    bool closed = false;         // the server closed the connection
    long bodySpanMs = 0;         // from the first byte of the body to its last
};

// One raw HTTP/1.1 GET; waits at most `ms` for the server to finish.
Reply Get(int port, const std::string& target, int ms = 3000)
{
    Reply r;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return r;
    }
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    (void)!send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::chrono::steady_clock::time_point bodyStart{};
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            r.closed = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        r.text.append(buf, size_t(n));
        const size_t head = r.text.find("\r\n\r\n");
        if (head != std::string::npos && r.text.size() > head + 4) {
            if (bodyStart == std::chrono::steady_clock::time_point{}) bodyStart = now;
            r.bodySpanMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - bodyStart).count();
        }
    }
    close(fd);
    return r;
}

std::string Body(const Reply& r)
{
    const size_t at = r.text.find("\r\n\r\n");
    return at == std::string::npos ? "" : r.text.substr(at + 4);
}

} // namespace

TEST(ServiceSim, AnswersTheTableInTheServiceLayout)
{
    TempDir dir;
    WriteFileText(dir / "table", "# number minutes\n07011110000 125\n07022220000=0   # none left\n\n");
    ServiceSim sim({"--table", dir / "table", "--number", "07033330000=6000", "--reply", "07044440000=--/--/--\\r\\n"});
    ASSERT_GT(sim.Port(), 0);
    struct Case {
        const char* target;
        const char* status;
        const char* body;
    };
    const Case cases[] = {
        {"/remaining/07011110000", "HTTP/1.1 200 OK", "--/--/--125\r\n"},
        {"/remaining/07022220000", "HTTP/1.1 200 OK", "--/--/--0\r\n"},
        {"/remaining/07033330000", "HTTP/1.1 200 OK", "--/--/--6000\r\n"},
        {"/remaining/07044440000", "HTTP/1.1 200 OK", "--/--/--\r\n"},
        {"/remaining/07099990000", "HTTP/1.1 404 Not Found", "no such number\n"},
        {"/elsewhere/07011110000", "HTTP/1.1 404 Not Found", "no such number\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const Reply r = Get(sim.Port(), c.target);
        EXPECT_EQ(r.text.rfind(c.status, 0), 0u) << r.text;
        EXPECT_EQ(Body(r), c.body);
        EXPECT_TRUE(r.closed);
    }
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(ServiceSim, PlanOfMisbehaviours)
{
    TempDir dir;
    ServiceSim sim({"--number", "070=125", "--path", "/r/", "--log", dir / "log", "--plan",
                    "close,status=503,redirect,split=3:150,delay=300,hang", "--then", "ok"});
    Reply r = Get(sim.Port(), "/r/070");
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.text, "") << "closed without a reply";

    r = Get(sim.Port(), "/r/070");
    EXPECT_EQ(r.text.rfind("HTTP/1.1 503", 0), 0u) << r.text;

    r = Get(sim.Port(), "/r/070");
    EXPECT_EQ(r.text.rfind("HTTP/1.1 302", 0), 0u) << r.text;
    EXPECT_NE(r.text.find("Location: /moved/r/070\r\n"), std::string::npos) << r.text;
    // Following it takes no plan entry.
    r = Get(sim.Port(), "/moved/r/070");
    EXPECT_EQ(Body(r), "--/--/--125\r\n");

    r = Get(sim.Port(), "/r/070");
    EXPECT_EQ(Body(r), "--/--/--125\r\n");
    EXPECT_GE(r.bodySpanMs, 250) << "three pieces, 150 ms apart";

    const auto start = std::chrono::steady_clock::now();
    r = Get(sim.Port(), "/r/070");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(Body(r), "--/--/--125\r\n");

    r = Get(sim.Port(), "/r/070", 700);
    EXPECT_FALSE(r.closed) << "a hang keeps the connection open without a reply";
    EXPECT_EQ(r.text, "");

    r = Get(sim.Port(), "/r/070");
    EXPECT_EQ(Body(r), "--/--/--125\r\n") << "after the plan: --then";
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFileText(dir / "log").substr(0, 23), "GET /r/070 HTTP/1.1\nGET");
}

TEST(ServiceSim, HelpAndUsageErrors)
{
    const std::string prog = StageBin("kavanti-servicesim");
    RunResult help = RunProgram({prog, "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--port", "--path", "--number", "--reply", "--table", "--plan", "--then", "--log", "hang",
                             "close", "status=CODE", "redirect", "split=N:MS", "delay=MS", "--/--/--"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;

    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--plan", "explode"}, "unknown behaviour"},
        {{"--number", "070"}, "PHS=MINUTES"},
        {{"--port", "70000"}, "bad port"},
        {{"--table", "/nonexistent/table"}, "cannot read"},
        {{"--bogus", "1"}, "unknown option"},
        {{"--port"}, "needs a value"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {prog};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunProgram(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}
