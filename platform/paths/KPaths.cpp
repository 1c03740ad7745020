#include "platform/paths/KPaths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KPaths {

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string StripTrailingSlashes(std::string s)
{
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string Parent(const std::string& path)
{
    const auto pos = path.find_last_of('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

} // namespace

std::string Root()
{
    std::string r = Env("KAVANTI_ROOT");
    if (r.empty()) return r;
    r = StripTrailingSlashes(r);
    return r == "/" ? std::string() : r;
}

std::string System(std::string_view absolutePath)
{
    return Root() + std::string(absolutePath);
}

void EnterSandboxEnvironment()
{
    const std::string root = Root();
    if (root.empty()) return;
    const std::string home = root + "/home";
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
}

std::string Home()
{
    const std::string root = Root();
    if (!root.empty()) return root + "/home";
    std::string h = Env("HOME");
    if (!h.empty()) return StripTrailingSlashes(h);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

static std::string XdgFolder(const char* var, const char* fallback)
{
    if (Root().empty()) {
        std::string v = Env(var);
        if (!v.empty() && v[0] == '/') return StripTrailingSlashes(v);
    }
    const std::string home = Home();
    return home.empty() ? std::string() : home + fallback;
}

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }
std::string DataHome() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string PreferencesFolder()
{
    const std::string c = ConfigHome();
    return c.empty() ? c : c + "/kavanti";
}

std::string PreferencesFile()
{
    const std::string f = PreferencesFolder();
    return f.empty() ? f : f + "/Kavanti.plist";
}

std::string ExecutableDir()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    return Parent(buf);
}

std::string ResourcesFolder()
{
    std::string r = Env("KAVANTI_RESOURCES");
    if (!r.empty()) return StripTrailingSlashes(r);
    const std::string exe = ExecutableDir();
    if (exe.empty()) return {};
    // bin/ and libexec/kavanti/ both sit below the prefix.
    const std::string prefix = Parent(exe);
    struct stat st {};
    if (stat((prefix + "/share/kavanti").c_str(), &st) == 0) return prefix + "/share/kavanti";
    return Parent(prefix) + "/share/kavanti";
}

std::string LibexecFolder()
{
    const std::string exe = ExecutableDir();
    if (exe.empty()) return {};
    const std::string prefix = Parent(exe);
    struct stat st {};
    if (stat((prefix + "/libexec/kavanti").c_str(), &st) == 0) return prefix + "/libexec/kavanti";
    return Parent(prefix) + "/libexec/kavanti";
}

std::string ToolPath()
{
    const std::string l = LibexecFolder();
    return l.empty() ? l : l + "/KavantiTool";
}

std::string StorePath() { return System("/var/lib/kavanti/preferences.plist"); }
std::string StoreLockPath() { return System("/var/lib/kavanti/preferences.plist.lock"); }
std::string PeerFilePath() { return System("/etc/ppp/peers/kavanti"); }
std::string DevicePath(std::string_view ttyName) { return System("/dev/") + std::string(ttyName); }
std::string SysfsRoot() { return System("/sys"); }

std::vector<std::string> ModemScriptFolders()
{
    const std::string data = DataHome();
    const std::string res = ResourcesFolder();
    return {
        data.empty() ? std::string() : data + "/kavanti/modem-scripts",
        System("/etc/kavanti/modem-scripts"),
        System("/usr/local/share/kavanti/modem-scripts"),
        res.empty() ? std::string() : res + "/modem-scripts",
    };
}

int MakeFolders(const std::string& path, unsigned mode)
{
    if (path.empty()) return ENOENT;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const std::string parent = Parent(path);
    if (parent != path) {
        if (int e = MakeFolders(parent, mode)) return e;
    }
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return errno;
    return 0;
}

} // namespace KPaths

#include <fcntl.h>
#include <string>

namespace KPaths {

int WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode)
{
    std::string tmp = path + ".XXXXXX";
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    int err = 0;
    if (fchmod(fd, mode) != 0) err = errno;
    size_t done = 0;
    while (!err && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
        } else if (n == 0) {
            err = EIO;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    while (!err && fsync(fd) != 0) {
        if (errno != EINTR) err = errno;
    }
    if (::close(fd) != 0 && !err && errno != EINTR) err = errno;
    if (!err && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return err;
    }
    // The rename lives in the folder: flush it too, or a crash may bring the old file back.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dir;
    do {
        dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (dir < 0 && errno == EINTR);
    if (dir >= 0) {
        while (fsync(dir) != 0 && errno == EINTR) {
        }
        ::close(dir);
    }
    return 0;
}

} // namespace KPaths
