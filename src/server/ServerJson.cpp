#include "server/ServerJson.h"

#include "chart/ChartModel.h"
#include "server/OutlierRule.h"
#include "state/RecordColumns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

const char* const KindNames[ChartKindCount] = {"hw", "sw", "emulation"};

QJsonValue Real(float value) {
    return std::isfinite(value) ? QJsonValue(static_cast<double>(value)) : QJsonValue::Null;
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The one-computer view: per table the reference and the value of each of the ten modes.
QJsonArray SectionsJson(const TStoredComputer& computer) {
    QJsonArray sections;
    for (const TChartSection& section :
         ComputerChartSections(computer.Computer, computer.Results)) {
        QJsonArray modes;
        for (int k = 0; k < ModeSizeCount * ModeDepthCount; ++k) {
            const int size = k / 2, depth = k % 2;
            QJsonObject mode{{"width", ModeSizes[size].Width},
                             {"height", ModeSizes[size].Height},
                             {"depth", ModeDepths[depth]}};
            const std::int32_t r = FindKindResult(computer.Results, size, depth, section.Kind);
            mode.insert("triangles_per_ms",
                        r >= 0 ? Real(computer.Results[static_cast<std::size_t>(r)].TrianglesPerMs)
                               : QJsonValue::Null);
            mode.insert("tested", r >= 0);
            modes.append(mode);
        }
        sections.append(QJsonObject{
            {"acceleration", KindNames[section.Kind]},
            {"heading", QString::fromUtf8(ChartKinds[section.Kind].Heading)},
            {"reference", section.HasReference ? Real(section.Reference) : QJsonValue::Null},
            {"modes", modes}});
    }
    return sections;
}

} // namespace

const char* AccelerationFilterName(std::int32_t acceleration) {
    return acceleration == 0 ? "any" : KindNames[acceleration - 1];
}

QByteArray RankingJson(const TRankingPage& page, std::int32_t acceleration, std::int64_t offset,
                       std::int64_t limit) {
    static const std::vector<TStringSlot> noDevices;
    QJsonArray entries;
    for (std::size_t i = 0; i < page.Rows.size(); ++i) {
        const TRankingRow& row = page.Rows[i];
        QJsonObject entry = ExportJsonRow(static_cast<std::size_t>(row.ComputerId), row.Computer,
                                          noDevices, &row.Result);
        entry.remove("devices"); // not read for the ranking; the computer's view has them
        entry.insert("rank", static_cast<qint64>(offset + static_cast<std::int64_t>(i) + 1));
        entry.insert("heading", QString::fromUtf8(ChartKinds[row.Kind].Heading));
        entries.append(entry);
    }
    return Compact({{"accel", AccelerationFilterName(acceleration)},
                    {"offset", static_cast<qint64>(offset)},
                    {"limit", static_cast<qint64>(limit)},
                    {"total", static_cast<qint64>(page.Total)},
                    {"max", static_cast<double>(page.Max)},
                    {"entries", entries}});
}

QByteArray ComputerJson(const TStoredComputer& computer) {
    const auto id = static_cast<std::size_t>(computer.Id);
    QJsonObject object = ExportJsonRow(id, computer.Computer, computer.Devices, nullptr);
    // The computer's own fields; its results follow as rows of their own.
    const QStringList names = object.keys();
    for (const QString& name : names)
        if (object.value(name).isNull())
            object.remove(name);
    QJsonArray results;
    for (const TResultRecord& result : computer.Results)
        results.append(ExportJsonRow(id, computer.Computer, computer.Devices, &result));
    object.insert("results", results);
    object.insert("sections", SectionsJson(computer));
    return Compact(object);
}

QString HeldEntryText(const THeldEntry& entry) {
    return QStringLiteral("/computers/%1 (%2), %3: %4 triangles per ms is more than %5 times the "
                          "median %6 of %7 other computers with the adapter \"%8\"; kept, and "
                          "ranked once it has been reviewed")
        .arg(entry.ComputerId)
        .arg(QString::fromStdString(entry.Processor))
        .arg(QLatin1String(KindNames[entry.Kind]))
        .arg(entry.Value)
        .arg(OutlierFactor)
        .arg(entry.Median)
        .arg(entry.Peers)
        .arg(QString::fromStdString(entry.Adapter));
}

QByteArray UploadJson(const TUploadOutcome& outcome) {
    QJsonArray leftOut;
    for (const QString& line : DescribeMergeReport(QStringLiteral("Results.bin"), outcome.Report))
        leftOut.append(line);
    for (const TComputerNotYours& computer : outcome.NotYours)
        leftOut.append(QStringLiteral("Results.bin: computer %1 of those read (%2) was first "
                                      "published with another publisher key; nothing of it was "
                                      "changed")
                           .arg(computer.Computer)
                           .arg(QString::fromStdString(computer.Processor)));
    QJsonArray held;
    for (const THeldEntry& entry : outcome.Held)
        held.append(HeldEntryText(entry));
    return Compact({{"upload", static_cast<qint64>(outcome.UploadId)},
                    {"blocks_declared", outcome.Report.BlocksDeclared},
                    {"blocks_read", outcome.Report.BlocksMerged},
                    {"computers_added", outcome.ComputersAdded},
                    {"computers_known", outcome.ComputersKnown},
                    {"computers_not_yours", static_cast<qint64>(outcome.NotYours.size())},
                    {"results_added", outcome.ResultsAdded},
                    {"results_replaced", outcome.ResultsReplaced},
                    {"results_not_later", outcome.ResultsNotLater},
                    {"left_out", leftOut},
                    {"held_for_review", held}});
}

QByteArray ErrorJson(const QString& message) {
    return Compact({{"error", message}});
}
