// A stand-in for Kavanti's side of the desktop proxy, one step per run, so that a test can kill
// it between steps the way a crash would: apply HOST PORT | apply-then-die HOST PORT | restore |
// recover | env. Prints the step's status.
#include "platform/launch/KDesktopProxy.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const std::string step = argc > 1 ? argv[1] : "";
    OSStatus st = 0;
    if ((step == "apply" || step == "apply-then-die") && argc == 4) {
        st = KDesktopProxy::Apply(std::string(argv[2]), std::string(argv[3]));
        if (step == "apply-then-die") raise(SIGKILL);
    } else if (step == "restore") {
        st = KDesktopProxy::Restore();
    } else if (step == "recover") {
        st = KDesktopProxy::RecoverAfterCrash();
    } else {
        std::fprintf(stderr, "usage: proxy_probe apply|apply-then-die HOST PORT | restore | recover\n");
        return 2;
    }
    std::printf("%d\n", static_cast<int>(st));
    for (const auto& [k, v] : KDesktopProxy::Environment()) std::printf("%s=%s\n", k.c_str(), v.c_str());
    return 0;
}
