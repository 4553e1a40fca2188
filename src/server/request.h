// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One client request as the pipeline's steps read it: what the parser took from the
// request text, who sent it, and the access decision once it is made. A plain value:
// the steps only read it; the pipeline applies the access decision to its own copy.
#include <QString>
#include <optional>

#include "common/answerformat.h"

namespace veldra {

struct Request {
    QString name;        // the function name
    QString parameters;  // the parameter list text (see ParseQueryParameters)
    QString text;        // the request text as it arrived, trimmed
    QString email;       // lower case
    QString seccode;     // lower case
    // Nothing when the settings' format name is none of the five and the request names
    // none: such a request gets no answer.
    std::optional<AnswerFormat> format;
    QString address;  // the client's dotted address, for log lines
    qintptr handle = 0;
    // The access decision: a registered client is no test client and has the end date of
    // its white-list line; anyone else is a test client with today's date.
    bool testClient = true;
    QString dateActive;
};

}  // namespace veldra
