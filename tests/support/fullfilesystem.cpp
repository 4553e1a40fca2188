// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fullfilesystem.h"

#include <QDir>
#include <gtest/gtest.h>

namespace veldra::test {

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    EXPECT_EQ(::sigaction(SIGXFSZ, &ignore, &m_oldAction), 0);
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &m_old), 0);
    struct rlimit limit = m_old;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    ::sigaction(SIGXFSZ, &m_oldAction, nullptr);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace veldra::test
