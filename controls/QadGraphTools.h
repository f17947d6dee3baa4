// Small drawing routines shared by the custom controls: inclusive lines and
// frames, colour lightening and blending, and line-by-line gradient fills.
// All drawing uses the painter's current pen; rectangles are given by their
// inclusive corners (QRect::left/top/right/bottom).
#pragma once

#include <QColor>
#include <QRect>

class QPainter;

namespace QadGraphTools {

// A line from (x1, y1) to (x2, y2) whose end pixel is set as well.
void DrawLineInclusive(QPainter& canvas, int x1, int y1, int x2, int y2);

// The four sides of the rectangle: top, right, bottom, left.
void DrawFrame(QPainter& canvas, int left, int top, int right, int bottom);
void DrawFrame(QPainter& canvas, const QRect& rect);

// Moves each channel the given percentage of the way towards 255.
QColor LightenColor(const QColor& color, int percent);

// Each channel moves the given percentage of the way from `from` to `to`,
// wrapped into 0..255.
QColor BlendColor(const QColor& from, const QColor& to, int percent);

// Position between start and end in percent, rounded; a span of a single
// row or column (start == end) counts as fully reached (100).
int GradientPercent(int start, int position, int end);

// One horizontal line per row, colour changing from top to bottom.
void FillGradientRows(QPainter& canvas, const QColor& from, const QColor& to, const QRect& rect);

// One vertical line per column, colour changing from left to right.
void FillGradientColumns(QPainter& canvas, const QColor& from, const QColor& to, const QRect& rect);

}
