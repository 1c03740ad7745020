#include "NetSCF/NetSCFFixture.h"

namespace {

using AccessTest = NetSCFTest;

// Marks the connection's copy changed, the way an operation of the library would.
void Touch(const char* value)
{
    ASSERT_TRUE(SCPreferencesSetValue(gPrefsRef.get(), "Marker", PStr(value).get()));
}

TEST_F(AccessTest, NestedOpensShareOneLockedConnectionAndCommitOnceAtTheEnd)
{
    WriteStore();
    ASSERT_EQ(NetSCOpen(true, true), kStatusOK);
    SCPreferences* outer = gPrefsRef.get();
    ASSERT_TRUE(outer && outer->IsLocked());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
        EXPECT_EQ(gPrefsRef.get(), outer);
        Touch(("nested " + std::to_string(i)).c_str());
        OSStatus err = kStatusOK;
        NetSCClose(&err, true);
        EXPECT_EQ(err, kStatusOK);
    }
    EXPECT_EQ(gPrefsOpenCount, 1);
    EXPECT_EQ(mApplies, 0);
    EXPECT_FALSE(OnDiskTop("Marker")) << "nothing is written before the outermost close";
    // Another process-side connection cannot take the lock meanwhile.
    auto other = SCPreferencesCreate("other");
    EXPECT_FALSE(SCPreferencesLock(other.get(), false));

    OSStatus err = kStatusOK;
    NetSCClose(&err, false);
    EXPECT_EQ(err, kStatusOK);
    EXPECT_EQ(mApplies, 1);
    ASSERT_TRUE(OnDiskTop("Marker"));
    EXPECT_TRUE(OnDiskTop("Marker")->Equals(*PStr("nested 2")));
    EXPECT_TRUE(SCPreferencesLock(other.get(), false)) << "the outermost close unlocks";
}

TEST_F(AccessTest, CloseCommitRule)
{
    struct Case {
        const char* name;
        OSStatus nestedStatus;
        bool nestedCommit;
        OSStatus outerStatus;
        bool outerCommit;
        bool committed;
        OSStatus outerAfter;
    };
    const Case cases[] = {
        {"nested success, outer failure", 0, true, kStatusBadParam, false, true, kStatusBadParam},
        {"nested failure alone", kStatusBadParam, true, kStatusOK, false, false, kStatusOK},
        {"nested read, outer commit", 0, false, kStatusOK, true, true, kStatusOK},
        {"nested failure, outer commit", kStatusBadParam, true, kStatusOK, true, true, kStatusOK},
        {"both failing", kStatusBadParam, true, kStatusBadParam, true, false, kStatusBadParam},
        {"nobody commits", 0, false, 0, false, false, kStatusOK},
    };
    for (const auto& c : cases) {
        WriteStore();
        mApplies = 0;
        ASSERT_EQ(NetSCOpen(true, true), kStatusOK);
        ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
        Touch(c.name);
        OSStatus nested = c.nestedStatus;
        NetSCClose(&nested, c.nestedCommit);
        EXPECT_EQ(nested, c.nestedStatus) << c.name;
        OSStatus outer = c.outerStatus;
        NetSCClose(&outer, c.outerCommit);
        EXPECT_EQ(outer, c.outerAfter) << c.name;
        EXPECT_EQ(mApplies, c.committed ? 1 : 0) << c.name;
        auto marker = OnDiskTop("Marker");
        EXPECT_EQ(static_cast<bool>(marker), c.committed) << c.name;
        EXPECT_EQ(gPrefsOpenCount, 0) << c.name;
        EXPECT_FALSE(gPrefsLocked || gPrefsDirty || gPrefsRef) << c.name;
    }
}

TEST_F(AccessTest, FailedCommitKeepsApplyFromRunningAndReachesTheCaller)
{
    WriteStore();
    // Without the lock, another writer's commit makes this connection's copy stale.
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    Touch("mine");
    {
        auto other = SCPreferencesCreate("other");
        ASSERT_TRUE(SCPreferencesSetValue(other.get(), "Marker", PStr("theirs").get()));
        ASSERT_TRUE(SCPreferencesCommitChanges(other.get()));
    }
    OSStatus err = kStatusOK;
    NetSCClose(&err, true);
    EXPECT_EQ(err, kStoreStatusStale);
    EXPECT_EQ(mApplies, 0);
    EXPECT_TRUE(OnDiskTop("Marker")->Equals(*PStr("theirs")));

    // A failing apply reaches the caller as well, after the commit.
    mApplyStatus = 4321;
    ASSERT_EQ(NetSCOpen(true, true), kStatusOK);
    Touch("applied");
    err = kStatusOK;
    NetSCClose(&err, true);
    EXPECT_EQ(err, 4321);
    EXPECT_EQ(mApplies, 1);
    EXPECT_TRUE(OnDiskTop("Marker")->Equals(*PStr("applied")));

    // Neither replaces a status the caller already has.
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    Touch("again");
    OSStatus nested = kStatusOK;
    NetSCClose(&nested, true);
    err = kStatusBadParam;
    NetSCClose(&err, false);
    EXPECT_EQ(err, kStatusBadParam);
    EXPECT_EQ(mApplies, 2);
}

TEST_F(AccessTest, OpenFailuresCountAndAreMatchedByClose)
{
    StoreSandbox::WriteRaw("not a store");
    EXPECT_EQ(NetSCOpen(true, true), kStoreStatusCorrupt);
    EXPECT_EQ(gPrefsOpenCount, 1);
    EXPECT_FALSE(gPrefsRef);
    // Everything inside fails, with a store status.
    PRef<PString> path;
    EXPECT_GT(CopySetPath(nullptr, path), 0);
    EXPECT_FALSE(path);
    OSStatus err = kStatusOK;
    NetSCClose(&err, true);
    EXPECT_EQ(gPrefsOpenCount, 0);
    EXPECT_EQ(StoreSandbox::ReadRaw(), "not a store");

    // A lock held elsewhere: the open fails at once without waiting, still counts, stays unlocked.
    WriteStore();
    auto holder = SCPreferencesCreate("holder");
    ASSERT_TRUE(SCPreferencesLock(holder.get(), false));
    EXPECT_EQ(NetSCOpen(true, false), kStoreStatusLocked);
    EXPECT_EQ(gPrefsOpenCount, 1);
    EXPECT_TRUE(gPrefsRef);
    EXPECT_FALSE(gPrefsLocked);
    err = kStoreStatusLocked;
    NetSCClose(&err, true);
    EXPECT_EQ(mApplies, 0);
}

TEST_F(AccessTest, NestedOpenTakesTheLockUntilTheOutermostClose)
{
    WriteStore();
    auto other = SCPreferencesCreate("other");
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    EXPECT_FALSE(gPrefsLocked);
    ASSERT_EQ(NetSCOpen(true, false), kStatusOK);
    EXPECT_TRUE(gPrefsLocked);
    OSStatus err = kStatusOK;
    NetSCClose(&err, false);
    EXPECT_TRUE(gPrefsLocked);
    EXPECT_FALSE(SCPreferencesLock(other.get(), false));
    NetSCClose(&err, false);
    EXPECT_FALSE(gPrefsLocked);
    EXPECT_TRUE(SCPreferencesLock(other.get(), false));
}

TEST_F(AccessTest, ClientNameAndStatusMapping)
{
    WriteStore();
    const auto nameOfNewConnection = [] {
        EXPECT_EQ(NetSCOpen(false, false), kStatusOK);
        const std::string name = gPrefsRef ? gPrefsRef->ClientName() : "";
        OSStatus err = kStatusOK;
        NetSCClose(&err, false);
        return name;
    };
    EXPECT_EQ(nameOfNewConnection(), "NetSCF");
    NetSCSetClient(PStr("KavantiTool").get());
    EXPECT_EQ(nameOfNewConnection(), "KavantiTool");
    NetSCSetClient(nullptr);
    EXPECT_EQ(nameOfNewConnection(), "NetSCF");

    SCErrorSet(0);
    EXPECT_EQ(NetSCErrorBoolean(true), kStatusOK);
    EXPECT_EQ(NetSCErrorBoolean(false), 1001);
    SCErrorSet(kStoreStatusNoKey);
    EXPECT_EQ(NetSCErrorBoolean(false), kStoreStatusNoKey);
    EXPECT_EQ(NetSCError(PRef<PString>()), kStoreStatusNoKey);
    EXPECT_EQ(NetSCError(PStr("x")), kStatusOK);
    EXPECT_EQ(NetSCToOSStatus(1007), 1007);
}

TEST_F(AccessTest, IDsFromPaths)
{
    struct Case {
        const char* path;
        const char* id; // nullptr: fails
    };
    const Case cases[] = {
        {"/NetworkServices/12", "12"},
        {"/Sets/3", "3"},
        {"/Sets/3/Network/Service", "3"},
        {"/Sets", nullptr},
        {"/Sets/", nullptr},
        {"/", nullptr},
        {"", nullptr},
        {"Sets/3", nullptr},
    };
    for (const auto& c : cases) {
        PRef<PString> id;
        const OSStatus s = CopySeIDFromSePath(PStr(c.path).get(), id);
        if (c.id) {
            EXPECT_EQ(s, kStatusOK) << c.path;
            ASSERT_TRUE(id) << c.path;
            EXPECT_EQ(id->UTF8(), c.id) << c.path;
        } else {
            EXPECT_NE(s, kStatusOK) << c.path;
            EXPECT_FALSE(id) << c.path;
        }
    }
    PRef<PString> path;
    ASSERT_EQ(CreateSetPathWithSetID(PStr("7").get(), path), kStatusOK);
    EXPECT_EQ(path->UTF8(), "/Sets/7");
    path.reset();
    ASSERT_EQ(CreateServicePathWithServiceID(PStr("12").get(), path), kStatusOK);
    EXPECT_EQ(path->UTF8(), "/NetworkServices/12");
}

TEST_F(AccessTest, PathResolution)
{
    auto tree = Tree();
    tree->Set("CurrentSet", PStr("/Sets/99")); // names a set that is gone
    WriteStore(*tree);
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);

    struct Case {
        const char* name;
        const char* setID;
        const char* serviceID;
        const char* protocol; // nullptr: the resolved service path
        OSStatus status;
        const char* path;
    };
    const Case cases[] = {
        {"local and resolved IDs differ", "7", "A", nullptr, 0, "/NetworkServices/SA"},
        {"same IDs", "7", "B", nullptr, 0, "/NetworkServices/B"},
        {"no service: the globals", "7", nullptr, nullptr, 0, "/Sets/7/Network/Global"},
        {"entity", "7", "A", "PPP", 0, "/NetworkServices/SA/PPP"},
        {"global entity", "0", nullptr, "IPv4", 0, "/Sets/0/Network/Global/IPv4"},
        {"no link for the ID", "7", "S1", nullptr, kStoreStatusNoKey, nullptr},
        {"current set gone", nullptr, "A", nullptr, kStoreStatusNoKey, nullptr},
        {"current set path as stored", nullptr, nullptr, nullptr, 0, "/Sets/99/Network/Global"},
    };
    for (const auto& c : cases) {
        PRef<PString> path;
        auto set = c.setID ? PStr(c.setID) : PRef<PString>();
        auto service = c.serviceID ? PStr(c.serviceID) : PRef<PString>();
        const OSStatus s = c.protocol ? CopyEntityPath(set.get(), service.get(), PStr(c.protocol).get(), path)
                                      : CopyResolvedServicePath(set.get(), service.get(), path);
        EXPECT_EQ(s, c.status) << c.name;
        if (c.path) {
            ASSERT_TRUE(path) << c.name;
            EXPECT_EQ(path->UTF8(), c.path) << c.name;
        } else {
            EXPECT_FALSE(path) << c.name;
        }
    }
    // An entry in the services dictionary that is not a link.
    ASSERT_TRUE(SCPreferencesPathSetValue(gPrefsRef.get(), "/Sets/7/Network/Service/X", Dict({{"Foo", PNum(1)}}).get()));
    PRef<PString> path;
    EXPECT_EQ(CopyResolvedServicePath(PStr("7").get(), PStr("X").get(), path), kStoreStatusNoKey);
    EXPECT_FALSE(path);

    EXPECT_EQ(CopySetPath(nullptr, path), kStatusOK);
    EXPECT_EQ(path->UTF8(), "/Sets/99");
    EXPECT_FALSE(SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8()));

    OSStatus err = kStatusOK;
    NetSCClose(&err, false);
}

TEST_F(AccessTest, PreferencesPathSetPropertyAndNewChildren)
{
    WriteStore();
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    auto key = PStr("UserDefinedName");
    EXPECT_EQ(PreferencesPathSetProperty(PStr("/Sets/7").get(), key.get(), PStr("Work").get()), kStatusOK);
    auto set = SCPreferencesPathGetValue(gPrefsRef.get(), "/Sets/7");
    EXPECT_EQ(set->GetAs<PString>("UserDefinedName")->UTF8(), "Work");
    EXPECT_TRUE(set->Get("Network")) << "the other keys stay";

    EXPECT_EQ(PreferencesPathSetProperty(PStr("/Sets/42").get(), key.get(), PStr("x").get()), kStoreStatusNoKey);
    EXPECT_FALSE(SCPreferencesPathGetValue(gPrefsRef.get(), "/Sets/42"));

    PRef<PString> id, path;
    ASSERT_EQ(MakeNewSeAndCopyIDAndPath(PStr("NetworkServices").get(), id, path), kStatusOK);
    EXPECT_EQ(path->UTF8(), "/NetworkServices/" + id->UTF8());
    EXPECT_TRUE(SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8()));
    OSStatus err = kStatusOK;
    NetSCClose(&err, false);

    // On a fresh machine the parent does not exist yet.
    std::filesystem::remove(StoreSandbox::Store());
    ASSERT_EQ(NetSCOpen(false, false), kStatusOK);
    id.reset();
    path.reset();
    ASSERT_EQ(MakeNewSeAndCopyIDAndPath(PStr("Sets").get(), id, path), kStatusOK);
    EXPECT_EQ(path->UTF8(), "/Sets/" + id->UTF8());
    NetSCClose(&err, false);
}

#ifndef NDEBUG
TEST_F(AccessTest, AssertionsGoToStandardError)
{
    testing::internal::CaptureStderr();
    PRef<PString> path;
    EXPECT_EQ(CreateSetPathWithSetID(nullptr, path), kStatusBadParam);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("NetSCAssert failure: setID != nullptr", 0), 0u) << err;
}
#endif

} // namespace
