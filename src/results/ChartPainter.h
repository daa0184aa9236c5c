// The chart painter of the results window lives in the chart layer, shared with the server.
#pragma once

#include "chart/ChartPainter.h"
