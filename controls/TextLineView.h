#pragma once
// Read-only text view for very long logs. The lines are not stored here: a
// line source formats them on demand, and only the lines in sight are ever
// formatted. Long lines wrap at the view's width (character wrap, fixed-pitch
// font); the left mouse button selects characters as in a read-only memo.
#include <QAbstractScrollArea>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class QMouseEvent;

class TTextLineView : public QAbstractScrollArea {
public:
    // Supplies the lines. LineLength(i) must equal LineText(i).size(); the
    // view uses the lengths to lay out every line without formatting it.
    class TLineSource {
    public:
        virtual ~TLineSource() = default;
        virtual int LineCount() const = 0;
        virtual int LineLength(int line) const = 0;
        virtual QString LineText(int line) const = 0;
    };

    // A place in the text: line index and character index within the line.
    struct TTextPos {
        int line = 0;
        int column = 0;
        auto operator<=>(const TTextPos&) const = default;
    };

    using TMouseEvent = std::function<void(QMouseEvent* event)>;

    explicit TTextLineView(QWidget* parent = nullptr);

    void SetSource(const TLineSource* source);
    // Every line may have changed (or lines were removed): lays out all lines
    // again and drops the selection.
    void Reload();
    // Lines were added at the end of the source; existing lines are unchanged.
    void LinesAppended();

    QString SelectedText() const;
    bool HasSelection() const { return FAnchor != FCursor; }
    void Select(TTextPos from, TTextPos to);
    void SelectAll();
    void ClearSelection();

    int LineCount() const { return static_cast<int>(FRowEnd.size()); }
    int64_t RowCount() const { return FRowEnd.empty() ? 0 : FRowEnd.back(); }
    int ColumnsPerRow() const;
    // First visual row shown at the top of the view.
    int64_t TopRow() const;
    // The text position under a point of the viewport.
    TTextPos PositionAt(const QPoint& viewportPos) const;
    // Viewport point of the top-left corner of a text position's character
    // (may lie outside the viewport when the position is not in sight).
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
    void changeEvent(QEvent* event) override;

private:
    int RowsOf(int length) const;
    int64_t RowStart(int line) const { return line == 0 ? 0 : FRowEnd[static_cast<size_t>(line - 1)]; }
    int LineOfRow(int64_t row) const;
    int VisibleRows() const;
    int CharWidth() const;
    void AppendLayout(int fromLine);
    // Lays out every line again at the current width.
    void Relayout();
    void ScheduleScrollBarSync();
    void SyncScrollBar();
    void DrawRowSegment(QPainter& painter, const QString& segment, int firstColumn, int line, int y) const;

    const TLineSource* FSource = nullptr;
    // Visual row just past the end of each line (running sum of wrapped rows).
    std::vector<int64_t> FRowEnd;
    int FLaidOutColumns = 1;
    bool FSyncPending = false;
    bool FSelecting = false;
    TTextPos FAnchor;
    TTextPos FCursor;
};
