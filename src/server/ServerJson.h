// The JSON answers of the server's API. Records are written with the fields of the command
// line's --export (state/RecordColumns.h), so that the two read alike.
#pragma once

#include "server/ResultsDatabase.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// The name of an acceleration filter in the API: any, hw, sw, emulation (0..3).
const char* AccelerationFilterName(std::int32_t acceleration);

QByteArray RankingJson(const TRankingPage& page, std::int32_t acceleration, std::int64_t offset,
                       std::int64_t limit);
QByteArray ComputerJson(const TStoredComputer& computer);
QByteArray UploadJson(const TUploadOutcome& outcome);
// An entry held for review, as the upload's answer and the review command describe it.
QString HeldEntryText(const THeldEntry& entry);
QByteArray ErrorJson(const QString& message);
