#include "NetSCF/NetSCFModemScripts.h"

#include "support/FakeSysfs.h"
#include "platform/paths/KPaths.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace {

// A sandbox whose four domains' folders are the sandbox's own (resources included).
class ModemScripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("KAVANTI_RESOURCES");
        if (old) mOldResources = old, mHadResources = true;
        setenv("KAVANTI_RESOURCES", (root.Path() + "/resources").c_str(), 1);
        folders = KPaths::ModemScriptFolders();
    }
    void TearDown() override
    {
        if (mHadResources) setenv("KAVANTI_RESOURCES", mOldResources.c_str(), 1);
        else unsetenv("KAVANTI_RESOURCES");
    }
    void Script(int domain, const std::string& name) { SandboxRoot::WriteFile(fs::path(folders[domain]) / name, "x"); }

    std::vector<std::string> List(long* index = nullptr, OSStatus* status = nullptr)
    {
        PRef<PArray> a;
        const OSStatus st = NetSCCreateCCLArray(a, index);
        if (status) *status = st;
        std::vector<std::string> names;
        if (a)
            for (size_t i = 0; i < a->Count(); ++i) names.push_back(a->AtAs<PString>(i)->UTF8());
        return names;
    }

    SandboxRoot root;
    std::vector<std::string> folders;
    std::string mOldResources;
    bool mHadResources = false;
};

TEST_F(ModemScripts, FoldersAreTheFourDomainsInOrder)
{
    ASSERT_EQ(folders.size(), 4u);
    EXPECT_EQ(folders[0], root.Path() + "/home/.local/share/kavanti/modem-scripts");
    EXPECT_EQ(folders[1], root.Path() + "/etc/kavanti/modem-scripts");
    EXPECT_EQ(folders[2], root.Path() + "/usr/local/share/kavanti/modem-scripts");
    EXPECT_EQ(folders[3], root.Path() + "/resources/modem-scripts");
}

TEST_F(ModemScripts, SortedCaseInsensitiveNumericWithoutDuplicates)
{
    Script(0, "Modem 10");
    Script(0, "SUNTAC Slipper");
    Script(3, "SUNTAC Slipper"); // the same in user and system: once
    Script(2, "modem 2");
    Script(1, "modem 10");       // differs only in case: both stay
    Script(3, "Kirodenki KTR21-J");
    Script(1, ".hidden");
    fs::create_directories(fs::path(folders[2]) / "Sub Folder");
    fs::create_symlink(fs::path(folders[3]) / "SUNTAC Slipper", fs::path(folders[2]) / "Linked Script");
    fs::create_symlink(fs::path(folders[3]) / "nothing there", fs::path(folders[2]) / "Dangling");

    long index = -1;
    OSStatus st = 1;
    const auto names = List(&index, &st);
    EXPECT_EQ(st, kStatusOK);
    const std::vector<std::string> want = {"Kirodenki KTR21-J", "Linked Script", "modem 2",  "Modem 10",
                                           "modem 10",          "SUNTAC Slipper"};
    EXPECT_EQ(names, want);
    EXPECT_EQ(index, 0); // the default script is not installed
}

TEST_F(ModemScripts, DefaultScriptIndex)
{
    for (const char* n : {"0 a", "1 b", "2 c", "3 d", kNetSCDefaultCCLName, "Z"}) Script(3, n);
    long index = -1;
    const auto names = List(&index);
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(index, 4);
    EXPECT_EQ(names[4], kNetSCDefaultCCLName);
}

TEST_F(ModemScripts, NoFoldersGiveAnEmptyList)
{
    long index = -1;
    OSStatus st = 1;
    EXPECT_TRUE(List(&index, &st).empty());
    EXPECT_EQ(st, kStatusOK);
    EXPECT_EQ(index, 0);
}

TEST_F(ModemScripts, LargeFolderIsReadInBatches)
{
    for (int i = 0; i < 51; ++i) Script(1, "script " + std::to_string(i));
    const auto names = List();
    ASSERT_EQ(names.size(), 51u);
    EXPECT_EQ(names.front(), "script 0");
    EXPECT_EQ(names[10], "script 10");
    EXPECT_EQ(names.back(), "script 50");
}

TEST_F(ModemScripts, UnreadableFolderFailsTheWholeList)
{
    Script(0, "A");
    Script(1, "B");
    // Root reads any folder, so the check runs as an unprivileged user.
    fs::permissions(folders[1], fs::perms::none);
    // mkdtemp made the sandbox private; nobody must reach the folders.
    fs::permissions(root.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        PRef<PArray> a;
        const OSStatus st = NetSCCreateCCLArray(a);
        _exit(st == kStatusFileAccess && !a ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    fs::permissions(folders[1], fs::perms::owner_all);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ModemScriptOrder, Comparison)
{
    struct Case {
        const char* a;
        const char* b;
        int want;
    } cases[] = {
        {"modem 2", "Modem 10", -1}, {"Modem", "modem", 0}, {"a10b", "a9b", 1},
        {"a007", "a7", 0},           {"abc", "abcd", -1},   {"Z", "a", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(NetSCCompareCCLNames(c.a, c.b), c.want);
    }
}

} // namespace
