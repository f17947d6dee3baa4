#include "CustomCmdForm.h"

#include "ElidedLabel.h"
#include "ErrorHints.h"
#include "Framing.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IntegerEdit.h"
#include "PayloadParser.h"
#include "RollPanel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString ParseErrorHint = QStringLiteral("Error while parsing input");
const QString PayloadHint = QStringLiteral(
    "Enter transmit data using the following formats: integer and hex values: '15', '0x0F' or "
    "'$0F', floating point values: '10.4f' or as strings: '\"Hello World\"')");

constexpr int DesignWidth = 541;
constexpr int DesignHeight = 492;
constexpr int MinimumWidth = 280;
constexpr int BorderWidth = 4;
constexpr int PayloadRightGap = 10;
constexpr int PayloadTextLimit = 1 << 20;
constexpr int CellGap = 5;
constexpr int CellHeight = 58;
constexpr int MinimumResultsBody = 40;
constexpr int LogLeft = 8;
constexpr int LogTop = 32;
const QColor CellColor(184, 204, 228);
const QColor ErrorTextColor(Qt::red);

void SetTextColor(QWidget* widget, const QColor& color)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::Text, color);
    widget->setPalette(colours);
}

// Two bytes as they stand in the frame: "LL HH".
QString HexPair(const uint8_t* bytes)
{
    return QString::asprintf("%.2X %.2X", bytes[0], bytes[1]);
}

// One cell of the decoding row: an underlined heading over its value, both
// at the bottom of a light grey-blue panel. Every value takes the two lines
// the payload may need, its text at the top, so the five headings stand in
// one line.
QFrame* CreateCell(const QString& heading, QWidget* value)
{
    value->setMinimumHeight(2 * value->fontMetrics().lineSpacing());
    if (auto* label = qobject_cast<QLabel*>(value))
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* cell = new QFrame;
    cell->setAutoFillBackground(true);
    QPalette colours = cell->palette();
    colours.setColor(QPalette::Window, CellColor);
    cell->setPalette(colours);
    cell->setFixedHeight(CellHeight);

    auto* title = new QLabel(heading, cell);
    QFont underlined = title->font();
    underlined.setUnderline(true);
    title->setFont(underlined);

    auto* column = new QVBoxLayout(cell);
    column->setContentsMargins(4, 2, 4, 2);
    column->setSpacing(1);
    column->addStretch();
    column->addWidget(title);
    column->addWidget(value);
    return cell;
}

QLabel* CreateValueLabel(const QString& name)
{
    auto* label = new QLabel;
    label->setObjectName(name);
    return label;
}

} // namespace

TCustomCmd::TCustomCmd(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("CustomCmd"));
    setWindowTitle(QStringLiteral("Custom Command Editor"));

    auto* sections = new QVBoxLayout(this);
    sections->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    sections->setSpacing(BorderWidth);
    // The window sizes itself to its contents: its height follows the
    // results panel, its width stays free above the minimum.
    sections->setSizeConstraint(QLayout::SetMinAndMaxSize);
    sections->addWidget(CreateCommandEntry());
    sections->addWidget(CreateDecodingSection());
    sections->addWidget(CreateSendRow());
    sections->addWidget(CreateResultsPanel());

    // The results panel takes the height that the other sections, the
    // border and the gaps between the four sections leave of the design size.
    int otherHeight = 2 * BorderWidth + 3 * sections->spacing();
    for (QWidget* section : {pnCmdEntry, pnDecodedPktSect, Panel2})
        otherHeight += section->sizeHint().height();
    const int resultsHeight = std::max(DesignHeight - otherHeight,
                                       2 * RollPanel2->Margin() + RollPanel2->CaptionHeight() + MinimumResultsBody);
    RollPanel2->resize(DesignWidth - 2 * BorderWidth, resultsHeight);
    resize(DesignWidth, DesignHeight);

    FormCreate();
}

THXT* TCustomCmd::Gripper() const
{
    return FGripper.data();
}

void TCustomCmd::SetGripper(THXT* gripper)
{
    FGripper = gripper;
}

QWidget* TCustomCmd::CreateCommandEntry()
{
    auto* section = new QGroupBox(QStringLiteral("Command entry"));
    section->setObjectName(QStringLiteral("pnCmdEntry"));
    section->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    section->setMinimumWidth(MinimumWidth - 2 * BorderWidth);
    pnCmdEntry = section;

    edID = new TIntegerEdit(section);
    edID->setObjectName(QStringLiteral("edID"));
    edID->setFixedWidth(57);
    edID->SetErrorFontColor(ErrorTextColor);
    edID->SetMinValue(0);
    edID->SetMaxValue(255);
    edID->SetErrorBkgColor(edID->palette().color(QPalette::Base));
    edID->setText(QStringLiteral("0x00"));

    pmKnownIDs = new QMenu(this);
    pmKnownIDs->setObjectName(QStringLiteral("pmKnownIDs"));
    btnKnownIDs = new QToolButton(section);
    btnKnownIDs->setText(QStringLiteral("Command IDs"));
    btnKnownIDs->setAutoRaise(true);
    btnKnownIDs->setPopupMode(QToolButton::InstantPopup);
    btnKnownIDs->setMenu(pmKnownIDs);

    edPayload = new QComboBox(section);
    edPayload->setObjectName(QStringLiteral("edPayload"));
    edPayload->setEditable(true);
    edPayload->setInsertPolicy(QComboBox::NoInsert);
    // The text is sent as typed: no completion from the history, and room
    // for the text of the largest payload so that pasted text is not cut.
    edPayload->setCompleter(nullptr);
    edPayload->lineEdit()->setMaxLength(PayloadTextLimit);
    edPayload->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edPayload->setToolTip(PayloadHint);

    lbPayloadSize = new QLabel(QStringLiteral("5 Bytes"), section);
    lbPayloadSize->setObjectName(QStringLiteral("lbPayloadSize"));

    auto* grid = new QGridLayout(section);
    grid->setContentsMargins(8, 4, PayloadRightGap, 6);
    grid->addWidget(new QLabel(QStringLiteral("Command ID:"), section), 0, 0);
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(edID);
    idRow->addWidget(btnKnownIDs);
    idRow->addStretch();
    grid->addLayout(idRow, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Payload:"), section), 1, 0);
    grid->addWidget(edPayload, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Payload size:"), section), 2, 0);
    grid->addWidget(lbPayloadSize, 2, 1);
    grid->setColumnStretch(1, 1);

    edID->OnChange = [this](TIntegerEdit*) { CommandEditChange(); };
    connect(edPayload, &QComboBox::editTextChanged, this, &TCustomCmd::CommandEditChange);
    connect(pmKnownIDs, &QMenu::triggered, this, &TCustomCmd::KnownIDClick);
    return section;
}

QWidget* TCustomCmd::CreateDecodingSection()
{
    auto* section = new QGroupBox(QStringLiteral("Command Packet Decoding"));
    section->setObjectName(QStringLiteral("pnDecodedPktSect"));
    section->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    pnDecodedPktSect = section;

    lbId = CreateValueLabel(QStringLiteral("lbId"));
    lbLength = CreateValueLabel(QStringLiteral("lbLength"));
    lbPayload = new TElidedLabel;
    lbPayload->setObjectName(QStringLiteral("lbPayload"));
    lbChecksum = CreateValueLabel(QStringLiteral("lbChecksum"));

    auto* row = new QHBoxLayout(section);
    row->setContentsMargins(8, 4, 8, 6);
    row->setSpacing(CellGap);
    row->addWidget(CreateCell(QStringLiteral("Preamble"), new QLabel(QStringLiteral("AA AA AA"))));
    row->addWidget(CreateCell(QStringLiteral("ID"), lbId));
    row->addWidget(CreateCell(QStringLiteral("Length"), lbLength));
    row->addWidget(CreateCell(QStringLiteral("Payload"), lbPayload), 1);
    row->addWidget(CreateCell(QStringLiteral("Checksum"), lbChecksum));
    return section;
}

QWidget* TCustomCmd::CreateSendRow()
{
    Panel2 = new QWidget;
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    btnSend = new QPushButton(style()->standardIcon(QStyle::SP_ArrowRight), QStringLiteral("Send"), Panel2);
    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setDefault(true);

    cbAutosend = new QCheckBox(QStringLiteral("auto send every "), Panel2);
    cbAutosend->setObjectName(QStringLiteral("cbAutosend"));
    cbAutosend->setEnabled(false);

    AutosendIntervalEdit = new QSpinBox(Panel2);
    AutosendIntervalEdit->setObjectName(QStringLiteral("AutosendIntervalEdit"));
    AutosendIntervalEdit->setRange(50, 10000);
    AutosendIntervalEdit->setValue(50);
    AutosendIntervalEdit->installEventFilter(this);

    AutosendTimer = new QTimer(this);
    AutosendTimer->setObjectName(QStringLiteral("AutosendTimer"));

    auto* row = new QHBoxLayout(Panel2);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(btnSend);
    row->addSpacing(16);
    row->addWidget(cbAutosend);
    row->addWidget(AutosendIntervalEdit);
    row->addWidget(new QLabel(QStringLiteral("ms."), Panel2));
    row->addStretch();

    connect(btnSend, &QPushButton::clicked, this, &TCustomCmd::btnSendClick);
    connect(cbAutosend, &QCheckBox::toggled, this, &TCustomCmd::cbAutoSendClick);
    connect(AutosendTimer, &QTimer::timeout, this, &TCustomCmd::AutosendTimerTimer);
    return Panel2;
}

QWidget* TCustomCmd::CreateResultsPanel()
{
    RollPanel2 = new TRollPanel;
    RollPanel2->setObjectName(QStringLiteral("RollPanel2"));
    RollPanel2->SetCaption(QStringLiteral("Command Results"));
    RollPanel2->SetAlign(alTop);
    RollPanel2->SetAnimate(true);
    RollPanel2->SetAnimationSpeed(150);
    RollPanel2->SetRadius(4);
    RollPanel2->SetCaptionHeight(20);
    RollPanel2->SetMargin(2);
    RollPanel2->SetAllowResize(true);
    RollPanel2->SetHideChildren(false);
    RollPanel2->SetCaptionGradientMode(gmUser);
    RollPanel2->SetCaptionGradientType(gtVertical);
    RollPanel2->SetCaptionColorFrom(QColor(31, 73, 125));
    RollPanel2->SetCaptionColorTo(QColor(79, 129, 189));
    RollPanel2->SetPanelGradientMode(gmNone);

    Log = new QPlainTextEdit(RollPanel2);
    Log->setObjectName(QStringLiteral("Log"));
    Log->setReadOnly(true);
    Log->move(LogLeft, LogTop);

    RollPanel2->OnResize = [this](QObject*) { FormResize(); };
    return RollPanel2;
}

void TCustomCmd::FormCreate()
{
    for (const TCommandID& entry : CommandIDs) {
        QAction* item = pmKnownIDs->addAction(QString::fromLatin1(entry.name));
        item->setData(entry.id);
    }
    ShowPacketDecoding(0, {});
    CommandEditChange();
}

void TCustomCmd::FormResize()
{
    Log->resize(std::max(0, RollPanel2->ClientWidth() - Log->x()),
                std::max(0, RollPanel2->ClientHeight() - 2 * Log->x()));
}

void TCustomCmd::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TCustomCmd::CommandEditChange()
{
    const bool idValid = edID->IsValid();
    if (idValid) {
        FCommandByte = static_cast<uint8_t>(edID->Value());
        QString failedElement;
        const int count = ParsePayload(edPayload->currentText(), FPayload, &failedElement);
        FInputValid = count >= 0;
        if (FInputValid) {
            SetTextColor(edPayload, palette().color(QPalette::Text));
            edPayload->setToolTip(PayloadHint);
            lbPayloadSize->setText(QString::number(count) + QStringLiteral(" bytes"));
        } else {
            SetTextColor(edPayload, ErrorTextColor);
            edPayload->setToolTip(WithHint(ParseErrorHint, PayloadErrorHint(failedElement)));
            lbPayloadSize->setText(QStringLiteral("0 bytes"));
        }
        ShowPacketDecoding(FCommandByte, FPayload);
    } else {
        FInputValid = false;
    }
    if (!FInputValid)
        cbAutosend->setChecked(false);
    UpdateSendControls();
}

void TCustomCmd::ShowPacketDecoding(uint8_t command, const TByteArray& payload)
{
    // The length and checksum cells show the bytes of the frame itself.
    const TByteArray frame = BuildFrame(command, payload.data(), payload.size());

    // Two upper-case hex digits and a blank per byte.
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString bytes;
    bytes.reserve(static_cast<qsizetype>(payload.size()) * 3);
    for (const uint8_t b : payload) {
        bytes += QLatin1Char(Digits[b >> 4]);
        bytes += QLatin1Char(Digits[b & 0x0F]);
        bytes += QLatin1Char(' ');
    }

    lbId->setText(QString::asprintf("%.2X", command));
    lbLength->setText(HexPair(&frame[4]));
    lbPayload->setText(payload.empty() ? QStringLiteral("[n/a]") : bytes);
    lbChecksum->setText(HexPair(&frame[frame.size() - 2]));
}

void TCustomCmd::UpdateSendControls()
{
    const bool autosend = cbAutosend->isChecked();
    btnSend->setEnabled(FInputValid && !autosend && !FSending);
    cbAutosend->setEnabled(FInputValid);
    AutosendIntervalEdit->setEnabled(!autosend);
}

void TCustomCmd::btnSendClick()
{
    // One send at a time: a send started while another waits for its answer
    // (a timer tick during the wait) would nest transactions without bound.
    if (!FGripper || FSending || !FInputValid)
        return;
    const uint8_t command = FCommandByte;
    const TByteArray payload = FPayload;
    const QString text = edPayload->currentText().trimmed();

    FSending = true;
    UpdateSendControls();
    const QPointer<TCustomCmd> self(this);
    const TStat status = FGripper->ExecuteAsync(
        command, payload, [self](QObject* sender, int id, TStat result, const TByteArray& data) {
            if (self)
                self->AsyncResult(sender, id, result, data);
        });
    if (!self)
        return;
    FSending = false;

    const bool refused = status == THXT::TransactionRefused && FGripper->LastTransactionRefused();
    AppendLog(QString::asprintf("Sending Command %.2Xh: %s", command,
                                refused ? THXT::RefusedText : StatusText(status).c_str()));
    if (status != E_CMD_FAILED)
        AddToHistory(text);
    UpdateSendControls();
}

void TCustomCmd::cbAutoSendClick()
{
    if (cbAutosend->isChecked()) {
        AutosendIntervalEdit->interpretText();
        AutosendTimer->start(AutosendIntervalEdit->value());
    } else {
        AutosendTimer->stop();
    }
    UpdateSendControls();
}

void TCustomCmd::AutosendTimerTimer()
{
    btnSendClick();
}

void TCustomCmd::AsyncResult(QObject*, int id, TStat status, const TByteArray&)
{
    AppendLog(QString::asprintf("Async result from command %.2Xh: %s.", id & 0xFF, StatusText(status).c_str()));
}

void TCustomCmd::KnownIDClick(QAction* item)
{
    edID->setText(QString::number(item->data().toInt()));
}

void TCustomCmd::AddToHistory(const QString& text)
{
    if (text.isEmpty() || edPayload->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive) >= 0)
        return;
    // Adding the first item makes it the current one, which would replace
    // the text being edited; keep the operator's text and cursor.
    const QString current = edPayload->currentText();
    const int cursor = edPayload->lineEdit()->cursorPosition();
    const QSignalBlocker quiet(edPayload);
    edPayload->addItem(text);
    if (edPayload->currentText() != current) {
        edPayload->setEditText(current);
        edPayload->lineEdit()->setCursorPosition(cursor);
    }
}

void TCustomCmd::AppendLog(const QString& line)
{
    Log->appendPlainText(line);
}

void TCustomCmd::keyPressEvent(QKeyEvent* event)
{
    // Send is the window's default button: Enter presses it.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && btnSend->isEnabled()) {
        btnSend->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TCustomCmd::eventFilter(QObject* watched, QEvent* event)
{
    // The interval field selects its text when it gets the focus, so a new
    // value can be typed over it.
    if (watched == AutosendIntervalEdit && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, AutosendIntervalEdit, &QAbstractSpinBox::selectAll);
    return QWidget::eventFilter(watched, event);
}
