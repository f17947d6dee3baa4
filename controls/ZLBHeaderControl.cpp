#include "ZLBHeaderControl.h"

#include "ControlBitmaps.h"
#include "QadGraphTools.h"
#include "ZLBListBox.h"
#include "ZLBTextFit.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int HeaderHeight = 17;
constexpr int DragDistance = 5;
constexpr int AutoSizeDistance = 7;
constexpr int ArrowWidth = 16;

}

TZLBHeaderControl::TZLBHeaderControl(TZLBListBox* listBox)
    : QWidget(listBox), m_listBox(listBox), m_sections(std::make_unique<TZLBHeaderSections>(this))
{
    // The designed height, or more if the font needs it: the text starts 3
    // pixels down and keeps clear of the bottom line.
    setFixedHeight(std::max(HeaderHeight, fontMetrics().height() + 4));
    setMouseTracking(true);
    m_arrow = ControlBitmaps::Load(QStringLiteral("ARROWUP"));
}

TZLBHeaderControl::~TZLBHeaderControl() = default;

int TZLBHeaderControl::SectionRight(int index) const
{
    int right = 0;
    for (int i = 0; i <= index && i < m_sections->Count(); ++i)
        right += m_sections->Items(i)->Width();
    return right;
}

int TZLBHeaderControl::BoundaryNear(int x, int distance) const
{
    for (int i = 0; i + 1 < m_sections->Count(); ++i) {
        if (std::abs(SectionRight(i) - x) <= distance)
            return i;
    }
    return -1;
}

int TZLBHeaderControl::SectionAt(int x) const
{
    int left = 0;
    for (int i = 0; i < m_sections->Count(); ++i) {
        const int right = left + m_sections->Items(i)->Width();
        if (x >= left && x < right)
            return i;
        left = right;
    }
    return -1;
}

void TZLBHeaderControl::SectionsChanged()
{
    update();
    m_listBox->List()->viewport()->update();
}

void TZLBHeaderControl::TakeSnapshot()
{
    m_snapshot.clear();
    for (int i = 0; i < m_sections->Count(); ++i)
        m_snapshot.push_back(m_sections->Items(i)->Width());
}

int TZLBHeaderControl::SnapshotWidth(int index) const
{
    if (index < static_cast<int>(m_snapshot.size()))
        return m_snapshot[static_cast<size_t>(index)];
    return m_sections->Items(index)->Width();
}

void TZLBHeaderControl::PlaceArrow()
{
    if (m_sortedColumn >= 0)
        m_arrowX = SectionRight(m_sortedColumn) - 1 - ArrowWidth - 2;
}

// Width comes from the sections to the right, nearest first, each down to
// the minimum; it first gives back what sections to the left lost during
// this drag, and only the rest widens the section.
void TZLBHeaderControl::Grow(std::vector<int>& widths, int index, int amount) const
{
    const int minimum = m_listBox->ColumnMinWidth();
    const int count = static_cast<int>(widths.size());
    int taken = 0;
    for (int j = index + 1; j < count && taken < amount; ++j) {
        const int give = std::clamp(widths[j] - minimum, 0, amount - taken);
        widths[j] -= give;
        taken += give;
    }
    if (taken == 0)
        return;
    for (int j = 0; j < index && taken > 0; ++j) {
        const int missing = SnapshotWidth(j) - widths[j];
        if (missing > 0) {
            const int back = std::min(missing, taken);
            widths[j] += back;
            taken -= back;
        }
    }
    widths[index] += taken;
}

// The section shrinks down to the minimum, then the sections to its left
// give way, nearest first. The freed width goes to the sections beyond the
// next one (last first) up to their widths when the drag began, and the
// rest to the next section.
void TZLBHeaderControl::Shrink(std::vector<int>& widths, int index, int amount) const
{
    const int minimum = m_listBox->ColumnMinWidth();
    const int count = static_cast<int>(widths.size());
    if (widths[index] - amount <= minimum) {
        int missing = amount - std::max(widths[index] - minimum, 0);
        widths[index] = std::min(widths[index], minimum);
        for (int j = index - 1; j >= 0 && missing > 0; --j) {
            const int give = std::clamp(widths[j] - minimum, 0, missing);
            widths[j] -= give;
            missing -= give;
        }
        amount -= missing;
    } else {
        widths[index] -= amount;
    }
    for (int j = count - 1; j > index + 1 && amount > 0; --j) {
        const int missing = SnapshotWidth(j) - widths[j];
        if (missing > 0) {
            const int back = std::min(missing, amount);
            widths[j] += back;
            amount -= back;
        }
    }
    widths[index + 1] += amount;
}

void TZLBHeaderControl::ResizeSection(int index, int amount)
{
    const int count = m_sections->Count();
    if (index < 0 || index + 1 >= count)
        return;
    if (OnSectionResize)
        OnSectionResize(this, m_sections->Items(index));
    std::vector<int> widths;
    for (int i = 0; i < count; ++i)
        widths.push_back(m_sections->Items(i)->Width());
    if (amount > 0)
        Grow(widths, index, amount);
    else if (amount < 0)
        Shrink(widths, index, -amount);
    for (int i = 0; i < count; ++i)
        m_sections->Items(i)->SetWidth(widths[static_cast<size_t>(i)]);
    PlaceArrow();
    SectionsChanged();
}

void TZLBHeaderControl::AutoSizeSection(int index)
{
    if (index < 0 || index >= m_sections->Count() || m_listBox->Count() == 0)
        return;
    const TZLBHeaderSection* section = m_sections->Items(index);
    int wanted = fontMetrics().horizontalAdvance(section->Text())
                 + (index == m_sortedColumn ? 13 : 10);
    const QFontMetrics listMetrics(m_listBox->Font());
    for (int i = 0; i < m_listBox->Count(); ++i) {
        const QString text = TZLBListBox::ColumnText(m_listBox->Item(i), index);
        wanted = std::max(wanted, listMetrics.horizontalAdvance(text));
    }
    wanted += 10;
    // A fresh snapshot, so the sizing gives back nothing from an old drag.
    TakeSnapshot();
    ResizeSection(index, wanted - section->Width());
}

void TZLBHeaderControl::SortByColumn(int index)
{
    const TZLBHeaderSection* section = m_sections->Items(index);
    if (section && m_listBox->Count() > 0 && section->SortEnabled()) {
        if (index == m_sortedColumn && m_ascending) {
            m_ascending = false;
            m_arrow = ControlBitmaps::Load(QStringLiteral("ARROWDOWN"));
            m_listBox->SortItems(index, false);
        } else if (index != m_sortedColumn) {
            m_sortedColumn = index;
            m_ascending = true;
            m_arrow = ControlBitmaps::Load(QStringLiteral("ARROWUP"));
            PlaceArrow();
            m_listBox->SortItems(index, true);
        } else {
            m_sortedColumn = -1;
        }
    }
    update();
}

void TZLBHeaderControl::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    const int h = height();
    canvas.fillRect(rect(), palette().color(QPalette::Button));
    canvas.setPen(QPen(Qt::black, 1));
    QadGraphTools::DrawFrame(canvas, 0, 0, width() - 1, h - 1);

    const QFontMetrics metrics = fontMetrics();
    int left = 1;
    for (int i = 0; i < m_sections->Count(); ++i) {
        const TZLBHeaderSection* section = m_sections->Items(i);
        const int right = left + section->Width() - 1;
        const bool sorted = i == m_sortedColumn;
        if (right > left)
            canvas.fillRect(QRect(QPoint(left, 1), QPoint(right - 1, h - 2)),
                            sorted ? m_listBox->SortColor() : section->BackColor());
        const int available = right - (sorted ? 17 : 2) - (left + 5);
        const QString text = ZLBTextFit::FitHeaderText(section->Text(), metrics, available);
        canvas.setPen(palette().color(QPalette::ButtonText));
        // At left + 5, top + 2 of the section rectangle, whose top is 1.
        canvas.drawText(left + 5, 1 + 2 + metrics.ascent(), text);
        canvas.setPen(QPen(Qt::black, 1));
        QadGraphTools::DrawLineInclusive(canvas, right, 1, right, h - 1);
        left = right + 1;
    }
    if (ArrowVisible())
        canvas.drawPixmap(m_arrowX, 0, m_arrow);
}

void TZLBHeaderControl::HeaderMouseDown(int x)
{
    const int boundary = BoundaryNear(x, DragDistance);
    if (boundary >= 0) {
        m_resizingSection = boundary;
        m_lastX = x;
        m_gesture = 1;
        TakeSnapshot();
        return;
    }
    const int section = SectionAt(x);
    if (section >= 0)
        m_clickedSection = section;
}

void TZLBHeaderControl::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        HeaderMouseDown(event->position().toPoint().x());
}

void TZLBHeaderControl::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    const int x = event->position().toPoint().x();
    if (BoundaryNear(x, DragDistance) >= 0)
        setCursor(Qt::SplitHCursor);
    else
        unsetCursor();
    // The pointer may leave the header on the left during a drag; negative
    // positions still count.
    if (m_resizingSection >= 0 && x != m_lastX) {
        const int amount = x - m_lastX;
        m_lastX = x;
        ResizeSection(m_resizingSection, amount);
    }
}

void TZLBHeaderControl::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    if (m_gesture == 0)
        SortByColumn(m_clickedSection);
    m_resizingSection = -1;
    m_lastX = -1;
    m_gesture = 0;
}

// A double click arrives in place of the second press: it auto-sizes at a
// boundary and then counts as a press, so its release sorts nothing.
void TZLBHeaderControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const int x = event->position().toPoint().x();
    m_gesture = 2;
    const int boundary = BoundaryNear(x, AutoSizeDistance);
    if (boundary >= 0)
        AutoSizeSection(boundary);
    HeaderMouseDown(x);
}

void TZLBHeaderControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int count = m_sections->Count();
    if (count == 0)
        return;
    const int others = SectionRight(count - 2);
    const int all = others + m_sections->Items(count - 1)->Width();
    if (all < width() || others < m_listBox->contentsRect().width())
        m_sections->Items(count - 1)->SetWidth(std::max(width() - others - 1, 0));
    m_listBox->List()->viewport()->update();
}
