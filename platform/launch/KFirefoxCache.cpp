#include "platform/launch/KFirefoxCache.h"

#include "platform/launch/KLaunchPaths.h"
#include "platform/paths/KPaths.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace KFirefoxCache {

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A relative profile path that climbs out of its root ("../x") could point anywhere.
bool Climbs(const std::string& rel)
{
    std::stringstream parts(rel);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (part == "..") return true;
    return false;
}

struct Profile {
    std::string dir;      // the profile folder (prefs.js, user.js)
    std::string localDir; // where Firefox keeps its cache for it
};

// Profiles of one configuration folder: every [Profile*] of profiles.ini and the Default= of
// each [Install*] in installs.ini.
void ReadProfiles(const std::string& root, const std::string& cacheRoot, std::vector<Profile>& out)
{
    auto add = [&](const std::string& path, bool relative) {
        if (path.empty()) return;
        Profile p;
        if (relative) {
            if (path[0] == '/' || Climbs(path)) return;
            p.dir = root + "/" + path;
            p.localDir = cacheRoot.empty() ? std::string() : cacheRoot + "/" + path;
        } else {
            if (path[0] != '/') return;
            p.dir = path;
            // A profile kept outside the root keeps its cache in its own folder.
            const std::string prefix = root + "/";
            if (path.compare(0, prefix.size(), prefix) == 0 && !Climbs(path.substr(prefix.size())))
                p.localDir = cacheRoot.empty() ? std::string() : cacheRoot + "/" + path.substr(prefix.size());
            else
                p.localDir = path;
        }
        const bool dup = std::any_of(out.begin(), out.end(), [&](const Profile& q) { return q.dir == p.dir; });
        if (!dup) out.push_back(std::move(p));
    };

    GKeyFile* k = g_key_file_new();
    if (g_key_file_load_from_file(k, (root + "/profiles.ini").c_str(), G_KEY_FILE_NONE, nullptr)) {
        gsize n = 0;
        gchar** groups = g_key_file_get_groups(k, &n);
        for (gsize i = 0; i < n; ++i) {
            const std::string g = groups[i];
            if (g.rfind("Profile", 0) != 0) continue;
            gchar* path = g_key_file_get_string(k, groups[i], "Path", nullptr);
            GError* err = nullptr;
            int rel = g_key_file_get_integer(k, groups[i], "IsRelative", &err);
            if (err) { g_error_free(err); rel = 1; }
            if (path) add(path, rel != 0);
            g_free(path);
        }
        g_strfreev(groups);
    }
    g_key_file_free(k);

    k = g_key_file_new();
    if (g_key_file_load_from_file(k, (root + "/installs.ini").c_str(), G_KEY_FILE_NONE, nullptr)) {
        gsize n = 0;
        gchar** groups = g_key_file_get_groups(k, &n);
        for (gsize i = 0; i < n; ++i) {
            gchar* path = g_key_file_get_string(k, groups[i], "Default", nullptr);
            if (path) add(path, path[0] != '/');
            g_free(path);
        }
        g_strfreev(groups);
    }
    g_key_file_free(k);
}

// Deletes every entry inside the open folder `dirFd`; links are removed, never followed.
OSStatus EmptyFolder(int dirFd)
{
    DIR* d = fdopendir(dirFd);
    if (!d) {
        const int e = errno;
        close(dirFd);
        return StatusFromErrno(e);
    }
    OSStatus first = kStatusOK;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    const int fd = dirfd(d);
    for (const auto& n : names) {
        struct stat st {};
        if (fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue; // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            // O_NOFOLLOW: if the entry was swapped for a link since the stat, it is not entered.
            const int sub = openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                if (first == kStatusOK && errno != ENOENT) first = StatusFromErrno(errno);
                continue;
            }
            const OSStatus st2 = EmptyFolder(sub);
            if (first == kStatusOK) first = st2;
            if (unlinkat(fd, n.c_str(), AT_REMOVEDIR) != 0 && first == kStatusOK && errno != ENOENT)
                first = StatusFromErrno(errno);
        } else if (unlinkat(fd, n.c_str(), 0) != 0 && first == kStatusOK && errno != ENOENT) {
            first = StatusFromErrno(errno);
        }
    }
    closedir(d);
    return first;
}

} // namespace

std::string StringPref(const std::string& text, const std::string& name)
{
    std::string value;
    std::istringstream lines(text);
    std::string line;
    const std::string quoted = "\"" + name + "\"";
    while (std::getline(lines, line)) {
        auto p = line.find_first_not_of(" \t");
        if (p == std::string::npos) continue;
        const bool user = line.compare(p, 10, "user_pref(") == 0;
        const bool plain = line.compare(p, 5, "pref(") == 0;
        if (!user && !plain) continue;
        p = line.find('(', p) + 1;
        p = line.find_first_not_of(" \t", p);
        if (p == std::string::npos || line.compare(p, quoted.size(), quoted) != 0) continue;
        p = line.find(',', p + quoted.size());
        if (p == std::string::npos) continue;
        p = line.find_first_not_of(" \t", p + 1);
        if (p == std::string::npos || line[p] != '"') continue;
        std::string v;
        bool closed = false;
        for (size_t i = p + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '\\' && i + 1 < line.size()) { v += line[++i]; continue; }
            if (c == '"') { closed = true; break; }
            v += c;
        }
        if (closed) value = v;
    }
    return value;
}

std::vector<std::string> ProfileRoots()
{
    std::vector<std::string> roots;
    const std::string config = KLaunchPaths::ConfigHome();
    if (!config.empty()) roots.push_back(config + "/mozilla/firefox");
    const std::string home = KPaths::Home();
    if (!home.empty()) roots.push_back(home + "/.mozilla/firefox");
    return roots;
}

std::vector<std::string> CacheFolders()
{
    const std::string cacheHome = KLaunchPaths::CacheHome();
    const std::string cacheRoot = cacheHome.empty() ? cacheHome : cacheHome + "/mozilla/firefox";
    std::vector<Profile> profiles;
    for (const auto& root : ProfileRoots()) ReadProfiles(root, cacheRoot, profiles);
    std::vector<std::string> out;
    for (const auto& p : profiles) {
        // user.js is applied after prefs.js, so its value wins.
        std::string parent = StringPref(ReadAll(p.dir + "/user.js"), "browser.cache.disk.parent_directory");
        if (parent.empty())
            parent = StringPref(ReadAll(p.dir + "/prefs.js"), "browser.cache.disk.parent_directory");
        if (!parent.empty() && parent[0] != '/') parent.clear(); // Firefox itself wants a full path
        const std::string base = parent.empty() ? p.localDir : parent;
        if (base.empty()) continue;
        std::string folder = base + "/cache2";
        if (std::find(out.begin(), out.end(), folder) == out.end()) out.push_back(std::move(folder));
    }
    return out;
}

OSStatus Clear()
{
    const auto folders = CacheFolders();
    if (folders.empty()) return kStatusFileNotFound;
    OSStatus first = kStatusOK;
    for (const auto& f : folders) {
        // The cache2 folder must be a real folder: a link here could point at anything.
        const int fd = open(f.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        OSStatus st;
        if (fd < 0) {
            const int e = errno;
            struct stat lst {};
            const bool link = lstat(f.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
            st = link || e == ELOOP ? kStatusFileAccess : StatusFromErrno(e);
        } else {
            st = EmptyFolder(fd);
        }
        if (first == kStatusOK) first = st;
    }
    return first;
}

} // namespace KFirefoxCache
