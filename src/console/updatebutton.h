// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's side of the program update: the version check after the first paint
// and the " Update program" button of the left column.
#include <QObject>
#include <QString>
#include <functional>

class QPushButton;
class QWidget;

namespace veldra {

class OperatorUi;
class VersionCheck;

class UpdateButton : public QObject {
    Q_OBJECT
public:
    // `button` is shown by the check and runs the update; `window` is disabled while
    // downloading and closed after a successful one.
    UpdateButton(QWidget* window, QPushButton* button, OperatorUi& ui, std::function<bool()> serverRunning,
                 QString baseUrl = QString());

    // Runs the version check once, after the paint under way has ended.
    void checkAfterFirstPaint(const QString& version);
    // The update (the button's click).
    void update();

    // Told when the download begins (true) and ends (false).
    std::function<void(bool downloading)> onBusyChanged;

private:
    QWidget* m_window;
    QPushButton* m_button;
    OperatorUi& m_ui;
    std::function<bool()> m_serverRunning;
    QString m_baseUrl;
    VersionCheck* m_check = nullptr;
};

}  // namespace veldra
