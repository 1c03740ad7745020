// The keychain where no Secret Service answers: the credentials live in memory for the run, one
// notice says so, and nothing is written anywhere.
#include "platform/auth/KKeychain.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(MemoryKeychain, KeepsTheSecretForTheRunOnly)
{
    TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/.config").c_str(), 1);
    // No session bus to be found, and none to be started.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.path() + "/no-bus").c_str(), 1);
    unsetenv("DISPLAY");

    KKeychain keychain("Kavanti", "Kavanti");
    testing::internal::CaptureStderr();
    std::string secret = "unchanged";
    EXPECT_FALSE(keychain.Find(secret));
    EXPECT_EQ(secret, "unchanged");
    EXPECT_TRUE(keychain.IsMemoryOnly());
    EXPECT_TRUE(keychain.Store("admin\ts3cretZZ"));
    ASSERT_TRUE(keychain.Find(secret));
    EXPECT_EQ(secret, "admin\ts3cretZZ");
    EXPECT_TRUE(keychain.Store("admin\ts3cretZZ2"));
    ASSERT_TRUE(keychain.Find(secret));
    EXPECT_EQ(secret, "admin\ts3cretZZ2");
    EXPECT_TRUE(keychain.Delete());
    EXPECT_FALSE(keychain.Find(secret));
    EXPECT_FALSE(keychain.Delete());
    const std::string err = testing::internal::GetCapturedStderr();

    // One line, once, however many operations.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("kept in memory for this run only"), std::string::npos) << err;
    EXPECT_EQ(err.find("s3cretZZ"), std::string::npos) << err;
    // Nothing was written to a file.
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

} // namespace
