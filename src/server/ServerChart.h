// The server's chart pictures, drawn by the results window's own painter from database rows:
// a page of the ranking, or one computer's tables.
#pragma once

#include "chart/ChartModel.h"
#include "server/ResultsDatabase.h"

#include <QByteArray>
#include <QString>

// The decimal separator of the server's pictures and page, Russian as the page is.
QString ServerDecimalPoint();

// The all-computers chart of the page's rows, the bars scaled to the greatest value of the
// whole ranking (page.Max), as the window's chart cut to those rows is.
TChartLayout RankingChartLayout(const TRankingPage& page, std::int32_t acceleration);

// The one-computer chart of a stored computer (no computer is this server's own, so no mode is
// marked as still to be tested).
TChartLayout ComputerChartLayout(const TStoredComputer& computer);

// The picture as PNG bytes; empty when it cannot be drawn.
QByteArray ChartPng(const TChartLayout& layout);
