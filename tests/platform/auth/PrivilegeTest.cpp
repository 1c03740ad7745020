// The privilege runner through kavanti-sudosim (and small sudo stand-ins where a real sudo
// behaves differently): the check, the run with the "ready" handshake, and what the caller gets back.
#include "platform/auth/KAuthorization.h"
#include "support/SudoSandbox.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

class Privilege : public ::testing::Test {
protected:
    SudoSandbox sandbox;
    // Asks for its password line with "ready", keeps what it got in $1, says "after" and exits 7.
    std::string Tool()
    {
        return sandbox.Script("bin/tool", "echo ready\nIFS= read -r pw\nprintf '%s' \"$pw\" > \"$1\"\necho after\nexit 7\n");
    }
    std::string Got() { return sandbox.Root() + "/got"; }
    // A sudo that lets this user run anything without asking (root, NOPASSWD): reads nothing.
    void UseSudoThatDoesNotAsk()
    {
        setenv("KAVANTI_SUDO",
               sandbox.Script("bin/nopasswd-sudo", "while [ \"$1\" != -- ] && [ \"$1\" != -v ]; do shift; done\n"
                                                   "[ \"$1\" = -v ] && exit 0\nshift\nexec \"$@\"\n")
                   .c_str(),
               1);
    }
};

TEST_F(Privilege, CheckAnswersForThePassword)
{
    struct Case {
        const char* password;
        OSStatus expected;
    } cases[] = {
        {"admin-pw", kStatusOK},
        {"wrong", kAuthorizationDenied},
        {"", kAuthorizationDenied},
        {"admin-pw\nadmin-pw", kAuthorizationDenied}, // sudo would read two lines: never sent
        {"admin-pw\r", kAuthorizationDenied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        testing::internal::CaptureStderr();
        EXPECT_EQ(KPrivilege::CheckPassword(c.password), c.expected);
        testing::internal::GetCapturedStderr();
    }
}

TEST_F(Privilege, MissingSudoIsNamed)
{
    setenv("KAVANTI_SUDO", (sandbox.Root() + "/no/such/sudo").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(KPrivilege::CheckPassword("admin-pw"), kStatusFileNotFound);
    int exitStatus = -1;
    const std::string_view pw = "admin-pw";
    EXPECT_EQ(KPrivilege::RunWithPassword(Tool(), {Got()}, &pw, nullptr, exitStatus), kStatusFileNotFound);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("KAVANTI_SUDO"), std::string::npos) << err;
    EXPECT_NE(err.find("Install sudo"), std::string::npos) << err;
}

TEST_F(Privilege, PasswordLineFollowsReady)
{
    const std::string_view pw = "admin-pw";
    const std::string ppp = "ppp secret";
    int exitStatus = -1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(KPrivilege::RunWithPassword(Tool(), {Got()}, &pw, &ppp, exitStatus), kStatusOK);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitStatus, 7);
    EXPECT_EQ(Slurp(Got()), "ppp secret");
    // The tool's other output is passed on; the handshake line is not.
    EXPECT_EQ(out, "after\n");
}

TEST_F(Privilege, RefusedRunNeverSeesTheSecondPassword)
{
    // sudo takes every further line as another attempt: the PPP password must never be one.
    const std::string_view pw = "wrong";
    const std::string ppp = "ppp secret";
    int exitStatus = -1;
    testing::internal::CaptureStderr();
    ASSERT_EQ(KPrivilege::RunWithPassword(Tool(), {Got()}, &pw, &ppp, exitStatus), kStatusOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(Slurp(Got()), "<missing>"); // the tool did not run
    EXPECT_NE(err.find(": 1 incorrect password attempt\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("ppp secret"), std::string::npos) << err;
}

TEST_F(Privilege, ChildrenThatEndEarly)
{
    // The application must survive a child that is gone before it is written to.
    struct sigaction dfl {}, old {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    const std::string_view pw = "admin-pw";
    const std::string ppp = "ppp secret";
    struct Case {
        const char* name;
        std::string sudo;    // "" for kavanti-sudosim
        std::string program;
        int exitStatus;
    } cases[] = {
        {"sudo gone at once", sandbox.Script("bin/gone-sudo", "exec 0<&-\nexit 5\n"), Tool(), 5},
        {"tool ends without asking", "", sandbox.Script("bin/quits", "exit 3\n"), 3},
        {"tool killed", "", sandbox.Script("bin/killed", "echo ready\nkill -9 $$\n"), 128 + SIGKILL},
    };
    const std::string sim = std::getenv("KAVANTI_SUDO");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("KAVANTI_SUDO", c.sudo.empty() ? sim.c_str() : c.sudo.c_str(), 1);
        int exitStatus = -1;
        ASSERT_EQ(KPrivilege::RunWithPassword(c.program, {Got()}, &pw, &ppp, exitStatus), kStatusOK);
        EXPECT_EQ(exitStatus, c.exitStatus);
    }
    sigaction(SIGPIPE, &old, nullptr);
}

TEST_F(Privilege, WaitsForItsOwnChildOnly)
{
    // A child of the application that ended before the run (pppd, a browser) stays for its owner.
    const pid_t other = fork();
    if (other == 0) _exit(42);
    siginfo_t info {};
    ASSERT_EQ(waitid(P_PID, other, &info, WEXITED | WNOWAIT), 0); // ended, not reaped
    const std::string_view pw = "admin-pw";
    int exitStatus = -1;
    ASSERT_EQ(KPrivilege::RunWithPassword(sandbox.Script("bin/quick", "exit 0\n"), {}, &pw, nullptr, exitStatus),
              kStatusOK);
    EXPECT_EQ(exitStatus, 0);
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, WNOHANG), other);
    EXPECT_EQ(WEXITSTATUS(status), 42);
}

TEST_F(Privilege, SessionKeepsGrantedCredentialsOnly)
{
    KAuthorization auth;
    int exitStatus = -1;
    const std::string ppp = "ppp secret";
    EXPECT_EQ(auth.ExecuteWithPrivileges(Tool(), {Got()}, &ppp, exitStatus), kAuthorizationDenied);

    testing::internal::CaptureStderr();
    EXPECT_EQ(auth.CopyRights(KPrivilege::LoginName(), "wrong"), kAuthorizationDenied);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(auth.IsGranted());

    ASSERT_EQ(auth.CopyRights(KPrivilege::LoginName(), "admin-pw"), kStatusOK);
    ASSERT_EQ(auth.ExecuteWithPrivileges(Tool(), {Got()}, &ppp, exitStatus), kStatusOK);
    EXPECT_EQ(exitStatus, 7);
    EXPECT_EQ(Slurp(Got()), "ppp secret");

    auth.Free();
    EXPECT_EQ(auth.ExecuteWithPrivileges(Tool(), {Got()}, &ppp, exitStatus), kAuthorizationDenied);
}

TEST_F(Privilege, OnlyTheLoginUsersNameIsAccepted)
{
    // sudo asks for the login user's own password: another name is refused before sudo is asked,
    // even by a sudo that would let anything through.
    UseSudoThatDoesNotAsk();
    KAuthorization auth;
    EXPECT_EQ(auth.CopyRights("someone-else", "admin-pw"), kAuthorizationDenied);
    EXPECT_EQ(auth.CopyRights("", "admin-pw"), kAuthorizationDenied);
    EXPECT_EQ(auth.CopyRights(KPrivilege::LoginName(), "admin-pw"), kStatusOK);
}

TEST_F(Privilege, SudoThatDoesNotAskLeavesNoPasswordForTheTool)
{
    // Had the administrator's password gone out anyway, the tool would read it as its own line.
    UseSudoThatDoesNotAsk();
    bool read = true;
    ASSERT_EQ(KPrivilege::CheckPassword("admin-pw", &read), kStatusOK);
    EXPECT_FALSE(read);

    KAuthorization auth;
    ASSERT_EQ(auth.CopyRights(KPrivilege::LoginName(), "admin-pw"), kStatusOK);
    const std::string ppp = "ppp secret";
    int exitStatus = -1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(auth.ExecuteWithPrivileges(Tool(), {Got()}, &ppp, exitStatus), kStatusOK);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Slurp(Got()), "ppp secret");
}

} // namespace
