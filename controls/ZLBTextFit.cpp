#include "ZLBTextFit.h"

#include <QFontMetrics>

namespace ZLBTextFit {

namespace {

// Drops the last character and turns the one now third from the end into
// ".", so a text ending in "..." keeps that ending while getting shorter.
void ShortenOnce(QString& text)
{
    text.chop(1);
    text[text.length() - 3] = QLatin1Char('.');
}

}

QString FitCellText(QString text, const QFontMetrics& metrics, int width)
{
    auto tooWide = [&] { return width < metrics.horizontalAdvance(text) + 4; };
    if (!tooWide())
        return text;
    text.chop(1);
    text += QStringLiteral("...");
    while (tooWide() && text.length() > 3)
        ShortenOnce(text);
    return text;
}

QString FitHeaderText(QString text, const QFontMetrics& metrics, int available)
{
    auto tooWide = [&] { return metrics.horizontalAdvance(text) > available; };
    if (!tooWide())
        return text;
    text = text.length() > 3 ? text.left(text.length() - 3) + QStringLiteral("...")
                             : QStringLiteral("...");
    while (tooWide() && text.length() >= 4)
        ShortenOnce(text);
    return text;
}

}
