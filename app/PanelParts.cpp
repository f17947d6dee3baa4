#include "PanelParts.h"

#include "AppColors.h"
#include "HXT_commands.h"
#include "RollPanel.h"

#include <QLabel>
#include <QLocale>

QString NotAvailableText()
{
    return QStringLiteral("[n/a]");
}

QLabel* MakeLabel(const QString& name, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

TRollPanel* MakeRollPanel(const QString& name, const QString& caption, int height, QWidget* parent)
{
    auto* panel = new TRollPanel(parent);
    panel->setObjectName(name);
    panel->SetCaption(caption);
    panel->SetRadius(4);
    panel->SetAnimationSpeed(150);
    panel->SetCaptionHeight(20);
    panel->SetCaptionGradientMode(gmUser);
    panel->SetCaptionColorFrom(AppColors::CaptionDark);
    panel->SetCaptionColorTo(AppColors::CaptionStrip);
    panel->SetCaptionFontColor(Qt::white);
    panel->SetAllowResize(false);
    // The automatic body gradient lightens towards grey, which light text
    // on a dark palette does not stand out from.
    if (AppColors::IsDark(panel->palette()))
        panel->SetPanelGradientMode(gmNone);
    panel->SetState(rpExpanded);
    panel->resize(RightColumnWidth, height);
    return panel;
}

QString FixedText(double value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 2);
}

QString GraspingStateCaption(uint8_t state)
{
    if (state < GraspingStateCount)
        return QString::fromLatin1(GraspingStateText[state]);
    return QStringLiteral("unknown (%1)").arg(state);
}
