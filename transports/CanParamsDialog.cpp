#include "CanParamsDialog.h"

#include "CANDevice.h"
#include "IntegerEdit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

namespace {
constexpr auto BitrateEntries = TCANDevice::Bitrates;
}

TCANParamsDlg::TCANParamsDlg(QObject* owner)
    : TModalDialog(owner)
    , FPrompt(new QLabel(QStringLiteral("Please select the CAN-Bus configuration. You need to select the same "
                                        "settings that you are using for the target system:"),
          this))
    , Label1(new QLabel(QStringLiteral("CAN-Bus bitrate:"), this))
    , cbBitrate(new QComboBox(this))
    , Label2(new QLabel(QStringLiteral("ID of the target system:"), this))
    , edID(new TIntegerEdit(this))
    , btnOk(new QPushButton(QStringLiteral("OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("CANParamsDlg"));
    setWindowTitle(QStringLiteral("CAN-Bus Configuration"));
    Label1->setObjectName(QStringLiteral("Label1"));
    cbBitrate->setObjectName(QStringLiteral("cbBitrate"));
    Label2->setObjectName(QStringLiteral("Label2"));
    edID->setObjectName(QStringLiteral("edID"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    FPrompt->setWordWrap(true);
    // The operator may pick an entry or type a text; typing never adds entries.
    cbBitrate->setEditable(true);
    cbBitrate->setInsertPolicy(QComboBox::NoInsert);
    for (const TCANDevice::TBitrate& entry : BitrateEntries)
        cbBitrate->addItem(QString::fromLatin1(entry.Text));
    cbBitrate->setCurrentIndex(-1);
    cbBitrate->setEditText(QStringLiteral("250 kbit/s"));
    Label1->setBuddy(cbBitrate);
    Label2->setBuddy(edID);

    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    edID->OnChange = [this](TIntegerEdit*) { edIDChange(); };
    edID->setText(QStringLiteral("100"));

    auto* fields = new QGridLayout;
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(cbBitrate, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(edID, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOk);
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FPrompt);
    layout->addLayout(fields);
    layout->addStretch(1);
    layout->addLayout(buttons);
    FixSize(313, 183);
    edIDChange();
}

uint32_t TCANParamsDlg::BitrateCode() const
{
    // A typed text that spells an entry (in any letter case) means that entry.
    const int index = cbBitrate->findText(cbBitrate->currentText().trimmed(), Qt::MatchFixedString);
    if (index < 0 || index >= static_cast<int>(BitrateEntries.size()))
        return NTCAN_BAUD_1000;
    return BitrateEntries[static_cast<size_t>(index)].Code;
}

void TCANParamsDlg::SetBitrateCode(uint32_t code)
{
    for (size_t i = 0; i < BitrateEntries.size(); ++i) {
        if (BitrateEntries[i].Code == code) {
            cbBitrate->setCurrentIndex(static_cast<int>(i));
            cbBitrate->setEditText(cbBitrate->itemText(static_cast<int>(i)));
            return;
        }
    }
    throw std::invalid_argument(QStringLiteral("%1 is not a supported bitrate").arg(code).toStdString());
}

int32_t TCANParamsDlg::TargetId() const
{
    return edID->IsValid() ? edID->Value() : -1;
}

void TCANParamsDlg::edIDChange()
{
    btnOk->setEnabled(edID->IsValid());
}
