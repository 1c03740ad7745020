#include "UiFixture.h"

#include "app/card/CModemInfo.h"
#include "app/ui/CAboutWindow.h"
#include "app/ui/CAcceleratorView.h"
#include "app/ui/CAuthDialog.h"
#include "app/ui/CCardInfoView.h"
#include "app/ui/CUiFactory.h"

#include <QSystemTrayIcon>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

namespace {

class AcceleratorTest : public UiTest {
protected:
    void SetUp() override
    {
        SelectTab(1200);
        ASSERT_EQ(Window().CurrentTab(), 1200);
    }
    QPushButton* Apply() { return Pane<QPushButton>(1001); }
};

TEST_F(AcceleratorTest, CacheBoxIsAOneShotThatTouchesNothingElse)
{
    auto* cache = Pane<QCheckBox>(1221);
    Click(cache);
    EXPECT_TRUE(Apply()->isEnabled()); // stays enabled with the proxy unchanged
    const std::string before = PrefsText();
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(mHost.cacheClears, 1);
    EXPECT_FALSE(cache->isChecked());
    EXPECT_EQ(PrefsText(), before);
    EXPECT_EQ(mHost.networkSettings, 0);
    EXPECT_TRUE(mApp.commands.empty());
    EXPECT_FALSE(Apply()->isEnabled());
}

TEST_F(AcceleratorTest, ChangedProxySavesReconfiguresAndAsksForTheRestart)
{
    mHost.browserRunning = true; // the browser only matters with the cache box on
    Click(Pane<QRadioButton>(1213));
    EXPECT_EQ(Window().AcceleratorView()->PanelChoice(), 3);
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(TakeCaution(), 0);
    EXPECT_EQ(mHost.networkSettings, 1);
    EXPECT_EQ(mHost.cacheClears, 0);
    EXPECT_EQ(mApp.commands, std::vector<int32_t>{2105});
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    EXPECT_EQ(reread.GetWebProxy(), 3);
    // Back to the stored choice: nothing to apply.
    Click(Pane<QRadioButton>(1214));
    EXPECT_TRUE(Apply()->isEnabled());
    Click(Pane<QRadioButton>(1213));
    EXPECT_FALSE(Apply()->isEnabled());
}

TEST_F(AcceleratorTest, RefusedRightsDeleteNoCache)
{
    mHost.granted = false;
    Click(Pane<QCheckBox>(1221));
    Click(Pane<QRadioButton>(1211));
    QTest::mouseClick(Apply(), Qt::LeftButton);
    EXPECT_EQ(mHost.cacheClears, 0);
    EXPECT_TRUE(Pane<QCheckBox>(1221)->isChecked());
    EXPECT_EQ(mHost.networkSettings, 0);
    EXPECT_TRUE(Apply()->isEnabled());
}

class CardTest : public UiTest {
protected:
    CCardInfoView& View() { return *Window().CardInfoView(); }
    static ModemInformation Info(int16_t channel, int level)
    {
        ModemInformation info;
        info.modemName = Str255::From("AH-S405C");
        info.phsNo = Str255::From("07012345678");
        info.firmwareVersion = Str255::From("1.02");
        info.channel = channel;
        for (int16_t& l : info.intensity) l = static_cast<int16_t>(level);
        return info;
    }
};

TEST_F(CardTest, MessageReplacesTheButtonWhileConnectedOrWithoutCard)
{
    struct Case { short status; int entry; };
    const Case cases[] = {{2, 1}, {-1, 2}, {0, 0}, {1, 0}, {-5, 0}};
    for (const Case& c : cases) {
        mHost.status = c.status;
        SelectTab(1100);
        SelectTab(1300);
        auto* message = Pane<QLabel>(1302);
        auto* button = Pane<QPushButton>(1301);
        EXPECT_EQ(message->isVisible(), c.entry != 0) << c.status;
        EXPECT_EQ(button->isVisible(), c.entry == 0) << c.status;
        if (c.entry) {
            EXPECT_EQ(message->text(), UPanes::GetIndString(1300, c.entry));
        }
    }
}

TEST_F(CardTest, MeasureDisablesTheButtonUntilTheResult)
{
    SelectTab(1300);
    auto* button = Pane<QPushButton>(1301);
    mHost.status = 1; // the application starts the measurement
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(mApp.commands, std::vector<int32_t>{2103});
    EXPECT_FALSE(button->isEnabled());
    mHost.status = 0;
    const ModemInformation info = Info(2, 3);
    Window().SetCardInfo(&info);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(Pane<QLabel>(1311)->text(), "AH-S405C");
    EXPECT_EQ(Pane<QLabel>(1312)->text(), "07012345678");
    EXPECT_EQ(Pane<QLabel>(1313)->text(), "1.02");
}

TEST_F(CardTest, MeasurementTheApplicationDropsLeavesTheButtonUsable)
{
    SelectTab(1300);
    auto* button = Pane<QPushButton>(1301);
    mHost.status = 0; // the port stayed busy: no measurement, no result to come
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(mApp.commands, std::vector<int32_t>{2103});
    EXPECT_TRUE(button->isEnabled());
}

TEST_F(CardTest, PicturesShowChannelsAndLevels)
{
    ModemInformation info = Info(3, 0);
    info.intensity[12] = 5;
    info.intensity[4] = 2;
    Window().SetCardInfo(&info);
    for (int i = 0; i < 13; ++i) {
        const int expected = i == 12 ? 1015 : (i == 4 ? 1012 : 1010);
        EXPECT_EQ(UPanes::GetPicture(Pane<QLabel>(1331 + i)), expected) << i;
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(UPanes::GetPicture(Pane<QLabel>(1321 + i)), i < 3 ? 1002 : 1001);
    // A later, smaller count shows that count, not the earlier one's icons.
    info = Info(1, 0);
    Window().SetCardInfo(&info);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(UPanes::GetPicture(Pane<QLabel>(1321 + i)), i < 1 ? 1002 : 1001);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(UPanes::GetPicture(Pane<QLabel>(1331 + i)), 1010);
}

class AboutTest : public UiTest {
protected:
    ~AboutTest() override { delete CAboutWindow::GetAboutWindow(); }
};

TEST_F(AboutTest, OneWindowAtATimeAndItsPicturesSendCommands)
{
    CAboutWindow* first = CAboutWindow::ShowAboutBox(&mApp);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CAboutWindow::ShowAboutBox(&mApp), first);
    EXPECT_EQ(QApplication::topLevelWidgets().count(first), 1);
    int abouts = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) abouts += qobject_cast<CAboutWindow*>(w) ? 1 : 0;
    EXPECT_EQ(abouts, 1);

    QTest::mouseClick(UPanes::Find<QToolButton>(first, 1421), Qt::LeftButton);
    QTest::mouseClick(UPanes::Find<QToolButton>(first, 1422), Qt::LeftButton);
    EXPECT_EQ(mApp.commands, (std::vector<int32_t>{2106, 2107}));
    EXPECT_TRUE(first->isVisible());

    first->ListenToMessage(CAboutWindow::kMsgClose, nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(CAboutWindow::GetAboutWindow(), nullptr);
    EXPECT_EQ(mApp.commands.size(), 2u);
    CAboutWindow* second = CAboutWindow::ShowAboutBox(&mApp);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(CAboutWindow::GetAboutWindow(), second);
}

TEST_F(AboutTest, MenuOpensTheAboutWindow)
{
    Window();
    QObject::connect(&Window(), &CMainWindow::AboutRequested, [this] { CAboutWindow::ShowAboutBox(&mApp); });
    for (QAction* a : Window().findChildren<QAction*>())
        if (a->menuRole() == QAction::AboutRole) a->trigger();
    EXPECT_NE(CAboutWindow::GetAboutWindow(), nullptr);
}

// Runs the modal credentials dialog with `act` done to it once it is up.
bool RunPrompt(std::string& user, std::string& password, const std::function<void(CAuthDialog*)>& act)
{
    QTimer::singleShot(0, [act] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CAuthDialog*>(w); d && d->isVisible()) return act(d);
    });
    CAuthPromptDialog prompt;
    return prompt.AskCredentials(user, password);
}

TEST_F(UiTest, CredentialsDialogReturnsWhatWasTypedOrCancel)
{
    std::string user = "alice", password;
    EXPECT_TRUE(RunPrompt(user, password, [](CAuthDialog* d) {
        auto* pw = UPanes::Find<QLineEdit>(d, 4);
        EXPECT_EQ(UPanes::Find<QLineEdit>(d, 3)->text(), "alice");
        EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
        QTest::keyClicks(pw, "s3cret pass");
        QTest::mouseClick(UPanes::Find<QPushButton>(d, 900), Qt::LeftButton);
    }));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "s3cret pass");

    password.clear();
    EXPECT_FALSE(RunPrompt(user, password, [](CAuthDialog* d) {
        QTest::keyClicks(UPanes::Find<QLineEdit>(d, 4), "typed");
        QTest::mouseClick(UPanes::Find<QPushButton>(d, 901), Qt::LeftButton);
    }));
    EXPECT_TRUE(password.empty());
}

TEST_F(UiTest, CredentialsDialogRefusesALineBreakAndStaysOpen)
{
    std::string user = "alice", password;
    EXPECT_TRUE(RunPrompt(user, password, [](CAuthDialog* d) {
        auto* pw = UPanes::Find<QLineEdit>(d, 4);
        pw->setText("bad\rline");
        QTest::mouseClick(UPanes::Find<QPushButton>(d, 900), Qt::LeftButton);
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(UPanes::Find<QLabel>(d, 5)->isVisible());
        pw->setText("good");
        QTest::mouseClick(UPanes::Find<QPushButton>(d, 900), Qt::LeftButton);
    }));
    EXPECT_EQ(password, "good");
}

} // namespace

namespace {

TEST_F(UiTest, HidingWithoutATrayMinimisesAndTheFactoryMakesOneAboutWindow)
{
    LoadPrefs();
    CUiFactory factory(&mHost);
    CMainWindowIface* window = factory.CreateMainWindow(&mApp);
    ASSERT_NE(window, nullptr);
    window->Show();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()); // offscreen has none
    factory.HideApplication();
    EXPECT_TRUE(factory.MainWindow()->isMinimized());
    EXPECT_EQ(factory.TrayIcon(), nullptr);
    window->Show();
    EXPECT_FALSE(factory.MainWindow()->isMinimized());

    factory.ShowAboutBox();
    CAboutWindow* about = CAboutWindow::GetAboutWindow();
    ASSERT_NE(about, nullptr);
    factory.ShowAboutBox();
    EXPECT_EQ(CAboutWindow::GetAboutWindow(), about);
    // The about window's commands go to the application, as the window's do.
    QTest::mouseClick(UPanes::Find<QToolButton>(about, 1422), Qt::LeftButton);
    EXPECT_EQ(mApp.commands, std::vector<int32_t>{2107});
    factory.DestroyWindows();
    EXPECT_EQ(CAboutWindow::GetAboutWindow(), nullptr);
    EXPECT_EQ(factory.MainWindow(), nullptr);
}

} // namespace
