// The server's pages, in Russian, written on the server: the ranking of all computers as the
// chart and as a table, and the view of one computer. Every stored text is escaped, so that
// markup in a computer's description shows as the text it is.
#pragma once

#include "server/ResultsDatabase.h"

#include <QByteArray>
#include <cstdint>

// Entries on one page of the ranking.
inline constexpr std::int64_t RankingPageSize = 20;

// The page of the ranking holding entries offset .. offset + RankingPageSize - 1 of the filter.
QByteArray RankingPageHtml(const TRankingPage& page, std::int32_t acceleration,
                           std::int64_t offset);
QByteArray ComputerPageHtml(const TStoredComputer& computer);
// A page saying what went wrong, with a link back to the ranking.
QByteArray MessagePageHtml(const QString& heading, const QString& text);
