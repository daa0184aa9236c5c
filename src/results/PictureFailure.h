// What the results window says when the chart's picture was saved or could not be.
#pragma once

#include "chart/ChartPicture.h"

// Why the picture was not saved, for the results window (Russian).
QString PictureFailureText(const TPictureFailure& failure, const QString& fileName, int height);
// That it was.
QString PictureSavedText(const QString& fileName);
