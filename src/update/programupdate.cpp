// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/programupdate.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <algorithm>

#include "common/errors.h"
#include "common/files.h"
#include "common/operatorui.h"
#include "update/httpfetch.h"
#include "update/signature.h"
#include "update/versioncheck.h"

namespace veldra {
QString shellQuoted(const QString& text)
{
    QString out = text;
    out.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + out + u'\'';
}

namespace {
const QLatin1String kDots("....................................");
}  // namespace

QByteArray swapScript(const QString& folder, const QString& programName)
{
    // Every text of the script is one quoted word: no name can run a command, whatever
    // it holds. printf, unlike echo, prints its text as it is.
    const auto q = shellQuoted;
    const auto say = [&q](const QString& text) { return QStringLiteral("printf '%s\\n' ") + q(text); };
    const QString prog = programName;
    const QString fresh = QStringLiteral("new_") + programName;
    const QString old = QStringLiteral("old_") + programName;
    const QString p = q(prog), n = q(fresh), o = q(old);
    const QStringList lines{
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("# Swaps in the downloaded program file and starts it (written by the program's update)."),
        QStringLiteral("cd -- %1 || exit 1").arg(q(folder)),
        say(QStringLiteral("PAUSE 5 sec.")),
        QStringLiteral("sleep \"${1:-5}\""),
        say(kDots),
        QStringLiteral("if [ ! -f %1 ]; then").arg(n),
        QStringLiteral("  ") + say(QStringLiteral("FILE_NOT_FOUND ") + fresh),
        QStringLiteral("  exit 1"),
        QStringLiteral("fi"),
        QStringLiteral("if [ -e %1 ]; then").arg(p),
        QStringLiteral("  ") + say(QStringLiteral("RENAME_OLD_FILE ") + prog + QStringLiteral(" TO ") + old),
        QStringLiteral("  rm -f -- %1").arg(o),
        QStringLiteral("  mv -- %1 %2 || exit 1").arg(p, o),
        QStringLiteral("  ") + say(kDots),
        QStringLiteral("fi"),
        say(QStringLiteral("RENAME_NEW_FILE ") + fresh + QStringLiteral(" TO ") + prog),
        // a failed rename puts the old program back, so there always is one
        QStringLiteral("mv -- %1 %2 || { mv -- %3 %2; exit 1; }").arg(n, p, o),
        QStringLiteral("chmod +x -- %1").arg(p),
        say(kDots),
        say(QStringLiteral("RUN_PROGRAM ") + prog),
        QStringLiteral("nohup %1 </dev/null >/dev/null 2>&1 &").arg(q(QStringLiteral("./") + prog)),
        QStringLiteral("exit 0"),
    };
    return (lines.join(u'\n') + u'\n').toUtf8();
}

QString writeSwapScript(const QString& folder, const QString& programName)
{
    const QString path = folder + u'/' + QLatin1String(kSwapScriptName);
    writeFileAtomically(path, swapScript(QFileInfo(folder).absoluteFilePath(), programName));
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

bool startSwapScript(const QString& scriptPath)
{
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {scriptPath}, QFileInfo(scriptPath).absolutePath());
}

bool isCompleteProgramFile(int httpStatus, qint64 received, qint64 contentLength, bool lastChunkSeen,
                           const QByteArray& head)
{
    const bool whole = contentLength >= 0 ? received == contentLength : lastChunkSeen;
    return httpStatus == 200 && received > 0 && whole && head.startsWith("\x7F" "ELF");
}

QUrl signatureUrl(const QString& baseUrl)
{
    QUrl url = programFileUrl(baseUrl);
    url.setPath(url.path() + QStringLiteral(".sig"));
    return url;
}

namespace {

const QByteArray kUserAgent = "TarnwickUpload";

// The signature file beside the program file: small, whole, status 200; empty when not.
QByteArray fetchSignature(const QString& baseUrl, int timeLimitMs)
{
    HttpFetch fetch;
    QByteArray bytes;
    bool tooLong = false;
    fetch.onBody = [&](const QByteArray& b) {
        bytes += b;
        if (bytes.size() > 1024 && !tooLong) {
            tooLong = true;
            fetch.abort();
        }
    };
    QEventLoop loop;
    fetch.onFinished = [&loop] { loop.quit(); };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&fetch] { fetch.abort(); });
    deadline.start(std::max(timeLimitMs, 1000));
    fetch.start(signatureUrl(baseUrl), kUserAgent);
    if (!fetch.finished()) loop.exec();
    if (tooLong || !fetch.complete() || fetch.status() != 200) return {};
    return bytes;
}

}  // namespace

UpdateOutcome runProgramUpdate(const UpdateTarget& target, OperatorUi& ui, const UpdateHooks& hooks, int timeLimitMs)
{
    if (target.installedCopy) {
        ui.showMessage(QStringLiteral(
            "This copy of Veldra was installed with the system's package manager: update it with the package "
            "manager (for example: sudo apt update && sudo apt upgrade)."));
        return UpdateOutcome::PackageManaged;
    }
    if (hooks.serverRunning && hooks.serverRunning()) {
        ui.showMessage(QStringLiteral(
            "You can not to update the program, because server is working (first need do stop server) !!!"));
        return UpdateOutcome::ServerRunning;
    }
    const QString name = QFileInfo(target.programFile).fileName();
    const QString oldName = QStringLiteral("old_") + name;
    if (!ui.askYesNo(QStringLiteral("If you have installed an old version program , you must be upgrading to the new "
                                    "version with more features.\r--------------------------------\r   \rDownload the "
                                    "new version program (this version of the file will rename in file [") +
                     oldName + QStringLiteral("]) ?")))
        return UpdateOutcome::Declined;

    auto busy = [&](bool on) {
        if (hooks.setBusy) hooks.setBusy(on);
    };
    busy(true);
    const QString newPath = target.programFolder + QStringLiteral("/new_") + name;
    QFile file(newPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ui.showMessage(QStringLiteral("Cannot create file \"%1\": %2").arg(newPath, file.errorString()));
        busy(false);
        return UpdateOutcome::FileFailed;
    }

    HttpFetch fetch;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    qint64 total = 0;
    QByteArray head;
    bool timedOut = false;
    QString writeError;
    fetch.onBody = [&](const QByteArray& bytes) {
        if (!writeError.isEmpty()) return;
        if (head.size() < 4) head += bytes.left(4 - head.size());
        if (file.write(bytes) != bytes.size()) {
            writeError = QStringLiteral("Cannot write file \"%1\": %2").arg(newPath, file.errorString());
            fetch.abort();
            return;
        }
        total += bytes.size();
        if (hooks.setCaption) hooks.setCaption(QStringLiteral("Load ") + QString::number(total / 1024) + QStringLiteral(" KB "));
    };
    fetch.onFinished = [&loop] { loop.quit(); };
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        fetch.abort();
    });
    deadline.start(timeLimitMs);
    fetch.start(programFileUrl(target.baseUrl), kUserAgent);
    if (!fetch.finished()) loop.exec();
    deadline.stop();

    const bool complete = isCompleteProgramFile(fetch.status(), total, fetch.contentLength(),
                                                fetch.complete() && fetch.contentLength() < 0, head);
    if (!file.flush() && writeError.isEmpty())
        writeError = QStringLiteral("Cannot write file \"%1\": %2").arg(newPath, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError && writeError.isEmpty())
        writeError = QStringLiteral("Cannot write file \"%1\": %2").arg(newPath, file.errorString());

    // With a key, only a program file that its publisher signed is swapped in: a
    // plain-HTTP download may have been changed on the way.
    QString signatureError;
    if (complete && writeError.isEmpty() && !timedOut && !target.publicKey.isEmpty()) {
        if (!signaturesSupported()) {
            signatureError = QStringLiteral("This build cannot check the signature of the program file: it was not swapped in.");
        } else {
            const QByteArray signature = fetchSignature(target.baseUrl, timeLimitMs);
            QFile downloaded(newPath);
            const bool read = downloaded.open(QIODevice::ReadOnly);
            if (signature.isEmpty() || !read || !verifyDetached(downloaded.readAll(), signature, target.publicKey))
                signatureError = QStringLiteral(
                    "The downloaded program file has no valid signature: it was not swapped in.");
        }
        if (!signatureError.isEmpty()) QFile::remove(newPath);
    }

    UpdateOutcome outcome = UpdateOutcome::DownloadFailed;
    if (timedOut) {
        ui.showMessage(QStringLiteral(
            "Large time interval download file, perhaps :\r- no internet\r- incorrect internet connection settings"));
        outcome = UpdateOutcome::TimedOut;
    } else if (!writeError.isEmpty()) {
        ui.showMessage(writeError);
        outcome = UpdateOutcome::FileFailed;
    } else if (!complete) {
        ui.showMessage(QStringLiteral("Error downloading the file. If necessary, try again !"));
    } else if (!signatureError.isEmpty()) {
        ui.showMessage(signatureError);
    } else {
        try {
            const QString script = writeSwapScript(target.programFolder, name);
            if (hooks.runScript ? hooks.runScript(script) : startSwapScript(script)) {
                busy(false);
                if (hooks.closeWindow) hooks.closeWindow();
                return UpdateOutcome::Started;
            }
            ui.showMessage(QStringLiteral("Cannot start \"%1\"").arg(script));
            outcome = UpdateOutcome::FileFailed;
        } catch (const FileError& e) {
            ui.showMessage(e.message());
            outcome = UpdateOutcome::FileFailed;
        }
    }
    busy(false);
    return outcome;
}

}  // namespace veldra
