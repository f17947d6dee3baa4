// The command log window: line formats under both options, rebuild, clear,
// saving, the mouse selection and the conversion of selected bytes.
#include "CommLogForm.h"
#include "MessageDialog.h"
#include "PacketLogCsv.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <vector>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

struct TMessage {
    TMessageKind kind;
    QString text;
};

TPacket MakePacket(uint8_t command, TByteArray data)
{
    TPacket p;
    p.command = command;
    p.length = static_cast<int32_t>(data.size());
    p.data = std::move(data);
    return p;
}

class CommLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FPrevious = SetMessageHandler([this](TMessageKind kind, const QString& text) { Messages.push_back({kind, text}); });
    }
    void TearDown() override { SetMessageHandler(FPrevious); }

    // Selects `bytes` (as they appear in the line) in line `line` and runs a
    // menu item; returns the one message it showed.
    TMessage Convert(int line, const QString& selection, QAction* item)
    {
        const int column = static_cast<int>(Log.LineText(line).indexOf(selection));
        EXPECT_GE(column, 0) << selection.toStdString();
        Log.RxMsgMemo->Select({line, column}, {line, column + static_cast<int>(selection.size())});
        EXPECT_EQ(Log.RxMsgMemo->SelectedText(), selection);
        Messages.clear();
        item->trigger();
        EXPECT_EQ(Messages.size(), 1u);
        return Messages.empty() ? TMessage{TMessageKind::Warning, QString()} : Messages.back();
    }

    // Logs a sent packet with the given payload and converts all of it.
    TMessage ConvertBytes(const TByteArray& bytes, QAction* item)
    {
        Log.LogPacket(MakePacket(0x20, bytes), false);
        const QString line = Log.LineText(Log.PacketCount() - 1);
        return Convert(Log.PacketCount() - 1, line.mid(line.lastIndexOf(": ") + 2), item);
    }

    TCommLog Log;
    std::vector<TMessage> Messages;

private:
    TMessageHandler FPrevious;
};

TEST_F(CommLogTest, LinesFollowTheDocumentedFormats)
{
    Log.LogPacket(MakePacket(0x20, {0x00}), false);
    Log.LogPacket(MakePacket(0x20, {0x1A, 0x00}), true);
    Log.LogPacket(MakePacket(0x20, {}), true);
    EXPECT_EQ(Log.LineText(0), "TX PACKET: ID=20h, Length=1: 00");
    EXPECT_EQ(Log.LineText(1), "RX PACKET: ID=20h, Length=2: 1A 00");
    EXPECT_EQ(Log.LineText(2), "RX PACKET: ID=20h, Length=0");

    Log.cbShowIDDescr->setChecked(true);
    Log.cbEvaluateErrorCodes->setChecked(true);
    EXPECT_EQ(Log.LineText(0), "TX PACKET: ID=20h (HOMING), Length=1: 00");
    EXPECT_EQ(Log.LineText(1), "RX PACKET: ID=20h (HOMING), Length=2: 1A 00 (E_CMD_PENDING)");
    EXPECT_EQ(Log.LineText(2), "RX PACKET: ID=20h (HOMING), Length=0");
}

TEST_F(CommLogTest, EvaluatedFormOnlyForReceivedPacketsWithAStatusWord)
{
    Log.cbShowIDDescr->setChecked(true);
    Log.cbEvaluateErrorCodes->setChecked(true);
    Log.LogPacket(MakePacket(0x43, {0x00}), true);                         // length 1: plain
    Log.LogPacket(MakePacket(0x21, {0x00, 0x00, 0x20, 0x41}), false);      // sent: plain
    Log.LogPacket(MakePacket(0x50, {0x00, 0x00, 0x01, 0x02, 0x03}), true); // status then the rest
    Log.LogPacket(MakePacket(0x22, {0x28, 0x01}), true);                   // beyond the table: decimal
    Log.LogPacket(MakePacket(0x99, {0x1D, 0x00}), true);                   // unknown command byte
    EXPECT_EQ(Log.LineText(0), "RX PACKET: ID=43h (GET_POS), Length=1: 00");
    EXPECT_EQ(Log.LineText(1), "TX PACKET: ID=21h (GOTO), Length=4: 00 00 20 41");
    EXPECT_EQ(Log.LineText(2), "RX PACKET: ID=50h (GET_SYSINFO), Length=5: 00 00 (E_SUCCESS) 01 02 03");
    EXPECT_EQ(Log.LineText(3), "RX PACKET: ID=22h (STOP), Length=2: 28 01 (40)");
    EXPECT_EQ(Log.LineText(4), "RX PACKET: ID=99h (unknown ID(153)), Length=2: 1D 00 (E_AXIS_BLOCKED)");
}

TEST_F(CommLogTest, StoredCopiesCarryTheDirectionMarkAndSurviveTheCaller)
{
    TPacket p = MakePacket(0x40, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
    Log.LogPacket(p, true);
    p.data[2] = 0xFF;
    p.command = 0x41;
    Log.LogPacket(p, false);
    EXPECT_EQ(Log.StoredPacket(0).command, 0x40u | PacketReceivedMark);
    EXPECT_EQ(Log.StoredPacket(0).data[2], 0x01);
    EXPECT_EQ(Log.StoredPacket(1).command, 0x41u);

    // A packet whose length claims more than its data logs what exists.
    TPacket shortData = MakePacket(0x42, {0x01, 0x02});
    shortData.length = 9;
    Log.LogPacket(shortData, true);
    EXPECT_EQ(Log.LineText(2), "RX PACKET: ID=42h, Length=2: 01 02");
}

TEST_F(CommLogTest, ToggleRewritesEveryLineInOrderAndLayoutMatchesText)
{
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        TByteArray data(random() % 12);
        for (auto& b : data)
            b = static_cast<uint8_t>(random());
        Log.LogPacket(MakePacket(static_cast<uint8_t>(random()), data), random() % 2 == 0);
    }
    for (bool ids : {false, true})
        for (bool evaluate : {false, true}) {
            Log.cbShowIDDescr->setChecked(ids);
            Log.cbEvaluateErrorCodes->setChecked(evaluate);
            ASSERT_EQ(Log.RxMsgMemo->LineCount(), 200);
            for (int i = 0; i < 200; ++i) {
                const QString text = Log.LineText(i);
                ASSERT_EQ(Log.LineLength(i), text.size()) << text.toStdString();
                const bool received = Log.StoredPacket(i).command & PacketReceivedMark;
                ASSERT_TRUE(text.startsWith(received ? "RX PACKET: " : "TX PACKET: "));
                ASSERT_EQ(text.contains(" ("), ids || (evaluate && received && Log.StoredPacket(i).length >= 2));
            }
        }
}

TEST_F(CommLogTest, ClearEmptiesTheLogForGood)
{
    Log.LogPacket(MakePacket(0x22, {}), false);
    Log.LogPacket(MakePacket(0x22, {0x00, 0x00}), true);
    Log.btnClear->click();
    EXPECT_EQ(Log.PacketCount(), 0);
    EXPECT_EQ(Log.RxMsgMemo->LineCount(), 0);
    Log.cbShowIDDescr->click();
    EXPECT_EQ(Log.RxMsgMemo->LineCount(), 0);
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), "");
    Log.LogPacket(MakePacket(0x23, {}), false);
    EXPECT_EQ(Log.LineText(0), "TX PACKET: ID=23h (FAST_STOP), Length=0");
}

TEST_F(CommLogTest, AsIntegerTakesUpToFourBytesLeastSignificantFirst)
{
    EXPECT_EQ(ConvertBytes({0x21, 0x00, 0xFF}, Log.miAsInteger).text, "Value is 16711713 (00FF0021h)");
    EXPECT_EQ(ConvertBytes({0xFF, 0xFF, 0xFF, 0xFF}, Log.miAsInteger).text, "Value is -1 (FFFFFFFFh)");
    const TMessage five = ConvertBytes({0x01, 0x00, 0x00, 0x00, 0x77}, Log.miAsInteger);
    EXPECT_EQ(five.kind, TMessageKind::Information);
    EXPECT_EQ(five.text, "Value is 1 (00000001h)");
}

TEST_F(CommLogTest, AsFloatNeedsExactlyFourBytes)
{
    const TMessage one = ConvertBytes({0x00, 0x00, 0x80, 0x3F}, Log.miAsFloat);
    EXPECT_EQ(one.kind, TMessageKind::Information);
    EXPECT_EQ(one.text, "Value is 1");
    for (const TByteArray& bytes : {TByteArray{0x00, 0x80, 0x3F}, TByteArray{0x00, 0x00, 0x80, 0x3F, 0x00}}) {
        const TMessage m = ConvertBytes(bytes, Log.miAsFloat);
        EXPECT_EQ(m.kind, TMessageKind::Error);
        EXPECT_EQ(m.text, "Error: 4 bytes required to form a float value");
    }
}

TEST_F(CommLogTest, AsFloatUsesTheGeneralFormatWithFourDigits)
{
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.5f, "0.5"},       {-2.5f, "-2.5"},          {12.5f, "12.5"},         {0.1f, "0.1"},
        {1234.5f, "1235"},   {12345.0f, "1.235E+004"}, {9999.6f, "1E+004"},     {0.000123f, "0.000123"},
        {1e-6f, "1E-006"},   {3.0e38f, "3E+038"},      {-0.0001234f, "-0.0001234"}, {0.0f, "0"},
    };
    for (const auto& c : cases) {
        const auto b = reinterpret_cast<const uint8_t*>(&c.value);
        EXPECT_EQ(ConvertBytes({b[0], b[1], b[2], b[3]}, Log.miAsFloat).text, QString("Value is ") + c.text) << c.text;
    }
    EXPECT_EQ(ConvertBytes({0x00, 0x00, 0xC0, 0x7F}, Log.miAsFloat).text, "Value is NAN");
    EXPECT_EQ(ConvertBytes({0x00, 0x00, 0x80, 0xFF}, Log.miAsFloat).text, "Value is -INF");
}

TEST_F(CommLogTest, AsFloatUsesTheLocaleDecimalSeparator)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ConvertBytes({0x00, 0x00, 0x48, 0x41}, Log.miAsFloat).text, "Value is 12,5");
    QLocale::setDefault(previous);
}

TEST_F(CommLogTest, AsTextReplacesControlCharacters)
{
    EXPECT_EQ(ConvertBytes({0x48, 0x69, 0x0A}, Log.miAsText).text, "Text string is \"Hi_\"");
    EXPECT_EQ(ConvertBytes({0x1F, 0x20, 0xE9}, Log.miAsText).text, QString::fromUtf8("Text string is \"_ \u00E9\""));
}

TEST_F(CommLogTest, SelectionsThatAreNotHexBytesFailAsAWhole)
{
    Log.cbShowIDDescr->setChecked(true);
    Log.cbEvaluateErrorCodes->setChecked(true);
    Log.LogPacket(MakePacket(0x20, {0x1A, 0x00, 0x01, 0x00}), true);
    Log.LogPacket(MakePacket(0x21, {0x01, 0x00}), false);
    const QString line = Log.LineText(0); // RX PACKET: ID=20h (HOMING), Length=4: 1A 00 (E_CMD_PENDING) 01 00
    for (QAction* item : {Log.miAsFloat, Log.miAsInteger, Log.miAsText}) {
        for (const QString& selection : {QString("ID=20h"), QString("(E_CMD_PENDING)"), QString("1A 00 (E_CMD_PENDING) 01"),
                                         QString("Length=4: 1A")}) {
            const TMessage m = Convert(0, selection, item);
            EXPECT_EQ(m.kind, TMessageKind::Error);
            EXPECT_EQ(m.text, "Error while converting selected data.") << selection.toStdString();
        }
    }
    // Several blanks between tokens are fine; a selection over two lines is not.
    Log.RxMsgMemo->Select({0, static_cast<int>(line.indexOf("1A"))}, {0, static_cast<int>(line.indexOf(" (E_"))});
    Messages.clear();
    Log.miAsInteger->trigger();
    EXPECT_EQ(Messages.back().text, "Value is 26 (0000001Ah)");
    Log.RxMsgMemo->Select({0, static_cast<int>(line.size()) - 2}, {1, 2});
    Messages.clear();
    Log.miAsInteger->trigger();
    EXPECT_EQ(Messages.back().text, "Error while converting selected data.");
}

TEST_F(CommLogTest, TokensAboveFFhAreRejected)
{
    Log.LogPacket(MakePacket(0x20, TByteArray(100, 0x00)), false); // "... Length=100: 00 00 ..."
    for (QAction* item : {Log.miAsFloat, Log.miAsInteger, Log.miAsText})
        EXPECT_EQ(Convert(0, "100", item).text, "Error while converting selected data.");
    EXPECT_EQ(Convert(0, "=100: 00", Log.miAsInteger).text, "Error while converting selected data.");
}

class CommLogMouseTest : public CommLogTest {
protected:
    void SetUp() override
    {
        CommLogTest::SetUp();
        Log.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Log));
    }
    QWidget* Viewport() const { return Log.RxMsgMemo->viewport(); }
    void Drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(Viewport(), button, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, Viewport()->mapToGlobal(to), Qt::NoButton, button, {});
        QApplication::sendEvent(Viewport(), &move);
        QTest::mouseRelease(Viewport(), button, {}, to);
    }
};

TEST_F(CommLogMouseTest, LeftButtonSelectionOffersTheMenu)
{
    Log.LogPacket(MakePacket(0x20, {0x21, 0x00, 0xFF}), false);
    QApplication::processEvents();
    const QString line = Log.LineText(0);
    const int column = static_cast<int>(line.indexOf("21"));
    const QPoint from = Log.RxMsgMemo->PointOf({0, column}) + QPoint(1, 3);
    const QPoint to = Log.RxMsgMemo->PointOf({0, static_cast<int>(line.size())}) + QPoint(1, 3);
    Drag(from, to);
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), "21 00 FF");
    EXPECT_TRUE(Log.PopupMenu1->isVisible());
    Log.PopupMenu1->hide();
    Log.miAsInteger->trigger();
    EXPECT_EQ(Messages.back().text, "Value is 16711713 (00FF0021h)");
}

TEST_F(CommLogMouseTest, NoMenuWithoutSelectionOnlyBlanksOrOtherButtons)
{
    Log.LogPacket(MakePacket(0x20, {0x21, 0x00, 0xFF}), false);
    QApplication::processEvents();
    const QString line = Log.LineText(0);
    const int blank = static_cast<int>(line.indexOf(": ")) + 1;
    const QPoint inLine = Log.RxMsgMemo->PointOf({0, 3}) + QPoint(1, 3);
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, inLine);
    EXPECT_FALSE(Log.PopupMenu1->isVisible());

    Drag(Log.RxMsgMemo->PointOf({0, blank}) + QPoint(1, 3), Log.RxMsgMemo->PointOf({0, blank + 1}) + QPoint(1, 3));
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), " ");
    EXPECT_FALSE(Log.PopupMenu1->isVisible());

    Log.RxMsgMemo->Select({0, 0}, {0, static_cast<int>(line.size())});
    QTest::mouseClick(Viewport(), Qt::RightButton, {}, inLine);
    EXPECT_FALSE(Log.PopupMenu1->isVisible());
    EXPECT_TRUE(Messages.empty());
}

TEST(TextLineViewWrap, BreaksAfterBlanksAndCutsOnlyOverlongWords)
{
    EXPECT_EQ(TTextLineView::WrapRows(u"AB CD EF", 5), (std::vector<int>{0, 6}));
    EXPECT_EQ(TTextLineView::WrapRows(u"AB CD EF", 4), (std::vector<int>{0, 3, 6}));
    EXPECT_EQ(TTextLineView::WrapRows(u"ABCDEFGHIJ KL", 4), (std::vector<int>{0, 4, 8, 11}));
    EXPECT_EQ(TTextLineView::WrapRows(u"AB", 4), (std::vector<int>{0}));
    EXPECT_EQ(TTextLineView::WrapRows(u"", 4), (std::vector<int>{0}));
}

TEST_F(CommLogMouseTest, LongLinesWrapAtBlanksAndSelectAcrossRows)
{
    Log.cbShowIDDescr->setChecked(true);
    Log.cbEvaluateErrorCodes->setChecked(true);
    TByteArray data(40);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    data[0] = data[1] = 0; // E_SUCCESS
    Log.LogPacket(MakePacket(0x41, data), true);
    const QString line = Log.LineText(0);
    ASSERT_TRUE(line.contains("(GET_GRASPING_STATE)") && line.contains("(E_SUCCESS)"));
    for (int width = 180; width <= 460; width += 7) {
        Log.resize(width, 300);
        QApplication::processEvents();
        const int columns = Log.RxMsgMemo->ColumnsPerRow();
        ASSERT_LT(columns, line.size());
        const int left = Log.RxMsgMemo->PointOf({0, 0}).x();
        const int charWidth = Log.RxMsgMemo->PointOf({0, 1}).x() - left;
        int rows = 1;
        for (int c = 0; c + 1 < line.size(); ++c) {
            const QPoint here = Log.RxMsgMemo->PointOf({0, c});
            const QPoint next = Log.RxMsgMemo->PointOf({0, c + 1});
            if (line[c] != ' ' && line[c + 1] != ' ')
                ASSERT_EQ(here.y(), next.y()) << "\"" << line.mid(c - 2, 5).toStdString() << "\" split at "
                                              << columns << " columns";
            if (next.y() != here.y()) {
                ++rows;
                EXPECT_EQ(next.x(), left) << "rows start at the left edge";
            }
            if (line[c] != ' ')
                EXPECT_LT((here.x() - left) / charWidth, columns) << "character beyond the row at column " << c;
        }
        EXPECT_EQ(rows, Log.RxMsgMemo->RowsOfLine(0));
        EXPECT_GT(rows, 1);
    }
    // A drag from a byte on the first row to a byte on the second selects
    // the text between.
    const std::vector<int> starts = TTextLineView::WrapRows(line, Log.RxMsgMemo->ColumnsPerRow());
    const int from = starts[1] - 3;
    const int to = starts[1] + 2;
    Drag(Log.RxMsgMemo->PointOf({0, from}) + QPoint(1, 3), Log.RxMsgMemo->PointOf({0, to}) + QPoint(1, 3));
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), line.mid(from, to - from));
    Log.PopupMenu1->hide();
}

TEST_F(CommLogMouseTest, NewLinesKeepTheViewAtTheEndUnlessScrolledUp)
{
    Log.resize(454, 200);
    for (int i = 0; i < 500; ++i)
        Log.LogPacket(MakePacket(0x43, {0x00, 0x00, 0x00, 0x00, 0x48, 0x41}), true);
    QApplication::processEvents();
    EXPECT_GT(Log.RxMsgMemo->Top().line, 0);
    const QPoint bottomLeft(1, Log.RxMsgMemo->viewport()->height() - 2);
    EXPECT_GE(Log.RxMsgMemo->PositionAt(bottomLeft).line, 495);

    // Scrolled up by the wheel, the view stays where it is.
    const auto before = Log.RxMsgMemo->Top();
    QWheelEvent wheel(QPointF(20, 20), Log.RxMsgMemo->viewport()->mapToGlobal(QPointF(20, 20)), {}, {0, 120},
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Log.RxMsgMemo->viewport(), &wheel);
    const auto scrolled = Log.RxMsgMemo->Top();
    EXPECT_LT(scrolled, before);
    Log.LogPacket(MakePacket(0x43, {0x00, 0x00}), true);
    QApplication::processEvents();
    EXPECT_EQ(Log.RxMsgMemo->Top(), scrolled);

    // Back at the end, a line taller than the view shows its last row at the
    // bottom.
    Log.RxMsgMemo->verticalScrollBar()->setValue(Log.RxMsgMemo->verticalScrollBar()->maximum());
    Log.LogPacket(MakePacket(0x21, TByteArray(2000, 0x5A)), false);
    QApplication::processEvents();
    EXPECT_EQ(Log.RxMsgMemo->Top().line, 501);
    EXPECT_GT(Log.RxMsgMemo->Top().row, 0);
    const auto last = Log.RxMsgMemo->PositionAt(bottomLeft);
    EXPECT_EQ(last.line, 501);
    EXPECT_GT(last.column, Log.LineLength(501) - Log.RxMsgMemo->ColumnsPerRow());
}

class CommLogSaveTest : public CommLogTest {
protected:
    QTemporaryDir Dir;
};

TEST_F(CommLogSaveTest, SaveWritesTheLinesAsShown)
{
    const QString path = Dir.filePath("log.txt");
    Log.SaveFileDialog = [&](QWidget*) { return path; };
    Log.cbShowIDDescr->setChecked(true);
    Log.LogPacket(MakePacket(0x22, {}), false);
    Log.LogPacket(MakePacket(0x22, {0x00, 0x00}), true);
    Log.btnSave->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "TX PACKET: ID=22h (STOP), Length=0\nRX PACKET: ID=22h (STOP), Length=2: 00 00\n");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(CommLogSaveTest, CancelledOrFailingSave)
{
    Log.LogPacket(MakePacket(0x22, {}), false);
    Log.SaveFileDialog = [](QWidget*) { return QString(); };
    Log.btnSave->click();
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(QDir(Dir.path()).isEmpty());

    Log.SaveFileDialog = [&](QWidget*) { return Dir.filePath("missing/folder/log.txt"); };
    Log.btnSave->click();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(Messages[0].text.startsWith("Error while saving the log: "));
    EXPECT_EQ(Log.PacketCount(), 1);
}

TEST_F(CommLogTest, SelectionsThatCutAByteAreWidenedToWholeBytes)
{
    Log.LogPacket(MakePacket(0x30, {0x00, 0x00, 0x80, 0x3F}), false);
    const QString line = Log.LineText(0);
    const int bytes = static_cast<int>(line.indexOf("00 00 80 3F"));
    // "0 00 80 3": half of the first and of the last byte.
    Log.RxMsgMemo->Select({0, bytes + 1}, {0, bytes + 10});
    Messages.clear();
    Log.miAsFloat->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].text, "Value is 1");
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), "00 00 80 3F") << "the widened selection is what was converted";

    // Text that is not a run of bytes keeps its selection and still fails.
    const int id = static_cast<int>(line.indexOf("ID=30h"));
    Log.RxMsgMemo->Select({0, id + 1}, {0, id + 4});
    Messages.clear();
    Log.miAsInteger->trigger();
    EXPECT_EQ(Log.RxMsgMemo->SelectedText(), "D=3");
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].text, "Error while converting selected data.");
}

TEST_F(CommLogSaveTest, DamagedCsvFilesNameTheirBadLineAndOpenNothing)
{
    const QString header = "time,direction,command byte,name,length,status,payload hex,decoded,ms since connect\n";
    const QString good = "2026-01-01T10:00:00.000+01:00,RX,0x43,GET_POS,6,E_SUCCESS,00 00 00 00 48 41,"
                         "\"No error; position 12.50 mm\",120\n";
    const struct {
        QString content;
        QString error;
    } cases[] = {
        {"", "line 1: empty file, not a packet log"},
        {"TX PACKET: ID=22h, Length=0\n", "line 1: not a packet log (the first line must be \"" + PacketLogHeader() + "\")"},
        {"time_s,position_mm,speed_mm_per_s,force_N\n", "line 1: a table of plot samples, not a packet log"},
        {header + good + "2026-01-01T10:00:00.000Z,RX,0x43,GET_POS,6,,00 00,\"open,5\n", "line 3: unbalanced quotes"},
        {header + "2026-01-01T10:00:00.000Z,RX,0x43,GET_POS,0,,,\n", "line 2: 8 fields, 9 expected"},
        {header + "yesterday,RX,0x43,GET_POS,0,,,,5\n", "line 2: time \"yesterday\" is not a date and time"},
        {header + "2026-01-01T10:00:00.000Z,IN,0x43,GET_POS,0,,,,5\n", "line 2: direction \"IN\" is neither TX nor RX"},
        {header + "2026-01-01T10:00:00.000Z,TX,0x143,X,0,,,,5\n",
         "line 2: command byte \"0x143\" is not of the form 0x00 to 0xFF"},
        {header + "2026-01-01T10:00:00.000Z,TX,0x43,X,-1,,,,5\n", "line 2: length \"-1\" is not a number from 0 to 65535"},
        {header + "2026-01-01T10:00:00.000Z,TX,0x43,X,2,,00 4G,,5\n", "line 2: payload byte \"4G\" is not two hex digits"},
        {header + "2026-01-01T10:00:00.000Z,TX,0x43,X,1,,00,,soon\n",
         "line 2: milliseconds since connect \"soon\" is not a number"},
    };
    const QString path = Dir.filePath("bad.csv");
    Log.OpenFileDialog = [&](QWidget*) { return path; };
    for (const auto& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.content.toUtf8());
        file.close();
        Messages.clear();
        Log.btnOpen->click();
        ASSERT_EQ(Messages.size(), 1u) << c.content.toStdString();
        EXPECT_EQ(Messages[0].kind, TMessageKind::Error);
        EXPECT_EQ(Messages[0].text, "Error while opening the log bad.csv: " + c.error);
        EXPECT_TRUE(Log.findChildren<TCommLog*>().isEmpty());
    }

    // The good row alone opens, with its time kept to the millisecond.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write((header + good).toUtf8());
    file.close();
    Messages.clear();
    Log.btnOpen->click();
    EXPECT_TRUE(Messages.empty());
    const QList<TCommLog*> opened = Log.findChildren<TCommLog*>();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0]->Record(0).wallMs, QDateTime::fromString("2026-01-01T09:00:00.000Z", Qt::ISODateWithMs).toMSecsSinceEpoch());
    opened[0]->cbTime->setChecked(true);
    opened[0]->cbDecoded->setChecked(true);
    EXPECT_EQ(opened[0]->LineText(0),
              "[     120 ms] [+        -- ms] RX PACKET: ID=43h, Length=6: 00 00 00 00 48 41 = No error; position 12.50 mm");
    // Readable: larger than the log window's first size, within the screen,
    // and its day in the title.
    const QRect room = opened[0]->screen()->availableGeometry();
    EXPECT_GT(opened[0]->width(), Log.width() * 3 / 2);
    EXPECT_GT(opened[0]->height(), Log.height() * 5 / 4);
    EXPECT_LE(opened[0]->width(), room.width());
    EXPECT_LE(opened[0]->height(), room.height());
    EXPECT_EQ(opened[0]->windowTitle(), "Communications log - bad.csv - 2026-01-01");
}

TEST_F(CommLogSaveTest, SavingWhileLinesAreHiddenAsksWhichLines)
{
    Log.LogPacket(MakePacket(0x43, {0x03, 0x64, 0x00}), false);
    Log.LogPacket(MakePacket(0x43, {0x00, 0x00, 0x00, 0x00, 0x48, 0x41}), true);
    Log.LogPacket(MakePacket(0x43, {0x00, 0x00, 0x00, 0x00, 0x20, 0x41}), true); // a report
    Log.LogPacket(MakePacket(0x22, {}), false);
    const QString path = Dir.filePath("log.txt");
    int dialogs = 0;
    Log.SaveFileDialog = [&](QWidget*) {
        ++dialogs;
        return path;
    };
    QStringList questions;
    TCommLog::TSaveScope answer = TCommLog::TSaveScope::Cancel;
    Log.SaveScopeQuestion = [&](QWidget*, const QString& text) {
        questions << text;
        return answer;
    };
    const auto saved = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    };

    // Nothing hidden: no question.
    Log.btnSave->click();
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(saved().size(), 4);

    Log.cbHideReports->setChecked(true);
    Log.edFilter->setText("43h");
    Log.btnSave->click();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], "2 of 4 lines are shown (the filter \"43h\" and \"Hide reports\" hides the others).\n"
                            "Save all lines or only the shown ones?");
    EXPECT_EQ(dialogs, 1) << "cancelled before the file dialog";

    answer = TCommLog::TSaveScope::ShownLines;
    Log.btnSave->click();
    EXPECT_EQ(saved(), QStringList({"TX PACKET: ID=43h, Length=3: 03 64 00", "RX PACKET: ID=43h, Length=6: 00 00 00 00 48 41"}));

    answer = TCommLog::TSaveScope::AllLines;
    Log.btnSave->click();
    EXPECT_EQ(saved().size(), 4);
    EXPECT_EQ(saved().last(), "TX PACKET: ID=22h, Length=0");
}

TEST_F(CommLogTest, TimesArePaddedSoLinesStayAligned)
{
    std::vector<TLogRecord> records(3);
    const qint64 micros[] = {5'000, 123'456'000, 98'765'432'000};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].packet = MakePacket(0x22, {});
        records[i].sinceConnectUs = micros[i];
        records[i].wallMs = 1'700'000'000'000 + static_cast<qint64>(i) * 3'600'000;
    }
    Log.AppendRecords(records);
    Log.cbTime->setChecked(true);
    for (const auto mode : {TCommLog::TTimeMode::SinceConnect, TCommLog::TTimeMode::WallClock}) {
        Log.SetTimeMode(mode);
        const qsizetype column = Log.LineText(0).indexOf("TX PACKET");
        for (int i = 1; i < Log.LineCount(); ++i)
            EXPECT_EQ(Log.LineText(i).indexOf("TX PACKET"), column) << Log.LineText(i).toStdString();
    }
    Log.SetTimeMode(TCommLog::TTimeMode::SinceConnect);
    EXPECT_EQ(Log.LineText(0), "[       5 ms] [+        -- ms] TX PACKET: ID=22h, Length=0");
    EXPECT_EQ(Log.LineText(2), "[98765432 ms] [+98641976.0 ms] TX PACKET: ID=22h, Length=0");
}

TEST_F(CommLogTest, IntervalColumnCountsFromTheLineAbove)
{
    std::vector<TLogRecord> records(4);
    const qint64 micros[] = {1'000, 13'345, 113'345, 2'000};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].packet = MakePacket(i == 2 ? 0x43 : 0x22, {});
        records[i].sinceConnectUs = micros[i];
        records[i].wallMs = 1'700'000'000'000 + static_cast<qint64>(i) * 250;
    }
    Log.AppendRecords(records);
    EXPECT_EQ(Log.LineText(1), "TX PACKET: ID=22h, Length=0") << "only with the time";
    Log.cbTime->setChecked(true);
    EXPECT_EQ(Log.LineText(0), "[       1 ms] [+        -- ms] TX PACKET: ID=22h, Length=0");
    EXPECT_EQ(Log.LineText(1), "[      13 ms] [+      12.3 ms] TX PACKET: ID=22h, Length=0");
    EXPECT_EQ(Log.LineText(2), "[     113 ms] [+     100.0 ms] TX PACKET: ID=43h, Length=0");
    // After a new connect the wall clock gives the interval.
    EXPECT_EQ(Log.LineText(3), "[       2 ms] [+     250.0 ms] TX PACKET: ID=22h, Length=0");
    // Hidden lines do not count: the interval is to the line shown above.
    Log.edFilter->setText("ID=22h");
    ASSERT_EQ(Log.LineCount(), 3);
    EXPECT_EQ(Log.LineText(2), "[       2 ms] [+     500.0 ms] TX PACKET: ID=22h, Length=0");
    EXPECT_EQ(Log.LineLength(2), Log.LineText(2).size());
}

TEST_F(CommLogTest, AnswersWithAFaultAreColouredForLightAndDarkPalettes)
{
    Log.LogPacket(MakePacket(0x21, {0x00, 0x00}), true);       // success
    Log.LogPacket(MakePacket(0x21, {0x1A, 0x00}), true);       // pending
    Log.LogPacket(MakePacket(0x21, {0x1D, 0x00}), true);       // axis blocked
    Log.LogPacket(MakePacket(0x21, {0x1D, 0x00, 0x01}), false); // sent: never a fault
    Log.LogPacket(MakePacket(0x21, {0x1D}), true);             // no status word
    QPalette light;
    light.setColor(QPalette::Window, Qt::white);
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Base, Qt::white);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    for (const QPalette& palette : {light, dark}) {
        Log.RxMsgMemo->setPalette(palette);
        for (int line : {0, 1, 3, 4})
            EXPECT_FALSE(Log.LineColor(line).isValid()) << line;
        const QColor fault = Log.LineColor(2);
        ASSERT_TRUE(fault.isValid());
        // Clearly apart from the background the text is drawn on.
        EXPECT_GT(std::abs(fault.lightness() - palette.color(QPalette::Base).lightness()), 60);
        EXPECT_GT(fault.hslSaturation(), 150) << "a red, not a grey";
    }
}

TEST_F(CommLogTest, CopyPutsTheSelectedLinesOnTheClipboardAsTextAndCsv)
{
    Log.LogPacket(MakePacket(0x22, {}), false);
    Log.LogPacket(MakePacket(0x22, {0x00, 0x00}), true);
    Log.LogPacket(MakePacket(0x43, {0x03, 0x64, 0x00}), false);
    Log.cbShowIDDescr->setChecked(true);
    QGuiApplication::clipboard()->clear();
    Log.miCopyLines->trigger();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty()) << "nothing selected, nothing copied";

    // From the middle of line 1 to the middle of line 2: both lines whole.
    Log.RxMsgMemo->Select({2, 5}, {1, 3});
    Log.miCopyLines->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "RX PACKET: ID=22h (STOP), Length=2: 00 00\n"
              "TX PACKET: ID=43h (GET_POS), Length=3: 03 64 00\n");
    Log.miCopyCsv->trigger();
    const QStringList rows = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], PacketLogHeader());
    EXPECT_EQ(rows[1], PacketLogRow(Log.Record(1)));
    EXPECT_EQ(rows[2], PacketLogRow(Log.Record(2)));
    EXPECT_TRUE(rows[1].contains(",RX,0x22,")) << rows[1].toStdString();
}

TEST(CommLogGlobal, FirstWindowIsTheProgramsLogUntilDestroyed)
{
    ASSERT_EQ(CommLog, nullptr);
    {
        TCommLog first;
        TCommLog second;
        EXPECT_EQ(CommLog, &first);
    }
    EXPECT_EQ(CommLog, nullptr);
}

} // namespace
