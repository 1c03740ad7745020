#include "NetSCF/NetSCFEntities.h"
#include "NetSCF/NetSCFFixture.h"

#include <arpa/inet.h>
#include <functional>

namespace {

using Entry = std::pair<std::string, PRef<PValue>>;

in_addr Addr(const char* text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a;
}

std::string Describe(const PDictionary* d)
{
    std::string out;
    if (!d) return "<none>";
    for (const auto& [k, v] : d->Entries()) {
        out += k + "=";
        if (const auto* s = PValue::As<PString>(v.get())) out += "\"" + s->UTF8() + "\"";
        else if (const auto* n = PValue::As<PNumber>(v.get())) out += std::to_string(n->Int64());
        else if (const auto* a = PValue::As<PArray>(v.get())) out += "array(" + std::to_string(a->Count()) + ")";
        else if (const auto* data = PValue::As<PData>(v.get())) out += "data(" + std::to_string(data->Length()) + ")";
        else out += "dict";
        out += " ";
    }
    return out;
}

// The entity must hold exactly these keys, in this order, with these values.
void ExpectEntity(const char* name, OSStatus status, const PDictionary* entity, const std::vector<Entry>& expected)
{
    ASSERT_EQ(status, kStatusOK) << name;
    ASSERT_TRUE(entity) << name;
    EXPECT_TRUE(entity->IsMutable()) << name;
    auto want = PDictionary::CreateMutable();
    for (const auto& [k, v] : expected) want->Set(k, v);
    EXPECT_TRUE(entity->Equals(*want)) << name << "\n got:  " << Describe(entity) << "\n want: " << Describe(want.get());
    std::vector<std::string> keys, wantKeys;
    for (const auto& e : entity->Entries()) keys.push_back(e.first);
    for (const auto& e : expected) wantKeys.push_back(e.first);
    EXPECT_EQ(keys, wantKeys) << name << ": key order";
}

std::vector<Entry> PPPDefaults(bool withInactive)
{
    std::vector<Entry> e;
    if (withInactive) e.emplace_back("__INACTIVE__", PNum(1));
    for (Entry x : std::vector<Entry>{{"DialOnDemand", PNum(0)},          {"DisconnectOnIdle", PNum(1)},
                                      {"DisconnectOnIdleTimer", PNum(900)}, {"DisconnectOnLogout", PNum(1)},
                                      {"IdleReminder", PNum(0)},          {"IdleReminderTimer", PNum(1800)},
                                      {"Logfile", PStr("/tmp/ppp.log")},  {"VerboseLogging", PNum(0)},
                                      {"CommDisplayTerminalWindow", PNum(0)}, {"CommRedialCount", PNum(1)},
                                      {"CommRedialEnabled", PNum(1)},     {"CommRedialInterval", PNum(30)},
                                      {"IPCPCompressionVJ", PNum(1)},     {"LCPEchoEnabled", PNum(1)},
                                      {"LCPEchoFailure", PNum(3)},        {"LCPEchoInterval", PNum(10)}})
        e.push_back(x);
    return e;
}

TEST(Entities, BuildersWriteExactlyTheirKeys)
{
    auto en0 = PStr("en0"), ethernet = PStr("Ethernet"), modem = PStr("Modem"), ppp = PStr("PPP"),
         serial = PStr("PPPSerial"), irda = PStr("IrDA-IrCOMM"), name = PStr("Built-in Ethernet");
    auto account = PStr("user"), password = PStr("p\xC3\xA4ss"), number = PStr("0570-000"), alt = PStr("0570-001");
    auto script = PStr("PHS Card"), proxyHost = PStr("proxy.example"), dhcp = PStr("DHCP"), manual = PStr("Manual");
    auto clientID = PStr("client"), node = PStr("Node"), zone = PStr("Zone"), network = PStr("HomeNet");
    auto exceptions = Strings({"*.local"});
    auto domain1 = PStr("example.com"), domain2 = PStr("example.net");
    const PString* domains[] = {domain1.get(), domain2.get()};
    const in_addr servers[] = {Addr("10.0.0.1"), Addr("192.168.1.254")};
    NetSCPPPOptions noEcho = kNetSCPPPOptionsDefault;
    noEcho.lcpEchoEnabled = false;
    noEcho.verboseLogging = true;
    noEcho.commRedialCount = 5;

    struct Case {
        const char* name;
        const char* protocol;
        std::function<void(NetSCDigest&)> fill;
        std::vector<Entry> expected;
    };
    const std::vector<Case> cases = {
        {"PPP, active, default options", "PPP", [](NetSCDigest& d) { d.ppp.active = true; }, PPPDefaults(false)},
        {"PPP, inactive", "PPP", [](NetSCDigest&) {}, PPPDefaults(true)},
        {"PPP with account and options", "PPP",
         [&](NetSCDigest& d) {
             d.ppp.active = true;
             d.ppp.userDefinedName = name.get();
             d.ppp.authName = account.get();
             d.ppp.authPassword = password.get();
             d.ppp.commRemoteAddress = number.get();
             d.ppp.commAlternateRemoteAddress = alt.get();
             d.ppp.options = &noEcho;
         },
         {{"UserDefinedName", name}, {"DialOnDemand", PNum(0)}, {"DisconnectOnIdle", PNum(1)},
          {"DisconnectOnIdleTimer", PNum(900)}, {"DisconnectOnLogout", PNum(1)}, {"IdleReminder", PNum(0)},
          {"IdleReminderTimer", PNum(1800)}, {"Logfile", PStr("/tmp/ppp.log")}, {"VerboseLogging", PNum(1)},
          {"AuthName", account}, {"AuthPassword", PData::Create("\x00p\x00\xE4\x00s\x00s", 8)},
          {"CommAlternateRemoteAddress", alt}, {"CommDisplayTerminalWindow", PNum(0)}, {"CommRedialCount", PNum(5)},
          {"CommRedialEnabled", PNum(1)}, {"CommRedialInterval", PNum(30)}, {"CommRemoteAddress", number},
          {"IPCPCompressionVJ", PNum(1)}, {"LCPEchoEnabled", PNum(0)}, {"LCPEchoFailure", PNum(3)},
          {"LCPEchoInterval", PNum(10)}}},
        {"Modem from the default", "Modem",
         [&](NetSCDigest& d) {
             d.modem = kNetSCModemDigestDefault;
             d.modem.connectionScript = script.get();
         },
         {{"ConnectionScript", script}, {"DataCompression", PNum(1)}, {"DialMode", PStr("WaitForDialTone")},
          {"ErrorCorrection", PNum(1)}, {"PulseDial", PNum(0)}, {"Speaker", PNum(1)}}},
        {"Modem, no dial tone, pulse, quiet", "Modem",
         [&](NetSCDigest& d) {
             d.modem.connectionScript = script.get();
             d.modem.pulseDial = true;
         },
         {{"ConnectionScript", script}, {"DataCompression", PNum(0)}, {"DialMode", PStr("IgnoreDialTone")},
          {"ErrorCorrection", PNum(0)}, {"PulseDial", PNum(1)}, {"Speaker", PNum(0)}}},
        {"Proxies, zero-filled", "Proxies", [](NetSCDigest&) {},
         {{"FTPPassive", PNum(0)}, {"FTPEnable", PNum(0)}, {"GopherEnable", PNum(0)}, {"HTTPEnable", PNum(0)},
          {"HTTPSEnable", PNum(0)}, {"RTSPEnable", PNum(0)}, {"SOCKSEnable", PNum(0)}}},
        {"Proxies, HTTP without port, SOCKS with one", "Proxies",
         [&](NetSCDigest& d) {
             d.proxies.exceptionsList = exceptions.get();
             d.proxies.ftpPassive = true;
             d.proxies.httpEnable = true;
             d.proxies.httpProxy = proxyHost.get();
             d.proxies.socksProxy = proxyHost.get();
             d.proxies.socksPort = 1080;
         },
         {{"ExceptionsList", exceptions}, {"FTPPassive", PNum(1)}, {"FTPEnable", PNum(0)}, {"GopherEnable", PNum(0)},
          {"HTTPEnable", PNum(1)}, {"HTTPProxy", proxyHost}, {"HTTPSEnable", PNum(0)}, {"RTSPEnable", PNum(0)},
          {"SOCKSEnable", PNum(0)}, {"SOCKSProxy", proxyHost}, {"SOCKSPort", PNum(1080)}}},
        {"Interface, four keys", "Interface",
         [&](NetSCDigest& d) {
             d.interface.deviceName = en0.get();
             d.interface.hardware = ethernet.get();
             d.interface.type = ethernet.get();
             d.interface.userDefinedName = name.get();
         },
         {{"DeviceName", en0}, {"UserDefinedName", name}, {"Hardware", ethernet}, {"Type", ethernet}}},
        {"Interface of a modem", "Interface",
         [&](NetSCDigest& d) {
             d.interface.deviceName = en0.get();
             d.interface.hardware = modem.get();
             d.interface.hardwareVariant = irda.get();
             d.interface.type = ppp.get();
             d.interface.subType = serial.get();
             d.interface.userDefinedName = name.get();
         },
         {{"DeviceName", en0}, {"UserDefinedName", name}, {"Hardware", modem}, {"Type", ppp}, {"SubType", serial},
          {"HardwareVariant", irda}}},
        {"IPv4 DHCP", "IPv4", [&](NetSCDigest& d) { d.ipv4.configMethod = dhcp.get(); }, {{"ConfigMethod", dhcp}}},
        {"IPv4 DHCP with client ID", "IPv4",
         [&](NetSCDigest& d) {
             d.ipv4.configMethod = dhcp.get();
             d.ipv4.clientID = clientID.get();
         },
         {{"ConfigMethod", dhcp}, {"DHCPClientID", clientID}}},
        {"IPv4 manual", "IPv4",
         [&](NetSCDigest& d) {
             d.ipv4.configMethod = manual.get();
             d.ipv4.address = Addr("10.0.1.2");
             d.ipv4.subnetMask = Addr("255.255.255.0");
             d.ipv4.router = Addr("10.0.1.1");
         },
         {{"ConfigMethod", manual}, {"Addresses", Strings({"10.0.1.2"})}, {"SubnetMasks", Strings({"255.255.255.0"})},
          {"Router", PStr("10.0.1.1")}}},
        {"DNS, zero-filled", "DNS", [](NetSCDigest&) {}, {}},
        {"DNS with servers and domains", "DNS",
         [&](NetSCDigest& d) {
             d.dns.serverAddressCount = 2;
             d.dns.serverAddresses = servers;
             d.dns.searchDomainCount = 2;
             d.dns.searchDomains = domains;
         },
         {{"ServerAddresses", Strings({"10.0.0.1", "192.168.1.254"})},
          {"SearchDomains", Strings({"example.com", "example.net"})}}},
        {"AppleTalk, inactive, no node", "AppleTalk", [&](NetSCDigest& d) { d.appleTalk.configMethod = node.get(); },
         {{"ConfigMethod", node}, {"__INACTIVE__", PNum(1)}}},
        {"AppleTalk with node and zone", "AppleTalk",
         [&](NetSCDigest& d) {
             d.appleTalk.active = true;
             d.appleTalk.configMethod = node.get();
             d.appleTalk.defaultZone = zone.get();
             d.appleTalk.nodeAndNetworkValid = true;
             d.appleTalk.networkID = 65280;
             d.appleTalk.nodeID = 200;
         },
         {{"ConfigMethod", node}, {"DefaultZone", zone}, {"NetworkID", PNum(65280)}, {"NodeID", PNum(200)}}},
        {"Ethernet", "Ethernet",
         [](NetSCDigest& d) {
             const uint8_t mac[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
             std::copy(mac, mac + 6, d.ethernet.macAddress);
         },
         {{"MACAddress", PStr("12:34:56:78:9a:bc")}}},
        {"AirPort", "AirPort",
         [&](NetSCDigest& d) {
             d.airPort.macAddress[5] = 1;
             d.airPort.preferredNetwork = network.get();
         },
         {{"MACAddress", PStr("00:00:00:00:00:01")}, {"PreferredNetwork", network}}},
    };
    for (const auto& c : cases) {
        NetSCDigest digest;
        c.fill(digest);
        PRef<PDictionary> entity;
        const OSStatus s = NetSCCreateEntity(PStr(c.protocol).get(), &digest, entity);
        ExpectEntity(c.name, s, entity.get(), c.expected);
    }
}

TEST(Entities, GlobalEntitiesAndUnknownProtocols)
{
    NetSCGlobalDigest global{};
    PRef<PDictionary> entity;
    OSStatus s = NetSCCreateGlobalEntity(PStr("IPv4").get(), &global, entity);
    ExpectEntity("global IPv4", s, entity.get(), {{"PPPOverridePrimary", PNum(0)}, {"ServiceOrder", PArray::CreateMutable()}});
    entity.reset();
    s = NetSCCreateGlobalEntity(PStr("NetInfo").get(), &global, entity);
    ExpectEntity("global NetInfo", s, entity.get(), {});

    NetSCDigest digest;
    struct Case {
        bool global;
        const char* protocol;
    };
    const Case unknown[] = {{false, "NetInfo"}, {false, "Global"}, {false, "ppp"}, {true, "PPP"}, {true, "DNS"}};
    for (const auto& c : unknown) {
        testing::internal::CaptureStderr(); // the debug assertion
        entity.reset();
        s = c.global ? NetSCCreateGlobalEntity(PStr(c.protocol).get(), &global, entity)
                                    : NetSCCreateEntity(PStr(c.protocol).get(), &digest, entity);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(s, -1) << c.protocol;
        EXPECT_FALSE(entity) << c.protocol;
    }
}

TEST(Entities, Defaults)
{
    const NetSCPPPOptions& o = kNetSCPPPOptionsDefault;
    EXPECT_FALSE(o.dialOnDemand || o.idleReminder || o.commDisplayTerminalWindow || o.verboseLogging);
    EXPECT_TRUE(o.disconnectOnIdle && o.disconnectOnLogout && o.commRedialEnabled && o.lcpEchoEnabled &&
                o.ipcpCompressionVJ);
    EXPECT_EQ(o.idleReminderTimer, 1800);
    EXPECT_EQ(o.disconnectOnIdleTimer, 900);
    EXPECT_EQ(o.commRedialCount, 1);
    EXPECT_EQ(o.commRedialInterval, 30);
    const NetSCModemDigest& m = kNetSCModemDigestDefault;
    EXPECT_EQ(m.connectionScript, nullptr);
    EXPECT_TRUE(m.dataCompressionAndErrorCorrection && m.speaker && m.waitForDialTone);
    EXPECT_FALSE(m.pulseDial);
    // A new digest is zero-filled in every member.
    NetSCDigest d;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&d);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof d, [](unsigned char b) { return b == 0; }));
}

} // namespace
