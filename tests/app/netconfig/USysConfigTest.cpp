#include "app/netconfig/USysConfig.h"

#include "platform/paths/KPaths.h"
#include "platform/store/SCPreferences.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Location 3 "KVAUTODL" (current): E1 and E2 on other ports, C on the card's port; X is on the
// card's port too but only linked, not in the order. Location 5 "Home" has E1 only.
std::string Store(const std::string& cardService, const std::string& e2Extra = "", const std::string& current = "/Sets/3")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>)" + current + R"(</string>
<key>Sets</key><dict>
 <key>5</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string></array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict></dict></dict></dict>
 <key>3</key><dict><key>UserDefinedName</key><string>KVAUTODL</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string><string>E2</string><string>C</string></array></dict></dict>
  <key>Service</key><dict>
   <key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict>
   <key>E2</key><dict><key>__LINK__</key><string>/NetworkServices/E2</string></dict>
   <key>C</key><dict><key>__LINK__</key><string>/NetworkServices/C</string></dict>
   <key>X</key><dict><key>__LINK__</key><string>/NetworkServices/X</string></dict></dict></dict></dict>
</dict>
<key>NetworkServices</key><dict>
 <key>E1</key><dict><key>Interface</key><dict><key>DeviceName</key><string>eth0</string></dict></dict>
 <key>E2</key><dict><key>Interface</key><dict><key>DeviceName</key><string>eth1</string></dict>)" + e2Extra + R"(</dict>
 <key>C</key><dict><key>Interface</key><dict><key>DeviceName</key><string>pccard-modem</string></dict>)" + cardService + R"(</dict>
 <key>X</key><dict><key>Interface</key><dict><key>DeviceName</key><string>usbmodemSlipper</string></dict></dict>
</dict></dict></plist>
)";
}

const char* kFullCard = R"(
 <key>Modem</key><dict><key>ConnectionScript</key><string>/usr/share/kavanti/modem-scripts/SUNTAC Slipper</string></dict>
 <key>PPP</key><dict><key>CommRemoteAddress</key><string>0570570711##61</string><key>AuthName</key><string>user@example</string>
   <key>AuthPassword</key><data>AHMAZQBjAHIAZQB0</data></dict>
 <key>Proxies</key><dict><key>HTTPEnable</key><integer>1</integer><key>HTTPProxy</key><string>proxy.example</string>
   <key>HTTPPort</key><integer>32080</integer></dict>)";

class SysConfigReader : public ::testing::Test {
protected:
    void Write(const std::string& xml) { SandboxRoot::WriteFile(KPaths::StorePath(), xml); }
    SandboxRoot root;
    PRef<PString> card = PStr("pccard-modem");
};

TEST_F(SysConfigReader, CurrentSetName)
{
    char name[255];
    std::strcpy(name, "unchanged");
    EXPECT_FALSE(USysConfig::GetCurrentSetName(name)); // no store at all
    EXPECT_STREQ(name, "unchanged");

    Write(Store(""));
    EXPECT_TRUE(USysConfig::GetCurrentSetName(name));
    EXPECT_STREQ(name, "KVAUTODL");

    // Every call sees the newest committed store.
    Write(Store("", "", "/Sets/5"));
    EXPECT_TRUE(USysConfig::GetCurrentSetName(name));
    EXPECT_STREQ(name, "Home");

    Write(Store("", "", "/Sets/9"));
    std::strcpy(name, "unchanged");
    EXPECT_FALSE(USysConfig::GetCurrentSetName(name));
    EXPECT_STREQ(name, "unchanged");
}

TEST_F(SysConfigReader, CurrentSettingOfTheCardService)
{
    Write(Store(kFullCard));
    SysConfigDataRec rec;
    ASSERT_TRUE(USysConfig::GetCurrentSetting(card.get(), rec));
    EXPECT_STREQ(rec.accessPoint.c_str(), "0570570711##61");
    EXPECT_STREQ(rec.userName.c_str(), "user@example");
    EXPECT_STREQ(rec.password.c_str(), "secret");
    EXPECT_STREQ(rec.proxyServer.c_str(), "proxy.example");
    EXPECT_STREQ(rec.proxyPort.c_str(), "32080");
    EXPECT_STREQ(rec.cclFilePath.c_str(), "/usr/share/kavanti/modem-scripts/SUNTAC Slipper");

    // A service on the port that is linked but not in the order is not the current setting.
    SysConfigDataRec other;
    EXPECT_FALSE(USysConfig::GetCurrentSetting(PStr("usbmodemSlipper").get(), other));
    EXPECT_STREQ(other.accessPoint.c_str(), "");
}

TEST_F(SysConfigReader, PartialAndOversizedSettings)
{
    struct Case {
        const char* name;
        std::string card;
        SysConfigDataRec want;
    };
    auto rec = [](const char* ap, const char* user, const char* pw, const char* server, const char* port) {
        SysConfigDataRec r;
        r.accessPoint.Assign(ap);
        r.userName.Assign(user);
        r.password.Assign(pw);
        r.proxyServer.Assign(server);
        r.proxyPort.Assign(port);
        return r;
    };
    const std::string longAp(200, '7');
    const std::vector<Case> cases = {
        {"proxy off keeps the port empty",
         "<key>Proxies</key><dict><key>HTTPEnable</key><integer>0</integer><key>HTTPPort</key><integer>8080</integer></dict>",
         rec("", "", "", "NULL", "")},
        {"no password",
         "<key>PPP</key><dict><key>CommRemoteAddress</key><string>123</string><key>AuthName</key><string>u</string></dict>",
         rec("123", "u", "", "", "")},
        {"long access point is cut",
         "<key>PPP</key><dict><key>CommRemoteAddress</key><string>" + longAp + "</string></dict>",
         rec(longAp.substr(0, 126).c_str(), "", "", "", "")},
        {"non-ASCII password", "<key>PPP</key><dict><key>AuthPassword</key><data>AHAA5CCs</data></dict>",
         rec("", "", "p\xc3\xa4\xe2\x82\xac", "", "")},
        {"negative port", "<key>Proxies</key><dict><key>HTTPEnable</key><integer>1</integer><key>HTTPPort</key><integer>-5</integer></dict>",
         rec("", "", "", "", "-5")},
        {"no entities", "", rec("", "", "", "", "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(Store(c.card));
        SysConfigDataRec got;
        ASSERT_TRUE(USysConfig::GetCurrentSetting(card.get(), got));
        EXPECT_EQ(got.accessPoint.View(), c.want.accessPoint.View());
        EXPECT_EQ(got.userName.View(), c.want.userName.View());
        EXPECT_EQ(got.password.View(), c.want.password.View());
        EXPECT_EQ(got.proxyServer.View(), c.want.proxyServer.View());
        EXPECT_EQ(got.proxyPort.View(), c.want.proxyPort.View());
    }
}

TEST_F(SysConfigReader, ActiveServices)
{
    Write(Store(kFullCard));
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 3);
    EXPECT_TRUE(USysConfig::ServiceIsActive(card.get()));
    EXPECT_FALSE(USysConfig::ServiceIsActive(PStr("usbmodemSlipper").get()));

    // E2 inactive: counted out. The inactive card service is found but not active.
    Write(Store(std::string(kFullCard) + "<key>__INACTIVE__</key><integer>1</integer>",
                "<key>__INACTIVE__</key><integer>1</integer>"));
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1);
    EXPECT_FALSE(USysConfig::ServiceIsActive(card.get()));
    PRef<PDictionary> svc;
    EXPECT_TRUE(USysConfig::GetServiceDict(card.get(), svc));
}

TEST_F(SysConfigReader, FindLocationAndDevice)
{
    Write(Store(kFullCard));
    PRef<PDictionary> set;
    EXPECT_TRUE(USysConfig::FindLocation("KVAUTODL", &set));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->GetAs<PString>("UserDefinedName")->UTF8(), "KVAUTODL");
    EXPECT_FALSE(USysConfig::FindLocation("kvautodl"));
    EXPECT_FALSE(USysConfig::FindLocation(nullptr));

    EXPECT_TRUE(USysConfig::FindDevice("KVAUTODL", "pccard-modem"));
    EXPECT_TRUE(USysConfig::FindDevice("KVAUTODL", "usbmodemSlipper")); // linked, not ordered
    EXPECT_FALSE(USysConfig::FindDevice("Home", "pccard-modem"));
    EXPECT_FALSE(USysConfig::FindDevice("KVAUTODL", nullptr));

    Write(R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>CurrentSet</key><string>/Sets/3</string></dict></plist>)");
    EXPECT_FALSE(USysConfig::FindLocation("KVAUTODL"));
    EXPECT_FALSE(USysConfig::FindDevice("KVAUTODL", "pccard-modem"));
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 0);
}

TEST_F(SysConfigReader, NeverWaitsForTheLock)
{
    Write(Store(kFullCard));
    SCPreferencesRef writer = SCPreferencesCreate("writer");
    ASSERT_TRUE(writer);
    ASSERT_TRUE(SCPreferencesLock(writer.get(), false));
    char name[255] = "";
    EXPECT_TRUE(USysConfig::GetCurrentSetName(name));
    EXPECT_STREQ(name, "KVAUTODL");
    SCPreferencesUnlock(writer.get());
}

} // namespace
