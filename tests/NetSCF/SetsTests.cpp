#include "NetSCF/NetSCFSets.h"
#include "NetSCF/NetSCFFixture.h"

namespace {

using SetsTest = NetSCFTest;

TEST_F(SetsTest, FindSetByName)
{
    WriteStore();
    struct Case {
        const char* name;
        const char* id; // nullptr: none found
    };
    const Case cases[] = {{"Office", "7"}, {"Home", "0"}, {"office", nullptr}, {"Offic", nullptr}, {"", nullptr}};
    for (const auto& c : cases) {
        PRef<PString> id;
        EXPECT_EQ(NetSCFindSetByUserVisibleNameAndCopyID(PStr(c.name).get(), id), kStatusOK) << c.name;
        EXPECT_EQ(id ? id->UTF8() : std::string("<none>"), c.id ? c.id : "<none>") << c.name;
    }
    EXPECT_EQ(mApplies, 0);

    // A set without a name met before the match ends the search; an empty store finds nothing.
    auto tree = Tree();
    auto sets = PRefCast<PDictionary>(tree->GetRef("Sets"))->MutableCopy();
    auto unnamed = PRefCast<PDictionary>(sets->GetRef("0"))->MutableCopy();
    unnamed->Remove("UserDefinedName");
    sets->Set("0", unnamed);
    tree->Set("Sets", sets);
    WriteStore(*tree);
    PRef<PString> id;
    EXPECT_EQ(NetSCFindSetByUserVisibleNameAndCopyID(PStr("Office").get(), id), kStatusValueNotMade);
    EXPECT_FALSE(id);
    EXPECT_EQ(NetSCCopyUserVisibleNameOfSet(PStr("0").get(), id), kStatusValueNotMade);
    EXPECT_FALSE(id);

    WriteStore(*Dict({{"Sets", Dict({})}}));
    EXPECT_EQ(NetSCFindSetByUserVisibleNameAndCopyID(PStr("Office").get(), id), kStatusOK);
    EXPECT_FALSE(id);
}

TEST_F(SetsTest, SetIDsAndTheCurrentSetIndex)
{
    struct Case {
        const char* name;
        const char* currentSet; // nullptr: no "CurrentSet"
        bool withIndex;
        OSStatus status;
        int32_t index;
    };
    const Case cases[] = {
        {"current is the second", "/Sets/7", true, 0, 1},
        {"current is the first", "/Sets/0", true, 0, 0},
        {"current set gone: index kept", "/Sets/99", true, 0, -5},
        {"no current set, with index", nullptr, true, kStoreStatusNoKey, -5},
        {"no current set, without index", nullptr, false, 0, -5},
    };
    for (const auto& c : cases) {
        auto tree = Tree();
        if (c.currentSet) tree->Set("CurrentSet", PStr(c.currentSet));
        else tree->Remove("CurrentSet");
        WriteStore(*tree);
        PRef<PArray> ids;
        int32_t index = -5;
        EXPECT_EQ(NetSCCopySetIDs(ids, c.withIndex ? &index : nullptr), c.status) << c.name;
        EXPECT_EQ(index, c.index) << c.name;
        if (c.status == kStatusOK) EXPECT_EQ(Texts(ids.get()), (std::vector<std::string>{"0", "7"})) << c.name;
        else EXPECT_FALSE(ids) << c.name;
    }
    WriteStore(*Dict({}));
    PRef<PArray> ids;
    EXPECT_EQ(NetSCCopySetIDs(ids, nullptr), kStoreStatusNoKey);
    PRef<PDictionary> sets;
    EXPECT_EQ(NetSCCopySetsDict(sets), kStoreStatusNoKey);
    EXPECT_FALSE(sets);
}

TEST_F(SetsTest, CurrentSetAndRenaming)
{
    WriteStore();
    ASSERT_EQ(NetSCSetCurrentSet(PStr("0").get()), kStatusOK);
    EXPECT_EQ(mApplies, 1);
    ASSERT_TRUE(OnDiskTop("CurrentSet"));
    EXPECT_TRUE(OnDiskTop("CurrentSet")->Equals(*PStr("/Sets/0")));
    PRef<PString> id;
    ASSERT_EQ(NetSCCopyCurrentSet(id), kStatusOK);
    EXPECT_EQ(id->UTF8(), "0");

    ASSERT_EQ(NetSCRenameSet(PStr("7").get(), PStr("Work").get()), kStatusOK);
    auto set = OnDisk("/Sets/7");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->GetAs<PString>("UserDefinedName")->UTF8(), "Work");
    EXPECT_TRUE(set->Get("Network"));
    PRef<PString> name;
    ASSERT_EQ(NetSCCopyUserVisibleNameOfSet(PStr("7").get(), name), kStatusOK);
    EXPECT_EQ(name->UTF8(), "Work");

    // Renaming a set that does not exist fails and creates nothing.
    const std::string before = StoreSandbox::ReadRaw();
    EXPECT_EQ(NetSCRenameSet(PStr("42").get(), PStr("Ghost").get()), kStoreStatusNoKey);
    EXPECT_EQ(StoreSandbox::ReadRaw(), before);
    EXPECT_EQ(mApplies, 2);

    auto tree = Tree();
    tree->Remove("CurrentSet");
    WriteStore(*tree);
    id.reset();
    EXPECT_EQ(NetSCCopyCurrentSet(id), kStoreStatusNoKey);
    EXPECT_FALSE(id);
}

} // namespace
