#include "platform/paths/KPaths.h"
#include "platform/ppp/KPPPPeerFile.h"
#include "platform/store/SCPreferences.h"
#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

using namespace KPPP;

namespace {

PRef<PDictionary> Dict(std::initializer_list<std::pair<const char*, PRef<PValue>>> entries)
{
    auto d = PDictionary::CreateMutable();
    for (const auto& [k, v] : entries)
        d->Set(k, v);
    return d;
}

PRef<PValue> Strings(std::initializer_list<const char*> items)
{
    std::vector<PRef<PValue>> v;
    for (const char* s : items)
        v.push_back(PStr(s));
    return PArray::Create(std::move(v));
}

PRef<PDictionary> Service(const char* device, bool active, const char* script = "/scripts/TKS KSR23C-J",
                          const char* number = "0570570711##64", const char* account = "acct@isp")
{
    auto s = Dict({{"UserDefinedName", PStr(device)},
                   {"Interface", Dict({{"DeviceName", PStr(device)}, {"Hardware", PStr("Modem")}})},
                   {"Modem", Dict({{"ConnectionScript", PStr(script)}})},
                   {"PPP", Dict({{"CommRemoteAddress", PStr(number)}, {"AuthName", PStr(account)}})}});
    if (!active)
        s->Set("__INACTIVE__", PNum(1));
    return s;
}

PRef<PDictionary> Tree(const char* currentSet, std::initializer_list<const char*> order,
                       std::initializer_list<std::pair<const char*, PRef<PValue>>> services)
{
    auto set = Dict({{"UserDefinedName", PStr("KVAUTODL")},
                     {"Network", Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", Strings(order)}})}})}})}});
    return Dict({{"CurrentSet", PStr(currentSet)}, {"Sets", Dict({{"1", set}})}, {"NetworkServices", Dict(services)}});
}

class PeerFileTest : public ::testing::Test {
protected:
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    std::string peer = KPaths::PeerFilePath();

    void SetUp() override
    {
        sysfs.Tty("ttyS0", "platform/serial8250");
        sysfs.Device("pcmcia0/0.0", "pcmcia");
        sysfs.Tty("ttyS1", "pcmcia0/0.0");
    }
    bool PeerExists() const { return std::filesystem::exists(peer); }
};

} // namespace

TEST_F(PeerFileTest, WritesTheActiveCardServiceOfTheCurrentLocation)
{
    auto tree = Tree("/Sets/1", {"A", "B", "C"},
                     {{"A", Service("pccard-modem", false, "/scripts/old", "111")},
                      {"B", Service("en0", true)},
                      {"C", Service("pccard-modem", true)}});
    ASSERT_EQ(ApplyPeerFile(*tree), 0);
    const std::string text = ReadFileText(peer);
    std::vector<std::string> words;
    ASSERT_TRUE(ReadOptionWords(text, words));
    EXPECT_EQ(words, (std::vector<std::string>{
                         KPaths::DevicePath("ttyS1"), "115200", "crtscts", "lock", "modem", "connect",
                         "N='0570570711##64'; exec /usr/sbin/chat -v -T \"${KAVANTI_NUMBER:-$N}\" -f '/scripts/TKS KSR23C-J'",
                         "noauth", "defaultroute", "usepeerdns", "user", "acct@isp", "plugin", "passwordfd.so", "plugin",
                         "kavanti-events.so"}));
    struct stat st {};
    ASSERT_EQ(stat(peer.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(peer + ".new"));
}

TEST_F(PeerFileTest, RemovedWhenTheCurrentLocationHasNoSuchService)
{
    auto good = Tree("/Sets/1", {"C"}, {{"C", Service("pccard-modem", true)}});
    struct Case {
        const char* what;
        PRef<PDictionary> tree;
    } cases[] = {
        {"only inactive", Tree("/Sets/1", {"C"}, {{"C", Service("pccard-modem", false)}})},
        {"not on a serial port", Tree("/Sets/1", {"B"}, {{"B", Service("en0", true)}})},
        {"port not on this machine", Tree("/Sets/1", {"C"}, {{"C", Service("usbmodemSlipper", true)}})},
        {"no modem script", Tree("/Sets/1", {"C"}, {{"C", Service("pccard-modem", true, "")}})},
        {"current set missing", Tree("/Sets/9", {"C"}, {{"C", Service("pccard-modem", true)}})},
        {"listed but not in the services", Tree("/Sets/1", {"X"}, {{"C", Service("pccard-modem", true)}})},
        {"empty store", PDictionary::CreateMutable()},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ApplyPeerFile(*good), 0);
        ASSERT_TRUE(PeerExists());
        EXPECT_EQ(ApplyPeerFile(*c.tree), 0) << c.what;
        EXPECT_FALSE(PeerExists()) << c.what;
        EXPECT_EQ(ApplyPeerFile(*c.tree), 0) << c.what << ": nothing to remove is fine";
    }
}

TEST_F(PeerFileTest, ConnectLineSurvivesOddCharacters)
{
    // The number and the script path end up in a shell command inside a pppd option word.
    const char* number = "05'70\"$(touch x)`y`\\##64";
    const char* script = "/scripts/it's \"a\" $HOME\\script";
    auto tree = Tree("/Sets/1", {"C"}, {{"C", Service("pccard-modem", true, script, number, "a\"b")}});
    ASSERT_EQ(ApplyPeerFile(*tree), 0);
    std::vector<std::string> words;
    ASSERT_TRUE(ReadOptionWords(ReadFileText(peer), words));
    auto at = std::find(words.begin(), words.end(), "connect");
    ASSERT_NE(at, words.end());
    std::string command = *(at + 1);
    const std::string chat = "exec /usr/sbin/chat";
    ASSERT_NE(command.find(chat), std::string::npos);
    command.replace(command.find(chat), chat.size(), "exec printf '%s\\n'");

    TempDir out;
    for (const char* dialled : {"", "0570##61"}) {
        const std::string env = *dialled ? std::string("KAVANTI_NUMBER='") + dialled + "' " : "";
        const std::string run = "cd " + out.path() + " && " + env + "sh -c " + "\"$CMD\" > args";
        setenv("CMD", command.c_str(), 1);
        ASSERT_EQ(std::system(run.c_str()), 0);
        unsetenv("CMD");
        const std::string expected =
            std::string("-v\n-T\n") + (*dialled ? dialled : number) + "\n-f\n" + script + "\n";
        EXPECT_EQ(ReadFileText(out / "args"), expected);
        EXPECT_FALSE(std::filesystem::exists(out / "x")) << "nothing of the number ran";
    }
    auto user = std::find(words.begin(), words.end(), "user");
    ASSERT_NE(user, words.end());
    EXPECT_EQ(*(user + 1), "a\"b");
}

TEST_F(PeerFileTest, CommitThroughTheStoreWritesTheFileWithoutThePassword)
{
    InstallPeerFileApplyHook();
    auto service = Service("pccard-modem", true);
    auto ppp = service->GetAs<PDictionary>("PPP")->MutableCopy();
    ppp->Set("AuthPassword", PStr("plain-Secret-77")); // whatever form it takes, it stays out
    service->Set("PPP", ppp);
    auto tree = Tree("/Sets/1", {"C"}, {{"C", service}});

    auto prefs = SCPreferencesCreate("test");
    ASSERT_TRUE(prefs);
    for (const auto& [key, value] : tree->Entries())
        ASSERT_TRUE(SCPreferencesSetValue(prefs.get(), key, value.get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(prefs.get()));
    ASSERT_TRUE(SCPreferencesApplyChanges(prefs.get()));
    ASSERT_TRUE(PeerExists());
    EXPECT_EQ(ReadFileText(peer).find("plain-Secret-77"), std::string::npos);
    SCPreferencesSetDefaultApplyHook({});
}

TEST(OptionWords, ReadAsPppdDoes)
{
    std::vector<std::string> w;
    ASSERT_TRUE(ReadOptionWords("a \"b c\" 'd e'#x\n# comment \"\nf\\ g \"h\\\"i\\\\\"", w));
    EXPECT_EQ(w, (std::vector<std::string>{"a", "b c", "d e#x", "f g", "h\"i\\"}));
    w.clear();
    EXPECT_FALSE(ReadOptionWords("connect \"unterminated", w));
}
