// kavanti-sudosim: takes sudo's place inside a KAVANTI_ROOT sandbox, for the demo and the tests.
// It knows exactly the two command lines Kavanti gives sudo, checks the password on standard
// input against the sandbox's administrator, and runs the program as the same user.
#include "platform/paths/KPaths.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kAttempts = 3; // as sudo's passwd_tries
const char* const kName = "kavanti-sudosim";

void Help()
{
    std::printf(
        "Usage: %s -S -k -p \"\" -v\n"
        "       %s -S -k -p \"\" -- PROGRAM [ARGUMENTS...]\n"
        "\n"
        "A stand-in for sudo inside a Kavanti sandbox (KAVANTI_ROOT must be set; it refuses to run\n"
        "without one). It reads the password from standard input one byte at a time up to the end of\n"
        "one line (\"\\n\" or \"\\r\"), never further, and compares it with the sandbox administrator's\n"
        "password. With -v it only answers: exit 0 for the right password. With -- it then executes\n"
        "PROGRAM with ARGUMENTS as the same user, the rest of standard input left unread for it.\n"
        "A wrong password is answered like sudo: \"Sorry, try again.\" and another line is read, up to\n"
        "%d attempts; then exit 1 with the program not started.\n"
        "\n"
        "The administrator's password is the first line of the file\n"
        "  $KAVANTI_ROOT/etc/kavanti-sudosim/password\n"
        "(without its newline; the rest of the file is ignored), written by whoever makes the sandbox,\n"
        "for example: printf '%%s\\n' 'demo-admin' > \"$KAVANTI_ROOT/etc/kavanti-sudosim/password\"\n",
        kName, kName, kAttempts);
}

int Usage()
{
    std::fprintf(stderr, "%s: usage: %s -S -k -p \"\" -v | -S -k -p \"\" -- PROGRAM [ARGUMENTS...] (see --help)\n",
                 kName, kName);
    return 1;
}

// One line of standard input, read byte by byte so nothing after it is consumed. False at the
// end of input before any byte.
bool ReadLine(std::string& line)
{
    line.clear();
    bool any = false;
    for (;;) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return any;
        any = true;
        if (c == '\n' || c == '\r') return true;
        line += c;
    }
}

void Wipe(std::string& s)
{
    for (char& c : s) c = '\0';
    s.clear();
}

} // namespace

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Help();
        return 0;
    }
    const char* root = std::getenv("KAVANTI_ROOT");
    if (!root || !*root) {
        std::fprintf(stderr, "%s: refusing to run outside a sandbox: KAVANTI_ROOT is not set (use sudo itself there)\n",
                     kName);
        return 1;
    }
    // Exactly: -S -k -p "" then -v, or -- PROGRAM ...
    if (argc < 6 || std::strcmp(argv[1], "-S") != 0 || std::strcmp(argv[2], "-k") != 0 ||
        std::strcmp(argv[3], "-p") != 0 || argv[4][0] != '\0')
        return Usage();
    const bool validateOnly = std::strcmp(argv[5], "-v") == 0;
    if (validateOnly ? argc != 6 : (std::strcmp(argv[5], "--") != 0 || argc < 7)) return Usage();

    const std::string file = std::string(root) + "/etc/kavanti-sudosim/password";
    std::ifstream in(file);
    std::string admin;
    if (!in || !std::getline(in, admin)) {
        std::fprintf(stderr, "%s: this sandbox has no administrator: write its password to %s\n", kName, file.c_str());
        return 1;
    }
    if (!admin.empty() && admin.back() == '\r') admin.pop_back();

    std::string typed;
    int wrong = 0;
    bool granted = false;
    while (wrong < kAttempts) {
        if (!ReadLine(typed)) {
            std::fprintf(stderr, "%s: no password was provided\n", kName);
            break;
        }
        if (typed == admin) {
            granted = true;
            break;
        }
        ++wrong;
        if (wrong < kAttempts) std::fprintf(stderr, "Sorry, try again.\n");
    }
    Wipe(typed);
    Wipe(admin);
    if (!granted) {
        if (wrong > 0) std::fprintf(stderr, "%s: %d incorrect password attempt%s\n", kName, wrong, wrong == 1 ? "" : "s");
        return 1;
    }
    if (validateOnly) return 0;

    std::vector<char*> args(argv + 6, argv + argc);
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "%s: %s: %s\n", kName, args[0], errno == ENOENT ? "command not found" : std::strerror(errno));
    return 1;
}
