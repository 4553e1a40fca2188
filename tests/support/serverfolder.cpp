// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/serverfolder.h"

#include <QDir>
#include <stdexcept>

#include "config/settings.h"
#include "db/dbconnection.h"
#include "queries/queryfile.h"

namespace veldra::test {
quint16 prepareServerFolder(const QString& folder, const TestDatabase& db, const QString& password,
                            const QString& clientDb, const QString& workDb)
{
    DbConnection root(DbParams{db.host, QString::number(db.port), QString(), db.user, db.password});
    root.connect();
    for (const QString& name : {clientDb, workDb}) {
        root.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
        root.execute(QStringLiteral("CREATE DATABASE ") + name);
    }
    root.execute(QStringLiteral("CREATE TABLE ") + workDb + QStringLiteral(".t (id INT, name VARCHAR(20))"));
    root.execute(QStringLiteral("INSERT INTO ") + workDb + QStringLiteral(".t VALUES (1, 'one'), (2, 'two')"));

    SettingsPage page = defaultSettingsPage();
    for (const QString& f : {QStringLiteral("QUERIES"), QStringLiteral("LOGS"), QStringLiteral("CACHE-VELDRA")})
        if (!QDir(folder).mkpath(f)) throw std::runtime_error("cannot make the folder " + f.toStdString());
    page.pathToQueries = folder + QStringLiteral("/QUERIES");
    page.pathToLogs = folder + QStringLiteral("/LOGS");
    page.pathToCache = folder + QStringLiteral("/CACHE-VELDRA");
    const quint16 port = freePort();
    page.workedPort = QString::number(port);
    const ConnectionFields fields{db.host, QString::number(db.port), clientDb, db.user, password};
    page.clientTable = fields;
    page.workData = fields;
    page.workData.database = workDb;
    const QString saved = SaveChanges(page, settingsFilePath());
    if (saved != QStringLiteral("Settings was successful saved !")) throw std::runtime_error(saved.toStdString());
    const QString connections = SaveConnections(page, settingsFilePath());
    if (!connections.isEmpty()) throw std::runtime_error(connections.toStdString());

    QueryEditorModel f;
    f.name = QStringLiteral("names");
    f.active = true;
    f.query = QStringLiteral("SELECT id, name FROM t ORDER BY id");
    SaveQueryFunction(page.pathToQueries, QStringLiteral("names"), f);
    return port;
}

}  // namespace veldra::test
