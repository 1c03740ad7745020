#include "app/netconfig/CAuthTool.h"

#include "app/netconfig/CAuthPrompt.h"
#include "platform/auth/KKeychain.h"
#include "platform/cf/PText.h"
#include "platform/paths/KPaths.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Wipe(std::string& s)
{
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

void Wipe(char* buffer, size_t size) { std::fill(buffer, buffer + size, '\0'); }

std::string& ToolFolderOverride()
{
    static std::string folder;
    return folder;
}

} // namespace

CAuthTool::CAuthTool() = default;

CAuthTool::~CAuthTool()
{
    if (mAuthorizationRef) mAuthorizationRef->Free();
}

void CAuthTool::SetToolFolder(const std::string& folder) { ToolFolderOverride() = folder; }

KAuthorization* CAuthTool::GetAuthorizationRef()
{
    if (!mAuthorizationRef) mAuthorizationRef = std::make_unique<KAuthorization>();
    return mAuthorizationRef.get();
}

bool CAuthTool::Authorization(OSStatus* status)
{
    OSStatus ignored = 0;
    if (!status) status = &ignored;
    *status = kStatusOK;
    KAuthorization* auth = GetAuthorizationRef();

    char keptUser[kCredentialSize] = {0};
    char keptPassword[kCredentialSize] = {0};
    if (SearchKeyChain(keptUser, keptPassword)) {
        const OSStatus s = auth->CopyRights(keptUser, keptPassword);
        Wipe(keptPassword, sizeof keptPassword);
        if (s == kStatusOK) return true;
        *status = s;
        // Only credentials that sudo refused are forgotten; a sudo that cannot be started says
        // nothing about them.
        if (s != kAuthorizationDenied) return false;
        if (!DeleteKeyChainItem()) return false;
    }

    CAuthPrompt* prompt = GetAuthPrompt();
    std::string userName = KPrivilege::LoginName();
    std::string password;
    if (!prompt || !prompt->AskCredentials(userName, password)) {
        Wipe(password);
        *status = kStatusUserCancelled;
        return false;
    }
    // The dialog's fields hold at most 255 characters, as the keychain buffers do.
    if (userName.size() >= kCredentialSize) userName.resize(kCredentialSize - 1);
    if (password.size() >= kCredentialSize) password.resize(kCredentialSize - 1);
    const std::string login = KPrivilege::LoginName();
    if (userName != login)
        std::fprintf(stderr, "Kavanti: sudo asks for the password of the user \"%s\" who runs Kavanti, not of \"%s\".\n",
                     login.c_str(), userName.c_str());
    const OSStatus s = auth->CopyRights(userName, password);
    if (s != kStatusOK) {
        Wipe(password);
        *status = s;
        return false;
    }
    SetKeyChain(userName.c_str(), password.c_str());
    Wipe(password);
    *status = kStatusOK; // a refusal of the kept credentials on the way is no longer the answer
    return true;
}

OSStatus CAuthTool::ExecuteTool(const char* const* arguments, const char* stdinPassword)
{
    OSStatus status = kStatusOK;
    if (!Authorization(&status)) return status;

    const PRef<PString> name = PStringCreateWithBytes("KavantiTool", PEncoding::ASCII);
    char path[kToolPathSize] = {0};
    if (!GetToolPath(name.get(), path)) return -1;

    std::vector<std::string> args;
    for (const char* const* a = arguments; a && *a; ++a) args.emplace_back(*a);
    std::string secret;
    if (stdinPassword) secret = stdinPassword;
    int exitStatus = 0;
    const OSStatus s = GetAuthorizationRef()->ExecuteWithPrivileges(path, args, stdinPassword ? &secret : nullptr,
                                                                    exitStatus);
    Wipe(secret);
    if (s != kStatusOK) return s;
    return exitStatus;
}

bool CAuthTool::GetToolPath(const PString* toolName, char* path)
{
    if (!toolName || !path) return false;
    const std::optional<std::string> name = PStringGetBytes(*toolName, PEncoding::ASCII);
    if (!name || name->empty()) return false;
    const std::string folder = ToolFolderOverride().empty() ? KPaths::LibexecFolder() : ToolFolderOverride();
    if (folder.empty()) return false;
    const std::string full = folder + "/" + *name;
    if (full.size() >= kToolPathSize) return false;
    CopyCString(path, kToolPathSize, full);
    struct stat st {};
    // A folder passes the execute test too; only a file can be run.
    return stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0;
}

bool CAuthTool::SearchKeyChain(char* userName, char* password)
{
    if (!userName || !password) return false;
    std::string data;
    if (!KKeychain::Default().Find(data)) return false;
    const size_t tab = data.find('\t');
    const std::string_view all(data);
    CopyCString(userName, kCredentialSize, all.substr(0, tab));
    CopyCString(password, kCredentialSize, tab == std::string::npos ? std::string_view() : all.substr(tab + 1));
    Wipe(data);
    return true;
}

void CAuthTool::SetKeyChain(const char* userName, const char* password)
{
    std::string data = userName ? userName : "";
    data += '\t';
    data += password ? password : "";
    KKeychain::Default().Store(data);
    Wipe(data);
}

bool CAuthTool::DeleteKeyChainItem() { return KKeychain::Default().Delete(); }
