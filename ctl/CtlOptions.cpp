#include "ctl/Commands.h"

#include <cstdio>

int CtlParseJsonOnly(const std::vector<std::string>& args, const char* usage, const char* help, bool& json)
{
    json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            std::printf("%s\n%s", usage, help);
            return 0;
        } else {
            std::fprintf(stderr, "%s\n", usage);
            return 2;
        }
    }
    return -1;
}

std::string CtlDump(const nlohmann::ordered_json& j)
{
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
