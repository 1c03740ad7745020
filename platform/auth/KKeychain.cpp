#include "platform/auth/KKeychain.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <libsecret/secret.h>

namespace {

const SecretSchema* Schema()
{
    // The item is found by its attributes alone, so other tools (secret-tool) reach it too.
    static const SecretSchema schema = {
        "org.kavanti.Credentials",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

void Wipe(std::string& s)
{
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

} // namespace

KKeychain::KKeychain(std::string service, std::string account)
    : mService(std::move(service)), mAccount(std::move(account))
{
}

KKeychain::~KKeychain() { Wipe(mMemorySecret); }

KKeychain& KKeychain::Default()
{
    static KKeychain keychain("Kavanti", "Kavanti");
    return keychain;
}

void KKeychain::FallBackToMemory(const char* why)
{
    mMemoryOnly = true;
    std::fprintf(stderr,
                 "Kavanti: no Secret Service answers (%s); the administrator's credentials are kept in memory "
                 "for this run only. Start a keyring (gnome-keyring-daemon, KWallet) to keep them.\n",
                 why);
}

bool KKeychain::ServiceAnswers()
{
    if (!mProbed) {
        mProbed = true;
        // Opening a session is a round trip to the service: no bus or no daemon fails here.
        GError* error = nullptr;
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (!service) {
            FallBackToMemory(error && error->message ? error->message : "unknown error");
        } else {
            g_object_unref(service);
        }
        if (error) g_error_free(error);
    }
    return !mMemoryOnly;
}

bool KKeychain::Find(std::string& secret)
{
    if (!ServiceAnswers()) {
        if (!mHasMemoryItem) return false;
        secret = mMemorySecret;
        return true;
    }
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(Schema(), nullptr, &error, "service", mService.c_str(),
                                                            "account", mAccount.c_str(), nullptr);
    if (error) {
        std::fprintf(stderr, "Kavanti: the keychain cannot be read: %s\n", error->message);
        g_error_free(error);
    }
    if (!value) return false;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    secret.assign(bytes ? bytes : "", bytes ? length : 0);
    secret_value_unref(value);
    return true;
}

bool KKeychain::Store(std::string_view secret)
{
    if (!ServiceAnswers()) {
        Wipe(mMemorySecret);
        mMemorySecret.assign(secret);
        mHasMemoryItem = true;
        return true;
    }
    SecretValue* value = secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
    GError* error = nullptr;
    // Storing under the same attributes replaces the item, so there is at most one.
    const gboolean ok = secret_password_store_binary_sync(Schema(), SECRET_COLLECTION_DEFAULT, "Kavanti", value,
                                                          nullptr, &error, "service", mService.c_str(), "account",
                                                          mAccount.c_str(), nullptr);
    secret_value_unref(value);
    if (error) {
        std::fprintf(stderr, "Kavanti: the keychain cannot be written: %s\n", error->message);
        g_error_free(error);
    }
    return ok;
}

bool KKeychain::Delete()
{
    if (!ServiceAnswers()) {
        const bool had = mHasMemoryItem;
        Wipe(mMemorySecret);
        mHasMemoryItem = false;
        return had;
    }
    GError* error = nullptr;
    const gboolean deleted = secret_password_clear_sync(Schema(), nullptr, &error, "service", mService.c_str(),
                                                        "account", mAccount.c_str(), nullptr);
    if (error) {
        std::fprintf(stderr, "Kavanti: the keychain item cannot be deleted: %s\n", error->message);
        g_error_free(error);
    }
    return deleted;
}
