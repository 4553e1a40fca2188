// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/sessionstate.h"

#include <QSet>
#include <QString>

namespace veldra {

namespace {

// Names that may stand before "(" and call nothing but the server's own code: its
// functions and the keywords that take a parenthesis. Any other name before "(" may be
// a stored function. A name missing here only costs a reset.
const QSet<QString>& knownBeforeParenthesis()
{
    static const QSet<QString> names = [] {
        QSet<QString> s;
        for (const char* n : {
                 // keywords and type names
                 "SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "XOR", "IN", "EXISTS", "ANY", "ALL", "SOME", "ON",
                 "USING", "AS", "JOIN", "UNION", "INTERSECT", "EXCEPT", "HAVING", "BY", "LIMIT", "OFFSET", "OVER",
                 "WHEN", "THEN", "ELSE", "CASE", "END", "IS", "LIKE", "RLIKE", "REGEXP", "BETWEEN", "DISTINCT",
                 "WITH", "RECURSIVE", "VALUES", "VALUE", "ROW", "INTERVAL", "INDEX", "KEY", "USE", "FORCE", "IGNORE",
                 "FOR", "PARTITION", "DIV", "MOD", "ESCAPE", "BINARY", "CHAR", "CHARACTER", "VARCHAR", "NCHAR",
                 "DECIMAL", "DEC", "NUMERIC", "FLOAT", "DOUBLE", "REAL", "INT", "INTEGER", "SIGNED", "UNSIGNED",
                 "DATE", "DATETIME", "TIME", "TIMESTAMP", "YEAR", "JSON", "TABLE", "LATERAL", "COLUMNS", "PATH",
                 "NESTED", "ORDINALITY", "DEFAULT", "NULL", "TRUE", "FALSE", "ASC", "DESC", "ORDER", "GROUP",
                 "WINDOW", "ROWS", "RANGE", "PRECEDING", "FOLLOWING", "CURRENT", "UNBOUNDED", "OUTER", "INNER",
                 "LEFT", "RIGHT", "CROSS", "NATURAL", "STRAIGHT_JOIN", "MATCH", "AGAINST", "MODE", "EXPANSION",
                 "COLLATE", "SOUNDS", "MEMBER", "OF", "FILTER", "WITHIN",
                 // aggregates and window functions
                 "COUNT", "SUM", "MIN", "MAX", "AVG", "GROUP_CONCAT", "STD", "STDDEV", "STDDEV_POP", "STDDEV_SAMP",
                 "VARIANCE", "VAR_POP", "VAR_SAMP", "BIT_AND", "BIT_OR", "BIT_XOR", "JSON_ARRAYAGG",
                 "JSON_OBJECTAGG", "ROW_NUMBER", "RANK", "DENSE_RANK", "NTILE", "LAG", "LEAD", "FIRST_VALUE",
                 "LAST_VALUE", "NTH_VALUE", "PERCENT_RANK", "CUME_DIST", "MEDIAN", "PERCENTILE_CONT",
                 "PERCENTILE_DISC",
                 // texts
                 "CONCAT", "CONCAT_WS", "LENGTH", "CHAR_LENGTH", "CHARACTER_LENGTH", "BIT_LENGTH", "OCTET_LENGTH",
                 "LOWER", "UPPER", "LCASE", "UCASE", "SUBSTRING", "SUBSTR", "MID", "SUBSTRING_INDEX", "TRIM",
                 "LTRIM", "RTRIM", "REPLACE", "REPEAT", "REVERSE", "LPAD", "RPAD", "INSTR", "LOCATE", "POSITION",
                 "FORMAT", "FIELD", "FIND_IN_SET", "ELT", "ASCII", "ORD", "HEX", "UNHEX", "MD5", "SHA", "SHA1",
                 "SHA2", "SPACE", "STRCMP", "SOUNDEX", "INSERT", "QUOTE", "REGEXP_REPLACE", "REGEXP_SUBSTR",
                 "REGEXP_INSTR", "CONVERT", "CAST", "CHARSET", "COLLATION", "COERCIBILITY", "BIN", "OCT", "CONV",
                 "CRC32", "TO_BASE64", "FROM_BASE64", "MAKE_SET", "EXPORT_SET", "WEIGHT_STRING", "NATURAL_SORT_KEY",
                 "SFORMAT", "TO_CHAR",
                 // numbers
                 "ABS", "CEIL", "CEILING", "FLOOR", "ROUND", "TRUNCATE", "POW", "POWER", "SQRT", "EXP", "LN", "LOG",
                 "LOG10", "LOG2", "SIGN", "PI", "RAND", "GREATEST", "LEAST", "DEGREES", "RADIANS", "SIN", "COS",
                 "TAN", "ASIN", "ACOS", "ATAN", "ATAN2", "COT", "CRC32C", "BIT_COUNT",
                 // choices
                 "IF", "IFNULL", "NULLIF", "COALESCE", "ISNULL", "NVL", "NVL2", "DECODE", "DECODE_ORACLE",
                 // dates and times
                 "NOW", "CURDATE", "CURTIME", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "LOCALTIME",
                 "LOCALTIMESTAMP", "SYSDATE", "UTC_DATE", "UTC_TIME", "UTC_TIMESTAMP", "MONTH", "DAY", "DAYOFMONTH",
                 "DAYOFWEEK", "DAYOFYEAR", "WEEKDAY", "WEEK", "WEEKOFYEAR", "YEARWEEK", "HOUR", "MINUTE", "SECOND",
                 "MICROSECOND", "QUARTER", "DAYNAME", "MONTHNAME", "DATE_FORMAT", "TIME_FORMAT", "STR_TO_DATE",
                 "DATE_ADD", "DATE_SUB", "ADDDATE", "SUBDATE", "ADDTIME", "SUBTIME", "DATEDIFF", "TIMEDIFF",
                 "TIMESTAMPDIFF", "TIMESTAMPADD", "EXTRACT", "LAST_DAY", "MAKEDATE", "MAKETIME", "FROM_DAYS",
                 "TO_DAYS", "TO_SECONDS", "FROM_UNIXTIME", "UNIX_TIMESTAMP", "SEC_TO_TIME", "TIME_TO_SEC",
                 "CONVERT_TZ", "PERIOD_ADD", "PERIOD_DIFF", "GET_FORMAT", "DATE_TRUNC", "TRUNC",
                 // JSON
                 "JSON_EXTRACT", "JSON_VALUE", "JSON_QUERY", "JSON_OBJECT", "JSON_ARRAY", "JSON_UNQUOTE",
                 "JSON_QUOTE", "JSON_CONTAINS", "JSON_CONTAINS_PATH", "JSON_LENGTH", "JSON_KEYS", "JSON_TABLE",
                 "JSON_TYPE", "JSON_VALID", "JSON_DEPTH", "JSON_SEARCH", "JSON_EXISTS", "JSON_MERGE",
                 "JSON_MERGE_PATCH", "JSON_MERGE_PRESERVE", "JSON_SET", "JSON_INSERT", "JSON_REPLACE",
                 "JSON_REMOVE", "JSON_ARRAY_APPEND", "JSON_ARRAY_INSERT", "JSON_COMPACT", "JSON_DETAILED",
                 "JSON_PRETTY", "JSON_LOOSE", "JSON_OVERLAPS", "JSON_EQUALS", "JSON_NORMALIZE",
                 // the rest
                 "UUID", "UUID_SHORT", "SYS_GUID", "VERSION", "DATABASE", "SCHEMA", "USER", "SYSTEM_USER",
                 "SESSION_USER", "CURRENT_USER", "CURRENT_ROLE", "CONNECTION_ID", "FOUND_ROWS", "ROW_COUNT",
                 "INET_ATON", "INET_NTOA", "INET6_ATON", "INET6_NTOA", "IS_IPV4", "IS_IPV6", "SLEEP",
                 "COMPRESS", "UNCOMPRESS", "UNCOMPRESSED_LENGTH", "BENCHMARK"})
            s.insert(QString::fromLatin1(n));
        return s;
    }();
    return names;
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() >= 0x80;
}

// A word the server does not report when it has been run.
bool untrackedWord(const QString& w)
{
    if (w == u"LOCK" || w.endsWith(u"_LOCK") || w.endsWith(u"_LOCKS")) return true;
    static const QSet<QString> words = {
        QStringLiteral("CALL"),    QStringLiteral("EXECUTE"), QStringLiteral("PREPARE"),
        QStringLiteral("HANDLER"), QStringLiteral("NEXTVAL"), QStringLiteral("SETVAL"),
        QStringLiteral("NEXT"),    QStringLiteral("LAST_INSERT_ID")};
    return words.contains(w);
}

class Scanner {
public:
    explicit Scanner(QStringView sql) : m_s(sql) {}

    bool run()
    {
        QChar lastSignificant;
        while (m_i < m_s.size()) {
            const QChar c = m_s[m_i];
            if (c.isSpace()) {
                ++m_i;
            } else if (skipComment()) {
            } else if (c == u'\'') {
                skipQuoted(u'\'');
                lastSignificant = c;
            } else if (c == u'"' || c == u'`') {
                // a name (or, for ", a literal): before "(" it names a stored function
                skipQuoted(c);
                if (nextIsParenthesis()) return true;
                lastSignificant = c;
            } else if (c == u'@') {
                if (m_i + 1 < m_s.size() && m_s[m_i + 1] == u'@') {
                    // a system variable: read only here, set only by SET, which is reported
                    m_i += 2;
                    while (m_i < m_s.size() && (isWordChar(m_s[m_i]) || m_s[m_i] == u'.')) ++m_i;
                    lastSignificant = u'a';
                } else {
                    return true;  // a user variable, perhaps assigned
                }
            } else if (isWordChar(c)) {
                const qsizetype start = m_i;
                while (m_i < m_s.size() && isWordChar(m_s[m_i])) ++m_i;
                const QString word = m_s.sliced(start, m_i - start).toString().toUpper();
                if (untrackedWord(word)) return true;
                if (nextIsParenthesis() && (lastSignificant == u'.' || !knownBeforeParenthesis().contains(word)))
                    return true;
                lastSignificant = u'a';
            } else {
                lastSignificant = c;
                ++m_i;
            }
        }
        return false;
    }

private:
    // Comments that run nothing are skipped; an executable comment's opener is skipped and
    // its body read as code.
    bool skipComment()
    {
        const QChar c = m_s[m_i];
        const QChar n = m_i + 1 < m_s.size() ? m_s[m_i + 1] : QChar();
        if (c == u'#' || (c == u'-' && n == u'-' && (m_i + 2 >= m_s.size() || m_s[m_i + 2].unicode() <= 32))) {
            while (m_i < m_s.size() && m_s[m_i] != u'\n') ++m_i;
            return true;
        }
        if (const qsizetype mark = executableCommentMark(m_i)) {
            m_i += mark;
            return true;
        }
        if (c != u'/' || n != u'*') return false;
        const qsizetype end = m_s.indexOf(u"*/", m_i + 2);
        m_i = end < 0 ? m_s.size() : end + 2;
        return true;
    }

    // The length of the opener of an executable comment at `j` ("/*!", "/*M!", each with
    // its version digits) or of a comment's end "*/"; 0 for anything else.
    qsizetype executableCommentMark(qsizetype j) const
    {
        if (m_s.sliced(j).startsWith(u"*/")) return 2;
        qsizetype k = j;
        if (m_s.sliced(j).startsWith(u"/*!"))
            k += 3;
        else if (m_s.sliced(j).startsWith(u"/*M!", Qt::CaseInsensitive))
            k += 4;
        else
            return 0;
        while (k < m_s.size() && m_s[k].isDigit()) ++k;
        return k - j;
    }

    void skipQuoted(QChar quote)
    {
        ++m_i;
        while (m_i < m_s.size()) {
            const QChar c = m_s[m_i];
            if (c == u'\\' && quote != u'`') {
                m_i += 2;
            } else if (c == quote) {
                if (m_i + 1 < m_s.size() && m_s[m_i + 1] == quote) {
                    m_i += 2;
                } else {
                    ++m_i;
                    return;
                }
            } else {
                ++m_i;
            }
        }
    }

    // Whether "(" follows, past blanks, comments that run nothing and the marks of those
    // that do.
    bool nextIsParenthesis() const
    {
        qsizetype j = m_i;
        while (j < m_s.size()) {
            if (m_s[j].isSpace()) {
                ++j;
            } else if (const qsizetype mark = executableCommentMark(j)) {
                j += mark;
            } else if (m_s.sliced(j).startsWith(u"/*")) {
                const qsizetype end = m_s.indexOf(u"*/", j + 2);
                if (end < 0) return false;
                j = end + 2;
            } else {
                return m_s[j] == u'(';
            }
        }
        return false;
    }

    QStringView m_s;
    qsizetype m_i = 0;
};

}  // namespace

bool mayLeaveUntrackedState(QStringView sql) { return Scanner(sql).run(); }

}  // namespace veldra
