// Administrator rights for the application and the privileged run of KavantiTool. The
// administrator's credentials are asked for once through the credentials prompt and then kept
// in the user's keychain; kept credentials that stop working are deleted and asked for again.
#pragma once

#include "platform/auth/KAuthorization.h"
#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <memory>
#include <string>

class CAuthTool {
public:
    static constexpr size_t kCredentialSize = 256; // user name and password buffers, terminator included
    static constexpr size_t kToolPathSize = 1024;

    CAuthTool();
    ~CAuthTool();
    CAuthTool(const CAuthTool&) = delete;
    CAuthTool& operator=(const CAuthTool&) = delete;

    // Administrator rights are held: kept credentials first, then the prompt. On true `status` is
    // 0; on false it holds the reason (-60006 cancelled, -60005 refused, or why sudo could not run).
    bool Authorization(OSStatus* status);

    // Authorizes, then runs KavantiTool with `arguments` (null-terminated, without the tool's own
    // name) through sudo. When `stdinPassword` is given it is written to the tool's standard
    // input after the tool said "ready" (argument 6 is then "-"). Returns 0, the tool's exit
    // status (1..255), -1 when the tool is missing or not executable, or the authorization status.
    OSStatus ExecuteTool(const char* const* arguments, const char* stdinPassword = nullptr);

    // The authorization session, created on first call (never null once created).
    KAuthorization* GetAuthorizationRef();

    // The full path of `toolName` in the tool folder into `path` (kToolPathSize bytes); true
    // when the current user may execute that file.
    static bool GetToolPath(const PString* toolName, char* path);
    // Another folder than the installed one to take the tool from ("" for the installed one):
    // for programs whose executable does not sit in the install tree, such as the tests.
    static void SetToolFolder(const std::string& folder);

    // The kept credentials into the two buffers (kCredentialSize bytes each); false when there
    // are none or the keychain cannot be read.
    bool SearchKeyChain(char* userName, char* password);
    // Keeps user name, tab, password under service and account "Kavanti". Failures are not reported.
    void SetKeyChain(const char* userName, const char* password);
    // An item was found and deleted.
    bool DeleteKeyChainItem();

private:
    std::unique_ptr<KAuthorization> mAuthorizationRef;
};
