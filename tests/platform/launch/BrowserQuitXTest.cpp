// Asking a program to quit through its X11 window, on a real X server (Xvfb) without a window
// manager: WM_DELETE_WINDOW reaches its mapped window, and it quits on its own.
#include "platform/launch/KBrowserQuit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads one line from `fd` (blocking).
std::string Line(int fd)
{
    std::string s;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') s += c;
    return s;
}

pid_t Start(const std::vector<std::string>& argv, int* outFd)
{
    int p[2];
    if (pipe(p) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(p[1], 1);
        close(p[0]);
        std::vector<char*> a;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        execvp(a[0], a.data());
        _exit(127);
    }
    close(p[1]);
    *outFd = p[0];
    return pid;
}

void Stop(pid_t pid)
{
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(BrowserQuitXTest, WindowIsClosedLikeAPersonsQuit)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed (scripts/bootstrap)";
    int xfd = -1;
    // -displayfd: the server picks a free display and writes its number once it accepts clients.
    const pid_t xvfb = Start({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"}, &xfd);
    const std::string display = ":" + Line(xfd);
    ASSERT_NE(display, ":");
    setenv("DISPLAY", display.c_str(), 1);

    const std::string stub = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "launch_x_window_stub").string();
    int sfd = -1;
    const pid_t client = Start({stub}, &sfd);
    ASSERT_EQ(Line(sfd), "mapped");

    EXPECT_EQ(KBrowserQuit::CloseWindowsOf({client}), 1) << "only the mapped window";
    int status = 0;
    ASSERT_EQ(waitpid(client, &status, 0), client);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "quit on its own, not killed";

    // No windows of a process: nothing to ask through X, and no SIGTERM unless it quits cleanly.
    const pid_t sleeper = fork();
    if (sleeper == 0) {
        execl("/bin/sleep", "sleep", "600", nullptr);
        _exit(127);
    }
    EXPECT_EQ(KBrowserQuit::AskToQuit({sleeper}, false), kStatusEventNotHandled);
    EXPECT_EQ(KBrowserQuit::AskToQuit({sleeper}, true), kStatusOK);
    ASSERT_EQ(waitpid(sleeper, &status, 0), sleeper);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    unsetenv("DISPLAY");
    close(xfd);
    close(sfd);
    Stop(xvfb);
}

} // namespace
