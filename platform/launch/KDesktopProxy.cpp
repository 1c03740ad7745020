#include "platform/launch/KDesktopProxy.h"

#include "platform/launch/KLaunchPaths.h"
#include "platform/paths/KPaths.h"

#include <gio/gio.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace KDesktopProxy {

namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";
constexpr const char* kGroupSaved = "Saved";
constexpr const char* kGroupApplied = "Applied";

// The proxy that programs started from now on get; main thread only.
std::string gProxyURL;

struct Unref {
    void operator()(gpointer p) const { if (p) g_object_unref(p); }
};
struct KeyFileFree {
    void operator()(GKeyFile* k) const { if (k) g_key_file_free(k); }
};
using SettingsPtr = std::unique_ptr<GSettings, Unref>;
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

struct ProxySettings {
    std::string mode;
    std::string host;
    int port = 0;
    bool operator==(const ProxySettings&) const = default;
};

// The desktop's proxy settings, or null when this desktop has no such schema (then it is
// left alone).
SettingsPtr OpenSettings()
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (!schema) return nullptr;
    const bool usable = g_settings_schema_has_key(schema, "mode");
    g_settings_schema_unref(schema);
    GSettingsSchema* http = g_settings_schema_source_lookup(source, "org.gnome.system.proxy.http", TRUE);
    if (!http) return nullptr;
    g_settings_schema_unref(http);
    if (!usable) return nullptr;
    return SettingsPtr(g_settings_new(kSchema));
}

ProxySettings Read(GSettings* s)
{
    ProxySettings r;
    gchar* mode = g_settings_get_string(s, "mode");
    r.mode = mode ? mode : "";
    g_free(mode);
    SettingsPtr http(g_settings_get_child(s, "http"));
    gchar* host = g_settings_get_string(http.get(), "host");
    r.host = host ? host : "";
    g_free(host);
    r.port = g_settings_get_int(http.get(), "port");
    return r;
}

bool Write(GSettings* s, const ProxySettings& p)
{
    SettingsPtr http(g_settings_get_child(s, "http"));
    // A mode the schema does not know (a saved file from elsewhere) is refused by GSettings.
    bool ok = g_settings_set_string(http.get(), "host", p.host.c_str());
    ok = g_settings_set_int(http.get(), "port", p.port) && ok;
    ok = g_settings_set_string(s, "mode", p.mode.c_str()) && ok;
    g_settings_sync();
    return ok;
}

void Put(GKeyFile* k, const char* group, const ProxySettings& p)
{
    g_key_file_set_string(k, group, "mode", p.mode.c_str());
    g_key_file_set_string(k, group, "http-host", p.host.c_str());
    g_key_file_set_integer(k, group, "http-port", p.port);
}

bool Get(GKeyFile* k, const char* group, ProxySettings& p)
{
    GError* err = nullptr;
    gchar* mode = g_key_file_get_string(k, group, "mode", &err);
    if (err) { g_error_free(err); return false; }
    gchar* host = g_key_file_get_string(k, group, "http-host", &err);
    if (err) { g_error_free(err); g_free(mode); return false; }
    const int port = g_key_file_get_integer(k, group, "http-port", &err);
    if (err) { g_error_free(err); g_free(mode); g_free(host); return false; }
    p = {mode, host, port};
    g_free(mode);
    g_free(host);
    return true;
}

KeyFilePtr LoadSaved()
{
    const std::string path = SavedSettingsPath();
    if (path.empty()) return nullptr;
    KeyFilePtr k(g_key_file_new());
    if (!g_key_file_load_from_file(k.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return nullptr;
    return k;
}

OSStatus Save(GKeyFile* k)
{
    const std::string path = SavedSettingsPath();
    if (path.empty()) return kStatusFileAccess;
    const std::string folder = path.substr(0, path.rfind('/'));
    if (KPaths::MakeFolders(folder, 0700) != 0) return kStatusFileAccess;
    gsize len = 0;
    gchar* data = g_key_file_to_data(k, &len, nullptr);
    const int e = KPaths::WriteFileAtomically(path, std::string(data, len), 0600);
    g_free(data);
    return e == 0 ? kStatusOK : StatusFromErrno(e);
}

bool ValidHost(const std::string& host)
{
    if (host.size() > 253) return false;
    for (unsigned char c : host)
        if (!(g_ascii_isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']'))
            return false;
    return true;
}

std::string URLFor(const std::string& host, uint16_t port)
{
    const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

} // namespace

std::string SavedSettingsPath()
{
    const std::string state = KLaunchPaths::StateHome();
    return state.empty() ? state : state + "/kavanti/desktop-proxy.ini";
}

OSStatus Apply(const std::string& host, uint16_t port)
{
    if (host.empty()) return Restore();
    if (!ValidHost(host) || port == 0) return kStatusBadParam;
    gProxyURL = URLFor(host, port);

    SettingsPtr settings = OpenSettings();
    if (!settings) return kStatusOK; // no such desktop setting: the environment is all there is

    const ProxySettings wanted{"manual", host, port};
    KeyFilePtr saved = LoadSaved();
    if (!saved) {
        // First change: keep what the desktop had, on disk, before touching it.
        saved.reset(g_key_file_new());
        Put(saved.get(), kGroupSaved, Read(settings.get()));
    }
    Put(saved.get(), kGroupApplied, wanted);
    if (const OSStatus st = Save(saved.get()); st != kStatusOK) return st;
    return Write(settings.get(), wanted) ? kStatusOK : kStatusBadParam;
}

OSStatus Apply(const std::string& host, const std::string& portText)
{
    if (host.empty() || host == "NULL") return Restore();
    if (portText.empty() || portText.size() > 5
        || portText.find_first_not_of("0123456789") != std::string::npos)
        return kStatusBadParam;
    const long port = std::stol(portText);
    if (port < 1 || port > 65535) return kStatusBadParam;
    return Apply(host, static_cast<uint16_t>(port));
}

OSStatus Restore()
{
    gProxyURL.clear();
    KeyFilePtr saved = LoadSaved();
    if (!saved) return kStatusOK;
    SettingsPtr settings = OpenSettings();
    OSStatus st = kStatusOK;
    ProxySettings before, applied;
    if (settings && Get(saved.get(), kGroupSaved, before)) {
        // Only what is still ours is put back: a proxy the user set meanwhile is kept.
        const bool haveApplied = Get(saved.get(), kGroupApplied, applied);
        if (!haveApplied || Read(settings.get()) == applied)
            if (!Write(settings.get(), before)) st = kStatusBadParam;
    }
    if (unlink(SavedSettingsPath().c_str()) != 0 && errno != ENOENT && st == kStatusOK)
        st = StatusFromErrno(errno);
    return st;
}

OSStatus RecoverAfterCrash()
{
    return Restore();
}

std::string CurrentProxyURL()
{
    return gProxyURL;
}

std::vector<std::pair<std::string, std::string>> Environment()
{
    if (gProxyURL.empty()) return {};
    return {{"http_proxy", gProxyURL}, {"HTTP_PROXY", gProxyURL}};
}

} // namespace KDesktopProxy
