#pragma once
// One command panel of the main window: a light blue panel with a narrow
// darker strip on its left edge that carries the panel's name, written
// upwards in white bold letters. The panel lays out its input rows (label,
// track bar, edit, unit) one below the other and its command button beside
// them, centred vertically.
#include <QFrame>
#include <QString>

#include <vector>

class QAbstractButton;
class QGridLayout;
class QSlider;
class QWidget;

class TCommandPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int StripWidth = 20;

    // `stripCaption` is the name on the strip; `height` the panel's height
    // (it grows when the fonts need more room).
    TCommandPanel(const QString& stripCaption, int height, QWidget* parent);

    // Appends an input row: caption label, track bar, edit, unit label.
    void AddRow(const QString& caption, QSlider* track, QWidget* edit, const QString& unit);
    // Appends a row holding one word-wrapped text over the input columns.
    void AddText(const QString& text);
    // Places the panel's command button beside the input rows, centred
    // vertically; it keeps its place when the panel widens.
    void SetButton(QAbstractButton* button);
    // Widens the caption and unit columns of every panel to the widest text
    // any of them holds, so that all controls and buttons stand in line.
    static void AlignColumns(const std::vector<TCommandPanel*>& panels);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString FStripCaption;
    QGridLayout* FGrid;
    int FRows = 0;
};
