// The inner list of TZLBListBox: owner-drawn rows of fixed height, each
// item's text split into the header's columns, with alternating row colours,
// an optional check box column and colour-box columns.
#pragma once

#include "ItemState.h"

#include <QListWidget>
#include <QStringList>

class QPainter;
class TZLBListBox;

class TMListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TMListBox(TZLBListBox* owner);

    int ItemHeight() const { return m_itemHeight; }
    void SetItemHeight(int height);

    // The item's check state; unchecked for an index out of range.
    TItemState ItemState(int index) const;
    // Stores the state (ignored out of range) and repaints the row if it changed.
    void SetItemState(int index, const TItemState& state);
    void RepaintRow(int index);
    // Exchanges the texts and check states of two items.
    void SwapItems(int a, int b);

    // The texts of the cells of an item in a list with that many sections:
    // each cell ends at the next ";", the last one takes the rest of the
    // text, further ";" included.
    static QStringList CellTexts(const QString& itemText, int sectionCount);

    // Draws one row into the rectangle.
    void DrawItem(QPainter& canvas, const QRect& rect, int index, bool selected);
    // The x of the check box in a cell starting at `left` with that width.
    int CheckBoxX(int cellLeft, int cellWidth) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void DrawCells(QPainter& canvas, const QRect& rect, int index, const QColor& background,
                   const QColor& textColor);
    void DrawCheckBox(QPainter& canvas, const QRect& box, int state);
    int CheckBoxCellLeft() const;
    void ToggleCheckBox(int index);

    TZLBListBox* m_owner;
    int m_itemHeight;
};
