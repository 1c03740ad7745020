// Real widgets on the offscreen platform, a sandboxed preferences file, a host that records
// what the panels ask of the application, and a commander that records the commands sent up.
#pragma once

#include "app/prefs/CAppPrefs.h"
#include "app/ui/CMainWindow.h"
#include "app/ui/CUiHost.h"
#include "app/ui/UPanes.h"
#include "platform/shell/KCommander.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline QApplication& UiApp()
{
    static int argc = 1;
    static char name[] = "kavanti-ui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

class FakeHost : public CUiHost {
public:
    CAppPrefs* GetAppPrefs() override { return &prefs; }
    short GetAppStatus() override { return status; }
    bool IsUseSlipper() override { return slipper; }
    void SetRedialMode(bool r) override { redialModes.push_back(r); }
    bool Authorization() override { ++authorizations; return granted; }
    OSStatus NetworkSetting() override { ++networkSettings; return 0; }
    void ClearWebCache() override { ++cacheClears; }
    bool IsSystemSettingsRunning() override { return settingsRunning; }
    bool IsCacheBrowserRunning() override { return browserRunning; }
    long GetDialupError() override { return dialupError; }

    CAppPrefs prefs;
    short status = 0;
    bool slipper = false;
    bool granted = true;
    bool settingsRunning = false;
    bool browserRunning = false;
    long dialupError = 0;
    std::vector<bool> redialModes;
    int authorizations = 0, networkSettings = 0, cacheClears = 0;
};

class RecordingCommander : public KCommander {
public:
    bool ObeyCommand(int32_t command, void*) override
    {
        commands.push_back(command);
        return true;
    }
    std::vector<int32_t> commands;
};

// The stored settings every test starts from.
inline std::string TestDefaults(const std::string& extra = "")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>AccessPoint</key><string>0570999911</string>
<key>UserName</key><string>kavanti@example.jp</string>
<key>Password</key><data>AHMAZQBjAHIAZQB0</data>
<key>LinkMode</key><integer>1</integer>
<key>Proxy</key><integer>4</integer>
<key>ApplicationSetting</key><array><false/><false/><true/><false/><false/><false/><true/><false/><false/><false/></array>
<key>HTTPAddress</key><string>http://www.kavanti.example/</string>
<key>MailAddress</key><string>mailto:support@kavanti.example</string>
<key>WindowTop</key><integer>80</integer>
<key>WindowLeft</key><integer>80</integer>
<key>CCLOption</key><true/>
<key>LimitTimeURL</key><string>http://127.0.0.1/remain?phs=</string>
<key>LimitTime</key><string></string>
)" + extra + "</dict></plist>\n";
}

class UiTest : public ::testing::Test {
protected:
    UiTest()
        : mRootEnv("KAVANTI_ROOT", mTmp / "root"), mResEnv("KAVANTI_RESOURCES", mTmp / "res")
    {
        UiApp();
        WriteFileText(mTmp / "res/DefaultPref.plist", TestDefaults());
        UPanes::SetBeepHandler([this] { ++mBeeps; });
    }
    ~UiTest() override
    {
        UPanes::SetBeepHandler(nullptr);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w)) delete w;
    }

    void LoadPrefs() { ASSERT_EQ(mHost.prefs.LoadPreferences(), 0); }
    std::string PrefsPath() const { return mTmp / "root/home/.config/kavanti/Kavanti.plist"; }
    std::string PrefsText() const { return ReadFileText(PrefsPath()); }

    // The main window over the loaded preferences, shown offscreen.
    CMainWindow& Window()
    {
        if (!mWindow) {
            LoadPrefs();
            mWindow = std::make_unique<CMainWindow>(&mHost, &mApp);
            mWindow->show();
            mWindow->SetStatus(mHost.status);
            QApplication::setActiveWindow(mWindow.get());
            Settle();
        }
        return *mWindow;
    }

    // The caution sheet now open on the window: its string-list index, or 0 when none. Closes it.
    int TakeCaution()
    {
        QApplication::processEvents();
        int index = 0;
        if (mWindow)
            for (QMessageBox* box : mWindow->findChildren<QMessageBox*>("caution")) {
                if (!box->isVisible()) continue;
                EXPECT_EQ(box->windowModality(), Qt::WindowModal);
                index = box->property("cautionIndex").toInt();
                EXPECT_EQ(box->text(), UPanes::GetIndString(1000, index));
                box->done(0);
                delete box;
            }
        return index;
    }

    // Lets posted layout requests run, so that panes just shown have their geometry.
    static void Settle() { QApplication::processEvents(); }
    void SelectTab(int paneID)
    {
        Window().SelectTab(paneID);
        Settle();
    }

    // A click on a check box or radio button where a person clicks: its indicator (the middle of
    // a wide button is outside its clickable text).
    static void Click(QAbstractButton* b)
    {
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    }

    template <class T>
    T* Pane(int id) { return UPanes::Find<T>(&Window(), id); }

    TempDir mTmp;
    ScopedEnv mRootEnv;
    ScopedEnv mResEnv;
    FakeHost mHost;
    RecordingCommander mApp;
    std::unique_ptr<CMainWindow> mWindow;
    int mBeeps = 0;
};
