#include "common/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <mutex>
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
    QByteArray out("\xEF\xBB\xBF");
    for (const QString& l : lines) {
        out += l.toUtf8();
        out += "\r\n";
    }
    return out;
}

void writeTextFile(const QString& path, const QStringList& lines)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(QStringLiteral("Cannot create file \"%1\": %2").arg(path, f.errorString()));
    const QByteArray bytes = textFileBytes(lines);
    if (f.write(bytes) != bytes.size())
        throw FileError(QStringLiteral("Cannot write file \"%1\": %2").arg(path, f.errorString()));
}

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw FileError(QStringLiteral("Cannot create file \"%1\": %2").arg(path, f.errorString()));
    f.write(bytes);
    if (!f.commit()) throw FileError(QStringLiteral("Cannot write file \"%1\": %2").arg(path, f.errorString()));
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

void setProgramFolderForTesting(const QString& folder)
{
    std::lock_guard lock(g_folderMutex);
    g_folderOverride = folder;
    while (g_folderOverride.size() > 1 && g_folderOverride.endsWith(u'/')) g_folderOverride.chop(1);
}

QString programFile(const QString& name) { return programFolder() + u'/' + name; }

}  // namespace veldra
