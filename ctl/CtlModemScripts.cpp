// kavanti-ctl modem-scripts: the installed modem scripts as the scanner lists them.
#include "ctl/Commands.h"

#include "NetSCF/NetSCFModemScripts.h"

#include <nlohmann/json.hpp>

#include <cstdio>

int CtlModemScripts(const std::vector<std::string>& args)
{
    bool json = false;
    if (const int exit = CtlParseJsonOnly(args, "usage: kavanti-ctl modem-scripts [--json]",
                                          "Lists the modem scripts of the user, network, local and system folders, sorted,\n"
                                          "and the position of the default script.\n",
                                          json);
        exit >= 0)
        return exit;
    PRef<PArray> scripts;
    long index = 0;
    if (OSStatus st = NetSCCreateCCLArray(scripts, &index)) {
        std::fprintf(stderr, "kavanti-ctl: modem-scripts: the modem-script folders could not be read (status %d)\n",
                     static_cast<int>(st));
        return 1;
    }
    nlohmann::ordered_json j;
    j["scripts"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < scripts->Count(); ++i) j["scripts"].push_back(scripts->AtAs<PString>(i)->UTF8());
    j["defaultIndex"] = index;
    if (json) {
        std::printf("%s\n", CtlDump(j).c_str());
        return 0;
    }
    for (size_t i = 0; i < scripts->Count(); ++i)
        std::printf("%c %s\n", static_cast<long>(i) == index ? '*' : ' ', scripts->AtAs<PString>(i)->UTF8().c_str());
    if (scripts->Count() == 0) std::printf("No modem scripts are installed.\n");
    return 0;
}
