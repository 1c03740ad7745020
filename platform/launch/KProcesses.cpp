#include "platform/launch/KProcesses.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace KProcesses {

namespace {

std::string RealPath(const std::string& p)
{
    char* r = realpath(p.c_str(), nullptr);
    if (!r) return {};
    std::string s(r);
    free(r);
    return s;
}

bool IsExecutableFile(const std::string& p)
{
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string FindInPath(const std::string& name)
{
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string cand = dir + "/" + name;
        if (IsExecutableFile(cand)) return cand;
    }
    return {};
}

std::string ReadHead(const std::string& p, size_t limit)
{
    std::ifstream in(p, std::ios::binary);
    std::string s(limit, '\0');
    in.read(s.data(), static_cast<std::streamsize>(limit));
    s.resize(static_cast<size_t>(in.gcount()));
    return s;
}

bool IsElf(const std::string& p)
{
    return ReadHead(p, 4) == "\x7f" "ELF";
}

// Splits a shell line into words, dropping quotes; good enough for the one-line execs of
// browser wrappers (exec "$CHROMIUM" "$@", exec /usr/lib/x/x "$@").
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == '"' || c == '\'') continue;
        if (std::isspace(static_cast<unsigned char>(c)) || c == ';' || c == '&' || c == '|') {
            if (!cur.empty()) out.push_back(std::move(cur)), cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// The ELF programs a wrapper script execs: absolute paths on its exec lines, directly or
// through a variable assigned an absolute path (NAME=/usr/lib/...).
std::vector<std::string> WrappedPrograms(const std::string& script)
{
    std::vector<std::string> found;
    const std::string text = ReadHead(script, 256 * 1024);
    std::vector<std::pair<std::string, std::string>> vars;
    std::vector<std::vector<std::string>> execLines;
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const auto words = Words(line);
        for (const auto& w : words) {
            const auto eq = w.find('=');
            if (eq != std::string::npos && eq > 0 && eq + 1 < w.size() && w[eq + 1] == '/')
                vars.emplace_back(w.substr(0, eq), w.substr(eq + 1));
        }
        const auto e = std::find(words.begin(), words.end(), "exec");
        if (e != words.end()) execLines.emplace_back(e + 1, words.end());
    }
    auto add = [&](const std::string& p) {
        if (p.empty() || p[0] != '/' || !IsExecutableFile(p) || !IsElf(p)) return;
        const std::string r = RealPath(p);
        if (!r.empty() && std::find(found.begin(), found.end(), r) == found.end()) found.push_back(r);
    };
    for (const auto& words : execLines) {
        for (const auto& w : words) {
            if (w[0] == '/') { add(w); break; }
            if (w[0] == '$') {
                std::string name = w.substr(1);
                if (!name.empty() && name.front() == '{' && name.back() == '}') name = name.substr(1, name.size() - 2);
                for (auto it = vars.rbegin(); it != vars.rend(); ++it)
                    if (it->first == name) { add(it->second); break; }
                break;
            }
            if (w.find('=') == std::string::npos && w[0] != '-') break; // a command by name: not ours to guess
        }
    }
    return found;
}

// argv of a process, split at its NULs; empty for zombies and kernel threads.
std::vector<std::string> CommandLine(const std::string& procDir)
{
    const std::string raw = ReadHead(procDir + "/cmdline", 64 * 1024);
    std::vector<std::string> argv;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        argv.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

bool IsZombie(const std::string& procDir)
{
    // The state follows the last ')' of the stat line (the name may itself hold parentheses).
    const std::string stat = ReadHead(procDir + "/stat", 4096);
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return true;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

bool Matches(const std::string& path, const std::vector<std::string>& executables)
{
    return !path.empty() && std::find(executables.begin(), executables.end(), path) != executables.end();
}

} // namespace

std::vector<std::string> ExecutablesOf(const std::string& program)
{
    std::vector<std::string> out;
    const std::string found = FindInPath(program);
    if (found.empty()) return out;
    const std::string real = RealPath(found);
    if (real.empty()) return out;
    out.push_back(real);
    if (ReadHead(real, 2) == "#!")
        for (auto& p : WrappedPrograms(real))
            if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
    return out;
}

bool Runs(pid_t pid, const std::vector<std::string>& executables, uid_t uid)
{
    if (pid <= 0 || executables.empty()) return false;
    if (uid == static_cast<uid_t>(-1)) uid = getuid();
    const std::string dir = "/proc/" + std::to_string(pid);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) return false;
    if (IsZombie(dir)) return false;
    char buf[4096];
    const ssize_t len = readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
    if (len > 0) {
        std::string exe(buf, static_cast<size_t>(len));
        // A program replaced on disk since it started (an upgrade) still counts.
        const std::string deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
            exe.resize(exe.size() - deleted.size());
        if (Matches(exe, executables)) return true;
    }
    const auto argv = CommandLine(dir);
    if (!argv.empty() && argv[0].find('/') != std::string::npos
        && (Matches(argv[0], executables) || Matches(RealPath(argv[0]), executables)))
        return true;
    // A script run by its interpreter: "/bin/sh /path/script ...".
    return argv.size() >= 2 && len > 0 && argv[1].find('/') != std::string::npos
        && ReadHead(argv[1], 2) == "#!" && Matches(RealPath(argv[1]), executables);
}

std::vector<pid_t> Find(const std::vector<std::string>& executables, uid_t uid)
{
    std::vector<pid_t> pids;
    if (executables.empty()) return pids;
    const pid_t self = getpid();
    DIR* d = opendir("/proc");
    if (!d) return pids;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        const long n = std::strtol(e->d_name, &end, 10);
        if (n <= 0 || *end != '\0' || n == self) continue;
        if (Runs(static_cast<pid_t>(n), executables, uid)) pids.push_back(static_cast<pid_t>(n));
    }
    closedir(d);
    std::sort(pids.begin(), pids.end());
    return pids;
}

OSStatus FindFirst(const std::vector<std::string>& executables, pid_t* pid, uid_t uid)
{
    const auto pids = Find(executables, uid);
    if (pids.empty()) return kStatusNoSuchProcess;
    if (pid) *pid = pids.front();
    return kStatusOK;
}

bool AnyRunning(const std::vector<std::string>& programs)
{
    std::vector<std::string> all;
    for (const auto& p : programs)
        for (auto& x : ExecutablesOf(p)) all.push_back(std::move(x));
    return FindFirst(all) == kStatusOK;
}

const std::vector<std::string>& NetworkSettingsPrograms()
{
    static const std::vector<std::string> names = {"nm-connection-editor", "gnome-control-center", "systemsettings"};
    return names;
}

} // namespace KProcesses
