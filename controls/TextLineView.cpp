#include "TextLineView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

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

int TTextLineView::LineHeight() const { return std::max(1, fontMetrics().height()); }

int TTextLineView::VisibleRows() const { return std::max(1, viewport()->height() / LineHeight()); }

std::vector<int> TTextLineView::WrapRows(QStringView text, int columns)
{
    columns = std::max(1, columns);
    std::vector<int> starts{0};
    const int size = static_cast<int>(text.size());
    int start = 0;
    while (size - start > columns) {
        // The row may end right before a blank in the column after its last
        // one; the blank then stays at the end of the row, out of sight.
        int blank = start + columns;
        while (blank > start && !IsBlank(text[blank]))
            --blank;
        start = blank > start ? blank + 1 : start + columns;
        if (start >= size)
            break;
        starts.push_back(start);
    }
    return starts;
}

std::vector<int> TTextLineView::RowStarts(int line) const
{
    return WrapRows(FSource->LineText(line), ColumnsPerRow());
}

int TTextLineView::RowsOfLine(int line) const
{
    if (FSource->LineLength(line) <= ColumnsPerRow())
        return 1;
    return static_cast<int>(RowStarts(line).size());
}

bool TTextLineView::RowAt(int offset, TRowPos& row) const
{
    if (!FSource || FLineCount == 0)
        return false;
    int line = FTop.line;
    int r = FTop.row + offset;
    while (r < 0) {
        if (--line < 0)
            return false;
        r += RowsOfLine(line);
    }
    for (int rows = RowsOfLine(line); r >= rows; rows = RowsOfLine(line)) {
        r -= rows;
        if (++line >= FLineCount)
            return false;
    }
    row = {line, r};
    return true;
}

TTextLineView::TRowPos TTextLineView::LastPageTop() const
{
    int remaining = VisibleRows();
    for (int line = FLineCount - 1; line >= 0; --line) {
        const int rows = RowsOfLine(line);
        if (rows >= remaining)
            return {line, rows - remaining};
        remaining -= rows;
    }
    return {};
}

void TTextLineView::Reload()
{
    FLineCount = FSource ? FSource->LineCount() : 0;
    ClearSelection();
    SyncScrollBar();
    viewport()->update();
}

void TTextLineView::LinesAppended()
{
    if (!FSource || FSource->LineCount() < FLineCount) {
        Reload();
        return;
    }
    FLineCount = FSource->LineCount();
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
    // A view that showed the last row keeps following the end of the log.
    const bool atEnd = FTop >= FLastPageTop;
    FLastPageTop = LastPageTop();
    if (FLineCount == 0 || atEnd || FTop > FLastPageTop)
        FTop = FLastPageTop;
    else
        FTop.row = std::min(FTop.row, RowsOfLine(FTop.line) - 1);
    QScrollBar* bar = verticalScrollBar();
    FSettingScrollBar = true;
    bar->setRange(0, FLastPageTop.line);
    bar->setPageStep(VisibleRows());
    bar->setSingleStep(1);
    bar->setValue(FTop.line);
    FSettingScrollBar = false;
}

void TTextLineView::scrollContentsBy(int, int)
{
    // The scroll bar moved by itself (dragged, clicked, keys): its value is
    // the top line; its end shows the last page.
    if (!FSettingScrollBar) {
        const int value = verticalScrollBar()->value();
        FTop = value >= FLastPageTop.line ? FLastPageTop : TRowPos{value, 0};
    }
    viewport()->update();
}

void TTextLineView::SetTop(TRowPos top)
{
    FTop = std::clamp(top, TRowPos{}, FLastPageTop);
    FSettingScrollBar = true;
    verticalScrollBar()->setValue(FTop.line);
    FSettingScrollBar = false;
    viewport()->update();
}

void TTextLineView::ScrollRows(int rows)
{
    TRowPos top;
    if (!RowAt(rows, top))
        top = rows > 0 ? FLastPageTop : TRowPos{};
    SetTop(top);
}

void TTextLineView::wheelEvent(QWheelEvent* event)
{
    FWheelAngle += event->angleDelta().y();
    const int notches = FWheelAngle / 120; // one notch of a wheel is 120
    FWheelAngle -= notches * 120;
    if (notches != 0)
        ScrollRows(-notches * QApplication::wheelScrollLines());
    event->accept();
}

void TTextLineView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    // New wrap width or page height: the last page and the top row move.
    SyncScrollBar();
}

void TTextLineView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    // New character size: the rows of every line change, the selection stays.
    if (event->type() == QEvent::FontChange) {
        SyncScrollBar();
        viewport()->update();
    }
}

void TTextLineView::paintEvent(QPaintEvent*)
{
    if (!FSource || FLineCount == 0)
        return;
    QPainter painter(viewport());
    painter.setFont(font());
    const int lineHeight = LineHeight();
    const int height = viewport()->height();
    const int columns = ColumnsPerRow();
    int y = 0;
    int row = FTop.row;
    for (int line = FTop.line; line < FLineCount && y < height; ++line, row = 0) {
        const QString text = FSource->LineText(line);
        const std::vector<int> starts = WrapRows(text, columns);
        for (; row < static_cast<int>(starts.size()) && y < height; ++row) {
            const int begin = starts[static_cast<size_t>(row)];
            const int end = row + 1 < static_cast<int>(starts.size()) ? starts[static_cast<size_t>(row) + 1]
                                                                      : static_cast<int>(text.size());
            DrawRowSegment(painter, text.mid(begin, end - begin), begin, line, y);
            y += lineHeight;
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
    const QColor lineColor = FSource ? FSource->LineColor(line) : QColor();
    const QColor text = lineColor.isValid() ? lineColor : pal.color(QPalette::Text);
    auto drawPart = [&](int begin, int end, bool selected) {
        if (end <= begin)
            return;
        const int x = TextMargin + begin * charWidth;
        if (selected) {
            painter.fillRect(x, y, (end - begin) * charWidth, lineHeight, pal.brush(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
        } else {
            painter.setPen(text);
        }
        painter.drawText(x, baseline, segment.mid(begin, end - begin));
    };
    drawPart(0, selBegin, false);
    drawPart(selBegin, selEnd, true);
    drawPart(std::max(selEnd, selBegin), static_cast<int>(segment.size()), false);
}

TTextLineView::TTextPos TTextLineView::PositionAt(const QPoint& viewportPos) const
{
    if (!FSource || FLineCount == 0)
        return {};
    const int offset = viewportPos.y() < 0 ? -1 : viewportPos.y() / LineHeight();
    TRowPos row;
    if (!RowAt(offset, row)) {
        if (offset < 0)
            return {};
        const int last = FLineCount - 1;
        return {last, FSource->LineLength(last)};
    }
    const std::vector<int> starts = RowStarts(row.line);
    const size_t r = static_cast<size_t>(row.row);
    const int begin = starts[r];
    const int end = r + 1 < starts.size() ? starts[r + 1] : FSource->LineLength(row.line);
    const int charWidth = CharWidth();
    const int x = viewportPos.x() - TextMargin;
    return {row.line, begin + std::clamp((x + charWidth / 2) / charWidth, 0, end - begin)};
}

QPoint TTextLineView::PointOf(TTextPos pos) const
{
    if (!FSource || pos.line < 0 || pos.line >= FLineCount)
        return {};
    const std::vector<int> starts = RowStarts(pos.line);
    const auto after = std::upper_bound(starts.begin() + 1, starts.end(), pos.column);
    const TRowPos target{pos.line, static_cast<int>(after - starts.begin()) - 1};
    const int x = TextMargin + (pos.column - starts[static_cast<size_t>(target.row)]) * CharWidth();
    const int lineHeight = LineHeight();
    if (target < FTop)
        return {x, -lineHeight};
    // Rows from the top down to the target, counted no further than one row
    // past the bottom of the view.
    const int limit = VisibleRows() + 1;
    int offset = -FTop.row;
    for (int line = FTop.line; line < target.line && offset <= limit; ++line)
        offset += RowsOfLine(line);
    return {x, std::min(offset + target.row, limit) * lineHeight};
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
    if (FLineCount == 0)
        return;
    const int last = FLineCount - 1;
    Select({0, 0}, {last, FSource->LineLength(last)});
}

void TTextLineView::ClearSelection() { Select({}, {}); }

void TTextLineView::SnapSelectionToWords()
{
    if (!FSource || !HasSelection())
        return;
    TTextPos from = std::min(FAnchor, FCursor);
    TTextPos to = std::max(FAnchor, FCursor);
    const QString first = FSource->LineText(from.line);
    while (from.column > 0 && from.column < first.size() && !IsBlank(first[from.column - 1])
           && !IsBlank(first[from.column]))
        --from.column;
    const QString last = to.line == from.line ? first : FSource->LineText(to.line);
    while (to.column > 0 && to.column < last.size() && !IsBlank(last[to.column - 1]) && !IsBlank(last[to.column]))
        ++to.column;
    if (FAnchor <= FCursor)
        Select(from, to);
    else
        Select(to, from);
}

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
        ScrollRows(-1);
    else if (p.y() >= viewport()->height())
        ScrollRows(1);
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
    if (event->button() != Qt::LeftButton || !FSource || FLineCount == 0)
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
