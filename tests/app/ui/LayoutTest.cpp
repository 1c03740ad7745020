#include "UiFixture.h"

#include "app/ui/CAboutWindow.h"
#include "app/ui/CAuthDialog.h"
#include "app/ui/CDialupView.h"

#include <QLabel>

#include <QDir>
#include <QFile>
#include <QTabBar>
#include <QXmlStreamReader>

#include <filesystem>

namespace {

struct PaneCase { int id; const char* kind; };

void ExpectPanes(QWidget* root, std::initializer_list<PaneCase> cases, const char* layout)
{
    for (const PaneCase& c : cases) {
        QWidget* w = UPanes::FindWidget(root, c.id);
        ASSERT_NE(w, nullptr) << layout << " lacks pane " << c.id;
        EXPECT_TRUE(w->inherits(c.kind)) << layout << " pane " << c.id << " is a " << w->metaObject()->className()
                                         << ", not a " << c.kind;
    }
}

TEST_F(UiTest, EveryPaneExistsWithItsKind)
{
    CMainWindow& w = Window();
    ExpectPanes(&w, {{1001, "QPushButton"}, {1003, "QTabBar"}, {1004, "QStackedWidget"}, {1005, "QLabel"},
                     {1100, "CDialupView"}, {1200, "CAcceleratorView"}, {1300, "CCardInfoView"}, {1400, "CConfigView"}},
                "1000");
    ExpectPanes(&w, {{1101, "QPushButton"}, {1102, "QPushButton"}, {1103, "QPushButton"}, {1111, "QLabel"},
                     {1112, "QLineEdit"}, {1113, "QLineEdit"}, {1121, "QRadioButton"}, {1122, "QRadioButton"},
                     {1131, "QLabel"}, {1132, "QGroupBox"}, {1141, "QCheckBox"}, {1142, "QCheckBox"},
                     {1150, "QGroupBox"}, {1151, "QPushButton"}, {1152, "QLabel"}},
                "1100");
    ExpectPanes(&w, {{1211, "QRadioButton"}, {1212, "QRadioButton"}, {1213, "QRadioButton"}, {1214, "QRadioButton"},
                     {1221, "QCheckBox"}},
                "1200");
    ExpectPanes(&w, {{1301, "QPushButton"}, {1302, "QLabel"}, {1311, "QLabel"}, {1312, "QLabel"}, {1313, "QLabel"},
                     {1321, "QLabel"}, {1324, "QLabel"}},
                "1300");
    for (int i = 0; i < 13; ++i) ExpectPanes(&w, {{1331 + i, "QLabel"}}, "1300");
    for (int i = 0; i < 7; ++i) ExpectPanes(&w, {{1411 + i, "QCheckBox"}}, "1400");
    // Panel panes live in their own panel, so a panel's number finds nothing of another panel.
    EXPECT_EQ(UPanes::FindWidget(Window().DialupView(), 1211), nullptr);

    CAboutWindow about(nullptr);
    ExpectPanes(&about, {{1421, "QToolButton"}, {1422, "QToolButton"}}, "999");
    CAuthDialog auth;
    ExpectPanes(&auth, {{3, "QLineEdit"}, {4, "QLineEdit"}, {900, "QPushButton"}, {901, "QPushButton"}}, "1500");
}

class JapaneseTest : public UiTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mJa.load(":/i18n/kavanti_ja.qm"));
    }
    QTranslator mJa;
};

TEST_F(JapaneseTest, EveryStringListEntryHasATranslation)
{
    for (int list : {1000, 1005, 1100, 1300}) {
        ASSERT_GT(UPanes::StringListSize(list), 0);
        for (int i = 1; i <= UPanes::StringListSize(list); ++i) {
            const QString ja = mJa.translate(UPanes::StringListContext(list), UPanes::StringListSource(list, i));
            EXPECT_FALSE(ja.isEmpty()) << "STR# " << list << " entry " << i;
            EXPECT_NE(ja, QString::fromUtf8(UPanes::StringListSource(list, i))) << "STR# " << list << " entry " << i;
        }
    }
    EXPECT_EQ(UPanes::StringListSize(1000), 8);
    EXPECT_EQ(UPanes::StringListSize(1100), 10);
    EXPECT_EQ(UPanes::StringListSize(1005), 2);
    EXPECT_EQ(UPanes::StringListSize(1300), 2);
}

TEST_F(JapaneseTest, EveryLabelOfEveryLayoutHasATranslation)
{
    const QString folder = QString::fromUtf8(std::getenv("KAVANTI_SOURCE")) + "/app/ui/layouts";
    const QStringList files = QDir(folder).entryList({"*.ui"});
    ASSERT_EQ(files.size(), 7);
    for (const QString& name : files) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&f);
        QString context;
        int strings = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("class") && context.isEmpty()) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("string")) {
                const bool notr = xml.attributes().value("notr") == QLatin1String("true");
                const QString text = xml.readElementText();
                if (notr || text.isEmpty()) continue;
                ++strings;
                EXPECT_FALSE(mJa.translate(context.toUtf8(), text.toUtf8()).isEmpty())
                    << name.toStdString() << ": \"" << text.toStdString() << "\"";
            }
        }
        EXPECT_FALSE(xml.hasError()) << name.toStdString() << ": " << xml.errorString().toStdString();
        EXPECT_GT(strings, 0) << name.toStdString();
    }
}

TEST_F(JapaneseTest, NoMessageOfTheCatalogueIsUnfinished)
{
    QFile f(QString::fromUtf8(std::getenv("KAVANTI_SOURCE")) + "/resources/translations/kavanti_ja.ts");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("translation")) continue;
        ++messages;
        const bool unfinished = xml.attributes().value("type") == QLatin1String("unfinished");
        const QString text = xml.readElementText();
        EXPECT_FALSE(unfinished || text.isEmpty()) << "message " << messages;
    }
    EXPECT_GT(messages, 0);
}

TEST_F(JapaneseTest, TheWindowSpeaksJapaneseWithTheCatalogueInstalled)
{
    QApplication::installTranslator(&mJa);
    Window();
    auto* tabs = Pane<QTabBar>(1003);
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("ダイヤルアップ"));
    Window().SetStatus(0);
    EXPECT_EQ(Pane<QLabel>(1131)->text(), QString::fromUtf8("接続できます。"));
    QApplication::removeTranslator(&mJa);
}

} // namespace
