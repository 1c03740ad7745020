// kavanti-sudo-probe: drives the privilege runner from the command line, for scripts/sudo-check
// (real sudo, a throwaway user). Not a test of its own and never installed.
//
//   kavanti-sudo-probe check                 administrator's password on standard input
//   kavanti-sudo-probe run PROGRAM ARGS...   administrator's password, then the program's line
//   kavanti-sudo-probe run-unchecked PROGRAM ARGS...   the same without the check first, so that
//                                            sudo itself answers a wrong password during the run
#include "platform/auth/KAuthorization.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const bool unchecked = argc >= 3 && std::strcmp(argv[1], "run-unchecked") == 0;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 ||
        (std::strcmp(argv[1], "check") != 0 && !unchecked && (std::strcmp(argv[1], "run") != 0 || argc < 3))) {
        std::fprintf(stderr, "usage: kavanti-sudo-probe check | run PROGRAM [ARGS...] | run-unchecked PROGRAM [ARGS...]\n"
                             "  standard input: the administrator's password line (run: then the program's line)\n");
        return 2;
    }
    std::string password, line;
    std::getline(std::cin, password);
    if (unchecked) {
        std::getline(std::cin, line);
        std::fflush(stdout);
        int exitStatus = -1;
        const std::string_view pw = password;
        const OSStatus s = KPrivilege::RunWithPassword(argv[2], std::vector<std::string>(argv + 3, argv + argc), &pw,
                                                       &line, exitStatus);
        std::printf("run: status %d, exit %d\n", s, exitStatus);
        return s == kStatusOK && exitStatus == 0 ? 0 : 1;
    }
    KAuthorization auth;
    const OSStatus granted = auth.CopyRights(KPrivilege::LoginName(), password);
    std::printf("check: %s (%d)\n", granted == kStatusOK ? "granted" : "refused", granted);
    if (std::strcmp(argv[1], "check") == 0 || granted != kStatusOK) return granted == kStatusOK ? 0 : 1;

    std::getline(std::cin, line);
    std::fflush(stdout);
    int exitStatus = -1;
    const OSStatus s = auth.ExecuteWithPrivileges(argv[2], std::vector<std::string>(argv + 3, argv + argc), &line, exitStatus);
    std::printf("run: status %d, exit %d\n", s, exitStatus);
    return s == kStatusOK && exitStatus == 0 ? 0 : 1;
}
