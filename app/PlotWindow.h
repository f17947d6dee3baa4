#pragma once
// The plot window: finger position, and finger speed and grasping force
// where the gripper reports them, against time for the last window length
// (60 s unless changed). Reports are recorded as they come; the chart is
// redrawn on a timer while the window is shown and not paused, from points
// thinned to the chart's width. A cursor over the chart reads the values at
// that time; the shown data can be saved as a PNG picture or as CSV (a table
// of samples). Clicking a legend entry hides or shows its signal.
#include "PlotData.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <functional>

class QChart;
class QChartView;
class QCheckBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QTimer;
class QValueAxis;

class TPlotWindow : public QWidget {
    Q_OBJECT
public:
    // Redraws per second while shown.
    static constexpr int RefreshRate = 10;

    explicit TPlotWindow(QWidget* parent = nullptr);

    // Records a reported value at the time it arrives.
    void Record(TPlotSignal signal, float value);
    const TPlotData& Data() const { return FData; }
    TPlotData& Data() { return FData; }
    // Seconds on the recording clock now.
    double Now() const;

    // Takes the newest data into the chart (the timer's work); does nothing
    // while paused.
    void Refresh() { RefreshAt(Now()); }
    // The same with the chart's right edge at `now` seconds.
    void RefreshAt(double now);
    // What the chart shows: the data as of the last refresh.
    const TPlotSnapshot& Shown() const { return FShown; }
    // Puts the cursor readout at `time` seconds on the recording clock; it
    // reads as seconds before the last refresh, like the time axis.
    void ShowCursorAt(double time);
    // Hides a shown signal or shows a hidden one (a click on its legend entry).
    void ToggleSeries(TPlotSignal signal);
    bool SeriesHidden(TPlotSignal signal) const { return FHidden[static_cast<size_t>(signal)]; }
    QLineSeries* Series(TPlotSignal signal) const { return FSeries[static_cast<size_t>(signal)]; }
    QValueAxis* ValueAxis(TPlotSignal signal) const { return FValueAxes[static_cast<size_t>(signal)]; }
    QValueAxis* TimeAxis() const { return FTimeAxis; }

    bool SaveCsv(const QString& fileName);
    bool SavePng(const QString& fileName);

    // Asks for a file name to save to (filter as for a file dialog); an empty
    // name cancels. Tests replace it.
    using TSaveFileDialog = std::function<QString(QWidget* parent, const QString& filter)>;
    TSaveFileDialog SaveFileDialog;

    QSpinBox* sbWindow;
    QCheckBox* cbPause;
    QLabel* lbCursor;
    QPushButton* btnSavePng;
    QPushButton* btnSaveCsv;
    QChartView* ChartView;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CreateChart();
    void SaveAs(const QString& filter, bool (TPlotWindow::*save)(const QString&));
    // Shows or hides a series, its axis and its legend entry as reported
    // and as the operator chose.
    void ShowSeries(size_t index);
    // The points of a signal as of the last refresh, in seconds before it.
    QList<QPointF> ShownPoints(size_t index) const;

    TPlotData FData;
    TPlotSnapshot FShown;
    double FShownAt = 0; // recording clock at the last refresh
    QElapsedTimer FClock;
    QTimer* FTimer;
    QChart* FChart = nullptr;
    QValueAxis* FTimeAxis = nullptr;
    std::array<QLineSeries*, PlotSignalCount> FSeries{};
    std::array<QValueAxis*, PlotSignalCount> FValueAxes{};
    std::array<bool, PlotSignalCount> FHidden{};
    enum class TLegendLook { Unset, None, Greyed, Normal };
    std::array<TLegendLook, PlotSignalCount> FLegendLooks{};
};
