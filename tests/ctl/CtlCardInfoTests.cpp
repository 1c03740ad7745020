#include "support/SimProcess.h"

#include <gtest/gtest.h>
#include <climits>
#include <nlohmann/json.hpp>

namespace {

RunResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), StageBin("kavanti-ctl"));
    return RunProgram(args);
}

} // namespace

TEST(CtlCardInfo, MeasuresTheSimulatedCard)
{
    SimProcess sim({"--model", "AH-K3001V", "--number", "07011112222", "--levels", "0123450123455",
                    "--channel", "4"});
    const RunResult r = Ctl({"card-info", "--port", sim.Slave(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["modemName"], "AH-K3001V");
    EXPECT_EQ(j["phsNo"], "07011112222");
    EXPECT_EQ(j["firmwareVersion"], "1.00");
    EXPECT_EQ(j["channel"], 4);
    EXPECT_EQ(j["intensity"], nlohmann::json::parse("[0,1,2,3,4,5,0,1,2,3,4,5,5]"));
    EXPECT_EQ(r.out.find("modemName"), r.out.find('"') + 1) << "keys in the documented order";

    const RunResult text = Ctl({"card-info", "--port", sim.Slave()});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("AH-K3001V"), std::string::npos);
    EXPECT_NE(text.out.find("0 1 2 3 4 5 0 1 2 3 4 5 5"), std::string::npos) << text.out;
}

TEST(CtlCardInfo, FailuresAreExplained)
{
    struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"card-info", "--port", ""}, 1, "no card found"},
        {{"card-info", "--port", "/nonexistent/ttyKV0"}, 1, "no such device"},
        {{"card-info", "--port", "/dev/null"}, 1, "not a serial port"},
        {{"card-info", "--port", std::string(PATH_MAX, 'p')}, 1, "longer than"},
        {{"card-info", "--bogus"}, 2, "usage"},
    };
    for (const auto& c : cases) {
        const RunResult r = Ctl(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }

    // A card that refuses everything: the measurement completes, but says nothing.
    SimProcess sim({"--error-command", "AT*"});
    const RunResult r = Ctl({"card-info", "--port", sim.Slave()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;

    const RunResult help = Ctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("card-info"), std::string::npos);
}
