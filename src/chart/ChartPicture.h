// The whole chart of a layout as a picture file, painted band by band so that even a chart
// millions of rows tall is never held whole in memory.
#pragma once

#include "chart/ChartModel.h"
#include "platform/FileReplacement.h"

#include <QString>
#include <functional>

class QIODevice;

// Why a picture was not saved.
struct TPictureFailure {
    bool TooTallForBmp = false; // taller than MaxBmpChartHeight
    bool Cancelled = false;     // the progress callback asked to stop
    TFileError File;            // the step of writing the file that failed
};

// Told after each band of rows is painted: rows painted so far of rows in all. False stops the
// save, which then leaves no file behind.
using TPictureProgress = std::function<bool(int rowsDone, int rowsTotal)>;

// Writes the picture as a 16-colour BMP (4 bits a pixel) when the file name ends in ".bmp",
// otherwise as a 16-colour PNG. While one band is painted the one before is encoded and
// written, so the save takes little more than the slower of the two. The file is replaced
// only when everything was written and synced; on failure or when stopped no file is left
// behind (an old one stays as it was), and false is returned with the reason in *failure.
bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, TPictureFailure* failure,
                      const TPictureProgress& progress = {});

// Writes the picture as a 16-colour PNG to device; false when the device did not take it all.
bool WriteChartPng(const TChartLayout& layout, QIODevice& device, const QString& decimalPoint);

// The tallest picture a BMP holds: its header counts the file's bytes in 32 bits.
inline constexpr int MaxBmpChartHeight = (0xFFFFFFFF - 118) / (ChartWidth / 2);
