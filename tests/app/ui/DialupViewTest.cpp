#include "UiFixture.h"

#include "app/ui/CDialupView.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace {

class DialupTest : public UiTest {
protected:
    CDialupView& View() { return *Window().DialupView(); }
    QLineEdit* UserField() { return Pane<QLineEdit>(1112); }
    QLineEdit* PasswordField() { return Pane<QLineEdit>(1113); }

    // What a keyboard or an input method delivers to a focused field.
    void Type(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        field->end(false);
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(field, &press);
    }
    void Commit(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        QInputMethodEvent ev;
        ev.setCommitString(text);
        QApplication::sendEvent(field, &ev);
    }
    void Retype(QLineEdit* field, const QString& text)
    {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }
    bool ApplyEnabled() { return Pane<QPushButton>(1001)->isEnabled(); }
};

TEST_F(DialupTest, FullWidthCharactersTypedAreRemovedWithOneBeep)
{
    QLineEdit* user = UserField();
    user->setText("ab");
    Type(user, QString::fromUtf8("Ａ"));
    EXPECT_EQ(user->text(), "ab");
    EXPECT_EQ(mBeeps, 1);

    // An input method commits a whole word at once: one beep for all of it, the rest in order.
    user->setText("ab");
    user->setCursorPosition(1);
    Commit(user, QString::fromUtf8("x漢字yかな"));
    EXPECT_EQ(user->text(), "axyb");
    EXPECT_EQ(user->cursorPosition(), 3);
    EXPECT_EQ(mBeeps, 2);

    // The password field is filtered the same way; plain typing does not beep.
    QLineEdit* pw = PasswordField();
    QTest::keyClicks(pw, "ok");
    EXPECT_EQ(mBeeps, 2);
    Commit(pw, QString::fromUtf8("パス"));
    EXPECT_EQ(pw->text(), "secretok");
    EXPECT_EQ(mBeeps, 3);
}

TEST(SingleByteFilter, KeepsExactlyWhatIsOneByteInCP932)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"user@example.jp", "user@example.jp"},
        {"ＡＢＣ", ""},                 // full-width letters: two bytes
        {"aかb", "ab"},                  // hiragana
        {"ｱｲｳ", "ｱｲｳ"},                 // half-width katakana: one byte in CP932
        {"a漢b字", "ab"},
        {"café", "caf"},                 // CP932 cannot hold é
        {"x€y", "xy"},
        {"a\xF0\x9F\x98\x80" "b", "ab"}, // outside the BMP: both halves go
        {"~\\", "~\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UPanes::SingleByteOnly(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST_F(DialupTest, ConnectChecksLengthsThenSendsTheCommandWithTheRedialMode)
{
    struct Case { int user, password; int caution; };
    const Case cases[] = {
        {2, 6, 0}, {30, 6, 0}, {6, 2, 0}, {6, 30, 0},
        {1, 6, 3}, {31, 6, 3}, {0, 6, 3}, {1, 1, 3},
        {6, 1, 4}, {6, 31, 4},
    };
    for (const Case& c : cases) {
        UserField()->setText(QString(c.user, 'u'));
        PasswordField()->setText(QString(c.password, 'p'));
        mApp.commands.clear();
        QTest::mouseClick(Pane<QPushButton>(1102), Qt::LeftButton);
        EXPECT_EQ(TakeCaution(), c.caution) << c.user << "/" << c.password;
        const std::vector<int32_t> expected = c.caution ? std::vector<int32_t>{} : std::vector<int32_t>{2100};
        EXPECT_EQ(mApp.commands, expected);
    }
    PasswordField()->setText("secret");
    Click(Pane<QCheckBox>(1141));
    QTest::mouseClick(Pane<QPushButton>(1102), Qt::LeftButton);
    ASSERT_FALSE(mHost.redialModes.empty());
    EXPECT_TRUE(mHost.redialModes.back());
    EXPECT_FALSE(mHost.redialModes.front());
}

TEST_F(DialupTest, OtherButtonsSendTheirCommands)
{
    View().SetStatus(2);
    QTest::mouseClick(Pane<QPushButton>(1101), Qt::LeftButton);
    QTest::mouseClick(Pane<QPushButton>(1151), Qt::LeftButton);
    Click(Pane<QCheckBox>(1141));
    View().SetStatus(9);
    QTest::mouseClick(Pane<QPushButton>(1103), Qt::LeftButton);
    EXPECT_EQ(mApp.commands, (std::vector<int32_t>{2101, 2108, 2102}));
}

TEST_F(DialupTest, AccessPointCarriesTheLinkModeSuffix)
{
    Str255 ap, user, pw;
    Window().GetDialupSetting(ap, user, pw);
    EXPECT_EQ(ap.View(), "0570999911##61");
    EXPECT_EQ(user.View(), "kavanti@example.jp");
    EXPECT_EQ(pw.View(), "secret");

    Click(Pane<QRadioButton>(1122));
    Window().GetDialupSetting(ap, user, pw);
    EXPECT_EQ(ap.View(), "0570999911##64");
    EXPECT_EQ(View().GetLinkMode(), 4);
}

TEST_F(DialupTest, NeitherLinkModeOnDialsWithSuffix61)
{
    std::string defaults = TestDefaults();
    const std::string mode = "<key>LinkMode</key><integer>1</integer>";
    defaults.replace(defaults.find(mode), mode.size(), "<key>LinkMode</key><integer>7</integer>");
    WriteFileText(mTmp / "res/DefaultPref.plist", defaults);
    Window();
    EXPECT_FALSE(Pane<QRadioButton>(1121)->isChecked());
    EXPECT_FALSE(Pane<QRadioButton>(1122)->isChecked());
    Str255 ap, user, pw;
    Window().GetDialupSetting(ap, user, pw);
    EXPECT_EQ(ap.View(), "0570999911##61");
}

TEST_F(DialupTest, ChangingAndChangingBackDisablesApply)
{
    EXPECT_FALSE(ApplyEnabled());
    Retype(UserField(), "someone");
    EXPECT_TRUE(ApplyEnabled());
    Retype(UserField(), "Kavanti@example.jp"); // case counts
    EXPECT_TRUE(ApplyEnabled());
    Retype(UserField(), "kavanti@example.jp");
    EXPECT_FALSE(ApplyEnabled());

    Click(Pane<QRadioButton>(1122));
    EXPECT_TRUE(ApplyEnabled());
    Click(Pane<QRadioButton>(1121));
    EXPECT_FALSE(ApplyEnabled());

    // Without the Slipper card the modem-script option is hidden and not compared.
    EXPECT_TRUE(Pane<QCheckBox>(1142)->isHidden());
}

TEST_F(DialupTest, SlipperShowsAndComparesTheModemScriptOption)
{
    mHost.slipper = true;
    Window();
    QCheckBox* ccl = Pane<QCheckBox>(1142);
    EXPECT_FALSE(ccl->isHidden());
    EXPECT_TRUE(ccl->isChecked());
    Click(ccl);
    EXPECT_TRUE(ApplyEnabled());
    QTest::mouseClick(Pane<QPushButton>(1001), Qt::LeftButton);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(mHost.prefs.GetCCLOption());
    // The option is written with the window's own section when the window goes.
    mWindow.reset();
    CAppPrefs reread;
    ASSERT_EQ(reread.LoadPreferences(), 0);
    EXPECT_FALSE(reread.GetCCLOption());
}

// Buttons: Cancel, Connect, Disconnect, Remaining time. -1 for "unchanged".
struct ButtonCase {
    short code;
    bool redial;
    int cancel, connect, disconnect, limit;
    int message; // string list 1100 entry, 0 for unchanged
};

void PrintTo(const ButtonCase& c, std::ostream* os)
{
    *os << "status " << c.code << (c.redial ? " with redial" : " without redial");
}

class ButtonTable : public DialupTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonTable, StatusSetsMessageAndButtons)
{
    const ButtonCase c = GetParam();
    auto* cancel = Pane<QPushButton>(1103);
    auto* connectB = Pane<QPushButton>(1102);
    auto* disconnect = Pane<QPushButton>(1101);
    auto* limit = Pane<QPushButton>(1151);
    Pane<QCheckBox>(1141)->setChecked(c.redial);
    // Two starting points, so that "unchanged" shows against both states of every button.
    for (bool start : {false, true}) {
        for (QPushButton* b : {cancel, connectB, disconnect, limit}) b->setEnabled(start);
        View().SetStatusMessage("before");
        View().SetStatus(c.code);
        const int expected[] = {c.cancel, c.connect, c.disconnect, c.limit};
        QPushButton* buttons[] = {cancel, connectB, disconnect, limit};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(buttons[i]->isEnabled(), expected[i] == -1 ? start : expected[i] == 1)
                << "code " << c.code << " button " << i << " start " << start;
        EXPECT_EQ(Pane<QLabel>(1131)->text(), c.message ? UPanes::GetIndString(1100, c.message) : QString("before"));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStatus, ButtonTable, ::testing::Values(
    ButtonCase{0, false, 0, 1, 0, 0, 1}, ButtonCase{0, true, 0, 1, 0, 0, 1},
    ButtonCase{-2, false, 0, 0, 0, 0, 8}, ButtonCase{-1, true, 0, 0, 0, 0, 7},
    ButtonCase{1, false, 0, 0, 0, 0, 0}, ButtonCase{1, true, 0, 0, 0, 0, 0},
    ButtonCase{2, false, 0, 0, 1, 1, 5}, ButtonCase{2, true, 0, 0, 1, 1, 5},
    ButtonCase{3, false, 0, 0, 0, 0, 3}, ButtonCase{3, true, 1, 0, 0, 0, 3},
    ButtonCase{7, false, 0, 0, 0, 0, 6}, ButtonCase{7, true, 1, 0, 0, 0, 6},
    ButtonCase{9, false, 0, 1, 0, 0, 9}, ButtonCase{9, true, 1, 0, 0, 0, 9},
    ButtonCase{10, false, -1, -1, -1, 0, 0}, ButtonCase{11, true, -1, -1, -1, 1, 0},
    ButtonCase{-5, false, -1, -1, -1, -1, 10}, ButtonCase{4, true, -1, -1, -1, -1, 2},
    ButtonCase{5, false, -1, -1, -1, -1, 0}, ButtonCase{6, false, -1, -1, -1, -1, 4},
    ButtonCase{-4, false, -1, -1, -1, -1, 0}, ButtonCase{12, false, -1, -1, -1, -1, 0}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) {
        const int code = info.param.code;
        return std::string(code < 0 ? "minus" : "") + std::to_string(code < 0 ? -code : code)
            + (info.param.redial ? "_redial" : "_noredial");
    });

TEST_F(DialupTest, ConnectedWithTheSlipperLeavesTheRemainingTimeButton)
{
    mHost.slipper = true;
    auto* limit = Pane<QPushButton>(1151);
    limit->setEnabled(false);
    View().SetStatus(2);
    EXPECT_FALSE(limit->isEnabled());
    EXPECT_TRUE(Pane<QPushButton>(1101)->isEnabled());
}

TEST_F(DialupTest, RemainingTimeCaptionAndTraits)
{
    struct Case { const char* text; int caption; };
    const Case cases[] = {
        {"12:34", 2}, {"--/--/--", 1}, {" ", 2}, {"", 1},
        {"2026/12/31", 1}, {"0012:34:56", 2}, {"\xE6\x99\x82\xE9\x96\x93:\xE6\xAE\x8B\xE3\x82\x8A", 1},
    };
    auto* box = Pane<QGroupBox>(1150);
    auto* text = Pane<QLabel>(1152);
    for (const Case& c : cases) {
        Window().SetLimitText(c.text, static_cast<int32_t>(strlen(c.text)), 133);
        EXPECT_EQ(box->title(), UPanes::GetIndString(1005, c.caption)) << c.text;
        EXPECT_TRUE(text->font().bold());
    }
    // Only the first `length` bytes are shown; 132 is plain.
    Window().SetLimitText("12:34 and more", 5, 132);
    EXPECT_EQ(text->text(), "12:34");
    EXPECT_FALSE(text->font().bold());
}

TEST_F(DialupTest, EndpointFailureNamesTheFix)
{
    View().SetStatus(0);
    const QString idle = Pane<QLabel>(1131)->text();
    View().SetStatus(11); // a remaining-time request done: no message of its own
    EXPECT_EQ(Pane<QLabel>(1131)->text(), idle);

    mHost.dialupError = kStatusFileNotFound;
    View().SetStatus(11);
    EXPECT_TRUE(Pane<QLabel>(1131)->text().contains("apt install ppp"));
    mHost.dialupError = kStatusFileAccess;
    View().SetStatus(11);
    EXPECT_TRUE(Pane<QLabel>(1131)->text().contains("dip"));
}

TEST_F(DialupTest, PasswordShowsBullets)
{
    EXPECT_EQ(PasswordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(PasswordField()->displayText(), QString(6, QChar(PasswordField()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter))));
}

} // namespace

TEST_F(DialupTest, FailureNamesThePppdExitStatusOnlyWhenThereIsOne)
{
    struct Case { long error; const char* expected; };
    const Case cases[] = {
        {16, "The connection failed: the modem hung up."},
        {19, "The connection failed: authentication failed."},
        {0, "The connection failed."},
        {kStatusFileNotFound, "The connection failed."}, // a platform code, not pppd's
    };
    for (const Case& c : cases) {
        mHost.dialupError = c.error;
        View().SetStatus(9);
        EXPECT_EQ(Pane<QLabel>(1131)->text(), QString(c.expected)) << "error " << c.error;
    }
}
