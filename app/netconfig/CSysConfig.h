// Turns the user's dial-up settings into the network configuration the card needs, compares it
// with the current one, and has KavantiTool write it with administrator rights.
#pragma once

#include "app/netconfig/CAuthTool.h"
#include "app/netconfig/SysConfigData.h"
#include "platform/cf/KStatus.h"

#include <array>

class CSysConfigHost;

class CSysConfig {
public:
    static constexpr const char* kLocationName = "KVAUTODL";
    static constexpr const char* kProxyPort = "32080";
    static constexpr const char* kToolName = "KavantiTool";
    // The service's three accelerating HTTP proxies, chosen by web-proxy values 1 to 3.
    static constexpr std::array<const char*, 3> kAcceleratorProxyHosts = {
        "accel1.kavanti.example", "accel2.kavanti.example", "accel3.kavanti.example"};
    static constexpr size_t kCCLPathSize = 1024;

    CSysConfig() = default;
    CSysConfig(const CSysConfig&) = delete;
    CSysConfig& operator=(const CSysConfig&) = delete;

    // The application object; until one is set there is no card and no preferences, so the
    // record's fields stay empty.
    void SetHost(CSysConfigHost* host) { mHost = host; }
    CSysConfigHost* GetHost() const { return mHost; }

    // Fills `data` from the preferences and the card; true when the card's modem script was found.
    bool CreateNSData(SysConfigDataRec& data);
    // All six fields equal, byte for byte.
    static bool CompareNSData(const SysConfigDataRec& a, const SysConfigDataRec& b);
    // Writes the desired configuration with KavantiTool ("-n", "-c" or "-a"); its status.
    OSStatus NetworkSetting();
    // Administrator rights, as CAuthTool::Authorization.
    bool Authorization(OSStatus* status);
    // The first modem-scripts folder (user, network, local, system) holding `scriptName`: its
    // full path into `path` (kCCLPathSize bytes). False leaves `path` empty, or untouched when
    // the name is not ASCII.
    static bool GetCCLFilePath(const char* scriptName, char* path);

    // The modem script the card needs; `modemName` may be null (no model known).
    static const char* ModemScriptName(bool useSlipper, bool cclOption, const Str255* modemName);
    // The proxy host for a web-proxy choice: a host, "NULL" for 4, nullptr (empty) otherwise.
    static const char* ProxyServerFor(int16_t webProxy);

    CAuthTool& GetAuthTool() { return mAuthTool; }

private:
    CAuthTool mAuthTool;
    CSysConfigHost* mHost = nullptr;
};
