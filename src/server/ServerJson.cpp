#include "server/ServerJson.h"

#include "chart/ChartModel.h"
#include "server/OutlierRule.h"
#include "state/RecordColumns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>
#include <cmath>

namespace {

const char* const KindNames[ChartKindCount] = {"hw", "sw", "emulation"};

QJsonValue Real(float value) {
    return std::isfinite(value) ? QJsonValue(static_cast<double>(value)) : QJsonValue::Null;
}

// The shortest JSON number that reads back as value; null for a NaN or an infinity.
QByteArray JsonNumber(float value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value)).ptr;
    return QByteArray(buffer, end - buffer);
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
    // Written as text row by row: building the document first took most of a page's time.
    static const std::vector<TStringSlot> noDevices;
    QByteArray out;
    out.reserve(1024 + static_cast<qsizetype>(page.Rows.size()) * 2048);
    out += "{\"accel\":\"";
    out += AccelerationFilterName(acceleration);
    out += "\",\"offset\":" + QByteArray::number(offset);
    out += ",\"limit\":" + QByteArray::number(limit);
    out += ",\"total\":" + QByteArray::number(page.Total);
    out += ",\"max\":" + JsonNumber(page.Max);
    out += ",\"entries\":[";
    QByteArray more;
    for (std::size_t i = 0; i < page.Rows.size(); ++i) {
        const TRankingRow& row = page.Rows[i];
        // The devices are not read for the ranking; the computer's view has them.
        more = "\"rank\":" + QByteArray::number(offset + static_cast<std::int64_t>(i) + 1) +
               ",\"heading\":";
        AppendJsonString(more, QString::fromUtf8(ChartKinds[row.Kind].Heading));
        if (i > 0)
            out += ',';
        AppendExportJsonRow(
            out, static_cast<std::size_t>(row.ComputerId), row.Computer, noDevices, &row.Result,
            "devices", std::string_view(more.constData(), static_cast<std::size_t>(more.size())));
    }
    out += "]}";
    return out;
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
