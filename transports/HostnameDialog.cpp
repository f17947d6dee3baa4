#include "HostnameDialog.h"

#include "IntegerEdit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

THostNameDlg::THostNameDlg(QObject* owner)
    : TModalDialog(owner)
    , FPrompt(new QLabel(QStringLiteral("Please enter the Hostname or the IP Address of the device:"), this))
    , edHostname(new QLineEdit(this))
    , FPortLabel(new QLabel(QStringLiteral("Connect via port:"), this))
    , edPort(new TIntegerEdit(this))
    , btnOk(new QPushButton(QStringLiteral("OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("HostNameDlg"));
    setWindowTitle(QStringLiteral("TCP Connection"));
    FPrompt->setObjectName(QStringLiteral("Label1"));
    edHostname->setObjectName(QStringLiteral("edHostname"));
    FPortLabel->setObjectName(QStringLiteral("Label2"));
    edPort->setObjectName(QStringLiteral("edPort"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    FPrompt->setWordWrap(true);
    FPortLabel->setBuddy(edPort);
    edPort->OnChange = [this](TIntegerEdit*) { edPortChange(); };
    edPort->SetMinValue(1);
    edPort->SetMaxValue(65535);
    edPort->setText(QStringLiteral("1000"));

    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* portRow = new QHBoxLayout;
    portRow->addWidget(FPortLabel);
    portRow->addWidget(edPort, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOk);
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FPrompt);
    layout->addWidget(edHostname);
    layout->addLayout(portRow);
    layout->addStretch(1);
    layout->addLayout(buttons);
    FixSize(313, 170);

    edPortChange();
}

QString THostNameDlg::HostName() const
{
    return edHostname->text();
}

void THostNameDlg::SetHostName(const QString& host)
{
    edHostname->setText(host);
}

int THostNameDlg::Port() const
{
    if (!edPort->IsValid())
        throw std::invalid_argument("Port value is invalid");
    return edPort->Value();
}

void THostNameDlg::SetPort(int port)
{
    edPort->setText(QString::number(port));
}

void THostNameDlg::showEvent(QShowEvent* event)
{
    TModalDialog::showEvent(event);
    SelectHostField();
    // Once more after the events already queued, which may still move the
    // cursor of the field (the last showing's closing, the activation).
    QMetaObject::invokeMethod(this, &THostNameDlg::SelectHostField, Qt::QueuedConnection);
}

void THostNameDlg::SelectHostField()
{
    edHostname->setFocus();
    edHostname->selectAll();
}

void THostNameDlg::edPortChange()
{
    btnOk->setEnabled(edPort->IsValid());
}
