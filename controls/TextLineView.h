#pragma once
// Read-only text view for very long logs. The lines are not stored here: a
// line source formats them on demand, and only the lines in sight are ever
// formatted, so neither appending nor reloading touches the lines out of
// sight. Long lines wrap at blanks at the view's width (fixed-pitch font), as
// a memo with word wrap does; a word longer than a row is cut. The vertical
// scroll bar counts lines; the wheel and dragging a selection scroll by
// rows. The left mouse button selects characters as in a read-only memo.
#include <QAbstractScrollArea>
#include <QColor>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

class QMouseEvent;
class QWheelEvent;

class TTextLineView : public QAbstractScrollArea {
public:
    // Supplies the lines. LineLength(i) must equal LineText(i).size(); the
    // view uses it where only the end of a line matters.
    class TLineSource {
    public:
        virtual ~TLineSource() = default;
        virtual int LineCount() const = 0;
        virtual int LineLength(int line) const = 0;
        virtual QString LineText(int line) const = 0;
        // The colour of a line's text; invalid for the palette's.
        virtual QColor LineColor(int) const { return {}; }
    };

    // A place in the text: line index and character index within the line.
    struct TTextPos {
        int line = 0;
        int column = 0;
        auto operator<=>(const TTextPos&) const = default;
    };

    // A visual row: a line and the row within that line.
    struct TRowPos {
        int line = 0;
        int row = 0;
        auto operator<=>(const TRowPos&) const = default;
    };

    using TMouseEvent = std::function<void(QMouseEvent* event)>;

    explicit TTextLineView(QWidget* parent = nullptr);

    void SetSource(const TLineSource* source);
    // Every line may have changed (or lines were removed): shows the lines
    // afresh and drops the selection.
    void Reload();
    // Lines were added at the end of the source; existing lines are unchanged.
    void LinesAppended();

    QString SelectedText() const;
    bool HasSelection() const { return FAnchor != FCursor; }
    // Where the selection began and where it ends now.
    TTextPos SelectionAnchor() const { return FAnchor; }
    TTextPos SelectionCursor() const { return FCursor; }
    void Select(TTextPos from, TTextPos to);
    void SelectAll();
    void ClearSelection();
    // Widens the selection so that neither end cuts a run of non-blank
    // characters (a hex byte) in two.
    void SnapSelectionToWords();

    int LineCount() const { return FLineCount; }
    int ColumnsPerRow() const;
    // The first character of each row of a line wrapped at `columns`
    // characters: breaks after the last blank that lets a row fit, or after
    // `columns` characters when a row holds no blank. The first entry is 0.
    static std::vector<int> WrapRows(QStringView text, int columns);
    // Rows of a line at the view's current width.
    int RowsOfLine(int line) const;
    // The line and the row within it shown at the top of the view.
    TRowPos Top() const { return FTop; }
    // The text position under a point of the viewport.
    TTextPos PositionAt(const QPoint& viewportPos) const;
    // Viewport point of the top-left corner of a text position's character.
    // A position out of sight gives a point above or below the viewport.
    QPoint PointOf(TTextPos pos) const;

    // Called after the view has handled a mouse-button release.
    TMouseEvent OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    std::vector<int> RowStarts(int line) const;
    int VisibleRows() const;
    int CharWidth() const;
    int LineHeight() const;
    // The top position that shows the last row at the bottom of the view.
    TRowPos LastPageTop() const;
    // Moves the top by `rows` rows (negative: up), within the text.
    void ScrollRows(int rows);
    void SetTop(TRowPos top);
    // The row `offset` rows below the top row (negative: above); false when
    // that lies outside the text.
    bool RowAt(int offset, TRowPos& row) const;
    void ScheduleScrollBarSync();
    void SyncScrollBar();
    void DrawRowSegment(QPainter& painter, const QString& segment, int firstColumn, int line, int y) const;

    const TLineSource* FSource = nullptr;
    int FLineCount = 0;
    TRowPos FTop;
    // Top of the last page as of the last scroll bar update.
    TRowPos FLastPageTop;
    bool FSettingScrollBar = false;
    int FWheelAngle = 0; // wheel turn not yet scrolled, in 1/8 degree
    bool FSyncPending = false;
    bool FSelecting = false;
    TTextPos FAnchor;
    TTextPos FCursor;
};
