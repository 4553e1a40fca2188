// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What console operations ask of the operator: message boxes, Yes/No questions, the
// folder dialog and opening a file with its program. The window implements it with
// dialogs, the headless server on stderr, tests with scripted answers.
#include <QString>
#include <QStringList>
#include <functional>

namespace veldra {

class OperatorUi {
public:
    virtual ~OperatorUi() = default;
    // A modal message box with one OK button.
    virtual void showMessage(const QString& text) = 0;
    // An error message box (failures of request threads, shown by the main thread).
    virtual void showError(const QString& text) = 0;
    // The failure box, which does not wait: it opens with `text` and returns at once;
    // `closed` runs in the main thread once the operator has closed it. While it is open,
    // updateFailureBox changes its text. By default the text goes to showError and the
    // box counts as closed when that returns.
    virtual void openFailureBox(const QString& text, std::function<void()> closed)
    {
        showError(text);
        closed();
    }
    virtual void updateFailureBox(const QString& text) { (void)text; }
    // A Yes/No question; true for Yes.
    virtual bool askYesNo(const QString& question) = 0;
    // The folder dialog "Choose a directory"; an empty text when cancelled.
    virtual QString chooseFolder(const QString& startFolder) = 0;
    // Opens a file with the program associated with its kind.
    virtual void openWithItsProgram(const QString& path) = 0;
};

// Saves the lines as an owner-only text file (writeTextFile: the logs it shows may hold
// secure codes) and opens it with its program; a failed save is shown to the operator
// as a message, and nothing is opened.
void saveAndOpen(const QString& path, const QStringList& lines, OperatorUi& ui);

}  // namespace veldra
