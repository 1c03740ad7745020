#include "app/ui/UPanes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

#include <iconv.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace UPanes {

int PaneID(const QObject* object)
{
    const QVariant v = object ? object->property("paneID") : QVariant();
    return v.isValid() ? v.toInt() : 0;
}

QWidget* FindWidget(QWidget* root, int id)
{
    if (!root) return nullptr;
    if (PaneID(root) == id) return root;
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (PaneID(w) == id) return w;
    return nullptr;
}

namespace {
QString PictureFile(int id)
{
    switch (id) {
    case 1001: case 1002: case 1003: case 1004:
    case 1010: case 1011: case 1012: case 1013: case 1014: case 1015:
        return QStringLiteral(":/pictures/%1.svg").arg(id);
    case 1421: return QStringLiteral(":/pictures/mail.svg");
    case 1422: return QStringLiteral(":/pictures/web.svg");
    case 128: return QStringLiteral(":/pictures/kavanti.svg");
    default: return {};
    }
}
} // namespace

QPixmap Picture(int id, QSize size)
{
    const QString file = PictureFile(id);
    if (file.isEmpty() || size.isEmpty()) return {};
    QSvgRenderer renderer(file);
    if (!renderer.isValid()) return {};
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    return pm;
}

void SetPicture(QWidget* pane, int id)
{
    auto* label = qobject_cast<QLabel*>(pane);
    if (!label) return;
    QSize size = label->minimumSize();
    if (size.isEmpty()) size = label->size();
    label->setPixmap(Picture(id, size));
    label->setProperty("pictureID", id);
}

int GetPicture(const QWidget* pane)
{
    const QVariant v = pane ? pane->property("pictureID") : QVariant();
    return v.isValid() ? v.toInt() : 0;
}

namespace {
struct StringList {
    int id;
    const char* context;
    std::vector<const char*> entries;
};

const std::vector<StringList>& Lists()
{
    static const std::vector<StringList> lists = {
        {1000, "STR#1000", {
            QT_TRANSLATE_NOOP("STR#1000", "This system is too old for Kavanti."),
            QT_TRANSLATE_NOOP("STR#1000", "The preferences file cannot be read or created. Check that your home folder can be written to, then start Kavanti again."),
            QT_TRANSLATE_NOOP("STR#1000", "The user name must be 2 to 30 characters long."),
            QT_TRANSLATE_NOOP("STR#1000", "The password must be 2 to 30 characters long."),
            QT_TRANSLATE_NOOP("STR#1000", "The settings cannot be changed while connected. Disconnect first, then press Apply."),
            QT_TRANSLATE_NOOP("STR#1000", "The network settings application is open. Quit it, then press Apply again."),
            QT_TRANSLATE_NOOP("STR#1000", "No data card was found. Insert the card, then press Apply again."),
            QT_TRANSLATE_NOOP("STR#1000", "Firefox is running. Quit Firefox so that its cache can be deleted, then press Apply again."),
        }},
        {1005, "STR#1005", {
            QT_TRANSLATE_NOOP("STR#1005", "Valid until"),
            QT_TRANSLATE_NOOP("STR#1005", "Remaining time"),
        }},
        {1100, "STR#1100", {
            QT_TRANSLATE_NOOP("STR#1100", "Ready to connect."),
            QT_TRANSLATE_NOOP("STR#1100", "Modem ready. Dialling..."),
            QT_TRANSLATE_NOOP("STR#1100", "Line connected. Starting the network..."),
            QT_TRANSLATE_NOOP("STR#1100", "Checking the user name and password..."),
            QT_TRANSLATE_NOOP("STR#1100", "Connected."),
            QT_TRANSLATE_NOOP("STR#1100", "Hung up."),
            QT_TRANSLATE_NOOP("STR#1100", "No data card found. Insert the card."),
            QT_TRANSLATE_NOOP("STR#1100", "The modem script for this card is not installed."),
            QT_TRANSLATE_NOOP("STR#1100", "The connection failed."),
            QT_TRANSLATE_NOOP("STR#1100", "The network settings could not be changed."),
        }},
        {1300, "STR#1300", {
            QT_TRANSLATE_NOOP("STR#1300", "The card is in use by the connection. Disconnect to measure it."),
            QT_TRANSLATE_NOOP("STR#1300", "No data card found. Insert the card to measure it."),
        }},
    };
    return lists;
}

const StringList* List(int id)
{
    for (const StringList& l : Lists())
        if (l.id == id) return &l;
    return nullptr;
}
} // namespace

const char* StringListSource(int list, int index)
{
    const StringList* l = List(list);
    if (!l || index < 1 || index > static_cast<int>(l->entries.size())) return nullptr;
    return l->entries[static_cast<size_t>(index - 1)];
}

const char* StringListContext(int list)
{
    const StringList* l = List(list);
    return l ? l->context : nullptr;
}

int StringListSize(int list)
{
    const StringList* l = List(list);
    return l ? static_cast<int>(l->entries.size()) : 0;
}

QString GetIndString(int list, int index)
{
    const char* src = StringListSource(list, index);
    return src ? QCoreApplication::translate(StringListContext(list), src) : QString();
}

void SetTextTraits(QWidget* pane, short traitsID)
{
    if (!pane) return;
    QFont f = pane->font();
    f.setBold(traitsID == 133);
    pane->setFont(f);
    pane->setProperty("textTraits", static_cast<int>(traitsID));
}

QString FromStr255(const Str255& s)
{
    const PRef<PString> str = PStringFromStr255(s, PEncoding::MacRoman);
    return str ? QString::fromStdString(str->UTF8()) : QString();
}

Str255 ToStr255(const QString& s)
{
    const PRef<PString> str = PString::Create(s.toStdString());
    return str ? Str255FromPString(*str, PEncoding::MacRoman) : Str255();
}

namespace {
std::function<void()>& BeepHandler()
{
    static std::function<void()> handler;
    return handler;
}
} // namespace

void Beep()
{
    if (BeepHandler())
        BeepHandler()();
    else
        QApplication::beep();
}

void SetBeepHandler(std::function<void()> handler)
{
    BeepHandler() = std::move(handler);
}

namespace {
// Bytes of one character in CP932, or 0 when CP932 cannot hold it.
size_t CP932Length(const QString& character)
{
    static std::mutex lock;
    static iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    const QByteArray utf8 = character.toUtf8();
    std::lock_guard<std::mutex> g(lock);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = static_cast<size_t>(utf8.size());
    char out[8];
    char* outPtr = out;
    size_t outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
    return sizeof out - outLeft;
}
} // namespace

QString SingleByteOnly(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        // A character outside the BMP is two UTF-16 units; take it whole.
        const qsizetype n = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
        const QString ch = text.mid(i, n);
        const char16_t u = text[i].unicode();
        if (n == 1 && u < 0x80)
            kept += ch;
        else if (n == 1 && !text[i].isSurrogate() && CP932Length(ch) == 1)
            kept += ch;
        i += n;
    }
    return kept;
}

} // namespace UPanes
