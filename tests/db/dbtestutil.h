// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scratch database on the test server, created for one test and dropped after it.
#include <QString>
#include <QStringList>
#include <ostream>

#include "db/dbconnection.h"
#include "support/support.h"

// Readable texts in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '{' << l.join(QStringLiteral("\", \"")).prepend('"').append('"').toStdString() << '}'; }

namespace veldra::test {

inline DbParams paramsFor(const TestDatabase& db, const QString& database)
{
    return DbParams{db.host, QString::number(db.port), database, db.user, db.password};
}

class ScratchDatabase {
public:
    ScratchDatabase(const TestDatabase& db, const QString& name) : m_name(name), m_admin(paramsFor(db, QString()))
    {
        m_admin.connect();
        m_admin.execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name));
        m_admin.execute(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(name));
        m_admin.execute(QStringLiteral("USE `%1`").arg(name));
        m_params = paramsFor(db, name);
    }
    ~ScratchDatabase()
    {
        try {
            m_admin.execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(m_name));
        } catch (...) {
        }
    }
    const DbParams& params() const { return m_params; }
    // A connection of its own on the scratch database, for setting up and checking data.
    DbConnection& admin() { return m_admin; }
    void exec(const QString& sql) { m_admin.execute(sql); }

private:
    QString m_name;
    DbConnection m_admin;
    DbParams m_params;
};

}  // namespace veldra::test
