// The /proc query: a program is found by what the process runs (its exe, or the first word of
// its command line, or the script its interpreter runs), never by the 15-character comm name.
#include "platform/launch/KProcesses.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void WriteScript(const std::string& path, const std::string& text)
{
    WriteFileText(path, text);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// A child in its own process group that runs `argv` (argv[0] is the file executed unless
// `arg0` is given); the group is killed and the child reaped when the object goes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& arg0 = {})
    {
        mPid = fork();
        if (mPid == 0) {
            setpgid(0, 0); // a script's own children go with it
            std::vector<char*> a;
            for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
            a.push_back(nullptr);
            if (!arg0.empty()) a[0] = const_cast<char*>(arg0.c_str());
            execv(argv[0].c_str(), a.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (mPid > 0) {
            kill(-mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }
    pid_t pid() const { return mPid; }

private:
    pid_t mPid = -1;
};

// Waits until `pid` has exec'd something other than the test binary (a fork still shows our exe).
bool WaitExec(pid_t pid, const std::string& notExe)
{
    for (int i = 0; i < 500; ++i) {
        std::error_code ec;
        const auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
        if (!ec && exe.string() != notExe) return true;
        usleep(10000);
    }
    return false;
}

class ProcessesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        self = fs::read_symlink("/proc/self/exe").string();
        fs::create_directories(dir / "bin");
        fs::create_directories(dir / "lib");
        fs::create_directories(dir / "other");
        // A real ELF program under our own names (the same binary as sleep).
        fs::copy_file("/bin/sleep", dir / "lib/realprog");
        fs::copy_file("/bin/sleep", dir / "other/realprog");
        fs::create_symlink(dir / "lib/realprog", dir / "bin/link");
        WriteScript(dir / "bin/wrapper",
                    "#!/bin/sh\n# a browser-style wrapper\nPROG=" + (dir / "lib/realprog") + "\nexport X=1\nexec \"$PROG\" \"$@\"\n");
        WriteScript(dir / "bin/stub", "#!/bin/bash\nexec -a \"$0\" sleep 600\n");
        WriteScript(dir / "bin/script", "#!/bin/sh\nsleep 600\n");
    }
    TempDir dir;
    std::string self;
};

TEST_F(ProcessesTest, ExecutablesOfResolvesLinksAndWrapperScripts)
{
    const std::string real = fs::canonical(dir / "lib/realprog").string();
    EXPECT_EQ(KProcesses::ExecutablesOf(dir / "bin/link"), std::vector<std::string>{real});
    const auto wrapped = KProcesses::ExecutablesOf(dir / "bin/wrapper");
    ASSERT_EQ(wrapped.size(), 2u);
    EXPECT_EQ(wrapped[0], fs::canonical(dir / "bin/wrapper").string());
    EXPECT_EQ(wrapped[1], real);
    EXPECT_TRUE(KProcesses::ExecutablesOf(dir / "bin/missing").empty());
    EXPECT_TRUE(KProcesses::ExecutablesOf("no-such-program-kavanti").empty());
    // A name is looked up in PATH.
    ScopedEnv path("PATH", dir / "bin");
    EXPECT_EQ(KProcesses::ExecutablesOf("link"), std::vector<std::string>{real});
}

TEST_F(ProcessesTest, FindsTheProgramByWhatTheProcessRuns)
{
    struct Case {
        const char* what;
        std::vector<std::string> argv;
        std::string arg0;
        std::string lookFor; // program given to ExecutablesOf
        bool found;
    };
    const std::vector<Case> cases = {
        {"exe is the file", {dir / "lib/realprog", "600"}, {}, dir / "lib/realprog", true},
        {"started through a link", {dir / "bin/link", "600"}, {}, dir / "bin/link", true},
        {"wrapper exec'd the real one", {dir / "lib/realprog", "600"}, {}, dir / "bin/wrapper", true},
        {"first word of the command line", {dir / "bin/stub"}, {}, dir / "bin/stub", true},
        {"script run by its interpreter", {dir / "bin/script"}, {}, dir / "bin/script", true},
        // Same comm ("realprog") but another file: not ours.
        {"same short name, other file", {dir / "other/realprog", "600"}, {}, dir / "lib/realprog", false},
        {"argv[0] by bare name only", {"/bin/sleep", "600"}, "realprog", dir / "lib/realprog", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Child child(c.argv, c.arg0);
        ASSERT_TRUE(WaitExec(child.pid(), self));
        const auto exes = KProcesses::ExecutablesOf(c.lookFor);
        ASSERT_FALSE(exes.empty());
        // The stub and script run a shell first; give them a moment to reach their final exec.
        bool hit = false;
        for (int i = 0; i < 100 && !hit; ++i) {
            const auto pids = KProcesses::Find(exes);
            hit = std::find(pids.begin(), pids.end(), child.pid()) != pids.end();
            if (!hit && c.found) usleep(20000);
            if (!c.found) break;
        }
        EXPECT_EQ(hit, c.found);
        pid_t first = 0;
        EXPECT_EQ(KProcesses::FindFirst(exes, &first), c.found ? kStatusOK : kStatusNoSuchProcess);
    }
}

TEST_F(ProcessesTest, ZombiesAndOtherUsersDoNotCount)
{
    const auto exes = KProcesses::ExecutablesOf(dir / "lib/realprog");
    const pid_t pid = fork();
    if (pid == 0) {
        execl((dir / "lib/realprog").c_str(), "realprog", "0.05", nullptr);
        _exit(127);
    }
    ASSERT_TRUE(WaitExec(pid, self));
    EXPECT_EQ(KProcesses::FindFirst(exes, nullptr, getuid() + 4242), kStatusNoSuchProcess);
    // Ended but not reaped: a zombie is no longer running.
    siginfo_t info {};
    ASSERT_EQ(waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(KProcesses::FindFirst(exes), kStatusNoSuchProcess);
    waitpid(pid, nullptr, 0);
}

} // namespace
