#include "MListBox.h"

#include "ZLBListBox.h"
#include "ZLBTextFit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int ItemStateRole = Qt::UserRole + 1;
constexpr int CheckBoxSize = 13;
const QColor OddRowColor(223, 223, 223);
const QColor SeparatorColor(187, 187, 187);

// Hands the painting of every row to the list and gives rows its height.
class TMListBoxDelegate : public QStyledItemDelegate {
public:
    explicit TMListBoxDelegate(TMListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        painter->save();
        m_list->DrawItem(*painter, option.rect, index.row(),
                         option.state.testFlag(QStyle::State_Selected));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return {0, m_list->ItemHeight()};
    }

private:
    TMListBox* m_list;
};

}

TMListBox::TMListBox(TZLBListBox* owner)
    : QListWidget(owner), m_owner(owner), m_itemHeight(fontMetrics().height() + 2)
{
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new TMListBoxDelegate(this));
}

void TMListBox::SetItemHeight(int height)
{
    m_itemHeight = std::max(height, 1);
    doItemsLayout();
}

TItemState TMListBox::ItemState(int index) const
{
    const QListWidgetItem* it = item(index);
    if (!it)
        return {};
    return it->data(ItemStateRole).value<TItemState>();
}

void TMListBox::SetItemState(int index, const TItemState& state)
{
    QListWidgetItem* it = item(index);
    if (!it)
        return;
    const TItemState old = ItemState(index);
    if (old.Checked == state.Checked && old.CheckState == state.CheckState)
        return;
    it->setData(ItemStateRole, QVariant::fromValue(state));
    RepaintRow(index);
}

void TMListBox::RepaintRow(int index)
{
    if (QListWidgetItem* it = item(index))
        viewport()->update(visualItemRect(it));
}

// The whole check state travels with its item, so a grayed box stays with
// the row it belongs to.
void TMListBox::SwapItems(int a, int b)
{
    QListWidgetItem* first = item(a);
    QListWidgetItem* second = item(b);
    if (!first || !second)
        return;
    const QString text = first->text();
    first->setText(second->text());
    second->setText(text);
    const QVariant state = first->data(ItemStateRole);
    first->setData(ItemStateRole, second->data(ItemStateRole));
    second->setData(ItemStateRole, state);
}

int TMListBox::CheckBoxX(int cellLeft, int cellWidth) const
{
    if (m_owner->CheckBoxCenter())
        return cellLeft + (cellWidth - CheckBoxSize) / 2;
    return cellLeft + m_owner->CheckBoxOffset();
}

int TMListBox::CheckBoxCellLeft() const
{
    int left = 1;
    const TZLBHeaderSections* sections = m_owner->HeaderSections();
    for (int i = 0; i < m_owner->CheckBoxColumn() && i < sections->Count(); ++i)
        left += sections->Items(i)->Width();
    return left;
}

void TMListBox::DrawItem(QPainter& canvas, const QRect& rect, int index, bool selected)
{
    QColor background;
    QColor textColor;
    if (selected) {
        background = palette().color(QPalette::Highlight);
        textColor = palette().color(QPalette::HighlightedText);
    } else {
        background = index % 2 == 1 ? OddRowColor : palette().color(QPalette::Base);
        textColor = palette().color(QPalette::Text);
    }
    canvas.fillRect(rect, background);
    canvas.setFont(font());
    if (m_owner->HeaderSections()->Count() == 0) {
        canvas.setPen(textColor);
        canvas.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                        item(index)->text());
    } else {
        DrawCells(canvas, rect, index, background, textColor);
    }
    if (m_owner->OnDrawItem)
        m_owner->OnDrawItem(m_owner, index, rect, canvas);
}

QStringList TMListBox::CellTexts(const QString& itemText, int sectionCount)
{
    QStringList cells;
    QString rest = itemText;
    for (int i = 0; i < sectionCount; ++i) {
        const int separator = rest.indexOf(QLatin1Char(';'));
        if (i == sectionCount - 1 || separator < 0) {
            cells << rest;
            rest.clear();
        } else {
            cells << rest.left(separator);
            rest = rest.mid(separator + 1);
        }
    }
    return cells;
}

void TMListBox::DrawCells(QPainter& canvas, const QRect& rect, int index,
                          const QColor& background, const QColor& textColor)
{
    const TZLBHeaderSections* sections = m_owner->HeaderSections();
    const QFontMetrics metrics(font());
    const QStringList cells = CellTexts(item(index)->text(), sections->Count());
    int left = rect.left() + 1;
    for (int i = 0; i < sections->Count(); ++i) {
        const TZLBHeaderSection* section = sections->Items(i);
        const int width = section->Width();
        const QString& cell = cells[i];
        const QRect cellRect(QPoint(left, rect.top()), QPoint(rect.right(), rect.bottom()));
        canvas.fillRect(cellRect, background);
        canvas.save();
        canvas.setClipRect(cellRect);
        if (section->Kind() == skColorBox && width > 23 && m_owner->HasItemColors()) {
            canvas.setPen(Qt::black);
            canvas.setBrush(index < m_owner->ItemColorCount() ? QBrush(QColor(m_owner->ItemColor(index)))
                                                              : QBrush(Qt::NoBrush));
            canvas.drawRect(QRect(QPoint(left + 7, rect.top() + 1),
                                  QPoint(left + width - 9, rect.bottom() - 1)));
        } else if (i == m_owner->CheckBoxColumn()) {
            const int x = CheckBoxX(left, width);
            const int y = rect.top() + (rect.height() - CheckBoxSize) / 2;
            DrawCheckBox(canvas, QRect(x, y, CheckBoxSize, CheckBoxSize),
                         ItemState(index).CheckState);
            canvas.setPen(textColor);
            canvas.drawText(QRect(QPoint(x + CheckBoxSize + m_owner->CheckBoxOffset(), rect.top()),
                                  QPoint(left + width - 1, rect.bottom())),
                            Qt::AlignLeft | Qt::AlignVCenter, cell);
        } else {
            canvas.setPen(textColor);
            canvas.drawText(QRect(QPoint(left + 2, rect.top()), cellRect.bottomRight()),
                            Qt::AlignLeft | Qt::AlignTop,
                            ZLBTextFit::FitCellText(cell, metrics, width));
        }
        canvas.restore();
        left += width;
        canvas.setPen(SeparatorColor);
        canvas.drawLine(left - 1, rect.top(), left - 1, rect.bottom());
    }
}

void TMListBox::DrawCheckBox(QPainter& canvas, const QRect& box, int state)
{
    if (m_owner->CheckBoxFlat()) {
        canvas.setPen(palette().color(QPalette::Dark));
        canvas.setBrush(state == 2 ? palette().color(QPalette::Button) : palette().color(QPalette::Base));
        canvas.drawRect(box.adjusted(0, 0, -1, -1));
        if (state != 0) {
            canvas.setPen(QPen(palette().color(QPalette::Text), 2));
            const QPoint a(box.left() + 3, box.top() + 6);
            const QPoint b(box.left() + 5, box.top() + 9);
            const QPoint c(box.right() - 2, box.top() + 3);
            canvas.drawLine(a, b);
            canvas.drawLine(b, c);
        }
        return;
    }
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = box;
    option.state = QStyle::State_Enabled;
    option.state |= state == 1 ? QStyle::State_On
                               : (state == 2 ? QStyle::State_NoChange : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &canvas, this);
}

// Unchecked and checked swap; a grayed box stays grayed.
void TMListBox::ToggleCheckBox(int index)
{
    TItemState state = ItemState(index);
    if (state.CheckState == 2)
        return;
    const bool checked = state.CheckState != 1;
    m_owner->SetItemChecked(index, checked);
}

void TMListBox::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    const QModelIndex hit = indexAt(pos);
    if (!hit.isValid())
        return;
    const int index = hit.row();
    if (event->button() == Qt::LeftButton && m_owner->CheckBoxColumn() >= 0
        && m_owner->CheckBoxColumn() < m_owner->HeaderSections()->Count()) {
        const int cellLeft = CheckBoxCellLeft();
        const int width = m_owner->HeaderSections()->Items(m_owner->CheckBoxColumn())->Width();
        const int x = CheckBoxX(cellLeft, width);
        if (pos.x() >= x && pos.x() < x + CheckBoxSize) {
            ToggleCheckBox(index);
            if (m_owner->OnCheckBoxClick)
                m_owner->OnCheckBoxClick(m_owner, index, ItemState(index).CheckState);
        }
    }
    if (m_owner->OnSelect)
        m_owner->OnSelect(m_owner);
}

void TMListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && m_owner->CheckBoxColumn() >= 0 && currentRow() >= 0) {
        ToggleCheckBox(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}
