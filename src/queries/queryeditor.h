// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The query-function editor as data and operations: the function list, the function
// open in the editor, the input-value fields and the operations of the REQUESTS tab.
// The window shows this state and feeds the operator's typing into it; every operation
// takes the page folders explicitly and talks to the operator through OperatorUi.
#include <QString>
#include <QStringList>

#include "queries/queryfile.h"

namespace veldra {

class OperatorUi;

// The page values the editor works with ("Path to queries", "Path to cache files").
struct EditorFolders {
    QString pathToQueries;
    QString pathToCache;
};

// The input-value fields below the input-value list.
struct InputValueFields {
    QString name;  // "Name" (typed letters become lower case)
    QString defaultValue = QStringLiteral("null");
    bool cleantext = false;                                        // "Cleaning text value"
    bool isFloatValue = false;                                     // "Float | integer value"
    bool deleteblocked = false;                                    // "Delete block in query if value is/will"
    QString deleteblockedIfValueIs = QStringLiteral("[null][0][]");  // the field beside it

    TMyRec record() const { return TMyRec{defaultValue, deleteblockedIfValueIs, cleantext, isFloatValue, deleteblocked}; }
};

// "The path to the output folder is empty or wrong !" unless the page value names an
// existing folder.
bool queriesFolderTest(const QString& pathToQueriesPage, OperatorUi& ui);

// Why a function name cannot be a file of the queries folder ("" when it can): the
// one rule of common/functionname.h, which the request side and the cache share.
QString unsafeFunctionNameReason(const QString& name);

// Removes the cache folder of a function (cache folder + name) with everything in it,
// when the cache folder page value names an existing folder, the name is usable and
// the folder lies strictly inside the cache folder.
void removeFunctionCacheFolder(const QString& pathToCachePage, const QString& name);

class QueryEditor {
public:
    QStringList functions;     // the function list, alphabetical ignoring letter case
    int selected = -1;         // the entry open in the editor
    QueryEditorModel model;    // its fields
    int selectedInput = -1;    // the selected entry of the input-value list
    InputValueFields fields;   // the input-value fields
    bool modified = false;     // the fields differ from the file last loaded or saved

    QString selectedName() const { return selected >= 0 && selected < functions.size() ? functions[selected] : QString(); }

    // A click on an entry of the function list: loads it, discarding unsaved changes.
    void selectFunction(int index, const EditorFolders& folders, OperatorUi& ui);
    // UPDATE LIST: reads the folder and opens the first function.
    void updateList(const EditorFolders& folders, OperatorUi& ui);
    // CREATE NEW QUERY (or Enter in the new-name field).
    void createNewQuery(const QString& newName, const EditorFolders& folders, OperatorUi& ui);
    // DELETE QUERY.
    void deleteQuery(const EditorFolders& folders, OperatorUi& ui);
    // SAVE CHANGES: shows the whole file text, then writes it.
    void saveChanges(const EditorFolders& folders, OperatorUi& ui);
    // "Create share list functions".
    void createShareList(const EditorFolders& folders, OperatorUi& ui);

    // A click on an entry of the input-value list.
    void showInputValue(int index, const EditorFolders& folders, OperatorUi& ui);
    // "new", "edit", "delete", and the two arrows.
    void newInputValue(const EditorFolders& folders, OperatorUi& ui);
    void editInputValue(OperatorUi& ui);
    void deleteInputValue(OperatorUi& ui);
    void moveInputUp();
    void moveInputDown();

    // The input values whose placeholders stand outside a quoted string of the query
    // (findUnsafePlaceholders): names each with its placeholders and asks whether to mark
    // it "Float | integer value"; Yes marks it in the editor (an unsaved change), No
    // keeps it as it is. Run when a function is opened and when it is saved.
    void offerNumberInputs(OperatorUi& ui);

private:
    void load(int index, const QString& folder, OperatorUi& ui);
    void clearEditor();
};

}  // namespace veldra
