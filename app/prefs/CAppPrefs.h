// The application's settings: held in memory, kept in "Kavanti.plist" in the user's preferences
// folder, created on the first run from "DefaultPref.plist" in the resources. Saved by sections:
// each save re-reads the file and replaces only its own keys, so every other key keeps its value.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PText.h"
#include "platform/cf/PValue.h"

#include <string>

struct Point16 {
    int16_t v = 0;
    int16_t h = 0;
};

class CAppPrefs {
public:
    // Sections: the numbers of the panels that save them (0: the main window at the end of the run).
    static constexpr int16_t kSectionConnection = 1100;
    static constexpr int16_t kSectionAccelerator = 1200;
    static constexpr int16_t kSectionOptions = 1400;
    static constexpr int16_t kSectionWindow = 0;
    static constexpr int kAppSetCount = 10;

    OSStatus LoadPreferences();
    OSStatus SavePreferences(int16_t section);

    const Str255& GetAccessPoint() const { return mAccessPoint; }
    const Str255& GetUserName() const { return mUserName; }
    const Str255& GetPassword() const { return mPassword; }
    void SetAccessPoint(const Str255* s) { if (s) mAccessPoint = *s; }
    void SetUserName(const Str255* s) { if (s) mUserName = *s; }
    void SetPassword(const Str255* s) { if (s) mPassword = *s; }

    int16_t GetLinkMode() const { return static_cast<int16_t>(mLinkMode); }
    int16_t GetWebProxy() const { return static_cast<int16_t>(mWebProxy); }
    void SetLinkMode(int16_t v) { mLinkMode = v; }
    void SetWebProxy(int16_t v) { mWebProxy = v; }

    bool GetAppSet(int16_t index) const;
    void SetAppSet(int16_t index, bool value);

    const Str255& GetHTTPAddress() const { return mHTTPAddress; }
    const Str255& GetMailAddress() const { return mMailAddress; }
    const Str255& GetLimitTimeURL() const { return mLimitTimeURL; }

    void GetWindowPosition(Point16& p) const;
    void SetWindowPosition(Point16 p);

    bool GetCCLOption() const { return mCCLOption; }
    void SetCCLOption(bool v) { mCCLOption = v; }

    const Str255& GetLimitTime() const { return mLimitTime; }
    void SetLimitTime(const Str255& s) { mLimitTime = s; }

    // Fields no operation reads; kept for completeness of the file's contents.
    int32_t GetService() const { return mService; }
    const Str255& GetAuthor() const { return mAuthor; }

    // The preferences file's path; -43 when it does not exist, -43 also when the folder is unknown.
    static OSStatus GetPreferencesURL(std::string& path);
    static OSStatus GetDefaultPrefURL(std::string& path);
    // Copies the defaults file to `prefsPath` (mode 0600: the file holds the account password).
    static OSStatus CopyDefaultPrefFileTo(const std::string& prefsPath);

private:
    // Reads and parses the file. A read error is returned; a file that is no property-list
    // dictionary gives 0 and no dictionary.
    static OSStatus GetPreferencesDict(const std::string& path, PRef<PDictionary>& dict);

    void LoadConnectionSetting(const PDictionary& dict);
    void LoadApplicationSetting(const PDictionary& dict);
    void LoadAuthorInformation(const PDictionary& dict);
    void SaveConnectionSetting(PDictionary& dict) const;
    void SaveApplicationSetting(PDictionary& dict, int16_t section) const;
    void SaveAuthorInformation(PDictionary& dict) const;

    Str255 mAccessPoint;
    Str255 mUserName;
    Str255 mPassword;
    int32_t mLinkMode = 0;
    int32_t mWebProxy = 0;
    int32_t mService = 0;
    bool mAppSet[kAppSetCount] = {};
    Str255 mAuthor;
    Str255 mHTTPAddress;
    Str255 mMailAddress;
    int32_t mWindowTop = 0;
    int32_t mWindowLeft = 0;
    bool mCCLOption = false;
    Str255 mLimitTimeURL;
    Str255 mLimitTime;
};
