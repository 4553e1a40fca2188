// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/answerformat.h"

namespace veldra {

const std::array<AnswerFormat, 5>& AnswerFormat::all()
{
    static constexpr std::array<AnswerFormat, 5> formats{CsvSemicolon, CsvComma, TxtTab, Xml, Json};
    return formats;
}

const QStringList& AnswerFormat::names()
{
    static const QStringList list = [] {
        QStringList l;
        for (AnswerFormat f : all()) l << f.name();
        return l;
    }();
    return list;
}

std::optional<AnswerFormat> AnswerFormat::fromName(QStringView name)
{
    const auto upper = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 'a' && u <= 'z' ? char16_t(u - 32) : u;
    };
    for (AnswerFormat f : all()) {
        const QString n = f.name();
        if (name.size() == n.size() &&
            std::equal(name.begin(), name.end(), n.begin(), [&](QChar a, QChar b) { return upper(a) == b.unicode(); }))
            return f;
    }
    return std::nullopt;
}

QString AnswerFormat::name() const
{
    switch (m_kind) {
    case CsvSemicolon: return QStringLiteral("CSV[;]");
    case CsvComma: return QStringLiteral("CSV[,]");
    case TxtTab: return QStringLiteral("TXT[TAB]");
    case Xml: return QStringLiteral("XML");
    case Json: return QStringLiteral("JSON");
    }
    return QString();
}

QString AnswerFormat::contentType() const
{
    switch (m_kind) {
    case CsvSemicolon: return QStringLiteral("application/octet-stream; charset=utf-8");
    case CsvComma:
    case TxtTab: return QStringLiteral("application/vnd.ms-excel; charset=utf-8");
    case Xml: return QStringLiteral("application/xml; charset=utf-8");
    case Json: return QStringLiteral("application/json; charset=utf-8");
    }
    return QString();
}

QString AnswerFormat::fileExtension() const
{
    switch (m_kind) {
    case CsvSemicolon:
    case CsvComma: return QStringLiteral(".csv");
    case TxtTab: return QStringLiteral(".txt");
    case Xml: return QStringLiteral(".xml");
    case Json: return QStringLiteral(".json");
    }
    return QString();
}

QChar AnswerFormat::separator() const
{
    switch (m_kind) {
    case CsvSemicolon: return u';';
    case CsvComma: return u',';
    case TxtTab: return u'\t';
    case Xml:
    case Json: break;
    }
    return QChar();
}

}  // namespace veldra
