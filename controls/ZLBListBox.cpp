#include "ZLBListBox.h"

#include "ZLBColumnSort.h"

#include <QVBoxLayout>

#include <utility>

TZLBListBox::TZLBListBox(QWidget* parent)
    : QFrame(parent), m_header(new TZLBHeaderControl(this)), m_list(new TMListBox(this))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(m_list);
    UpdateSelectionMode();
}

void TZLBListBox::SetHeaderSections(const TZLBHeaderSections& sections)
{
    m_header->Sections()->Assign(sections);
}

void TZLBListBox::SetCheckBoxColumn(int column)
{
    m_checkBoxColumn = column;
    m_list->viewport()->update();
}

void TZLBListBox::SetSortColor(const QColor& color)
{
    m_sortColor = color;
    m_header->update();
}

void TZLBListBox::SetCheckBoxFlat(bool flat)
{
    m_checkBoxFlat = flat;
    m_list->viewport()->update();
}

void TZLBListBox::SetCheckBoxOffset(int offset)
{
    m_checkBoxOffset = offset;
    m_list->viewport()->update();
}

void TZLBListBox::SetCheckBoxCenter(bool center)
{
    m_checkBoxCenter = center;
    m_list->viewport()->update();
}

void TZLBListBox::SetAlign(TAlign align)
{
    m_align = align;
    setSizePolicy(AlignSizePolicy(align));
    updateGeometry();
}

QColor TZLBListBox::Color() const
{
    return m_list->palette().color(QPalette::Base);
}

void TZLBListBox::SetColor(const QColor& color)
{
    QPalette pal = m_list->palette();
    pal.setColor(QPalette::Base, color);
    m_list->setPalette(pal);
}

void TZLBListBox::SetFont(const QFont& font)
{
    m_list->setFont(font);
    m_list->viewport()->update();
}

void TZLBListBox::SetMultiSelect(bool multi)
{
    m_multiSelect = multi;
    UpdateSelectionMode();
}

void TZLBListBox::SetExtendedSelect(bool extended)
{
    m_extendedSelect = extended;
    UpdateSelectionMode();
}

void TZLBListBox::UpdateSelectionMode()
{
    if (!m_multiSelect)
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    else if (m_extendedSelect)
        m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    else
        m_list->setSelectionMode(QAbstractItemView::MultiSelection);
}

QStringList TZLBListBox::Items() const
{
    QStringList items;
    for (int i = 0; i < m_list->count(); ++i)
        items << m_list->item(i)->text();
    return items;
}

void TZLBListBox::SetItems(const QStringList& items)
{
    m_list->clear();
    m_list->addItems(items);
}

void TZLBListBox::AddItem(const QString& item)
{
    m_list->addItem(item);
}

QString TZLBListBox::Item(int index) const
{
    const QListWidgetItem* it = m_list->item(index);
    return it ? it->text() : QString();
}

void TZLBListBox::SetItem(int index, const QString& text)
{
    if (QListWidgetItem* it = m_list->item(index))
        it->setText(text);
}

void TZLBListBox::Clear()
{
    m_list->clear();
}

QString TZLBListBox::ColumnText(const QString& itemText, int column)
{
    if (column < 0)
        return {};
    const QStringList fields = itemText.split(QLatin1Char(';'));
    return column < fields.size() ? fields[column] : QString();
}

void TZLBListBox::AutoSizeColumn(int index)
{
    if (index >= 0 && index < HeaderSections()->Count() - 1)
        m_header->AutoSizeSection(index);
}

int TZLBListBox::ItemCheckState(int index) const
{
    return m_list->ItemState(index).CheckState;
}

void TZLBListBox::SetItemCheckState(int index, int state)
{
    m_list->SetItemState(index, TItemState{state == 1, state});
}

bool TZLBListBox::ItemChecked(int index) const
{
    return m_list->ItemState(index).Checked;
}

void TZLBListBox::SetItemChecked(int index, bool checked)
{
    m_list->SetItemState(index, TItemState{checked, checked ? 1 : 0});
}

QRgb TZLBListBox::ItemColor(int index) const
{
    if (index < 0 || index >= m_colors.size())
        return 0;
    return m_colors[index];
}

void TZLBListBox::SetItemColor(int index, QRgb color)
{
    m_colors.resize(Count());
    if (index < 0 || index >= m_colors.size())
        return;
    m_colors[index] = color;
    m_list->RepaintRow(index);
}

TZLBHeaderControl::TZLBSectionNotifyEvent TZLBListBox::OnHeaderSectionResize() const
{
    return m_header->OnSectionResize;
}

void TZLBListBox::SetOnHeaderSectionResize(TZLBHeaderControl::TZLBSectionNotifyEvent handler)
{
    m_header->OnSectionResize = std::move(handler);
}

void TZLBListBox::SwapItems(int a, int b)
{
    m_list->SwapItems(a, b);
    if (a < m_colors.size() && b < m_colors.size())
        std::swap(m_colors[a], m_colors[b]);
}

void TZLBListBox::SortItems(int column, bool ascending)
{
    QStringList keys;
    for (int i = 0; i < Count(); ++i)
        keys << ColumnText(Item(i), column);
    const bool byCheckBox = column == m_checkBoxColumn;
    const ZLBColumnSort::TCompare compare = [&](int a, int b) {
        if (byCheckBox)
            return int(ItemChecked(b)) - int(ItemChecked(a));
        return ZLBColumnSort::CompareKeys(keys[a], keys[b]);
    };
    const ZLBColumnSort::TSwap swap = [&](int a, int b) {
        keys.swapItemsAt(a, b);
        SwapItems(a, b);
    };
    ZLBColumnSort::Sort(Count(), ascending, compare, swap);
    m_list->viewport()->update();
}
