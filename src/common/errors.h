// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Failures are exceptions with a type name and a message; console operations catch
// them and report "Error |  msg = [" type " : " message "]".
#include <QString>
#include <exception>
#include <stdexcept>

namespace veldra {

class Error : public std::runtime_error {
public:
    Error(QString typeName, QString message);
    const QString& typeName() const { return m_type; }
    const QString& message() const { return m_message; }

private:
    QString m_type;
    QString m_message;
};

// Failures of files and folders.
class FileError : public Error {
public:
    explicit FileError(const QString& message) : Error(QStringLiteral("EFileError"), message) {}
};

QString errorTypeName(const std::exception& e);
QString errorMessage(const std::exception& e);
// type " : " message
QString errorTypeAndMessage(const std::exception& e);
// "Error |  msg = [" type " : " message "]"
QString errorDetails(const std::exception& e);
// The same for the exception being handled (call inside a catch block).
QString currentErrorTypeAndMessage();
QString currentErrorDetails();
QString currentErrorMessage();

}  // namespace veldra
