// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <cerrno>
#include <fcntl.h>
#include <algorithm>
#include <mutex>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

#include "common/cp1252.h"
#include "common/errors.h"
#include "common/text.h"

namespace veldra {

bool isValidUtf8(QByteArrayView bytes) { return bytes.isValidUtf8(); }

QString decodeUtf8Lossy(const QByteArray& bytes) { return QString::fromUtf8(bytes); }

QString decodeText(const QByteArray& bytes, NoBomEncoding fallback, TextEncoding* found)
{
    TextEncoding ignored;
    TextEncoding& encoding = found ? *found : ignored;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = TextEncoding::Utf8Bom;
        return QString::fromUtf8(bytes.mid(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = TextEncoding::Utf16LE;
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        encoding = TextEncoding::Utf16BE;
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    }
    if (fallback == NoBomEncoding::Utf8OrCp1252 && isValidUtf8(bytes)) {
        encoding = TextEncoding::Utf8;
        return QString::fromUtf8(bytes);
    }
    encoding = TextEncoding::Cp1252;
    return cp1252::decode(bytes);
}

QByteArray readFileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw FileError(QStringLiteral("Cannot open file \"%1\": %2").arg(path, f.errorString()));
    return f.readAll();
}

QString readTextFile(const QString& path, NoBomEncoding fallback) { return decodeText(readFileBytes(path), fallback); }

QStringList readTextFileLines(const QString& path, NoBomEncoding fallback)
{
    return splitLines(readTextFile(path, fallback));
}

QByteArray textFileBytes(const QStringList& lines)
{
    // Room made once, exact for ASCII text: a saved event log of 50,000 lines is not
    // copied over and over as it grows.
    qsizetype size = 3;
    for (const QString& l : lines) size += l.size() + 2;
    QByteArray out;
    out.reserve(size);
    out.append("\xEF\xBB\xBF");
    for (const QString& l : lines) {
        out += l.toUtf8();
        out += "\r\n";
    }
    return out;
}

namespace {

[[noreturn]] void throwCannotCreate(const QString& path, const QString& reason)
{
    throw FileError(QStringLiteral("Cannot create file \"%1\": %2").arg(path, reason));
}

[[noreturn]] void throwCannotWrite(const QString& path, const QString& reason)
{
    throw FileError(QStringLiteral("Cannot write file \"%1\": %2").arg(path, reason));
}

}  // namespace

namespace {

// A folder held open by a descriptor. While it is held, its inode number cannot go to
// another folder, so a folder of the same name that was deleted and made again is told
// apart by device and inode, however fast the file system reuses inode numbers.
class HeldFolder {
public:
    explicit HeldFolder(const QString& folder) : m_name(QFile::encodeName(folder))
    {
        m_fd = ::open(m_name.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
            m_error = errno;
            return;
        }
        m_device = st.st_dev;
        m_inode = st.st_ino;
    }
    ~HeldFolder()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // The errno of a failed open; 0 when held.
    int error() const { return m_error; }
    // True when the name still leads to the folder held and that folder is not being
    // deleted (a deletion takes its links before its name: in between, the name finds
    // a folder in which nothing can be made).
    bool stillThere() const
    {
        struct stat st;
        return m_error == 0 && ::stat(m_name.constData(), &st) == 0 && st.st_dev == m_device &&
               st.st_ino == m_inode && st.st_nlink > 0;
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    int m_error = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

}  // namespace

AtomicFileWriter::AtomicFileWriter(QString path, FileAccess access, bool sync)
    : m_path(std::move(path)), m_target(QFile::encodeName(m_path)), m_access(access), m_sync(sync)
{
}

AtomicFileWriter::~AtomicFileWriter() { cancel(); }

void AtomicFileWriter::fail(Step step, int error)
{
    m_failedStep = step;
    m_errno = error;
    cancel();
    const QString reason = qt_error_string(error);
    if (step == Step::Create) throwCannotCreate(m_path, reason);
    throwCannotWrite(m_path, reason);
}

void AtomicFileWriter::open()
{
    cancel();
    m_errno = 0;
    m_failedStep = Step::None;
    // The target itself is only looked at, never opened: a link there is not followed.
    bool keepMode = false;
    mode_t oldMode = 0;
    struct stat st;
    if (::lstat(m_target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail(Step::Create, EISDIR);
        // A file the user may not write stays as it is, as it would for a plain open.
        if (S_ISREG(st.st_mode) && ::access(m_target.constData(), W_OK) != 0 && errno != ENOENT)
            fail(Step::Create, errno);
        keepMode = S_ISREG(st.st_mode);
        oldMode = st.st_mode & 0777;
    }
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const bool ownerOnly = m_access == FileAccess::OwnerOnly;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = m_target + '.';
        for (int i = 0; i < 6; ++i) name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              ownerOnly ? 0600 : 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            fail(Step::Create, errno);
        }
        m_fd = fd;
        m_temp = name;
        // owner-only whatever the umask left; a replaced file keeps its mode
        if (ownerOnly || keepMode) {
            if (::fchmod(fd, ownerOnly ? 0600 : oldMode) != 0) fail(Step::Create, errno);
        }
        return;
    }
    fail(Step::Create, EEXIST);
}

void AtomicFileWriter::write(QByteArrayView bytes)
{
    if (m_fd < 0) fail(Step::Write, EBADF);
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(std::min<qsizetype>(left, qsizetype(1) << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(Step::Write, errno);
        }
        if (n == 0) fail(Step::Write, ENOSPC);
        p += n;
        left -= n;
    }
}

void AtomicFileWriter::commit()
{
    if (m_fd < 0) fail(Step::Flush, EBADF);
    if (m_sync && ::fdatasync(m_fd) != 0 && errno != EINVAL) fail(Step::Flush, errno);
    const int fd = std::exchange(m_fd, -1);
    // Some file systems (NFS among them) report a failed write only here.
    if (::close(fd) != 0 && errno != EINTR) fail(Step::Flush, errno);
    if (::rename(m_temp.constData(), m_target.constData()) != 0) fail(Step::Rename, errno);
    m_temp.clear();
}

void AtomicFileWriter::cancel()
{
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
    if (!m_temp.isEmpty()) ::unlink(std::exchange(m_temp, QByteArray()).constData());
}

void writeFileAtomically(const QString& path, const QByteArray& bytes, FileAccess access)
{
    AtomicFileWriter f(path, access);
    f.open();
    f.write(bytes);
    f.commit();
}

void writeTextFile(const QString& path, const QStringList& lines, FileAccess access)
{
    writeFileAtomically(path, textFileBytes(lines), access);
}

bool writeFileAtomicallyIfFolderStays(const QString& path, const QByteArray& bytes)
{
    return writeFileAtomicallyIfFolderStays(path, [&](const auto& write) { write(bytes); });
}

bool writeFileAtomicallyIfFolderStays(
    const QString& path, const std::function<void(const std::function<void(QByteArrayView)>& write)>& produce)
{
    // Every failure is looked at against the folder as it was before the write began:
    // missing, being deleted, or another folder of that name by now, means it was
    // deleted meanwhile.
    const HeldFolder folder(QFileInfo(path).absolutePath());
    if (folder.error() == ENOENT) return false;
    if (folder.error() != 0) throwCannotCreate(path, qt_error_string(folder.error()));
    AtomicFileWriter f(path, FileAccess::Shared, false);
    try {
        f.open();
        produce([&](QByteArrayView piece) { f.write(piece); });
        f.commit();
    } catch (const FileError&) {
        if (!folder.stillThere()) return false;
        // The folder is the same, but the temporary name that the rename needed was
        // deleted meanwhile: only a deletion of the folder's contents does that.
        if (f.failedStep() == AtomicFileWriter::Step::Rename && f.lastErrno() == ENOENT) return false;
        throw;
    }
    return true;
}

bool isExistingFolder(const QString& path) { return !trim(path).isEmpty() && QFileInfo(path).isDir(); }

bool recursiveDelete(const QString& path)
{
    QFileInfo fi(path);
    if (!fi.exists() && !fi.isSymLink()) return true;
    if (fi.isDir() && !fi.isSymLink()) return QDir(path).removeRecursively();
    return QFile::remove(path);
}

QString executableFile()
{
    // the running program file, whatever folder the program was started from
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe.isEmpty() ? QCoreApplication::applicationFilePath() : exe;
}

QString executableFolder() { return QFileInfo(executableFile()).absolutePath(); }

QString resolveProgramFolder(const ProgramFolderFacts& facts)
{
    if (!facts.installedCopy) return facts.executableFolder;
    QString data = facts.xdgDataHome;
    // a relative XDG_DATA_HOME is invalid and ignored
    if (data.isEmpty() || !data.startsWith(u'/')) data = facts.home + QStringLiteral("/.local/share");
    while (data.size() > 1 && data.endsWith(u'/')) data.chop(1);
    return data + QStringLiteral("/veldra");
}

namespace {
std::mutex g_folderMutex;
QString g_folderOverride;

struct ResolvedFolder {
    QString folder;
    bool installed = false;
};

const ResolvedFolder& resolvedFolder()
{
    static const ResolvedFolder r = [] {
        ProgramFolderFacts facts;
        facts.executableFolder = executableFolder();
        const QByteArray native = QFile::encodeName(facts.executableFolder);
        // Not writable: a package install. Writable but laid out as <prefix>/bin beside
        // <prefix>/share/applications (an install by root or into ~/.local): an install too.
        facts.installedCopy =
            ::access(native.constData(), W_OK) != 0 ||
            QFileInfo::exists(facts.executableFolder + QStringLiteral("/../share/applications/veldra.desktop"));
        facts.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
        facts.home = QDir::homePath();
        ResolvedFolder out{resolveProgramFolder(facts), facts.installedCopy};
        // private to the user, as the data folders of the desktop are: it holds passwords
        if (out.installed && !QFileInfo::exists(out.folder) && QDir().mkpath(out.folder))
            QFile::setPermissions(out.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return out;
    }();
    return r;
}
}  // namespace

QString programFolder()
{
    {
        std::lock_guard lock(g_folderMutex);
        if (!g_folderOverride.isEmpty()) return g_folderOverride;
    }
    return resolvedFolder().folder;
}

bool isInstalledCopy() { return resolvedFolder().installed; }

void setProgramFolder(const QString& folder)
{
    std::lock_guard lock(g_folderMutex);
    g_folderOverride = folder;
    while (g_folderOverride.size() > 1 && g_folderOverride.endsWith(u'/')) g_folderOverride.chop(1);
}


QString programFile(const QString& name) { return programFolder() + u'/' + name; }

}  // namespace veldra
