#include "QadGraphTools.h"

#include <QPainter>
#include <QPen>

#include <cmath>

namespace QadGraphTools {

namespace {

// Rounds to the nearest integer, halves to even (the default FP mode).
int RoundEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

int Wrap256(int value)
{
    return ((value % 256) + 256) % 256;
}

void SetPenColor(QPainter& canvas, const QColor& color)
{
    QPen pen = canvas.pen();
    pen.setColor(color);
    canvas.setPen(pen);
}

}

void DrawLineInclusive(QPainter& canvas, int x1, int y1, int x2, int y2)
{
    canvas.drawLine(x1, y1, x2, y2);
    canvas.drawPoint(x2, y2);
}

void DrawFrame(QPainter& canvas, int left, int top, int right, int bottom)
{
    DrawLineInclusive(canvas, left, top, right, top);
    DrawLineInclusive(canvas, right, top, right, bottom);
    DrawLineInclusive(canvas, right, bottom, left, bottom);
    DrawLineInclusive(canvas, left, bottom, left, top);
}

void DrawFrame(QPainter& canvas, const QRect& rect)
{
    DrawFrame(canvas, rect.left(), rect.top(), rect.right(), rect.bottom());
}

QColor LightenColor(const QColor& color, int percent)
{
    const QColor rgb = color.toRgb();
    auto lighten = [percent](int c) { return RoundEven(c + (255 - c) * percent / 100.0); };
    return QColor(lighten(rgb.red()), lighten(rgb.green()), lighten(rgb.blue()));
}

QColor BlendColor(const QColor& from, const QColor& to, int percent)
{
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    auto blend = [percent](int c1, int c2) { return Wrap256(RoundEven(c1 + (c2 - c1) * percent / 100.0)); };
    return QColor(blend(a.red(), b.red()), blend(a.green(), b.green()), blend(a.blue(), b.blue()));
}

int GradientPercent(int start, int position, int end)
{
    if (start == end)
        return 100;
    return RoundEven((position - start) * 100.0 / (end - start));
}

void FillGradientRows(QPainter& canvas, const QColor& from, const QColor& to, const QRect& rect)
{
    const QPen saved = canvas.pen();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        SetPenColor(canvas, BlendColor(from, to, GradientPercent(rect.top(), y, rect.bottom())));
        DrawLineInclusive(canvas, rect.left(), y, rect.right(), y);
    }
    canvas.setPen(saved);
}

void FillGradientColumns(QPainter& canvas, const QColor& from, const QColor& to, const QRect& rect)
{
    const QPen saved = canvas.pen();
    for (int x = rect.left(); x <= rect.right(); ++x) {
        SetPenColor(canvas, BlendColor(from, to, GradientPercent(rect.left(), x, rect.right())));
        DrawLineInclusive(canvas, x, rect.top(), x, rect.bottom());
    }
    canvas.setPen(saved);
}

}
