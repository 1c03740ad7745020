#include "platform/store/SCPreferences.h"
#include "platform/store/StoreXML.h"
#include "support/StoreSandbox.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <grp.h>
#include <plist/plist.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

PRef<PDictionary> Dict(std::initializer_list<std::pair<const char*, PRef<PValue>>> entries)
{
    auto d = PDictionary::CreateMutable();
    for (const auto& [k, v] : entries) d->Set(k, v);
    return d;
}

PRef<PDictionary> Link(const std::string& target) { return Dict({{"__LINK__", PStr(target)}}); }

// An XML store whose "Sets" holds `depth` nested arrays.
std::string NestedStore(int depth)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict><key>Sets</key>";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</dict>\n</plist>\n";
}

// A binary property list of the dictionary {"v": object}, `object` being one encoded object.
std::string BinaryDictWith(const std::string& object)
{
    std::string b = "bplist00";
    const char dictObj[] = {char(0xD1), 1, 2}; // one entry: key object 1, value object 2
    b.append(dictObj, 3);
    b += "\x51v"; // the ASCII string "v"
    b += object;
    const size_t table = b.size();
    b += char(8);
    b += char(11);
    b += char(13);
    std::string trailer(32, '\0');
    trailer[6] = 1;  // offset size
    trailer[7] = 1;  // object reference size
    trailer[15] = 3; // objects
    trailer[31] = static_cast<char>(table);
    return b + trailer;
}

std::string BigEndian(uint64_t v)
{
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i) s[i] = static_cast<char>(v >> (56 - 8 * i));
    return s;
}

std::string BinaryDate(double secondsSince2001)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &secondsSince2001, 8);
    return "\x33" + BigEndian(bits);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SCErrorSet(0);
        SCPreferencesSetDefaultApplyHook({});
    }
    void TearDown() override { SCPreferencesSetDefaultApplyHook({}); }

    static SCPreferencesRef Open()
    {
        auto p = SCPreferencesCreate("StoreTest");
        EXPECT_TRUE(p) << "SCError " << SCError();
        return p;
    }

    StoreSandbox mBox;
};

// ---- reading and paths ----

TEST_F(StoreTest, MissingFileIsAnEmptyTreeAndIsNotCreatedByReading)
{
    auto p = Open();
    ASSERT_TRUE(p);
    EXPECT_FALSE(SCPreferencesGetValue(p.get(), "Sets"));
    EXPECT_EQ(SCError(), kStoreStatusNoKey);
    auto root = SCPreferencesPathGetValue(p.get(), "/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Count(), 0u);
    EXPECT_TRUE(SCPreferencesCommitChanges(p.get())); // nothing changed: nothing written
    EXPECT_FALSE(std::filesystem::exists(StoreSandbox::Store()));
}

TEST_F(StoreTest, PathOperations)
{
    auto p = Open();
    ASSERT_TRUE(p);
    // Missing intermediates are created.
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/Sets/1/Network/Service", Dict({{"a", Link("/NetworkServices/x")}}).get()));
    EXPECT_TRUE(SCPreferencesPathGetValue(p.get(), "/Sets/1/Network"));
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "CurrentSet", PStr("/Sets/1").get()));

    struct Case {
        const char* path;
        bool found;
        OSStatus error;
    };
    const Case getCases[] = {
        {"/Sets/1/Network/Service", true, 0},
        {"/Sets/1/Network/Service/a", true, 0},
        {"/Sets//1/Network/", true, 0},             // empty components are skipped
        {"/Sets/2", false, kStoreStatusNoKey},
        {"/CurrentSet", false, kStoreStatusNoKey},   // a string, not a dictionary
        {"/CurrentSet/x", false, kStoreStatusNoKey}, // below a string
        {"Sets/1", false, kStoreStatusInvalidArgument},
        {"", false, kStoreStatusInvalidArgument},
    };
    for (const auto& c : getCases) {
        SCErrorSet(0);
        EXPECT_EQ(static_cast<bool>(SCPreferencesPathGetValue(p.get(), c.path)), c.found) << c.path;
        EXPECT_EQ(SCError(), c.error) << c.path;
    }

    // Links are read, not followed.
    auto link = SCPreferencesPathGetLink(p.get(), "/Sets/1/Network/Service/a");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->UTF8(), "/NetworkServices/x");
    EXPECT_FALSE(SCPreferencesPathGetLink(p.get(), "/Sets/1/Network"));
    EXPECT_FALSE(SCPreferencesPathGetLink(p.get(), "/Sets/1/Network/Service/b"));

    // Through a value that is not a dictionary, nothing is written.
    SCErrorSet(0);
    EXPECT_FALSE(SCPreferencesPathSetValue(p.get(), "/CurrentSet/x", Dict({}).get()));
    EXPECT_EQ(SCError(), kStoreStatusInvalidArgument);

    // Removing.
    EXPECT_TRUE(SCPreferencesPathRemoveValue(p.get(), "/Sets/1/Network/Service/a"));
    EXPECT_FALSE(SCPreferencesPathGetValue(p.get(), "/Sets/1/Network/Service/a"));
    EXPECT_TRUE(SCPreferencesPathGetValue(p.get(), "/Sets/1/Network/Service"));
    SCErrorSet(0);
    EXPECT_FALSE(SCPreferencesPathRemoveValue(p.get(), "/Sets/1/Network/Service/a"));
    EXPECT_EQ(SCError(), kStoreStatusNoKey);
    EXPECT_FALSE(SCPreferencesPathRemoveValue(p.get(), "/Nothing/here"));
}

TEST_F(StoreTest, StoredValuesAreCopiesAndHandedOutImmutable)
{
    auto p = Open();
    ASSERT_TRUE(p);
    auto mine = Dict({{"k", PStr("v")}});
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/A", mine.get()));
    mine->Set("k", PStr("changed later"));
    auto got = SCPreferencesPathGetValue(p.get(), "/A");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetAs<PString>("k")->UTF8(), "v");
    EXPECT_FALSE(got->Set("k", PStr("in place")));
    EXPECT_EQ(SCPreferencesPathGetValue(p.get(), "/A")->GetAs<PString>("k")->UTF8(), "v");
}

TEST_F(StoreTest, UniqueChildrenCreateTheirParentAndNeverRepeatASibling)
{
    auto p = Open();
    ASSERT_TRUE(p);
    std::set<std::string> keys;
    for (int i = 0; i < 200; ++i) {
        auto path = SCPreferencesPathCreateUniqueChild(p.get(), "/NetworkServices");
        ASSERT_TRUE(path);
        const std::string& s = path->UTF8();
        ASSERT_EQ(s.rfind("/NetworkServices/", 0), 0u) << s;
        const std::string key = s.substr(17);
        EXPECT_EQ(key.size(), 36u) << key;
        EXPECT_EQ(key.find('/'), std::string::npos);
        EXPECT_TRUE(keys.insert(key).second) << "repeated " << key;
        auto child = SCPreferencesPathGetValue(p.get(), s);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Count(), 0u);
    }
    EXPECT_EQ(SCPreferencesPathGetValue(p.get(), "/NetworkServices")->Count(), 200u);
    // Below a value that is not a dictionary there can be no child.
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "CurrentSet", PStr("/Sets/1").get()));
    EXPECT_FALSE(SCPreferencesPathCreateUniqueChild(p.get(), "/CurrentSet"));
}

// ---- commit ----

TEST_F(StoreTest, ChangesReachTheFileOnlyThroughCommit)
{
    auto writer = Open();
    ASSERT_TRUE(SCPreferencesSetValue(writer.get(), "CurrentSet", PStr("/Sets/1").get()));
    EXPECT_TRUE(writer->HasChanges());
    {
        auto reader = Open();
        EXPECT_FALSE(SCPreferencesGetValue(reader.get(), "CurrentSet"));
    }
    ASSERT_TRUE(SCPreferencesCommitChanges(writer.get()));
    EXPECT_FALSE(writer->HasChanges());
    auto reader = Open();
    auto v = PRefCast<PString>(SCPreferencesGetValue(reader.get(), "CurrentSet"));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->UTF8(), "/Sets/1");

    // A connection released without commit leaves the file as it was.
    const std::string before = StoreSandbox::ReadRaw();
    {
        auto dropped = Open();
        ASSERT_TRUE(SCPreferencesSetValue(dropped.get(), "CurrentSet", PStr("/Sets/2").get()));
    }
    EXPECT_EQ(StoreSandbox::ReadRaw(), before);
}

TEST_F(StoreTest, CommittedFileIsAPropertyListWithModeAndGroup)
{
    auto p = Open();
    auto tree = Dict({{"Text", PStr("a < b & c > d, \xE6\x97\xA5\xE6\x9C\xAC")},
                      {"Numbers", PArray::Create({PNum(-5), PNum(0), PNum(2147483647), PNum(-2147483648LL)})},
                      {"Data", PData::Create("\x00\x01\xFE", 3)},
                      {"Empty", Dict({})},
                      {"EmptyArray", PArray::CreateMutable()},
                      {"Bool", PBoolean::Create(true)}});
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/Top", tree.get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(p.get()));
    auto onDisk = StoreSandbox::ReadTree();
    ASSERT_TRUE(onDisk);
    ASSERT_TRUE(onDisk->Get("Top"));
    EXPECT_TRUE(onDisk->Get("Top")->Equals(*tree));

    struct stat st {};
    ASSERT_EQ(stat(StoreSandbox::Store().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (geteuid() == 0) {
        if (const struct group* g = getgrnam("dip")) {
            EXPECT_EQ(st.st_gid, g->gr_gid);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(StoreSandbox::Store() + ".new"));
}

TEST_F(StoreTest, LeftoverTemporaryFileDoesNotStopACommit)
{
    StoreSandbox::WriteTree(*Dict({{"A", Dict({})}}));
    const std::string tmp = StoreSandbox::Store() + ".new";
    std::ofstream(tmp) << "half a store from a writer that died";
    chmod(tmp.c_str(), 0400);
    auto p = Open();
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/B", Dict({}).get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(p.get())) << SCError();
    EXPECT_FALSE(std::filesystem::exists(tmp));
    auto onDisk = StoreSandbox::ReadTree();
    ASSERT_TRUE(onDisk);
    EXPECT_TRUE(onDisk->Get("A") && onDisk->Get("B"));
}

TEST_F(StoreTest, UnreadableStoreFailsCreationAndIsNeverOverwritten)
{
    struct Case {
        const char* name;
        bool directory; // the store path is a folder: reading fails
        const char* bytes;
        OSStatus expected;
    };
    const Case cases[] = {
        {"garbage", false, "this is not a property list", kStoreStatusCorrupt},
        {"empty file", false, "", kStoreStatusCorrupt},
        {"truncated", false, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Sets</key><dict>", kStoreStatusCorrupt},
        {"array at the root", false, "<plist version=\"1.0\"><array/></plist>", kStoreStatusCorrupt},
        {"unreadable", true, "", kStoreStatusAccessError},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(StoreSandbox::Store());
        if (c.directory) std::filesystem::create_directories(StoreSandbox::Store());
        else StoreSandbox::WriteRaw(c.bytes);
        SCErrorSet(0);
        EXPECT_FALSE(SCPreferencesCreate("StoreTest")) << c.name;
        EXPECT_EQ(SCError(), c.expected) << c.name;
        if (!c.directory) {
            EXPECT_EQ(StoreSandbox::ReadRaw(), c.bytes) << c.name;
        }
    }

    // A file that goes bad under an open connection is not overwritten either.
    std::filesystem::remove_all(StoreSandbox::Store());
    auto p = Open();
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/A", Dict({}).get()));
    StoreSandbox::WriteRaw("garbage");
    EXPECT_FALSE(SCPreferencesCommitChanges(p.get()));
    EXPECT_EQ(SCError(), kStoreStatusStale);
    EXPECT_EQ(StoreSandbox::ReadRaw(), "garbage");
}

TEST_F(StoreTest, ReadsBinaryPropertyLists)
{
    // Another writer may leave a binary property list; the store reads it.
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "CurrentSet", plist_new_string("/Sets/0"));
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(d, &bin, &len);
    StoreSandbox::WriteRaw(std::string(bin, len));
    plist_to_bin_free(bin);
    plist_free(d);
    auto p = Open();
    ASSERT_TRUE(p);
    auto v = PRefCast<PString>(SCPreferencesGetValue(p.get(), "CurrentSet"));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->UTF8(), "/Sets/0");
}

TEST_F(StoreTest, NestingBeyondTheCapIsCorruptForBothReaders)
{
    std::string deepBinary;
    {
        // The same nesting in a binary list, which the general reader takes.
        plist_t root = plist_new_dict();
        plist_t inner = plist_new_array();
        for (int i = 1; i < 300; ++i) {
            plist_t outer = plist_new_array();
            plist_array_append_item(outer, inner);
            inner = outer;
        }
        plist_dict_set_item(root, "Sets", inner);
        char* bin = nullptr;
        uint32_t len = 0;
        plist_to_bin(root, &bin, &len);
        deepBinary.assign(bin, len);
        plist_to_bin_free(bin);
        plist_free(root);
    }
    struct Case {
        const char* name;
        std::string bytes;
        bool opens;
    };
    const Case cases[] = {
        {"15000 arrays (XML)", NestedStore(15000), false},
        {"one past the cap (XML)", NestedStore(kPListMaxNesting), false}, // with the root: cap + 1
        {"at the cap (XML)", NestedStore(kPListMaxNesting - 1), true},
        {"300 arrays (binary)", deepBinary, false},
    };
    for (const auto& c : cases) {
        StoreSandbox::WriteRaw(c.bytes);
        SCErrorSet(0);
        auto p = SCPreferencesCreate("StoreTest");
        EXPECT_EQ(bool(p), c.opens) << c.name;
        if (!c.opens) {
            EXPECT_EQ(SCError(), kStoreStatusCorrupt) << c.name;
        }
        EXPECT_EQ(StoreSandbox::ReadRaw(), c.bytes) << c.name;
    }
}

TEST_F(StoreTest, OnlyARegularFileIsReadAsTheStore)
{
    // FIFOs and devices are refused without blocking and without reading; a link to a regular
    // file is the file.
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        OSStatus expected;
    };
    const Case cases[] = {
        {"FIFO", [](const std::string& s) { ASSERT_EQ(mkfifo(s.c_str(), 0600), 0); }, kStoreStatusNotAFile},
        {"link to /dev/zero", [](const std::string& s) { std::filesystem::create_symlink("/dev/zero", s); }, kStoreStatusNotAFile},
        {"link to /dev/null", [](const std::string& s) { std::filesystem::create_symlink("/dev/null", s); }, kStoreStatusNotAFile},
        {"link to a store",
         [](const std::string& s) {
             WriteFileText(s + ".real", "<plist version=\"1.0\"><dict><key>CurrentSet</key><string>/Sets/0</string></dict></plist>");
             std::filesystem::create_symlink(s + ".real", s);
         },
         kStatusOK},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(std::filesystem::path(StoreSandbox::Store()).parent_path());
        std::filesystem::create_directories(std::filesystem::path(StoreSandbox::Store()).parent_path());
        c.make(StoreSandbox::Store());
        SCErrorSet(0);
        auto p = SCPreferencesCreate("StoreTest");
        EXPECT_EQ(SCError(), c.expected) << c.name;
        EXPECT_EQ(bool(p), c.expected == kStatusOK) << c.name;
        if (p) {
            EXPECT_TRUE(SCPreferencesGetValue(p.get(), "CurrentSet")) << c.name;
        }
    }
}

TEST_F(StoreTest, CommitRefusesValuesTheFileCannotCarryAndKeepsTheOldFile)
{
    auto p = Open();
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "Keep", PStr("old").get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(p.get()));
    const std::string before = StoreSandbox::ReadRaw();
    struct Case {
        const char* name;
        PRef<PDictionary> value;
    };
    const Case cases[] = {
        {"control character in a string", Dict({{"a", PStr("p\x01w")}})},
        {"NUL in a string", Dict({{"a", PStr(std::string_view("p\0w", 3))}})},
        {"escape in a string", Dict({{"a", PStr("\x1b[2J")}})},
        {"U+FFFF in a string", Dict({{"a", PStr("\xEF\xBF\xBF")}})},
        {"control character in a key", Dict({{"a\x02", PStr("x")}})},
        {"fraction of a second", Dict({{"a", PDate::Create(0.5)}})},
        {"year beyond 9999", Dict({{"a", PDate::Create(1e12)}})},
    };
    for (const auto& c : cases) {
        auto q = Open();
        ASSERT_TRUE(SCPreferencesPathSetValue(q.get(), "/Bad", c.value.get())) << c.name;
        EXPECT_FALSE(SCPreferencesCommitChanges(q.get())) << c.name;
        EXPECT_EQ(SCError(), kStoreStatusNotWritable) << c.name;
        EXPECT_EQ(StoreSandbox::ReadRaw(), before) << c.name;
        EXPECT_FALSE(std::filesystem::exists(StoreSandbox::Store() + ".new")) << c.name;
    }
}

TEST_F(StoreTest, BinaryStoreValuesAreKeptOrTheStoreIsNotRewritten)
{
    struct Case {
        const char* name;
        std::string object;
        bool rewritable;
    };
    const Case cases[] = {
        {"UID", std::string("\x80\x07", 2), false},
        {"128-bit integer above the signed range", "\x14" + BigEndian(0) + BigEndian(~0ull), false},
        {"date with a fraction", BinaryDate(1234.5), false},
        {"64-bit integer", "\x13" + BigEndian(0x123456789ABCDEFull), true},
        {"negative 64-bit integer", "\x13" + BigEndian(static_cast<uint64_t>(-5)), true},
        {"date of 1900", BinaryDate(-3187296000.0), true},
    };
    for (const auto& c : cases) {
        const std::string bytes = BinaryDictWith(c.object);
        StoreSandbox::WriteRaw(bytes);
        auto p = Open();
        ASSERT_TRUE(p) << c.name;
        auto read = SCPreferencesGetValue(p.get(), "v");
        ASSERT_TRUE(read) << c.name;
        ASSERT_TRUE(SCPreferencesSetValue(p.get(), "Other", PStr("x").get()));
        EXPECT_EQ(SCPreferencesCommitChanges(p.get()), c.rewritable) << c.name;
        if (!c.rewritable) {
            EXPECT_EQ(SCError(), kStoreStatusNotWritable) << c.name;
            EXPECT_EQ(StoreSandbox::ReadRaw(), bytes) << c.name;
            continue;
        }
        auto again = Open();
        ASSERT_TRUE(again) << c.name;
        auto back = SCPreferencesGetValue(again.get(), "v");
        ASSERT_TRUE(back) << c.name;
        EXPECT_TRUE(back->Equals(*read)) << c.name;
    }
}

TEST_F(StoreTest, BrokenBinaryStoresAreCorruptNotACrash)
{
    // Shapes that used to abort the reading process inside the property-list library.
    std::string intKey = BinaryDictWith("\x51x");
    intKey.replace(11, 2, "\x10\x05"); // the key object becomes the integer 5
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-16 string holding U+0000", BinaryDictWith(std::string("\x61\x00\x00", 3))},
        {"UTF-16 string with a lone surrogate", BinaryDictWith(std::string("\x61\xD8\x00", 3))},
        {"key that is an integer", intKey},
    };
    for (const auto& c : cases) {
        StoreSandbox::WriteRaw(c.bytes);
        SCErrorSet(0);
        EXPECT_FALSE(SCPreferencesCreate("StoreTest")) << c.name;
        EXPECT_EQ(SCError(), kStoreStatusCorrupt) << c.name;
        EXPECT_EQ(StoreSandbox::ReadRaw(), c.bytes) << c.name;
    }
    // A sound one of the same shape reads.
    StoreSandbox::WriteRaw(BinaryDictWith(std::string("\x61\x00\x41", 3)));
    auto p = Open();
    ASSERT_TRUE(p);
    auto v = PRefCast<PString>(SCPreferencesGetValue(p.get(), "v"));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->UTF8(), "A");
}

// ---- lock and stale copies ----

TEST_F(StoreTest, LockIsExclusiveAndReleasedWithTheConnection)
{
    auto a = Open();
    auto b = Open();
    EXPECT_FALSE(SCPreferencesUnlock(a.get()));
    EXPECT_EQ(SCError(), kStoreStatusNeedLock);
    ASSERT_TRUE(SCPreferencesLock(a.get(), false));
    EXPECT_TRUE(a->IsLocked());
    EXPECT_FALSE(SCPreferencesLock(b.get(), false));
    EXPECT_EQ(SCError(), kStoreStatusLocked);

    // Another process fails at once without waiting, and waits with wait true.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        auto c = SCPreferencesCreate("child");
        const bool noWait = c && SCPreferencesLock(c.get(), false);
        char tag = noWait ? 'x' : 'n';
        (void)!write(ready[1], &tag, 1);
        const bool waited = c && SCPreferencesLock(c.get(), true);
        tag = waited ? 'w' : 'f';
        (void)!write(ready[1], &tag, 1);
        _exit(0);
    }
    close(ready[1]);
    char tag = 0;
    ASSERT_EQ(read(ready[0], &tag, 1), 1);
    EXPECT_EQ(tag, 'n');
    usleep(50 * 1000);
    ASSERT_TRUE(SCPreferencesUnlock(a.get()));
    ASSERT_EQ(read(ready[0], &tag, 1), 1);
    EXPECT_EQ(tag, 'w');
    close(ready[0]);
    int status = 0;
    waitpid(child, &status, 0);

    ASSERT_TRUE(SCPreferencesLock(a.get(), false));
    a.reset(); // releasing the connection releases the lock
    EXPECT_TRUE(SCPreferencesLock(b.get(), false));
}

TEST_F(StoreTest, StaleCopiesNeverUndoAnotherCommit)
{
    StoreSandbox::WriteTree(*Dict({{"Counter", PNum(1)}}));
    auto a = Open();
    auto b = Open();
    auto idle = Open(); // reads, changes nothing
    ASSERT_TRUE(SCPreferencesSetValue(b.get(), "Counter", PNum(2).get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(b.get()));

    // A changed copy of the old file cannot be committed, locked or not.
    ASSERT_TRUE(SCPreferencesSetValue(a.get(), "Counter", PNum(3).get()));
    EXPECT_FALSE(SCPreferencesCommitChanges(a.get()));
    EXPECT_EQ(SCError(), kStoreStatusStale);
    SCErrorSet(0);
    EXPECT_FALSE(SCPreferencesLock(a.get(), false));
    EXPECT_EQ(SCError(), kStoreStatusStale);
    EXPECT_FALSE(a->IsLocked());
    EXPECT_TRUE(StoreSandbox::ReadTree()->Get("Counter")->Equals(*PNum(2)));

    // An unchanged copy is brought up to date when it takes the lock.
    ASSERT_TRUE(SCPreferencesLock(idle.get(), true));
    EXPECT_TRUE(SCPreferencesGetValue(idle.get(), "Counter")->Equals(*PNum(2)));
    ASSERT_TRUE(SCPreferencesSetValue(idle.get(), "Counter", PNum(3).get()));
    EXPECT_TRUE(SCPreferencesCommitChanges(idle.get()));
    EXPECT_TRUE(SCPreferencesUnlock(idle.get()));
    EXPECT_TRUE(StoreSandbox::ReadTree()->Get("Counter")->Equals(*PNum(3)));

    // A connection can go on committing its own commits.
    ASSERT_TRUE(SCPreferencesSetValue(b.get(), "Other", PNum(1).get()));
    EXPECT_FALSE(SCPreferencesCommitChanges(b.get())); // idle committed after b's read
    auto c = Open();
    ASSERT_TRUE(SCPreferencesSetValue(c.get(), "Counter", PNum(4).get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(c.get()));
    ASSERT_TRUE(SCPreferencesSetValue(c.get(), "Counter", PNum(5).get()));
    EXPECT_TRUE(SCPreferencesCommitChanges(c.get()));
}

// Commits of the same size in quick succession are still told apart from the file a connection
// read before them: the stamp is the file's identity and times, not its size.
TEST_F(StoreTest, QuickSameSizeCommitsStillMakeEarlierCopiesStale)
{
    StoreSandbox::WriteTree(*Dict({{"Counter", PNum(0)}}));
    for (int i = 0; i < 50; ++i) {
        auto early = Open();
        for (int k = 1; k <= 2; ++k) {
            auto writer = Open();
            ASSERT_TRUE(SCPreferencesSetValue(writer.get(), "Counter", PNum((i + k) % 10).get()));
            ASSERT_TRUE(SCPreferencesCommitChanges(writer.get()));
        }
        ASSERT_TRUE(SCPreferencesSetValue(early.get(), "Counter", PNum(7).get()));
        EXPECT_FALSE(SCPreferencesCommitChanges(early.get())) << "round " << i;
        EXPECT_EQ(SCError(), kStoreStatusStale);
        SCErrorSet(0);
    }
}

// ---- apply ----

TEST_F(StoreTest, ApplyCallsTheHookWithTheCommittedTree)
{
    auto p = Open();
    EXPECT_TRUE(SCPreferencesApplyChanges(p.get())); // no hook: nothing to do

    int processCalls = 0;
    PRef<PValue> seen;
    SCPreferencesSetDefaultApplyHook([&](const PDictionary& tree) {
        ++processCalls;
        seen = tree.GetRef("CurrentSet");
        return kStatusOK;
    });
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "CurrentSet", PStr("/Sets/1").get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(p.get()));
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "CurrentSet", PStr("/Sets/uncommitted").get()));
    EXPECT_TRUE(SCPreferencesApplyChanges(p.get()));
    EXPECT_EQ(processCalls, 1);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->Equals(*PStr("/Sets/1")));

    // A connection's own hook takes the place of the process-wide one; its status is SCError's.
    SCPreferencesSetApplyHook(p.get(), [](const PDictionary&) { return OSStatus{4242}; });
    EXPECT_FALSE(SCPreferencesApplyChanges(p.get()));
    EXPECT_EQ(SCError(), 4242);
    EXPECT_EQ(processCalls, 1);
}

// ---- the store's XML ----

TEST(StoreXML, RoundTripsThroughBothReaders)
{
    auto nested = PDictionary::CreateMutable();
    for (int i = 0; i < 40; ++i) nested->Set("k" + std::to_string(i), PNum(i));
    struct Case {
        const char* name;
        PRef<PValue> value;
    };
    const Case cases[] = {
        {"markup characters", PStr("<key>&amp;</key> \"quoted\" 'single'")},
        {"non-ASCII", PStr("\xE3\x82\xAB\xE3\x83\x90\xE3\x83\xB3\xE3\x83\x86\xE3\x82\xA3 \xF0\x9F\x98\x80")},
        {"empty string", PStr("")},
        {"white space", PStr("  leading and trailing \n\t ")},
        {"integers", PArray::Create({PNum(0), PNum(-1), PNum(INT64_MAX), PNum(INT64_MIN + 1)})},
        {"real", PNumber::CreateReal(0.1)},
        {"booleans", PArray::Create({PBoolean::Create(true), PBoolean::Create(false)})},
        {"data of every length mod 3", PArray::Create({PData::Create("", 0), PData::Create("a", 1), PData::Create("ab", 2),
                                                       PData::Create("abc", 3), PData::Create("\xFF\x00\x80\x7F", 4)})},
        {"date", PDate::Create(123456789)},
        {"empty containers", Dict({{"d", Dict({})}, {"a", PArray::CreateMutable()}})},
        {"indexed dictionary", nested},
    };
    for (const auto& c : cases) {
        auto root = Dict({{"v", c.value}});
        std::string ours;
        StoreXMLWrite(*root, ours);
        auto back = StoreXMLRead(ours);
        ASSERT_TRUE(back) << c.name << "\n" << ours;
        EXPECT_TRUE(back->Equals(*root)) << c.name;
        EXPECT_FALSE(back->IsMutable()) << c.name;
        auto general = PListCreateFromData(ours, false);
        ASSERT_TRUE(general) << c.name;
        EXPECT_TRUE(general->Equals(*root)) << c.name;
        std::string theirs;
        ASSERT_TRUE(PListCreateXMLData(*root, theirs));
        auto fromTheirs = StoreXMLRead(theirs);
        ASSERT_TRUE(fromTheirs) << c.name << "\n" << theirs;
        EXPECT_TRUE(fromTheirs->Equals(*root)) << c.name;
    }
    // Entities, comments and a duplicate key: read what is meant, or give up.
    auto v = StoreXMLRead("<?xml version=\"1.0\"?><!-- c --><plist version=\"1.0\"><dict>"
                          "<key>a&#x41;&#66;</key><string>x&lt;y</string></dict></plist>");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->Equals(*Dict({{"aAB", PStr("x<y")}})));
    EXPECT_FALSE(StoreXMLRead("<plist><dict><key>a</key><true/><key>a</key><false/></dict></plist>"));
    EXPECT_FALSE(StoreXMLRead("<plist><dict><key>a</key></dict></plist>"));
    EXPECT_FALSE(StoreXMLRead("<plist><integer>12x</integer></plist>"));
    // Above the signed range a value would change on the way back: left to the general reader.
    EXPECT_FALSE(StoreXMLRead("<plist><integer>18446744073709551615</integer></plist>"));
    // Forms the general reader reads otherwise (or not at all) are left to it.
    for (const char* xml : {"<plist><data>AB=C</data></plist>", "<plist><data>ABC</data></plist>",
                            "<plist><date>2001-01-01T00:00: 0Z</date></plist>", "<?><plist><true/></plist>",
                            "<plist v<x=\"1\"><true/></plist>", "<plist><dict><key>a\x01</key><true/></dict></plist>"})
        EXPECT_FALSE(StoreXMLRead(xml)) << xml;
}

TEST(StoreXML, WritesOnlyValidXMLAndKeepsCarriageReturns)
{
    // A carriage return, tab and newline survive both readers; a control character is refused
    // and leaves the output as it was.
    auto root = Dict({{"v", PStr("a\r\nb\tc\rd")}});
    std::string xml;
    ASSERT_TRUE(StoreXMLWrite(*root, xml));
    EXPECT_EQ(xml.find('\r'), std::string::npos);
    for (const auto& back : {StoreXMLRead(xml), PListCreateFromData(xml, false)}) {
        ASSERT_TRUE(back);
        EXPECT_TRUE(back->Equals(*root));
    }
    std::string out = "kept";
    EXPECT_FALSE(StoreXMLWrite(*Dict({{"v", PStr("\x7f ok, \x1f not")}}), out));
    EXPECT_EQ(out, "kept");
}

} // namespace
