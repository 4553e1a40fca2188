// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/programupdate.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

#include "common/errors.h"
#include "common/operatorui.h"
#include "update/versioncheck.h"

namespace veldra {
namespace {

// A file name as one single-quoted shell word.
QString shellWord(const QString& s)
{
    QString out = s;
    out.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + out + u'\'';
}

const QLatin1String kDots("....................................");

}  // namespace

QByteArray swapScript(const QString& programName)
{
    const QString prog = programName;
    const QString fresh = QStringLiteral("new_") + programName;
    const QString old = QStringLiteral("old_") + programName;
    const QString p = shellWord(prog), n = shellWord(fresh), o = shellWord(old);
    const QStringList lines{
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("# Swaps in the downloaded program file and starts it (written by the program's update)."),
        QStringLiteral("cd \"$(dirname \"$0\")\" || exit 1"),
        QStringLiteral("echo \"PAUSE 5 sec.\""),
        QStringLiteral("sleep \"${1:-5}\""),
        QStringLiteral("echo \"%1\"").arg(kDots),
        QStringLiteral("if [ ! -f %1 ]; then").arg(n),
        QStringLiteral("  echo \"FILE_NOT_FOUND %1\"").arg(fresh),
        QStringLiteral("  exit 1"),
        QStringLiteral("fi"),
        QStringLiteral("if [ -e %1 ]; then").arg(p),
        QStringLiteral("  echo \"RENAME_OLD_FILE %1 TO %2\"").arg(prog, old),
        QStringLiteral("  rm -f %1").arg(o),
        QStringLiteral("  mv %1 %2 || exit 1").arg(p, o),
        QStringLiteral("  echo \"%1\"").arg(kDots),
        QStringLiteral("fi"),
        QStringLiteral("echo \"RENAME_NEW_FILE %1 TO %2\"").arg(fresh, prog),
        // a failed rename puts the old program back, so there always is one
        QStringLiteral("mv %1 %2 || { mv %3 %2; exit 1; }").arg(n, p, o),
        QStringLiteral("chmod +x %1").arg(p),
        QStringLiteral("echo \"%1\"").arg(kDots),
        QStringLiteral("echo \"RUN_PROGRAM %1\"").arg(prog),
        QStringLiteral("nohup ./%1 </dev/null >/dev/null 2>&1 &").arg(p),
        QStringLiteral("exit 0"),
    };
    return (lines.join(u'\n') + u'\n').toUtf8();
}

QString writeSwapScript(const QString& folder, const QString& programName)
{
    const QString path = folder + u'/' + QLatin1String(kSwapScriptName);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(QStringLiteral("Cannot create file \"%1\": %2").arg(path, f.errorString()));
    const QByteArray bytes = swapScript(programName);
    if (f.write(bytes) != bytes.size() || !f.flush())
        throw FileError(QStringLiteral("Cannot write file \"%1\": %2").arg(path, f.errorString()));
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return path;
}

bool startSwapScript(const QString& scriptPath)
{
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {scriptPath}, QFileInfo(scriptPath).absolutePath());
}

bool isCompleteProgramFile(int httpStatus, qint64 received, qint64 contentLength, const QByteArray& head)
{
    return httpStatus == 200 && received > 0 && (contentLength < 0 || received == contentLength) &&
           head.startsWith("\x7F" "ELF");
}

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

    auto net = updateNetwork();
    QNetworkReply* reply = net->get(updateRequest(programFileUrl(target.baseUrl)));
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    qint64 total = 0;
    QByteArray head;
    bool timedOut = false;
    QString writeError;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray bytes = reply->readAll();
        if (bytes.isEmpty() || !writeError.isEmpty()) return;
        if (head.size() < 4) head += bytes.left(4 - head.size());
        if (file.write(bytes) != bytes.size()) {
            writeError = QStringLiteral("Cannot write file \"%1\": %2").arg(newPath, file.errorString());
            reply->abort();
            return;
        }
        total += bytes.size();
        if (hooks.setCaption) hooks.setCaption(QStringLiteral("Load ") + QString::number(total / 1024) + QStringLiteral(" KB "));
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(timeLimitMs);
    if (!reply->isFinished()) loop.exec();
    deadline.stop();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // a length that counts compressed bytes says nothing about the bytes received
    const bool plain = !reply->hasRawHeader("Content-Encoding") ||
                       reply->rawHeader("Content-Encoding").trimmed().compare("identity", Qt::CaseInsensitive) == 0;
    const QVariant lengthHeader = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 length = plain && lengthHeader.isValid() ? lengthHeader.toLongLong() : -1;
    const bool complete = reply->error() == QNetworkReply::NoError &&
                          isCompleteProgramFile(status, total, length, head);
    reply->deleteLater();
    if (!file.flush() && writeError.isEmpty())
        writeError = QStringLiteral("Cannot write file \"%1\": %2").arg(newPath, file.errorString());
    file.close();

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
