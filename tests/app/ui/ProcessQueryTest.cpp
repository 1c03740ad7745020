#include "app/ui/UProcessQuery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// A child that runs /bin/sleep under the program name `argv0`, waiting until exec is done.
class NamedChild {
public:
    explicit NamedChild(const std::string& argv0)
    {
        int gate[2];
        if (pipe2(gate, O_CLOEXEC) != 0) std::abort();
        mPid = fork();
        if (mPid == 0) {
            close(gate[0]);
            execl("/bin/sleep", argv0.c_str(), "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(gate[1]);
        char c;
        while (read(gate[0], &c, 1) > 0) {} // closes on exec
        close(gate[0]);
    }
    ~NamedChild() { Stop(); }
    void Stop()
    {
        if (mPid <= 0) return;
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
    }

private:
    pid_t mPid = -1;
};

TEST(ProcessQuery, FindsAProgramByItsCommandLineOrItsExecutableNeverByComm)
{
    const std::string name = "kavanti-probe-" + std::to_string(getpid());
    EXPECT_FALSE(UProcessQuery::IsRunning({name}));
    {
        NamedChild child(name);
        EXPECT_TRUE(UProcessQuery::IsRunning({name}));
        EXPECT_TRUE(UProcessQuery::IsRunning({"/nowhere/" + name + "-x", name}));
        // The executable is /bin/sleep whatever argv[0] says: found by its resolved path too.
        char real[PATH_MAX];
        ASSERT_NE(realpath("/bin/sleep", real), nullptr);
        EXPECT_TRUE(UProcessQuery::IsRunning({real}));
        // comm holds the first 15 characters of the file name: a name sharing them is not a match.
        EXPECT_FALSE(UProcessQuery::IsRunning({name.substr(0, 15)}));
        child.Stop();
        EXPECT_FALSE(UProcessQuery::IsRunning({name}));
    }
    EXPECT_FALSE(UProcessQuery::IsRunning({name}, "/nonexistent-proc"));
}

} // namespace
