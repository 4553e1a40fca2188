// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operator's side of the console operations, with dialogs.
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "common/operatorui.h"

namespace veldra {

class WidgetOperator : public OperatorUi {
public:
    explicit WidgetOperator(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    // The failure box "FailureBox": an error box that does not wait (no event loop of
    // its own, no modality), so hand-overs, the log and STOP go on while it is open.
    void openFailureBox(const QString& text, std::function<void()> closed) override;
    void updateFailureBox(const QString& text) override;
    QMessageBox* failureBox() const { return m_failureBox; }
    bool askYesNo(const QString& question) override;
    QString chooseFolder(const QString& startFolder) override;
    // Opens with QDesktopServices.
    void openWithItsProgram(const QString& path) override;

private:
    QWidget* m_parent;
    QPointer<QMessageBox> m_failureBox;
};

}  // namespace veldra
