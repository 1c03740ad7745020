// kavanti-ctl ports, modem-scripts, location and card-info's discovery, on sandboxes.
#include "support/SimProcess.h"
#include "support/FakeSysfs.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <nlohmann/json.hpp>

namespace {

RunResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), StageBin("kavanti-ctl"));
    return RunProgram(args);
}

std::string StageFile(const std::string& rel)
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "build/stage") + "/" + rel;
}

class CtlNetwork : public ::testing::Test {
protected:
    void SetUp() override
    {
        sys.Device("pci0000:00/0000:00:19.0", "pci");
        sys.Net("eth0", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
        sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
        sys.Tty("ttyS4", "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
    }
    void UsbSlipper()
    {
        auto usb = sys.Device("pci0000:00/0000:00:14.0/usb1/1-1", "usb");
        sys.Attribute(usb, "product", "Slipper");
        sys.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0", "usb");
        sys.Tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    }
    SandboxRoot root;
    FakeSysfs sys{root.Path()};
};

TEST_F(CtlNetwork, Ports)
{
    UsbSlipper();
    const RunResult r = Ctl({"ports", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["ports"].size(), 3u);
    EXPECT_EQ(j["ports"][0]["UserDefinedName"], "Slipper");
    EXPECT_EQ(j["ports"][0]["DeviceName"], "usbmodemSlipper");
    EXPECT_EQ(j["ports"][0]["SubType"], "PPPSerial");
    EXPECT_EQ(j["ports"][0]["SortOrder"], 1);
    EXPECT_EQ(j["ports"][1]["UserDefinedName"], "pccard-modem-port");
    EXPECT_EQ(j["ports"][2]["UserDefinedName"], "Built-in Ethernet");
    EXPECT_EQ(j["ports"][2]["MACAddress"], "00:1b:21:aa:bb:cc");
    EXPECT_FALSE(j["ports"][2].contains("SubType"));
    // Discovery walks the ports in name order: ttyACM0 comes before ttyS4.
    EXPECT_EQ(j["cardPort"]["path"], root.Path() + "/dev/ttyACM0");
    EXPECT_EQ(j["cardPort"]["deviceName"], "usbmodemSlipper");

    const RunResult text = Ctl({"ports"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Built-in Ethernet"), std::string::npos);
    EXPECT_NE(text.out.find("Card port: " + root.Path() + "/dev/ttyACM0"), std::string::npos) << text.out;
    EXPECT_EQ(Ctl({"ports", "--bogus"}).status, 2);
}

TEST_F(CtlNetwork, ModemScripts)
{
    SandboxRoot::WriteFile(root.Path() + "/home/.local/share/kavanti/modem-scripts/Apple Internal 56K Modem (v.90)", "x");
    SandboxRoot::WriteFile(root.Path() + "/etc/kavanti/modem-scripts/A modem", "x");
    const RunResult r = Ctl({"modem-scripts", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    const std::vector<std::string> want = {"A modem",           "Apple Internal 56K Modem (v.90)",
                                           "Kirodenki KTR21-J", "Kirodenki KTR21C-J",
                                           "Kirodenki KTR22-J", "Kirodenki KTR22C-J",
                                           "SUNTAC Slipper",    "TKS KSR23C-J"};
    EXPECT_EQ(j["scripts"].get<std::vector<std::string>>(), want);
    EXPECT_EQ(j["defaultIndex"], 1);
}

TEST_F(CtlNetwork, LocationAsTheApplicationReadsIt)
{
    RunResult r = Ctl({"location", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_TRUE(j["name"].is_null()); // a fresh machine has no location
    EXPECT_EQ(j["activeServiceCount"], 0);
    EXPECT_TRUE(j["setting"].is_null());

    const RunResult tool = RunProgram({StageFile("libexec/kavanti/KavantiTool"), "-n", "pccard-modem", "KVAUTODL",
                                       "0570570711##61", "user@example", "secret", "NULL", "32080",
                                       "/usr/share/kavanti/modem-scripts/SUNTAC Slipper"});
    ASSERT_EQ(tool.status, 0) << tool.err;

    r = Ctl({"location", "--json"}); // the device found by discovery
    ASSERT_EQ(r.status, 0) << r.err;
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["name"], "KVAUTODL");
    EXPECT_EQ(j["activeServiceCount"], 1);
    EXPECT_EQ(j["serviceIsActive"], true);
    EXPECT_EQ(j["setting"]["accessPoint"], "0570570711##61");
    EXPECT_EQ(j["setting"]["passwordSet"], true);
    EXPECT_FALSE(j["setting"].contains("password"));
    EXPECT_EQ(r.out.find("secret"), std::string::npos);
    EXPECT_EQ(j["setting"]["proxyServer"], "NULL");
    EXPECT_EQ(j["setting"]["cclFilePath"], "/usr/share/kavanti/modem-scripts/SUNTAC Slipper");

    r = Ctl({"location", "--device", "eth0", "--json"});
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["serviceIsActive"], false); // switched off by the tool
    EXPECT_EQ(j["setting"]["accessPoint"], "");
}

TEST_F(CtlNetwork, LocationShowsThePasswordOnlyWhenAsked)
{
    const RunResult tool = RunProgram({StageFile("libexec/kavanti/KavantiTool"), "-n", "pccard-modem", "KVAUTODL",
                                       "0570570711##61", "user@example", "secret", "NULL", "32080",
                                       "/usr/share/kavanti/modem-scripts/SUNTAC Slipper"});
    ASSERT_EQ(tool.status, 0) << tool.err;
    struct Case {
        std::vector<std::string> args;
        bool shown;
    };
    const Case cases[] = {
        {{"location"}, false},
        {{"location", "--show-password"}, true},
        {{"location", "--show-password", "--json"}, true},
    };
    for (const auto& c : cases) {
        const RunResult r = Ctl(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("secret") != std::string::npos, c.shown) << r.out;
        if (!c.shown) {
            EXPECT_NE(r.out.find("passwordSet  true"), std::string::npos) << r.out;
        }
    }
}

TEST_F(CtlNetwork, LocationFailsWhenTheStoreCannotBeRead)
{
    const std::string store = root.Path() + "/var/lib/kavanti/preferences.plist";
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"garbage", [](const std::string& s) { SandboxRoot::WriteFile(s, "this is not a property list"); }, "corrupt"},
        {"folder", [](const std::string& s) { fs::create_directories(s); }, "cannot be read"},
        {"FIFO", [](const std::string& s) { fs::create_directories(fs::path(s).parent_path()); mkfifo(s.c_str(), 0600); },
         "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(store);
        c.make(store);
        for (const auto& args : std::vector<std::vector<std::string>>{{"location"}, {"location", "--json"}}) {
            const RunResult r = Ctl(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(store), std::string::npos) << r.err;
        }
        fs::remove_all(store);
    }
}

TEST_F(CtlNetwork, BadArgumentsAreUsageErrors)
{
    // Bytes that are not UTF-8 anywhere, and unknown options of every command: exit 2 with the
    // usage line, never an abort.
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"location", "--device", "\xff", "--json"}, "argument 3 is not valid UTF-8"},
        {{"location", "--device=\xc3", "--json"}, "argument 2 is not valid UTF-8"},
        {{"ports", "--j\xffson"}, "argument 2 is not valid UTF-8"},
        {{"\xff"}, "argument 1 is not valid UTF-8"},
        {{"version", "--bogus"}, "usage: kavanti-ctl version"},
        {{"location", "--bogus"}, "usage: kavanti-ctl location"},
        {{"modem-scripts", "--bogus"}, "usage: kavanti-ctl modem-scripts"},
        {{"card-info", "--bogus"}, "usage: kavanti-ctl card-info"},
        {{"card-info", "--port"}, "usage: kavanti-ctl card-info"},
    };
    for (const auto& c : cases) {
        const RunResult r = Ctl(c.args);
        EXPECT_EQ(r.status, 2) << c.message << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // --help of every command is its help, on standard output.
    for (const char* cmd : {"version", "location", "ports", "modem-scripts", "card-info"}) {
        const RunResult r = Ctl({cmd, "--help"});
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_EQ(r.out.rfind(std::string("usage: kavanti-ctl ") + cmd, 0), 0u) << r.out;
    }
    const RunResult v = Ctl({"version", "--json"});
    ASSERT_EQ(v.status, 0);
    EXPECT_EQ(nlohmann::json::parse(v.out)["version"], "0.1");
}

TEST_F(CtlNetwork, CardInfoFindsTheCardByDiscovery)
{
    fs::create_directories(root.Path() + "/dev");
    SimProcess sim({"--model", "KTR22C-J", "--link", root.Path() + "/dev/ttyS4"});
    ASSERT_FALSE(sim.Slave().empty());
    const RunResult r = Ctl({"card-info", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["modemName"], "KTR22C-J");
}

TEST_F(CtlNetwork, CardInfoWithoutACard)
{
    fs::remove(sys.Sys() / "class/tty/ttyS4");
    const RunResult r = Ctl({"card-info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no card found"), std::string::npos) << r.err;
}

} // namespace
