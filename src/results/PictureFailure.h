// What the results window says when the chart's picture could not be saved.
#pragma once

#include "chart/ChartPicture.h"

// Why the picture was not saved, for the results window (Russian).
QString PictureFailureText(const TPictureFailure& failure, const QString& fileName, int height);
