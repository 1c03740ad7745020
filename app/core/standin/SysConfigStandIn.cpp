// Stand-in for branch `auth` (see README): just enough of the configuration updater to run
// KavantiTool through $KAVANTI_SUDO with the password on standard input.
#include "app/netconfig/CAuthPrompt.h"
#include "app/netconfig/CAuthTool.h"
#include "app/netconfig/CSysConfig.h"
#include "app/netconfig/CSysConfigHost.h"
#include "app/netconfig/USysConfig.h"
#include "app/prefs/CAppPrefs.h"
#include "platform/paths/KPaths.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
CAuthPrompt* gPrompt = nullptr;
}

void RegisterAuthPrompt(CAuthPrompt* prompt) { gPrompt = prompt; }
CAuthPrompt* GetAuthPrompt() { return gPrompt; }

void KAuthorization::Free()
{
    std::fill(mPassword.begin(), mPassword.end(), '\0');
    mPassword.clear();
    mGranted = false;
}

CAuthTool::CAuthTool() = default;
CAuthTool::~CAuthTool() = default;

const char* CSysConfig::ModemScriptName(bool useSlipper, bool cclOption, const Str255* modemName)
{
    if (useSlipper)
        return cclOption ? "SUNTAC Slipper" : "Kirodenki KTR21-J";
    static const char* const models[][2] = {{"KTR21-J", "Kirodenki KTR21-J"},
                                            {"KTR21C-J", "Kirodenki KTR21C-J"},
                                            {"KTR22-J", "Kirodenki KTR22-J"},
                                            {"KTR22C-J", "Kirodenki KTR22C-J"}};
    for (const auto& row : models)
        if (modemName && modemName->View() == row[0])
            return row[1];
    return "TKS KSR23C-J";
}

const char* CSysConfig::ProxyServerFor(int16_t webProxy)
{
    if (webProxy >= 1 && webProxy <= 3)
        return kAcceleratorProxyHosts[size_t(webProxy - 1)];
    return webProxy == 4 ? "NULL" : nullptr;
}

bool CSysConfig::GetCCLFilePath(const char* scriptName, char* path)
{
    path[0] = '\0';
    for (const std::string& folder : KPaths::ModemScriptFolders()) {
        const std::string candidate = folder + "/" + scriptName;
        if (access(candidate.c_str(), F_OK) == 0) {
            CopyCString(path, kCCLPathSize, candidate);
            return true;
        }
    }
    return false;
}

bool CSysConfig::CreateNSData(SysConfigDataRec& data)
{
    if (!mHost || !mHost->GetAppPrefs())
        return false;
    const CAppPrefs& prefs = *mHost->GetAppPrefs();
    std::string ap(prefs.GetAccessPoint().View().substr(0, 122));
    ap += prefs.GetLinkMode() == 1 ? "##61" : "##64";
    data.accessPoint.Assign(ap);
    data.userName.Assign(prefs.GetUserName().View());
    data.password.Assign(prefs.GetPassword().View());
    if (const char* proxy = ProxyServerFor(prefs.GetWebProxy()))
        data.proxyServer.Assign(proxy);
    data.proxyPort.Assign(kProxyPort);
    Str255 model;
    const bool slipper = mHost->IsUseSlipper();
    const char* script = ModemScriptName(slipper, prefs.GetCCLOption(), slipper ? nullptr : mHost->GetAppModemName(&model));
    return GetCCLFilePath(script, data.cclFilePath.buf);
}

bool CSysConfig::CompareNSData(const SysConfigDataRec& a, const SysConfigDataRec& b)
{
    return a.accessPoint == b.accessPoint && a.userName == b.userName && a.password == b.password &&
           a.proxyServer == b.proxyServer && a.proxyPort == b.proxyPort && a.cclFilePath == b.cclFilePath;
}

bool CSysConfig::Authorization(OSStatus* status)
{
    if (status) *status = kStatusUserCancelled;
    return false;
}

OSStatus CSysConfig::NetworkSetting()
{
    char device[32] = {};
    if (!mHost || !mHost->GetAppDeviceName(device))
        device[0] = '\0';
    const char* action = !USysConfig::FindLocation(kLocationName) ? "-n"
                         : USysConfig::FindDevice(kLocationName, device) ? "-c"
                                                                         : "-a";
    SysConfigDataRec data{};
    CreateNSData(data);

    std::string user, adminPassword;
    if (!gPrompt || !gPrompt->AskCredentials(user, adminPassword))
        return kStatusUserCancelled;
    const std::string tool = KPaths::ToolPath();
    if (access(tool.c_str(), X_OK) != 0)
        return -1;
    const char* sudoEnv = std::getenv("KAVANTI_SUDO");
    const std::string sudo = sudoEnv && *sudoEnv ? sudoEnv : "sudo";
    std::vector<std::string> args = {sudo, "-S", "-k", "-p", "", "--", tool, action, device, kLocationName,
                                     data.accessPoint.c_str(), data.userName.c_str(), "-",
                                     data.proxyServer.c_str(), kProxyPort, data.cclFilePath.c_str()};
    int in[2];
    if (pipe(in) != 0)
        return StatusFromErrno(errno);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    if (pid < 0) {
        close(in[1]);
        return StatusFromErrno(errno);
    }
    std::signal(SIGPIPE, SIG_IGN);
    const std::string input = adminPassword + "\n" + std::string(data.password.View()) + "\n";
    (void)!write(in[1], input.data(), input.size());
    close(in[1]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}
