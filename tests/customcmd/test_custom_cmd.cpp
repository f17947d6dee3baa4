// The command editor window without a gripper on the line: its start state,
// the packet decoding of typed entries, invalid input, the known-ID menu,
// the history, the Enter key, automatic sending and the layout.
#include "CustomCmdForm.h"

#include "ElidedLabel.h"
#include "Framing.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IntegerEdit.h"
#include "RollPanel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString PayloadHint = QStringLiteral(
    "Enter transmit data using the following formats: integer and hex values: '15', '0x0F' or '$0F', "
    "floating point values: '10.4f' or as strings: '\"Hello World\"')");

// The checksum cell of a frame, computed by the framing code.
QString ChecksumOf(uint8_t command, const TByteArray& payload)
{
    const TByteArray frame = BuildFrame(command, payload.data(), payload.size());
    return QString::asprintf("%.2X %.2X", frame[frame.size() - 2], frame[frame.size() - 1]);
}

QStringList LogLines(const TCustomCmd& editor)
{
    return editor.Log->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList History(const TCustomCmd& editor)
{
    QStringList items;
    for (int i = 0; i < editor.edPayload->count(); ++i)
        items << editor.edPayload->itemText(i);
    return items;
}

class CustomCmdTest : public testing::Test {
protected:
    void Type(const QString& id, const QString& payload)
    {
        Editor.edID->setText(id);
        Editor.edPayload->setEditText(payload);
    }

    QColor PayloadTextColor() const { return Editor.edPayload->lineEdit()->palette().color(QPalette::Text); }

    TCustomCmd Editor;
};

TEST_F(CustomCmdTest, StartsReadyWithCommandZeroAndAnEmptyPayload)
{
    EXPECT_EQ(Editor.windowTitle(), QStringLiteral("Custom Command Editor"));
    EXPECT_EQ(Editor.edID->text(), QStringLiteral("0x00"));
    EXPECT_EQ(Editor.lbId->text(), QStringLiteral("00"));
    EXPECT_EQ(Editor.lbLength->text(), QStringLiteral("00 00"));
    EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(Editor.lbChecksum->text(), ChecksumOf(0, {}));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("0 bytes"));
    EXPECT_EQ(Editor.edPayload->toolTip(), PayloadHint);
    EXPECT_TRUE(Editor.btnSend->isEnabled());
    EXPECT_TRUE(Editor.cbAutosend->isEnabled());
    EXPECT_FALSE(Editor.cbAutosend->isChecked());
    EXPECT_FALSE(Editor.AutosendTimer->isActive());
    EXPECT_EQ(Editor.AutosendIntervalEdit->value(), 50);
    EXPECT_EQ(Editor.AutosendIntervalEdit->minimum(), 50);
    EXPECT_EQ(Editor.AutosendIntervalEdit->maximum(), 10000);
    EXPECT_EQ(Editor.RollPanel2->Caption(), QStringLiteral("Command Results"));
    EXPECT_EQ(Editor.RollPanel2->State(), rpExpanded);
}

struct TDecodingCase {
    const char* id;
    const char* payload;
    const char* lbId;
    const char* lbLength;
    const char* lbPayload;
    const char* lbChecksum;
    const char* size;
};

void PrintTo(const TDecodingCase& c, std::ostream* os) { *os << c.id << " [" << c.payload << ']'; }

class CustomCmdDecoding : public CustomCmdTest, public testing::WithParamInterface<TDecodingCase> {};

TEST_P(CustomCmdDecoding, ShowsThePacketOnTheWire)
{
    const TDecodingCase& c = GetParam();
    Type(QString::fromUtf8(c.id), QString::fromUtf8(c.payload));
    EXPECT_EQ(Editor.lbId->text(), QString::fromUtf8(c.lbId));
    EXPECT_EQ(Editor.lbLength->text(), QString::fromUtf8(c.lbLength));
    EXPECT_EQ(Editor.lbPayload->text(), QString::fromUtf8(c.lbPayload));
    EXPECT_EQ(Editor.lbChecksum->text(), QString::fromUtf8(c.lbChecksum));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QString::fromUtf8(c.size));
    EXPECT_TRUE(Editor.btnSend->isEnabled());
}

// Checksums are those of the protocol's worked frames.
INSTANTIATE_TEST_SUITE_P(
    WorkedFrames, CustomCmdDecoding,
    testing::Values(TDecodingCase{"0x22", "", "22", "00 00", "[n/a]", "0E 76", "0 bytes"},
                    TDecodingCase{"64", "   ", "40", "00 00", "[n/a]", "5B EB", "0 bytes"},
                    TDecodingCase{"32", "0", "20", "01 00", "00 ", "8F 83", "1 bytes"},
                    TDecodingCase{"$24", "\"ack\"", "24", "03 00", "61 63 6B ", "DC B9", "3 bytes"},
                    TDecodingCase{"x24", "0x61 $63 107", "24", "03 00", "61 63 6B ", "DC B9", "3 bytes"},
                    TDecodingCase{"0X21", "0 10f 50f", "21", "09 00", "00 00 00 20 41 00 00 48 42 ", "F2 B1",
                                  "9 bytes"}));

TEST_F(CustomCmdTest, LengthShowsLowByteFirst)
{
    Type(QStringLiteral("80"), QStringLiteral("1 2 3 4 5"));
    EXPECT_EQ(Editor.lbLength->text(), QStringLiteral("05 00"));
    EXPECT_EQ(Editor.lbChecksum->text(), ChecksumOf(80, {1, 2, 3, 4, 5}));

    const QString text300 = QLatin1Char('"') + QString(300, QLatin1Char('z')) + QLatin1Char('"');
    Editor.edPayload->setEditText(text300);
    EXPECT_EQ(Editor.lbLength->text(), QStringLiteral("2C 01"));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("300 bytes"));
    EXPECT_EQ(Editor.lbChecksum->text(), ChecksumOf(80, TByteArray(300, 'z')));
}

TEST_F(CustomCmdTest, LongTextsAreKeptWholeAndOversizedPayloadsRefused)
{
    const QString text40k = QLatin1Char('"') + QString(40000, QLatin1Char('a')) + QLatin1Char('"');
    Editor.edPayload->setEditText(text40k);
    EXPECT_EQ(Editor.edPayload->currentText(), text40k);
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("40000 bytes"));
    EXPECT_EQ(Editor.lbLength->text(), QStringLiteral("40 9C"));

    Editor.edPayload->setEditText(QLatin1Char('"') + QString(65536, QLatin1Char('a')) + QLatin1Char('"'));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("0 bytes"));
    EXPECT_FALSE(Editor.btnSend->isEnabled());
}

TEST_F(CustomCmdTest, BadPayloadIsMarkedAndBlocksSending)
{
    Type(QStringLiteral("0x21"), QStringLiteral("1 2 256"));
    // The parse error text, then the element that failed.
    EXPECT_EQ(Editor.edPayload->toolTip(),
              QStringLiteral("Error while parsing input\nCannot read \"256\": use 15, 0x0F, $0F, 10.4f or \"text\"."));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("0 bytes"));
    EXPECT_EQ(PayloadTextColor(), QColor(Qt::red));
    EXPECT_TRUE(Editor.Payload().empty());
    EXPECT_EQ(Editor.lbId->text(), QStringLiteral("21"));
    EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(Editor.lbChecksum->text(), ChecksumOf(0x21, {}));
    EXPECT_FALSE(Editor.btnSend->isEnabled());
    EXPECT_FALSE(Editor.cbAutosend->isEnabled());

    Editor.edPayload->setEditText(QStringLiteral("1 2 255"));
    EXPECT_EQ(Editor.edPayload->toolTip(), PayloadHint);
    EXPECT_NE(PayloadTextColor(), QColor(Qt::red));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("3 bytes"));
    EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("01 02 FF "));
    EXPECT_TRUE(Editor.btnSend->isEnabled());
    EXPECT_TRUE(Editor.cbAutosend->isEnabled());
}

TEST_F(CustomCmdTest, BadCommandByteBlocksSendingAndFreezesTheDecoding)
{
    Type(QStringLiteral("0x21"), QStringLiteral("1 2"));
    Editor.edID->setText(QStringLiteral("256"));
    EXPECT_FALSE(Editor.btnSend->isEnabled());
    EXPECT_FALSE(Editor.cbAutosend->isEnabled());
    EXPECT_EQ(Editor.edID->palette().color(QPalette::Text), QColor(Qt::red));

    Editor.edPayload->setEditText(QStringLiteral("7 7 7"));
    EXPECT_EQ(Editor.lbId->text(), QStringLiteral("21"));
    EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("01 02 "));
    EXPECT_EQ(Editor.lbPayloadSize->text(), QStringLiteral("2 bytes"));

    for (const char* text : {"$21", "0x21", "33"}) {
        Editor.edID->setText(QStringLiteral("-1"));
        Editor.edID->setText(QString::fromLatin1(text));
        EXPECT_EQ(Editor.CommandByte(), 0x21) << text;
        EXPECT_EQ(Editor.lbId->text(), QStringLiteral("21")) << text;
        EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("07 07 07 ")) << text;
        EXPECT_TRUE(Editor.btnSend->isEnabled()) << text;
        EXPECT_NE(Editor.edID->palette().color(QPalette::Text), QColor(Qt::red)) << text;
    }
}

TEST_F(CustomCmdTest, KnownIdMenuListsTheCommandTableAndWritesTheByte)
{
    const QList<QAction*> items = Editor.pmKnownIDs->actions();
    ASSERT_EQ(items.size(), CommandCount);
    for (int i = 0; i < CommandCount; ++i) {
        EXPECT_EQ(items[i]->text(), QString::fromLatin1(CommandIDs[i].name));
        EXPECT_EQ(items[i]->data().toInt(), CommandIDs[i].id);
    }
    EXPECT_EQ(items.front()->text(), QStringLiteral("HOMING"));
    EXPECT_EQ(items.back()->text(), QStringLiteral("GET_SYSTEM_LIMITS"));

    QAction* gotoItem = items[1];
    ASSERT_EQ(gotoItem->text(), QStringLiteral("GOTO"));
    gotoItem->trigger();
    EXPECT_EQ(Editor.edID->text(), QStringLiteral("33"));
    EXPECT_EQ(Editor.CommandByte(), 0x21);
    EXPECT_EQ(Editor.lbId->text(), QStringLiteral("21"));
    EXPECT_EQ(Editor.lbChecksum->text(), ChecksumOf(0x21, {}));
}

TEST_F(CustomCmdTest, LongPayloadIsCutWithAnEllipsis)
{
    Editor.show();
    Editor.edPayload->setEditText(QLatin1Char('"') + QString(400, QLatin1Char('A')) + QLatin1Char('"'));
    const QStringList lines = Editor.lbPayload->VisibleLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.back().endsWith(QChar(0x2026)));
    EXPECT_LT(lines.join(QString()).size(), 400 * 3);
    EXPECT_EQ(Editor.lbPayload->text().size(), 400 * 3);

    Editor.edPayload->setEditText(QStringLiteral("1 2"));
    EXPECT_EQ(Editor.lbPayload->VisibleLines(), QStringList{QStringLiteral("01 02 ")});
}

TEST_F(CustomCmdTest, SendWithoutGripperDoesNothing)
{
    Type(QStringLiteral("0x21"), QStringLiteral("1"));
    Editor.btnSend->click();

    auto* gripper = new THXT;
    Editor.SetGripper(gripper);
    delete gripper;
    EXPECT_EQ(Editor.Gripper(), nullptr);
    Editor.btnSend->click();

    EXPECT_TRUE(LogLines(Editor).isEmpty());
    EXPECT_EQ(Editor.edPayload->count(), 0);
}

// Sends through a gripper object that is not connected: every send answers
// at once with "not opened".
class CustomCmdOfflineTest : public CustomCmdTest {
protected:
    void SetUp() override { Editor.SetGripper(&Gripper); }

    QString NotOpenedLine(const char* hex) const
    {
        return QStringLiteral("Sending Command %1h: %2")
            .arg(QString::fromLatin1(hex), QString::fromStdString(StatusText(E_NOT_OPENED)));
    }

    THXT Gripper;
};

TEST_F(CustomCmdOfflineTest, SendWritesItsStatusAndKeepsTheTextInTheHistory)
{
    Type(QStringLiteral("0x21"), QStringLiteral("  1   2 "));
    Editor.btnSend->click();
    EXPECT_EQ(LogLines(Editor), QStringList{NotOpenedLine("21")});
    EXPECT_EQ(History(Editor), QStringList{QStringLiteral("1   2")});
    // Adding the first entry does not replace the text being edited.
    EXPECT_EQ(Editor.edPayload->currentText(), QStringLiteral("  1   2 "));

    Editor.btnSend->click();
    Editor.edPayload->setEditText(QStringLiteral("\"x\""));
    Editor.btnSend->click();
    Editor.edPayload->setEditText(QStringLiteral("1   2"));
    Editor.btnSend->click();
    Editor.edPayload->setEditText(QString());
    Editor.btnSend->click();
    EXPECT_EQ(History(Editor), (QStringList{QStringLiteral("1   2"), QStringLiteral("\"x\"")}));
    EXPECT_EQ(LogLines(Editor).size(), 5);
    EXPECT_EQ(Editor.edPayload->currentText(), QString());
}

TEST_F(CustomCmdOfflineTest, ChoosingAHistoryEntryMakesItThePayload)
{
    Type(QStringLiteral("1"), QStringLiteral("9 8"));
    Editor.btnSend->click();
    Editor.edPayload->setEditText(QStringLiteral("\"q\""));
    Editor.btnSend->click();
    Editor.edPayload->setCurrentIndex(0);
    EXPECT_EQ(Editor.Payload(), (TByteArray{9, 8}));
    EXPECT_EQ(Editor.lbPayload->text(), QStringLiteral("09 08 "));
}

TEST_F(CustomCmdOfflineTest, TypingIsNotCompletedFromTheHistory)
{
    Type(QStringLiteral("1"), QStringLiteral("1 2"));
    Editor.btnSend->click();
    ASSERT_EQ(Editor.edPayload->count(), 1);
    Editor.edPayload->clearEditText();
    Editor.show();
    Editor.activateWindow();
    Editor.edPayload->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Editor));
    QTest::keyClicks(Editor.edPayload, QStringLiteral("1"));
    EXPECT_EQ(Editor.edPayload->currentText(), QStringLiteral("1"));
    EXPECT_EQ(Editor.Payload(), TByteArray{1});
}

TEST_F(CustomCmdOfflineTest, EnterPressesSendOnlyWhileItIsEnabled)
{
    Type(QStringLiteral("0x40"), QStringLiteral("1"));
    QTest::keyClick(Editor.edPayload->lineEdit(), Qt::Key_Return);
    QTest::keyClick(Editor.edID, Qt::Key_Enter);
    EXPECT_EQ(LogLines(Editor), (QStringList{NotOpenedLine("40"), NotOpenedLine("40")}));

    Editor.edPayload->setEditText(QStringLiteral("1f"));
    Editor.edPayload->setEditText(QStringLiteral("f"));
    QTest::keyClick(Editor.edPayload->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(LogLines(Editor).size(), 2);
}

TEST_F(CustomCmdOfflineTest, AutoSendTicksAtTheChosenIntervalUntilUnchecked)
{
    Type(QStringLiteral("0x22"), QString());
    Editor.AutosendIntervalEdit->setValue(60);
    Editor.cbAutosend->setChecked(true);
    EXPECT_TRUE(Editor.AutosendTimer->isActive());
    EXPECT_EQ(Editor.AutosendTimer->interval(), 60);
    EXPECT_FALSE(Editor.btnSend->isEnabled());
    EXPECT_FALSE(Editor.AutosendIntervalEdit->isEnabled());
    // The first send comes one interval after checking, not at once.
    EXPECT_TRUE(LogLines(Editor).isEmpty());

    EXPECT_TRUE(QTest::qWaitFor([&] { return LogLines(Editor).size() >= 3; }, 5000));
    for (const QString& line : LogLines(Editor))
        EXPECT_EQ(line, NotOpenedLine("22"));

    // An edit keeps Send disabled while automatic sending runs.
    Editor.edPayload->setEditText(QStringLiteral("5"));
    EXPECT_TRUE(Editor.AutosendTimer->isActive());
    EXPECT_FALSE(Editor.btnSend->isEnabled());

    Editor.cbAutosend->setChecked(false);
    EXPECT_FALSE(Editor.AutosendTimer->isActive());
    EXPECT_TRUE(Editor.btnSend->isEnabled());
    EXPECT_TRUE(Editor.AutosendIntervalEdit->isEnabled());
}

TEST_F(CustomCmdOfflineTest, InvalidEditStopsAutoSend)
{
    Editor.cbAutosend->setChecked(true);
    ASSERT_TRUE(Editor.AutosendTimer->isActive());
    Editor.edPayload->setEditText(QStringLiteral("\"open"));
    EXPECT_FALSE(Editor.cbAutosend->isChecked());
    EXPECT_FALSE(Editor.AutosendTimer->isActive());
    EXPECT_TRUE(Editor.AutosendIntervalEdit->isEnabled());

    Editor.edPayload->setEditText(QStringLiteral("\"open\""));
    Editor.cbAutosend->setChecked(true);
    Editor.edID->setText(QStringLiteral("0x1FF"));
    EXPECT_FALSE(Editor.cbAutosend->isChecked());
    EXPECT_FALSE(Editor.AutosendTimer->isActive());
    QTest::qWait(150);
    EXPECT_TRUE(LogLines(Editor).isEmpty());
}

TEST_F(CustomCmdTest, WindowFollowsTheResultsPanelAndTheMemoFillsIt)
{
    Editor.RollPanel2->SetAnimate(false);
    Editor.show();
    Editor.resize(700, Editor.height());
    QApplication::processEvents();

    const QRect memo = Editor.Log->geometry();
    EXPECT_EQ(memo.topLeft(), QPoint(8, 32));
    EXPECT_EQ(memo.width(), Editor.RollPanel2->ClientWidth() - 8);
    EXPECT_EQ(memo.height(), Editor.RollPanel2->ClientHeight() - 16);
    EXPECT_EQ(Editor.edPayload->geometry().right() + 1,
              Editor.pnCmdEntry->contentsRect().right() + 1 - 10);
    EXPECT_GE(Editor.minimumWidth(), 280);

    const int expandedHeight = Editor.height();
    const int panelHeight = Editor.RollPanel2->height();
    Editor.RollPanel2->SetState(rpCollapsed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Editor.height() < expandedHeight; }, 2000));
    EXPECT_EQ(expandedHeight - Editor.height(), panelHeight - Editor.RollPanel2->height());
}

TEST_F(CustomCmdTest, DecodingHeadingsStandInOneLine)
{
    Editor.show();
    Editor.resize(700, Editor.height());
    Editor.edPayload->setEditText(QStringLiteral("1 2 3"));
    QApplication::processEvents();

    std::map<QString, int> tops;
    const QStringList headings{QStringLiteral("Preamble"), QStringLiteral("ID"), QStringLiteral("Length"),
                               QStringLiteral("Payload"), QStringLiteral("Checksum")};
    for (QLabel* label : Editor.pnDecodedPktSect->findChildren<QLabel*>()) {
        if (headings.contains(label->text()))
            tops[label->text()] = label->mapTo(Editor.pnDecodedPktSect, QPoint(0, 0)).y();
    }
    ASSERT_EQ(tops.size(), 5u);
    for (const auto& [heading, top] : tops)
        EXPECT_EQ(top, tops[QStringLiteral("Preamble")]) << heading.toStdString();
    // The values start in one line too.
    const int idTop = Editor.lbId->mapTo(Editor.pnDecodedPktSect, QPoint(0, 0)).y();
    EXPECT_EQ(Editor.lbPayload->mapTo(Editor.pnDecodedPktSect, QPoint(0, 0)).y(), idTop);
    EXPECT_EQ(Editor.lbChecksum->mapTo(Editor.pnDecodedPktSect, QPoint(0, 0)).y(), idTop);
}

} // namespace
