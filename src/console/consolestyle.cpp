// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/consolestyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

namespace veldra::console {

QFont sansFont(int pixelSize, bool bold, bool italic)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QLabel* headingBar(const QString& text)
{
    auto* l = new QLabel(text);
    l->setObjectName(QStringLiteral("HeadingBar"));
    l->setFont(sansFont(16, true));
    l->setStyleSheet(QStringLiteral("background: palette(highlight); color: yellow; padding: 4px;"));
    return l;
}

QPushButton* captionButton(const QString& caption, const QString& objectName)
{
    auto* b = new QPushButton(caption);
    b->setObjectName(objectName);
    return b;
}

QPushButton* pictureButton(const QIcon& icon, const QString& what, const QString& objectName)
{
    auto* b = named(new QPushButton, objectName, what);
    b->setIcon(icon);
    b->setIconSize(QSize(24, 24));
    b->setToolTip(what);
    return b;
}

QLineEdit* labelledField(QLabel* label, const QString& objectName)
{
    auto* e = named(new QLineEdit, objectName, label->text().trimmed());
    label->setBuddy(e);
    return e;
}

void chainTabOrder(const QList<QWidget*>& widgets)
{
    for (qsizetype i = 1; i < widgets.size(); ++i) QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}

void currentFollowsSelection(QListWidget* list)
{
    QObject::connect(list, &QListWidget::itemSelectionChanged, list, [list] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (selected.size() != 1) return;
        const int row = list->row(selected.first());
        if (row != list->currentRow()) list->setCurrentRow(row);
    });
}

void enterPresses(const QList<QLineEdit*>& fields, QAbstractButton* button)
{
    for (QLineEdit* f : fields) QObject::connect(f, &QLineEdit::returnPressed, button, &QAbstractButton::click);
}

}  // namespace veldra::console
