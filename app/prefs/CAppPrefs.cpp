#include "app/prefs/CAppPrefs.h"

#include "app/prefs/UPasswordCodec.h"
#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kPrefsFileName = "Kavanti.plist";
constexpr const char* kDefaultsFileName = "DefaultPref.plist";
constexpr unsigned kPrefsMode = 0600; // the file holds the account password

void LoadString(const PDictionary& d, const char* key, Str255& field)
{
    if (const auto* s = d.GetAs<PString>(key)) field = Str255FromPString(*s);
}

void LoadInt(const PDictionary& d, const char* key, int32_t& field)
{
    int32_t v;
    if (const auto* n = d.GetAs<PNumber>(key); n && n->GetInt32(v)) field = v;
}

// Booleans as property lists keep them; a number 0/1 written by hand is taken too.
bool ReadBool(const PValue* v, bool& out)
{
    if (const auto* b = PValue::As<PBoolean>(v)) { out = b->Value(); return true; }
    if (const auto* n = PValue::As<PNumber>(v)) { out = n->Int64() != 0; return true; }
    return false;
}

void SetString(PDictionary& d, const char* key, const Str255& value)
{
    if (auto s = PStringFromStr255(value)) d.Set(key, s);
}

// Moves an unreadable preferences file aside without replacing an earlier one, so whatever it
// held can still be recovered by hand.
void MoveAside(const std::string& path)
{
    std::string target = path + ".unreadable";
    struct stat st {};
    for (int i = 1; lstat(target.c_str(), &st) == 0 && i < 1000; ++i)
        target = path + ".unreadable." + std::to_string(i);
    rename(path.c_str(), target.c_str());
}

} // namespace

OSStatus CAppPrefs::GetPreferencesURL(std::string& path)
{
    const std::string folder = KPaths::PreferencesFolder();
    if (folder.empty()) return kStatusFileNotFound;
    path = folder + "/" + kPrefsFileName;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return kStatusFileNotFound;
    return kStatusOK;
}

OSStatus CAppPrefs::GetDefaultPrefURL(std::string& path)
{
    const std::string res = KPaths::ResourcesFolder();
    if (res.empty()) return kStatusFileNotFound;
    path = res + "/" + kDefaultsFileName;
    return kStatusOK;
}

OSStatus CAppPrefs::CopyDefaultPrefFileTo(const std::string& prefsPath)
{
    std::string defaults;
    if (GetDefaultPrefURL(defaults) != kStatusOK) return kStatusFileNotFound;
    const auto slash = prefsPath.find_last_of('/');
    if (slash != std::string::npos && KPaths::MakeFolders(prefsPath.substr(0, slash), 0700) != 0)
        return kStatusFileAccess;

    // Through a temporary file, so an interrupted copy never leaves half a file behind; a read
    // error is a failed copy, not a shorter file.
    std::string bytes;
    if (ReadWholeFile(defaults, bytes) != 0) return kStatusFileAccess;
    return KPaths::WriteFileAtomically(prefsPath, bytes, kPrefsMode) == 0 ? kStatusOK : kStatusFileAccess;
}

OSStatus CAppPrefs::GetPreferencesDict(const std::string& path, PRef<PDictionary>& dict)
{
    dict.reset();
    std::string bytes;
    if (int e = ReadWholeFile(path, bytes)) return e == ENOENT ? kStatusFileNotFound : kStatusFileAccess;
    dict = PRefCast<PDictionary>(PListCreateFromData(bytes, true));
    return kStatusOK;
}

OSStatus CAppPrefs::LoadPreferences()
{
    std::string path;
    OSStatus err = GetPreferencesURL(path);
    if (err != kStatusOK) {
        if (path.empty()) return err;
        err = CopyDefaultPrefFileTo(path);
        if (err != kStatusOK) return err;
        err = GetPreferencesURL(path);
        if (err != kStatusOK) return err;
    }

    PRef<PDictionary> dict;
    err = GetPreferencesDict(path, dict);
    if (err != kStatusOK) return err;
    if (!dict) {
        // Nothing is loaded, as before; but later saves must have a file to work on, or every
        // change the user makes from now on would be lost.
        MoveAside(path);
        CopyDefaultPrefFileTo(path);
        return kStatusOK;
    }

    LoadConnectionSetting(*dict);
    LoadApplicationSetting(*dict);
    LoadAuthorInformation(*dict);
    return kStatusOK;
}

void CAppPrefs::LoadConnectionSetting(const PDictionary& d)
{
    LoadString(d, "AccessPoint", mAccessPoint);
    LoadString(d, "UserName", mUserName);
    if (const auto* data = d.GetAs<PData>("Password")) {
        PRef<PString> pw;
        if (UPasswordCodec::CopyDecodePassword(data, pw) == kStatusOK) mPassword = Str255FromPString(*pw);
    }
    LoadInt(d, "LinkMode", mLinkMode);
}

void CAppPrefs::LoadApplicationSetting(const PDictionary& d)
{
    LoadInt(d, "Proxy", mWebProxy);
    LoadInt(d, "Service", mService);
    if (const auto* arr = d.GetAs<PArray>("ApplicationSetting")) {
        const size_t n = std::min<size_t>(arr->Count(), kAppSetCount);
        for (size_t i = 0; i < n; ++i) {
            bool b;
            if (ReadBool(arr->At(i), b)) mAppSet[i] = b;
        }
    }
}

void CAppPrefs::LoadAuthorInformation(const PDictionary& d)
{
    LoadString(d, "Author", mAuthor);
    LoadString(d, "HTTPAddress", mHTTPAddress);
    LoadString(d, "MailAddress", mMailAddress);
    LoadInt(d, "WindowTop", mWindowTop);
    LoadInt(d, "WindowLeft", mWindowLeft);
    bool b;
    if (ReadBool(d.Get("CCLOption"), b)) mCCLOption = b;
    LoadString(d, "LimitTimeURL", mLimitTimeURL);
    LoadString(d, "LimitTime", mLimitTime);
}

OSStatus CAppPrefs::SavePreferences(int16_t section)
{
    std::string path;
    OSStatus err = GetPreferencesURL(path);
    if (err != kStatusOK) return err;
    PRef<PDictionary> dict;
    err = GetPreferencesDict(path, dict);
    if (err != kStatusOK) return err;
    if (!dict) return kStatusFileNotFound;

    switch (section) {
    case kSectionConnection: SaveConnectionSetting(*dict); break;
    case kSectionAccelerator:
    case kSectionOptions: SaveApplicationSetting(*dict, section); break;
    case kSectionWindow: SaveAuthorInformation(*dict); break;
    default: break;
    }

    std::string xml;
    if (!PListCreateXMLData(*dict, xml)) return kStatusFileAccess;
    // The caller does not look at the result, but a failed write must not pass for success.
    return KPaths::WriteFileAtomically(path, xml, kPrefsMode) == 0 ? kStatusOK : kStatusFileAccess;
}

void CAppPrefs::SaveConnectionSetting(PDictionary& d) const
{
    SetString(d, "AccessPoint", mAccessPoint);
    SetString(d, "UserName", mUserName);
    if (auto pw = PStringFromStr255(mPassword)) {
        PRef<PData> data;
        if (UPasswordCodec::CopyEncodePassword(pw.get(), data) == kStatusOK) d.Set("Password", data);
    }
    d.Set("LinkMode", PNumber::Create(mLinkMode));
}

void CAppPrefs::SaveApplicationSetting(PDictionary& d, int16_t section) const
{
    if (section == kSectionAccelerator) {
        d.Set("Proxy", PNumber::Create(mWebProxy));
        return;
    }
    const auto* arr = d.GetAs<PArray>("ApplicationSetting");
    if (!arr) return; // a missing array is not created
    auto copy = arr->MutableCopy();
    const size_t n = std::min<size_t>(copy->Count(), kAppSetCount);
    for (size_t i = 0; i < n; ++i) copy->Set(i, PBoolean::Create(mAppSet[i]));
    d.Set("ApplicationSetting", copy);
}

void CAppPrefs::SaveAuthorInformation(PDictionary& d) const
{
    d.Set("WindowTop", PNumber::Create(mWindowTop));
    d.Set("WindowLeft", PNumber::Create(mWindowLeft));
    d.Set("CCLOption", PBoolean::Create(mCCLOption));
    SetString(d, "LimitTime", mLimitTime);
}

bool CAppPrefs::GetAppSet(int16_t index) const
{
    return index >= 0 && index < kAppSetCount && mAppSet[index];
}

void CAppPrefs::SetAppSet(int16_t index, bool value)
{
    if (index >= 0 && index < kAppSetCount) mAppSet[index] = value;
}

void CAppPrefs::GetWindowPosition(Point16& p) const
{
    p.v = static_cast<int16_t>(mWindowTop);
    p.h = static_cast<int16_t>(mWindowLeft);
}

void CAppPrefs::SetWindowPosition(Point16 p)
{
    mWindowTop = p.v;
    mWindowLeft = p.h;
}
