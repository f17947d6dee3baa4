#include "ListBoxDialog.h"

#include "DialogRunner.h"
#include "ZLBListBox.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Width a push button needs for its caption (and picture) with some room
// on both sides; the style's own size hint rounds every button up to 80.
int NeededButtonWidth(const QPushButton* button)
{
    QString caption = button->text();
    caption.remove(QLatin1Char('&'));
    int width = button->fontMetrics().horizontalAdvance(caption) + 20;
    if (!button->icon().isNull())
        width += button->iconSize().width() + 4;
    return width;
}

constexpr int InnerBorder = 5;
constexpr int ButtonPanelHeight = 33;

void AddSection(TZLBListBox* list, const QString& caption, int width)
{
    TZLBHeaderSection* section = list->HeaderSections()->Add();
    section->SetText(caption);
    section->SetWidth(width);
    section->SetSortEnabled(true);
    section->SetBackColor(QApplication::palette().color(QPalette::Button));
}

}

TListBoxDlg::TListBoxDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    resize(327, 218);
    // Small enough to shrink, large enough that the button and a few rows
    // stay visible.
    setMinimumSize(160, 120);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnInner = new QWidget(this);
    pnInner->setObjectName(QStringLiteral("pnInner"));
    auto* innerLayout = new QVBoxLayout(pnInner);
    innerLayout->setContentsMargins(InnerBorder, InnerBorder, InnerBorder, InnerBorder);
    ListBox = new TZLBListBox(pnInner);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    AddSection(ListBox, QStringLiteral("Description"), 165);
    AddSection(ListBox, QStringLiteral("Value"), 141);
    ListBox->SetSortColor(QToolTip::palette().color(QPalette::ToolTipBase));
    // 16 pixels per row, more only when the font is taller.
    ListBox->SetItemHeight(std::max(16, ListBox->fontMetrics().height()));
    ListBox->SetExtendedSelect(true);
    ListBox->SetMultiSelect(false);
    innerLayout->addWidget(ListBox);
    layout->addWidget(pnInner, 1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    btnClose = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&close"), Panel2);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    // 75 x 25 in a 33 high panel; larger only when the font needs it.
    btnClose->setGeometry(0, 5, std::max(75, NeededButtonWidth(btnClose)),
                          std::max(25, btnClose->fontMetrics().height() + 10));
    Panel2->setFixedHeight(std::max(ButtonPanelHeight, btnClose->geometry().bottom() + 1 + 3));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    Panel2->installEventFilter(this);
    layout->addWidget(Panel2);
}

void TListBoxDlg::AddRow(const QString& description, const QString& value)
{
    ListBox->AddItem(description + QLatin1Char(';') + value);
}

void TListBoxDlg::SetColumnCaptions(const QString& first, const QString& second)
{
    ListBox->HeaderSections()->Items(0)->SetText(first);
    ListBox->HeaderSections()->Items(1)->SetText(second);
}

void TListBoxDlg::ShowList()
{
    ListBox->AutoSizeColumn(0);
    FitValueColumn();
    RunDialog(*this);
}

void TListBoxDlg::FitValueColumn()
{
    // With the design's font the values fit in what the sizing of the first
    // column leaves; with a larger font the "Value" column and the dialog
    // grow by what is missing, so no value is cut off.
    TZLBHeaderSection* value = ListBox->HeaderSections()->Items(1);
    const QFontMetrics metrics(ListBox->Font());
    int wanted = ListBox->Header()->fontMetrics().horizontalAdvance(value->Text()) + 10;
    for (int i = 0; i < ListBox->Count(); ++i)
        wanted = std::max(wanted, metrics.horizontalAdvance(TZLBListBox::ColumnText(ListBox->Item(i), 1)));
    wanted += 10 + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (wanted > value->Width()) {
        resize(width() + wanted - value->Width(), height());
        value->SetWidth(wanted);
    }
}

bool TListBoxDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Panel2 && event->type() == QEvent::Resize)
        Panel2Resize();
    return QDialog::eventFilter(watched, event);
}

void TListBoxDlg::Panel2Resize()
{
    btnClose->move((Panel2->width() - btnClose->width()) / 2, btnClose->y());
}
