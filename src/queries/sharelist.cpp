// SPDX-License-Identifier: GPL-3.0-or-later
#include "queries/sharelist.h"

#include <QFileInfo>

#include "common/errors.h"
#include "common/files.h"
#include "common/text.h"
#include "queries/queryfile.h"

namespace veldra {

QString shareListFilePath() { return programFile(QStringLiteral("ListAndDescriptionShareFunction.txt")); }

QStringList shareListLines(const QString& queriesFolder, const QStringList& functionNames)
{
    QStringList lines;
    for (const QString& fn : functionNames) {
        const QueryFile file = QueryFile::read(queryFilePath(queriesFolder, fn));
        const bool active = file.flag(QStringLiteral("q_active"), false);
        const bool blocked = file.flag(QStringLiteral("q_blocked_for_sharelist"), true);
        if (!active || blocked) continue;
        const QString name = file.item(QStringLiteral("q_name"));
        lines << QStringLiteral("----------------- [") + name + QStringLiteral("] -----------------");
        lines << name;
        lines << QString();
        lines << file.item(QStringLiteral("q_descript")).split(QStringLiteral("\r\n"));
        lines << QStringLiteral("--------------------------------------------------");
        lines << QString() << QString();
    }
    return lines;
}

ShareListOutcome CreateShareListFunctions(const QString& pathToQueriesPage, QueryEditorModel* editor)
{
    ShareListOutcome out;
    if (trim(pathToQueriesPage).isEmpty() || !QFileInfo(trim(pathToQueriesPage)).isDir()) {
        out.message = QStringLiteral("The path to the output folder is empty or wrong !");
        return out;
    }
    const QString folder = consoleFolder(pathToQueriesPage);
    out.functionNames = listQueryFunctions(folder);
    if (out.functionNames.isEmpty()) return out;
    try {
        QueryEditorModel scratch;
        LoadQueryFunction(folder, out.functionNames.first(), editor ? *editor : scratch);
        const QStringList lines = shareListLines(folder, out.functionNames);
        // Replaced through a rename: requests may read the file at any moment.
        writeFileAtomically(shareListFilePath(), textFileBytes(lines));
        out.written = true;
    } catch (...) {
        out.message = QStringLiteral("Create share list functions ") + currentErrorDetails();
    }
    return out;
}

}  // namespace veldra
