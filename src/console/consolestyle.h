// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every page of the window shares: the heading bar, fonts of the desktop's sans
// family at given pixel sizes, and naming controls for tests and screen readers.
#include <QFont>
#include <QList>
#include <QString>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace veldra::console {

// The desktop's sans font at `pixelSize` pixels.
QFont sansFont(int pixelSize, bool bold = false, bool italic = false);
// The heading bar of a page: yellow bold text on the highlight colour.
QLabel* headingBar(const QString& text);
// Names a control that shows no text of its own (a field, a list, a picture button):
// its object name (the name tools find it by) and its accessible name.
template <class W>
W* named(W* widget, const QString& objectName, const QString& accessibleName)
{
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    return widget;
}
// A control that shows a text (a label, a caption): it keeps no accessible name of its
// own, so assistive technology reads the text it shows and is told when it changes;
// `description` says what it is.
template <class W>
W* described(W* widget, const QString& objectName, const QString& description)
{
    widget->setObjectName(objectName);
    widget->setAccessibleDescription(description);
    return widget;
}
// A push button; assistive technology reads its caption, whatever it shows.
QPushButton* captionButton(const QString& caption, const QString& objectName);
// A picture button without caption: the icon, a tooltip and the accessible name `what`.
QPushButton* pictureButton(const QIcon& icon, const QString& what, const QString& objectName);
// A one-line field whose accessible name is the text of its label (the label becomes its buddy).
QLineEdit* labelledField(QLabel* label, const QString& objectName);
// Tab order in the order of `widgets`.
void chainTabOrder(const QList<QWidget*>& widgets);
// An entry selected without becoming the current one (assistive technology selects that
// way) becomes the current one, so the list reacts as to a click on it.
void currentFollowsSelection(QListWidget* list);
// Enter in any of `fields` presses `button`.
void enterPresses(const QList<QLineEdit*>& fields, QAbstractButton* button);

}  // namespace veldra::console
