#include "PlotWindow.h"

#include "MessageDialog.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Reports come every 100 ms while a value changes; a longer silence means
// that the value held (the reports are asked for on change only).
constexpr double HoldAfter = 0.25;

struct TSignalLook {
    const char* name;
    const char* unit;
    QColor colour;
    Qt::Alignment side;
};

const std::array<TSignalLook, PlotSignalCount> Looks{{
    {"Position", "mm", QColor(0x1F, 0x49, 0x7D), Qt::AlignLeft},
    {"Speed", "mm/s", QColor(0x2E, 0x8B, 0x57), Qt::AlignRight},
    {"Force", "N", QColor(0xC0, 0x39, 0x2B), Qt::AlignRight},
}};

QString DefaultSaveFileDialog(QWidget* parent, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save plot"), QString(), filter);
}

// The chart view forwards the mouse position in chart values to the window.
class TPlotView : public QChartView {
public:
    TPlotView(QChart* chart, QWidget* parent, std::function<void(QPointF)> onHover)
        : QChartView(chart, parent), FOnHover(std::move(onHover))
    {
        setMouseTracking(true);
    }

protected:
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (FOnHover && chart()->plotArea().contains(event->position()))
            FOnHover(chart()->mapToValue(event->position()));
        QChartView::mouseMoveEvent(event);
    }

private:
    std::function<void(QPointF)> FOnHover;
};

// At most this many steps between ticks on an axis.
constexpr int MaxTickSteps = 6;

// Ticks at round values (1, 2 or 5 times a power of ten) over the axis's
// range, with as many decimals as the step needs.
void RoundTicks(QValueAxis* axis, double step)
{
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(TickDecimals(step)));
}

// Fits the axis to the values shown, widened a little so that a flat line
// is not drawn on the frame, with its ends on round values. The range
// changes only when values leave it or fill less than half of it: every
// change of an axis lays the chart out anew, which costs more than drawing
// the lines.
void FitAxis(QValueAxis* axis, const QList<QPointF>& points)
{
    if (points.isEmpty())
        return;
    const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                                 [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    const double span = high->y() - low->y();
    const bool inside = low->y() >= axis->min() && high->y() <= axis->max();
    if (inside && span >= (axis->max() - axis->min()) / 2)
        return;
    const double margin = std::max(0.5, span * 0.1);
    const double step = TickStep(span + 2 * margin, MaxTickSteps);
    axis->setRange(std::floor((low->y() - margin) / step) * step, std::ceil((high->y() + margin) / step) * step);
    RoundTicks(axis, step);
}

}

TPlotWindow::TPlotWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), SaveFileDialog(DefaultSaveFileDialog), FTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("PlotWin"));
    setWindowTitle(QStringLiteral("Plot"));
    resize(720, 420);
    FClock.start();

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Window:"), this));
    sbWindow = new QSpinBox(this);
    sbWindow->setObjectName(QStringLiteral("sbWindow"));
    sbWindow->setRange(5, 600);
    sbWindow->setSuffix(QStringLiteral(" s"));
    sbWindow->setValue(FData.WindowSeconds());
    bar->addWidget(sbWindow);
    cbPause = new QCheckBox(QStringLiteral("&Pause"), this);
    cbPause->setObjectName(QStringLiteral("cbPause"));
    bar->addWidget(cbPause);
    bar->addStretch(1);
    btnSavePng = new QPushButton(QStringLiteral("Save as P&NG..."), this);
    btnSavePng->setObjectName(QStringLiteral("btnSavePng"));
    btnSaveCsv = new QPushButton(QStringLiteral("Save as &CSV..."), this);
    btnSaveCsv->setObjectName(QStringLiteral("btnSaveCsv"));
    bar->addWidget(btnSavePng);
    bar->addWidget(btnSaveCsv);

    // The cursor readout has a line of its own, so the window keeps its
    // width however long the readout gets.
    lbCursor = new QLabel(QStringLiteral(" "), this);
    lbCursor->setObjectName(QStringLiteral("lbCursor"));
    lbCursor->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    CreateChart();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(lbCursor);
    layout->addWidget(ChartView, 1);

    connect(sbWindow, &QSpinBox::valueChanged, this, [this](int seconds) {
        FData.SetWindowSeconds(seconds);
        Refresh();
    });
    connect(cbPause, &QCheckBox::toggled, this, [this](bool paused) {
        if (!paused)
            Refresh();
    });
    connect(btnSavePng, &QPushButton::clicked, this,
            [this] { SaveAs(QStringLiteral("PNG pictures (*.png)"), &TPlotWindow::SavePng); });
    connect(btnSaveCsv, &QPushButton::clicked, this,
            [this] { SaveAs(QStringLiteral("CSV files (*.csv)"), &TPlotWindow::SaveCsv); });

    FTimer->setInterval(1000 / RefreshRate);
    connect(FTimer, &QTimer::timeout, this, [this] { Refresh(); });
}

void TPlotWindow::CreateChart()
{
    FChart = new QChart;
    FChart->legend()->setAlignment(Qt::AlignBottom);
    FTimeAxis = new QValueAxis(FChart);
    // Seconds before now: the axis stays put while the lines move left.
    FTimeAxis->setTitleText(QStringLiteral("Time (s)"));
    FChart->addAxis(FTimeAxis, Qt::AlignBottom);
    for (size_t i = 0; i < PlotSignalCount; ++i) {
        const TSignalLook& look = Looks[i];
        auto* series = new QLineSeries(FChart);
        series->setName(QStringLiteral("%1 (%2)").arg(QLatin1String(look.name), QString::fromUtf8(look.unit)));
        // A one-pixel cosmetic pen is drawn without stroking the outline of
        // a wide line, several times cheaper at thousands of points.
        QPen pen(look.colour, 1);
        pen.setCosmetic(true);
        series->setPen(pen);
        FChart->addSeries(series);
        auto* axis = new QValueAxis(FChart);
        axis->setTitleText(series->name());
        axis->setLinePenColor(look.colour);
        axis->setLabelsColor(look.colour);
        FChart->addAxis(axis, look.side);
        series->attachAxis(FTimeAxis);
        series->attachAxis(axis);
        FSeries[i] = series;
        FValueAxes[i] = axis;
        QLegendMarker* marker = FChart->legend()->markers(series).value(0);
        connect(marker, &QLegendMarker::clicked, this, [this, i] { ToggleSeries(static_cast<TPlotSignal>(i)); });
    }
    ChartView = new TPlotView(FChart, this, [this](QPointF value) { ShowCursorAt(FShownAt + value.x()); });
    ChartView->setObjectName(QStringLiteral("ChartView"));
    ChartView->setRenderHint(QPainter::Antialiasing, false);
}

double TPlotWindow::Now() const { return static_cast<double>(FClock.nsecsElapsed()) / 1e9; }

void TPlotWindow::Record(TPlotSignal signal, float value) { FData.Add(signal, Now(), value); }

void TPlotWindow::RefreshAt(double now)
{
    if (cbPause->isChecked())
        return;
    FShown = FData.Snapshot();
    FShownAt = now;
    const double window = FData.WindowSeconds();
    if (FTimeAxis->min() != -window) {
        FTimeAxis->setRange(-window, 0);
        RoundTicks(FTimeAxis, TickStep(window, MaxTickSteps));
    }
    for (size_t i = 0; i < PlotSignalCount; ++i) {
        const QList<QPointF> points = ShownPoints(i);
        // A hidden signal keeps its series (and so its legend entry) without
        // points.
        FSeries[i]->replace(FHidden[i] ? QList<QPointF>() : points);
        ShowSeries(i);
        FitAxis(FValueAxes[i], points);
    }
}

QList<QPointF> TPlotWindow::ShownPoints(size_t i) const
{
    // Least and largest value per two pixels: the lines look the same as
    // with every sample, and the chart maps and draws a few hundred points
    // per signal instead of thousands.
    const int buckets = std::max(1, static_cast<int>(FChart->plotArea().width()) / 2);
    QList<QPointF> points = Decimate(FShown[i], FShownAt - FData.WindowSeconds(), FShownAt, buckets, HoldAfter);
    // The gripper reports a value when it changes: the last one holds until
    // now.
    if (!points.isEmpty() && points.last().x() < FShownAt)
        points.append(QPointF(FShownAt, points.last().y()));
    for (QPointF& point : points)
        point.rx() -= FShownAt;
    return points;
}

void TPlotWindow::ToggleSeries(TPlotSignal signal)
{
    const auto i = static_cast<size_t>(signal);
    FHidden[i] = !FHidden[i];
    FSeries[i]->replace(FHidden[i] ? QList<QPointF>() : ShownPoints(i));
    ShowSeries(i);
}

void TPlotWindow::ShowSeries(size_t i)
{
    // A signal the gripper does not report takes no room in the chart; one
    // the operator hid keeps its legend entry, greyed, to show it again.
    const bool reported = !FShown[i].empty();
    const TLegendLook look = !reported ? TLegendLook::None : FHidden[i] ? TLegendLook::Greyed : TLegendLook::Normal;
    if (FLegendLooks[i] == look)
        return;
    FLegendLooks[i] = look;
    FSeries[i]->setVisible(reported);
    FValueAxes[i]->setVisible(reported && !FHidden[i]);
    QLegendMarker* marker = FChart->legend()->markers(FSeries[i]).value(0);
    if (!marker)
        return;
    marker->setLabelBrush(FHidden[i] ? QBrush(Qt::gray) : FChart->legend()->labelBrush());
    QColor colour = Looks[i].colour;
    colour.setAlphaF(FHidden[i] ? 0.25f : 1.0f);
    marker->setBrush(colour);
}

void TPlotWindow::ShowCursorAt(double time)
{
    QString text = QStringLiteral("%1 s").arg(time - FShownAt, 0, 'f', 2);
    for (size_t i = 0; i < PlotSignalCount; ++i) {
        const TPlotSample* sample = NearestSample(FShown[i], time);
        if (sample)
            text += QStringLiteral("   %1 %2 %3")
                        .arg(QString::fromLatin1(Looks[i].name).toLower())
                        .arg(static_cast<double>(sample->value), 0, 'f', 2)
                        .arg(QString::fromUtf8(Looks[i].unit));
    }
    lbCursor->setText(text);
}

bool TPlotWindow::SaveCsv(const QString& fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(PlotCsv(FShown).toUtf8()) < 0
        || !file.commit()) {
        ShowError(QStringLiteral("Cannot save the plot data: ") + file.errorString());
        return false;
    }
    return true;
}

bool TPlotWindow::SavePng(const QString& fileName)
{
    if (!ChartView->grab().save(fileName, "PNG")) {
        ShowError(QStringLiteral("Cannot save the plot picture to ") + fileName);
        return false;
    }
    return true;
}

void TPlotWindow::SaveAs(const QString& filter, bool (TPlotWindow::*save)(const QString&))
{
    if (!SaveFileDialog)
        return;
    const QString fileName = SaveFileDialog(this, filter);
    if (!fileName.isEmpty())
        (this->*save)(fileName);
}

void TPlotWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
    FTimer->start();
}

void TPlotWindow::hideEvent(QHideEvent* event)
{
    FTimer->stop();
    QWidget::hideEvent(event);
}
