// The rounded, shaded blue background of every window and of every button glyph.
#pragma once

#include <QImage>

class QPainter;

// Paints the W x H area: the base colour, N one-pixel rings lightening towards the inside with
// corners rounded to radius R, the last ring's colour inside, and the bottom-left pixel black.
void PaintBackground(QPainter& canvas, int W, int H, int R, int N);
// The glyph of a button of that size: the background (R 10, N 3) on the face less 2 pixels
// each side.
QImage ButtonGlyph(int buttonWidth, int buttonHeight);
