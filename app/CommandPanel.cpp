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
// line with each other.
enum Column { ColCaption, ColTrack, ColEdit, ColUnit, ColGap, ColButton };
constexpr int CaptionWidth = 118;
constexpr int TrackWidth = 160;
constexpr int EditWidth = 49;
constexpr int UnitWidth = 40;
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
    FGrid->setHorizontalSpacing(8);
    FGrid->setVerticalSpacing(4);
    FGrid->setColumnMinimumWidth(ColCaption, CaptionWidth);
    FGrid->setColumnMinimumWidth(ColUnit, UnitWidth);
    FGrid->setColumnStretch(ColGap, 1);
}

void TCommandPanel::AddRow(const QString& caption, QSlider* track, QWidget* edit, const QString& unit)
{
    auto* label = new QLabel(caption, this);
    auto* unitLabel = new QLabel(unit, this);
    track->setFixedWidth(TrackWidth);
    edit->setFixedWidth(EditWidth);
    FGrid->addWidget(label, FRows, ColCaption);
    FGrid->addWidget(track, FRows, ColTrack);
    FGrid->addWidget(edit, FRows, ColEdit);
    FGrid->addWidget(unitLabel, FRows, ColUnit);
    ++FRows;
}

void TCommandPanel::AddText(const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    FGrid->addWidget(label, FRows, ColCaption, 1, ColGap - ColCaption + 1);
    ++FRows;
}

void TCommandPanel::SetButton(QAbstractButton* button)
{
    button->setFixedSize(70, 25);
    FGrid->addWidget(button, 0, ColButton, std::max(FRows, 1), 1, Qt::AlignVCenter);
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
