// The shipped modem scripts, run by the real chat(8) against the simulated card.
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* kChat = "/usr/sbin/chat";

std::string ScriptsFolder()
{
    const char* res = std::getenv("KAVANTI_RESOURCES");
    return std::string(res ? res : "") + "/modem-scripts";
}

// chat on the card's line, as pppd's connect script runs it.
pid_t StartChat(const std::string& line, const std::string& script, const std::string& number)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(line.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) _exit(126);
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
        dup2(fd, 0);
        dup2(fd, 1);
        close(fd);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, 2);
        execl(kChat, kChat, "-s", "-T", number.c_str(), "-f", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

int WaitChat(pid_t pid)
{
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int RunChat(const std::string& line, const std::string& script, const std::string& number)
{
    return WaitChat(StartChat(line, script, number));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ChatScripts, EveryCardScriptIsShipped)
{
    for (const char* name : {"SUNTAC Slipper", "Kirodenki KTR21-J", "Kirodenki KTR21C-J", "Kirodenki KTR22-J",
                             "Kirodenki KTR22C-J", "TKS KSR23C-J"})
        EXPECT_TRUE(fs::is_regular_file(ScriptsFolder() + "/" + name)) << name;
}

TEST(ChatScripts, DialTheNumberAndStopOnEveryFailure)
{
    ASSERT_TRUE(fs::exists(kChat)) << "chat(8) is part of the ppp package";
    // chat exits 0 on success and 4 + n for the n-th ABORT string of the script.
    struct Result {
        const char* dial;
        int exit;
    } const results[] = {{"connect", 0}, {"no-carrier", 4}, {"busy", 5}, {"error", 6}, {"no-dialtone", 7}};

    std::vector<std::string> scripts;
    for (const auto& e : fs::directory_iterator(ScriptsFolder())) scripts.push_back(e.path().string());
    ASSERT_EQ(scripts.size(), 6u);

    // All scripts at once, one card each: chat takes its time between lines.
    const std::string logBase = (fs::temp_directory_path() / ("kavanti-chat-" + std::to_string(getpid()))).string();
    for (const auto& r : results) {
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<pid_t> chats;
        for (size_t i = 0; i < scripts.size(); ++i) {
            const std::string log = logBase + "-" + std::to_string(i) + ".log";
            fs::remove(log);
            sims.push_back(std::make_unique<SimProcess>(
                std::vector<std::string>{"--dial-result", r.dial, "--connect-delay", "10", "--echo", "--log", log}));
            ASSERT_FALSE(sims.back()->Slave().empty());
            chats.push_back(StartChat(sims.back()->Slave(), scripts[i], "0570570711##64"));
        }
        for (size_t i = 0; i < scripts.size(); ++i) {
            SCOPED_TRACE(scripts[i] + ": " + r.dial);
            EXPECT_EQ(WaitChat(chats[i]), r.exit);
            sims[i]->Stop();
            const std::string log = logBase + "-" + std::to_string(i) + ".log";
            const std::string commands = ReadFile(log);
            fs::remove(log);
            // The card was reset before it dialled the number chat was handed.
            const auto reset = commands.find("ATZ");
            const auto dial = commands.find("ATD0570570711##64");
            EXPECT_NE(reset, std::string::npos) << commands;
            EXPECT_NE(dial, std::string::npos) << commands;
            EXPECT_LT(reset, dial);
        }
    }
}

TEST(ChatScripts, AModeTheCardRefusesEndsInNoCarrier)
{
    SimProcess sim({"--modes", "61", "--connect-delay", "10"});
    ASSERT_FALSE(sim.Slave().empty());
    EXPECT_EQ(RunChat(sim.Slave(), ScriptsFolder() + "/SUNTAC Slipper", "0570570711##64"), 4);
    EXPECT_EQ(RunChat(sim.Slave(), ScriptsFolder() + "/SUNTAC Slipper", "0570570711##61"), 0);
}

} // namespace
