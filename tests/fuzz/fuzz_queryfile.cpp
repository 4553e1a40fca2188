// SPDX-License-Identifier: GPL-3.0-or-later
// The function-file reader: any file text reads without failing (a boolean that does not
// convert is the one error), and what the editor saves reads back as it was saved.
#include <cstdint>

#include "common/errors.h"
#include "fuzzcheck.h"
#include "queries/queryfile.h"

using namespace veldra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QueryFile file = QueryFile::fromText(text);
    (void)file.item(QStringLiteral("q_content"));
    (void)file.flag(QStringLiteral("q_active"), false);
    const qint32 count = file.countInputValues();

    QueryEditorModel model;
    model.query = file.item(QStringLiteral("q_content"));
    model.description = file.item(QStringLiteral("q_descript"));
    for (int i = 1; i <= qMin(count, 64); ++i) {
        try {
            model.inputValues << file.inputValue(i);
        } catch (const Error&) {
            // a boolean that does not convert
        }
    }

    // Saved and read again. Items are not escaped in the file, so the count comes back
    // only when no item holds a marker of its own.
    const QString savedText = queryFunctionText(model);
    const QueryFile saved = QueryFile::fromText(savedText);
    if (savedText.count(QStringLiteral("<#")) == 6 + 6 * model.inputValues.size())
        FUZZ_CHECK(saved.countInputValues() == model.inputValues.size());
    (void)saved.item(QStringLiteral("q_content"));
    for (int i = 1; i <= model.inputValues.size(); ++i) {
        try {
            (void)saved.inputValue(i);
        } catch (const Error&) {
        }
    }
    return 0;
}
