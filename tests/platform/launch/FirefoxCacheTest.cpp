// Clearing Firefox's disk cache against a made-up profile tree: only what is inside each
// profile's cache2 goes; files beside it, links out of it and profiles pointing elsewhere stay.
#include "platform/launch/KFirefoxCache.h"
#include "platform/launch/ULaunchURL.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class FirefoxCacheTest : public ::testing::Test {
protected:
    std::string P(const std::string& rel) const { return dir / rel; }
    void File(const std::string& rel, const std::string& text = "x") { WriteFileText(P(rel), text); }
    bool Exists(const std::string& rel) const { return fs::exists(fs::symlink_status(P(rel))); }
    bool EmptyFolder(const std::string& rel) const { return fs::is_directory(P(rel)) && fs::is_empty(P(rel)); }

    TempDir dir;
    ScopedEnv root{"KAVANTI_ROOT", dir.path()};
};

// Two configuration folders, four profiles (one moved by user.js over prefs.js, one kept
// outside the folder, one climbing out with "..", one never used) and the default of installs.ini.
TEST_F(FirefoxCacheTest, ClearsTheContentsOfEveryProfilesCache2AndNothingElse)
{
    File("home/.mozilla/firefox/profiles.ini",
         "[General]\nStartWithLastProfile=1\n\n"
         "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abc.default-esr\nDefault=1\n\n"
         "[Profile1]\nName=outside\nIsRelative=0\nPath=" + P("elsewhere/custom") + "\n\n"
         "[Profile2]\nName=climber\nIsRelative=1\nPath=../../outside\n");
    File("home/.mozilla/firefox/installs.ini", "[3B6073811A6ABF12]\nDefault=inst.default\nLocked=1\n");
    File("home/.config/mozilla/firefox/profiles.ini", "[Profile0]\nName=xdg\nIsRelative=1\nPath=xdg.default\n");
    File("home/.config/mozilla/firefox/xdg.default/prefs.js",
         "// Mozilla User Preferences\nuser_pref(\"browser.cache.disk.parent_directory\", \"" + P("wrong") + "\");\n");
    File("home/.config/mozilla/firefox/xdg.default/user.js",
         "user_pref(\"browser.cache.disk.parent_directory\", \"" + P("bigdisk/ffcache") + "\");\n");

    const std::string c = "home/.cache/mozilla/firefox/";
    File(c + "abc.default-esr/cache2/entries/0A1B2C");
    File(c + "abc.default-esr/cache2/doomed/1");
    File(c + "abc.default-esr/cache2/index");
    File(c + "abc.default-esr/startupCache/startupCache.8.little"); // beside cache2: stays
    File(c + "abc.default-esr/safebrowsing/google4/list");
    File(c + "inst.default/cache2/entries/FF");
    File("precious/letter.txt");
    fs::create_directory_symlink(P("precious"), P(c + "abc.default-esr/cache2/entries/linkdir"));
    fs::create_symlink(P("precious/letter.txt"), P(c + "abc.default-esr/cache2/linkfile"));
    File("elsewhere/custom/prefs.js", "user_pref(\"a\", 1);\n");
    File("elsewhere/custom/cache2/entries/77");
    File("bigdisk/ffcache/cache2/entries/99");
    File("bigdisk/ffcache/other-data");
    File("wrong/cache2/entries/keep");
    File(c + "xdg.default/cache2/entries/keep"); // moved away by user.js: no longer its cache
    File("home/.cache/outside/cache2/keep");      // reached only through ".."
    File("home/outside/cache2/keep");

    EXPECT_EQ(ULaunchURL::ClearIEWebCache(), kStatusOK);

    for (const char* emptied : {"home/.cache/mozilla/firefox/abc.default-esr/cache2",
                                "home/.cache/mozilla/firefox/inst.default/cache2", "elsewhere/custom/cache2",
                                "bigdisk/ffcache/cache2"}) {
        SCOPED_TRACE(emptied);
        EXPECT_TRUE(EmptyFolder(emptied));
    }
    for (const char* kept : {"home/.cache/mozilla/firefox/abc.default-esr/startupCache/startupCache.8.little",
                             "home/.cache/mozilla/firefox/abc.default-esr/safebrowsing/google4/list",
                             "precious/letter.txt", "elsewhere/custom/prefs.js", "bigdisk/ffcache/other-data",
                             "wrong/cache2/entries/keep", "home/.cache/mozilla/firefox/xdg.default/cache2/entries/keep",
                             "home/.cache/outside/cache2/keep", "home/outside/cache2/keep",
                             "home/.mozilla/firefox/profiles.ini",
                             "home/.config/mozilla/firefox/xdg.default/user.js"}) {
        SCOPED_TRACE(kept);
        EXPECT_TRUE(Exists(kept));
    }
}

TEST_F(FirefoxCacheTest, ACache2ThatIsALinkIsNotFollowed)
{
    File("home/.mozilla/firefox/profiles.ini",
         "[Profile0]\nIsRelative=1\nPath=linked.default\n[Profile1]\nIsRelative=1\nPath=plain.default\n");
    File("documents/thesis.odt");
    fs::create_directories(P("home/.cache/mozilla/firefox/linked.default"));
    fs::create_directory_symlink(P("documents"), P("home/.cache/mozilla/firefox/linked.default/cache2"));
    File("home/.cache/mozilla/firefox/plain.default/cache2/entries/1");

    EXPECT_EQ(ULaunchURL::ClearIEWebCache(), kStatusFileAccess);
    EXPECT_TRUE(Exists("documents/thesis.odt"));
    // The other profile is still cleared.
    EXPECT_TRUE(EmptyFolder("home/.cache/mozilla/firefox/plain.default/cache2"));
}

TEST_F(FirefoxCacheTest, MissingProfilesOrCacheFolderIsNotFound)
{
    EXPECT_EQ(ULaunchURL::ClearIEWebCache(), kStatusFileNotFound) << "no Firefox at all";

    File("home/.mozilla/firefox/profiles.ini",
         "[Profile0]\nIsRelative=1\nPath=new.default\n[Profile1]\nIsRelative=1\nPath=used.default\n");
    File("home/.cache/mozilla/firefox/used.default/cache2/entries/1");
    EXPECT_EQ(ULaunchURL::ClearIEWebCache(), kStatusFileNotFound) << "a profile never used has no cache2";
    EXPECT_TRUE(EmptyFolder("home/.cache/mozilla/firefox/used.default/cache2"));
}

TEST(FirefoxPrefsTest, StringPrefReadsTheLastSettingAsFirefoxWould)
{
    const std::string name = "browser.cache.disk.parent_directory";
    struct Case {
        const char* what;
        std::string text;
        std::string value;
    };
    const Case cases[] = {
        {"plain", "user_pref(\"browser.cache.disk.parent_directory\", \"/data/ff\");\n", "/data/ff"},
        {"spaces and pref()", "  pref( \"browser.cache.disk.parent_directory\" ,\"/d\" );\n", "/d"},
        {"escaped quote and backslash", "user_pref(\"browser.cache.disk.parent_directory\", \"/a\\\"b\\\\c\");\n",
         "/a\"b\\c"},
        {"last wins", "user_pref(\"browser.cache.disk.parent_directory\", \"/one\");\n"
                      "user_pref(\"browser.cache.disk.parent_directory\", \"/two\");\n", "/two"},
        {"commented out", "// user_pref(\"browser.cache.disk.parent_directory\", \"/no\");\n", ""},
        {"other pref with the name as prefix", "user_pref(\"browser.cache.disk.parent_directory.x\", \"/no\");\n", ""},
        {"not a string", "user_pref(\"browser.cache.disk.parent_directory\", 5);\n", ""},
        {"unterminated", "user_pref(\"browser.cache.disk.parent_directory\", \"/no);\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(KFirefoxCache::StringPref(c.text, name), c.value);
    }
}

} // namespace
