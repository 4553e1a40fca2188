// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/versioncheck.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>

#include "common/cp1252.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "updateurl.h"

namespace veldra {

QString configuredUpdateBaseUrl() { return QStringLiteral(VELDRA_UPDATE_URL); }

namespace {
QUrl under(QString base, const char* path)
{
    while (base.endsWith(u'/')) base.chop(1);
    return QUrl(base + QLatin1String(path));
}
}  // namespace

QUrl versionHistoryUrl(const QString& baseUrl) { return under(baseUrl, "/download/versionhistoryforveldra.txt"); }
QUrl programFileUrl(const QString& baseUrl) { return under(baseUrl, "/services/apps/veldra/Veldra.exe"); }

QNetworkRequest updateRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("TarnwickUpload"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

std::unique_ptr<QNetworkAccessManager> updateNetwork()
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    return std::make_unique<QNetworkAccessManager>();
}

bool historyAnnouncesOtherVersion(const QByteArray& head, const QString& version)
{
    const QString text = trim(cp1252::decode(head.left(VersionCheck::kHeadBytes)));
    const qsizetype lf = text.indexOf(u'\n');
    if (lf < 0) return false;
    const QString line = trim(text.left(lf + 1));
    return !line.isEmpty() && !line.contains(QStringLiteral("\"VELDRA\" ") + version + QStringLiteral(" released"));
}

VersionCheck::VersionCheck(QObject* parent) : QObject(parent) {}

VersionCheck::~VersionCheck()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void VersionCheck::start(const QString& baseUrl, const QString& version, OperatorUi& ui,
                         std::function<void()> showButton)
{
    m_version = version;
    m_ui = &ui;
    m_showButton = std::move(showButton);
    m_clock.start();
    const QUrl url = versionHistoryUrl(baseUrl);
    if (baseUrl.isEmpty() || !url.isValid() || url.scheme() != QLatin1String("http")) {
        finish();
        return;
    }
    m_net = updateNetwork();
    QNetworkRequest request = updateRequest(url);
    request.setTransferTimeout(kDeadlineMs);
    m_reply = m_net->get(request);
    // the first 101 bytes decide: no need to wait for more of a long history
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (m_reply->bytesAvailable() >= kHeadBytes) decide();
    });
    connect(m_reply, &QNetworkReply::finished, this, &VersionCheck::decide);
}

void VersionCheck::decide()
{
    if (m_finished || !m_reply) return;
    QNetworkReply* reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = (reply->isFinished() && reply->error() != QNetworkReply::NoError) || status != 200;
    const QByteArray head = failed ? QByteArray() : reply->read(kHeadBytes);
    const bool late = m_clock.elapsed() > kDeadlineMs;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    // finished before the operator is asked: a message box runs its own event loop
    finish();
    if (failed || late || !historyAnnouncesOtherVersion(head, m_version)) return;
    if (m_showButton) m_showButton();
    m_ui->showMessage(QStringLiteral("You use old version program. Need do update program !!!"));
}

void VersionCheck::finish()
{
    if (m_finished) return;
    m_finished = true;
    emit done();
}

}  // namespace veldra
