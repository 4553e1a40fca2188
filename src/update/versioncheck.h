// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The version check: once per run, the first line of the published version history
// tells whether the running version is the latest.
#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace veldra {

class OperatorUi;

// The web server's base address this build was configured with (an http:// URL; empty:
// no checks and no downloads).
QString configuredUpdateBaseUrl();
// The two published files under the base address.
QUrl versionHistoryUrl(const QString& baseUrl);
QUrl programFileUrl(const QString& baseUrl);
// A GET of that address with the update's user-agent name; the network manager that sends
// it follows the system's proxy settings (see updateNetwork()).
QNetworkRequest updateRequest(const QUrl& url);
// A network manager that uses the system's proxy settings.
std::unique_ptr<QNetworkAccessManager> updateNetwork();

// The decision on the first bytes of the history (at most 101 are looked at): true when
// its first line (up to and with the first line feed) is not blank and does not contain
// "\"VELDRA\" <version> released". No line feed: false.
bool historyAnnouncesOtherVersion(const QByteArray& head, const QString& version);

// Asks the history in the background; the window never waits for it. Only when the
// history announces another version within 10 seconds of start() is `showButton` called
// and the operator told "You use old version program. Need do update program !!!";
// every failure is silent. One check per object.
class VersionCheck : public QObject {
    Q_OBJECT
public:
    explicit VersionCheck(QObject* parent = nullptr);
    ~VersionCheck() override;

    void start(const QString& baseUrl, const QString& version, OperatorUi& ui, std::function<void()> showButton);
    // True once the check has come to its end, with or without a report.
    bool finished() const { return m_finished; }

    static constexpr int kDeadlineMs = 10000;
    static constexpr int kHeadBytes = 101;

signals:
    void done();

private:
    void decide();
    void finish();

    std::unique_ptr<QNetworkAccessManager> m_net;
    QNetworkReply* m_reply = nullptr;
    QString m_version;
    OperatorUi* m_ui = nullptr;
    std::function<void()> m_showButton;
    QElapsedTimer m_clock;
    bool m_finished = false;
};

}  // namespace veldra
