// The user's keychain: one secret under attributes service and account, in the Secret Service
// (GNOME Keyring, KWallet) through libsecret. When no Secret Service answers (no session bus, no
// keyring daemon), the secret is kept in this process's memory for the run only, with a one-line
// notice on standard error the first time; it is never written to a file.
#pragma once

#include <string>
#include <string_view>

class KKeychain {
public:
    KKeychain(std::string service, std::string account);
    ~KKeychain();
    KKeychain(const KKeychain&) = delete;
    KKeychain& operator=(const KKeychain&) = delete;

    // The one keychain of the application: service and account "Kavanti".
    static KKeychain& Default();

    // The secret into `secret`; false when there is none or it cannot be read.
    bool Find(std::string& secret);
    // Replaces any item of these attributes with one holding `secret`. False when it failed.
    bool Store(std::string_view secret);
    // An item was found and deleted.
    bool Delete();

    // No Secret Service answered: the secret lives in memory for this run.
    bool IsMemoryOnly() const { return mMemoryOnly; }

private:
    bool ServiceAnswers();
    void FallBackToMemory(const char* why);

    std::string mService, mAccount;
    bool mProbed = false;
    bool mMemoryOnly = false;
    bool mHasMemoryItem = false;
    std::string mMemorySecret;
};
