// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The share list: ListAndDescriptionShareFunction.txt in the program folder, the
// catalogue of the functions that clients may call, each with its description.
#include <QString>
#include <QStringList>

namespace veldra {

struct QueryEditorModel;

// The share-list file of the program folder.
QString shareListFilePath();

// The entries of the listed functions among `functionNames` (active and not blocked for
// the share list), seven lines each, in the given order. Throws FileError when a
// function file cannot be read.
QStringList shareListLines(const QString& queriesFolder, const QStringList& functionNames);

// "Create share list functions": reads the function list of the page value "Path to
// queries", loads its first function into `editor` (when given), and writes the file.
// Returns the message to show: "" when the file was written, the folder message when
// the folder test fails, or the error of a failed read or write (the file then keeps
// its previous content). With no function in the folder nothing is written.
struct ShareListOutcome {
    bool written = false;
    QString message;
    QStringList functionNames;  // the function list as UPDATE LIST read it
};
ShareListOutcome CreateShareListFunctions(const QString& pathToQueriesPage, QueryEditorModel* editor = nullptr);

}  // namespace veldra
