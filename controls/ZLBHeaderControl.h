// The column header of TZLBListBox: one section per column, boundaries that
// can be dragged (the total width stays the same), auto-sizing on a double
// click at a boundary, and sorting by a column when its section is clicked,
// with an arrow showing the direction.
#pragma once

#include "ZLBHeaderSections.h"

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class TZLBListBox;

class TZLBHeaderControl : public QWidget {
    Q_OBJECT
public:
    using TZLBSectionNotifyEvent =
        std::function<void(TZLBHeaderControl* HeaderControl, TZLBHeaderSection* Section)>;

    explicit TZLBHeaderControl(TZLBListBox* listBox);
    ~TZLBHeaderControl() override;

    TZLBHeaderSections* Sections() const { return m_sections.get(); }

    int SortedColumn() const { return m_sortedColumn; }   // -1 for none
    bool SortAscending() const { return m_ascending; }
    bool ArrowVisible() const { return m_sortedColumn >= 0; }
    int ArrowX() const { return m_arrowX; }

    // Sum of the widths up to and including the section.
    int SectionRight(int index) const;

    // A click on the section: ascending, then descending, then unsorted.
    void SortByColumn(int index);
    // Grows (amount > 0) or shrinks the section, keeping the total width.
    void ResizeSection(int index, int amount);
    // Sizes the section to fit its caption and every item's text.
    void AutoSizeSection(int index);

    // A section changed: repaint header and list.
    void SectionsChanged();

    TZLBSectionNotifyEvent OnSectionResize;   // before a section is resized

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int BoundaryNear(int x, int distance) const;
    int SectionAt(int x) const;
    void TakeSnapshot();
    int SnapshotWidth(int index) const;
    void Grow(std::vector<int>& widths, int index, int amount) const;
    void Shrink(std::vector<int>& widths, int index, int amount) const;
    void PlaceArrow();
    void HeaderMouseDown(int x);

    TZLBListBox* m_listBox;
    std::unique_ptr<TZLBHeaderSections> m_sections;
    QPixmap m_arrow;
    int m_sortedColumn = -1;
    bool m_ascending = true;
    int m_arrowX = 0;
    int m_clickedSection = 0;
    int m_resizingSection = -1;
    int m_lastX = -1;
    int m_gesture = 0;            // 0 none, 1 boundary drag, 2 double click
    std::vector<int> m_snapshot;  // all widths when the last drag began
};
