// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/headless.h"

#include <QFileInfo>

#include "common/errors.h"
#include "common/files.h"
#include "common/text.h"
#include "config/settings.h"
#include "db/dbconnection.h"
#include "monitor/servercontrol.h"
#include "queries/preparation.h"
#include "queries/queryeditor.h"
#include "queries/queryfile.h"
#include "queries/templatecheck.h"
#include "version.h"

namespace veldra {

HeadlessOptions parseHeadlessOptions(const QStringList& args)
{
    HeadlessOptions out;
    bool help = false, version = false, check = false;
    auto usageError = [&](const QString& error) {
        HeadlessOptions e;
        e.action = HeadlessOptions::Action::UsageError;
        e.error = error;
        return e;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            help = true;
        else if (a == QLatin1String("--version"))
            version = true;
        else if (a == QLatin1String("--check"))
            check = true;
        else if (a == QLatin1String("--folder")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) return usageError(QStringLiteral("--folder needs a folder"));
            out.folder = args[++i];
        } else if (a.startsWith(QLatin1String("--folder="))) {
            out.folder = a.mid(9);
            if (out.folder.isEmpty()) return usageError(QStringLiteral("--folder needs a folder"));
        } else if (a.startsWith(u'-'))
            return usageError(QStringLiteral("unknown option ") + a);
        else
            return usageError(QStringLiteral("unexpected argument ") + a);
    }
    if (help)
        out.action = HeadlessOptions::Action::Help;
    else if (version)
        out.action = HeadlessOptions::Action::Version;
    else if (check)
        out.action = HeadlessOptions::Action::Check;
    return out;
}

QString headlessUsage()
{
    return QStringLiteral(
        "Usage: veldra-headless [--folder DIR] [--check]\n"
        "       veldra-headless --help | --version\n"
        "\n"
        "The Veldra server without a window: reads veldra.ini from the program folder,\n"
        "STARTs and serves until SIGINT or SIGTERM. SIGHUP reloads the client access lists\n"
        "and reads the query function files again.\n"
        "\n"
        "  --folder DIR  use DIR as the program folder (veldra.ini, QUERIES/, LOGS/, ...)\n"
        "                instead of the executable's folder or the per-user data folder\n"
        "  --check       check the settings, both database connections and every query\n"
        "                function file without opening the port: one line per problem,\n"
        "                exit status 0 when there is none, 1 otherwise (lines beginning\n"
        "                with \"warning: \" are no problem)\n"
        "  -h, --help    print this help and exit\n"
        "  --version     print the version and exit\n");
}

QString headlessVersion() { return QStringLiteral("veldra-headless " VELDRA_VERSION); }

CheckReport checkProgramFolder()
{
    CheckReport r;
    const QString ini = settingsFilePath();
    SettingsPage page = defaultSettingsPage();
    if (!QFileInfo::exists(ini))
        r.warnings << ini + QStringLiteral(": no such file, every setting has its default");
    else if (const QString failure = LoadSettings(page, ini); !failure.isEmpty())
        r.problems << ini + QStringLiteral(": ") + oneLine(failure);
    for (const QString& m : settingsErrors(page).split(u'\r', Qt::SkipEmptyParts)) r.problems << ini + QStringLiteral(": ") + m;

    auto tryConnect = [&](const QString& what, const ConnectionFields& f) {
        DbConnection c(dbParams(f));
        try {
            c.connect();
            c.close();
        } catch (...) {
            r.problems << what + QStringLiteral("Connect with [") + f.ip + QStringLiteral(" | ") + f.user +
                              QStringLiteral(" | ") + f.database + QStringLiteral("] failed: ") +
                              oneLine(currentErrorTypeAndMessage());
        }
    };
    tryConnect(QStringLiteral("CLIENT DATA => "), page.clientTable);
    tryConnect(QStringLiteral("WORKING DATA => "), page.workData);

    if (!isExistingFolder(trim(page.pathToQueries))) return r;  // settingsErrors said so
    const QString folder = consoleFolder(page.pathToQueries);
    const QStringList names = listQueryFunctions(folder);
    if (names.isEmpty()) r.warnings << folder + QStringLiteral(": no query function files (*.qr)");
    for (const QString& name : names) {
        const QString path = queryFilePath(folder, name);
        if (const QString reason = unsafeFunctionNameReason(name); !reason.isEmpty()) {
            r.problems << path + QStringLiteral(": ") + reason;
            continue;
        }
        try {
            const QueryFile file = QueryFile::read(path);
            (void)prepareForRequest(file.text(), name, QString(), false);
            const QList<UnsafePlaceholder> found = findUnsafePlaceholders(file);
            if (!found.isEmpty())
                r.warnings << path +
                                  QStringLiteral(": input placeholders outside a quoted string, not marked \"Float | "
                                                 "integer value\": ") +
                                  describeUnsafePlaceholders(found);
        } catch (...) {
            r.problems << path + QStringLiteral(": ") + oneLine(currentErrorTypeAndMessage());
        }
    }
    return r;
}

int journalPriority(const QString& logLine)
{
    // "[" time "] " TAB message, then TAB and the fields of the connection
    qsizetype start = logLine.indexOf(u'\t');
    start = start < 0 ? 0 : start + 1;
    qsizetype end = logLine.indexOf(u'\t', start);
    if (end < 0) end = logLine.size();
    const QStringView message = QStringView(logLine).mid(start, end - start);
    // The routine, and its fixed text up to the first "[": what follows may be a client's.
    const qsizetype brace = message.indexOf(u'}');
    const QStringView routine = brace < 0 ? QStringView() : message.left(brace + 1);
    QStringView text = brace < 0 ? message : message.mid(brace + 1);
    if (const qsizetype bracket = text.indexOf(u'['); bracket >= 0) text = text.left(bracket);

    if (routine == u"{TemplateCheck}" || routine == u"{Output}") return 4;
    if (text.contains(u"Error prepared query")) return message.contains(u"] is not actived !!!") ? 4 : 3;
    if (text.contains(u"error", Qt::CaseInsensitive) || text.contains(u"wrong", Qt::CaseInsensitive)) return 3;
    if (routine == u"{SendAnswerForClient[AnswerForBlackList]}") return 4;
    if (routine == u"{_SaveQueryAS}") return 6;  // an empty result is an answer
    if (text.contains(u"is empty") || text.contains(u"not found") || text.contains(u"refused", Qt::CaseInsensitive))
        return 4;
    return 6;
}

}  // namespace veldra
