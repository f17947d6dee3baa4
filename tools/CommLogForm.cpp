#include "CommLogForm.h"

#include "HXT_commands.h"
#include "PaletteColors.h"
#include "MessageDialog.h"
#include "PacketBufferClass.h"
#include "PacketDecoder.h"
#include "convert.h"
#include "stat.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TCommLog* CommLog = nullptr;

namespace {

const QString ConvertError = QStringLiteral("Error while converting selected data.");
const QString FloatSizeError = QStringLiteral("Error: 4 bytes required to form a float value");
const QString SaveError = QStringLiteral("Error while saving the log: ");
const QString OpenError = QStringLiteral("Error while opening the log %1: %2");
const QString CsvFilter = QStringLiteral("CSV files (*.csv)");
// The size a log opened from a file asks for.
constexpr int OpenedLogWidth = 960;
constexpr int OpenedLogHeight = 640;

// Command names and status identifiers of all 256 byte values, made once so
// that laying out a long log needs no string work per line.
struct TNameTables {
    std::array<QString, 256> command;
    std::array<QString, 256> status;
    TNameTables()
    {
        for (int i = 0; i < 256; ++i) {
            command[i] = QString::fromStdString(CommandName(static_cast<uint8_t>(i)));
            status[i] = QString::fromStdString(StatusName(static_cast<uint8_t>(i)));
        }
    }
};

const TNameTables& Names()
{
    static const TNameTables tables;
    return tables;
}

int DecimalDigits(int32_t value)
{
    int digits = value < 0 ? 2 : 1;
    for (int64_t v = value < 0 ? -static_cast<int64_t>(value) : value; v >= 10; v /= 10)
        ++digits;
    return digits;
}

// Two upper-case hex digits.
void AppendHexDigits(QString& text, uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    text += QLatin1Char(digits[b >> 4]);
    text += QLatin1Char(digits[b & 0x0F]);
}

// One payload byte of a line: a blank and two hex digits.
void AppendHexByte(QString& text, uint8_t b)
{
    text += QLatin1Char(' ');
    AppendHexDigits(text, b);
}

// A token of the selection as a hex number 0..255; false when it is not one.
bool ParseHexByte(QStringView token, uint8_t& value)
{
    if (token.isEmpty())
        return false;
    unsigned v = 0;
    for (const QChar c : token) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else if (u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        if (digit < 0)
            return false;
        v = v * 16 + static_cast<unsigned>(digit);
        if (v > 255)
            return false;
    }
    value = static_cast<uint8_t>(v);
    return true;
}

// Splits the text at blanks and reads every token as a hex byte. Any token
// that is not one (a line break inside a selection over two lines included)
// empties the result.
int ParseHexBytes(const QString& text, TByteArray& bytes)
{
    bytes.clear();
    for (const QStringView token : QStringView(text).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        uint8_t value = 0;
        if (!ParseHexByte(token, value)) {
            bytes.clear();
            return 0;
        }
        bytes.push_back(value);
    }
    return static_cast<int>(bytes.size());
}

// A float in the general format with 4 significant digits: fixed notation for
// 0 and for magnitudes from 0.00001 with at most 4 digits before the decimal
// point, otherwise scientific notation with a signed exponent of at least 3
// digits; trailing zeros are dropped. Rounding is half away from zero.
QString FormatGeneral4(float value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    const double magnitude = std::fabs(static_cast<double>(value));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.30e", magnitude);
    int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    int mantissa = (buf[0] - '0') * 1000 + (buf[2] - '0') * 100 + (buf[3] - '0') * 10 + (buf[4] - '0');
    if (buf[5] >= '5')
        ++mantissa;
    if (mantissa == 10000) {
        mantissa = 1000;
        ++exponent;
    }
    std::string digits = std::to_string(mantissa);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const QString point = QLocale().decimalPoint();
    QString text = value < 0 ? QStringLiteral("-") : QString();
    if (magnitude >= 0.00001 && exponent < 4) {
        std::string whole;
        std::string fraction;
        if (exponent >= 0) {
            const size_t wholeDigits = static_cast<size_t>(exponent) + 1;
            whole = digits.substr(0, std::min(wholeDigits, digits.size()));
            whole.resize(wholeDigits, '0');
            if (digits.size() > wholeDigits)
                fraction = digits.substr(wholeDigits);
        } else {
            whole = "0";
            fraction = std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
        }
        text += QString::fromStdString(whole);
        if (!fraction.empty())
            text += point + QString::fromStdString(fraction);
        return text;
    }
    text += QLatin1Char(digits[0]);
    if (digits.size() > 1)
        text += point + QString::fromStdString(digits.substr(1));
    text += QStringLiteral("E%1%2").arg(exponent < 0 ? '-' : '+').arg(std::abs(exponent), 3, 10, QLatin1Char('0'));
    return text;
}

bool IsCsvName(const QString& fileName) { return fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive); }

// The format follows the name; choosing the CSV type without typing the
// extension adds it.
QString DefaultSaveFileDialog(QWidget* parent)
{
    QString selected;
    QString fileName = QFileDialog::getSaveFileName(parent, QStringLiteral("Save log"), QString(),
                                                    QStringLiteral("Text files (*.txt);;") + CsvFilter
                                                        + QStringLiteral(";;All files (*)"),
                                                    &selected);
    if (!fileName.isEmpty() && selected == CsvFilter && QFileInfo(fileName).suffix().isEmpty())
        fileName += QLatin1String(".csv");
    return fileName;
}

TCommLog::TSaveScope DefaultSaveScopeQuestion(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Save log"), text, QMessageBox::NoButton, parent);
    QPushButton* all = box.addButton(QStringLiteral("&All lines"), QMessageBox::AcceptRole);
    QPushButton* shown = box.addButton(QStringLiteral("&Shown lines"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(shown);
    box.exec();
    if (box.clickedButton() == all)
        return TCommLog::TSaveScope::AllLines;
    return box.clickedButton() == shown ? TCommLog::TSaveScope::ShownLines : TCommLog::TSaveScope::Cancel;
}

QString DefaultOpenFileDialog(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open log"), QString(),
                                        CsvFilter + QStringLiteral(";;All files (*)"));
}

} // namespace

TCommLog::TCommLog(QWidget* parent)
    : QWidget(parent), SaveFileDialog(DefaultSaveFileDialog), OpenFileDialog(DefaultOpenFileDialog),
      SaveScopeQuestion(DefaultSaveScopeQuestion)
{
    setWindowTitle(QStringLiteral("Communications log"));
    resize(454, 400);

    Panel7 = new QWidget(this);
    Panel7->setFixedHeight(26);
    cbShowIDDescr = new QCheckBox(QStringLiteral("Show ID descriptors"), Panel7);
    cbEvaluateErrorCodes = new QCheckBox(QStringLiteral("Evaluate error codes"), Panel7);
    auto* optionsLayout = new QHBoxLayout(Panel7);
    optionsLayout->setContentsMargins(6, 0, 6, 0);
    optionsLayout->addWidget(cbShowIDDescr);
    optionsLayout->addWidget(cbEvaluateErrorCodes);
    cbTime = new QCheckBox(QStringLiteral("Time"), Panel7);
    cbDecoded = new QCheckBox(QStringLiteral("Decoded"), Panel7);
    optionsLayout->addWidget(cbTime);
    optionsLayout->addWidget(cbDecoded);
    optionsLayout->addStretch();

    FilterPanel = new QWidget(this);
    FilterPanel->setFixedHeight(26);
    edFilter = new QLineEdit(FilterPanel);
    edFilter->setPlaceholderText(QStringLiteral("Show only lines containing..."));
    edFilter->setClearButtonEnabled(true);
    cbHideReports = new QCheckBox(QStringLiteral("Hide reports"), FilterPanel);
    auto* filterLayout = new QHBoxLayout(FilterPanel);
    filterLayout->setContentsMargins(6, 0, 6, 0);
    filterLayout->addWidget(new QLabel(QStringLiteral("Filter:"), FilterPanel));
    filterLayout->addWidget(edFilter, 1);
    filterLayout->addWidget(cbHideReports);

    RxMsgMemo = new TTextLineView(this);
    QFont memoFont(QStringLiteral("Courier New"), 8);
    memoFont.setStyleHint(QFont::TypeWriter);
    memoFont.setFixedPitch(true);
    RxMsgMemo->setFont(memoFont);
    RxMsgMemo->setToolTip(
        QStringLiteral("Mark a byte sequence to convert it into its floating point or integer represenation."));

    Panel1 = new QWidget(this);
    Panel1->setFixedHeight(33);
    btnOpen = new QPushButton(QStringLiteral("Open..."), Panel1);
    btnOpen->setFixedSize(75, 25);
    btnSave = new QPushButton(QStringLiteral("Save..."), Panel1);
    btnSave->setFixedSize(75, 25);
    btnClear = new QPushButton(style()->standardIcon(QStyle::SP_DialogResetButton), QStringLiteral("Clear"), Panel1);
    btnClear->setFixedSize(75, 25);
    auto* buttonLayout = new QHBoxLayout(Panel1);
    buttonLayout->setContentsMargins(6, 4, 6, 4);
    buttonLayout->addStretch();
    buttonLayout->addWidget(btnOpen, 0, Qt::AlignTop);
    buttonLayout->addWidget(btnSave, 0, Qt::AlignTop);
    buttonLayout->addWidget(btnClear, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel7);
    layout->addWidget(FilterPanel);
    layout->addWidget(RxMsgMemo, 1);
    layout->addWidget(Panel1);

    PopupMenu1 = new QMenu(this);
    miAsFloat = PopupMenu1->addAction(QStringLiteral("as Float"));
    miAsInteger = PopupMenu1->addAction(QStringLiteral("as Integer"));
    miAsText = PopupMenu1->addAction(QStringLiteral("as Text"));

    ContextMenu = new QMenu(this);
    miCopyLines = ContextMenu->addAction(QStringLiteral("&Copy lines"));
    miCopyCsv = ContextMenu->addAction(QStringLiteral("Copy lines as C&SV"));
    QAction* timeSeparator = ContextMenu->addSeparator();
    auto* timeModes = new QActionGroup(ContextMenu);
    miTimeSinceConnect = ContextMenu->addAction(QStringLiteral("Milliseconds since connect"));
    miTimeWallClock = ContextMenu->addAction(QStringLiteral("Wall-clock time"));
    for (QAction* item : {miTimeSinceConnect, miTimeWallClock}) {
        item->setCheckable(true);
        timeModes->addAction(item);
    }
    miTimeSinceConnect->setChecked(true);
    RxMsgMemo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RxMsgMemo, &QWidget::customContextMenuRequested, this, [this, timeSeparator](const QPoint& pos) {
        for (QAction* item : {miCopyLines, miCopyCsv})
            item->setEnabled(RxMsgMemo->HasSelection());
        for (QAction* item : {timeSeparator, miTimeSinceConnect, miTimeWallClock})
            item->setVisible(cbTime->isChecked());
        ContextMenu->popup(RxMsgMemo->viewport()->mapToGlobal(pos));
    });
    connect(miCopyLines, &QAction::triggered, this, [this] { miCopyLinesClick(); });
    connect(miCopyCsv, &QAction::triggered, this, [this] { miCopyCsvClick(); });
    connect(miTimeSinceConnect, &QAction::triggered, this, [this] {
        SetTimeMode(TTimeMode::SinceConnect);
        OptionsChangedByOperator();
    });
    connect(miTimeWallClock, &QAction::triggered, this, [this] {
        SetTimeMode(TTimeMode::WallClock);
        OptionsChangedByOperator();
    });

    for (QCheckBox* option : {cbShowIDDescr, cbEvaluateErrorCodes, cbTime, cbDecoded})
        connect(option, &QCheckBox::toggled, this, [this] {
            OnOptionsChanged();
            OptionsChangedByOperator();
        });
    connect(edFilter, &QLineEdit::textChanged, this, [this] { OnFilterChanged(); });
    connect(cbHideReports, &QCheckBox::toggled, this, [this] {
        OnFilterChanged();
        OptionsChangedByOperator();
    });
    connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
    connect(btnClear, &QPushButton::clicked, this, [this] { btnClearClick(); });
    connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
    connect(miAsFloat, &QAction::triggered, this, [this] { miAsFloatClick(); });
    connect(miAsInteger, &QAction::triggered, this, [this] { miAsIntegerClick(); });
    connect(miAsText, &QAction::triggered, this, [this] { miAsTextClick(); });
    RxMsgMemo->OnMouseUp = [this](QMouseEvent* event) { RxMsgMemoMouseUp(event); };
    RxMsgMemo->SetSource(this);
    FSinceConnect.start();

    if (!CommLog)
        CommLog = this;
}

TCommLog::~TCommLog()
{
    if (CommLog == this)
        CommLog = nullptr;
    RxMsgMemo->SetSource(nullptr);
}

void TCommLog::LogPacket(const TPacket& packet, bool received)
{
    Append(packet, received, {QDateTime::currentMSecsSinceEpoch(), FSinceConnect.nsecsElapsed() / 1000});
    RxMsgMemo->LinesAppended();
}

void TCommLog::MarkConnected() { FSinceConnect.restart(); }

void TCommLog::AppendRecords(const std::vector<TLogRecord>& records)
{
    for (const TLogRecord& r : records)
        Append(r.packet, r.received, {r.wallMs, r.sinceConnectUs});
    RxMsgMemo->LinesAppended();
}

void TCommLog::Append(const TPacket& packet, bool received, TTimes times)
{
    TPacket copy = CopyPacket(packet);
    if (received)
        copy.command |= PacketReceivedMark;
    else
        copy.command &= ~PacketReceivedMark;
    const uint8_t command = static_cast<uint8_t>(copy.command & 0xFF);
    // A received packet answers the last request with its command byte;
    // one that nobody asked for is a report when its command is a state.
    bool report = false;
    if (!received)
        FAwaitingAnswer.set(command);
    else if (FAwaitingAnswer.test(command))
        FAwaitingAnswer.reset(command);
    else
        report = IsReportCommand(command);
    const int index = FPackets.Add(std::move(copy));
    FTimes.push_back(times);
    FReports.push_back(report);
    if (Filtering() && Shown(index))
        FShown.push_back(index);
}

TLogRecord TCommLog::Record(int index) const
{
    TLogRecord record;
    record.packet = FPackets.At(index);
    record.received = (record.packet.command & PacketReceivedMark) != 0;
    record.packet.command &= 0xFF;
    record.wallMs = FTimes[static_cast<size_t>(index)].wallMs;
    record.sinceConnectUs = FTimes[static_cast<size_t>(index)].sinceConnectUs;
    return record;
}

int TCommLog::LineCount() const { return Filtering() ? static_cast<int>(FShown.size()) : FPackets.Count(); }

int TCommLog::PacketOfLine(int line) const { return Filtering() ? FShown[static_cast<size_t>(line)] : line; }

int TCommLog::LineLength(int line) const
{
    if (cbTime->isChecked() || cbDecoded->isChecked())
        return static_cast<int>(LineText(line).size());
    return PacketLineLength(PacketOfLine(line));
}

QString TCommLog::LineText(int line) const
{
    return PacketText(PacketOfLine(line), line > 0 ? PacketOfLine(line - 1) : FirstLine);
}

QColor TCommLog::LineColor(int line) const
{
    const TPacket& p = FPackets.At(PacketOfLine(line));
    if ((p.command & PacketReceivedMark) == 0 || p.ValidLength() < 2)
        return {};
    // The status identifier comes from the low byte of the status word.
    const uint8_t status = p.data[0];
    return status == E_SUCCESS || status == E_CMD_PENDING ? QColor() : FaultColor(RxMsgMemo->palette());
}

QString TCommLog::PacketText(int index, int previous) const
{
    if (!cbTime->isChecked() && !cbDecoded->isChecked())
        return PacketLine(index);
    QString text;
    if (cbTime->isChecked()) {
        text = TimeColumn(index);
        if (previous != NoInterval)
            text += IntervalColumn(index, previous);
    }
    text += PacketLine(index);
    if (cbDecoded->isChecked()) {
        const TPacket& p = FPackets.At(index);
        const std::string meaning = DecodePacket(p, (p.command & PacketReceivedMark) != 0);
        if (!meaning.empty())
            text += QLatin1String(" = ") + QString::fromStdString(meaning);
    }
    return text;
}

QString TCommLog::TimeColumn(int index) const
{
    // Of one width for every line, so the packets stay aligned: eight digits
    // of milliseconds last a day, the wall-clock time is of fixed width.
    const TTimes& t = FTimes[static_cast<size_t>(index)];
    if (FTimeMode == TTimeMode::SinceConnect)
        return QStringLiteral("[%1 ms] ").arg(t.sinceConnectUs / 1000, 8);
    if (!t.wallMs) // a log written without wall-clock times
        return QStringLiteral("[--:--:--.---] ");
    return QLatin1Char('[') + QDateTime::fromMSecsSinceEpoch(*t.wallMs).time().toString(QStringLiteral("HH:mm:ss.zzz"))
        + QLatin1String("] ");
}

QString TCommLog::IntervalColumn(int index, int previous) const
{
    // Of one width too: a day in milliseconds with a tenth.
    constexpr int width = 10;
    const QString none = QStringLiteral("[+%1 ms] ").arg(QStringLiteral("--"), width);
    if (previous == FirstLine)
        return none;
    const TTimes& before = FTimes[static_cast<size_t>(previous)];
    const TTimes& now = FTimes[static_cast<size_t>(index)];
    qint64 us = now.sinceConnectUs - before.sinceConnectUs;
    // A connect between the two lines restarted that clock: the wall clock
    // tells the interval where both lines have it.
    if (us < 0) {
        if (!before.wallMs || !now.wallMs)
            return none;
        us = (*now.wallMs - *before.wallMs) * 1000;
    }
    return QStringLiteral("[+%1 ms] ").arg(static_cast<double>(us) / 1000.0, width, 'f', 1);
}

void TCommLog::SetTimeMode(TTimeMode mode)
{
    FTimeMode = mode;
    (mode == TTimeMode::WallClock ? miTimeWallClock : miTimeSinceConnect)->setChecked(true);
    if (cbTime->isChecked())
        OnOptionsChanged();
}

TCommLog::TOptions TCommLog::Options() const
{
    return {cbShowIDDescr->isChecked(), cbEvaluateErrorCodes->isChecked(), cbTime->isChecked(), FTimeMode,
            cbDecoded->isChecked(), cbHideReports->isChecked()};
}

void TCommLog::SetOptions(const TOptions& options)
{
    const std::pair<QCheckBox*, bool> boxes[] = {{cbShowIDDescr, options.idDescriptors},
                                                 {cbEvaluateErrorCodes, options.errorCodes},
                                                 {cbTime, options.time},
                                                 {cbDecoded, options.decoded},
                                                 {cbHideReports, options.hideReports}};
    for (const auto& [box, checked] : boxes) {
        const QSignalBlocker quiet(box);
        box->setChecked(checked);
    }
    FTimeMode = options.timeMode;
    (FTimeMode == TTimeMode::WallClock ? miTimeWallClock : miTimeSinceConnect)->setChecked(true);
    FHideReports = options.hideReports;
    RebuildShown();
    RxMsgMemo->Reload();
}

void TCommLog::OptionsChangedByOperator()
{
    if (OnOptionsChange)
        OnOptionsChange();
}

int TCommLog::PacketLineLength(int index) const
{
    const TPacket& p = FPackets.At(index);
    const uint8_t command = static_cast<uint8_t>(p.command & 0xFF);
    const int length = p.ValidLength();
    int size = 11 + 6; // "RX PACKET: " and "ID=XXh"
    if (cbShowIDDescr->isChecked())
        size += 3 + static_cast<int>(Names().command[command].size());
    size += 9 + DecimalDigits(p.length); // ", Length=" and the number
    if (length > 0) {
        size += 1 + 3 * length;
        if (cbEvaluateErrorCodes->isChecked() && (p.command & PacketReceivedMark) && length >= 2)
            size += 3 + static_cast<int>(Names().status[p.data[0]].size());
    }
    return size;
}

QString TCommLog::PacketLine(int index) const
{
    const TPacket& p = FPackets.At(index);
    const uint8_t command = static_cast<uint8_t>(p.command & 0xFF);
    const bool received = (p.command & PacketReceivedMark) != 0;
    const int length = p.ValidLength();
    QString text;
    text.reserve(PacketLineLength(index));
    text += received ? QLatin1String("RX PACKET: ") : QLatin1String("TX PACKET: ");
    text += QLatin1String("ID=");
    AppendHexDigits(text, command);
    text += QLatin1Char('h');
    if (cbShowIDDescr->isChecked())
        text += QLatin1String(" (") + Names().command[command] + QLatin1Char(')');
    text += QLatin1String(", Length=") + QString::number(p.length);
    if (length == 0)
        return text;
    text += QLatin1Char(':');
    int next = 0;
    if (cbEvaluateErrorCodes->isChecked() && received && length >= 2) {
        AppendHexByte(text, p.data[0]);
        AppendHexByte(text, p.data[1]);
        // The status identifier comes from the low byte of the status word.
        text += QLatin1String(" (") + Names().status[p.data[0]] + QLatin1Char(')');
        next = 2;
    }
    for (int i = next; i < length; ++i)
        AppendHexByte(text, p.data[static_cast<size_t>(i)]);
    return text;
}

bool TCommLog::Filtering() const { return !FFilter.isEmpty() || FHideReports; }

bool TCommLog::Shown(int index) const
{
    if (FHideReports && FReports[static_cast<size_t>(index)])
        return false;
    // The filter looks at the line as it is shown, columns included.
    return FFilter.isEmpty() || PacketText(index).contains(FFilter, Qt::CaseInsensitive);
}

void TCommLog::RebuildShown()
{
    FShown.clear();
    if (!Filtering())
        return;
    for (int i = 0; i < FPackets.Count(); ++i)
        if (Shown(i))
            FShown.push_back(i);
}

void TCommLog::btnClearClick()
{
    FPackets.Clear();
    FTimes.clear();
    FReports.clear();
    FShown.clear();
    RxMsgMemo->Reload();
}

void TCommLog::btnSaveClick()
{
    if (!SaveFileDialog)
        return;
    bool shownOnly = false;
    if (Filtering() && SaveScopeQuestion) {
        QStringList hiding;
        if (!FFilter.isEmpty())
            hiding << QStringLiteral("the filter \"%1\"").arg(FFilter);
        if (FHideReports)
            hiding << QStringLiteral("\"Hide reports\"");
        const QString text = QStringLiteral("%1 of %2 lines are shown (%3 hides the others).\n"
                                            "Save all lines or only the shown ones?")
                                 .arg(LineCount())
                                 .arg(PacketCount())
                                 .arg(hiding.join(QStringLiteral(" and ")));
        const TSaveScope scope = SaveScopeQuestion(this, text);
        if (scope == TSaveScope::Cancel)
            return;
        shownOnly = scope == TSaveScope::ShownLines;
    }
    const QString fileName = SaveFileDialog(this);
    if (!fileName.isEmpty())
        SaveLines(fileName, shownOnly);
}

void TCommLog::SaveLines(const QString& fileName, bool shownOnly) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        ShowError(SaveError + file.errorString());
        return;
    }
    const bool csv = IsCsvName(fileName);
    if (csv)
        file.write(PacketLogHeader().toUtf8() + '\n');
    const int count = shownOnly ? LineCount() : PacketCount();
    for (int i = 0; i < count; ++i) {
        const int index = shownOnly ? PacketOfLine(i) : i;
        const int previous = i == 0 ? FirstLine : shownOnly ? PacketOfLine(i - 1) : i - 1;
        QByteArray line = csv ? PacketLogRow(Record(index)).toUtf8() : PacketText(index, previous).toLatin1();
        line += '\n';
        if (file.write(line) != line.size())
            break;
    }
    if (!file.commit())
        ShowError(SaveError + file.errorString());
}

void TCommLog::btnOpenClick()
{
    if (!OpenFileDialog)
        return;
    const QString fileName = OpenFileDialog(this);
    if (fileName.isEmpty())
        return;
    QFile file(fileName);
    std::vector<TLogRecord> records;
    QString error;
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else
        ReadPacketLog(file, records, error);
    if (!error.isEmpty()) {
        ShowError(OpenError.arg(QFileInfo(fileName).fileName(), error));
        return;
    }
    ShowOpened(fileName, records);
}

void TCommLog::ShowOpened(const QString& fileName, const std::vector<TLogRecord>& records)
{
    // A window of its own, for reading: the program keeps logging here.
    auto* view = new TCommLog(this);
    view->setWindowFlag(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program, also while this one is open.
    view->setAttribute(Qt::WA_QuitOnClose, false);
    // The days the log covers: its lines show only the time of day.
    std::optional<QDate> first;
    std::optional<QDate> last;
    for (const TLogRecord& r : records) {
        if (!r.wallMs)
            continue;
        const QDate day = QDateTime::fromMSecsSinceEpoch(*r.wallMs).date();
        first = first ? std::min(*first, day) : day;
        last = last ? std::max(*last, day) : day;
    }
    QString title = windowTitle() + QStringLiteral(" - ") + QFileInfo(fileName).fileName();
    if (first)
        title += QStringLiteral(" - ") + first->toString(Qt::ISODate);
    if (last && *last != *first)
        title += QStringLiteral(" to ") + last->toString(Qt::ISODate);
    view->setWindowTitle(title);
    view->SetOptions(Options());
    view->AppendRecords(records);
    // Wide enough for the lines with their time and meaning, within the
    // screen's room.
    const QRect room = screen()->availableGeometry();
    view->resize(std::min(OpenedLogWidth, room.width() * 9 / 10), std::min(OpenedLogHeight, room.height() * 9 / 10));
    view->show();
}

std::pair<int, int> TCommLog::SelectedLines() const
{
    if (!RxMsgMemo->HasSelection())
        return {0, -1};
    const TTextLineView::TTextPos anchor = RxMsgMemo->SelectionAnchor();
    const TTextLineView::TTextPos cursor = RxMsgMemo->SelectionCursor();
    return {std::min(anchor, cursor).line, std::min(std::max(anchor, cursor).line, LineCount() - 1)};
}

void TCommLog::miCopyLinesClick()
{
    const auto [first, last] = SelectedLines();
    if (last < first)
        return;
    QString text;
    for (int line = first; line <= last; ++line)
        text += LineText(line) + QLatin1Char('\n');
    QGuiApplication::clipboard()->setText(text);
}

void TCommLog::miCopyCsvClick()
{
    const auto [first, last] = SelectedLines();
    if (last < first)
        return;
    QString text = PacketLogHeader() + QLatin1Char('\n');
    for (int line = first; line <= last; ++line)
        text += PacketLogRow(Record(PacketOfLine(line))) + QLatin1Char('\n');
    QGuiApplication::clipboard()->setText(text);
}

void TCommLog::OnOptionsChanged()
{
    // What a text filter matches changes with the columns.
    if (!FFilter.isEmpty())
        RebuildShown();
    RxMsgMemo->Reload();
}

void TCommLog::OnFilterChanged()
{
    const QString filter = edFilter->text().trimmed();
    const bool hideReports = cbHideReports->isChecked();
    // Typing on at a filter text or starting to hide reports only narrows
    // the shown lines: then only those are looked at again.
    const bool narrows = Filtering() && filter.contains(FFilter, Qt::CaseInsensitive) && (hideReports || !FHideReports);
    FFilter = filter;
    FHideReports = hideReports;
    if (narrows)
        std::erase_if(FShown, [this](int index) { return !Shown(index); });
    else
        RebuildShown();
    RxMsgMemo->Reload();
}

void TCommLog::RxMsgMemoMouseUp(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    SnapSelectionToBytes();
    if (RxMsgMemo->SelectedText().trimmed().isEmpty())
        return;
    PopupMenu1->popup(RxMsgMemo->viewport()->mapToGlobal(event->position().toPoint()));
}

void TCommLog::SnapSelectionToBytes()
{
    // A selection that cut a byte in half would read as another value.
    const TTextLineView::TTextPos anchor = RxMsgMemo->SelectionAnchor();
    const TTextLineView::TTextPos cursor = RxMsgMemo->SelectionCursor();
    RxMsgMemo->SnapSelectionToWords();
    TByteArray bytes;
    if (ParseHexBytes(RxMsgMemo->SelectedText().trimmed(), bytes) == 0)
        RxMsgMemo->Select(anchor, cursor);
}

int TCommLog::SelectionToBytes(TByteArray& bytes)
{
    SnapSelectionToBytes();
    return ParseHexBytes(RxMsgMemo->SelectedText().trimmed(), bytes);
}

void TCommLog::miAsFloatClick()
{
    TByteArray bytes;
    const int count = SelectionToBytes(bytes);
    if (count == 0) {
        ShowError(ConvertError);
        return;
    }
    if (count != 4) {
        ShowError(FloatSizeError);
        return;
    }
    ShowInformation(QStringLiteral("Value is ") + FormatGeneral4(SingleAt(bytes.data())));
}

void TCommLog::miAsIntegerClick()
{
    TByteArray bytes;
    const int count = SelectionToBytes(bytes);
    if (count == 0) {
        ShowError(ConvertError);
        return;
    }
    bytes.resize(4, 0); // fewer than four bytes leave the high bytes 0
    const int32_t value = IntAt(bytes.data());
    const QString hex = QString::number(static_cast<uint32_t>(value), 16).toUpper().rightJustified(8, QLatin1Char('0'));
    ShowInformation(QStringLiteral("Value is %1 (%2h)").arg(value).arg(hex));
}

void TCommLog::miAsTextClick()
{
    TByteArray bytes;
    if (SelectionToBytes(bytes) == 0) {
        ShowError(ConvertError);
        return;
    }
    // Control characters become "_"; every other byte is a Latin-1 character.
    QString text;
    for (uint8_t b : bytes)
        text += b < 0x20 ? QChar(QLatin1Char('_')) : QChar(QLatin1Char(static_cast<char>(b)));
    ShowInformation(QStringLiteral("Text string is \"") + text + QLatin1Char('"'));
}
