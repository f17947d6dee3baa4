#include "TextLineView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

constexpr int TextMargin = 2;

bool IsBlank(QChar c) { return c.isSpace(); }

} // namespace

TTextLineView::TTextLineView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void TTextLineView::SetSource(const TLineSource* source)
{
    FSource = source;
    Reload();
}

int TTextLineView::CharWidth() const
{
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int TTextLineView::ColumnsPerRow() const
{
    return std::max(1, (viewport()->width() - 2 * TextMargin) / CharWidth());
}

int TTextLineView::VisibleRows() const
{
    return std::max(1, viewport()->height() / std::max(1, fontMetrics().height()));
}

int TTextLineView::RowsOf(int length) const
{
    // An empty line still takes one row.
    return length <= 0 ? 1 : (length + FLaidOutColumns - 1) / FLaidOutColumns;
}

int TTextLineView::LineOfRow(int64_t row) const
{
    const auto it = std::upper_bound(FRowEnd.begin(), FRowEnd.end(), row);
    return static_cast<int>(it - FRowEnd.begin());
}

int64_t TTextLineView::TopRow() const { return verticalScrollBar()->value(); }

void TTextLineView::AppendLayout(int fromLine)
{
    const int count = FSource ? FSource->LineCount() : 0;
    FRowEnd.reserve(static_cast<size_t>(count));
    int64_t end = RowStart(fromLine);
    for (int line = fromLine; line < count; ++line) {
        end += RowsOf(FSource->LineLength(line));
        FRowEnd.push_back(end);
    }
}

void TTextLineView::Relayout()
{
    FLaidOutColumns = ColumnsPerRow();
    FRowEnd.clear();
    AppendLayout(0);
}

void TTextLineView::Reload()
{
    Relayout();
    ClearSelection();
    SyncScrollBar();
    viewport()->update();
}

void TTextLineView::LinesAppended()
{
    const int known = LineCount();
    if (!FSource || FSource->LineCount() < known) {
        Reload();
        return;
    }
    AppendLayout(known);
    // Many lines may be appended in a row; the scroll bar and the picture are
    // brought up to date once, when the program is idle again.
    ScheduleScrollBarSync();
}

void TTextLineView::ScheduleScrollBarSync()
{
    if (FSyncPending)
        return;
    FSyncPending = true;
    QMetaObject::invokeMethod(this, [this] { SyncScrollBar(); viewport()->update(); }, Qt::QueuedConnection);
}

void TTextLineView::SyncScrollBar()
{
    FSyncPending = false;
    QScrollBar* bar = verticalScrollBar();
    // A view that showed the last row keeps following the end of the log.
    const bool atEnd = bar->value() >= bar->maximum();
    const int page = VisibleRows();
    const int64_t maxTop = std::max<int64_t>(0, RowCount() - page);
    const int maximum = static_cast<int>(std::min<int64_t>(maxTop, INT_MAX));
    bar->setRange(0, maximum);
    bar->setPageStep(page);
    bar->setSingleStep(1);
    if (atEnd)
        bar->setValue(maximum);
}

void TTextLineView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    // New wrap width: the rows of every line change, the selection stays.
    if (ColumnsPerRow() != FLaidOutColumns)
        Relayout();
    SyncScrollBar();
}

void TTextLineView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    // New character size: the rows of every line change, the selection stays.
    if (event->type() == QEvent::FontChange) {
        Relayout();
        SyncScrollBar();
        viewport()->update();
    }
}

void TTextLineView::paintEvent(QPaintEvent*)
{
    if (!FSource || FRowEnd.empty())
        return;
    QPainter painter(viewport());
    painter.setFont(font());
    const int lineHeight = std::max(1, fontMetrics().height());
    const int height = viewport()->height();
    int64_t row = TopRow();
    int y = 0;
    for (int line = LineOfRow(row); line < LineCount() && y < height; ++line) {
        const QString text = FSource->LineText(line);
        const int64_t start = RowStart(line);
        const int rows = static_cast<int>(FRowEnd[static_cast<size_t>(line)] - start);
        for (int r = static_cast<int>(row - start); r < rows && y < height; ++r) {
            const int firstColumn = r * FLaidOutColumns;
            DrawRowSegment(painter, text.mid(firstColumn, FLaidOutColumns), firstColumn, line, y);
            y += lineHeight;
            ++row;
        }
    }
}

void TTextLineView::DrawRowSegment(QPainter& painter, const QString& segment, int firstColumn, int line, int y) const
{
    const int charWidth = CharWidth();
    const int lineHeight = std::max(1, fontMetrics().height());
    const int baseline = y + fontMetrics().ascent();
    const TTextPos from = std::min(FAnchor, FCursor);
    const TTextPos to = std::max(FAnchor, FCursor);
    // Selected columns of this segment: [selBegin, selEnd) relative to it.
    int selBegin = 0;
    int selEnd = 0;
    if (from != to && line >= from.line && line <= to.line) {
        const int lineFrom = line == from.line ? from.column : 0;
        const int lineTo = line == to.line ? to.column : INT_MAX;
        selBegin = std::clamp(lineFrom - firstColumn, 0, static_cast<int>(segment.size()));
        selEnd = std::clamp(lineTo - firstColumn, 0, static_cast<int>(segment.size()));
    }
    const QPalette& pal = palette();
    auto drawPart = [&](int begin, int end, bool selected) {
        if (end <= begin)
            return;
        const int x = TextMargin + begin * charWidth;
        if (selected) {
            painter.fillRect(x, y, (end - begin) * charWidth, lineHeight, pal.brush(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
        } else {
            painter.setPen(pal.color(QPalette::Text));
        }
        painter.drawText(x, baseline, segment.mid(begin, end - begin));
    };
    drawPart(0, selBegin, false);
    drawPart(selBegin, selEnd, true);
    drawPart(std::max(selEnd, selBegin), static_cast<int>(segment.size()), false);
}

TTextLineView::TTextPos TTextLineView::PositionAt(const QPoint& viewportPos) const
{
    if (FRowEnd.empty() || !FSource)
        return {};
    const int lineHeight = std::max(1, fontMetrics().height());
    const int64_t row = std::max<int64_t>(0, TopRow() + (viewportPos.y() < 0 ? -1 : viewportPos.y() / lineHeight));
    if (row >= RowCount()) {
        const int last = LineCount() - 1;
        return {last, FSource->LineLength(last)};
    }
    const int line = LineOfRow(row);
    const int rowInLine = static_cast<int>(row - RowStart(line));
    const int charWidth = CharWidth();
    const int x = viewportPos.x() - TextMargin;
    const int columnInRow = std::clamp((x + charWidth / 2) / charWidth, 0, FLaidOutColumns);
    const int column = std::min(rowInLine * FLaidOutColumns + columnInRow, FSource->LineLength(line));
    return {line, column};
}

QPoint TTextLineView::PointOf(TTextPos pos) const
{
    if (FRowEnd.empty() || pos.line < 0 || pos.line >= LineCount())
        return {};
    const int lineHeight = std::max(1, fontMetrics().height());
    const int rowInLine = pos.column / FLaidOutColumns;
    const int64_t row = RowStart(pos.line) + rowInLine - TopRow();
    const int x = TextMargin + (pos.column - rowInLine * FLaidOutColumns) * CharWidth();
    return {x, static_cast<int>(std::clamp<int64_t>(row * lineHeight, INT_MIN / 2, INT_MAX / 2))};
}

QString TTextLineView::SelectedText() const
{
    if (!FSource || !HasSelection())
        return {};
    const TTextPos from = std::min(FAnchor, FCursor);
    const TTextPos to = std::max(FAnchor, FCursor);
    QString text;
    for (int line = from.line; line <= to.line && line < FSource->LineCount(); ++line) {
        const QString lineText = FSource->LineText(line);
        const int begin = line == from.line ? from.column : 0;
        const int end = line == to.line ? to.column : static_cast<int>(lineText.size());
        if (line != from.line)
            text += QLatin1Char('\n');
        text += lineText.mid(begin, end - begin);
    }
    return text;
}

void TTextLineView::Select(TTextPos from, TTextPos to)
{
    FAnchor = from;
    FCursor = to;
    viewport()->update();
}

void TTextLineView::SelectAll()
{
    if (FRowEnd.empty())
        return;
    const int last = LineCount() - 1;
    Select({0, 0}, {last, FSource->LineLength(last)});
}

void TTextLineView::ClearSelection() { Select({}, {}); }

void TTextLineView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const TTextPos pos = PositionAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier)
        Select(FAnchor, pos);
    else
        Select(pos, pos);
    FSelecting = true;
}

void TTextLineView::mouseMoveEvent(QMouseEvent* event)
{
    if (!FSelecting || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint p = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls the view one row.
    if (p.y() < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    else if (p.y() >= viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    Select(FAnchor, PositionAt(p));
}

void TTextLineView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && FSelecting) {
        FSelecting = false;
        Select(FAnchor, PositionAt(event->position().toPoint()));
    }
    if (OnMouseUp)
        OnMouseUp(event);
}

void TTextLineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !FSource || FRowEnd.empty())
        return;
    // Selects the run of non-blank characters under the mouse (one byte of a
    // hex dump, for instance).
    const TTextPos pos = PositionAt(event->position().toPoint());
    const QString text = FSource->LineText(pos.line);
    int begin = std::min(pos.column, static_cast<int>(text.size()));
    int end = begin;
    while (begin > 0 && !IsBlank(text[begin - 1]))
        --begin;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    Select({pos.line, begin}, {pos.line, end});
    FSelecting = false;
}

void TTextLineView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        if (HasSelection())
            QApplication::clipboard()->setText(SelectedText());
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}
