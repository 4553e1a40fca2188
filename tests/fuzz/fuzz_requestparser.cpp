// SPDX-License-Identifier: GPL-3.0-or-later
// The request line and its query string with percent decoding. Any request text parses
// or fails with a decoding error; every item of the query string comes back from the
// parameter list whole, whatever it holds, and no value changes the count.
#include <cstdint>

#include "common/cp1252.h"
#include "common/files.h"
#include "fuzzcheck.h"
#include "server/requestparser.h"
#include "support/support.h"

using namespace veldra;

namespace {

// The items of a query string without double quotes, decoded as the parser decodes
// them; false when one of them does not decode.
bool decodedItems(const QString& query, QStringList& out)
{
    if (query.isEmpty()) return true;
    for (QString item : query.split(u'&')) {
        item.replace(u'+', u' ');
        try {
            out << decodeUtf8Lossy(PercentDecode(cp1252::encode(item)));
        } catch (const DecodeError&) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = cp1252::decode(bytes);

    // The whole input as a request text, and as the query string of a request line.
    for (const QString& request : {text, QStringLiteral("GET /f?") + text + QStringLiteral(" HTTP/1.1")}) {
        try {
            const Request r = ParseRequest(request, RequestDefaults{AnswerFormat::Json, QString(), QStringLiteral("127.0.0.1"), 1});
            FUZZ_CHECK(r.email == r.email.toLower() && r.seccode == r.seccode.toLower());
            FUZZ_CHECK(!r.name.isEmpty() || r.parameters.isEmpty());
        } catch (const DecodeError&) {
        }
    }

    // Each item comes back whole from the list: name before the first "=" (lower case),
    // value after it.
    if (text.contains(u'"') || text.contains(u'?') || text.contains(u'\\') || text.contains(QLatin1String("://")))
        return 0;
    QStringList items;
    if (!decodedItems(text, items)) return 0;
    const QString list = ParseQueryParameters(QStringLiteral("/f?") + text);
    const ParameterListReader reader(list);
    qint32 count = -1;
    FUZZ_CHECK(reader.count(count));
    FUZZ_CHECK(count == items.size());
    for (qint32 i = 1; i <= count; ++i) {
        const QString& item = items.at(i - 1);
        const qsizetype eq = item.indexOf(u'=');
        FUZZ_CHECK(reader.name(i) == (eq >= 0 ? item.left(eq).toLower() : QString()));
        FUZZ_CHECK(reader.value(i) == (eq >= 0 ? item.mid(eq + 1) : item));
    }
    return 0;
}
