#include "app/ui/UProcessQuery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Matches(const std::vector<std::string>& programs, const std::string& exe, const std::string& argv0)
{
    for (const std::string& p : programs) {
        if (p.empty()) continue;
        if (p.front() == '/') {
            if (p == exe || p == argv0) return true;
            // A wrapper path (/usr/bin/firefox-esr -> ../lib/...) names the same file as the exe.
            char resolved[PATH_MAX];
            if (realpath(p.c_str(), resolved) && exe == resolved) return true;
        } else {
            if ((!exe.empty() && BaseName(exe) == p) || (!argv0.empty() && BaseName(argv0) == p))
                return true;
        }
    }
    return false;
}

} // namespace

namespace UProcessQuery {

bool IsRunning(const std::vector<std::string>& programs, const std::string& procRoot)
{
    DIR* dir = opendir(procRoot.c_str());
    if (!dir) return false;
    const uid_t me = getuid();
    const pid_t self = getpid();
    bool found = false;
    while (!found) {
        const dirent* e = readdir(dir);
        if (!e) break;
        char* end = nullptr;
        const long pid = strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) continue;
        const std::string base = procRoot + "/" + e->d_name;
        struct stat st {};
        if (stat(base.c_str(), &st) != 0 || st.st_uid != me) continue;

        std::string exe;
        char buf[PATH_MAX];
        const ssize_t n = readlink((base + "/exe").c_str(), buf, sizeof buf - 1);
        if (n > 0) {
            exe.assign(buf, static_cast<size_t>(n));
            // A replaced executable reads "/path (deleted)"; it still names the program.
            const std::string deleted = " (deleted)";
            if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
                exe.resize(exe.size() - deleted.size());
        }
        std::ifstream cmd(base + "/cmdline", std::ios::binary);
        std::string argv0;
        std::getline(cmd, argv0, '\0');
        // Some programs rewrite their command line into one space-separated string.
        if (!argv0.empty() && argv0.find(' ') != std::string::npos && access(argv0.c_str(), F_OK) != 0)
            argv0 = argv0.substr(0, argv0.find(' '));
        found = Matches(programs, exe, argv0);
    }
    closedir(dir);
    return found;
}

const std::vector<std::string>& SystemSettingsPrograms()
{
    static const std::vector<std::string> programs = {
        "nm-connection-editor", "gnome-control-center", "systemsettings", "systemsettings5"};
    return programs;
}

const std::vector<std::string>& CacheBrowserPrograms()
{
    static const std::vector<std::string> programs = {"firefox", "firefox-esr", "firefox-bin"};
    return programs;
}

} // namespace UProcessQuery
