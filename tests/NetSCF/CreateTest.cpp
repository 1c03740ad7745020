#include "NetSCF/NetSCFCreate.h"
#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFSets.h"

#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

namespace {

class SetCreation : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("KAVANTI_RESOURCES");
        if (old) mOldResources = old, mHadResources = true;
        setenv("KAVANTI_RESOURCES", (root.Path() + "/resources").c_str(), 1);
    }
    void TearDown() override
    {
        if (mHadResources) setenv("KAVANTI_RESOURCES", mOldResources.c_str(), 1);
        else unsetenv("KAVANTI_RESOURCES");
    }

    void Ethernet()
    {
        sys.Device("pci0000:00/0000:00:19.0", "pci");
        sys.Net("eth0", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
    }
    void PcCard()
    {
        sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
        sys.Tty("ttyS4", "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
    }
    void Script(const std::string& name) { SandboxRoot::WriteFile(root.Path() + "/resources/modem-scripts/" + name, "x"); }

    PRef<PDictionary> Store()
    {
        PRef<PValue> v;
        if (PListReadFile(KPaths::StorePath(), false, v) != PListReadResult::Ok) return {};
        return PRefCast<PDictionary>(v);
    }
    void WriteStore(const std::string& xml) { SandboxRoot::WriteFile(KPaths::StorePath(), xml); }

    static const PDictionary* Dict(const PDictionary* d, std::initializer_list<const char*> path)
    {
        for (const char* k : path) d = d ? d->GetAs<PDictionary>(k) : nullptr;
        return d;
    }
    static std::string S(const PDictionary* d, const char* key)
    {
        const PString* s = d ? d->GetAs<PString>(key) : nullptr;
        return s ? s->UTF8() : "<none>";
    }
    static int64_t N(const PDictionary* d, const char* key)
    {
        const PNumber* n = d ? d->GetAs<PNumber>(key) : nullptr;
        return n ? n->Int64() : -999;
    }
    static std::vector<std::string> Order(const PDictionary* set)
    {
        std::vector<std::string> ids;
        const PDictionary* ipv4 = Dict(set, {"Network", "Global", "IPv4"});
        const PArray* a = ipv4 ? ipv4->GetAs<PArray>("ServiceOrder") : nullptr;
        if (a)
            for (size_t i = 0; i < a->Count(); ++i) ids.push_back(a->AtAs<PString>(i)->UTF8());
        return ids;
    }

    SandboxRoot root;
    FakeSysfs sys{root.Path()};
    std::string mOldResources;
    bool mHadResources = false;
};

// Two sets sharing service S2; set A also has S1, set B has S3; service S9 is linked by nobody.
const char* kTwoSets = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>/Sets/A</string>
<key>Sets</key><dict>
 <key>A</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>PPPOverridePrimary</key><integer>0</integer>
   <key>ServiceOrder</key><array><string>S1</string><string>S2</string></array></dict></dict>
  <key>Service</key><dict>
   <key>S1</key><dict><key>__LINK__</key><string>/NetworkServices/S1</string></dict>
   <key>S2</key><dict><key>__LINK__</key><string>/NetworkServices/S2</string></dict></dict></dict></dict>
 <key>B</key><dict><key>UserDefinedName</key><string>Office</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>PPPOverridePrimary</key><integer>0</integer>
   <key>ServiceOrder</key><array><string>S2</string><string>S3</string></array></dict></dict>
  <key>Service</key><dict>
   <key>S2</key><dict><key>__LINK__</key><string>/NetworkServices/S2</string></dict>
   <key>S3</key><dict><key>__LINK__</key><string>/NetworkServices/S3</string></dict></dict></dict></dict>
</dict>
<key>NetworkServices</key><dict>
 <key>S1</key><dict><key>UserDefinedName</key><string>one</string></dict>
 <key>S2</key><dict><key>UserDefinedName</key><string>two</string></dict>
 <key>S3</key><dict><key>UserDefinedName</key><string>three</string></dict>
 <key>S9</key><dict><key>UserDefinedName</key><string>orphan</string></dict>
</dict></dict></plist>
)";

TEST_F(SetCreation, NewSetHasOneServicePerPortWithTheEntitiesOfItsKind)
{
    Ethernet();
    PcCard();
    Script("SUNTAC Slipper");
    WriteStore(kTwoSets);

    PRef<PString> setID;
    ASSERT_EQ(NetSCNewSet(PStr("KVAUTODL").get(), &setID), kStatusOK);
    ASSERT_TRUE(setID);

    auto store = Store();
    ASSERT_TRUE(store);
    EXPECT_EQ(S(store.get(), "CurrentSet"), "/Sets/A"); // not made current
    const PDictionary* set = Dict(store.get(), {"Sets", setID->UTF8().c_str()});
    ASSERT_TRUE(set);
    EXPECT_EQ(S(set, "UserDefinedName"), "KVAUTODL");
    EXPECT_EQ(N(Dict(set, {"Network", "Global", "IPv4"}), "PPPOverridePrimary"), 0);
    EXPECT_EQ(Dict(set, {"Network", "Global", "NetInfo"})->Count(), 0u);

    const auto order = Order(set);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(Dict(set, {"Network", "Service"})->Count(), 2u);
    for (const auto& id : order)
        EXPECT_EQ(S(Dict(set, {"Network", "Service", id.c_str()}), "__LINK__"), "/NetworkServices/" + id);

    // The modem sorts before the built-in Ethernet.
    const PDictionary* modem = Dict(store.get(), {"NetworkServices", order[0].c_str()});
    const PDictionary* eth = Dict(store.get(), {"NetworkServices", order[1].c_str()});
    ASSERT_TRUE(modem && eth);

    EXPECT_EQ(S(modem, "UserDefinedName"), "pccard-modem-port");
    EXPECT_FALSE(modem->Contains("__INACTIVE__"));
    const PDictionary* mi = Dict(modem, {"Interface"});
    EXPECT_EQ(mi->Count(), 5u);
    EXPECT_EQ(S(mi, "DeviceName"), "pccard-modem");
    EXPECT_EQ(S(mi, "Hardware"), "Modem");
    EXPECT_EQ(S(mi, "Type"), "PPP");
    EXPECT_EQ(S(mi, "SubType"), "PPPSerial");
    EXPECT_FALSE(modem->Contains("AppleTalk"));
    EXPECT_EQ(Dict(modem, {"DNS"})->Count(), 0u);
    EXPECT_EQ(S(Dict(modem, {"IPv4"}), "ConfigMethod"), "PPP");
    EXPECT_FALSE(Dict(modem, {"PPP"})->Contains("__INACTIVE__"));
    const PDictionary* me = Dict(modem, {"Modem"});
    EXPECT_EQ(S(me, "ConnectionScript"), "SUNTAC Slipper");
    EXPECT_EQ(N(me, "DataCompression"), 1);
    EXPECT_EQ(N(me, "ErrorCorrection"), 1);
    EXPECT_EQ(S(me, "DialMode"), "WaitForDialTone");
    EXPECT_EQ(N(me, "PulseDial"), 0);
    EXPECT_EQ(N(me, "Speaker"), 1);
    EXPECT_EQ(N(Dict(modem, {"Proxies"}), "HTTPEnable"), 0);

    EXPECT_EQ(S(eth, "UserDefinedName"), "Built-in Ethernet");
    const PDictionary* ei = Dict(eth, {"Interface"});
    EXPECT_EQ(ei->Count(), 4u);
    EXPECT_EQ(S(ei, "Hardware"), "Ethernet");
    EXPECT_EQ(S(Dict(eth, {"AppleTalk"}), "ConfigMethod"), "Node");
    EXPECT_EQ(N(Dict(eth, {"AppleTalk"}), "__INACTIVE__"), 1);
    EXPECT_EQ(S(Dict(eth, {"IPv4"}), "ConfigMethod"), "DHCP");
    EXPECT_EQ(N(Dict(eth, {"PPP"}), "__INACTIVE__"), 1);
    EXPECT_EQ(S(Dict(eth, {"Ethernet"}), "MACAddress"), "00:1b:21:aa:bb:cc");
    EXPECT_FALSE(eth->Contains("Modem"));
    EXPECT_FALSE(eth->Contains("AirPort"));

    // The old sets and the orphan are untouched by creation.
    EXPECT_TRUE(Dict(store.get(), {"NetworkServices", "S9"}));
}

TEST_F(SetCreation, NoPortsAndNoScripts)
{
    PRef<PString> setID;
    ASSERT_EQ(NetSCNewSet(PStr("Empty").get(), &setID), kStatusOK); // a fresh store, too
    auto store = Store();
    const PDictionary* set = Dict(store.get(), {"Sets", setID->UTF8().c_str()});
    ASSERT_TRUE(set);
    EXPECT_EQ(S(set, "UserDefinedName"), "Empty");
    EXPECT_EQ(Dict(set, {"Network", "Service"})->Count(), 0u);
    EXPECT_TRUE(Order(set).empty());
    EXPECT_FALSE(store->Contains("CurrentSet"));

    // A modem added now gets an empty script name.
    auto port = PDictionary::CreateMutable();
    port->Set("UserDefinedName", PStr("Modem Port"));
    port->Set("Hardware", PStr("Modem"));
    port->Set("Type", PStr("PPP"));
    port->Set("SubType", PStr("PPPSerial"));
    port->Set("DeviceName", PStr("ttyS0"));
    PRef<PString> serviceID;
    ASSERT_EQ(NetSCNewService(setID.get(), port.get(), &serviceID), kStatusOK);
    store = Store();
    EXPECT_EQ(S(Dict(store.get(), {"NetworkServices", serviceID->UTF8().c_str(), "Modem"}), "ConnectionScript"), "");
}

TEST_F(SetCreation, AFailedServiceLeavesNoTrace)
{
    WriteStore(kTwoSets);

    auto port = PDictionary::CreateMutable();
    port->Set("UserDefinedName", PStr("Bad"));
    port->Set("Hardware", PStr("Ethernet"));
    port->Set("Type", PStr("Ethernet"));
    port->Set("DeviceName", PStr("eth1"));
    port->Set("MACAddress", PStr("not a mac"));

    // Inside one transaction, after another change that marked it dirty.
    ASSERT_EQ(NetSCOpen(true, true), kStatusOK);
    OSStatus err = NetSCRenameSet(PStr("B").get(), PStr("Work").get());
    ASSERT_EQ(err, kStatusOK);
    PRef<PString> serviceID;
    EXPECT_EQ(NetSCNewService(PStr("B").get(), port.get(), &serviceID), -1);
    EXPECT_FALSE(serviceID);
    NetSCClose(&err, false);
    ASSERT_EQ(err, kStatusOK);

    auto store = Store();
    const PDictionary* set = Dict(store.get(), {"Sets", "B"});
    EXPECT_EQ(S(set, "UserDefinedName"), "Work");
    EXPECT_EQ(Order(set), (std::vector<std::string>{"S2", "S3"}));
    EXPECT_EQ(Dict(set, {"Network", "Service"})->Count(), 2u);
    // The sweep also took the service no set had referenced before.
    const PDictionary* services = Dict(store.get(), {"NetworkServices"});
    EXPECT_EQ(services->Count(), 3u);
    EXPECT_FALSE(services->Contains("S9"));
}

TEST_F(SetCreation, AFailedScanDeletesTheNewSet)
{
    WriteStore(kTwoSets);
    Ethernet();
    sys.Device("pci0000:00/0000:00:1c.5/0000:07:00.0", "pci");
    sys.Net("en\xff", "pci0000:00/0000:00:1c.5/0000:07:00.0", "00:11:22:33:44:55");

    PRef<PString> setID;
    EXPECT_EQ(NetSCNewSet(PStr("KVAUTODL").get(), &setID), -1);
    EXPECT_FALSE(setID);
    auto store = Store();
    EXPECT_EQ(Dict(store.get(), {"Sets"})->Count(), 2u);
}

TEST_F(SetCreation, DeleteServiceLinkedFromTwoSetsRemovesItFromOneOnly)
{
    WriteStore(kTwoSets);
    ASSERT_EQ(NetSCDeleteService(PStr("A").get(), PStr("S2").get()), kStatusOK);
    auto store = Store();
    EXPECT_EQ(Order(Dict(store.get(), {"Sets", "A"})), (std::vector<std::string>{"S1"}));
    EXPECT_FALSE(Dict(store.get(), {"Sets", "A", "Network", "Service", "S2"}));
    EXPECT_EQ(Order(Dict(store.get(), {"Sets", "B"})), (std::vector<std::string>{"S2", "S3"}));
    EXPECT_TRUE(Dict(store.get(), {"NetworkServices", "S2"}));
    EXPECT_FALSE(Dict(store.get(), {"NetworkServices", "S9"}));
}

TEST_F(SetCreation, DeleteSet)
{
    WriteStore(kTwoSets);
    EXPECT_EQ(NetSCDeleteSet(PStr("A").get()), kStatusBadParam); // the current set stays
    auto store = Store();
    EXPECT_TRUE(Dict(store.get(), {"Sets", "A"}));

    ASSERT_EQ(NetSCDeleteSet(PStr("B").get()), kStatusOK);
    store = Store();
    EXPECT_FALSE(Dict(store.get(), {"Sets", "B"}));
    const PDictionary* services = Dict(store.get(), {"NetworkServices"});
    EXPECT_EQ(services->Count(), 2u); // S1 and S2 stay for set A; S3 and the orphan S9 go
    EXPECT_TRUE(services->Contains("S1"));
    EXPECT_TRUE(services->Contains("S2"));
}

TEST_F(SetCreation, NewServiceIsAppendedToTheOrder)
{
    WriteStore(kTwoSets);
    auto port = PDictionary::CreateMutable();
    port->Set("UserDefinedName", PStr("AirPort"));
    port->Set("Hardware", PStr("AirPort"));
    port->Set("Type", PStr("Ethernet"));
    port->Set("DeviceName", PStr("wlan0"));
    port->Set("MACAddress", PStr("A0:B1:C2:D3:E4:F5"));
    PRef<PString> id;
    ASSERT_EQ(NetSCNewService(nullptr, port.get(), &id), kStatusOK); // the current set, A
    auto store = Store();
    EXPECT_EQ(Order(Dict(store.get(), {"Sets", "A"})), (std::vector<std::string>{"S1", "S2", id->UTF8()}));
    const PDictionary* svc = Dict(store.get(), {"NetworkServices", id->UTF8().c_str()});
    EXPECT_EQ(S(Dict(svc, {"Interface"}), "Hardware"), "AirPort");
    EXPECT_EQ(S(Dict(svc, {"AirPort"}), "MACAddress"), "a0:b1:c2:d3:e4:f5");
    EXPECT_FALSE(svc->Contains("Ethernet"));
}

} // namespace
