// Test programs that need a real Secret Service re-run themselves through tests/support/with-keyring
// (a private session bus with an unlocked gnome-keyring-daemon). Listing the tests needs none.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace KeyringSession {

inline void Enter(int argc, char** argv)
{
    if (std::getenv("KAVANTI_KEYRING_SESSION")) return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return;
    const char* source = std::getenv("KAVANTI_SOURCE");
    static std::string launcher = std::string(source ? source : ".") + "/tests/support/with-keyring";
    static std::string self;
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    self = n > 0 ? std::string(buf, static_cast<size_t>(n)) : argv[0];
    std::vector<char*> args = {launcher.data(), self.data()};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(launcher.c_str(), args.data());
    // No launcher: run here, and the keyring tests skip.
    setenv("KAVANTI_NO_KEYRING", "tests/support/with-keyring cannot be run", 1);
}

// Why this run has no Secret Service, or nullptr when it has one.
inline const char* Missing() { return std::getenv("KAVANTI_NO_KEYRING"); }

} // namespace KeyringSession

#define KAVANTI_REQUIRE_KEYRING()                                                  \
    do {                                                                           \
        if (const char* why = KeyringSession::Missing()) GTEST_SKIP() << why;     \
    } while (0)

#define KAVANTI_KEYRING_MAIN()                                                     \
    int main(int argc, char** argv)                                                \
    {                                                                              \
        KeyringSession::Enter(argc, argv);                                         \
        ::testing::InitGoogleTest(&argc, argv);                                    \
        return RUN_ALL_TESTS();                                                    \
    }
