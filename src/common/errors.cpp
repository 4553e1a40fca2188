// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/errors.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace veldra {

Error::Error(QString typeName, QString message)
    : std::runtime_error(message.toStdString()), m_type(std::move(typeName)), m_message(std::move(message))
{
}

QString errorTypeName(const std::exception& e)
{
    if (auto* v = dynamic_cast<const Error*>(&e)) return v->typeName();
    int status = 0;
    const char* raw = typeid(e).name();
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
    return QString::fromLatin1(status == 0 && name ? name.get() : raw);
}

QString errorMessage(const std::exception& e)
{
    if (auto* v = dynamic_cast<const Error*>(&e)) return v->message();
    return QString::fromUtf8(e.what());
}

QString errorTypeAndMessage(const std::exception& e) { return errorTypeName(e) + QStringLiteral(" : ") + errorMessage(e); }

QString errorDetails(const std::exception& e) { return QStringLiteral("Error |  msg = [") + errorTypeAndMessage(e) + u']'; }

QString currentErrorTypeAndMessage()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return errorTypeAndMessage(e);
    } catch (...) {
        return QStringLiteral("Exception : unknown failure");
    }
}

QString currentErrorDetails() { return QStringLiteral("Error |  msg = [") + currentErrorTypeAndMessage() + u']'; }

QString currentErrorMessage()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return errorMessage(e);
    } catch (...) {
        return QStringLiteral("unknown failure");
    }
}

}  // namespace veldra
