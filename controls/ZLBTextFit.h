// Shortening of texts that do not fit their column, ending them in "...".
#pragma once

#include <QString>

class QFontMetrics;

namespace ZLBTextFit {

// A list cell of the given width: the text plus 4 pixels must fit.
QString FitCellText(QString text, const QFontMetrics& metrics, int width);

// A header section text that must fit into `available` pixels.
QString FitHeaderText(QString text, const QFontMetrics& metrics, int available);

}
