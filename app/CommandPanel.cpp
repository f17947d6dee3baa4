#include "CommandPanel.h"

#include "AppColors.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QSlider>

#include <algorithm>

namespace {

// Columns of the grid; the fixed widths keep the controls of all panels in
// line with each other and put track bars at left 152, edits at 320 and the
// button at 415. The button's column takes the width the panel gains, with
// the button at its left edge, so the button stays beside its fields.
enum Column { ColCaption, ColTrack, ColEdit, ColUnit, ColButton };
constexpr int CaptionWidth = 116;
constexpr int TrackWidth = 160;
constexpr int EditWidth = 49;
constexpr int UnitWidth = 30;
constexpr int ColumnGap = 8;
constexpr int MinimumPanelWidth = 495;

}

TCommandPanel::TCommandPanel(const QString& stripCaption, int height, QWidget* parent)
    : QFrame(parent), FStripCaption(stripCaption), FGrid(new QGridLayout(this))
{
    setMinimumWidth(MinimumPanelWidth);
    setMinimumHeight(height);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFrameShape(QFrame::NoFrame);

    FGrid->setContentsMargins(StripWidth + 8, 6, 10, 6);
    FGrid->setVerticalSpacing(4);
    // The gaps are part of the column widths rather than grid spacing, which
    // a grid leaves out next to empty columns: so the columns keep their
    // places also in a panel whose text spans them.
    FGrid->setHorizontalSpacing(0);
    for (const auto& [column, width] : {std::pair{ColCaption, CaptionWidth}, std::pair{ColTrack, TrackWidth},
                                        std::pair{ColEdit, EditWidth}, std::pair{ColUnit, UnitWidth}})
        FGrid->setColumnMinimumWidth(column, width + ColumnGap);
    FGrid->setColumnStretch(ColButton, 1);
}

void TCommandPanel::AddRow(const QString& caption, QSlider* track, QWidget* edit, const QString& unit)
{
    auto* label = new QLabel(caption, this);
    auto* unitLabel = new QLabel(unit, this);
    track->setFixedWidth(TrackWidth);
    edit->setFixedWidth(EditWidth);
    FGrid->addWidget(label, FRows, ColCaption);
    FGrid->addWidget(track, FRows, ColTrack, Qt::AlignLeft | Qt::AlignVCenter);
    FGrid->addWidget(edit, FRows, ColEdit, Qt::AlignLeft | Qt::AlignVCenter);
    FGrid->addWidget(unitLabel, FRows, ColUnit);
    ++FRows;
}

void TCommandPanel::AddText(const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    FGrid->addWidget(label, FRows, ColCaption, 1, ColUnit - ColCaption + 1);
    ++FRows;
}

void TCommandPanel::SetButton(QAbstractButton* button)
{
    button->setFixedSize(70, 25);
    FGrid->addWidget(button, 0, ColButton, std::max(FRows, 1), 1, Qt::AlignLeft | Qt::AlignVCenter);
}

void TCommandPanel::AlignColumns(const std::vector<TCommandPanel*>& panels)
{
    for (int column : {ColCaption, ColUnit}) {
        int width = 0;
        for (const TCommandPanel* panel : panels) {
            const QGridLayout* grid = panel->FGrid;
            for (int i = 0; i < grid->count(); ++i) {
                int row = 0, at = 0, rowSpan = 0, columnSpan = 0;
                grid->getItemPosition(i, &row, &at, &rowSpan, &columnSpan);
                // A text spanning the input columns sets no column's width.
                if (at == column && columnSpan == 1)
                    width = std::max(width, grid->itemAt(i)->sizeHint().width() + ColumnGap);
            }
        }
        for (TCommandPanel* panel : panels)
            panel->FGrid->setColumnMinimumWidth(column, std::max(panel->FGrid->columnMinimumWidth(column), width));
    }
}

void TCommandPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), AppColors::CommandPanelBody(palette()));
    painter.fillRect(QRect(0, 0, StripWidth, height()), AppColors::CaptionStrip);
    painter.setPen(QColor(255, 255, 255, 120));
    painter.drawLine(0, height() - 1, width(), height() - 1);

    QFont stripFont(QStringLiteral("Arial"));
    stripFont.setBold(true);
    stripFont.setPointSize(8);
    painter.setFont(stripFont);
    painter.setPen(Qt::white);
    // Turned by 90 degrees: the text runs upwards, centred on the strip.
    painter.translate(0, height());
    painter.rotate(-90);
    painter.drawText(QRect(4, 0, height() - 8, StripWidth), Qt::AlignCenter, FStripCaption);
}
