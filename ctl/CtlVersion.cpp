#include "ctl/Commands.h"

#include <cstdio>

int CtlVersion(const std::vector<std::string>&)
{
    std::printf("kavanti-ctl 0.1\n");
    return 0;
}
