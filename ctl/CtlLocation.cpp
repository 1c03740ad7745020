// kavanti-ctl location: the current network location as the application reads it.
#include "ctl/Commands.h"

#include "app/netconfig/USysConfig.h"
#include "platform/paths/KPaths.h"
#include "platform/ports/KPorts.h"
#include "platform/store/SCPreferences.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {
const char kUsage[] = "usage: kavanti-ctl location [--device NAME] [--show-password] [--json]";
} // namespace

int CtlLocation(const std::vector<std::string>& args)
{
    bool json = false;
    bool showPassword = false;
    std::string device;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--show-password") {
            showPassword = true;
        } else if (args[i] == "--device" && i + 1 < args.size()) {
            device = args[++i];
        } else if (args[i].rfind("--device=", 0) == 0) {
            device = args[i].substr(9);
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::printf("%s\n"
                        "Shows the current network location: its name, how many services are active and,\n"
                        "for the card's service (device NAME, or the card found by discovery), whether it\n"
                        "is active and its settings. The password shows only as passwordSet (true or\n"
                        "false) unless --show-password is given.\n",
                        kUsage);
            return 0;
        } else {
            std::fprintf(stderr, "%s\n", kUsage);
            return 2;
        }
    }
    // The readers below answer "none" for a store they cannot read; say so instead.
    {
        SCErrorSet(0);
        const SCPreferencesRef prefs = SCPreferencesCreate("kavanti-ctl");
        if (!prefs) {
            const OSStatus st = SCError();
            std::fprintf(stderr, "kavanti-ctl: location: cannot read the network preferences '%s': %s (status %d)\n",
                         KPaths::StorePath().c_str(), SCErrorString(st), static_cast<int>(st));
            return 1;
        }
    }
    if (device.empty()) {
        KPorts::PortRecord card;
        if (KPorts::FindCardPort(card)) device = card.moduleName;
    }

    nlohmann::ordered_json j;
    char name[255] = "";
    j["name"] = USysConfig::GetCurrentSetName(name) ? nlohmann::ordered_json(name) : nlohmann::ordered_json();
    j["activeServiceCount"] = USysConfig::GetActiveServiceCount();
    j["device"] = device.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(device);
    const PRef<PString> bsdName = device.empty() ? PRef<PString>() : PStr(device);
    j["serviceIsActive"] = USysConfig::ServiceIsActive(bsdName.get());
    SysConfigDataRec rec;
    if (bsdName && USysConfig::GetCurrentSetting(bsdName.get(), rec)) {
        nlohmann::ordered_json setting = {{"accessPoint", rec.accessPoint.c_str()}, {"userName", rec.userName.c_str()}};
        // Group dip may run this: the password is shown only when asked for.
        if (showPassword) setting["password"] = rec.password.c_str();
        else setting["passwordSet"] = rec.password.c_str()[0] != '\0';
        setting["proxyServer"] = rec.proxyServer.c_str();
        setting["proxyPort"] = rec.proxyPort.c_str();
        setting["cclFilePath"] = rec.cclFilePath.c_str();
        j["setting"] = std::move(setting);
    } else {
        j["setting"] = nullptr;
    }
    if (json) {
        std::printf("%s\n", CtlDump(j).c_str());
        return 0;
    }
    std::printf("Location:        %s\n", j["name"].is_null() ? "(none)" : name);
    std::printf("Active services: %d\n", static_cast<int>(j["activeServiceCount"].get<int>()));
    std::printf("Card device:     %s\n", device.empty() ? "(no card found)" : device.c_str());
    std::printf("Card service:    %s\n", j["serviceIsActive"].get<bool>() ? "active" : "not active");
    if (!j["setting"].is_null()) {
        for (const auto& [k, v] : j["setting"].items())
            std::printf("  %-12s %s\n", k.c_str(), v.is_string() ? v.get<std::string>().c_str() : v.dump().c_str());
    }
    return 0;
}
