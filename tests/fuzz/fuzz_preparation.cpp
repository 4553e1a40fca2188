// SPDX-License-Identifier: GPL-3.0-or-later
// Preparation of a template with its input values and a request's values together.
// The input is split at NUL bytes into: the template, then per input value its name,
// default, list of block values and a byte of flags, and last the query string. Any
// such input prepares or fails with one of preparation's own errors.
#include <cstdint>

#include "common/errors.h"
#include "fuzzcheck.h"
#include "queries/preparation.h"
#include "queries/queryfile.h"
#include "server/requestparser.h"

using namespace veldra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> parts = bytes.split('\0');
    if (parts.size() < 2) return 0;

    QueryEditorModel model;
    model.active = true;
    model.query = QString::fromUtf8(parts.first());
    qsizetype p = 1;
    while (p + 4 < parts.size() && model.inputValues.size() < 16) {
        InputValueEntry v;
        v.name = QString::fromUtf8(parts.at(p));
        v.rec.default_value = QString::fromUtf8(parts.at(p + 1));
        v.rec.deleteblocked_ifvalue_is = QString::fromUtf8(parts.at(p + 2));
        const int flags = parts.at(p + 3).isEmpty() ? 0 : uchar(parts.at(p + 3).at(0));
        v.rec.Cleantext = flags & 1;
        v.rec.IsFloatValue = flags & 2;
        v.rec.deleteblocked = flags & 4;
        model.inputValues << v;
        p += 4;
    }
    const QString query = QString::fromLatin1(parts.last());

    QString list;
    try {
        list = ParseQueryParameters(QStringLiteral("/f?") + query);
    } catch (const DecodeError&) {
        return 0;
    }
    try {
        const PreparationResult r = prepareForRequest(queryFunctionText(model), QStringLiteral("f"), list, true);
        if (r.isError()) FUZZ_CHECK(r.text.contains(QLatin1String("<#msg>")));
    } catch (const Error&) {
        // a boolean that does not convert, or a prepared text beyond the limit
    }
    return 0;
}
