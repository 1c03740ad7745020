// Panes by number, pictures by number, the string lists and the text traits: what the layouts
// and the code share.
#pragma once

#include "platform/cf/PText.h"

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

namespace UPanes {

// The pane ID a layout gave a widget (its dynamic property "paneID"), 0 when it has none.
int PaneID(const QObject* object);

// The descendant of `root` (or root itself) with pane ID `id` and of kind T; null when missing
// or of another kind.
QWidget* FindWidget(QWidget* root, int id);
template <class T>
T* Find(QWidget* root, int id)
{
    return qobject_cast<T*>(FindWidget(root, id));
}

// Picture `id` (1001 to 1004 lamps and channel icon, 1010 to 1015 levels, ...) drawn from its
// SVG at `size` logical pixels; a null pixmap for an unknown number.
QPixmap Picture(int id, QSize size);
// Shows picture `id` in a picture pane (a QLabel) at the pane's own size; remembers the number
// in the pane's "pictureID" property.
void SetPicture(QWidget* pane, int id);
int GetPicture(const QWidget* pane);

// Entry `index` (from 1) of string list `list` (1000, 1005, 1100, 1300) in the current language;
// empty for an entry that does not exist.
QString GetIndString(int list, int index);
int StringListSize(int list);
// The English source of an entry and its translation context, for the translation check.
const char* StringListSource(int list, int index);
const char* StringListContext(int list);

// Text traits 132 (plain: stored or failed value) and 133 (bold: a value just fetched).
void SetTextTraits(QWidget* pane, short traitsID);

// Settings text (Mac Roman) to and from the screen.
QString FromStr255(const Str255& s);
Str255 ToStr255(const QString& s);

// The one beep of the input filter. Tests replace the sound with a counter.
void Beep();
void SetBeepHandler(std::function<void()> handler);

// `text` without every character that is not a single byte in the Japanese system encoding
// (CP932): full-width letters, kana and kanji, and anything CP932 cannot hold.
QString SingleByteOnly(const QString& text);

} // namespace UPanes
