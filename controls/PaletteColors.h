#pragma once
// Colours that stay readable with a light and with a dark palette (light text
// on dark windows), shared by the windows that show faults.
#include <QColor>
#include <QPalette>

// True for a palette with light text on dark windows.
inline bool IsDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

// Text that tells of a fault: a dark red on light windows, a light red on
// dark ones.
inline QColor FaultColor(const QPalette& palette)
{
    return IsDarkPalette(palette) ? QColor(0xFF, 0x5A, 0x5A) : QColor(0xC0, 0x00, 0x00);
}
