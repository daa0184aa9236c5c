#include "platform/DisplayModeTest.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

bool DisplayModeAccepted(int screenWidth, int screenHeight, int width, int height, int depth) {
    return (depth == 16 || depth == 32) && width > 0 && height > 0 && width <= screenWidth &&
           height <= screenHeight;
}

bool DisplayModeAvailable(int width, int height, int depth) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return false;
    // Device pixels: a scaled desktop still shows the mode's pixels one for one.
    const double ratio = screen->devicePixelRatio();
    const QSize size = screen->geometry().size();
    return DisplayModeAccepted(static_cast<int>(std::lround(size.width() * ratio)),
                               static_cast<int>(std::lround(size.height() * ratio)), width, height,
                               depth);
}
