#include "cli/CommunityCommands.h"

#include "cli/Messages.h"
#include "cli/PublisherKey.h"
#include "cli/StandardOutput.h"
#include "platform/FileReplacement.h"
#include "state/Publishing.h"
#include "state/RecordColumns.h"
#include "state/ResultsFile.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>
#include <cstdio>
#include <random>

namespace {

// A server that answers nothing for this long is given up.
constexpr int TransferTimeoutMs = 120000;

// The largest file --fetch takes, as the server answers at most 10,000 computers.
constexpr qint64 MaxCommunityFileBytes = 512LL * 1024 * 1024;

// A GET of the address, or a POST of upload to it with the publisher key.
TServerAnswer Exchange(const QString& address, const QByteArray* upload,
                       const QByteArray& publisherKey = {}) {
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
    if (!publisherKey.isEmpty())
        request.setRawHeader("Authorization", PublisherKeyScheme + publisherKey);
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

// What --publish sends: the computers the program's reader takes of the file, with their owner
// fields emptied unless withOwner; what the reader leaves out is said on standard error. Nothing
// when the file cannot be written again (it could not be larger than it was).
std::optional<QByteArray> PublishedFile(const QByteArray& file, const QString& fileName,
                                        bool withOwner) {
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    TMergeReport report;
    MergeResultsFile({reinterpret_cast<const std::uint8_t*>(file.constData()),
                      static_cast<std::size_t>(file.size())},
                     LatestPlausibleTimestamp(), computers, devices, results, &report);
    // Nothing read, nothing to hide: the server says why it takes nothing, as the reader would.
    if (computers.empty())
        return file;
    for (const QString& line : DescribeMergeReport(fileName, report))
        Say(line);
    if (!withOwner)
        for (TComputerRecord& computer : computers)
            computer.Owner = TStringSlot{}; // the empty text
    static thread_local std::mt19937 tails{std::random_device{}()};
    const auto encoded = EncodeResultsFile(computers, devices, results, tails());
    if (!encoded)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(encoded->data()),
                      static_cast<qsizetype>(encoded->size()));
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
    const TPublisherKey key = ReadOrMakePublisherKey(PublisherKeyFile());
    if (key.Hex.isEmpty()) {
        Say(QStringLiteral("no publisher key: %1").arg(key.Error));
        return 2;
    }
    const auto bytes = PublishedFile(file.readAll(), QFileInfo(options.ResultsFile).fileName(),
                                     options.PublishOwner);
    if (!bytes) {
        Say(QStringLiteral("%1: too large to be sent").arg(options.ResultsFile));
        return 2;
    }
    const QString address = ServerAddress(options.ServerUrl, QStringLiteral("/api/results"));
    const TServerAnswer answer = Exchange(address, &*bytes, key.Hex);
    if (!answer.Reached) {
        Say(QStringLiteral("%1 could not be reached: %2").arg(address, answer.Error));
        return 1;
    }
    WriteStandardOutput(answer.Body + '\n');
    if (answer.Status != 200) {
        Say(QStringLiteral("the server did not take %1: %2")
                .arg(options.ResultsFile, RefusalReason(answer)));
        return 1;
    }
    // What the server took but could not change, or keeps aside, is said apart from the answer.
    const QJsonObject taken = QJsonDocument::fromJson(answer.Body).object();
    if (const int notYours = taken.value(QStringLiteral("computers_not_yours")).toInt();
        notYours > 0)
        Say(QStringLiteral("%1 of %2 first published with another publisher key: the server "
                           "left them as they were")
                .arg(notYours == 1 ? QStringLiteral("1 computer")
                                   : QStringLiteral("%1 computers").arg(notYours),
                     options.ResultsFile));
    if (const qsizetype held = taken.value(QStringLiteral("held_for_review")).toArray().size();
        held > 0)
        Say(QStringLiteral("%1 far above what the same adapter scores elsewhere: kept, and "
                           "ranked once reviewed")
                .arg(held == 1 ? QStringLiteral("1 result is")
                               : QStringLiteral("%1 results are").arg(held)));
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
    // Only a results file whose every block the program's reader reached is kept, and only with
    // the records it believes: a record it leaves out never reaches Community.bin, so that the
    // next start offers a file it takes whole. Refusing all for one record the reader does not
    // believe (a server whose clock runs ahead of this one's, say) would throw away the rest.
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    TMergeReport report;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(answer.Body.constData());
    MergeResultsFile({bytes, static_cast<std::size_t>(answer.Body.size())},
                     LatestPlausibleTimestamp(), computers, devices, results, &report);
    if (report.Outcome != TMergeOutcome::Merged || report.ComputersNotReached() != 0 ||
        report.BytesLeftUnread != 0) {
        Say(QStringLiteral("%1 sent no whole results file; Community.bin is left as it was")
                .arg(address));
        return 1;
    }
    QByteArray kept = answer.Body;
    if (report.ComputersLeftOut > 0 || report.ResultsLeftOut > 0) {
        for (const QString& line : DescribeMergeReport(QStringLiteral("the server's file"), report))
            Say(line);
        const auto believed = EncodeResultsFile(computers, devices, results,
                                                static_cast<std::uint32_t>(answer.Body.size()));
        if (!believed) {
            Say(QStringLiteral("Community.bin is left as it was: what the server sent does not "
                               "fit a results file"));
            return 1;
        }
        kept = QByteArray(reinterpret_cast<const char*>(believed->data()),
                          static_cast<qsizetype>(believed->size()));
    }
    // Written beside the old one, every write checked and synced, then put in its place.
    const QString name = QStringLiteral("Community.bin");
    FileReplacement file;
    if (!file.Begin(QFile::encodeName(name).toStdString()) ||
        !file.Write(kept.constData(), static_cast<std::size_t>(kept.size())) || !file.Commit()) {
        Say(FileFailure(file.Error(), name) +
            QStringLiteral("; an earlier Community.bin is left as it was"));
        return 1;
    }
    WriteStandardOutput(QStringLiteral("Community.bin: %1 computers from %2\n")
                            .arg(computers.size())
                            .arg(options.ServerUrl)
                            .toUtf8());
    return 0;
}
