// The keychain against a real gnome-keyring-daemon on a private session bus: what Kavanti keeps
// is one item that other Secret Service clients (secret-tool) see under service and account.
#include "platform/auth/KKeychain.h"
#include "support/KeyringSession.h"
#include "support/ToolProcess.h"

#include <gtest/gtest.h>

namespace {

std::string SecretTool(const std::vector<std::string>& args)
{
    const ProcessResult r = RunProcess("/usr/bin/secret-tool", args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r.out;
}

size_t ItemCount()
{
    // "secret-tool search --all" starts every item with a "[/path]" line on standard output.
    const ProcessResult r = RunProcess("/usr/bin/secret-tool", {"search", "--all", "service", "Kavanti", "account", "Kavanti"});
    size_t count = 0;
    for (size_t pos = 0; pos < r.out.size(); pos = r.out.find('\n', pos) + 1) {
        if (r.out.compare(pos, 2, "[/") == 0) ++count;
        if (r.out.find('\n', pos) == std::string::npos) break;
    }
    return count;
}

class Keychain : public ::testing::Test {
protected:
    void SetUp() override
    {
        KAVANTI_REQUIRE_KEYRING();
        RunProcess("/usr/bin/secret-tool", {"clear", "service", "Kavanti", "account", "Kavanti"});
    }
    KKeychain keychain{"Kavanti", "Kavanti"};
};

TEST_F(Keychain, StoreFindDelete)
{
    std::string secret = "unchanged";
    EXPECT_FALSE(keychain.Find(secret));
    EXPECT_EQ(secret, "unchanged");
    EXPECT_FALSE(keychain.Delete());

    ASSERT_TRUE(keychain.Store("admin\tpa ss"));
    EXPECT_FALSE(keychain.IsMemoryOnly());
    ASSERT_TRUE(keychain.Find(secret));
    EXPECT_EQ(secret, "admin\tpa ss");
    // Another client sees the same item, exactly those bytes.
    EXPECT_EQ(SecretTool({"lookup", "service", "Kavanti", "account", "Kavanti"}), "admin\tpa ss");

    // A second store replaces the item: there is never more than one.
    ASSERT_TRUE(keychain.Store("admin\tnew"));
    EXPECT_EQ(ItemCount(), 1u);
    ASSERT_TRUE(keychain.Find(secret));
    EXPECT_EQ(secret, "admin\tnew");

    EXPECT_TRUE(keychain.Delete());
    EXPECT_FALSE(keychain.Find(secret));
    EXPECT_FALSE(keychain.Delete());
    EXPECT_EQ(ItemCount(), 0u);
}

TEST_F(Keychain, LongestCredentialsComeBackWhole)
{
    // A 255-character user name, tab, a 255-character password: 511 bytes.
    std::string data(255, 'u');
    data += '\t';
    for (int i = 0; i < 255; ++i) data += static_cast<char>('!' + i % 90);
    ASSERT_EQ(data.size(), 511u);
    ASSERT_TRUE(keychain.Store(data));
    std::string back;
    ASSERT_TRUE(keychain.Find(back));
    EXPECT_EQ(back, data);
    EXPECT_EQ(SecretTool({"lookup", "service", "Kavanti", "account", "Kavanti"}), data);
}

TEST_F(Keychain, ItemMadeByAnotherClientIsFound)
{
    const ProcessResult r = RunProcess("/usr/bin/secret-tool",
                                       {"store", "--label=Kavanti", "service", "Kavanti", "account", "Kavanti"}, "me\tfrom outside");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::string secret;
    ASSERT_TRUE(keychain.Find(secret));
    EXPECT_EQ(secret, "me\tfrom outside");
    // Items of other services are not ours.
    KKeychain other("Other", "Kavanti");
    EXPECT_FALSE(other.Find(secret));
}

} // namespace

KAVANTI_KEYRING_MAIN()
