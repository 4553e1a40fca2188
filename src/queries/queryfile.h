// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Query function files (<name>.qr in the queries folder): their format, the settings of
// one input value (TMyRec), the editor's fields as data, and the three operations that
// move a function between a file and the editor.
//
// Every item is a value between "<#tag>" and "</#tag>"; the items of input value i carry
// "[i]" inside both markers. A reader takes the first opening marker in the whole text
// and the first closing marker after it; a missing marker gives an empty value.
#include <QString>
#include <QStringList>
#include <QList>

namespace veldra {

// The settings of one input value; its name is held by the list entry that owns it.
struct TMyRec {
    QString default_value = QStringLiteral("null");
    QString deleteblocked_ifvalue_is = QStringLiteral("[null][0][]");
    bool Cleantext = false;
    bool IsFloatValue = false;
    bool deleteblocked = false;

    bool operator==(const TMyRec&) const = default;
};

// One entry of the input-value list: the input value's name and its record.
struct InputValueEntry {
    QString name;
    TMyRec rec;

    bool operator==(const InputValueEntry&) const = default;
};

// The editor's fields ("Main data" and "QUERY" tabs) as plain data.
struct QueryEditorModel {
    QString name;                         // "Name function" (read-only: q_name of the file last loaded)
    bool active = false;                  // "ACTIVED"
    bool blockedForShareList = true;      // "BLOCKED FOR SHARE LIST DESCRIPTION"
    QString description;                  // "Description query"
    QList<InputValueEntry> inputValues;   // "Input values", in file order
    QString query;                        // the query field

    bool operator==(const QueryEditorModel&) const = default;
};

// The file of a function: folder (a trailing "/" is added when missing) + name + ".qr".
QString queryFilePath(const QString& folder, const QString& name);
// The queries folder as the console uses a page value: trimmed, "/" appended.
QString consoleFolder(const QString& pageValue);

// The names of the functions in a folder: every "*.qr" file without its extension,
// in alphabetical order ignoring letter case.
QStringList listQueryFunctions(const QString& folder);
// The order of that list: ignoring letter case, then by code.
bool functionNameLess(const QString& a, const QString& b);

// A function file read for its items: the lines (CR, LF or CR LF) joined with CR LF after
// each one. read() throws FileError when the file cannot be read.
class QueryFile {
public:
    static QueryFile read(const QString& path);
    static QueryFile fromText(const QString& fileText);

    const QString& text() const { return m_text; }
    // The item "<#tag>" ... "</#tag>".
    QString item(const QString& tag) const;
    // The item "<#tag[i]>" ... "</#tag[i]>" of input value i (from 1).
    QString inputItem(const QString& tag, int i) const;

    // q_count_input_values as a whole number, 0 when it does not convert.
    qint32 countInputValues() const;
    // A boolean item, or `fallback` when it does not convert.
    bool flag(const QString& tag, bool fallback) const;
    // Input value i: its name (unchanged) and record. Throws the conversion error when
    // one of its booleans does not convert (Cleantext, IsFloatValue, deleteblocked in turn).
    InputValueEntry inputValue(int i) const;

private:
    QString m_text;
};

// A boolean as the files hold it: a number (true unless 0; "." as the decimal point) or
// "True"/"False" in any letter case. Returns false when it does not convert.
bool tryReadBoolean(const QString& value, bool& out);
// The same; throws EConvertError "'" value "' is not a valid boolean value" otherwise.
bool readBoolean(const QString& value);

// Reads the function's file into the editor. When the file cannot be read the editor is
// unchanged; when an input value's boolean does not convert the editor is emptied (so a
// later save cannot mix two functions) and the conversion error is thrown.
void LoadQueryFunction(const QString& folder, const QString& name, QueryEditorModel& editor);

// The lines of the file SaveQueryFunction writes (the text SAVE CHANGES shows first).
QStringList queryFunctionLines(const QueryEditorModel& editor);
// Those lines as one text, CR LF after each.
QString queryFunctionText(const QueryEditorModel& editor);
// Writes the editor's function to folder/name.qr, replacing it; throws FileError.
void SaveQueryFunction(const QString& folder, const QString& name, const QueryEditorModel& editor);

// The six lines of a new function's skeleton.
QStringList skeletonLines(const QString& name);
// Writes the skeleton of a new function (inactive, blocked for the share list).
void CreateQueryFunction(const QString& folder, const QString& name);

}  // namespace veldra
