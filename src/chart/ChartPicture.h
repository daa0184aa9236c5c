// The whole chart of a layout as a picture file, painted band by band so that even a chart
// millions of rows tall is never held whole in memory as a 32-bit image.
#pragma once

#include "chart/ChartModel.h"

#include <QString>

class QIODevice;

// Writes the picture as a 16-colour BMP (4 bits a pixel) when the file name ends in ".bmp",
// otherwise as a PNG with the 16-colour palette. The file is replaced only when everything
// was written. On failure returns false with a message for the user in *error.
bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, QString* error);

// Writes the picture as a PNG with the 16-colour palette to device; false when the picture is
// too tall for PNG or the device did not take it all.
bool WriteChartPng(const TChartLayout& layout, QIODevice& device, const QString& decimalPoint);

// The tallest picture that is saved as PNG: the PNG writer needs the whole picture at once,
// at one byte a pixel.
inline constexpr int MaxPngChartHeight = 200000;
