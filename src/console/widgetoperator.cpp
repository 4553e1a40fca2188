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

void WidgetOperator::openFailureBox(const QString& text, std::function<void()> closed)
{
    if (m_failureBox) m_failureBox->deleteLater();
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Veldra"), boxText(text), QMessageBox::Ok, m_parent);
    box->setObjectName(QStringLiteral("FailureBox"));
    box->setWindowModality(Qt::NonModal);
    // Closed by its button, or gone with the window: `closed` runs once either way.
    auto once = std::make_shared<std::function<void()>>(std::move(closed));
    auto fire = [once] {
        if (auto f = std::exchange(*once, nullptr)) f();
    };
    QObject::connect(box, &QDialog::finished, box, [box, fire] {
        fire();
        box->deleteLater();
    });
    QObject::connect(box, &QObject::destroyed, fire);
    m_failureBox = box;
    box->show();
}

void WidgetOperator::updateFailureBox(const QString& text)
{
    if (m_failureBox) m_failureBox->setText(boxText(text));
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
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace veldra
