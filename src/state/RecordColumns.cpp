#include "state/RecordColumns.h"

#include "platform/Cp1251.h"
#include "state/ResultsFile.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// One exported value. Reals keep the shortest decimal that reads back to the stored value
// (float32 or float64), for CSV as text and for JSON as the double of that decimal, so that
// both print the same digits.
struct Cell {
    enum class Kind { Empty, Integer, Real, Text, Lines } Type = Kind::Empty;
    qint64 Integer = 0;
    QByteArray RealText;
    double Real = 0;
    QString Text;
    QStringList Lines;
};

Cell IntegerCell(qint64 value) {
    Cell cell;
    cell.Type = Cell::Kind::Integer;
    cell.Integer = value;
    return cell;
}

template <typename Real> Cell RealCell(Real value) {
    Cell cell;
    if (!std::isfinite(value))
        return cell; // NaN and infinities: empty in CSV, null in JSON
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    cell.Type = Cell::Kind::Real;
    cell.RealText = QByteArray(buffer, end - buffer);
    std::from_chars(buffer, end, cell.Real);
    return cell;
}

Cell TextCell(QString text) {
    Cell cell;
    cell.Type = Cell::Kind::Text;
    cell.Text = std::move(text);
    return cell;
}

// The timestamp (days since 30 December 1899, the time of day as the fraction) as the date and
// time it states, the measuring computer's local time, in ISO 8601 to the second; empty when it
// is no date of the years 1 to 9999. The exporting computer's zone plays no part: a time in its
// daylight-saving gap is still a time.
Cell TimeCell(double days) {
    if (!std::isfinite(days) || days < -693593 || days >= 2958466)
        return {};
    const double whole = std::trunc(days);
    qint64 ms = std::llround(std::fabs(days - whole) * 86400000.0);
    ms = std::min<qint64>(ms, 86400000 - 1);
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    // Formatted by hand: QDateTime::toString reads its format anew on every call.
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(),
                  date.day(), time.hour(), time.minute(), time.second());
    return TextCell(QString::fromLatin1(text));
}

const char* AccelerationName(const TResultRecord& r) {
    if (r.HardwareDevice == 0)
        return "emulation";
    return r.HardwareVertexProcessing != 0 ? "hw" : "sw";
}

struct Row {
    std::size_t Number; // of the computer, from 1
    const TComputerRecord& Computer;
    const std::vector<TStringSlot>& Devices;
    const TResultRecord* Result; // null for a computer without results
};

struct Column {
    const char* Name;
    std::function<Cell(const Row&)> Value;
};

// A column of the result record; empty for a computer without results.
template <typename Get> Column ResultColumn(const char* name, Get get) {
    return {name, [get](const Row& row) { return row.Result ? get(*row.Result) : Cell{}; }};
}

const std::vector<Column>& Columns() {
    using R = TResultRecord;
    static const std::vector<Column> columns = {
        {"computer", [](const Row& row) { return IntegerCell(static_cast<qint64>(row.Number)); }},
        {"processor",
         [](const Row& row) { return TextCell(ReadableText(row.Computer.Processor)); }},
        {"video_adapter",
         [](const Row& row) { return TextCell(ReadableText(row.Computer.VideoAdapter)); }},
        {"chipset", [](const Row& row) { return TextCell(ReadableText(row.Computer.Chipset)); }},
        {"memory_mb", [](const Row& row) { return TextCell(ReadableText(row.Computer.MemoryMB)); }},
        {"os_name", [](const Row& row) { return TextCell(ReadableText(row.Computer.OSName)); }},
        {"owner", [](const Row& row) { return TextCell(ReadableText(row.Computer.Owner)); }},
        {"time_zone", [](const Row& row) { return TextCell(ReadableText(row.Computer.TimeZone)); }},
        {"record_tag",
         [](const Row& row) { return TextCell(ReadableText(row.Computer.RecordTag)); }},
        {"hal_device",
         [](const Row& row) { return IntegerCell(row.Computer.HalCaps.DeviceType != 0 ? 1 : 0); }},
        {"hal_transform_and_lighting",
         [](const Row& row) {
             return IntegerCell(
                 (row.Computer.HalCaps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0 ? 1 : 0);
         }},
        {"devices",
         [](const Row& row) {
             Cell cell;
             cell.Type = Cell::Kind::Lines;
             for (const TStringSlot& line : row.Devices)
                 cell.Lines.append(ReadableText(line));
             return cell;
         }},
        ResultColumn("time", [](const R& r) { return TimeCell(r.Timestamp); }),
        ResultColumn("timestamp", [](const R& r) { return RealCell(r.Timestamp); }),
        ResultColumn("test_set", [](const R& r) { return IntegerCell(r.TestSet); }),
        ResultColumn("width", [](const R& r) { return IntegerCell(r.Width); }),
        ResultColumn("height", [](const R& r) { return IntegerCell(r.Height); }),
        ResultColumn("depth", [](const R& r) { return IntegerCell(r.Depth); }),
        ResultColumn("refresh_rate", [](const R& r) { return IntegerCell(r.RefreshRate); }),
        ResultColumn("acceleration",
                     [](const R& r) { return TextCell(QString::fromLatin1(AccelerationName(r))); }),
        ResultColumn("hardware_device", [](const R& r) { return IntegerCell(r.HardwareDevice); }),
        ResultColumn("hardware_vertex_processing",
                     [](const R& r) { return IntegerCell(r.HardwareVertexProcessing); }),
        ResultColumn("vertex_buffer_mode",
                     [](const R& r) { return IntegerCell(r.VertexBufferMode); }),
        ResultColumn("texture_mode", [](const R& r) { return IntegerCell(r.TextureMode); }),
        ResultColumn("detail_level", [](const R& r) { return IntegerCell(r.DetailLevel); }),
        ResultColumn("black_percent", [](const R& r) { return IntegerCell(r.BlackPercent); }),
        ResultColumn("sum_log_frame_time", [](const R& r) { return RealCell(r.SumLogFrameTime); }),
        ResultColumn("sum_sq_log_frame_time",
                     [](const R& r) { return RealCell(r.SumSqLogFrameTime); }),
        ResultColumn("triangles_per_ms", [](const R& r) { return RealCell(r.TrianglesPerMs); }),
        ResultColumn("fps", [](const R& r) { return RealCell(r.Fps); }),
        ResultColumn("min_fps", [](const R& r) { return RealCell(r.MinFps); }),
        ResultColumn("max_fps", [](const R& r) { return RealCell(r.MaxFps); }),
        ResultColumn("frame_time_spread", [](const R& r) { return RealCell(r.FrameTimeSpread); }),
        ResultColumn("frame_count", [](const R& r) { return IntegerCell(r.FrameCount); }),
        ResultColumn("total_time_ms", [](const R& r) { return IntegerCell(r.TotalTimeMs); }),
        ResultColumn("empty_fps", [](const R& r) { return IntegerCell(r.EmptyFps); }),
        ResultColumn("avail_phys_1", [](const R& r) { return IntegerCell(r.AvailPhys[0]); }),
        ResultColumn("avail_phys_2", [](const R& r) { return IntegerCell(r.AvailPhys[1]); }),
        ResultColumn("avail_phys_3", [](const R& r) { return IntegerCell(r.AvailPhys[2]); }),
        ResultColumn("avail_phys_4", [](const R& r) { return IntegerCell(r.AvailPhys[3]); }),
        ResultColumn("avail_texture_mem_1",
                     [](const R& r) { return IntegerCell(r.AvailTextureMem[0]); }),
        ResultColumn("avail_texture_mem_2",
                     [](const R& r) { return IntegerCell(r.AvailTextureMem[1]); }),
        ResultColumn("avail_texture_mem_3",
                     [](const R& r) { return IntegerCell(r.AvailTextureMem[2]); }),
        ResultColumn("avail_texture_mem_4",
                     [](const R& r) { return IntegerCell(r.AvailTextureMem[3]); }),
        ResultColumn("fps_sum", [](const R& r) { return RealCell(r.FpsSum); }),
        ResultColumn("fps_min", [](const R& r) { return RealCell(r.FpsMin); }),
        ResultColumn("fps_max", [](const R& r) { return RealCell(r.FpsMax); }),
        ResultColumn("run_count", [](const R& r) { return IntegerCell(r.RunCount); }),
    };
    return columns;
}

// Every row of the store: one per result, one for a computer without results.
template <typename Visit> void ForEachRow(const TExportStore& store, Visit visit) {
    static const std::vector<TStringSlot> noDevices;
    static const std::vector<TResultRecord> noResults;
    for (std::size_t i = 0; i < store.Computers.size(); ++i) {
        const auto& devices = i < store.Devices.size() ? store.Devices[i] : noDevices;
        const auto& results = i < store.Results.size() ? store.Results[i] : noResults;
        if (results.empty())
            visit(Row{i + 1, store.Computers[i], devices, nullptr});
        for (const TResultRecord& result : results)
            visit(Row{i + 1, store.Computers[i], devices, &result});
    }
}

// RFC 4180 by hand (it is this small): quotes around a field that holds a comma, a quote or a
// line break, and quotes inside doubled.
QByteArray CsvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QByteArray CsvCell(const Cell& cell) {
    switch (cell.Type) {
    case Cell::Kind::Empty:
        return {};
    case Cell::Kind::Integer:
        return QByteArray::number(cell.Integer);
    case Cell::Kind::Real:
        return cell.RealText;
    case Cell::Kind::Text:
        return CsvField(cell.Text);
    case Cell::Kind::Lines:
        return CsvField(cell.Lines.join(QLatin1Char('\n')));
    }
    return {};
}

QJsonValue JsonCell(const Cell& cell) {
    switch (cell.Type) {
    case Cell::Kind::Empty:
        return QJsonValue::Null;
    case Cell::Kind::Integer:
        return QJsonValue(cell.Integer);
    case Cell::Kind::Real:
        return QJsonValue(cell.Real);
    case Cell::Kind::Text:
        return QJsonValue(cell.Text);
    case Cell::Kind::Lines:
        return QJsonArray::fromStringList(cell.Lines);
    }
    return QJsonValue::Null;
}

void AppendJsonCell(QByteArray& out, const Cell& cell) {
    switch (cell.Type) {
    case Cell::Kind::Empty:
        out += "null";
        return;
    case Cell::Kind::Integer:
        out += QByteArray::number(cell.Integer);
        return;
    case Cell::Kind::Real:
        out += cell.RealText; // the shortest text that reads back as the same number
        return;
    case Cell::Kind::Text:
        AppendJsonString(out, cell.Text);
        return;
    case Cell::Kind::Lines:
        out += '[';
        for (qsizetype i = 0; i < cell.Lines.size(); ++i) {
            if (i > 0)
                out += ',';
            AppendJsonString(out, cell.Lines[i]);
        }
        out += ']';
        return;
    }
}

QString Plural(qint64 n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

QString ReadableText(const TStringSlot& slot) {
    QString text = QString::fromStdString(Cp1251ToUtf8(StringSlotText(UnscrambleText(slot))));
    text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
    return text;
}

QStringList ExportColumnNames() {
    QStringList names;
    for (const Column& column : Columns())
        names.append(QLatin1String(column.Name));
    return names;
}

QByteArray ExportCsv(const TExportStore& store) {
    QByteArray out = ExportColumnNames().join(QLatin1Char(',')).toUtf8() + "\r\n";
    ForEachRow(store, [&out](const Row& row) {
        bool first = true;
        for (const Column& column : Columns()) {
            if (!first)
                out += ',';
            first = false;
            out += CsvCell(column.Value(row));
        }
        out += "\r\n";
    });
    return out;
}

QJsonObject ExportJsonRow(std::size_t computerNumber, const TComputerRecord& computer,
                          const std::vector<TStringSlot>& devices, const TResultRecord* result) {
    const Row row{computerNumber, computer, devices, result};
    QJsonObject object;
    for (const Column& column : Columns())
        object.insert(QLatin1String(column.Name), JsonCell(column.Value(row)));
    return object;
}

void AppendJsonString(QByteArray& out, const QString& text) {
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendExportJsonRow(QByteArray& out, std::size_t computerNumber,
                         const TComputerRecord& computer, const std::vector<TStringSlot>& devices,
                         const TResultRecord* result, std::string_view leaveOut,
                         std::string_view more) {
    const Row row{computerNumber, computer, devices, result};
    out += '{';
    bool first = true;
    for (const Column& column : Columns()) {
        if (column.Name == leaveOut)
            continue;
        if (!first)
            out += ',';
        first = false;
        out += '"';
        out += column.Name;
        out += "\":";
        AppendJsonCell(out, column.Value(row));
    }
    if (!more.empty()) {
        if (!first)
            out += ',';
        out.append(more.data(), static_cast<qsizetype>(more.size()));
    }
    out += '}';
}

QByteArray ExportJson(const TExportStore& store) {
    QJsonArray rows;
    ForEachRow(store, [&rows](const Row& row) {
        rows.append(ExportJsonRow(row.Number, row.Computer, row.Devices, row.Result));
    });
    return QJsonDocument(rows).toJson(QJsonDocument::Indented);
}

namespace {

// Why nothing of a file was taken.
QString IgnoredReason(const TMergeReport& report) {
    switch (report.IgnoredBecause) {
    case TIgnoredBecause::NotAFile:
        return QStringLiteral("not a regular file");
    case TIgnoredBecause::TooShort:
        return QStringLiteral("too short to be a results file");
    case TIgnoredBecause::OtherVersion:
        return QStringLiteral("results of version %1.%2, not %3.%4")
            .arg(int{report.FileVersionMajor})
            .arg(int{report.FileVersionMinor})
            .arg(int{VersionMajor})
            .arg(int{VersionMinor});
    case TIgnoredBecause::SizeMismatch:
        return QStringLiteral("the size it states is not its size (cut short or extended)");
    case TIgnoredBecause::ReadFailed:
    case TIgnoredBecause::Nothing:
        break;
    }
    return QStringLiteral("could not be read");
}

// Where a merge stopped, and what it had read before.
QString StoppedReason(const TMergeReport& report) {
    const QString where =
        report.StoppedBecause == TStoppedBecause::ReadFailed
            ? QStringLiteral("could not be read beyond byte %1").arg(report.StopOffset)
            : QStringLiteral("computer block %1 (at byte %2) states more than the file holds")
                  .arg(report.StopBlock + 1)
                  .arg(report.StopOffset);
    return QStringLiteral("%1: %2 of the %3 it states read, with %4; the other %5 and their "
                          "results not read")
        .arg(where)
        .arg(report.BlocksMerged + report.ComputersLeftOut)
        .arg(Plural(report.BlocksDeclared, "computer", "computers"))
        .arg(Plural(report.ResultsRead() + report.ResultsLeftOut, "result", "results"))
        .arg(Plural(report.ComputersNotReached(), "computer", "computers"));
}

QString LeftOutCount(const TMergeReport& report) {
    return QStringLiteral("%1 and %2 left out: they cannot be measurements")
        .arg(Plural(report.ComputersLeftOut, "computer", "computers"))
        .arg(Plural(report.ResultsLeftOut, "result", "results"));
}

QString Words(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString NotOpenedReason(const TMergeReport& report) {
    if (report.HeldByAnotherCopy)
        return QStringLiteral("another copy of the program held it to the end of the wait");
    if (report.OpenErrno != 0)
        return QStringLiteral("it could not be opened: %1")
            .arg(QString::fromStdString(SystemErrorText(report.OpenErrno)));
    return QStringLiteral("it could not be opened");
}

} // namespace

QString SummariseMergeReport(const TMergeReport& report) {
    QStringList parts;
    switch (report.Outcome) {
    case TMergeOutcome::Missing:
        return QStringLiteral("there is no such file");
    case TMergeOutcome::NotOpened:
        return NotOpenedReason(report);
    case TMergeOutcome::Ignored:
        return IgnoredReason(report) + QStringLiteral("; nothing of it was read");
    case TMergeOutcome::Stopped:
        parts.append(StoppedReason(report));
        break;
    case TMergeOutcome::Merged:
        if (report.ComputersNotReached() > 0)
            parts.append(QStringLiteral("it states %1 but holds %2")
                             .arg(Plural(report.BlocksDeclared, "computer", "computers"))
                             .arg(report.BlocksMerged + report.ComputersLeftOut));
        if (report.BytesLeftUnread > 0)
            parts.append(
                QStringLiteral("%1 after its last computer not read")
                    .arg(Plural(static_cast<qint64>(report.BytesLeftUnread), "byte", "bytes")));
        break;
    }
    if (report.ComputersLeftOut > 0 || report.ResultsLeftOut > 0) {
        QStringList reasons;
        for (const auto& [why, count] : report.LeftOutReasons)
            reasons.append(QStringLiteral("%1 (%2)").arg(Words(ImplausibleText(why))).arg(count));
        parts.append(LeftOutCount(report) + QStringLiteral(": ") +
                     reasons.join(QStringLiteral("; ")));
    }
    return parts.join(QStringLiteral("; "));
}

QStringList DescribeMergeReport(const QString& fileName, const TMergeReport& report) {
    QStringList lines;
    const auto say = [&](const QString& text) {
        lines.append(fileName + QStringLiteral(": ") + text);
    };
    switch (report.Outcome) {
    case TMergeOutcome::Missing:
        say(QStringLiteral("no such file"));
        return lines;
    case TMergeOutcome::NotOpened:
        say(QStringLiteral("not read: ") + NotOpenedReason(report));
        return lines;
    case TMergeOutcome::Ignored: {
        const bool aResultsFile = report.IgnoredBecause != TIgnoredBecause::NotAFile &&
                                  report.IgnoredBecause != TIgnoredBecause::ReadFailed;
        say(IgnoredReason(report) + (aResultsFile ? QStringLiteral("; ignored whole") : QString()));
        return lines;
    }
    case TMergeOutcome::Stopped:
        say(StoppedReason(report));
        break;
    case TMergeOutcome::Merged:
        if (report.BlocksDeclared < 0)
            say(QStringLiteral("states a negative number of computers (%1); none read")
                    .arg(report.BlocksDeclared));
        else if (report.BlocksMerged + report.ComputersLeftOut < report.BlocksDeclared)
            say(QStringLiteral("states %1 but holds %2; the rest is ignored")
                    .arg(Plural(report.BlocksDeclared, "computer", "computers"))
                    .arg(report.BlocksMerged + report.ComputersLeftOut));
        if (report.BytesLeftUnread > 0)
            say(QStringLiteral("%1 after the last computer ignored")
                    .arg(Plural(static_cast<qint64>(report.BytesLeftUnread), "byte", "bytes")));
        break;
    }
    if (report.ComputersLeftOut > 0 || report.ResultsLeftOut > 0)
        say(LeftOutCount(report));
    for (const TMergeReport::TLeftOut& record : report.LeftOut) {
        const QString why = Words(ImplausibleText(record.Why));
        if (record.Result < 0)
            say(QStringLiteral("computer block %1 left out with its results: %2")
                    .arg(record.Block + 1)
                    .arg(why));
        else
            say(QStringLiteral("result %1 of computer block %2 left out: %3")
                    .arg(record.Result + 1)
                    .arg(record.Block + 1)
                    .arg(why));
    }
    if (report.LeftOut.size() == TMergeReport::MaxLeftOutListed)
        say(QStringLiteral("(only the first %1 records left out are listed)")
                .arg(TMergeReport::MaxLeftOutListed));
    if (report.KnownComputers > 0)
        say(QStringLiteral("%1 repeated an earlier computer: device lists ignored, results merged")
                .arg(Plural(report.KnownComputers, "computer block", "computer blocks")));
    if (report.ResultsReplaced > 0)
        say(QStringLiteral("%1 replaced by later ones of the same test configuration")
                .arg(Plural(report.ResultsReplaced, "result", "results")));
    if (report.ResultsNotLater > 0)
        say(QStringLiteral("%1 ignored: not later than another of the same test configuration")
                .arg(Plural(report.ResultsNotLater, "result", "results")));
    return lines;
}
