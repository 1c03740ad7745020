// The desired configuration the updater builds from the preferences and the card, where it finds
// the modem script, and how two configurations compare.
#include "app/netconfig/CSysConfig.h"
#include "app/netconfig/FakeSysConfigHost.h"
#include "platform/paths/KPaths.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

namespace {

class SysConfig : public ::testing::Test {
protected:
    void SetUp() override { config.SetHost(&host); }
    SysConfigDataRec Desired()
    {
        SysConfigDataRec r;
        config.CreateNSData(r);
        return r;
    }
    // A script file in one of the four domains (0 user ... 3 system), in this sandbox.
    std::string PutScript(size_t domain, const std::string& name)
    {
        const std::string path = KPaths::ModemScriptFolders()[domain] + "/" + name;
        SandboxRoot::WriteFile(path, "ABORT BUSY\n");
        return path;
    }

    SandboxRoot root;
    FakeSysConfigHost host;
    CSysConfig config;
};

TEST_F(SysConfig, AccessPointTakesTheLinkModeSuffix)
{
    struct Case {
        int16_t linkMode;
        const char* accessPoint;
    } cases[] = {{1, "0570570711##61"}, {2, "0570570711##64"}, {0, "0570570711##64"}, {-3, "0570570711##64"}};
    for (const auto& c : cases) {
        host.prefs.SetLinkMode(c.linkMode);
        EXPECT_STREQ(Desired().accessPoint.c_str(), c.accessPoint) << c.linkMode;
    }
}

TEST_F(SysConfig, ProxyChoice)
{
    struct Case {
        int16_t choice;
        const char* server;
    } cases[] = {{1, "accel1.kavanti.example"}, {2, "accel2.kavanti.example"}, {3, "accel3.kavanti.example"},
                 {4, "NULL"}, {7, ""}, {0, ""}, {-1, ""}};
    for (const auto& c : cases) {
        host.prefs.SetWebProxy(c.choice);
        const SysConfigDataRec r = Desired();
        EXPECT_STREQ(r.proxyServer.c_str(), c.server) << c.choice;
        EXPECT_STREQ(r.proxyPort.c_str(), "32080") << c.choice; // whatever the choice
    }
}

TEST_F(SysConfig, LongSettingsAreCutToTheirFields)
{
    const Str255 ap = Str255::From(std::string(255, '1')), user = Str255::From(std::string(255, 'u'));
    host.prefs.SetAccessPoint(&ap);
    host.prefs.SetUserName(&user);
    host.SetPassword(std::string(255, 'p'));
    const SysConfigDataRec r = Desired();
    // The suffix always survives: 122 characters of the number, then "##61".
    EXPECT_EQ(r.accessPoint.View(), std::string(122, '1') + "##61");
    EXPECT_EQ(r.userName.View(), std::string(254, 'u'));
    EXPECT_EQ(r.password.View(), std::string(254, 'p'));
}

TEST_F(SysConfig, ModemScriptForTheCard)
{
    struct Case {
        bool slipper;
        bool cclOption;
        std::optional<std::string> model;
        const char* script;
    } cases[] = {
        {true, true, "KTR22C-J", "SUNTAC Slipper"},
        {true, false, "KTR22C-J", "Kirodenki KTR21-J"}, // the adapter ignores the model
        {false, true, "KTR21-J", "Kirodenki KTR21-J"},
        {false, false, "KTR21C-J", "Kirodenki KTR21C-J"},
        {false, false, "KTR22-J", "Kirodenki KTR22-J"},
        {false, false, "KTR22C-J", "Kirodenki KTR22C-J"},
        {false, false, "KSR23C-J", "TKS KSR23C-J"},
        {false, false, "ktr22c-j", "TKS KSR23C-J"}, // compared exactly
        {false, false, "KTR22C-J ", "TKS KSR23C-J"},
        {false, false, std::nullopt, "TKS KSR23C-J"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        host.useSlipper = c.slipper;
        host.prefs.SetCCLOption(c.cclOption);
        host.modelName = c.model;
        SysConfigDataRec r;
        // The shipped scripts are the system domain's.
        EXPECT_TRUE(config.CreateNSData(r));
        EXPECT_EQ(r.cclFilePath.View(), KPaths::ModemScriptFolders()[3] + "/" + c.script);
    }
}

TEST_F(SysConfig, FirstDomainHoldingTheScriptWins)
{
    char path[CSysConfig::kCCLPathSize];
    const std::string system = KPaths::ModemScriptFolders()[3] + "/TKS KSR23C-J";
    ASSERT_TRUE(CSysConfig::GetCCLFilePath("TKS KSR23C-J", path));
    EXPECT_EQ(std::string(path), system);

    const std::string local = PutScript(2, "TKS KSR23C-J");
    ASSERT_TRUE(CSysConfig::GetCCLFilePath("TKS KSR23C-J", path));
    EXPECT_EQ(std::string(path), local);
    const std::string network = PutScript(1, "TKS KSR23C-J");
    ASSERT_TRUE(CSysConfig::GetCCLFilePath("TKS KSR23C-J", path));
    EXPECT_EQ(std::string(path), network);
    // A user's copy hides the system's, and the desired record carries it.
    const std::string user = PutScript(0, "TKS KSR23C-J");
    ASSERT_TRUE(CSysConfig::GetCCLFilePath("TKS KSR23C-J", path));
    EXPECT_EQ(std::string(path), user);
    EXPECT_EQ(Desired().cclFilePath.View(), user);

    // A folder of that name in the user's domain is no script: the next domain's file is found.
    std::filesystem::create_directories(KPaths::ModemScriptFolders()[0] + "/Kirodenki KTR22-J");
    ASSERT_TRUE(CSysConfig::GetCCLFilePath("Kirodenki KTR22-J", path));
    EXPECT_EQ(std::string(path), KPaths::ModemScriptFolders()[3] + "/Kirodenki KTR22-J");
}

TEST_F(SysConfig, ScriptNotFound)
{
    struct Case {
        const char* name;
        const char* pathAfter; // "" cleared, "keep" untouched
    } cases[] = {
        {"No Such Card", ""},
        {"../modem-scripts/TKS KSR23C-J", ""}, // a file name, not a path
        {"", ""},
        {"Kirodenki \xe2\x80\x93 KTR", "keep"}, // not ASCII
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char path[CSysConfig::kCCLPathSize] = "keep";
        EXPECT_FALSE(CSysConfig::GetCCLFilePath(c.name, path));
        EXPECT_STREQ(path, c.pathAfter);
    }

    // Without the script the record's path stays empty and CreateNSData says so.
    const char* res = std::getenv("KAVANTI_RESOURCES");
    const std::string oldResources = res ? res : "";
    setenv("KAVANTI_RESOURCES", (root.Path() + "/no-resources").c_str(), 1);
    SysConfigDataRec r;
    EXPECT_FALSE(config.CreateNSData(r));
    EXPECT_STREQ(r.cclFilePath.c_str(), "");
    EXPECT_STREQ(r.accessPoint.c_str(), "0570570711##61"); // the rest is still made
    setenv("KAVANTI_RESOURCES", oldResources.c_str(), 1);
}

TEST_F(SysConfig, WithoutPreferencesOrHostOnlyTheFixedFieldsAreMade)
{
    host.hasPrefs = false;
    SysConfigDataRec r = Desired();
    EXPECT_STREQ(r.accessPoint.c_str(), "");
    EXPECT_STREQ(r.userName.c_str(), "");
    EXPECT_STREQ(r.proxyServer.c_str(), "");
    EXPECT_STREQ(r.proxyPort.c_str(), "32080");

    CSysConfig alone;
    SysConfigDataRec s;
    EXPECT_TRUE(alone.CreateNSData(s)); // no card known: the default script
    EXPECT_EQ(s.cclFilePath.View(), KPaths::ModemScriptFolders()[3] + "/TKS KSR23C-J");
}

TEST_F(SysConfig, CompareGoesFieldByField)
{
    const SysConfigDataRec base = Desired();
    EXPECT_TRUE(CSysConfig::CompareNSData(base, base));
    struct Case {
        const char* field;
        void (*change)(SysConfigDataRec&);
    } cases[] = {
        {"accessPoint", [](SysConfigDataRec& r) { r.accessPoint.Assign("0570570711##64"); }},
        {"userName case", [](SysConfigDataRec& r) { r.userName.Assign("User@example"); }},
        {"password", [](SysConfigDataRec& r) { r.password.Assign(""); }},
        {"proxyServer", [](SysConfigDataRec& r) { r.proxyServer.Assign("NULL"); }},
        {"proxyPort", [](SysConfigDataRec& r) { r.proxyPort.Assign(""); }},
        {"cclFilePath", [](SysConfigDataRec& r) { r.cclFilePath.Assign("/elsewhere"); }},
    };
    for (const auto& c : cases) {
        SysConfigDataRec other = base;
        c.change(other);
        EXPECT_FALSE(CSysConfig::CompareNSData(base, other)) << c.field;
        EXPECT_FALSE(CSysConfig::CompareNSData(other, base)) << c.field;
    }
}

} // namespace
