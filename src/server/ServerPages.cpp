#include "server/ServerPages.h"

#include "chart/ChartModel.h"
#include "chart/ChartPainter.h"
#include "server/ServerChart.h"
#include "server/ServerJson.h"
#include "state/RecordColumns.h"

#include <QString>
#include <QStringList>

namespace {

const char* const FilterTitles[] = {"Любое ускорение", "Аппаратное ускорение",
                                    "Программное ускорение", "Программная эмуляция"};

QString Escaped(const QString& text) {
    // Control characters (ESC, DEL and the C1 range) have no place in a page: each is shown as
    // the replacement character. toHtmlEscaped leaves the apostrophe; attribute values here are
    // always in double quotes.
    QString shown = text;
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            c = QChar::ReplacementCharacter;
    return shown.toHtmlEscaped();
}

QString Number(float value) {
    return ChartNumberText(value, ServerDecimalPoint());
}

QString ModeText(const TResultRecord& r) {
    return QStringLiteral("%1 × %2, %3 бит").arg(r.Width).arg(r.Height).arg(r.Depth);
}

QString RankingAddress(std::int32_t acceleration, std::int64_t offset) {
    return QStringLiteral("/?accel=%1&amp;offset=%2")
        .arg(QLatin1String(AccelerationFilterName(acceleration)))
        .arg(offset);
}

QByteArray Document(const QString& title, const QString& body) {
    return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
                           "<title>") +
            Escaped(title) +
            QStringLiteral(
                "</title>\n<style>\n"
                "body{font-family:'Liberation Sans',Arial,sans-serif;margin:1.5em;color:#111}\n"
                "nav a,nav strong{margin-right:1em}\n"
                "table{border-collapse:collapse;margin-top:1em}\n"
                "th,td{border:1px solid #999;padding:.25em .6em;text-align:left}\n"
                "td.n{text-align:right}\nth{background:#c0c0c0}\n"
                "img{display:block;margin-top:1em;border:1px solid #999}\n"
                "div.ranking{display:flex;flex-wrap:wrap;gap:0 2em;align-items:flex-start}\n"
                "</style>\n</head>\n<body>\n") +
            body + QStringLiteral("</body>\n</html>\n"))
        .toUtf8();
}

} // namespace

QByteArray RankingPageHtml(const TRankingPage& page, std::int32_t acceleration,
                           std::int64_t offset) {
    QString body = QStringLiteral("<h1>Стендограф: результаты всех компьютеров</h1>\n<nav>");
    for (std::int32_t a = 0; a < 4; ++a) {
        const QString title = QString::fromUtf8(FilterTitles[a]);
        body += a == acceleration
                    ? QStringLiteral("<strong>%1</strong>").arg(title)
                    : QStringLiteral("<a href=\"%1\">%2</a>").arg(RankingAddress(a, 0), title);
    }
    body += QStringLiteral("</nav>\n");

    if (page.Rows.empty()) {
        body +=
            page.Total == 0
                ? QStringLiteral("<p id=\"summary\">Результатов с таким ускорением пока нет.</p>\n")
                : QStringLiteral(
                      "<p id=\"summary\">Мест всего %1; <a href=\"%2\">к первым</a>.</p>\n")
                      .arg(page.Total)
                      .arg(RankingAddress(acceleration, 0));
        return Document(QStringLiteral("Стендограф: результаты"), body);
    }
    const std::int64_t last = offset + static_cast<std::int64_t>(page.Rows.size());
    body += QStringLiteral("<p id=\"summary\">Места %1–%2 из %3.</p>\n")
                .arg(offset + 1)
                .arg(last)
                .arg(page.Total);
    QString pages = QStringLiteral("<nav id=\"pages\">");
    if (offset > 0)
        pages += QStringLiteral("<a rel=\"prev\" href=\"%1\">← Предыдущие</a>")
                     .arg(RankingAddress(acceleration,
                                         std::max<std::int64_t>(0, offset - RankingPageSize)));
    if (last < page.Total)
        pages += QStringLiteral("<a rel=\"next\" href=\"%1\">Следующие →</a>")
                     .arg(RankingAddress(acceleration, last));
    body += pages + QStringLiteral("</nav>\n");

    // The table beside the chart of the same entries, the chart under it on narrow screens.
    const QString chart =
        QStringLiteral("<img id=\"chart\" src=\"/chart.png?view=all&amp;accel=%1&amp;"
                       "rows=%2:%3\" width=\"%4\" alt=\"Диаграмма результатов\">\n")
            .arg(QLatin1String(AccelerationFilterName(acceleration)))
            .arg(offset + 1)
            .arg(page.Rows.size())
            .arg(ChartWidth);

    body += QStringLiteral("<div class=\"ranking\">\n<table "
                           "id=\"ranking\">\n<thead><tr><th>Место</th><th>Процессор</th>"
                           "<th>Видеоадаптер</th><th>Ускорение</th><th>Режим</th>"
                           "<th>Треугольников в мс</th><th>Кадров в секунду</th></tr></thead>\n"
                           "<tbody>\n");
    for (std::size_t i = 0; i < page.Rows.size(); ++i) {
        const TRankingRow& row = page.Rows[i];
        body += QStringLiteral("<tr data-computer=\"%1\" data-accel=\"%2\"><td class=\"n\">%3</td>"
                               "<td><a href=\"/computers/%1\">%4</a></td><td>%5</td><td>%6</td>"
                               "<td>%7</td><td class=\"n\">%8</td><td class=\"n\">%9</td></tr>\n")
                    .arg(row.ComputerId)
                    .arg(QLatin1String(AccelerationFilterName(row.Kind + 1)))
                    .arg(offset + static_cast<std::int64_t>(i) + 1)
                    .arg(Escaped(ReadableText(row.Computer.Processor)),
                         Escaped(ReadableText(row.Computer.VideoAdapter)),
                         QString::fromUtf8(ChartKinds[row.Kind].Heading), ModeText(row.Result),
                         Number(row.Result.TrianglesPerMs), Number(row.Result.Fps));
    }
    body += QStringLiteral("</tbody>\n</table>\n") + chart + QStringLiteral("</div>\n");
    return Document(QStringLiteral("Стендограф: результаты"), body);
}

QByteArray ComputerPageHtml(const TStoredComputer& computer) {
    const TComputerRecord& c = computer.Computer;
    const QString processor = Escaped(ReadableText(c.Processor));
    QString body = QStringLiteral("<nav><a href=\"/\">← Результаты всех компьютеров</a></nav>\n"
                                  "<h1>%1</h1>\n<h2>%2</h2>\n")
                       .arg(processor, Escaped(ReadableText(c.VideoAdapter)));
    const std::pair<const char*, const TStringSlot*> facts[] = {{"Набор микросхем", &c.Chipset},
                                                                {"Память, МБ", &c.MemoryMB},
                                                                {"Операционная система", &c.OSName},
                                                                {"Владелец", &c.Owner},
                                                                {"Часовой пояс", &c.TimeZone}};
    body += QStringLiteral("<table id=\"computer\">\n");
    for (const auto& [title, slot] : facts)
        body += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n")
                    .arg(QString::fromUtf8(title), Escaped(ReadableText(*slot)));
    QStringList devices;
    for (const TStringSlot& line : computer.Devices)
        devices.append(Escaped(ReadableText(line)));
    body += QStringLiteral("<tr><th>Устройства</th><td>%1</td></tr>\n</table>\n")
                .arg(devices.join(QStringLiteral("<br>")));
    body += QStringLiteral("<img id=\"chart\" src=\"/chart.png?view=%1\" width=\"%2\" "
                           "alt=\"Диаграмма результатов компьютера\">\n")
                .arg(computer.Id)
                .arg(ChartWidth);
    body += QStringLiteral("<table id=\"results\">\n<thead><tr><th>Ускорение</th><th>Режим</th>"
                           "<th>Треугольников в мс</th><th>Кадров в секунду</th></tr></thead>\n"
                           "<tbody>\n");
    for (const TResultRecord& r : computer.Results) {
        const char* kind = r.HardwareDevice == 0 ? "Программная эмуляция"
                           : r.HardwareVertexProcessing != 0 ? "Аппаратное ускорение"
                                                             : "Программное ускорение";
        body +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"n\">%3</td>"
                           "<td class=\"n\">%4</td></tr>\n")
                .arg(QString::fromUtf8(kind), ModeText(r), Number(r.TrianglesPerMs), Number(r.Fps));
    }
    body += QStringLiteral("</tbody>\n</table>\n");
    return Document(QStringLiteral("Стендограф: ") + ReadableText(c.Processor), body);
}

QByteArray MessagePageHtml(const QString& heading, const QString& text) {
    return Document(heading, QStringLiteral("<h1>%1</h1>\n<p>%2</p>\n<p><a href=\"/\">"
                                            "Результаты всех компьютеров</a></p>\n")
                                 .arg(Escaped(heading), Escaped(text)));
}
