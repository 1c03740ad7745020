#include "app/prefs/CAppPrefs.h"

#include "platform/cf/PList.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string ShippedDefaults()
{
    const char* src = std::getenv("KAVANTI_SOURCE");
    return ReadFileText(std::string(src ? src : ".") + "/resources/data/DefaultPref.plist");
}

// A defaults file with the given extra XML entries (keys and values) inside its dictionary.
std::string DefaultsWith(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries + "</dict></plist>\n";
}

class PrefsTest : public ::testing::Test {
protected:
    PrefsTest()
        : mRootEnv("KAVANTI_ROOT", mTmp / "root"), mResEnv("KAVANTI_RESOURCES", mTmp / "res")
    {
    }

    void InstallDefaults(const std::string& text) { WriteFileText(mTmp / "res/DefaultPref.plist", text); }
    std::string PrefsPath() const { return mTmp / "root/home/.config/kavanti/Kavanti.plist"; }

    PRef<PDictionary> FileDict() const
    {
        PRef<PValue> v;
        EXPECT_EQ(PListReadFile(PrefsPath(), false, v), PListReadResult::Ok);
        return PRefCast<PDictionary>(v);
    }

    TempDir mTmp;
    ScopedEnv mRootEnv;
    ScopedEnv mResEnv;
};

const std::string kFullDefaults = DefaultsWith(
    "<key>AccessPoint</key><string>0570</string>"
    "<key>UserName</key><string>user</string>"
    "<key>Password</key><data>AGEAYgBj</data>" // "abc"
    "<key>LinkMode</key><integer>1</integer>"
    "<key>Proxy</key><integer>4</integer>"
    "<key>Service</key><integer>3</integer>"
    "<key>ApplicationSetting</key><array><true/><false/><true/><false/><true/><false/><true/><false/><false/><false/></array>"
    "<key>Author</key><string>someone</string>"
    "<key>HTTPAddress</key><string>http://www.kavanti.example/</string>"
    "<key>MailAddress</key><string>mailto:a@kavanti.example</string>"
    "<key>WindowTop</key><integer>40</integer>"
    "<key>WindowLeft</key><integer>50</integer>"
    "<key>CCLOption</key><true/>"
    "<key>LimitTimeURL</key><string>http://limit.kavanti.example/?n=</string>"
    "<key>LimitTime</key><string>old</string>"
    "<key>SomethingElse</key><dict><key>nested</key><array><real>1.5</real><date>2020-01-02T03:04:05Z</date></array></dict>");

} // namespace

TEST_F(PrefsTest, FirstRunCopiesTheDefaultsByteForByteReadableOnlyByTheUser)
{
    const std::string shipped = ShippedDefaults();
    ASSERT_FALSE(shipped.empty());
    InstallDefaults(shipped);
    CAppPrefs prefs;
    ASSERT_EQ(prefs.LoadPreferences(), 0);
    EXPECT_EQ(ReadFileText(PrefsPath()), shipped);
    struct stat st {};
    ASSERT_EQ(stat(PrefsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The shipped defaults load: link mode 1, no proxy, hosts of our own.
    EXPECT_EQ(prefs.GetLinkMode(), 1);
    EXPECT_EQ(prefs.GetWebProxy(), 4);
    EXPECT_NE(prefs.GetLimitTimeURL().View().find("kavanti.example"), std::string::npos);
    EXPECT_TRUE(prefs.GetAppSet(2));
}

TEST_F(PrefsTest, MissingDefaultsStopTheLoad)
{
    CAppPrefs prefs;
    EXPECT_NE(prefs.LoadPreferences(), 0);
    EXPECT_FALSE(fs::exists(PrefsPath()));
}

TEST_F(PrefsTest, LoadsEveryField)
{
    InstallDefaults(kFullDefaults);
    CAppPrefs p;
    ASSERT_EQ(p.LoadPreferences(), 0);
    EXPECT_EQ(p.GetAccessPoint().View(), "0570");
    EXPECT_EQ(p.GetUserName().View(), "user");
    EXPECT_EQ(p.GetPassword().View(), "abc");
    EXPECT_EQ(p.GetLinkMode(), 1);
    EXPECT_EQ(p.GetWebProxy(), 4);
    EXPECT_EQ(p.GetService(), 3);
    EXPECT_EQ(p.GetAuthor().View(), "someone");
    EXPECT_EQ(p.GetMailAddress().View(), "mailto:a@kavanti.example");
    EXPECT_EQ(p.GetHTTPAddress().View(), "http://www.kavanti.example/");
    EXPECT_EQ(p.GetLimitTimeURL().View(), "http://limit.kavanti.example/?n=");
    EXPECT_EQ(p.GetLimitTime().View(), "old");
    Point16 pt;
    p.GetWindowPosition(pt);
    EXPECT_EQ(pt.v, 40);
    EXPECT_EQ(pt.h, 50);
    EXPECT_TRUE(p.GetCCLOption());
    const bool expected[10] = {true, false, true, false, true, false, true, false, false, false};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p.GetAppSet(static_cast<int16_t>(i)), expected[i]) << i;
}

TEST_F(PrefsTest, KeysOfAnotherTypeAreIgnored)
{
    InstallDefaults(DefaultsWith("<key>AccessPoint</key><integer>5</integer>"
                                 "<key>LinkMode</key><string>4</string>"
                                 "<key>Password</key><string>plain</string>"
                                 "<key>WindowTop</key><integer>99999999999</integer>"));
    CAppPrefs p;
    p.SetLinkMode(4);
    const Str255 ap = Str255::From("keep");
    p.SetAccessPoint(&ap);
    ASSERT_EQ(p.LoadPreferences(), 0);
    EXPECT_EQ(p.GetAccessPoint().View(), "keep");
    EXPECT_EQ(p.GetLinkMode(), 4);
    EXPECT_EQ(p.GetPassword().Length(), 0);
    Point16 pt;
    p.GetWindowPosition(pt);
    EXPECT_EQ(pt.v, 0);
}

// Each section writes its own keys and leaves every other key of the file as it was, even when
// the fields in memory differ from the file.
TEST_F(PrefsTest, SectionSavesWriteOnlyTheirOwnKeys)
{
    struct Case {
        int16_t section;
        std::vector<std::string> keys;
    } cases[] = {
        {1100, {"AccessPoint", "UserName", "Password", "LinkMode"}},
        {1200, {"Proxy"}},
        {1400, {"ApplicationSetting"}},
        {0, {"WindowTop", "WindowLeft", "CCLOption", "LimitTime"}},
        {1300, {}}, // an unknown section writes nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        fs::remove(PrefsPath());
        InstallDefaults(kFullDefaults);
        CAppPrefs p;
        ASSERT_EQ(p.LoadPreferences(), 0);
        const auto before = FileDict();

        const Str255 ap = Str255::From("0120"), user = Str255::From("other"), pw = Str255::From("xyz");
        p.SetAccessPoint(&ap);
        p.SetUserName(&user);
        p.SetPassword(&pw);
        p.SetLinkMode(4);
        p.SetWebProxy(2);
        for (int16_t i = 0; i < 10; ++i) p.SetAppSet(i, !p.GetAppSet(i));
        p.SetWindowPosition({-300, 1200});
        p.SetCCLOption(false);
        p.SetLimitTime(Str255::From("12:34"));
        ASSERT_EQ(p.SavePreferences(c.section), 0);

        const auto after = FileDict();
        ASSERT_TRUE(after);
        EXPECT_EQ(after->Count(), before->Count());
        for (const auto& [key, value] : before->Entries()) {
            const bool written = std::find(c.keys.begin(), c.keys.end(), key) != c.keys.end();
            ASSERT_NE(after->Get(key), nullptr) << key;
            EXPECT_EQ(after->Get(key)->Equals(*value), !written) << key;
        }
        // Reading back gives the values that were saved.
        CAppPrefs q;
        ASSERT_EQ(q.LoadPreferences(), 0);
        if (c.section == 1100) {
            EXPECT_EQ(q.GetPassword().View(), "xyz");
            EXPECT_EQ(q.GetLinkMode(), 4);
        }
        if (c.section == 0) {
            Point16 pt;
            q.GetWindowPosition(pt);
            EXPECT_EQ(pt.v, -300);
            EXPECT_EQ(pt.h, 1200);
            EXPECT_EQ(q.GetLimitTime().View(), "12:34");
        }
    }
}

TEST_F(PrefsTest, PasswordIsStoredAsBigEndianUTF16)
{
    InstallDefaults(kFullDefaults);
    CAppPrefs p;
    ASSERT_EQ(p.LoadPreferences(), 0);
    const Str255 pw = Str255::From("abc");
    p.SetPassword(&pw);
    ASSERT_EQ(p.SavePreferences(1100), 0);
    EXPECT_EQ(FileDict()->GetAs<PData>("Password")->Bytes(), (std::vector<uint8_t>{0, 0x61, 0, 0x62, 0, 0x63}));

    const Str255 roman = Str255::From("p\x8Ess"); // "pess" with an e-acute, as Mac Roman keeps it
    p.SetPassword(&roman);
    ASSERT_EQ(p.SavePreferences(1100), 0);
    EXPECT_EQ(FileDict()->GetAs<PData>("Password")->Bytes(),
              (std::vector<uint8_t>{0, 'p', 0, 0xE9, 0, 's', 0, 's'}));
    CAppPrefs q;
    ASSERT_EQ(q.LoadPreferences(), 0);
    EXPECT_EQ(q.GetPassword().View(), "p\x8Ess");
}

TEST_F(PrefsTest, ApplicationSettingArrayIsNeverLengthened)
{
    struct Case {
        int count;
    } cases[] = {{5}, {12}, {0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        fs::remove(PrefsPath());
        std::string arr;
        for (int i = 0; i < c.count; ++i) arr += (i % 2) ? "<true/>" : "<false/>";
        InstallDefaults(DefaultsWith("<key>ApplicationSetting</key><array>" + arr + "</array>"));
        CAppPrefs p;
        for (int16_t i = 0; i < 10; ++i) p.SetAppSet(i, true);
        ASSERT_EQ(p.LoadPreferences(), 0);
        for (int16_t i = 0; i < 10; ++i) {
            // Elements past the array's end are never loaded: the switches keep their values.
            const bool expected = i < c.count ? (i % 2) : true;
            EXPECT_EQ(p.GetAppSet(i), expected) << i;
        }
        for (int16_t i = 0; i < 10; ++i) p.SetAppSet(i, true);
        ASSERT_EQ(p.SavePreferences(1400), 0);
        const auto file = FileDict();
        const auto* saved = file->GetAs<PArray>("ApplicationSetting");
        ASSERT_NE(saved, nullptr);
        ASSERT_EQ(saved->Count(), size_t(c.count));
        for (int i = 0; i < c.count; ++i) {
            // The first ten are rewritten; elements 10 and 11 keep what the file held.
            const bool expected = i < 10 ? true : (i % 2);
            EXPECT_EQ(saved->AtAs<PBoolean>(i)->Value(), expected) << i;
        }
    }
}

TEST_F(PrefsTest, MissingApplicationSettingIsNotCreated)
{
    InstallDefaults(DefaultsWith("<key>Proxy</key><integer>1</integer>"));
    CAppPrefs p;
    ASSERT_EQ(p.LoadPreferences(), 0);
    p.SetAppSet(0, true);
    ASSERT_EQ(p.SavePreferences(1400), 0);
    EXPECT_FALSE(FileDict()->Contains("ApplicationSetting"));
}

TEST_F(PrefsTest, UnreadableFileIsMovedAsideAndSavesWorkAgain)
{
    InstallDefaults(kFullDefaults);
    WriteFileText(PrefsPath(), "<plist><dict><key>broken");
    WriteFileText(PrefsPath() + ".unreadable", "an earlier one");
    CAppPrefs p;
    const Str255 keep = Str255::From("mine");
    p.SetUserName(&keep);
    ASSERT_EQ(p.LoadPreferences(), 0);
    EXPECT_EQ(p.GetUserName().View(), "mine"); // nothing was loaded
    EXPECT_EQ(ReadFileText(PrefsPath() + ".unreadable"), "an earlier one");
    EXPECT_EQ(ReadFileText(PrefsPath() + ".unreadable.1"), "<plist><dict><key>broken");

    p.SetWebProxy(2);
    ASSERT_EQ(p.SavePreferences(1200), 0);
    EXPECT_EQ(FileDict()->GetAs<PNumber>("Proxy")->Int64(), 2);
    EXPECT_EQ(FileDict()->GetAs<PString>("UserName")->UTF8(), "user"); // fresh defaults beneath
}

TEST_F(PrefsTest, SaveWithoutAFileWritesNothing)
{
    CAppPrefs p;
    EXPECT_EQ(p.SavePreferences(1200), kStatusFileNotFound);
    EXPECT_FALSE(fs::exists(PrefsPath()));
}

TEST_F(PrefsTest, TextMacRomanCannotHoldLoadsAsQuestionMarks)
{
    InstallDefaults(DefaultsWith("<key>UserName</key><string>u\xE6\x97\xA5s\xC3\xA9r</string>"));
    CAppPrefs p;
    ASSERT_EQ(p.LoadPreferences(), 0);
    EXPECT_EQ(p.GetUserName().View(), "u?s\x8Er");
}
