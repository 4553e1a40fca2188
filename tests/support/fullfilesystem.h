// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file system that is "full" without root: while a FileSizeLimit lives, no file of
// this process may grow beyond the limit, and a write past it fails with EFBIG (SIGXFSZ
// is ignored meanwhile), as writes fail on a full disk.
#include <csignal>
#include <sys/resource.h>

#include <QString>

namespace veldra::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit m_old {};
    struct sigaction m_oldAction {};
};

// The names in a folder, hidden ones included (temporary files of a write).
QStringList folderEntries(const QString& folder);

}  // namespace veldra::test
