// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Running a prepared query on the work database and building the complete answer text
// in one of the five formats: "CSV[;]", "CSV[,]", "TXT[TAB]", "XML", "JSON" (any case).
// The body of each format is its writer's (answers/answerwriters.h); this file runs the
// query, feeds the writer and puts the header lines in front.
#include <QString>

#include "answers/answerwriters.h"
#include "common/answerformat.h"
#include "db/dbconnection.h"
#include "db/dbpool.h"
#include "server/answers.h"
#include "server/request.h"

namespace veldra {

// Runs `preparedQuery`, in the request's answer format, on a connection made with `work` that no other request uses at the
// same time (from `pool` when given, else its own), and returns the answer as it goes
// on the wire: status line, headers, empty line, body. The rows are read from the server
// as they come and written straight into those bytes. The answer to an empty result is
// not cacheable. A failure (no connection, a rejected statement, a statement without
// rows, a connection lost while reading, a request without an answer format) is logged as "{_SaveQueryAS} WrongQuery !!! "
// and gives no bytes. Never throws. Log lines go through Logger, so call it from a
// request thread or the main thread.
//
// Memory stays flat whatever the size: past AnswerSpool::kLargeMemoryLimit (or past
// kMemoryLimit when many large answers are made at once) the bytes go on into an
// unnamed file in `spoolFolder` (the system's temporary folder when empty), and the
// answer is that file. Nothing of an answer is sent before it is complete.
WireAnswer SaveQueryAnswer(const Request& request, const QString& preparedQuery, const DbParams& work,
                           DbConnectionPool* pool = nullptr, const QString& spoolFolder = QString());
// "test client - data is modified", or "Final date of use : " + the request's dateActive.
QString statusText(const Request& request);

// For a test client, a value longer than 2 that is not blank is cut to length*4/5 UTF-16
// code units followed by "..."; otherwise the value is returned unchanged.
QString CutValueForTestClient(const QString& value, bool testClient);
// The request's parameter values as "[v1;v2;...]" for attachment file names, with the
// request's e-mail and secure code removed (letter case ignored); empty without values.
QString ListValuesForFileName(const QString& inputParameters, const QString& email, const QString& seccode);

// The file name as it goes into the Content-Disposition line: control characters and
// double quotes, which would break the header, become "_".
QString attachmentFileName(const QString& name);

}  // namespace veldra
