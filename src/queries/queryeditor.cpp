// SPDX-License-Identifier: GPL-3.0-or-later
#include "queries/queryeditor.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <utility>

#include "common/errors.h"
#include "common/files.h"
#include "common/functionname.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "queries/sharelist.h"
#include "queries/templatecheck.h"

namespace veldra {

namespace {

const QString kWrongFolder = QStringLiteral("The path to the output folder is empty or wrong !");

// The report of a failed file operation: the operation, then the error.
void reportFailure(OperatorUi& ui, const QString& operation)
{
    ui.showMessage(operation + QStringLiteral(" \r ") + currentErrorDetails());
}

// A file of that name (any letter case) in the folder.
bool functionFileExists(const QString& folder, const QString& name)
{
    if (QFileInfo::exists(queryFilePath(folder, name))) return true;
    for (const QString& f : listQueryFunctions(folder))
        if (f.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

int indexOfNoCase(const QStringList& list, const QString& name)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

}  // namespace

bool queriesFolderTest(const QString& pathToQueriesPage, OperatorUi& ui)
{
    if (isExistingFolder(trim(pathToQueriesPage))) return true;
    ui.showMessage(kWrongFolder);
    return false;
}

QString unsafeFunctionNameReason(const QString& name) { return functionNameFault(name); }

void removeFunctionCacheFolder(const QString& pathToCachePage, const QString& name)
{
    if (!isExistingFolder(trim(pathToCachePage))) return;
    deleteFunctionCacheFolder(consoleFolder(pathToCachePage), name);
}

void QueryEditor::clearEditor()
{
    model = QueryEditorModel{};
    selectedInput = -1;
    modified = false;
}

void QueryEditor::load(int index, const QString& folder, OperatorUi& ui)
{
    selected = index;
    selectedInput = -1;
    modified = false;
    try {
        LoadQueryFunction(folder, functions[index], model);
    } catch (...) {
        // What the fields held belongs to another function: a save must not mix the two.
        model = QueryEditorModel{};
        reportFailure(ui, QStringLiteral("Load query function [") + functions[index] + u']');
        return;
    }
    offerNumberInputs(ui);
}

void QueryEditor::offerNumberInputs(OperatorUi& ui)
{
    const QList<UnsafePlaceholder> found = findUnsafePlaceholders(model.query, model.inputValues);
    for (const QString& name : unsafeInputNames(found)) {
        QList<UnsafePlaceholder> own;
        for (const UnsafePlaceholder& p : found)
            if (p.input == name) own << p;
        const QString question =
            QStringLiteral("Input value [") + name + QStringLiteral("] stands outside a quoted string in the query: ") +
            describeUnsafePlaceholders(own) +
            QStringLiteral(". A request value there can change the statement (for example 1 OR 1=1). Mark [") + name +
            QStringLiteral("] as \"Float | integer value\" ?");
        if (!ui.askYesNo(question)) continue;
        for (int i = 0; i < model.inputValues.size(); ++i) {
            if (model.inputValues[i].name != name) continue;
            model.inputValues[i].rec.IsFloatValue = true;
            if (i == selectedInput) fields.isFloatValue = true;
        }
        modified = true;
    }
}

void QueryEditor::selectFunction(int index, const EditorFolders& folders, OperatorUi& ui)
{
    if (index < 0 || index >= functions.size()) return;
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    load(index, consoleFolder(folders.pathToQueries), ui);
}

void QueryEditor::updateList(const EditorFolders& folders, OperatorUi& ui)
{
    functions.clear();
    selected = -1;
    clearEditor();
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    functions = listQueryFunctions(consoleFolder(folders.pathToQueries));
    if (!functions.isEmpty()) load(0, consoleFolder(folders.pathToQueries), ui);
}

void QueryEditor::createNewQuery(const QString& newName, const EditorFolders& folders, OperatorUi& ui)
{
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    const QString folder = consoleFolder(folders.pathToQueries);
    const QString name = trim(newName);
    if (name.isEmpty()) {
        ui.showMessage(QStringLiteral("Name function is not set"));
        return;
    }
    const int existing = indexOfNoCase(functions, name);
    if (existing >= 0) {
        ui.showMessage(QStringLiteral("This name function already exists"));
        load(existing, folder, ui);
        return;
    }
    if (const QString reason = unsafeFunctionNameReason(name); !reason.isEmpty()) {
        ui.showMessage(reason);
        return;
    }
    // A file the list does not show yet (the list is read only on request) is never
    // overwritten.
    if (functionFileExists(folder, name)) {
        ui.showMessage(QStringLiteral("This name function already exists"));
        return;
    }
    try {
        CreateQueryFunction(folder, name);
    } catch (...) {
        reportFailure(ui, QStringLiteral("CREATE NEW QUERY"));
        return;
    }
    removeFunctionCacheFolder(folders.pathToCache, name);
    functions << name;
    std::stable_sort(functions.begin(), functions.end(), functionNameLess);
    load(int(functions.indexOf(name)), folder, ui);
}

void QueryEditor::deleteQuery(const EditorFolders& folders, OperatorUi& ui)
{
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    const QString name = selectedName();
    if (name.isEmpty()) return;
    if (!ui.askYesNo(QStringLiteral("Delete selected function [") + name + QStringLiteral("] ?"))) return;
    QFile::remove(queryFilePath(consoleFolder(folders.pathToQueries), name));
    removeFunctionCacheFolder(folders.pathToCache, name);
    updateList(folders, ui);
}

void QueryEditor::saveChanges(const EditorFolders& folders, OperatorUi& ui)
{
    const QString oldName = selectedName();
    if (oldName.isEmpty()) return;
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    const QString folder = consoleFolder(folders.pathToQueries);
    const QString newName = trim(model.name);
    // The name comes from the file's q_name item: a file without one would be saved as
    // ".qr", and an unsafe one would land outside the folder.
    if (newName.isEmpty()) {
        ui.showMessage(QStringLiteral("Name function is not set: nothing was saved"));
        return;
    }
    if (const QString reason = unsafeFunctionNameReason(newName); !reason.isEmpty()) {
        ui.showMessage(reason + QStringLiteral(": nothing was saved"));
        return;
    }
    offerNumberInputs(ui);
    ui.showMessage(queryFunctionText(model));
    try {
        if (newName == oldName) {
            SaveQueryFunction(folder, newName, model);
            modified = false;
            return;
        }
        if (functionFileExists(folder, newName) &&
            !ui.askYesNo(QStringLiteral("Function [") + newName + QStringLiteral("] already exists. Replace it ?")))
            return;
        SaveQueryFunction(folder, newName, model);
        // Written first, so that a failed write loses nothing.
        QFile::remove(queryFilePath(folder, oldName));
        functions[selected] = newName;
        for (int i = int(functions.size()) - 1; i >= 0; --i)
            if (i != selected && functions[i] == newName) {
                functions.removeAt(i);
                if (i < selected) --selected;
            }
        removeFunctionCacheFolder(folders.pathToCache, newName);
        modified = false;
    } catch (...) {
        reportFailure(ui, QStringLiteral("SAVE CHANGES"));
    }
}

void QueryEditor::createShareList(const EditorFolders& folders, OperatorUi& ui)
{
    QueryEditorModel loaded = model;
    const ShareListOutcome out = CreateShareListFunctions(folders.pathToQueries, &loaded);
    functions = out.functionNames;
    selected = functions.isEmpty() ? -1 : 0;
    if (functions.isEmpty())
        clearEditor();
    else {
        model = std::move(loaded);
        selectedInput = -1;
        modified = false;
    }
    if (!out.message.isEmpty()) ui.showMessage(out.message);
    if (!functions.isEmpty()) offerNumberInputs(ui);
}

void QueryEditor::showInputValue(int index, const EditorFolders& folders, OperatorUi& ui)
{
    if (index < 0 || index >= model.inputValues.size()) return;
    selectedInput = index;
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    const InputValueEntry& e = model.inputValues[index];
    fields.name = e.name;
    fields.defaultValue = e.rec.default_value;
    fields.deleteblockedIfValueIs = e.rec.deleteblocked_ifvalue_is;
    fields.cleantext = e.rec.Cleantext;
    fields.isFloatValue = e.rec.IsFloatValue;
    fields.deleteblocked = e.rec.deleteblocked;
}

void QueryEditor::newInputValue(const EditorFolders& folders, OperatorUi& ui)
{
    if (selectedName().isEmpty()) {
        ui.showMessage(QStringLiteral("First need create function or select in list"));
        return;
    }
    if (!queriesFolderTest(folders.pathToQueries, ui)) return;
    const QString name = trim(fields.name);
    if (name.isEmpty()) {
        ui.showMessage(QStringLiteral("Name input value is not set"));
        return;
    }
    for (int i = 0; i < model.inputValues.size(); ++i)
        if (model.inputValues[i].name.compare(name, Qt::CaseInsensitive) == 0) {
            ui.showMessage(QStringLiteral("This name value already exists"));
            showInputValue(i, folders, ui);
            return;
        }
    model.inputValues << InputValueEntry{name, fields.record()};
    modified = true;
}

void QueryEditor::editInputValue(OperatorUi& ui)
{
    if (selectedInput < 0 || selectedInput >= model.inputValues.size()) return;
    InputValueEntry& e = model.inputValues[selectedInput];
    if (!ui.askYesNo(QStringLiteral("Edit selected value and its settings [") + e.name + QStringLiteral("] ?"))) return;
    e = InputValueEntry{fields.name, fields.record()};
    modified = true;
}

void QueryEditor::deleteInputValue(OperatorUi& ui)
{
    if (selectedInput < 0 || selectedInput >= model.inputValues.size()) return;
    if (!ui.askYesNo(QStringLiteral("Delete selected value and its settings [") + model.inputValues[selectedInput].name +
                     QStringLiteral("] ?")))
        return;
    model.inputValues.removeAt(selectedInput);
    selectedInput = -1;
    modified = true;
}

// The selection follows the moved entry.
void QueryEditor::moveInputUp()
{
    if (selectedInput <= 0 || selectedInput >= model.inputValues.size()) return;
    model.inputValues.swapItemsAt(selectedInput, selectedInput - 1);
    --selectedInput;
    modified = true;
}

void QueryEditor::moveInputDown()
{
    if (selectedInput < 0 || selectedInput + 1 >= model.inputValues.size()) return;
    model.inputValues.swapItemsAt(selectedInput, selectedInput + 1);
    ++selectedInput;
    modified = true;
}

}  // namespace veldra
