// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/updatebutton.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "common/files.h"
#include "update/programupdate.h"
#include "update/versioncheck.h"

namespace veldra {

UpdateButton::UpdateButton(QWidget* window, QPushButton* button, OperatorUi& ui, std::function<bool()> serverRunning,
                           QString baseUrl)
    : QObject(window),
      m_window(window),
      m_button(button),
      m_ui(ui),
      m_serverRunning(std::move(serverRunning)),
      m_baseUrl(baseUrl.isNull() ? configuredUpdateBaseUrl() : std::move(baseUrl))
{
    connect(m_button, &QPushButton::clicked, this, &UpdateButton::update);
}

void UpdateButton::checkAfterFirstPaint(const QString& version)
{
    if (m_check) return;
    m_check = new VersionCheck(this);
    QTimer::singleShot(0, this, [this, version] { m_check->start(m_baseUrl, version, m_ui, [this] { m_button->show(); }); });
}

void UpdateButton::update()
{
    const UpdateTarget target{m_baseUrl, programFolder(), executableFile(), isInstalledCopy()};
    UpdateHooks hooks;
    hooks.serverRunning = m_serverRunning;
    hooks.setBusy = [this](bool on) {
        m_window->setEnabled(!on);
        if (on)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
        if (onBusyChanged) onBusyChanged(on);
    };
    hooks.setCaption = [this](const QString& caption) { m_button->setText(caption); };
    hooks.closeWindow = [this] { m_window->close(); };
    runProgramUpdate(target, m_ui, hooks);
}

}  // namespace veldra
