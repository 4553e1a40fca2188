// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Input placeholders that a request value could break out of.
//
// A request value goes into the statement as the body of a string literal: escaped, not
// quoted. Inside '...' or "..." that keeps it a value; anywhere else (`WHERE id =
// {:id:}`, a `...` name, a comment) a value such as `1 OR 1=1` rewrites the statement,
// unless the input value is a number ("Float | integer value"), which lets only a number
// or null through. The editor, `veldra-headless --check` and START name such places;
// nothing is refused, since a template may mean it.
#include <QList>
#include <QString>
#include <QStringList>

#include "queries/queryfile.h"

namespace veldra {

struct UnsafePlaceholder {
    enum class Where { Code, Backquotes, Comment };

    QString input;        // the input value's name as declared
    QString placeholder;  // as written in the template
    int line = 0;         // from 1
    Where where = Where::Code;

    bool operator==(const UnsafePlaceholder&) const = default;
};

// Every placeholder of a declared input value without IsFloatValue that stands outside
// a quoted string of `query`, in the order of the text. A placeholder counts as
// preparation finds it: only when its lower-case form "{:name:}" occurs, and then in
// any letter case. The text is read as MySQL reads it: '...' and "..." strings (with
// backslash escapes and doubled quotes), `...` names, comments from "-- " or "#" to the
// end of the line and "/* ... */" ("/*!" holds statement text and is read as such).
QList<UnsafePlaceholder> findUnsafePlaceholders(const QString& query, const QList<InputValueEntry>& inputs);

// The same for a function file's text; nothing when its input values do not read.
QList<UnsafePlaceholder> findUnsafePlaceholders(const QueryFile& file);

// The names of the input values concerned, each once, in the order of first appearance.
QStringList unsafeInputNames(const QList<UnsafePlaceholder>& found);

// "{:id:} (line 2), {:col:} (line 5, between backquotes)", for messages and log lines.
QString describeUnsafePlaceholders(const QList<UnsafePlaceholder>& found);

// One function of a folder and what the check found in it.
struct FunctionTemplateCheck {
    QString name;
    QList<UnsafePlaceholder> found;
};
// Every function of the queries folder ("*.qr", in list order) with such placeholders;
// files that cannot be read or whose input values do not read are left out (preparation
// reports them). `readCount`, when given, receives the number of files read.
QList<FunctionTemplateCheck> checkFunctionTemplates(const QString& queriesFolder, int* readCount = nullptr);

// The event-log line of one such function: "[" time "] " TAB "{TemplateCheck} Function ["
// name "] : input placeholders outside a quoted string, not marked \"Float | integer
// value\" : " the placeholders.
QString templateCheckLogLine(const FunctionTemplateCheck& check);

}  // namespace veldra
