// kavanti-ctl: a headless companion for scripts and diagnostics.
#include "platform/paths/KPaths.h"
#include "ctl/Commands.h"

#include "platform/cf/PText.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

const CtlCommand kCommands[] = {
    // Each command lives in its own file; add it here.
    KAVANTI_CTL_COMMANDS
};

void Usage(FILE* out)
{
    std::fprintf(out,
                 "Usage: kavanti-ctl COMMAND [OPTIONS]\n"
                 "A headless companion to Kavanti for scripts and diagnostics.\n\n"
                 "Commands:\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %-34s %s\n", c.synopsis, c.summary);
    std::fprintf(out,
                 "\nEvery command prints text for people, or one JSON document with --json.\n"
                 "Exit status: 0 success, 1 failure (explained on standard error), 2 usage error.\n"
                 "KAVANTI_ROOT moves every system path below a sandbox folder.\n");
}

int Run(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away is an EPIPE to handle, not our death
    // Every option and value is UTF-8 text; other bytes cannot be shown or matched.
    for (int i = 1; i < argc; ++i) {
        if (PTextCheckUTF8(argv[i]) == PTextCheck::InvalidUTF8) {
            std::fprintf(stderr, "kavanti-ctl: argument %d is not valid UTF-8\n"
                                 "Usage: kavanti-ctl COMMAND [OPTIONS] (see kavanti-ctl --help)\n", i);
            return 2;
        }
    }
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    for (const auto& c : kCommands) {
        if (cmd == c.name) {
            std::vector<std::string> args(argv + 2, argv + argc);
            return c.run(args);
        }
    }
    std::fprintf(stderr, "kavanti-ctl: unknown command '%s' (see kavanti-ctl --help)\n", cmd.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    // No command may end the program on an exception: it is a failure, explained.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavanti-ctl: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kavanti-ctl: internal error\n");
    }
    return 1;
}
