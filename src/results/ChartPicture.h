// The chart picture writer of the results window lives in the chart layer, shared with the
// server.
#pragma once

#include "chart/ChartPicture.h"
