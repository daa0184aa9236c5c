// Records of the results store as columns: every computer and result as CSV or JSON, one row
// (or object) per result, a computer without results once, and what a merge left out in words.
// The command line's --export and the results server write the same fields. The columns are
// listed in docs/export.md.
#pragma once

#include "state/Variables.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <string_view>
#include <vector>

struct TMergeReport;

// The store as read from a file, apart from the program's globals.
struct TExportStore {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;
};

// A stored text as the user reads it: unscrambled and decoded from code page 1251. A zero
// byte, which only a damaged or foreign file holds, becomes U+FFFD so that CSV readers and
// databases take it.
QString ReadableText(const TStringSlot& slot);

// The column names, in order.
QStringList ExportColumnNames();

// The rows as CSV (RFC 4180: a header line, CRLF line ends, fields quoted when they hold a
// comma, a quote or a line break) or as a JSON array of objects, both in UTF-8.
QByteArray ExportCsv(const TExportStore& store);
QByteArray ExportJson(const TExportStore& store);
// One object of ExportJson: computer number computerNumber (from 1) with its devices and the
// result (null: a computer without results).
QJsonObject ExportJsonRow(std::size_t computerNumber, const TComputerRecord& computer,
                          const std::vector<TStringSlot>& devices, const TResultRecord* result);
// The text as a JSON string onto out: quotes, backslashes and control characters escaped, the
// rest as UTF-8. (Written by hand because QJsonDocument needs a whole document built first; a
// page of the ranking spent most of its time on that.)
void AppendJsonString(QByteArray& out, const QString& text);
// The same object as ExportJsonRow written as compact JSON text onto out, without building it
// first: without the column named leaveOut (none when empty), and with the members of more
// (JSON text such as "\"rank\":1"; none when empty) after the columns.
void AppendExportJsonRow(QByteArray& out, std::size_t computerNumber,
                         const TComputerRecord& computer, const std::vector<TStringSlot>& devices,
                         const TResultRecord* result, std::string_view leaveOut = {},
                         std::string_view more = {});

// What a merge of the file left out, one line each, for standard error; empty for a file
// read whole.
QStringList DescribeMergeReport(const QString& fileName, const TMergeReport& report);
// The same in one phrase about the file ("it is ..."), without the records one by one.
QString SummariseMergeReport(const TMergeReport& report);
