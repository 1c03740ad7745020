// kavanti-sudosim as the programs that use it see it: the two command lines, one line of
// standard input per attempt and not a byte more, sudo's answers.
#include "support/SudoSandbox.h"
#include "support/ToolProcess.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kCheck = {"-S", "-k", "-p", "", "-v"};

std::vector<std::string> RunArgs(std::vector<std::string> program)
{
    std::vector<std::string> a = {"-S", "-k", "-p", "", "--"};
    a.insert(a.end(), program.begin(), program.end());
    return a;
}

class SudoSim : public ::testing::Test {
protected:
    SudoSandbox sandbox;
    const std::string sim = StageBin("kavanti-sudosim");
};

TEST_F(SudoSim, Check)
{
    struct Case {
        const char* input;
        int status;
        const char* err; // expected in standard error ("" for nothing)
    } cases[] = {
        {"admin-pw\n", 0, ""},
        {"admin-pw", 0, ""},                    // the end of input ends the line
        {"admin-pw\rrest", 0, ""},              // so does "\r"
        {"wrong\nadmin-pw\n", 0, "Sorry, try again.\n"},
        {"wrong\n", 1, "kavanti-sudosim: 1 incorrect password attempt\n"},
        {"a\nb\nc\nadmin-pw\n", 1, "kavanti-sudosim: 3 incorrect password attempts\n"},
        {"", 1, "no password was provided"},
        {"admin-pw \n", 1, "incorrect password attempt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const ProcessResult r = RunProcess(sim, kCheck, c.input);
        EXPECT_EQ(r.exitStatus, c.status);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (c.status == 0 && !*c.err) {
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST_F(SudoSim, RunLeavesTheRestOfTheInputToTheProgram)
{
    const ProcessResult r = RunProcess(sim, RunArgs({"/bin/cat"}), "admin-pw\nfor the program\n");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "for the program\n");

    // The program's own exit status, arguments and process.
    const std::string script = sandbox.Script("bin/args", "printf '%s|' \"$@\"\nexit 9\n");
    const ProcessResult s = RunProcess(sim, RunArgs({script, "-n", "", "a b"}), "admin-pw\n");
    EXPECT_EQ(s.exitStatus, 9);
    EXPECT_EQ(s.out, "-n||a b|");
}

TEST_F(SudoSim, RefusedRunStartsNothing)
{
    const std::string marker = sandbox.Root() + "/ran";
    const std::string script = sandbox.Script("bin/touch", "touch '" + marker + "'\n");
    const ProcessResult r = RunProcess(sim, RunArgs({script}), "wrong\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(marker));

    const ProcessResult missing = RunProcess(sim, RunArgs({sandbox.Root() + "/nothing-here"}), "admin-pw\n");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("command not found"), std::string::npos) << missing.err;
}

TEST_F(SudoSim, RefusesWhatSudoWouldNotBeGiven)
{
    struct Case {
        std::vector<std::string> args;
    } cases[] = {
        {{"-v"}},
        {{"-S", "-k", "-p", "x", "-v"}},
        {{"-S", "-k", "-p", "", "-v", "extra"}},
        {{"-S", "-k", "-p", "", "--"}},
        {{"-S", "-p", "", "-k", "-v"}},
        {{"-S", "-k", "-p", "", "/bin/cat"}},
    };
    for (const auto& c : cases) {
        const ProcessResult r = RunProcess(sim, c.args, "admin-pw\n");
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
    }
}

TEST_F(SudoSim, NeedsASandboxWithAnAdministrator)
{
    std::filesystem::remove(sandbox.Root() + "/etc/kavanti-sudosim/password");
    ProcessResult r = RunProcess(sim, kCheck, "admin-pw\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("etc/kavanti-sudosim/password"), std::string::npos) << r.err;

    sandbox.SetAdminPassword("admin-pw");
    const std::string root = std::getenv("KAVANTI_ROOT");
    unsetenv("KAVANTI_ROOT");
    r = RunProcess(sim, RunArgs({"/bin/cat"}), "admin-pw\nx\n");
    setenv("KAVANTI_ROOT", root.c_str(), 1);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("KAVANTI_ROOT"), std::string::npos) << r.err;

    const ProcessResult help = RunProcess(sim, {"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("$KAVANTI_ROOT/etc/kavanti-sudosim/password"), std::string::npos);
}

} // namespace
