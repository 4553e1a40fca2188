// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/widgetoperator.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace veldra {
namespace {

// Message texts break lines with a carriage return.
QString boxText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace

void WidgetOperator::showMessage(const QString& text)
{
    QMessageBox::information(m_parent, QStringLiteral("Veldra"), boxText(text), QMessageBox::Ok);
}

void WidgetOperator::showError(const QString& text)
{
    QMessageBox::critical(m_parent, QStringLiteral("Veldra"), boxText(text), QMessageBox::Ok);
}

bool WidgetOperator::askYesNo(const QString& question)
{
    return QMessageBox::question(m_parent, QStringLiteral("Veldra"), boxText(question),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString WidgetOperator::chooseFolder(const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(m_parent, QStringLiteral("Choose a directory"), startFolder);
}

void WidgetOperator::openWithItsProgram(const QString& path)
{
    if (m_opener)
        m_opener(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace veldra
