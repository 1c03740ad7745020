#include "UiFixture.h"

#include "app/ui/CAcceleratorView.h"
#include "app/ui/CConfigView.h"
#include "app/ui/CDialupView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>

namespace {

class WindowTest : public UiTest {
protected:
    QPushButton* Apply() { return Pane<QPushButton>(1001); }
    void ClickTab(int paneID)
    {
        auto* tabs = Pane<QTabBar>(1003);
        const int index = (paneID - 1100) / 100;
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
        Settle();
        ASSERT_EQ(Window().CurrentTab(), paneID);
    }
    void EditUserName(const QString& text)
    {
        auto* e = Pane<QLineEdit>(1112);
        e->selectAll();
        QTest::keyClicks(e, text);
    }
};

TEST_F(WindowTest, ApplyChecksStopAtTheFirstFailureWithOneCaution)
{
    struct Case { int tab; short status; bool settings, browser, cache; const char* user; int caution; };
    const Case cases[] = {
        {1100, 2, true, false, false, "x", 5},     // connected wins over everything else
        {1100, -1, true, false, false, "okay", 7},
        {1100, 0, true, false, false, "okay", 6},
        {1100, 0, false, false, false, "x", 3},
        {1200, 2, false, true, true, "okay", 5},
        {1200, -1, false, false, false, "okay", 7},
        {1200, 0, true, true, true, "okay", 6},
        {1200, 0, false, true, true, "okay", 8},
    };
    for (const Case& c : cases) {
        Window();
        mHost.status = c.status;
        mHost.settingsRunning = c.settings;
        mHost.browserRunning = c.browser;
        ClickTab(c.tab);
        if (c.tab == 1100) EditUserName(c.user);
        if (c.tab == 1200) {
            Pane<QCheckBox>(1221)->setChecked(c.cache);
            Click(Pane<QRadioButton>(1211));
        }
        const std::string before = PrefsText();
        ASSERT_TRUE(Apply()->isEnabled());
        QTest::mouseClick(Apply(), Qt::LeftButton);
        EXPECT_EQ(TakeCaution(), c.caution) << c.tab << " status " << c.status;
        EXPECT_EQ(PrefsText(), before);
        EXPECT_EQ(mHost.authorizations, 0);
        EXPECT_EQ(mHost.networkSettings, 0);
        EXPECT_TRUE(Apply()->isEnabled());
        mWindow.reset();
    }
}

TEST_F(WindowTest, ApplyOnTheDialupPanelSavesAndReconfigures)
{
    Window();
    EditUserName("newuser");
    Click(Pane<QRadioButton>(1122));
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(TakeCaution(), 0);
    EXPECT_EQ(mHost.authorizations, 1);
    EXPECT_EQ(mHost.networkSettings, 1);
    EXPECT_FALSE(Apply()->isEnabled());
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    EXPECT_EQ(reread.GetUserName().View(), "newuser");
    EXPECT_EQ(reread.GetLinkMode(), 4);
    EXPECT_EQ(reread.GetAccessPoint().View(), "0570999911");
}

TEST_F(WindowTest, RefusedRightsStoreNothingAndKeepTheChange)
{
    mHost.granted = false;
    Window();
    EditUserName("newuser");
    const std::string before = PrefsText();
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(mHost.authorizations, 1);
    EXPECT_EQ(mHost.networkSettings, 0);
    EXPECT_EQ(PrefsText(), before);
    EXPECT_TRUE(Apply()->isEnabled());
    EXPECT_FALSE(Window().DialupView()->IsConfigSaved());
}

TEST_F(WindowTest, OptionsApplyNeedsNoChecksAndNoRights)
{
    mHost.status = 2;
    mHost.settingsRunning = true;
    Window();
    ClickTab(1400);
    Click(Pane<QCheckBox>(1416));
    EXPECT_TRUE(Window().GetConfigSet(1416)); // read live, before Apply
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(TakeCaution(), 0);
    EXPECT_EQ(mHost.authorizations, 0);
    EXPECT_FALSE(Apply()->isEnabled());
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    EXPECT_TRUE(reread.GetAppSet(5));
    EXPECT_TRUE(reread.GetAppSet(2));
    EXPECT_FALSE(Window().GetConfigSet(1418));
    EXPECT_FALSE(Window().GetConfigSet(1100));
}

TEST_F(WindowTest, OptionToggledAndBackDisablesApply)
{
    Window();
    ClickTab(1400);
    auto* box = Pane<QCheckBox>(1413);
    Click(box);
    EXPECT_TRUE(Apply()->isEnabled());
    Click(box);
    EXPECT_FALSE(Apply()->isEnabled());
}

TEST_F(WindowTest, CardTabDisablesApplyAndSwitchingBackRestoresIt)
{
    Window();
    EditUserName("changed");
    ASSERT_TRUE(Apply()->isEnabled());
    ClickTab(1300);
    EXPECT_FALSE(Apply()->isEnabled());
    QTest::mouseClick(Apply(), Qt::LeftButton); // nothing happens on the card panel
    EXPECT_EQ(TakeCaution(), 0);
    ClickTab(1400);
    EXPECT_FALSE(Apply()->isEnabled());
    ClickTab(1100);
    EXPECT_TRUE(Apply()->isEnabled());
}

TEST_F(WindowTest, LampFollowsTheStatusTable)
{
    struct Case { short code; int picture; };
    const Case cases[] = {{0, 1001}, {2, 1003}, {3, 1002}, {1, 1004}, {4, 1004}, {5, 1004}, {6, 1004},
                          {7, 1002}, {10, 1002}, {11, 1002}, {-1, 1002}, {9, 1001}, {-5, 1001}};
    auto* lamp = Pane<QLabel>(1005);
    for (const Case& c : cases) {
        Window().SetStatus(c.code);
        EXPECT_EQ(UPanes::GetPicture(lamp), c.picture) << c.code;
        EXPECT_FALSE(lamp->pixmap().isNull());
    }
    // The dial-up panel hears the codes the lamp ignores.
    Window().SetStatus(6);
    EXPECT_EQ(Pane<QLabel>(1131)->text(), UPanes::GetIndString(1100, 4));
}

TEST_F(WindowTest, PositionIsSavedAsTheFrameAndRestoredOnlyOnScreen)
{
    Window();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    Window().move(screen.left() + 123, screen.top() + 45);
    Window().SavePosition();
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    Point16 p;
    reread.GetWindowPosition(p);
    EXPECT_EQ(p.h, screen.left() + 123);
    EXPECT_EQ(p.v, screen.top() + 45);

    Window().move(screen.left() + 5, screen.top() + 5);
    Window().MovePosition();
    EXPECT_EQ(Window().pos(), QPoint(screen.left() + 123, screen.top() + 45));

    mHost.prefs.SetWindowPosition(Point16{static_cast<int16_t>(screen.bottom() + 500), 30000});
    Window().MovePosition();
    EXPECT_EQ(Window().pos(), QPoint(screen.left() + 123, screen.top() + 45));
}

TEST_F(WindowTest, CloseRequestAndCtrlQCarryOutQuit)
{
    Window();
    EXPECT_FALSE(Window().windowFlags() & Qt::WindowCloseButtonHint);
    QCloseEvent ev;
    QApplication::sendEvent(&Window(), &ev);
    EXPECT_FALSE(ev.isAccepted());
    EXPECT_TRUE(Window().isVisible());
    QTest::keyClick(&Window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(mApp.commands, (std::vector<int32_t>{10, 10}));
}

TEST_F(WindowTest, DestroyingTheWindowSavesSectionZero)
{
    Window();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    Window().move(screen.left() + 77, screen.top() + 66);
    Str255 limit = Str255::From("12:34");
    mHost.prefs.SetLimitTime(limit);
    mWindow.reset();
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    Point16 p;
    reread.GetWindowPosition(p);
    EXPECT_EQ(p.h, screen.left() + 77);
    EXPECT_EQ(reread.GetLimitTime().View(), "12:34");
}

TEST_F(WindowTest, ConnectWithABadAccountShowsTheCautionThroughTheWindow)
{
    Window();
    EditUserName("x");
    QTest::mouseClick(Pane<QPushButton>(1102), Qt::LeftButton);
    EXPECT_EQ(TakeCaution(), 3);
    EXPECT_TRUE(mApp.commands.empty());
}

} // namespace
