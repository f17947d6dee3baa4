#pragma once
// The command log window: one line per packet exchanged with the gripper,
// with optional command names and status identifiers, and a conversion of
// selected hex bytes into a float, an integer or a text string.
//
// Every logged packet is kept (a received one with PacketReceivedMark set in
// its stored command field) with the time it was logged; the lines are not
// stored but formatted from the packets when they come into sight, so the log
// stays small and a change of the options reformats nothing in advance.
//
// Optional columns put the time before a line, with the milliseconds since
// the line above it, and the packet's meaning after it. Answers that report
// a fault are drawn in a colour that reads on light and dark palettes. The
// selected lines can be copied as text or as CSV. A filter text and "Hide reports" hide lines without touching the stored
// packets: the shown lines are then an index of packet numbers. The log is
// saved as its lines or as CSV (PacketLogCsv.h), and a CSV log opens in a
// window of its own with the same display options.
#include "PacketLogCsv.h"
#include "PacketListClass.h"
#include "TextLineView.h"
#include "types.h"

#include <QWidget>

#include <QElapsedTimer>

#include <bitset>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QPushButton;

class TCommLog : public QWidget, private TTextLineView::TLineSource {
    Q_OBJECT
public:
    // Asks for the name of the file to save the log into; empty = cancelled.
    // A name ending in ".csv" saves CSV, any other the lines as shown.
    using TSaveFileDialog = std::function<QString(QWidget* parent)>;
    // Asks for the CSV log to open; empty = cancelled.
    using TOpenFileDialog = std::function<QString(QWidget* parent)>;

    // What the "Time" column shows.
    enum class TTimeMode { SinceConnect, WallClock };
    // The display options (the filter text is not one of them).
    struct TOptions {
        bool idDescriptors = false;
        bool errorCodes = false;
        bool time = false;
        TTimeMode timeMode = TTimeMode::SinceConnect;
        bool decoded = false;
        bool hideReports = false;
        bool operator==(const TOptions&) const = default;
    };
    // Which lines to save while some are hidden.
    enum class TSaveScope { AllLines, ShownLines, Cancel };
    // Asks which lines to save; `text` says what hides lines. Tests script it.
    using TSaveScopeQuestion = std::function<TSaveScope(QWidget* parent, const QString& text)>;

    explicit TCommLog(QWidget* parent = nullptr);
    ~TCommLog() override;

    // Stores a copy of the packet and adds its line. `received` marks packets
    // that came from the gripper.
    void LogPacket(const TPacket& packet, bool received);
    // Times of the packets logged from now on count from now.
    void MarkConnected();
    // Appends logged packets read back from a file, with their own times.
    void AppendRecords(const std::vector<TLogRecord>& records);

    // Stored packets and their lines under the current options; the lines
    // are those the filter lets through.
    int PacketCount() const { return FPackets.Count(); }
    const TPacket& StoredPacket(int index) const { return FPackets.At(index); }
    TLogRecord Record(int index) const;
    // True for a packet the gripper sent by itself (a state report).
    bool IsReport(int index) const { return FReports[static_cast<size_t>(index)]; }
    int LineCount() const override;
    int LineLength(int line) const override;
    QString LineText(int line) const override;
    QColor LineColor(int line) const override;
    int PacketOfLine(int line) const;

    TTimeMode TimeMode() const { return FTimeMode; }
    void SetTimeMode(TTimeMode mode);
    TOptions Options() const;
    // Sets every option at once and lays the lines out once.
    void SetOptions(const TOptions& options);

    // Event handlers of the controls.
    void btnClearClick();
    void btnSaveClick();
    void btnOpenClick();
    void OnOptionsChanged();
    void OnFilterChanged();
    void RxMsgMemoMouseUp(QMouseEvent* event);
    void miAsFloatClick();
    void miAsIntegerClick();
    void miAsTextClick();
    // Puts the lines the selection touches on the clipboard as shown, or as
    // CSV rows below the header.
    void miCopyLinesClick();
    void miCopyCsvClick();

    // Replaceable file dialog of "Save..." (tests script it).
    TSaveFileDialog SaveFileDialog;
    // Replaceable file dialog of "Open..." (tests script it).
    TOpenFileDialog OpenFileDialog;
    // Replaceable question of "Save..." while lines are hidden.
    TSaveScopeQuestion SaveScopeQuestion;
    // Called after the operator changed a display option.
    std::function<void()> OnOptionsChange;

    QWidget* Panel7;
    QCheckBox* cbShowIDDescr;
    QCheckBox* cbEvaluateErrorCodes;
    QCheckBox* cbTime;
    QCheckBox* cbDecoded;
    QWidget* FilterPanel;
    QLineEdit* edFilter;
    QCheckBox* cbHideReports;
    TTextLineView* RxMsgMemo;
    QWidget* Panel1;
    QPushButton* btnClear;
    QPushButton* btnSave;
    QPushButton* btnOpen;
    // Right-click menu of the log: copying, and the time's form while
    // "Time" is checked.
    QMenu* ContextMenu;
    QAction* miCopyLines;
    QAction* miCopyCsv;
    QAction* miTimeSinceConnect;
    QAction* miTimeWallClock;
    QMenu* PopupMenu1;
    QAction* miAsFloat;
    QAction* miAsInteger;
    QAction* miAsText;

private:
    // Widens a selection of hex bytes that cuts a byte in half to whole
    // bytes; any other selection stays as it is.
    void SnapSelectionToBytes();
    // Parses the memo's selection, snapped to whole bytes, into bytes; 0
    // when it is not a run of hex bytes (the byte array is then empty).
    int SelectionToBytes(TByteArray& bytes);

    struct TTimes {
        std::optional<qint64> wallMs;
        qint64 sinceConnectUs;
    };
    void Append(const TPacket& packet, bool received, TTimes times);
    // The line of a packet in the fixed format, without the optional columns.
    int PacketLineLength(int index) const;
    QString PacketLine(int index) const;
    // `previous` of a packet without a line above.
    static constexpr int FirstLine = -1;
    // `previous` for a line without the interval: the filter matches that,
    // as the interval depends on the line above.
    static constexpr int NoInterval = -2;
    // The line of a packet with the optional columns that are checked; the
    // time column's interval counts from the packet `previous`.
    QString PacketText(int index, int previous = NoInterval) const;
    QString TimeColumn(int index) const;
    QString IntervalColumn(int index, int previous) const;
    // The first and the last line the selection touches; none when the
    // last is before the first.
    std::pair<int, int> SelectedLines() const;
    // Whether lines are hidden, and whether a packet's line is shown.
    bool Filtering() const;
    bool Shown(int index) const;
    void RebuildShown();
    // Saves every packet, or only those of the shown lines.
    void SaveLines(const QString& fileName, bool shownOnly) const;
    // Opens the records read from `fileName` in a window of their own.
    void ShowOpened(const QString& fileName, const std::vector<TLogRecord>& records);
    void OptionsChangedByOperator();

    TPacketList FPackets;
    std::deque<TTimes> FTimes;
    std::vector<bool> FReports;
    // Commands sent and not answered yet: their next packet is the answer,
    // not a report.
    std::bitset<256> FAwaitingAnswer;
    // Packet numbers of the shown lines while filtering.
    std::vector<int> FShown;
    QString FFilter;
    bool FHideReports = false;
    QElapsedTimer FSinceConnect;
    TTimeMode FTimeMode = TTimeMode::SinceConnect;
};

// The program's one command log; created at start-up, logged into by the
// gripper object. Null while no log window exists (nothing is logged then).
extern TCommLog* CommLog;
