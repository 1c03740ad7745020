#include "app/netconfig/CSysConfig.h"

#include "app/netconfig/CSysConfigHost.h"
#include "app/netconfig/USysConfig.h"
#include "app/prefs/CAppPrefs.h"
#include "platform/paths/KPaths.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr size_t kAccessPointChars = 122; // leaves room for the 4-character link-mode suffix
constexpr size_t kAccountChars = 254;

std::string_view Cut(std::string_view s, size_t n) { return s.substr(0, std::min(s.size(), n)); }

} // namespace

const char* CSysConfig::ModemScriptName(bool useSlipper, bool cclOption, const Str255* modemName)
{
    if (useSlipper) return cclOption ? "SUNTAC Slipper" : "Kirodenki KTR21-J";
    static constexpr struct {
        const char* model;
        const char* script;
    } kCards[] = {
        {"KTR21-J", "Kirodenki KTR21-J"},
        {"KTR21C-J", "Kirodenki KTR21C-J"},
        {"KTR22-J", "Kirodenki KTR22-J"},
        {"KTR22C-J", "Kirodenki KTR22C-J"},
    };
    if (modemName) {
        for (const auto& c : kCards)
            if (modemName->View() == c.model) return c.script;
    }
    return "TKS KSR23C-J";
}

const char* CSysConfig::ProxyServerFor(int16_t webProxy)
{
    if (webProxy >= 1 && webProxy <= 3) return kAcceleratorProxyHosts[static_cast<size_t>(webProxy - 1)];
    if (webProxy == 4) return "NULL";
    return nullptr;
}

bool CSysConfig::CreateNSData(SysConfigDataRec& data)
{
    const CAppPrefs* prefs = mHost ? mHost->GetAppPrefs() : nullptr;
    if (prefs) {
        std::string accessPoint(Cut(prefs->GetAccessPoint().View(), kAccessPointChars));
        accessPoint += prefs->GetLinkMode() == 1 ? "##61" : "##64";
        data.accessPoint.Assign(accessPoint);
        data.userName.Assign(Cut(prefs->GetUserName().View(), kAccountChars));
        data.password.Assign(Cut(prefs->GetPassword().View(), kAccountChars));
        if (const char* proxy = ProxyServerFor(prefs->GetWebProxy())) data.proxyServer.Assign(proxy);
    }
    data.proxyPort.Assign(kProxyPort);

    bool useSlipper = false;
    Str255 model;
    const Str255* modemName = nullptr;
    if (mHost) {
        useSlipper = mHost->IsUseSlipper();
        if (!useSlipper) modemName = mHost->GetAppModemName(&model);
    }
    const char* script = ModemScriptName(useSlipper, prefs && prefs->GetCCLOption(), modemName);
    return GetCCLFilePath(script, data.cclFilePath.buf);
}

bool CSysConfig::CompareNSData(const SysConfigDataRec& a, const SysConfigDataRec& b)
{
    return a.accessPoint == b.accessPoint && a.userName == b.userName && a.password == b.password &&
           a.proxyServer == b.proxyServer && a.proxyPort == b.proxyPort && a.cclFilePath == b.cclFilePath;
}

bool CSysConfig::GetCCLFilePath(const char* scriptName, char* path)
{
    if (!scriptName || !path) return false;
    if (!PStringCreateWithBytes(scriptName, PEncoding::ASCII)) return false;
    path[0] = '\0';
    // A name is one file name: nothing that could step out of a scripts folder.
    const std::string_view name(scriptName);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) return false;
    for (const std::string& folder : KPaths::ModemScriptFolders()) {
        if (folder.empty()) continue;
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        const std::string full = folder + "/" + scriptName;
        if (full.size() >= kCCLPathSize) continue;
        CopyCString(path, kCCLPathSize, full);
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
        path[0] = '\0';
    }
    return false;
}

OSStatus CSysConfig::NetworkSetting()
{
    char device[32] = {0};
    if (mHost) mHost->GetAppDeviceName(device);

    const char* action = "-n";
    if (USysConfig::FindLocation(kLocationName)) action = USysConfig::FindDevice(kLocationName, device) ? "-c" : "-a";

    SysConfigDataRec data;
    CreateNSData(data);
    // The account password goes to the tool on standard input, never on its command line.
    const char* const arguments[] = {
        action,
        device,
        kLocationName,
        data.accessPoint.c_str(),
        data.userName.c_str(),
        "-",
        data.proxyServer.c_str(),
        kProxyPort,
        data.cclFilePath.c_str(),
        nullptr,
    };
    const OSStatus status = mAuthTool.ExecuteTool(arguments, data.password.c_str());
    std::fill(std::begin(data.password.buf), std::end(data.password.buf), '\0');
    return status;
}

bool CSysConfig::Authorization(OSStatus* status) { return mAuthTool.Authorization(status); }
