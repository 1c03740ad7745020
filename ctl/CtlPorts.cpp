// kavanti-ctl ports: the network ports as set creation sees them, and the card's port as the
// PPP controller's discovery finds it.
#include "ctl/Commands.h"

#include "NetSCF/NetSCFPortScanner.h"
#include "platform/ports/KPorts.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

const char* const kKeys[] = {"UserDefinedName", "DeviceName", "Hardware", "Type",
                             "SubType", "MACAddress", "HardwareVariant", "SortOrder"};

} // namespace

int CtlPorts(const std::vector<std::string>& args)
{
    bool json = false;
    if (const int exit = CtlParseJsonOnly(args, "usage: kavanti-ctl ports [--json]",
                                          "Lists the machine's network ports in the order a new location gets its services,\n"
                                          "and the card's port as discovery finds it.\n",
                                          json);
        exit >= 0)
        return exit;
    PRef<PArray> ports;
    if (OSStatus st = NetSCCreatePortArray(ports)) {
        std::fprintf(stderr, "kavanti-ctl: ports: the ports could not be read (status %d)\n", static_cast<int>(st));
        return 1;
    }
    KPorts::PortRecord card;
    const bool haveCard = KPorts::FindCardPort(card);

    nlohmann::ordered_json j;
    j["ports"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < ports->Count(); ++i) {
        const PDictionary* d = ports->AtAs<PDictionary>(i);
        if (!d) continue;
        nlohmann::ordered_json p = nlohmann::ordered_json::object();
        for (const char* key : kKeys) {
            if (const PString* s = d->GetAs<PString>(key)) p[key] = s->UTF8();
            else if (const PNumber* n = d->GetAs<PNumber>(key)) p[key] = n->Int64();
        }
        j["ports"].push_back(p);
    }
    j["cardPort"] = haveCard ? nlohmann::ordered_json{{"path", card.portName}, {"deviceName", card.moduleName}}
                             : nlohmann::ordered_json();

    if (json) {
        std::printf("%s\n", CtlDump(j).c_str());
        return 0;
    }
    for (const auto& p : j["ports"]) {
        std::printf("%s\n", p.value("UserDefinedName", std::string("?")).c_str());
        for (const char* key : kKeys) {
            if (std::string(key) == "UserDefinedName" || !p.contains(key)) continue;
            const auto& v = p[key];
            std::printf("  %-16s %s\n", key, v.is_string() ? v.get<std::string>().c_str() : v.dump().c_str());
        }
    }
    if (haveCard) std::printf("Card port: %s (%s)\n", card.portName.c_str(), card.moduleName.c_str());
    else std::printf("Card port: none found\n");
    return 0;
}
