#include "cli/CommunityCommands.h"

#include "cli/Messages.h"
#include "platform/FileReplacement.h"
#include "state/ResultsFile.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>
#include <cstdio>

namespace {

// A server that answers nothing for this long is given up.
constexpr int TransferTimeoutMs = 120000;

// The largest file --fetch takes, as the server answers at most 10,000 computers.
constexpr qint64 MaxCommunityFileBytes = 512LL * 1024 * 1024;

TServerAnswer Exchange(const QString& address, const QByteArray* upload) {
    TServerAnswer answer;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) {
        answer.Error = QStringLiteral("\"%1\" is no http:// or https:// address").arg(address);
        return answer;
    }
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setTransferTimeout(TransferTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
    QNetworkReply* reply =
        upload != nullptr ? network.post(request, *upload) : network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64) {
                         if (received > MaxCommunityFileBytes)
                             reply->abort();
                     });
    loop.exec();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    answer.Reached = status.isValid();
    answer.Status = status.toInt();
    answer.Body = reply->readAll();
    if (!answer.Reached)
        answer.Error = reply->errorString();
    reply->deleteLater();
    return answer;
}

QString AccelerationName(const std::optional<TAcceleration>& kind) {
    switch (kind.value_or(TAcceleration::Any)) {
    case TAcceleration::Hw:
        return QStringLiteral("hw");
    case TAcceleration::Sw:
        return QStringLiteral("sw");
    case TAcceleration::Emulation:
        return QStringLiteral("emulation");
    default:
        return QStringLiteral("any");
    }
}

} // namespace

QString ServerAddress(const QString& base, const QString& pathAndQuery) {
    QString address = base;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address + pathAndQuery;
}

QString RefusalReason(const TServerAnswer& answer) {
    if (!answer.Reached)
        return answer.Error;
    const QString error =
        QJsonDocument::fromJson(answer.Body).object().value(QStringLiteral("error")).toString();
    return error.isEmpty() ? QStringLiteral("HTTP status %1").arg(answer.Status)
                           : QStringLiteral("%1 (HTTP status %2)").arg(error).arg(answer.Status);
}

int RunPublishCommand(const TCommandLineOptions& options) {
    QFile file(options.ResultsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        Say(QStringLiteral("%1: cannot be read: %2").arg(options.ResultsFile, file.errorString()));
        return 2;
    }
    const QByteArray bytes = file.readAll();
    const QString address = ServerAddress(options.ServerUrl, QStringLiteral("/api/results"));
    const TServerAnswer answer = Exchange(address, &bytes);
    if (!answer.Reached) {
        Say(QStringLiteral("%1 could not be reached: %2").arg(address, answer.Error));
        return 1;
    }
    std::fwrite(answer.Body.constData(), 1, static_cast<std::size_t>(answer.Body.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (answer.Status != 200) {
        Say(QStringLiteral("the server did not take %1: %2")
                .arg(options.ResultsFile, RefusalReason(answer)));
        return 1;
    }
    return 0;
}

int RunFetchCommand(const TCommandLineOptions& options) {
    const QString address =
        ServerAddress(options.ServerUrl, QStringLiteral("/Results.bin?accel=%1&top=%2")
                                             .arg(AccelerationName(options.Acceleration))
                                             .arg(options.FetchTop));
    const TServerAnswer answer = Exchange(address, nullptr);
    if (!answer.Reached || answer.Status != 200) {
        Say(QStringLiteral("%1: %2").arg(address, RefusalReason(answer)));
        return 1;
    }
    // Only a results file that the program's reader takes whole is kept.
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    TMergeReport report;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(answer.Body.constData());
    MergeResultsFile({bytes, static_cast<std::size_t>(answer.Body.size())},
                     LatestPlausibleTimestamp(), computers, devices, results, &report);
    if (report.Outcome != TMergeOutcome::Merged || report.BlocksMerged != report.BlocksDeclared ||
        report.BytesLeftUnread != 0) {
        Say(QStringLiteral("%1 sent no whole results file; Community.bin is left as it was")
                .arg(address));
        return 1;
    }
    // Written beside the old one, every write checked and synced, then put in its place.
    const QString name = QStringLiteral("Community.bin");
    FileReplacement file;
    if (!file.Begin(QFile::encodeName(name).toStdString()) ||
        !file.Write(answer.Body.constData(), static_cast<std::size_t>(answer.Body.size())) ||
        !file.Commit()) {
        Say(FileFailure(file.Error(), name) +
            QStringLiteral("; an earlier Community.bin is left as it was"));
        return 1;
    }
    std::printf("Community.bin: %zu computers from %s\n", computers.size(),
                options.ServerUrl.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
