// kavanti-ctl ports, modem-scripts, location and card-info's discovery, on sandboxes.
#include "support/SimProcess.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>
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
    EXPECT_EQ(j["setting"]["password"], "secret");
    EXPECT_EQ(j["setting"]["proxyServer"], "NULL");
    EXPECT_EQ(j["setting"]["cclFilePath"], "/usr/share/kavanti/modem-scripts/SUNTAC Slipper");

    r = Ctl({"location", "--device", "eth0", "--json"});
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["serviceIsActive"], false); // switched off by the tool
    EXPECT_EQ(j["setting"]["accessPoint"], "");
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
