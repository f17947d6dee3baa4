#pragma once
// The main window's colours (the platform values of the form are 0x00BBGGRR).
// The light panel colours are made for a light palette; with a dark one
// (light text on dark windows) the palette's own colours take their place,
// so that texts stay readable.
#include "PaletteColors.h"

#include <QColor>
#include <QPalette>

namespace AppColors {

// Body of the command panels (14994616).
inline const QColor CommandPanel{0xB8, 0xCC, 0xE4};
// Strip on the command panels' left edge and light end of the caption
// gradient of the collapsible panels (12419407).
inline const QColor CaptionStrip{0x4F, 0x81, 0xBD};
// Dark end of the caption gradient of the collapsible panels (8210719).
inline const QColor CaptionDark{0x1F, 0x49, 0x7D};
// Texts of the grasping-state display on its black panel.
inline const QColor StateText{0xFF, 0xFF, 0x00};
// The system-state word.
inline const QColor SystemStateText{0x00, 0x00, 0x80};
// Disabled texts on the command panels.
inline const QColor DisabledPanelText{0x5A, 0x68, 0x7C};

// True for a palette with light text on dark windows.
inline bool IsDark(const QPalette& palette)
{
    return IsDarkPalette(palette);
}

inline QColor CommandPanelBody(const QPalette& palette)
{
    return IsDark(palette) ? palette.color(QPalette::Button) : CommandPanel;
}

// Background of the line that tells of a fast stop (white text on it).
inline const QColor FastStopLine{0xB0, 0x00, 0x00};

// A fault flag that is set.
inline QColor Fault(const QPalette& palette)
{
    return FaultColor(palette);
}

// The palette's own check box indicators nearly vanish on a dark window:
// Fusion draws their frame a little darker than the window and fills them
// with the dark base colour. A light window colour (which check boxes do
// not fill) gives them a clearly visible frame, a lighter base a visible box.
inline QPalette VisibleIndicators(QPalette palette)
{
    if (IsDark(palette)) {
        palette.setColor(QPalette::Window, QColor(0xC8, 0xC8, 0xC8));
        palette.setColor(QPalette::Base, QColor(0x5A, 0x5A, 0x5A));
    }
    return palette;
}

inline QColor SystemState(const QPalette& palette)
{
    return IsDark(palette) ? palette.color(QPalette::WindowText) : SystemStateText;
}

}
