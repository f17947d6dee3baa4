#include "ElidedLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

TElidedLabel::TElidedLabel(QWidget* parent) : QFrame(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TElidedLabel::setText(const QString& text)
{
    if (text == FText)
        return;
    FText = text;
    update();
}

QStringList TElidedLabel::VisibleLines() const
{
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.lineSpacing();
    const int maxLines = std::max(1, area.height() / std::max(1, lineHeight));
    const int width = std::max(1, area.width());

    QStringList lines;
    QTextLayout layout(FText, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const int start = line.textStart();
        if (lines.size() + 1 == maxLines) {
            // Every character is at least one pixel wide, so width + 1 of
            // them always overflow the line and get the ellipsis; the rest of
            // a long text need not be measured.
            const QString rest = FText.mid(start, width + 1);
            const bool cut = start + line.textLength() < FText.size();
            lines << (cut ? metrics.elidedText(rest, Qt::ElideRight, width) : rest);
            break;
        }
        lines << FText.mid(start, line.textLength());
    }
    layout.endLayout();
    return lines;
}

QSize TElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return {metrics.horizontalAdvance(FText.left(24)) + margins.left() + margins.right(),
            metrics.lineSpacing() + margins.top() + margins.bottom()};
}

QSize TElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return {metrics.horizontalAdvance(QStringLiteral("00 \u2026")) + margins.left() + margins.right(),
            metrics.lineSpacing() + margins.top() + margins.bottom()};
}

void TElidedLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect();
    const int lineHeight = QFontMetrics(font()).lineSpacing();
    int top = area.top();
    for (const QString& line : VisibleLines()) {
        painter.drawText(QRect(area.left(), top, area.width(), lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, line);
        top += lineHeight;
    }
}
