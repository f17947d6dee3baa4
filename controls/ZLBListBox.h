// A list box with a column header. Each item is one string whose columns
// are separated by ";". The header's boundaries can be dragged (the total
// width stays), a double click at a boundary sizes the column to its
// contents, and a click on a section sorts by that column (ascending,
// descending, then unsorted). Optional: a check box column and colour-box
// columns with one colour per item.
#pragma once

#include "Align.h"
#include "ItemState.h"
#include "MListBox.h"
#include "ZLBHeaderControl.h"
#include "ZLBHeaderSections.h"

#include <QColor>
#include <QFrame>
#include <QStringList>
#include <QVector>
#include <QRgb>

#include <functional>

class TZLBListBox : public QFrame {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TCBClickEvent = std::function<void(QObject* Sender, int ItemIndex, int Value)>;
    using TDrawItemEvent =
        std::function<void(QObject* Control, int Index, const QRect& Rect, QPainter& Canvas)>;

    explicit TZLBListBox(QWidget* parent = nullptr);

    TZLBHeaderSections* HeaderSections() const { return m_header->Sections(); }
    void SetHeaderSections(const TZLBHeaderSections& sections);   // copies
    int CheckBoxColumn() const { return m_checkBoxColumn; }
    void SetCheckBoxColumn(int column);
    int ColumnMinWidth() const { return m_columnMinWidth; }
    void SetColumnMinWidth(int width) { m_columnMinWidth = width; }
    QColor SortColor() const { return m_sortColor; }
    void SetSortColor(const QColor& color);
    bool CheckBoxFlat() const { return m_checkBoxFlat; }
    void SetCheckBoxFlat(bool flat);
    int CheckBoxOffset() const { return m_checkBoxOffset; }
    void SetCheckBoxOffset(int offset);
    bool CheckBoxCenter() const { return m_checkBoxCenter; }
    void SetCheckBoxCenter(bool center);

    TAlign Align() const { return m_align; }
    void SetAlign(TAlign align);
    QColor Color() const;                     // background of the even rows
    void SetColor(const QColor& color);
    QFont Font() const { return m_list->font(); }
    void SetFont(const QFont& font);
    int ItemHeight() const { return m_list->ItemHeight(); }
    void SetItemHeight(int height) { m_list->SetItemHeight(height); }
    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool multi);
    bool ExtendedSelect() const { return m_extendedSelect; }
    void SetExtendedSelect(bool extended);

    // The items, one ";"-separated string each.
    QStringList Items() const;
    void SetItems(const QStringList& items);
    void AddItem(const QString& item);
    int Count() const { return m_list->count(); }
    QString Item(int index) const;
    void SetItem(int index, const QString& text);
    void Clear();
    int ItemIndex() const { return m_list->currentRow(); }
    void SetItemIndex(int index) { m_list->setCurrentRow(index); }

    // Field `column` of the ";"-separated text; empty if there is none.
    static QString ColumnText(const QString& itemText, int column);
    // Sizes a column (not the last) to its contents, taking the width from
    // or giving it to the columns on its right.
    void AutoSizeColumn(int index);

    int ItemCheckState(int index) const;
    void SetItemCheckState(int index, int state);
    bool ItemChecked(int index) const;
    void SetItemChecked(int index, bool checked);

    // Per-item colours for colour-box columns; 0 where none is set.
    QRgb ItemColor(int index) const;
    void SetItemColor(int index, QRgb color);
    bool HasItemColors() const { return !m_colors.isEmpty(); }
    int ItemColorCount() const { return static_cast<int>(m_colors.size()); }

    // Sorts all items by the column's text (the check box column by its
    // checked flags); used by the header when a section is clicked.
    void SortItems(int column, bool ascending);

    TZLBHeaderControl* Header() const { return m_header; }
    TMListBox* List() const { return m_list; }

    TZLBHeaderControl::TZLBSectionNotifyEvent OnHeaderSectionResize() const;
    void SetOnHeaderSectionResize(TZLBHeaderControl::TZLBSectionNotifyEvent handler);
    TNotifyEvent OnSelect;              // any press on an item
    TCBClickEvent OnCheckBoxClick;      // a click toggled a check box; Value is the new state
    TDrawItemEvent OnDrawItem;          // after a row has been drawn

private:
    void UpdateSelectionMode();
    void SwapItems(int a, int b);

    TZLBHeaderControl* m_header;
    TMListBox* m_list;
    int m_checkBoxColumn = -1;
    int m_columnMinWidth = 20;
    QColor m_sortColor = Qt::white;
    bool m_checkBoxFlat = false;
    int m_checkBoxOffset = 4;
    bool m_checkBoxCenter = false;
    TAlign m_align = alNone;
    bool m_multiSelect = false;
    bool m_extendedSelect = true;
    QVector<QRgb> m_colors;
};
