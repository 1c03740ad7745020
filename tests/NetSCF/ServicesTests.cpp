#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFFixture.h"

namespace {

using ServicesTest = NetSCFTest;

const PRef<PString> kOffice = PStr("7");

PRef<PString> S(const char* s) { return PStr(s); }

TEST_F(ServicesTest, ServiceIDsFollowTheOrderAndResolveLinks)
{
    WriteStore();
    PRef<PArray> local, resolved;
    ASSERT_EQ(NetSCCopyServiceIDs(kOffice.get(), &local, &resolved), kStatusOK);
    EXPECT_EQ(Texts(local.get()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(Texts(resolved.get()), (std::vector<std::string>{"SA", "B", "C"}));
    // None: the current set, which is 7.
    local.reset();
    ASSERT_EQ(NetSCCopyServiceIDs(nullptr, &local, nullptr), kStatusOK);
    EXPECT_EQ(Texts(local.get()), (std::vector<std::string>{"A", "B", "C"}));
    local.reset();
    resolved.reset();
    ASSERT_EQ(NetSCCopyServiceIDs(S("0").get(), &local, &resolved), kStatusOK);
    EXPECT_EQ(Texts(local.get()), Texts(resolved.get()));

    // An ID in the order without a link: the local list is fine, resolving fails.
    ASSERT_EQ(NetSCSetServicesDict(kOffice.get(), nullptr, Strings({"A", "B", "C", "D"}).get()), kStatusOK);
    local.reset();
    ASSERT_EQ(NetSCCopyServiceIDs(kOffice.get(), &local, nullptr), kStatusOK);
    EXPECT_EQ(local->Count(), 4u);
    local.reset();
    resolved.reset();
    EXPECT_EQ(NetSCCopyServiceIDs(kOffice.get(), &local, &resolved), kStoreStatusNoKey);
    EXPECT_FALSE(local);
    EXPECT_FALSE(resolved);
}

TEST_F(ServicesTest, ServicesDictionaryAndOrder)
{
    WriteStore();
    PRef<PDictionary> services;
    PRef<PArray> order;
    ASSERT_EQ(NetSCCopyServicesDict(kOffice.get(), &services, &order), kStatusOK);
    EXPECT_EQ(services->Count(), 3u);
    EXPECT_FALSE(services->IsMutable());
    EXPECT_EQ(Texts(order.get()), (std::vector<std::string>{"A", "B", "C"}));

    PRef<PDictionary> mutServices;
    PRef<PArray> mutOrder;
    ASSERT_EQ(NetSCCopyServicesDictMutable(kOffice.get(), &mutServices, &mutOrder), kStatusOK);
    EXPECT_TRUE(mutServices->IsMutable() && mutOrder->IsMutable());

    // Setting the order alone keeps the services dictionary and the other global IPv4 keys.
    auto reversed = Strings({"C", "B", "A"});
    ASSERT_EQ(NetSCSetServicesDict(kOffice.get(), nullptr, reversed.get()), kStatusOK);
    EXPECT_EQ(mApplies, 1);
    auto ipv4 = OnDisk("/Sets/7/Network/Global/IPv4");
    ASSERT_TRUE(ipv4);
    EXPECT_TRUE(ipv4->Get("ServiceOrder")->Equals(*reversed));
    EXPECT_TRUE(ipv4->Get("PPPOverridePrimary")->Equals(*PNum(1)));
    EXPECT_TRUE(OnDisk("/Sets/7/Network/Service")->Equals(*services));

    // Both together.
    mutServices->Remove("C");
    ASSERT_EQ(NetSCSetServicesDict(kOffice.get(), mutServices.get(), Strings({"A", "B"}).get()), kStatusOK);
    EXPECT_EQ(OnDisk("/Sets/7/Network/Service")->Count(), 2u);

    // A set without "ServiceOrder": every read of the order fails with -4960.
    auto tree = Tree();
    WriteStore(*tree);
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    ASSERT_TRUE(SCPreferencesPathSetValue(gPrefsRef.get(), "/Sets/7/Network/Global/IPv4", Dict({}).get()));
    services.reset();
    order.reset();
    EXPECT_EQ(NetSCCopyServicesDict(kOffice.get(), &services, nullptr), kStatusOK);
    services.reset();
    EXPECT_EQ(NetSCCopyServicesDict(kOffice.get(), &services, &order), kStatusValueNotMade);
    EXPECT_FALSE(services || order);
    mutServices.reset();
    EXPECT_EQ(NetSCCopyServicesDictMutable(kOffice.get(), &mutServices, nullptr), kStatusValueNotMade);
    EXPECT_FALSE(mutServices);
    PRef<PArray> local;
    EXPECT_EQ(NetSCCopyServiceIDs(kOffice.get(), &local, nullptr), kStatusValueNotMade);
    OSStatus err = kStatusOK;
    NetSCClose(&err, false);

    // A set that does not exist.
    services.reset();
    EXPECT_EQ(NetSCCopyServicesDict(S("42").get(), &services, nullptr), kStoreStatusNoKey);
}

TEST_F(ServicesTest, ActiveAndInactive)
{
    struct Case {
        const char* service;
        bool before;
        bool set;
        bool commits;
    };
    const Case cases[] = {
        {"A", true, true, false},  // active stays active: nothing written
        {"B", false, true, true},  // inactive becomes active
        {"A", true, false, true},  // active becomes inactive
        {"B", false, false, false},
    };
    for (const auto& c : cases) {
        WriteStore();
        mApplies = 0;
        const std::string before = StoreSandbox::ReadRaw();
        bool active = !c.before;
        ASSERT_EQ(NetSCIsServiceActive(kOffice.get(), S(c.service).get(), &active), kStatusOK);
        EXPECT_EQ(active, c.before) << c.service;
        ASSERT_EQ(NetSCSetServiceActive(kOffice.get(), S(c.service).get(), c.set), kStatusOK);
        EXPECT_EQ(mApplies, c.commits ? 1 : 0) << c.service << " -> " << c.set;
        if (!c.commits) {
            EXPECT_EQ(StoreSandbox::ReadRaw(), before);
        }
        ASSERT_EQ(NetSCIsServiceActive(kOffice.get(), S(c.service).get(), &active), kStatusOK);
        EXPECT_EQ(active, c.set);
        const std::string resolved = std::string(c.service) == "A" ? "SA" : c.service;
        auto entities = OnDisk("/NetworkServices/" + resolved);
        if (c.set) EXPECT_FALSE(entities->Get("__INACTIVE__"));
        else EXPECT_TRUE(entities->Get("__INACTIVE__")->Equals(*PNum(1)));
        EXPECT_TRUE(entities->Get("Interface")) << "the entities stay";
    }
    // Only the service's own key counts: A's "PPP" entity is inactive, A is active.
    WriteStore();
    bool active = false;
    ASSERT_EQ(NetSCIsServiceActive(kOffice.get(), S("A").get(), &active), kStatusOK);
    EXPECT_TRUE(active);
    EXPECT_EQ(NetSCSetServiceActive(kOffice.get(), S("Z").get(), false), kStoreStatusNoKey);

    auto dict = Dict({{"k", PNum(1)}});
    bool changed = false;
    EXPECT_EQ(SetDictionaryActive(dict.get(), true, &changed), kStatusOK);
    EXPECT_FALSE(changed);
    EXPECT_EQ(SetDictionaryActive(dict.get(), false, &changed), kStatusOK);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(dict->Get("__INACTIVE__")->Equals(*PNum(1)));
    EXPECT_EQ(SetDictionaryActive(dict.get(), true, nullptr), kStatusOK);
    EXPECT_EQ(dict->Count(), 1u);
}

TEST_F(ServicesTest, NamesAndDevices)
{
    WriteStore();
    struct Case {
        const char* service;
        OSStatus status;
        const char* name;
    };
    const Case cases[] = {
        {"A", 0, "ttyUSB0"},
        {"B", 0, "en1"},
        {"C", kStatusValueNotMade, nullptr},     // interface without "DeviceName"
        {"Z", kStoreStatusNoKey, nullptr},       // no such service
    };
    for (const auto& c : cases) {
        PRef<PString> name;
        EXPECT_EQ(NetSCCopyBSDNameOfService(kOffice.get(), S(c.service).get(), name), c.status) << c.service;
        EXPECT_EQ(name ? name->UTF8() : std::string("<none>"), c.name ? c.name : "<none>") << c.service;
    }
    PRef<PString> name;
    EXPECT_EQ(NetSCCopyBSDNameOfService(S("0").get(), S("S1").get(), name), kStatusOK);
    EXPECT_EQ(name->UTF8(), "en0");

    // A service without an "Interface" entity.
    ASSERT_EQ(NetSCSetEntitiesDict(kOffice.get(), S("C").get(), Dict({{"UserDefinedName", PStr("Third")}}).get()), kStatusOK);
    name.reset();
    EXPECT_EQ(NetSCCopyBSDNameOfService(kOffice.get(), S("C").get(), name), kStoreStatusNoKey);

    ASSERT_EQ(NetSCRenameService(kOffice.get(), S("A").get(), PStr("PHS card").get()), kStatusOK);
    auto entities = OnDisk("/NetworkServices/SA");
    EXPECT_EQ(entities->GetAs<PString>("UserDefinedName")->UTF8(), "PHS card");
    EXPECT_EQ(entities->Count(), 4u);
}

TEST_F(ServicesTest, Entities)
{
    WriteStore();
    auto proxies = PStr("Proxies");
    auto newProxies = Dict({{"HTTPEnable", PNum(1)}, {"HTTPProxy", PStr("proxy.example")}});

    // Adding a protocol the service has is refused and changes nothing; setting replaces it.
    const std::string before = StoreSandbox::ReadRaw();
    EXPECT_EQ(NetSCNewEntity(kOffice.get(), S("A").get(), proxies.get(), newProxies.get()), kStatusBadParam);
    EXPECT_EQ(StoreSandbox::ReadRaw(), before);
    EXPECT_EQ(mApplies, 0);
    ASSERT_EQ(NetSCSetEntity(kOffice.get(), S("A").get(), proxies.get(), newProxies.get()), kStatusOK);
    EXPECT_TRUE(OnDisk("/NetworkServices/SA/Proxies")->Equals(*newProxies));
    EXPECT_TRUE(OnDisk("/NetworkServices/SA/PPP")) << "the other entities stay";

    // A new protocol is added.
    auto dns = Dict({{"ServerAddresses", Strings({"10.0.0.1"})}});
    ASSERT_EQ(NetSCNewEntity(kOffice.get(), S("B").get(), PStr("DNS").get(), dns.get()), kStatusOK);
    PRef<PDictionary> got;
    ASSERT_EQ(NetSCCopyEntity(kOffice.get(), S("B").get(), PStr("DNS").get(), got), kStatusOK);
    EXPECT_TRUE(got->Equals(*dns));
    EXPECT_FALSE(got->IsMutable());
    got.reset();
    ASSERT_EQ(NetSCCopyEntityMutable(kOffice.get(), S("B").get(), PStr("DNS").get(), got), kStatusOK);
    EXPECT_TRUE(got->IsMutable());
    got.reset();
    EXPECT_EQ(NetSCCopyEntity(kOffice.get(), S("B").get(), PStr("Modem").get(), got), kStoreStatusNoKey);
    EXPECT_FALSE(got);

    // Service none: the set's global entities.
    ASSERT_EQ(NetSCCopyEntity(kOffice.get(), nullptr, PStr("IPv4").get(), got), kStatusOK);
    EXPECT_TRUE(got->Get("ServiceOrder")->Equals(*Strings({"A", "B", "C"})));
    auto ipv4 = got->MutableCopy();
    ipv4->Set("ServiceOrder", Strings({"B", "A", "C"}));
    ASSERT_EQ(NetSCSetEntity(kOffice.get(), nullptr, PStr("IPv4").get(), ipv4.get()), kStatusOK);
    PRef<PArray> local;
    ASSERT_EQ(NetSCCopyServiceIDs(kOffice.get(), &local, nullptr), kStatusOK);
    EXPECT_EQ(Texts(local.get()), (std::vector<std::string>{"B", "A", "C"}));
    ASSERT_EQ(NetSCNewEntity(kOffice.get(), nullptr, PStr("NetInfo").get(), Dict({}).get()), kStatusOK);
    EXPECT_TRUE(OnDisk("/Sets/7/Network/Global/NetInfo"));

    // The entities dictionary as a whole.
    PRef<PDictionary> entities;
    ASSERT_EQ(NetSCCopyEntitiesDictMutable(kOffice.get(), S("A").get(), entities), kStatusOK);
    EXPECT_TRUE(entities->IsMutable());
    auto replacement = Dict({{"UserDefinedName", PStr("Only")}});
    ASSERT_EQ(NetSCSetEntitiesDict(kOffice.get(), S("A").get(), replacement.get()), kStatusOK);
    EXPECT_TRUE(OnDisk("/NetworkServices/SA")->Equals(*replacement));
    entities.reset();
    EXPECT_EQ(NetSCCopyEntitiesDict(kOffice.get(), S("Z").get(), entities), kStoreStatusNoKey);
    EXPECT_FALSE(entities);
}

TEST_F(ServicesTest, OperationsJoinTheCallersTransaction)
{
    WriteStore();
    ASSERT_EQ(NetSCOpen(true, true), kStatusOK);
    ASSERT_EQ(NetSCSetServiceActive(kOffice.get(), S("A").get(), false), kStatusOK);
    ASSERT_EQ(NetSCRenameService(kOffice.get(), S("B").get(), PStr("Renamed").get()), kStatusOK);
    EXPECT_EQ(mApplies, 0);
    EXPECT_FALSE(OnDisk("/NetworkServices/SA")->Get("__INACTIVE__"));
    // Inside the transaction the changes are seen.
    bool active = true;
    ASSERT_EQ(NetSCIsServiceActive(kOffice.get(), S("A").get(), &active), kStatusOK);
    EXPECT_FALSE(active);
    OSStatus err = kStatusOK;
    NetSCClose(&err, false);
    EXPECT_EQ(err, kStatusOK);
    EXPECT_EQ(mApplies, 1);
    EXPECT_TRUE(OnDisk("/NetworkServices/SA")->Get("__INACTIVE__"));
    EXPECT_EQ(OnDisk("/NetworkServices/B")->GetAs<PString>("UserDefinedName")->UTF8(), "Renamed");
}

} // namespace
