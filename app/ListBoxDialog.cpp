#include "ListBoxDialog.h"

#include "DialogRunner.h"
#include "ZLBListBox.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

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
    ListBox->SetItemHeight(16);
    ListBox->SetExtendedSelect(true);
    ListBox->SetMultiSelect(false);
    innerLayout->addWidget(ListBox);
    layout->addWidget(pnInner, 1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(ButtonPanelHeight);
    btnClose = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&close"), Panel2);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(0, 5, 75, 25);
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    Panel2->installEventFilter(this);
    layout->addWidget(Panel2);

    ListBox->Clear();
}

void TListBoxDlg::AddRow(const QString& description, const QString& value)
{
    ListBox->AddItem(description + QLatin1Char(';') + value);
}

void TListBoxDlg::ShowList()
{
    ListBox->AutoSizeColumn(0);
    RunDialog(*this);
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
