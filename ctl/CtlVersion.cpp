#include "ctl/Commands.h"

#include <cstdio>

int CtlVersion(const std::vector<std::string>& args)
{
    bool json = false;
    if (const int exit = CtlParseJsonOnly(args, "usage: kavanti-ctl version [--json]", "Prints the version of kavanti-ctl.\n", json);
        exit >= 0)
        return exit;
    if (json) std::printf("%s\n", CtlDump(nlohmann::ordered_json{{"version", "0.1"}}).c_str());
    else std::printf("kavanti-ctl 0.1\n");
    return 0;
}
