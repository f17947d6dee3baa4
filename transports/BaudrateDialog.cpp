#include "BaudrateDialog.h"

#include "SerialDevice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

namespace {
constexpr auto LineSpeeds = TSerialDevice::LineSpeeds;
static_assert(LineSpeeds.size() == TBaudrateDlg::SpeedCount);
}

TBaudrateDlg::TBaudrateDlg(QObject* owner)
    : TModalDialog(owner)
    , FLabel(new QLabel(QStringLiteral("Baudrate:"), this))
    , cbBaudrate(new QComboBox(this))
    , btnOk(new QPushButton(QStringLiteral("OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("BaudrateDlg"));
    setWindowTitle(QStringLiteral("Connection Properties"));
    FLabel->setObjectName(QStringLiteral("Label1"));
    cbBaudrate->setObjectName(QStringLiteral("cbBaudrate"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    for (int speed : LineSpeeds)
        cbBaudrate->addItem(QStringLiteral("%1 baud").arg(speed));
    cbBaudrate->setEditable(false);
    FLabel->setBuddy(cbBaudrate);

    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbBaudrate, &QComboBox::currentIndexChanged, this, &TBaudrateDlg::cbBaudrateChange);

    auto* row = new QHBoxLayout;
    row->addWidget(FLabel);
    row->addWidget(cbBaudrate, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOk);
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch(1);
    layout->addLayout(buttons);
    FixSize(313, 131);

    cbBaudrate->setCurrentIndex(0);
    cbBaudrateChange();
}

int TBaudrateDlg::BaudrateIndex() const
{
    return cbBaudrate->currentIndex();
}

void TBaudrateDlg::SetBaudrateIndex(int index)
{
    if (index < 0 || index >= cbBaudrate->count())
        throw std::out_of_range("Index out of bounds");
    cbBaudrate->setCurrentIndex(index);
}

int TBaudrateDlg::Baudrate() const
{
    const int index = cbBaudrate->currentIndex();
    if (index < 0 || index >= static_cast<int>(LineSpeeds.size()))
        throw std::logic_error("Baudrate index undefined");
    return LineSpeeds[static_cast<size_t>(index)];
}

void TBaudrateDlg::cbBaudrateChange()
{
    btnOk->setEnabled(cbBaudrate->currentIndex() >= 0);
}
