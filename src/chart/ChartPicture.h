// The whole chart of a layout as a picture file, painted band by band so that even a chart
// millions of rows tall is never held whole in memory as a 32-bit image.
#pragma once

#include "chart/ChartModel.h"
#include "platform/FileReplacement.h"

#include <QString>

class QIODevice;

// Why a picture was not saved.
struct TPictureFailure {
    bool TooTallForPng = false; // taller than MaxPngChartHeight
    TFileError File;            // the step of writing the file that failed
};

// Writes the picture as a 16-colour BMP (4 bits a pixel) when the file name ends in ".bmp",
// otherwise as a PNG with the 16-colour palette. The file is replaced only when everything
// was written and synced; on failure no file is left behind (an old one stays as it was), and
// false is returned with the reason in *failure.
bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, TPictureFailure* failure);

// Writes the picture as a PNG with the 16-colour palette to device; false when the picture is
// too tall for PNG or the device did not take it all.
bool WriteChartPng(const TChartLayout& layout, QIODevice& device, const QString& decimalPoint);

// The tallest picture that is saved as PNG: the PNG writer needs the whole picture at once,
// at one byte a pixel.
inline constexpr int MaxPngChartHeight = 200000;
